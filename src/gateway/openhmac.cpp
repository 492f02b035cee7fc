#include "gateway/openhmac.h"

#include "gateway/frames.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace powerlog::hmac {

namespace {

// The two constants of the client's proof, as the protocol writes them.
constexpr QLatin1StringView kA("736F70653E");
constexpr QLatin1StringView kB("636F70653E");

constexpr char kHex[] = "0123456789abcdef";

QCryptographicHash::Algorithm qtAlgorithm(Algorithm algorithm)
{
    return algorithm == Algorithm::Sha256 ? QCryptographicHash::Sha256 : QCryptographicHash::Sha1;
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The hex string a nonce frame "*#" + digit pairs + "##" carries; nothing for any other frame.
std::optional<QString> nonceHex(QLatin1StringView frame)
{
    if (frames::classifyFrame(frame) != frames::FrameKind::Nonce)
        return std::nullopt;
    return fromDigits(QString(frame.sliced(2, frame.size() - 4)));
}

} // namespace

std::optional<Algorithm> requestedAlgorithm(QLatin1StringView frame)
{
    if (frame == kSha256Request)
        return Algorithm::Sha256;
    if (frame == kSha1Request)
        return Algorithm::Sha1;
    return std::nullopt;
}

int hexLength(Algorithm algorithm)
{
    return algorithm == Algorithm::Sha256 ? 64 : 40;
}

QString algorithmName(Algorithm algorithm)
{
    return algorithm == Algorithm::Sha256 ? QStringLiteral("SHA-256") : QStringLiteral("SHA-1");
}

QString toDigits(QStringView hex)
{
    QString digits;
    digits.reserve(hex.size() * 2);
    for (QChar c : hex) {
        const int value = hexValue(c);
        if (value < 0)
            return {};
        digits.append(QChar(u'0' + value / 10));
        digits.append(QChar(u'0' + value % 10));
    }
    return digits;
}

std::optional<QString> fromDigits(QStringView digits)
{
    if (digits.size() % 2 != 0)
        return std::nullopt;
    QString hex;
    hex.reserve(digits.size() / 2);
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        const int high = digits[i].unicode() - u'0';
        const int low = digits[i + 1].unicode() - u'0';
        if (high < 0 || high > 9 || low < 0 || low > 9)
            return std::nullopt;
        const int value = high * 10 + low;
        if (value > 15)
            return std::nullopt;
        hex.append(QLatin1Char(kHex[value]));
    }
    return hex;
}

QString hashHex(Algorithm algorithm, QByteArrayView text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text, qtAlgorithm(algorithm)).toHex());
}

QString clientDigest(Algorithm algorithm, const QString& ra, const QString& rb,
                     const QString& password)
{
    const QString kab = hashHex(algorithm, password.toUtf8());
    return hashHex(algorithm, (ra + rb + kA + kB + kab).toLatin1());
}

QString gatewayDigest(Algorithm algorithm, const QString& ra, const QString& rb,
                      const QString& password)
{
    const QString kab = hashHex(algorithm, password.toUtf8());
    return hashHex(algorithm, (ra + rb + kab).toLatin1());
}

QString replyFrame(const QString& rb, const QString& digest)
{
    return QStringLiteral("*#") + toDigits(rb) + QLatin1Char('*') + toDigits(digest) +
           QStringLiteral("##");
}

QString randomHex(int length)
{
    QString hex;
    hex.reserve(length);
    QRandomGenerator* random = QRandomGenerator::system();
    for (int i = 0; i < length; ++i)
        hex.append(QLatin1Char(kHex[random->bounded(16)]));
    return hex;
}

bool equalInConstantTime(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    unsigned difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= unsigned(a[i].unicode() ^ b[i].unicode());
    return difference == 0;
}

Handshake::Handshake(Algorithm algorithm, QString password)
    : m_algorithm(algorithm), m_password(std::move(password))
{
}

std::optional<QString> Handshake::answerRa(QLatin1StringView frame, const QString& rb)
{
    // A random string we cannot take is not answered with a proof.
    const std::optional<QString> ra = nonceHex(frame);
    if (!ra || ra->size() != hexLength(m_algorithm))
        return std::nullopt;
    m_ra = *ra;
    m_rb = rb.isEmpty() ? randomHex(hexLength(m_algorithm)) : rb;
    return replyFrame(m_rb, clientDigest(m_algorithm, m_ra, m_rb, m_password));
}

bool Handshake::confirms(QLatin1StringView frame) const
{
    if (m_ra.isEmpty())
        return false;
    const std::optional<QString> given = nonceHex(frame);
    return given && equalInConstantTime(*given, gatewayDigest(m_algorithm, m_ra, m_rb, m_password));
}

} // namespace powerlog::hmac
