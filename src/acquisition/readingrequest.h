#pragma once

#include "gateway/commandsession.h"
#include "gateway/frames.h"

namespace powerlog {

// Asks the load-control central unit for a reading on the command session. The one place that
// builds the request, for the poller and for a refresh asked by hand alike.
inline void requestReading(CommandSession& command,
                           CommandSession::AckPolicy policy = CommandSession::AckPolicy::WaitForAck,
                           CommandSession::Result done = {})
{
    command.send(frames::kMeasurementRequest, policy, std::move(done));
}

} // namespace powerlog
