#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace powerlog::sim {

// The WHO 18 energy meters behind the simulated gateway, at WHERE "5N". Each meter's power is
// the household's, scaled by the meter (see scale()); its energy history is a function of the
// seed, the meter and the hour alone, so a day asked twice, or asked as hours and as a day
// total, always gives the same figures. The hours follow the household's typical draw at that
// time of day with some day-to-day spread; a day is the sum of its hours, a month of its days,
// and the totalizer of every hour since the meter was installed, on 1 January two years before
// the current one (so the history always holds more than 730 days).
class MeterBank
{
public:
    explicit MeterBank(quint32 seed);

    void setMeters(const QList<int>& numbers); // N of each WHERE "5N", 1..255
    QList<int> meters() const { return m_meters; }
    bool has(int meter) const { return m_meters.contains(meter); }

    // The share of the household meter N measures: 1/k with k = 1 + (N - 1) mod 4 (51 and 55
    // measure it all, 52 half of it, 53 a third, 54 a quarter).
    static double scale(int meter);
    int powerWatts(int meter, int householdWatts) const;

    static QDate installed(const QDateTime& now);
    // The Wh of hour 0..23 of a whole day (what the history says once the hour is over).
    qint64 hourWh(int meter, QDate date, int hour) const;
    qint64 dayWh(int meter, QDate date) const;
    // What the meter has counted of a day, a month or all its life by `now`: nothing before
    // the installation or in the future, today's completed hours and a part of the current one.
    qint64 dayToNowWh(int meter, QDate date, const QDateTime& now) const;
    qint64 monthToNowWh(int meter, int year, int month, const QDateTime& now) const;
    qint64 totalWh(int meter, const QDateTime& now) const;

    // A WHO 18 frame received on a command session: the frames answering it there (value
    // frames then ACK, or NACK) and those it sends to every event session. Nothing for a frame
    // of another WHO. `updatesMinutes` is set by an automatic-updates request (0 stops them).
    struct Answer
    {
        QStringList reply;
        QStringList events;
        int meter = 0;
        std::optional<int> updatesMinutes;
    };
    std::optional<Answer> answer(const QString& frame, const QDateTime& now,
                                 int householdWatts) const;

    static QString powerFrame(int meter, int watts);
    static QString updatesFrame(int meter, int minutes);

private:
    QStringList hourFrames(int meter, QDate date, const QDateTime& now) const;

    quint32 m_seed;
    QList<int> m_meters;
};

} // namespace powerlog::sim
