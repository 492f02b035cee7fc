#pragma once

namespace powerlog {

// Time limits of the gateway link. The program uses the defaults; tests shorten them.
struct SessionTimings
{
    int connectMs = 10000;   // TCP connection
    int greetingMs = 10000;  // the gateway's first ACK on a new connection
    int openWindowMs = 1000; // ACK or nonce after the open frame (restarts after a reply)
    int ackWaitMs = 10000;   // ACK after a frame, per attempt
    int attempts = 3;        // sends of one frame before giving up
    // The monitor session's own re-opens: the first wait, doubled after each failed or short
    // session up to the longest, and back to the first after a session that lasted long enough
    // (counted from the start of its open).
    int reopenFirstMs = 1000;
    int reopenLongestMs = 60000;
    int reopenResetAfterMs = 60000;
};

} // namespace powerlog
