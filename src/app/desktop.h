#pragma once

#include <QUrl>

namespace powerlog {

// Opens a file or an address with the desktop's default program. Failures are not reported.
class Desktop
{
public:
    virtual ~Desktop() = default;
    virtual void open(const QUrl& target) = 0;
};

} // namespace powerlog
