#include "acquisition/chartqueries.h"

#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace powerlog {

namespace {

// Data in the program's own text form, 'yyyy-MM-dd HH:mm...': the rows the summaries count.
const QString kOwnForm =
    QStringLiteral("Data GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'");

// 'yyyy-MM-dd' built from the numbers, never through a locale.
QString dayKey(const QDate& date)
{
    return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

ReadError readErrorOf(const QSqlError& error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return {error.nativeErrorCode(), text};
}

// Runs a statement with its bound values; false (and the error) when it is refused.
bool run(QSqlQuery& query, const QString& sql, const QVariantList& values, ReadError* error)
{
    query.setForwardOnly(true);
    if (query.prepare(sql)) {
        for (const QVariant& value : values)
            query.addBindValue(value);
        if (query.exec())
            return true;
    }
    *error = readErrorOf(query.lastError());
    return false;
}

std::optional<QList<int>> readNumbers(const QSqlDatabase& db, const QString& sql,
                                      const QVariantList& values, ReadError* error)
{
    QSqlQuery query(db);
    if (!run(query, sql, values, error))
        return std::nullopt;
    QList<int> numbers;
    while (query.next())
        numbers << query.value(0).toInt();
    return numbers;
}

// Groups of (key, average, maximum) as a monthly or yearly chart takes them.
std::optional<QList<PeriodGroup>> readGroups(const QSqlDatabase& db, const QString& sql,
                                             const QVariantList& values, ReadError* error,
                                             const ReadTicket* ticket)
{
    QSqlQuery query(db);
    if (!run(query, sql, values, error))
        return std::nullopt;
    QList<PeriodGroup> groups;
    while (query.next()) {
        if (ticket && ticket->isCancelled())
            return std::nullopt;
        if (query.value(1).isNull())
            continue;
        groups << PeriodGroup{query.value(0).toInt(), query.value(1).toDouble(),
                              query.value(2).toLongLong()};
    }
    return groups;
}

} // namespace

// Whether the file's schema holds every one of `objects`, each a type ("table", "trigger") and
// a name; false, with the reason in `error`, when the schema cannot be read.
bool ChartQueries::hasAll(const QList<QPair<QString, QString>>& objects, ReadError* error,
                          bool* found) const
{
    QStringList conditions;
    QVariantList values;
    for (const auto& [type, name] : objects) {
        conditions << QStringLiteral("(type = ? AND name = ? COLLATE NOCASE)");
        values << type << name;
    }
    QSqlQuery query(m_db);
    if (!run(query,
             QStringLiteral("SELECT count(*) FROM sqlite_master WHERE ") +
                 conditions.join(QStringLiteral(" OR ")),
             values, error) ||
        !query.next()) {
        if (error->description.isEmpty())
            *error = readErrorOf(query.lastError());
        return false;
    }
    *found = query.value(0).toInt() == objects.size();
    return true;
}

// The day summary is complete only beside the trigger that keeps it: a first open that was
// stopped leaves the table made but not filled, and no trigger.
bool ChartQueries::hasDaySummary(ReadError* error, bool* found) const
{
    return hasAll({{QStringLiteral("table"), EnergyDatabase::kDayTable},
                   {QStringLiteral("trigger"), EnergyDatabase::kSummaryTrigger}},
                  error, found);
}

bool ChartQueries::hasMeterHistory(ReadError* error, bool* found) const
{
    return hasAll({{QStringLiteral("table"), EnergyDatabase::kMeterHourTable},
                   {QStringLiteral("table"), EnergyDatabase::kMeterDayTable}},
                  error, found);
}

std::optional<RecordedRange> ChartQueries::recordedRange(ReadError* error) const
{
    bool meter = false;
    if (!hasMeterHistory(error, &meter))
        return std::nullopt;
    // Single-aggregate statements, so that each walks an index from one end.
    QStringList sources{QStringLiteral("SELECT %1(Data) FROM Energy WHERE ") + kOwnForm};
    if (meter)
        sources << QStringLiteral("SELECT %1(Hour) FROM ") + EnergyDatabase::kMeterHourTable
                << QStringLiteral("SELECT %1(Day) FROM ") + EnergyDatabase::kMeterDayTable;
    RecordedRange range;
    for (const QString& source : sources) {
        for (const auto& [function, day] : {std::pair{QStringLiteral("min"), &range.first},
                                            {QStringLiteral("max"), &range.last}}) {
            QSqlQuery query(m_db);
            if (!run(query, source.arg(function), {}, error))
                return std::nullopt;
            if (!query.next() || query.value(0).isNull())
                continue;
            const QDate found = QDate::fromString(query.value(0).toString().left(10), Qt::ISODate);
            if (found.isValid() &&
                (!day->isValid() ||
                 (function == QLatin1String("min") ? found < *day : found > *day)))
                *day = found;
        }
    }
    if (range.isEmpty())
        return RecordedRange{};
    return range;
}

std::optional<QList<int>> ChartQueries::monthsWithReadings(int year, ReadError* error) const
{
    return partsWithReadings(6, QDate(year, 1, 1), QDate(year + 1, 1, 1), error);
}

std::optional<QList<int>> ChartQueries::daysWithReadings(int year, int month,
                                                         ReadError* error) const
{
    const QDate first(year, month, 1);
    return partsWithReadings(9, first, first.addMonths(1), error);
}

std::optional<QList<int>> ChartQueries::partsWithReadings(int position, const QDate& from,
                                                          const QDate& to, ReadError* error) const
{
    bool summary = false;
    bool meter = false;
    if (!hasDaySummary(error, &summary) || !hasMeterHistory(error, &meter))
        return std::nullopt;
    // The month (position 6) or the day (position 9) of each day in [from, to) with readings,
    // or with a meter's history.
    const QString column = summary ? QStringLiteral("Day") : QStringLiteral("Data");
    QString days = QStringLiteral("SELECT %1 AS Key FROM %2 WHERE %1 >= ? AND %1 < ?%3")
                       .arg(column, summary ? EnergyDatabase::kDayTable : QStringLiteral("Energy"),
                            summary ? QString() : QStringLiteral(" AND ") + kOwnForm);
    const QVariantList period{dayKey(from), dayKey(to)};
    QVariantList bounds = period;
    if (meter) {
        days += QStringLiteral(" UNION ALL SELECT Hour FROM %1 WHERE Hour >= ? AND Hour < ? "
                               "UNION ALL SELECT Day FROM %2 WHERE Day >= ? AND Day < ?")
                    .arg(EnergyDatabase::kMeterHourTable, EnergyDatabase::kMeterDayTable);
        bounds << period << period;
    }
    const QString sql =
        QStringLiteral("SELECT DISTINCT CAST(substr(Key, %1, 2) AS INTEGER) FROM (%2) ORDER BY 1")
            .arg(position)
            .arg(days);
    return readNumbers(m_db, sql, bounds, error);
}

std::optional<ChartSeries> ChartQueries::series(ChartType type, const QDate& date, ReadError* error,
                                                const ReadTicket* ticket) const
{
    const QDate first = chartPeriodStart(type, date);
    if (!first.isValid()) {
        *error = {{}, QStringLiteral("No valid date for the chart.")};
        return std::nullopt;
    }

    if (type == ChartType::Daily) {
        QSqlQuery query(m_db);
        if (!run(query,
                 QStringLiteral("SELECT CAST(substr(Data, 12, 2) AS INTEGER) * 60 + "
                                "CAST(substr(Data, 15, 2) AS INTEGER), avg(W), max(W) "
                                "FROM Energy WHERE Data >= ? AND Data < ? AND W IS NOT NULL "
                                "AND %1 GROUP BY 1 ORDER BY 1")
                     .arg(kOwnForm),
                 {dayKey(first), dayKey(first.addDays(1))}, error))
            return std::nullopt;
        QList<MinuteGroup> minutes;
        minutes.reserve(24 * 60);
        while (query.next()) {
            if (ticket && ticket->isCancelled())
                return std::nullopt;
            minutes << MinuteGroup{query.value(0).toInt(), query.value(1).toDouble(),
                                   query.value(2).toLongLong()};
        }
        return dailySeries(first, minutes);
    }

    bool summary = false;
    if (!hasDaySummary(error, &summary))
        return std::nullopt;
    // Days (or years) of the summary, or the same groups counted from Energy.
    const QString source =
        summary ? QStringLiteral("EnergyDay")
                : QStringLiteral("(SELECT substr(Data, 1, 10) AS Day, count(W) AS Samples, "
                                 "sum(W) AS SumW, max(W) AS MaxW FROM Energy "
                                 "WHERE Data >= ? AND Data < ? AND W IS NOT NULL AND %1 "
                                 "GROUP BY 1)")
                      .arg(kOwnForm);
    const bool monthly = type == ChartType::Monthly;
    const QDate end = monthly ? first.addMonths(1) : first.addYears(ChartSeries::kYears);
    const QString key = monthly ? QStringLiteral("CAST(substr(Day, 9, 2) AS INTEGER)")
                                : QStringLiteral("CAST(substr(Day, 1, 4) AS INTEGER)");
    const QVariantList bounds{dayKey(first), end.isValid() ? dayKey(end) : QStringLiteral("~")};
    const std::optional<QList<PeriodGroup>> groups = readGroups(
        m_db,
        QStringLiteral("SELECT %1, CAST(sum(SumW) AS REAL) / sum(Samples), max(MaxW) FROM %2 "
                       "WHERE Day >= ? AND Day < ? AND Samples > 0 GROUP BY 1")
            .arg(key, source),
        summary ? bounds : bounds + bounds, error, ticket);
    if (!groups)
        return std::nullopt;
    return monthly ? monthlySeries(first, *groups) : yearlySeries(first, *groups);
}

// Emits the answers from the reader's thread; queued connections carry them to the source.
// Shared with the jobs still waiting, so it outlives a source destroyed before they run.
class ChartSource::Answers : public QObject
{
    Q_OBJECT
signals:
    void rangeRead(const powerlog::RecordedRange& range, bool ok);
    void monthsRead(int year, const QList<int>& months, bool ok);
    void daysRead(int year, int month, const QList<int>& days, bool ok);
    void chartRead(quint64 generation, const powerlog::ChartSeries& series);
    void chartFailed(quint64 generation, const powerlog::ReadError& error);
};

ChartSource::ChartSource(DatabaseReader& reader, QObject* parent)
    : QObject(parent), m_reader(reader), m_answers(std::make_shared<Answers>())
{
    connect(m_answers.get(), &Answers::rangeRead, this, &ChartSource::rangeRead,
            Qt::QueuedConnection);
    connect(m_answers.get(), &Answers::monthsRead, this, &ChartSource::monthsRead,
            Qt::QueuedConnection);
    connect(m_answers.get(), &Answers::daysRead, this, &ChartSource::daysRead,
            Qt::QueuedConnection);
    connect(
        m_answers.get(), &Answers::chartRead, this,
        [this](quint64 generation, const ChartSeries& series) {
            if (generation == m_chartGeneration)
                emit chartRead(series);
        },
        Qt::QueuedConnection);
    connect(
        m_answers.get(), &Answers::chartFailed, this,
        [this](quint64 generation, const ReadError& error) {
            if (generation == m_chartGeneration)
                emit chartFailed(error);
        },
        Qt::QueuedConnection);
}

ChartSource::~ChartSource()
{
    cancelChart();
    // Jobs that still hold the answers emit into nothing from now on.
    m_answers->disconnect();
}

void ChartSource::requestRange()
{
    m_reader.read(
        [answers = m_answers](QSqlDatabase db, const QString& openError, const ReadTicket&) {
            if (!db.isValid()) {
                emit answers->rangeRead({}, false);
                return;
            }
            ReadError error;
            const std::optional<RecordedRange> range = ChartQueries(db).recordedRange(&error);
            emit answers->rangeRead(range.value_or(RecordedRange{}), range.has_value());
            Q_UNUSED(openError);
        });
}

void ChartSource::requestMonths(int year)
{
    m_reader.read([answers = m_answers, year](QSqlDatabase db, const QString&, const ReadTicket&) {
        ReadError error;
        const std::optional<QList<int>> months =
            db.isValid() ? ChartQueries(db).monthsWithReadings(year, &error) : std::nullopt;
        emit answers->monthsRead(year, months.value_or(QList<int>{}), months.has_value());
    });
}

void ChartSource::requestDays(int year, int month)
{
    m_reader.read([answers = m_answers, year, month](QSqlDatabase db, const QString&,
                                                     const ReadTicket&) {
        ReadError error;
        const std::optional<QList<int>> days =
            db.isValid() ? ChartQueries(db).daysWithReadings(year, month, &error) : std::nullopt;
        emit answers->daysRead(year, month, days.value_or(QList<int>{}), days.has_value());
    });
}

void ChartSource::requestChart(ChartType type, const QDate& date)
{
    cancelChart();
    const quint64 generation = m_chartGeneration;
    m_chartTicket =
        m_reader.read([answers = m_answers, generation, type,
                       date](QSqlDatabase db, const QString& openError, const ReadTicket& ticket) {
            if (ticket.isCancelled())
                return;
            if (!db.isValid()) {
                emit answers->chartFailed(generation, ReadError{{}, openError});
                return;
            }
            ReadError error;
            const std::optional<ChartSeries> series =
                ChartQueries(db).series(type, date, &error, &ticket);
            if (series)
                emit answers->chartRead(generation, *series);
            else if (!ticket.isCancelled())
                emit answers->chartFailed(generation, error);
        });
}

void ChartSource::cancelChart()
{
    ++m_chartGeneration;
    if (m_chartTicket)
        m_chartTicket->cancel();
    m_chartTicket.reset();
}

} // namespace powerlog

#include "chartqueries.moc"
