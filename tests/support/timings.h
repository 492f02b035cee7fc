#pragma once

#include "gateway/sessiontimings.h"

namespace powerlog::test {

// Time limits short enough for tests and long enough for a loaded machine on loopback.
inline SessionTimings fastTimings()
{
    SessionTimings t;
    t.connectMs = 2000;
    t.greetingMs = 1000;
    t.openWindowMs = 500;
    t.ackWaitMs = 400;
    t.reopenFirstMs = 100;
    t.reopenLongestMs = 800;
    return t;
}

} // namespace powerlog::test
