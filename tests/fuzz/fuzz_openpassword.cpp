// The numeric open password on arbitrary nonces. The first four bytes are the password, the rest
// is the gateway's frame (Latin-1).
//  - nonceReply answers exactly the frames "*#" + digits + "##", and its answer is such a frame
//    too, holding the value a plain step-by-step computation gives;
//  - openPasswordValue on any text is that computation on its digits, everything else skipped;
//  - openPasswordReply leaves the nonce without '*', '#' and '9';
//  - numericPassword takes digits (blanks around them dropped) below 2^32, nothing else.

#include "fuzzsupport.h"

#include "gateway/frames.h"
#include "gateway/openpassword.h"

#include <cstring>

using namespace powerlog;

namespace {

quint32 rotateLeft(quint32 v, int bits)
{
    return bits == 0 ? v : (v << bits) | (v >> (32 - bits));
}

// One step per digit, as the algorithm is described: 0..6 rotate left by 0, 25, 28, 29, 1, 5,
// 12 bits; 7 and 8 reorder the bytes; 9 complements. Every other character is skipped.
quint32 referenceValue(const QString& nonce, quint32 password)
{
    static constexpr int kRotation[] = {0, 25, 28, 29, 1, 5, 12};
    quint32 v = password;
    for (QChar c : nonce) {
        const quint32 b3 = v >> 24, b2 = (v >> 16) & 0xFF, b1 = (v >> 8) & 0xFF, b0 = v & 0xFF;
        switch (c.unicode()) {
        case u'7':
            v = (b0 << 24) | (b3 << 16) | (b1 << 8) | b2;
            break;
        case u'8':
            v = (b1 << 24) | (b0 << 16) | (b2 << 8) | b3;
            break;
        case u'9':
            v = ~v;
            break;
        default:
            if (c >= u'0' && c <= u'6')
                v = rotateLeft(v, kRotation[c.unicode() - u'0']);
        }
    }
    return v;
}

std::optional<quint32> referencePassword(const QString& text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return quint32(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    quint32 password = 0;
    std::memcpy(&password, data, sizeof password);
    const QLatin1StringView frame(reinterpret_cast<const char*>(data + 4), qsizetype(size - 4));
    const QString text(frame);

    const std::optional<QString> reply = nonceReply(frame, password);
    const bool nonce = frames::classifyFrame(frame) == frames::FrameKind::Nonce;
    FUZZ_CHECK(reply.has_value() == nonce);
    if (reply) {
        const QString expected = QStringLiteral("*#%1##").arg(referenceValue(text, password));
        FUZZ_CHECK_DETAIL(*reply == expected, text);
        FUZZ_CHECK(frames::classifyFrame(QLatin1StringView(reply->toLatin1())) ==
                   frames::FrameKind::Nonce);
    }

    FUZZ_CHECK_DETAIL(openPasswordValue(text, password) == referenceValue(text, password), text);

    QString buffer = text;
    const QString anyReply = openPasswordReply(buffer, password);
    FUZZ_CHECK(anyReply == QStringLiteral("*#%1##").arg(referenceValue(text, password)));
    FUZZ_CHECK(!buffer.contains(u'*') && !buffer.contains(u'#') && !buffer.contains(u'9'));

    FUZZ_CHECK_DETAIL(numericPassword(text) == referencePassword(text), text);
    return 0;
}
