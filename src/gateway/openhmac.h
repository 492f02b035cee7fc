#pragma once

#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>
#include <optional>

namespace powerlog::hmac {

// The HMAC open handshake of newer gateways. After the open frame the gateway names a hash
// ("*98*2##" SHA-256, "*98*1##" SHA-1), the client acknowledges, the gateway sends its random
// Ra, the client answers with its own Rb and a digest that proves it knows the password, and
// the gateway proves the same with a digest of its own. Every hex string travels as decimal
// digit pairs, one pair per hex digit ("a" is "10"). All hex strings here are lower case.
enum class Algorithm { Sha1, Sha256 };

inline const QString kSha1Request = QStringLiteral("*98*1##");
inline const QString kSha256Request = QStringLiteral("*98*2##");

// The algorithm a gateway's frame asks for, or nothing when it is not such a request.
std::optional<Algorithm> requestedAlgorithm(QLatin1StringView frame);
// Hex digits of one digest: 40 for SHA-1, 64 for SHA-256. Ra and Rb have the same length.
int hexLength(Algorithm algorithm);
// "SHA-1" or "SHA-256".
QString algorithmName(Algorithm algorithm);

// Hex to digit pairs: "0" -> "00", "a" -> "10", "f" -> "15". Upper-case hex is taken too.
// Characters that are not hex digits give an empty result.
QString toDigits(QStringView hex);
// Digit pairs back to lower-case hex; nothing for an odd length, a character that is not a
// digit, or a pair above 15.
std::optional<QString> fromDigits(QStringView digits);

// hash(text) as lower-case hex.
QString hashHex(Algorithm algorithm, QByteArrayView text);
// The client's proof: hash(Ra + Rb + A + B + hash(password)).
QString clientDigest(Algorithm algorithm, const QString& ra, const QString& rb,
                     const QString& password);
// The gateway's proof: hash(Ra + Rb + hash(password)).
QString gatewayDigest(Algorithm algorithm, const QString& ra, const QString& rb,
                      const QString& password);

// "*#" + digits(Rb) + "*" + digits(client digest) + "##".
QString replyFrame(const QString& rb, const QString& digest);
// A random lower-case hex string of `length` digits from the system's cryptographic source.
QString randomHex(int length);
// Whether two strings are equal, in a time that depends on their lengths only.
bool equalInConstantTime(QStringView a, QStringView b);

// The handshake from the gateway's Ra on, without the socket: our answer to Ra and the check of
// the gateway's proof.
class Handshake
{
public:
    Handshake(Algorithm algorithm, QString password);

    Algorithm algorithm() const { return m_algorithm; }

    // The frame that answers the gateway's Ra frame ("*#" + digit pairs + "##"): our Rb and
    // the client's digest. Nothing, and nothing is to be sent, when the frame is no such nonce
    // or its Ra is not hexLength() hex digits. `rb` is our random string: a new one when empty.
    std::optional<QString> answerRa(QLatin1StringView frame, const QString& rb = {});
    // Whether the gateway's frame proves that it knows the password: "*#" + the digit pairs of
    // gatewayDigest() + "##". Never before answerRa() gave an answer.
    bool confirms(QLatin1StringView frame) const;

private:
    Algorithm m_algorithm;
    QString m_password;
    QString m_ra; // the gateway's random hex, once answered
    QString m_rb; // ours
};

} // namespace powerlog::hmac
