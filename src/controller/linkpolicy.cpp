#include "controller/linkpolicy.h"

namespace powerlog {

LinkEvent linkEvent(LinkChannel channel, LinkState state)
{
    if (channel == LinkChannel::Monitor)
        return state == LinkState::PasswordRefused ? LinkEvent::MonitorPasswordRefused
                                                   : LinkEvent::Other;
    switch (state) {
    case LinkState::PasswordRefused:
        return LinkEvent::PasswordRefused;
    case LinkState::NoConnection:
        return LinkEvent::NoConnection;
    case LinkState::PasswordMissing:
        return LinkEvent::PasswordMissing;
    default:
        return LinkEvent::Other;
    }
}

LinkResponse respondToLink(const LinkSituation& situation)
{
    LinkResponse response;
    const bool running = situation.automatic || situation.recording;
    const Notice lost =
        situation.recording ? Notice::GatewayLostWhileRecording : Notice::GatewayLost;
    switch (situation.event) {
    case LinkEvent::NoConnection:
        response.stopRecording = true;
        response.fallBackToManual = !situation.stInterface;
        // The ST interface's keep-alive reconnects by itself; its recording comes back with
        // the next reading.
        response.retryInBackground = running;
        if (running && (situation.recording || !situation.stInterface))
            response.notice = lost;
        break;
    case LinkEvent::RequestsUnanswered:
        response.stopRecording = true;
        response.fallBackToManual = true;
        response.retryInBackground = running;
        if (running)
            response.notice = lost;
        break;
    case LinkEvent::PasswordRefused:
        response.stopRecording = true;
        response.fallBackToManual = !situation.stInterface;
        response.stopKeepAlive = true;
        response.notice = Notice::PasswordRefused;
        break;
    case LinkEvent::MonitorPasswordRefused:
        response.notice = Notice::PasswordRefused;
        break;
    case LinkEvent::PasswordMissing:
        response.notice = Notice::PasswordMissing;
        break;
    case LinkEvent::Other:
        break;
    }
    return response;
}

} // namespace powerlog
