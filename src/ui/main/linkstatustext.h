#pragma once

#include "gateway/frames.h"
#include "gateway/linkstate.h"

#include <QString>

namespace powerlog {

class Texts;

// The status-bar text for what a session reported about its link.
QString linkStatusText(const Texts& texts, LinkChannel channel, LinkState state,
                       const QString& detail);

// The message for a load event that cannot be read: "<number> - <description>".
QString loadEventErrorText(const Texts& texts, const frames::LoadEventError& error);

} // namespace powerlog
