#pragma once

#include "acquisition/reading.h"
#include "gateway/commandsession.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

namespace powerlog {

class Clock;

// How long the meter's automatic power updates are asked for, and when they are asked again.
struct MeterFeedTimings
{
    int updateMinutes = 10;
    int minuteMs = 60'000; // one minute of the meter's updates, in milliseconds
    int renewPercent = 80; // the updates are asked again after this share of their time
};

// The reading a WHO 18 power value of the meter at `where` ("*#18*5N*113*W##") carries: W the
// power, E the latest totalizer in kWh (empty until one is known), V and A not measured. Nothing
// for any other frame, another meter, or a power outside the signed 16-bit range the graph and the
// database take.
std::optional<Reading> meterReading(const QString& frame, const QString& where,
                                    std::optional<qint64> totalizerWh, const QDateTime& time);

// Live readings from a WHO 18 energy meter instead of the load-control central unit: builds the
// meter's requests, keeps its automatic power updates running while asked to (renewing them
// before they lapse), keeps the latest totalizer, and turns each power value of the meter into
// a Reading. Frames of other meters are ignored.
class EnergyMeterFeed : public QObject
{
    Q_OBJECT
public:
    // Whether a periodic request asks the power even when the meter has pushed one since the
    // previous request.
    enum class Ask { Always, UnlessUpdated };

    EnergyMeterFeed(CommandSession& command, const Clock& clock, MeterFeedTimings timings = {},
                    QObject* parent = nullptr);

    // The meter's WHERE "5N"; a new meter's totalizer is not known yet.
    void setWhere(const QString& where);
    const QString& where() const { return m_where; }
    std::optional<qint64> totalizerWh() const { return m_totalizerWh; }

    // Asks the totalizer, then the power, which `done` follows as the poller's requests do.
    // With Ask::UnlessUpdated the power is left out when an update came since the last
    // request (and `done` hears true).
    void request(CommandSession::AckPolicy policy, CommandSession::Result done = {},
                 Ask ask = Ask::Always);

    // Automatic power updates on (asked now when `askNow`, else at the next renewUpdates())
    // or off (no longer renewed; the meter stops them when their time runs out).
    void setUpdating(bool on, bool askNow = true);
    bool isUpdating() const { return m_updating; }
    // Asks the updates again and restarts the time to their renewal; nothing while off.
    void renewUpdates();
    const QTimer& renewalTimer() const { return m_renewal; }

    // An answer on the command session: a power value becomes a reading, a totalizer is kept.
    void takeFrame(const QString& frame);
    // A value the meter pushed by itself (an automatic update): as takeFrame(), and the next
    // periodic request need not ask the power.
    void takeUpdate(const QString& frame);

signals:
    void readingArrived(const powerlog::Reading& reading);

private:
    bool take(const QString& frame);

    CommandSession& m_command;
    const Clock& m_clock;
    MeterFeedTimings m_timings;
    QString m_where;
    int m_meter = 0;
    std::optional<qint64> m_totalizerWh;
    bool m_updating = false;
    bool m_updatedSinceRequest = false;
    QTimer m_renewal;
};

} // namespace powerlog
