#pragma once

#include <QUrl>

namespace powerlog {

// Opens a file or an address with the desktop's default program.
class Desktop
{
public:
    virtual ~Desktop() = default;
    // False when the desktop could not open it (no program for it, no way to start one).
    virtual bool open(const QUrl& target) = 0;
};

} // namespace powerlog
