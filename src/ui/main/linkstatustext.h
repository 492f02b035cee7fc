#pragma once

#include "gateway/frames.h"
#include "gateway/linkstate.h"

#include <QString>

namespace powerlog {

class Texts;

enum class LinkChannel { Command, Monitor };

// The status-bar text for what a session reported about its link.
QString linkStatusText(const Texts& texts, LinkChannel channel, LinkState state,
                       const QString& detail);

// Whether the state means the gateway cannot be reached on that session (the tray shows the
// no-link picture).
bool isLinkDown(LinkState state);

// The message for a load event that cannot be read: "<number> - <description>".
QString loadEventErrorText(const Texts& texts, const frames::LoadEventError& error);

} // namespace powerlog
