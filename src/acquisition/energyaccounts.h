#pragma once

#include "acquisition/chartqueries.h"
#include "acquisition/tariffbands.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <memory>
#include <optional>

namespace powerlog {

class DatabaseReader;
class ReadTicket;

// Energy accounts: how many kWh were used in each hour, day, month and year, and in which
// tariff band.
//
// Energy comes from the readings taken in the order of Data (then of insertion): a pair of
// consecutive readings (t0, W0), (t1, ·) with 0 < t1 - t0 <= 300 s contributes W0 × (t1 - t0)
// watt-seconds, spread evenly over [t0, t1) and split at hour boundaries; any other pair is a
// gap. Times are the stored local times as written. The database keeps the result per hour in
// the table EnergyHour (see energyschema.h); days, months and years are sums of their hours,
// and the bands are given to hours when they are read.
//
// An energy meter's own history stands in for the readings: an hour the meter reported counts
// with its figure, wholly covered; a day the meter reported as a total only counts with that
// total spread evenly over its 24 hours, each priced in its own band, and marked as estimated.

// The longest step between two readings that still counts as recorded.
inline constexpr qint64 kLongestReadingStep = 300;

// Energy of one group (an hour, a day, a month, a year): watt-seconds per band and the seconds
// covered by readings.
struct EnergyFigures
{
    std::array<double, kTariffBandCount> wattSeconds{};
    qint64 coveredSeconds = 0;
    // Of all the watt-seconds, those whose band is a guess: days a meter reported as a total
    // only, spread over their hours.
    double estimatedWattSeconds = 0;

    double kwh() const;
    double kwh(TariffBand band) const;
    // kWh of each band times its price.
    double cost(const TariffPrices& prices) const;
    void add(const EnergyFigures& other);
    void add(TariffBand band, double wattSecondsOfBand, qint64 seconds);

    bool operator==(const EnergyFigures&) const = default;
};

// The periods energy is read for, and the groups they are split into.
enum class EnergyPeriod {
    Daily,   // a day's hours 0..23
    Monthly, // a month's days 1..last
    Yearly,  // a year's months 1..12
};

// The energy of one period, group by group.
struct EnergyTable
{
    EnergyPeriod period = EnergyPeriod::Daily;
    QDate first; // the period's first day
    // One entry per group, in order: hour 0 first for a day, day 1 for a month, January for a
    // year.
    QList<EnergyFigures> groups;

    // The period of `period` that holds `date`, every group at zero; without a valid date,
    // no period and no groups.
    static EnergyTable empty(EnergyPeriod period, const QDate& date);

    // The number the first group goes by: 0 (hours) or 1 (days, months).
    int firstGroupNumber() const { return period == EnergyPeriod::Daily ? 0 : 1; }
    // The seconds a group spans (local times as written: every day has 24 hours).
    qint64 groupSeconds(int index) const;
    qint64 periodSeconds() const;
    // The seconds of a group, or of the period, that lie before `now` (a local time as
    // written): all of them once it has ended, none before it begins.
    qint64 groupSecondsBefore(int index, const QDateTime& now) const;
    qint64 periodSecondsBefore(const QDateTime& now) const;
    EnergyFigures total() const;

    bool operator==(const EnergyTable&) const = default;
};

// The period of `period` that holds `date`: its first day, and the first day after it.
QDate periodStart(EnergyPeriod period, const QDate& date);
QDate periodEnd(EnergyPeriod period, const QDate& date);

// One hour of the accounts, for the export.
struct HourEnergy
{
    QDate date;
    int hour = 0;
    EnergyFigures figures; // in the hour's band
};

// Reads the energy accounts. A file whose hour table is complete is read from it, which takes
// milliseconds for any period; a file whose hour table is missing or not complete (its
// building was stopped, or a read-only file of an earlier version) is counted from Energy
// itself: same numbers, slower.
class EnergyQueries
{
public:
    explicit EnergyQueries(QSqlDatabase db) : m_db(std::move(db)) {}

    // Whether the hour table is there and kept by its trigger; nothing when that cannot be read.
    std::optional<bool> hasCompleteHourTable(ReadError* error) const;
    // The days whose 24 hours an energy meter reported (none in a file without its tables).
    std::optional<QSet<QDate>> meterCompleteDays(ReadError* error) const;

    // A cancelled ticket stops a long read: nullopt with an empty error.
    std::optional<EnergyTable> table(EnergyPeriod period, const QDate& date, ReadError* error,
                                     const ReadTicket* ticket = nullptr) const;
    // The hours of the days from `from` up to and including `to` that hold any energy or
    // coverage, in order.
    std::optional<QList<HourEnergy>> hours(const QDate& from, const QDate& to, ReadError* error,
                                           const ReadTicket* ticket = nullptr) const;

private:
    QSqlDatabase m_db;
};

// The windows' energy reads, off their thread, like ChartSource: a newer request cancels an
// older one, whose answer never arrives.
class EnergySource : public QObject
{
    Q_OBJECT
public:
    explicit EnergySource(DatabaseReader& reader, QObject* parent = nullptr);
    ~EnergySource() override;

    void requestTable(powerlog::EnergyPeriod period, const QDate& date);
    void cancel();

signals:
    void tableRead(const powerlog::EnergyTable& table);
    void tableFailed(const powerlog::ReadError& error);

private:
    class Answers;

    DatabaseReader& m_reader;
    std::shared_ptr<Answers> m_answers;
    std::shared_ptr<ReadTicket> m_ticket;
    quint64 m_generation = 0;
};

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::EnergyTable)
Q_DECLARE_METATYPE(powerlog::EnergyFigures)
