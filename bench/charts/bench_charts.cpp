// The charts on ten years of readings. Works on a copy of the generated file after its first
// open (index and summary tables built; the built file is kept as --prepared and reused):
//   ours      ChartQueries::series for daily, monthly and yearly charts of dates spread over
//             the recorded years, on a read-only connection as the charts window reads;
//   opening   what the charts window does when it opens, through DatabaseReader and
//             ChartSource with this thread's event loop running: the recorded range, the months
//             of the last year, the days of its last month, then the daily chart of the last
//             day; the time from the first request to chartRead;
//   baseline  each chart the old way on the same engine and file: one GROUP BY over the whole
//             Energy table, as the program's first version asked its database, on one date.
// The baseline's groups must give the same charts as ours, or the run fails.
// Figures go to standard output as name=value lines (bench/charts.sh collects them).

#include "../database/benchsupport.h"
#include "acquisition/chartqueries.h"
#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "acquisition/sqliteconnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>

using namespace powerlog;
using namespace powerlog::bench;

namespace {

struct Options
{
    BenchFiles files;
    int runs = 3;
    int dates = 15;
    QDate baselineDate; // invalid: picked from the spread dates
};

std::optional<Options> parse(const QCoreApplication& app)
{
    BenchCommandLine line(
        QStringLiteral("Times the charts' reads of a large energy database, against one GROUP BY "
                       "over the whole table per chart."),
        BenchCommandLine::Prepared::Taken,
        QStringLiteral("Folder for the copy (removed after use)."));
    const QCommandLineOption runs(QStringLiteral("runs"),
                                  QStringLiteral("Measurements of every case (default 3)."),
                                  QStringLiteral("R"), QStringLiteral("3"));
    const QCommandLineOption dates(QStringLiteral("dates"),
                                   QStringLiteral("Dates spread over the readings (default 15)."),
                                   QStringLiteral("N"), QStringLiteral("15"));
    const QCommandLineOption baseline(
        QStringLiteral("baseline-date"),
        QStringLiteral("The date of the baseline's charts (default: picked from the dates)."),
        QStringLiteral("YYYY-MM-DD"));
    line.addOptions({runs, dates, baseline});
    if (!line.process(app))
        return {};
    Options options{.files = line.files(),
                    .runs = line.number(runs, 1),
                    .dates = line.number(dates, 1),
                    .baselineDate = {}};
    if (line.isSet(baseline)) {
        options.baselineDate = QDate::fromString(line.value(baseline), Qt::ISODate);
        if (!options.baselineDate.isValid()) {
            std::fprintf(stderr, "--baseline-date takes a date YYYY-MM-DD\n");
            return {};
        }
    }
    return options;
}

const char* nameOf(ChartType type)
{
    switch (type) {
    case ChartType::Daily:
        return "daily";
    case ChartType::Monthly:
        return "monthly";
    case ChartType::Yearly:
        return "yearly";
    }
    return "?";
}

constexpr ChartType kChartTypes[] = {ChartType::Daily, ChartType::Monthly, ChartType::Yearly};

double elapsedMs(const QElapsedTimer& clock)
{
    return clock.nsecsElapsed() / 1e6;
}

// The CPU time of this thread, ms: beside the wall-clock time it shows what other work on a
// shared machine added to a measurement.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// A file with the summaries of this version: EnergyDay and the trigger that fills both tables.
bool hasCurrentSummaries(const QString& file)
{
    if (!QFileInfo(file).isFile())
        return false;
    const SqliteConnection connection(QStringLiteral("bench-charts-schema"), file,
                                      SqliteMode::ReadOnly);
    QSqlQuery query(connection.db());
    return connection.opened() &&
           query.exec(QStringLiteral(
               "SELECT count(*) FROM sqlite_master WHERE (type = 'table' AND name IN "
               "('EnergyHalfHour', 'EnergyDay')) OR (type = 'trigger' AND name = "
               "'EnergySummariesOnInsert') OR (type = 'index' AND name = 'EnergyByData')")) &&
           query.next() && query.value(0).toInt() == 4;
}

// The day, month and year run together without leading zeros, as the first version keyed
// its days: 1 November and 11 January of a year both give "1112026".
QString oldDayKey(const QDate& date)
{
    return QStringLiteral("%1%2%3").arg(date.day()).arg(date.month()).arg(date.year());
}

// True when another real date within [first, last] has the same old day key as a day of
// `date`'s month: the baseline would merge their readings, and its charts would be wrong.
bool oldKeysCollide(const QDate& date, const QDate& first, const QDate& last)
{
    std::set<QString> keys;
    const QDate start(date.year(), date.month(), 1);
    for (QDate day = start; day.month() == date.month(); day = day.addDays(1))
        keys.insert(oldDayKey(day));
    for (QDate other(date.year(), 1, 1); other.year() == date.year(); other = other.addDays(1)) {
        if (other.month() != date.month() && other >= first && other <= last &&
            keys.count(oldDayKey(other)))
            return true;
    }
    return false;
}

// The old program's queries, translated to SQLite as they were: every chart groups the whole
// table and keeps the groups whose last reading falls in the period.
QString oldDayKeySql()
{
    return QStringLiteral("(CAST(substr(Data, 9, 2) AS INTEGER) || CAST(substr(Data, 6, 2) AS "
                          "INTEGER) || CAST(substr(Data, 1, 4) AS INTEGER))");
}

QString baselineSql(ChartType type, const QDate& date)
{
    const QString day = date.toString(Qt::ISODate);
    const QDate first(date.year(), date.month(), 1);
    switch (type) {
    case ChartType::Daily:
        return QStringLiteral("SELECT max(Data) AS MaxDiData, avg(W) AS MediaDiW, "
                              "(CAST(substr(Data, 12, 2) AS INTEGER) * 100 + "
                              "CAST(substr(Data, 15, 2) AS INTEGER)) AS Tims, max(W) AS MaxDiW, "
                              "%1 AS Espr1 FROM Energy GROUP BY Tims, Espr1 "
                              "HAVING max(Data) BETWEEN '%2' AND '%2 23:59:59' ORDER BY max(Data)")
            .arg(oldDayKeySql(), day);
    case ChartType::Monthly:
        return QStringLiteral(
                   "SELECT max(Data) AS MaxDiData, avg(W) AS MediaDiW, max(W) AS MaxDiW, "
                   "%1 AS Espr1 FROM Energy GROUP BY Espr1 "
                   "HAVING max(Data) BETWEEN '%2' AND '%3 23:59:59' ORDER BY max(Data)")
            .arg(oldDayKeySql(), first.toString(Qt::ISODate),
                 first.addMonths(1).addDays(-1).toString(Qt::ISODate));
    case ChartType::Yearly:
        return QStringLiteral(
            "SELECT substr(Data, 1, 4) AS Anno, avg(W), max(W) FROM Energy GROUP BY 1 ORDER BY 1");
    }
    return {};
}

// The chart the old program drew from its query's groups, by the same rules as ours.
std::optional<ChartSeries> baselineChart(const QSqlDatabase& db, ChartType type, const QDate& date,
                                         QString* error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(baselineSql(type, date))) {
        *error = query.lastError().text();
        return std::nullopt;
    }
    const QDate first = chartPeriodStart(type, date);
    QList<MinuteGroup> minutes;
    QList<PeriodGroup> groups;
    while (query.next()) {
        switch (type) {
        case ChartType::Daily: {
            const int tims = query.value(2).toInt();
            minutes << MinuteGroup{tims / 100 * 60 + tims % 100, query.value(1).toDouble(),
                                   query.value(3).toLongLong()};
            break;
        }
        case ChartType::Monthly:
            groups << PeriodGroup{query.value(0).toString().mid(8, 2).toInt(),
                                  query.value(1).toDouble(), query.value(2).toLongLong()};
            break;
        case ChartType::Yearly:
            groups << PeriodGroup{query.value(0).toInt(), query.value(1).toDouble(),
                                  query.value(2).toLongLong()};
            break;
        }
    }
    if (query.lastError().isValid()) {
        *error = query.lastError().text();
        return std::nullopt;
    }
    switch (type) {
    case ChartType::Daily:
        return dailySeries(first, minutes);
    case ChartType::Monthly:
        return monthlySeries(first, groups);
    case ChartType::Yearly:
        return yearlySeries(first, groups);
    }
    return std::nullopt;
}

// The groups where two charts differ, one per line; empty when they are the same.
QString differences(const ChartSeries& ours, const ChartSeries& baseline)
{
    QStringList lines;
    const int groups = std::max(ours.groupCount(), baseline.groupCount());
    for (int g = 1; g <= groups; ++g) {
        const auto at = [g](const std::vector<float>& values) {
            return g < int(values.size()) ? double(values[std::size_t(g)]) : -1.0;
        };
        if (at(ours.avg) != at(baseline.avg) || at(ours.max) != at(baseline.max))
            lines << QStringLiteral("group %1: ours avg %2 max %3, baseline avg %4 max %5")
                         .arg(g)
                         .arg(at(ours.avg), 0, 'g', 9)
                         .arg(at(ours.max))
                         .arg(at(baseline.avg), 0, 'g', 9)
                         .arg(at(baseline.max));
    }
    if (ours.avgPower != baseline.avgPower || ours.maxPower != baseline.maxPower)
        lines << QStringLiteral("chart: ours avg %1 max %2, baseline avg %3 max %4")
                     .arg(ours.avgPower)
                     .arg(ours.maxPower)
                     .arg(baseline.avgPower)
                     .arg(baseline.maxPower);
    if (lines.isEmpty() && !(ours == baseline))
        lines << QStringLiteral("the periods differ");
    return lines.join(QLatin1Char('\n'));
}

class ChartsBenchmark : public QObject
{
public:
    explicit ChartsBenchmark(Options options) : m_options(std::move(options))
    {
        m_chain.add(this, &ChartsBenchmark::prepare);
        m_chain.add(this, &ChartsBenchmark::pickDates);
        m_chain.add(this, &ChartsBenchmark::measureOurs);
        m_chain.add(this, &ChartsBenchmark::measureOpenings);
        m_chain.add(this, &ChartsBenchmark::measureBaseline);
    }

    void start()
    {
        m_chain.run([this] {
            m_connection.reset();
            QCoreApplication::exit(0);
        });
    }

private:
    QString folder() const { return QDir(m_options.files.work).filePath(QStringLiteral("charts")); }
    QString database() const { return databaseIn(folder()); }

    // The generated file gets its index and summary tables once; later runs copy the result.
    // A kept file of an earlier version is brought up to date the same way.
    void prepare(const StepChain::Next& next)
    {
        if (!hasCurrentSummaries(m_options.files.prepared)) {
            const QString base = QFileInfo(m_options.files.prepared).isFile()
                                     ? m_options.files.prepared
                                     : m_options.files.source;
            if (!prepareFirstOpen(base, m_options.files.prepared))
                return;
        }
        note(QStringLiteral("copy: %1").arg(m_options.files.prepared));
        if (!copyDatabase(m_options.files.prepared, folder()))
            return fail(QStringLiteral("no copy of %1").arg(m_options.files.prepared));
        // One read-only connection, as the charts window's reader opens it.
        m_connection = std::make_unique<SqliteConnection>(QStringLiteral("bench-charts"),
                                                          database(), SqliteMode::ReadOnly);
        next();
    }

    // Dates spread evenly over the recorded days, and the one the baseline runs on.
    void pickDates(const StepChain::Next& next)
    {
        ReadError error;
        const std::optional<RecordedRange> range =
            ChartQueries(m_connection->db()).recordedRange(&error);
        if (!range || range->isEmpty())
            return fail(QStringLiteral("no recorded range: %1").arg(error.description));
        QSqlQuery rows(m_connection->db());
        if (rows.exec(QStringLiteral("SELECT max(rowid) FROM Energy")) && rows.next())
            report("rows", rows.value(0).toDouble());
        const qint64 span = range->first.daysTo(range->last);
        for (int i = 0; i < m_options.dates; ++i)
            m_dates << range->first.addDays((2 * i + 1) * span / (2 * m_options.dates));
        reportText("first_day", range->first.toString(Qt::ISODate));
        reportText("last_day", range->last.toString(Qt::ISODate));
        report("dates", m_dates.size());

        m_baselineDate = m_options.baselineDate;
        if (!m_baselineDate.isValid()) {
            // From the middle outwards, the first date the old day keys keep apart.
            QList<QDate> byDistance = m_dates;
            const QDate middle = m_dates.at(m_dates.size() / 2);
            std::stable_sort(byDistance.begin(), byDistance.end(),
                             [&middle](const QDate& a, const QDate& b) {
                                 return std::abs(a.daysTo(middle)) < std::abs(b.daysTo(middle));
                             });
            for (const QDate& date : byDistance) {
                if (!oldKeysCollide(date, range->first, range->last)) {
                    m_baselineDate = date;
                    break;
                }
            }
            if (!m_baselineDate.isValid())
                return fail(QStringLiteral("every date shares its old day key with another"));
        }
        reportText("baseline_date", m_baselineDate.toString(Qt::ISODate));
        next();
    }

    void measureOurs(const StepChain::Next& next)
    {
        note(QStringLiteral("ours: ChartQueries::series, %1 dates x %2 runs")
                 .arg(m_dates.size())
                 .arg(m_options.runs));
        std::map<ChartType, std::vector<double>> times;
        std::map<ChartType, std::vector<double>> cpuTimes;
        for (int run = 0; run < m_options.runs; ++run) {
            for (const ChartType type : kChartTypes) {
                for (const QDate& date : m_dates) {
                    QElapsedTimer clock;
                    const double cpuBefore = threadCpuMs();
                    clock.start();
                    ReadError error;
                    const std::optional<ChartSeries> series =
                        ChartQueries(m_connection->db()).series(type, date, &error);
                    const double ms = elapsedMs(clock);
                    cpuTimes[type].push_back(threadCpuMs() - cpuBefore);
                    if (!series)
                        return fail(QStringLiteral("ours: %1 %2: %3")
                                        .arg(QLatin1String(nameOf(type)),
                                             date.toString(Qt::ISODate), error.description));
                    if (series->maxPower <= 0)
                        return fail(
                            QStringLiteral("ours: %1 %2: an empty chart")
                                .arg(QLatin1String(nameOf(type)), date.toString(Qt::ISODate)));
                    times[type].push_back(ms);
                }
            }
        }
        for (const ChartType type : kChartTypes) {
            const std::vector<double>& values = times[type];
            report(qPrintable(QStringLiteral("ours_%1_ms").arg(QLatin1String(nameOf(type)))),
                   median(values));
            report(qPrintable(QStringLiteral("ours_%1_max_ms").arg(QLatin1String(nameOf(type)))),
                   *std::max_element(values.begin(), values.end()));
            report(qPrintable(QStringLiteral("ours_%1_cpu_ms").arg(QLatin1String(nameOf(type)))),
                   median(cpuTimes[type]));
        }
        next();
    }

    // One opening after the other, each with a reader and a source of its own.
    void measureOpenings(const StepChain::Next& next)
    {
        note(QStringLiteral("opening: DatabaseReader + ChartSource, %1 runs").arg(m_options.runs));
        m_openingsLeft = m_options.runs;
        m_next = next;
        openOnce();
    }

    void openOnce()
    {
        if (m_openingsLeft-- == 0) {
            report("opening_ms", median(m_openings));
            report("opening_max_ms", *std::max_element(m_openings.begin(), m_openings.end()));
            reportText("opening_day", m_openedDay.toString(Qt::ISODate));
            m_next();
            return;
        }
        auto* reader = new DatabaseReader(folder(), this);
        auto* source = new ChartSource(*reader, this);
        auto clock = std::make_shared<QElapsedTimer>();
        const auto refuse = [](const char* what) {
            fail(QStringLiteral("opening: %1 could not be read").arg(QLatin1String(what)));
        };
        connect(source, &ChartSource::rangeRead, this,
                [source, refuse](const RecordedRange& range, bool ok) {
                    if (!ok || range.isEmpty())
                        return refuse("the recorded range");
                    source->requestMonths(range.last.year());
                });
        connect(source, &ChartSource::monthsRead, this,
                [source, refuse](int year, const QList<int>& months, bool ok) {
                    if (!ok || months.isEmpty())
                        return refuse("the months");
                    source->requestDays(year, months.constLast());
                });
        connect(source, &ChartSource::daysRead, this,
                [source, refuse](int year, int month, const QList<int>& days, bool ok) {
                    if (!ok || days.isEmpty())
                        return refuse("the days");
                    source->requestChart(ChartType::Daily, QDate(year, month, days.constLast()));
                });
        connect(source, &ChartSource::chartFailed, this, [](const ReadError& error) {
            fail(QStringLiteral("opening: %1").arg(error.description));
        });
        connect(
            source, &ChartSource::chartRead, this,
            [this, reader, source, clock](const ChartSeries& series) {
                m_openings.push_back(elapsedMs(*clock));
                m_openedDay = series.first;
                // The window's chart is the one read here directly.
                ReadError error;
                const std::optional<ChartSeries> direct =
                    ChartQueries(m_connection->db()).series(ChartType::Daily, series.first, &error);
                if (!direct || !(*direct == series))
                    return fail(QStringLiteral("opening: the chart of %1 differs from a "
                                               "direct read")
                                    .arg(series.first.toString(Qt::ISODate)));
                // Both go once this signal has returned; the reader waits for its thread.
                QTimer::singleShot(0, this, [this, reader, source] {
                    delete source;
                    delete reader;
                    openOnce();
                });
            });
        clock->start();
        source->requestRange();
    }

    void measureBaseline(const StepChain::Next& next)
    {
        std::map<ChartType, std::vector<double>> times;
        for (int run = 0; run < m_options.runs; ++run) {
            for (const ChartType type : kChartTypes) {
                note(QStringLiteral("baseline: %1 %2, run %3 of %4")
                         .arg(QLatin1String(nameOf(type)), m_baselineDate.toString(Qt::ISODate))
                         .arg(run + 1)
                         .arg(m_options.runs));
                QElapsedTimer clock;
                clock.start();
                QString error;
                const std::optional<ChartSeries> baseline =
                    baselineChart(m_connection->db(), type, m_baselineDate, &error);
                const double ms = elapsedMs(clock);
                if (!baseline)
                    return fail(
                        QStringLiteral("baseline %1: %2").arg(QLatin1String(nameOf(type)), error));
                times[type].push_back(ms);
                ReadError ourError;
                const std::optional<ChartSeries> ours =
                    ChartQueries(m_connection->db()).series(type, m_baselineDate, &ourError);
                if (!ours)
                    return fail(QStringLiteral("ours: %1").arg(ourError.description));
                const QString differing = differences(*ours, *baseline);
                if (!differing.isEmpty())
                    return fail(QStringLiteral("the %1 chart of %2 is not the baseline's:\n%3")
                                    .arg(QLatin1String(nameOf(type)),
                                         m_baselineDate.toString(Qt::ISODate), differing));
            }
        }
        for (const ChartType type : kChartTypes)
            report(qPrintable(QStringLiteral("baseline_%1_ms").arg(QLatin1String(nameOf(type)))),
                   median(times[type]));
        reportText("baseline_agrees", QStringLiteral("yes"));
        next();
    }

    Options m_options;
    StepChain m_chain;
    StepChain::Next m_next;
    std::unique_ptr<SqliteConnection> m_connection;
    QList<QDate> m_dates;
    QDate m_baselineDate;
    int m_openingsLeft = 0;
    std::vector<double> m_openings;
    QDate m_openedDay;
};

} // namespace

int main(int argc, char** argv)
{
    return benchmarkMain<ChartsBenchmark>(argc, argv, parse, {QStringLiteral("charts")});
}
