#include "ui/main/linkstatustext.h"

#include "app/language.h"

namespace powerlog {

QString linkStatusText(const Texts& texts, LinkChannel channel, LinkState state,
                       const QString& detail)
{
    const QString monitor =
        channel == LinkChannel::Monitor ? QStringLiteral(" (Monitor)") : QString();
    switch (state) {
    case LinkState::Connecting:
        return texts(Text::Connecting) + monitor;
    case LinkState::Connected:
        return texts(Text::Connected) + QLatin1Char(' ') + detail;
    case LinkState::PeerClosed:
        return texts(Text::PeerClosed);
    case LinkState::NoConnection:
    case LinkState::NotOpened:
    case LinkState::PasswordMissing:
        return texts(Text::NoConnection) + monitor;
    case LinkState::FrameAcknowledged:
        return texts(Text::FrameSent) + QStringLiteral(" (") + detail + QLatin1Char(')');
    case LinkState::FrameNotAcknowledged:
        return texts(Text::NoAck) + QStringLiteral("  ") + detail;
    case LinkState::Authenticating:
        return texts(Text::Authenticating).arg(detail) + monitor;
    case LinkState::PasswordRefused:
        return texts(Text::PasswordRefused) + monitor;
    case LinkState::Reopening: {
        // Milliseconds to the next open, shown in whole seconds, rounded up.
        const int seconds = (qMax(0, detail.toInt()) + 999) / 1000;
        return texts(Text::Reopening).arg(seconds) + monitor;
    }
    }
    return {};
}

QString loadEventErrorText(const Texts& texts, const frames::LoadEventError& error)
{
    // The piece is quoted in a message box: keep it short.
    constexpr qsizetype kShown = 40;
    const QString piece = error.piece.size() <= kShown
                              ? error.piece
                              : error.piece.left(kShown) + QStringLiteral("...");
    // An error is never left blank, even before a language was applied.
    const int column = texts.column().value_or(kEnglish);
    const auto text = [column](Text id) { return textIn(id, column); };
    using Kind = frames::LoadEventError::Kind;
    switch (error.kind) {
    case Kind::TooShort:
        return text(Text::LoadEventTooShort).arg(piece);
    case Kind::BadState:
        return text(Text::LoadEventBadState).arg(piece, error.character);
    case Kind::BadPosition:
        return text(Text::LoadEventBadPosition).arg(piece, error.character);
    case Kind::PositionZero:
        return text(Text::LoadEventPositionZero).arg(piece);
    }
    return {};
}

} // namespace powerlog
