#include "acquisition/energyaccounts.h"

#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "acquisition/energyhours.h"

#include <QMap>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace powerlog {

namespace {

constexpr double kWattSecondsPerKwh = 3600.0 * 1000.0;
constexpr qint64 kSecondsPerDay = 24 * 3600;

ReadError readErrorOf(const QSqlError& error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return {error.nativeErrorCode(), text};
}

// The hour table can be trusted only beside the trigger that keeps it.
std::optional<bool> completeHourTable(const QSqlDatabase& db, ReadError* error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE "
                                 "(type = 'table' AND name = ? COLLATE NOCASE) OR "
                                 "(type = 'trigger' AND name = ? COLLATE NOCASE)"));
    query.addBindValue(EnergyDatabase::kHourTable);
    query.addBindValue(EnergyDatabase::kHourTrigger);
    if (!query.exec() || !query.next()) {
        *error = readErrorOf(query.lastError());
        return std::nullopt;
    }
    return query.value(0).toInt() == 2;
}

// Seconds from the start of `first` to `now`, counting every day as 24 hours.
qint64 secondsSince(const QDate& first, const QDateTime& now)
{
    return first.daysTo(now.date()) * kSecondsPerDay + now.time().msecsSinceStartOfDay() / 1000;
}

QString startOf(const QDate& day)
{
    return energyhours::dataText(QDateTime(day, QTime(0, 0), Qt::UTC));
}

// One hour of the accounts from its key 'yyyy-MM-dd HH:00', in the hour's band; nothing for a
// key that is no hour.
std::optional<HourEnergy> hourEnergy(const QString& key, double wattSeconds, qint64 seconds)
{
    const QDate date = QDate::fromString(key.left(10), Qt::ISODate);
    const int hour = key.mid(11, 2).toInt();
    if (!date.isValid())
        return std::nullopt;
    HourEnergy each{date, hour, {}};
    each.figures.add(tariffBand(date, hour), wattSeconds, seconds);
    return each;
}

QString hourKey(const QDate& date, int hour)
{
    return QString::asprintf("%04d-%02d-%02d %02d:00", date.year(), date.month(), date.day(), hour);
}

// The meter's history of the days [from, to) in place of what the readings give: its hours one
// by one; a day it gave as a total only, spread over the day's hours in their bands, estimated.
// Files without the meter's tables (read-only files of an earlier version) have no history.
bool addMeterHistory(const QSqlDatabase& db, const QDate& from, const QDate& to,
                     QMap<QString, HourEnergy>* hours, ReadError* error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                   "name IN ('%1', '%2') COLLATE NOCASE")
                        .arg(EnergyDatabase::kMeterHourTable, EnergyDatabase::kMeterDayTable)) ||
        !query.next()) {
        *error = readErrorOf(query.lastError());
        return false;
    }
    if (query.value(0).toInt() != 2)
        return true;
    const QString first = hourKey(from, 0);
    const QString end = hourKey(to, 0);
    QSet<QDate> daysWithHours;
    query.prepare(QStringLiteral("SELECT Hour, WattSeconds FROM %1 WHERE Hour >= ? AND Hour < ?")
                      .arg(EnergyDatabase::kMeterHourTable));
    query.addBindValue(first);
    query.addBindValue(end);
    if (!query.exec()) {
        *error = readErrorOf(query.lastError());
        return false;
    }
    while (query.next()) {
        const QString key = query.value(0).toString();
        const std::optional<HourEnergy> each = hourEnergy(key, query.value(1).toDouble(), 3600);
        if (!each)
            continue;
        hours->insert(key, *each);
        daysWithHours.insert(each->date);
    }
    query.prepare(QStringLiteral("SELECT Day, WattSeconds FROM %1 WHERE Day >= ? AND Day < ?")
                      .arg(EnergyDatabase::kMeterDayTable));
    query.addBindValue(from.toString(Qt::ISODate));
    query.addBindValue(to.toString(Qt::ISODate));
    if (!query.exec()) {
        *error = readErrorOf(query.lastError());
        return false;
    }
    while (query.next()) {
        const QDate date = QDate::fromString(query.value(0).toString(), Qt::ISODate);
        if (!date.isValid() || daysWithHours.contains(date))
            continue;
        const double perHour = query.value(1).toDouble() / 24;
        for (int hour = 0; hour < 24; ++hour) {
            HourEnergy each{date, hour, {}};
            each.figures.add(tariffBand(date, hour), perHour, 3600);
            each.figures.estimatedWattSeconds = perHour;
            hours->insert(hourKey(date, hour), each);
        }
    }
    return true;
}

// Each hour of the days [from, to) that holds anything, with its band.
std::optional<QList<HourEnergy>> readHours(const QSqlDatabase& db, const QDate& from,
                                           const QDate& to, ReadError* error,
                                           const ReadTicket* ticket)
{
    const std::optional<bool> complete = completeHourTable(db, error);
    if (!complete)
        return std::nullopt;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ran = false;
    if (*complete) {
        ran = query.prepare(QStringLiteral("SELECT Hour, WattSeconds, Seconds FROM %1 "
                                           "WHERE Hour >= ? AND Hour < ? ORDER BY Hour")
                                .arg(EnergyDatabase::kHourTable));
        query.addBindValue(startOf(from).left(13) + QStringLiteral(":00"));
        query.addBindValue(startOf(to).left(13) + QStringLiteral(":00"));
        ran = ran && query.exec();
    } else {
        ran = query.exec(energyhours::countStatement(startOf(from), startOf(to)));
    }
    if (!ran) {
        *error = readErrorOf(query.lastError());
        return std::nullopt;
    }
    QMap<QString, HourEnergy> hours; // by 'yyyy-MM-dd HH:00'
    while (query.next()) {
        if (ticket && ticket->isCancelled())
            return std::nullopt;
        const QString key = query.value(0).toString();
        const std::optional<HourEnergy> each =
            hourEnergy(key, query.value(1).toDouble(), query.value(2).toLongLong());
        if (each)
            hours.insert(key, *each);
    }
    if (query.lastError().isValid()) {
        *error = readErrorOf(query.lastError());
        return std::nullopt;
    }
    if (!addMeterHistory(db, from, to, &hours, error))
        return std::nullopt;
    return hours.values();
}

} // namespace

double EnergyFigures::kwh() const
{
    return (wattSeconds[0] + wattSeconds[1] + wattSeconds[2]) / kWattSecondsPerKwh;
}

double EnergyFigures::kwh(TariffBand band) const
{
    return wattSeconds[std::size_t(bandIndex(band))] / kWattSecondsPerKwh;
}

double EnergyFigures::cost(const TariffPrices& prices) const
{
    return kwh(TariffBand::F1) * prices.of(TariffBand::F1) +
           kwh(TariffBand::F2) * prices.of(TariffBand::F2) +
           kwh(TariffBand::F3) * prices.of(TariffBand::F3);
}

void EnergyFigures::add(const EnergyFigures& other)
{
    for (std::size_t band = 0; band < wattSeconds.size(); ++band)
        wattSeconds[band] += other.wattSeconds[band];
    coveredSeconds += other.coveredSeconds;
    estimatedWattSeconds += other.estimatedWattSeconds;
}

void EnergyFigures::add(TariffBand band, double wattSecondsOfBand, qint64 seconds)
{
    wattSeconds[std::size_t(bandIndex(band))] += wattSecondsOfBand;
    coveredSeconds += seconds;
}

EnergyTable EnergyTable::empty(EnergyPeriod period, const QDate& date)
{
    EnergyTable table;
    table.period = period;
    if (!date.isValid())
        return table;
    table.first = periodStart(period, date);
    switch (period) {
    case EnergyPeriod::Daily:
        table.groups.resize(24);
        break;
    case EnergyPeriod::Monthly:
        table.groups.resize(table.first.daysInMonth());
        break;
    case EnergyPeriod::Yearly:
        table.groups.resize(12);
        break;
    }
    return table;
}

qint64 EnergyTable::groupSeconds(int index) const
{
    switch (period) {
    case EnergyPeriod::Daily:
        return 3600;
    case EnergyPeriod::Monthly:
        return kSecondsPerDay;
    case EnergyPeriod::Yearly: {
        const QDate month = first.addMonths(index);
        return month.daysInMonth() * kSecondsPerDay;
    }
    }
    return 0;
}

qint64 EnergyTable::periodSeconds() const
{
    return first.daysTo(periodEnd(period, first)) * kSecondsPerDay;
}

qint64 EnergyTable::groupSecondsBefore(int index, const QDateTime& now) const
{
    if (!first.isValid() || !now.isValid() || index < 0 || index >= groups.size())
        return 0;
    qint64 start = 0;
    switch (period) {
    case EnergyPeriod::Daily:
        start = qint64(index) * 3600;
        break;
    case EnergyPeriod::Monthly:
        start = qint64(index) * kSecondsPerDay;
        break;
    case EnergyPeriod::Yearly:
        start = first.daysTo(first.addMonths(index)) * kSecondsPerDay;
        break;
    }
    return std::clamp(secondsSince(first, now) - start, qint64(0), groupSeconds(index));
}

qint64 EnergyTable::periodSecondsBefore(const QDateTime& now) const
{
    if (!first.isValid() || !now.isValid())
        return 0;
    return std::clamp(secondsSince(first, now), qint64(0), periodSeconds());
}

EnergyFigures EnergyTable::total() const
{
    EnergyFigures sum;
    for (const EnergyFigures& group : groups)
        sum.add(group);
    return sum;
}

QDate periodStart(EnergyPeriod period, const QDate& date)
{
    switch (period) {
    case EnergyPeriod::Daily:
        return date;
    case EnergyPeriod::Monthly:
        return QDate(date.year(), date.month(), 1);
    case EnergyPeriod::Yearly:
        return QDate(date.year(), 1, 1);
    }
    return date;
}

QDate periodEnd(EnergyPeriod period, const QDate& date)
{
    const QDate start = periodStart(period, date);
    switch (period) {
    case EnergyPeriod::Daily:
        return start.addDays(1);
    case EnergyPeriod::Monthly:
        return start.addMonths(1);
    case EnergyPeriod::Yearly:
        return start.addYears(1);
    }
    return start;
}

std::optional<bool> EnergyQueries::hasCompleteHourTable(ReadError* error) const
{
    return completeHourTable(m_db, error);
}

std::optional<QSet<QDate>> EnergyQueries::meterCompleteDays(ReadError* error) const
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                   "name = '%1' COLLATE NOCASE")
                        .arg(EnergyDatabase::kMeterHourTable)) ||
        !query.next()) {
        *error = readErrorOf(query.lastError());
        return std::nullopt;
    }
    QSet<QDate> days;
    if (query.value(0).toInt() == 0)
        return days;
    if (!query.exec(QStringLiteral("SELECT substr(Hour, 1, 10) FROM %1 GROUP BY 1 "
                                   "HAVING count(*) = 24")
                        .arg(EnergyDatabase::kMeterHourTable))) {
        *error = readErrorOf(query.lastError());
        return std::nullopt;
    }
    while (query.next())
        days.insert(QDate::fromString(query.value(0).toString(), Qt::ISODate));
    return days;
}

std::optional<EnergyTable> EnergyQueries::table(EnergyPeriod period, const QDate& date,
                                                ReadError* error, const ReadTicket* ticket) const
{
    EnergyTable result = EnergyTable::empty(period, date);
    const QDate end = periodEnd(period, date);
    const std::optional<QList<HourEnergy>> hours =
        readHours(m_db, result.first, end, error, ticket);
    if (!hours)
        return std::nullopt;
    for (const HourEnergy& hour : *hours) {
        const int index = period == EnergyPeriod::Daily     ? hour.hour
                          : period == EnergyPeriod::Monthly ? hour.date.day() - 1
                                                            : hour.date.month() - 1;
        if (index >= 0 && index < result.groups.size())
            result.groups[index].add(hour.figures);
    }
    return result;
}

std::optional<QList<HourEnergy>> EnergyQueries::hours(const QDate& from, const QDate& to,
                                                      ReadError* error,
                                                      const ReadTicket* ticket) const
{
    return readHours(m_db, from, to.addDays(1), error, ticket);
}

// Carries answers from the reader's thread to the source's, tagged with the request they
// answer.
class EnergySource::Answers : public QObject
{
    Q_OBJECT
signals:
    void tableRead(quint64 generation, const powerlog::EnergyTable& table);
    void tableFailed(quint64 generation, const powerlog::ReadError& error);
};

EnergySource::EnergySource(DatabaseReader& reader, QObject* parent)
    : QObject(parent), m_reader(reader), m_answers(std::make_shared<Answers>())
{
    qRegisterMetaType<powerlog::EnergyTable>();
    qRegisterMetaType<powerlog::ReadError>();
    connect(
        m_answers.get(), &Answers::tableRead, this,
        [this](quint64 generation, const EnergyTable& table) {
            if (generation == m_generation)
                emit tableRead(table);
        },
        Qt::QueuedConnection);
    connect(
        m_answers.get(), &Answers::tableFailed, this,
        [this](quint64 generation, const ReadError& error) {
            if (generation == m_generation)
                emit tableFailed(error);
        },
        Qt::QueuedConnection);
}

EnergySource::~EnergySource()
{
    cancel();
    m_answers->disconnect();
}

void EnergySource::requestTable(EnergyPeriod period, const QDate& date)
{
    cancel();
    const quint64 generation = m_generation;
    m_ticket =
        m_reader.read([answers = m_answers, generation, period,
                       date](QSqlDatabase db, const QString& openError, const ReadTicket& ticket) {
            if (ticket.isCancelled())
                return;
            if (!db.isValid()) {
                emit answers->tableFailed(generation, ReadError{{}, openError});
                return;
            }
            ReadError error;
            const std::optional<EnergyTable> table =
                EnergyQueries(db).table(period, date, &error, &ticket);
            if (table)
                emit answers->tableRead(generation, *table);
            else if (!ticket.isCancelled())
                emit answers->tableFailed(generation, error);
        });
}

void EnergySource::cancel()
{
    ++m_generation;
    if (m_ticket)
        m_ticket->cancel();
    m_ticket.reset();
}

} // namespace powerlog

#include "energyaccounts.moc"
