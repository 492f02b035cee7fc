#pragma once

#include <QObject>

namespace powerlog {

Q_NAMESPACE

// What a session reports about its link; the windows turn it into words and pictures.
enum class LinkState {
    Connecting,           // a connection attempt starts
    Connected,            // TCP is up; detail = "address:port" of the gateway
    PeerClosed,           // the gateway closed the connection
    NoConnection,         // no TCP connection within the time limit, or a connect error
    NotOpened,            // connected, but no greeting, open refused (NACK), no answer in the
                          // open window, or closed meanwhile
    PasswordMissing,      // the gateway sent a nonce and no usable password is configured
    FrameAcknowledged,    // command session only; detail = the frame
    FrameNotAcknowledged, // command session only, after the last attempt; detail = the frame
    Authenticating,       // the gateway asked for the HMAC handshake; detail = "SHA-256" or
                          // "SHA-1"
    PasswordRefused,      // the gateway refused our password, or could not prove it knows it;
                          // nothing retries by itself
    Reopening,            // monitor session only: the next open in detail = milliseconds
};
Q_ENUM_NS(LinkState)

// Which session reported: the command session or the monitor session.
enum class LinkChannel { Command, Monitor };
Q_ENUM_NS(LinkChannel)

// Whether the state means the gateway cannot be reached on that session.
constexpr bool isLinkDown(LinkState state)
{
    return state == LinkState::NoConnection || state == LinkState::NotOpened ||
           state == LinkState::PasswordMissing || state == LinkState::PasswordRefused;
}

} // namespace powerlog
