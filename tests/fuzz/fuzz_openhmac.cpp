// The HMAC open handshake on arbitrary gateway frames. The first byte picks the hash and the
// password's length; then come the password, our Rb (turned into hex) and the gateway's frames.
//  - requestedAlgorithm names a hash for its two frames only;
//  - toDigits and fromDigits give each other back, and fromDigits refuses what is not pairs
//    00..15;
//  - Ra: an answer only for a nonce frame with a Ra of the hash's length, and the answer is
//    Rb and the client's digest as digit pairs;
//  - confirmation: only the gateway's own digest is accepted, never a frame that differs from it
//    (with one digit changed, cut or lengthened), nor anything before Ra was answered.

#include "fuzzsupport.h"

#include "gateway/frames.h"
#include "gateway/openhmac.h"

#include <algorithm>

using namespace powerlog;
using namespace powerlog::hmac;

namespace {

constexpr char kHex[] = "0123456789abcdef";

QString hexFrom(QByteArrayView bytes, int length)
{
    QString hex;
    for (int i = 0; i < length; ++i)
        hex += QLatin1Char(kHex[bytes.isEmpty() ? i % 16 : bytes[i % bytes.size()] & 0x0F]);
    return hex;
}

QLatin1StringView view(const QByteArray& bytes)
{
    return QLatin1StringView(bytes);
}

QByteArray nonceFrame(const QString& hex)
{
    return (QStringLiteral("*#") + toDigits(hex) + QStringLiteral("##")).toLatin1();
}

void checkDigits(const QString& text)
{
    const std::optional<QString> hex = fromDigits(text);
    bool pairs = text.size() % 2 == 0;
    for (qsizetype i = 0; pairs && i < text.size(); i += 2) {
        const QChar high = text.at(i), low = text.at(i + 1);
        pairs = high >= u'0' && high <= u'1' && low >= u'0' && low <= u'9' &&
                (high == u'0' || low <= u'5');
    }
    FUZZ_CHECK_DETAIL(hex.has_value() == pairs, text);
    if (hex) {
        FUZZ_CHECK(hex->size() * 2 == text.size());
        FUZZ_CHECK(toDigits(*hex) == text);
    }
    const QString digits = toDigits(text);
    const bool isHex = std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    });
    FUZZ_CHECK(digits.isEmpty() == (!isHex || text.isEmpty()));
    if (isHex)
        FUZZ_CHECK(fromDigits(digits) == text.toLower());
}

void checkRequest(QLatin1StringView frame)
{
    const std::optional<Algorithm> algorithm = requestedAlgorithm(frame);
    if (frame == kSha256Request)
        FUZZ_CHECK(algorithm == Algorithm::Sha256);
    else if (frame == kSha1Request)
        FUZZ_CHECK(algorithm == Algorithm::Sha1);
    else
        FUZZ_CHECK(!algorithm);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const Algorithm algorithm = data[0] & 1 ? Algorithm::Sha1 : Algorithm::Sha256;
    const int length = hexLength(algorithm);
    const qsizetype passwordSize = std::min<qsizetype>((data[0] >> 1) % 16, qsizetype(size) - 1);
    const QByteArrayView rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString password = QString::fromLatin1(rest.first(passwordSize));
    const QByteArrayView gateway = rest.sliced(passwordSize);
    const QString rb = hexFrom(gateway.first(std::min<qsizetype>(gateway.size(), 8)), length);

    // The gateway's frames, split at blanks: the Ra frame, then its confirmation.
    const QList<QByteArray> parts = gateway.toByteArray().split(' ');
    const QByteArray raFrame = parts.value(0);
    const QByteArray confirmation = parts.value(1);
    const QString text = QString::fromLatin1(raFrame);
    checkRequest(view(raFrame));
    checkDigits(text);

    Handshake handshake(algorithm, password);
    FUZZ_CHECK(!handshake.confirms(view(confirmation)));
    const std::optional<QString> reply = handshake.answerRa(view(raFrame), rb);
    const bool nonce = frames::classifyFrame(view(raFrame)) == frames::FrameKind::Nonce;
    const std::optional<QString> ra =
        nonce ? fromDigits(text.mid(2, text.size() - 4)) : std::optional<QString>();
    FUZZ_CHECK(reply.has_value() == (ra && ra->size() == length));
    if (!reply) {
        FUZZ_CHECK(!handshake.confirms(view(confirmation)));
        return 0;
    }
    FUZZ_CHECK(*reply == QStringLiteral("*#") + toDigits(rb) + QLatin1Char('*') +
                             toDigits(clientDigest(algorithm, *ra, rb, password)) +
                             QStringLiteral("##"));

    // Only the gateway's own digest opens the session.
    const QByteArray proof = nonceFrame(gatewayDigest(algorithm, *ra, rb, password));
    FUZZ_CHECK(handshake.confirms(view(proof)));
    FUZZ_CHECK(handshake.confirms(view(confirmation)) == (confirmation == proof));
    if (!confirmation.isEmpty()) {
        QByteArray changed = proof;
        const qsizetype at = 2 + uchar(confirmation[0]) % (proof.size() - 4);
        changed[at] = changed[at] == '0' ? '1' : '0';
        FUZZ_CHECK(!handshake.confirms(view(changed)));
        FUZZ_CHECK(!handshake.confirms(view(proof.left(proof.size() - 4) + "##")));
        FUZZ_CHECK(!handshake.confirms(view(proof.left(proof.size() - 2) + "00##")));
    }
    // The digest of another password, or of the client, is no proof.
    FUZZ_CHECK(!handshake.confirms(
        view(nonceFrame(gatewayDigest(algorithm, *ra, rb, password + QLatin1Char('x'))))));
    FUZZ_CHECK(!handshake.confirms(view(nonceFrame(clientDigest(algorithm, *ra, rb, password)))));
    return 0;
}
