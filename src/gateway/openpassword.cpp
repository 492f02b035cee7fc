#include "gateway/openpassword.h"

#include "gateway/frames.h"

#include <array>
#include <bit>

namespace powerlog {

namespace {

// Left rotations for the digits 0..6.
constexpr std::array<int, 7> kRotation = {0, 25, 28, 29, 1, 5, 12};

// Digit 7: bytes (b3 b2 b1 b0) become (b0 b3 b1 b2).
constexpr quint32 reorder7(quint32 v)
{
    return ((v & 0x000000FFu) << 24) | ((v & 0xFF000000u) >> 8) | (v & 0x0000FF00u) |
           ((v & 0x00FF0000u) >> 16);
}

// Digit 8: bytes (b3 b2 b1 b0) become (b1 b0 b2 b3).
constexpr quint32 reorder8(quint32 v)
{
    return ((v & 0x0000FFFFu) << 16) | ((v & 0x00FF0000u) >> 8) | (v >> 24);
}

QString withoutMarkers(QString text)
{
    text.remove(QLatin1Char('*'));
    text.remove(QLatin1Char('#'));
    return text;
}

} // namespace

quint32 openPasswordValue(const QString& nonceDigits, quint32 password)
{
    quint32 value = password;
    bool complement = false;
    for (QChar c : withoutMarkers(nonceDigits)) {
        const char16_t u = c.unicode();
        if (u == u'9') {
            // A complement commutes with every other step: fold them all into one at the end.
            complement = !complement;
        } else if (u >= u'0' && u <= u'6') {
            value = std::rotl(value, kRotation[u - u'0']);
        } else if (u == u'7') {
            value = reorder7(value);
        } else if (u == u'8') {
            value = reorder8(value);
        }
        // Anything else is not part of a nonce: skipped.
    }
    return complement ? ~value : value;
}

QString openPasswordReply(QString& buffer, quint32 password)
{
    const quint32 value = openPasswordValue(buffer, password);
    buffer = withoutMarkers(buffer);
    if (buffer.contains(QLatin1Char('9')))
        buffer = buffer.replace(QLatin1Char('9'), QLatin1Char('0')).trimmed();
    return frames::passwordReplyFrame(value);
}

std::optional<quint32> numericPassword(const QString& text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const quint32 value = digits.toUInt(&ok);
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

std::optional<QString> nonceReply(QLatin1StringView frame, quint32 password)
{
    if (frames::classifyFrame(frame) != frames::FrameKind::Nonce)
        return std::nullopt;
    QString nonce(frame);
    return openPasswordReply(nonce, password);
}

} // namespace powerlog
