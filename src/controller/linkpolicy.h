#pragma once

#include "gateway/linkstate.h"

#include <QObject>

namespace powerlog {

// The enumerations have a meta-object of their own (names in test output, queued signals),
// apart from the one of the powerlog namespace.
namespace linkpolicy {
Q_NAMESPACE

// What the user must hear about the link; the windows choose the words and the way (a message
// box or a balloon).
enum class Notice {
    None,
    PasswordMissing,           // the gateway asks for a password and none usable is set
    PasswordRefused,           // the gateway refused the password; nothing tries it again
    GatewayLostWhileRecording, // recording and automatic mode stopped; trying in the background
    GatewayLost,               // automatic mode stopped; trying in the background
    GatewayBack,               // the gateway answers again: what stopped runs again
};
Q_ENUM_NS(Notice)

// What happened on the link, as the policy sees it.
enum class LinkEvent {
    NoConnection,           // the command session could not connect or open
    PasswordMissing,        // the command session needs a password it does not have
    PasswordRefused,        // the command session: the gateway refused the password
    MonitorPasswordRefused, // the same on the monitor session, which the poller answers
    RequestsUnanswered,     // too many periodic requests went unanswered
    Other,                  // nothing the policy acts on
};
Q_ENUM_NS(LinkEvent)

} // namespace linkpolicy

using linkpolicy::LinkEvent;
using linkpolicy::Notice;

// The event a session's report means.
LinkEvent linkEvent(LinkChannel channel, LinkState state);

// Where the program stands when the event arrives.
struct LinkSituation
{
    LinkEvent event = LinkEvent::Other;
    bool stInterface = false;
    bool automatic = false;
    bool recording = false;
};

// What the program does about it.
struct LinkResponse
{
    bool stopRecording = false;
    bool fallBackToManual = false;
    bool stopKeepAlive = false;
    // Keep asking the gateway in the background and bring back automatic mode and recording as
    // they were once it answers.
    bool retryInBackground = false;
    Notice notice = Notice::None;

    bool operator==(const LinkResponse&) const = default;
};

// The program's one policy for a failing link. A lost connection stops recording; polling
// falls back to manual, while the ST interface keeps its mode and its keep-alive reconnects on
// its own. A refused password is never offered again by itself: the keep-alive stops too.
// Whatever the gateway's loss ended is brought back when it answers again.
LinkResponse respondToLink(const LinkSituation& situation);

} // namespace powerlog
