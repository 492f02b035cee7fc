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
};

} // namespace powerlog
