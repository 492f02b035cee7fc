#pragma once

#include <QDateTime>

namespace powerlog {

// Local date and time for readings and charts. Waits use Qt's timers, which run on the
// monotonic clock, so a change of the wall clock (midnight, daylight saving) never ends or
// stretches a wait.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace powerlog
