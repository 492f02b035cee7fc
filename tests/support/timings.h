#pragma once

#include "gateway/sessiontimings.h"

namespace powerlog::test {

// Code built with AddressSanitizer runs several times slower; the longest waits scale with it.
#ifdef __SANITIZE_ADDRESS__
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif

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
