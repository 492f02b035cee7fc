// `powerlog-cli series` run as users run it, on small files made by the program's own code. The
// printed charts are checked against the chart rules computed here, in plain C++ over the rows
// the test wrote, and against a few hand-worked lines.

#include "acquisition/energydatabase.h"
#include "support/sqlfile.h"
#include "support/toolrun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <charconv>
#include <cmath>
#include <csignal>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

using powerlog::EnergyDatabase;
using powerlog::test::SqlFile;
using powerlog::test::ToolRun;
using powerlog::test::writeEnergyOnlyFile;

namespace {

ToolRun runCli(const QStringList& arguments)
{
    return powerlog::test::runTool(QStringLiteral(POWERLOG_CLI), arguments,
                                   powerlog::test::toolEnvironment());
}

// One reading as the program stores it: Data 'yyyy-MM-dd HH:mm:ss' and its power.
struct Row
{
    QString data;
    qint64 w = 0;
};

// ---- the chart rules, written out for the test --------------------------------------------

// To the nearest whole number, a half to the even neighbour.
double roundHalfToEven(double value)
{
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

// Mean and largest power of a set of readings.
struct Group
{
    qint64 sum = 0;
    int count = 0;
    qint64 max = 0;

    void add(qint64 w)
    {
        max = count == 0 ? w : std::max(max, w);
        sum += w;
        ++count;
    }
    double mean() const { return double(sum) / count; }
};

struct ExpectedChart
{
    std::vector<float> avg; // index g - 1 is group g
    std::vector<qint64> max;
    qint64 chartAvg = 0;
    qint64 chartMax = 0;
};

// The chart's average and maximum over the group means (or minute means) that hold readings.
void finish(ExpectedChart& chart, const std::vector<double>& means, qint64 largest)
{
    double total = 0;
    for (const double mean : means)
        total += mean;
    chart.chartAvg = means.empty() ? 0 : qint64(std::trunc(total / double(means.size())));
    chart.chartMax = largest;
}

ExpectedChart expectedDaily(const QList<Row>& rows, const QDate& day)
{
    const QString prefix = day.toString(Qt::ISODate) + QLatin1Char(' ');
    std::map<int, Group> minutes; // minute of the day -> its readings, in time order
    for (const Row& row : rows) {
        if (row.data.startsWith(prefix))
            minutes[row.data.mid(11, 2).toInt() * 60 + row.data.mid(14, 2).toInt()].add(row.w);
    }
    ExpectedChart chart;
    chart.avg.assign(48, 0.0f);
    chart.max.assign(48, 0);
    std::vector<qint32> slotSums(48, 0);
    std::vector<int> slotMinutes(48, 0);
    std::vector<double> means;
    qint64 largest = 0;
    for (const auto& [minute, group] : minutes) {
        const int slot = minute / 30;
        slotSums[slot] = qint32(roundHalfToEven(double(slotSums[slot]) + group.mean()));
        chart.max[slot] = slotMinutes[slot] == 0 ? group.max : std::max(chart.max[slot], group.max);
        ++slotMinutes[slot];
        means.push_back(group.mean());
        largest = std::max(largest, group.max);
    }
    for (int slot = 0; slot < 48; ++slot) {
        if (slotMinutes[slot] > 0)
            chart.avg[slot] = float(slotSums[slot]) / float(slotMinutes[slot]);
    }
    finish(chart, means, largest);
    return chart;
}

// Monthly (days of the month) and yearly (31 years) charts: per group the mean of its readings.
ExpectedChart expectedPeriod(const QList<Row>& rows, const QDate& date, bool monthly)
{
    const int groups = monthly ? date.daysInMonth() : 31;
    std::map<int, Group> byGroup; // 1-based group -> its readings
    for (const Row& row : rows) {
        const QDate day = QDate::fromString(row.data.left(10), Qt::ISODate);
        const int group =
            monthly ? (day.year() == date.year() && day.month() == date.month() ? day.day() : 0)
                    : day.year() - date.year() + 1;
        if (group >= 1 && group <= groups)
            byGroup[group].add(row.w);
    }
    ExpectedChart chart;
    chart.avg.assign(std::size_t(groups), 0.0f);
    chart.max.assign(std::size_t(groups), 0);
    std::vector<double> means;
    qint64 largest = 0;
    for (const auto& [group, readings] : byGroup) {
        chart.avg[std::size_t(group - 1)] = float(readings.mean());
        chart.max[std::size_t(group - 1)] = readings.max;
        means.push_back(readings.mean());
        largest = std::max(largest, readings.max);
    }
    finish(chart, means, largest);
    return chart;
}

ExpectedChart expectedChart(const QList<Row>& rows, const QString& type, const QDate& date)
{
    if (type == QLatin1String("daily"))
        return expectedDaily(rows, date);
    return expectedPeriod(rows, date, type == QLatin1String("monthly"));
}

QString shortestText(float value)
{
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, written.ptr - text);
}

// The output the tool must print for a chart.
QString printed(const ExpectedChart& chart)
{
    QString text = QStringLiteral("group,avg,max\n");
    for (std::size_t g = 0; g < chart.avg.size(); ++g)
        text += QStringLiteral("%1,%2,%3\n")
                    .arg(g + 1)
                    .arg(shortestText(chart.avg[g]))
                    .arg(chart.max[g]);
    return text +
           QStringLiteral("chart_avg=%1,chart_max=%2\n").arg(chart.chartAvg).arg(chart.chartMax);
}

// ---- the fixture ------------------------------------------------------------------------

QList<Row> rowsAt(const QString& minute, const QList<qint64>& powers)
{
    QList<Row> rows;
    for (int i = 0; i < powers.size(); ++i)
        rows.append({QStringLiteral("%1:%2").arg(minute).arg(i * 10, 2, 10, QLatin1Char('0')),
                     powers.at(i)});
    return rows;
}

// Readings for every case: a day with hand-worked half hours, days around month and year ends,
// two dates whose day and month digits run together alike, and years at both ends of a range.
QList<Row> fixtureRows()
{
    QList<Row> rows;
    // 2026-03-14, half hour 1: the minutes 00:05 (mean 150) and 00:20 (mean 300) average to
    // 225; the mean of all three readings would be 200.
    rows += rowsAt(QStringLiteral("2026-03-14 00:05"), {100, 200});
    rows += rowsAt(QStringLiteral("2026-03-14 00:20"), {300});
    // Half hour 2: one minute of mean 100.5, made 100 (halves go to the even neighbour).
    rows += rowsAt(QStringLiteral("2026-03-14 00:30"), {100, 101});
    // Half hour 3: one minute of mean 101.5, made 102.
    rows += rowsAt(QStringLiteral("2026-03-14 01:00"), {101, 102});
    // Half hour 4: 100.5 -> 100, then 100 + 101.5 -> 202: an average of 101.
    rows += rowsAt(QStringLiteral("2026-03-14 01:30"), {100, 101});
    rows += rowsAt(QStringLiteral("2026-03-14 01:31"), {101, 102});
    // Over the scale of any chart, and the last second of the day.
    rows += rowsAt(QStringLiteral("2026-03-14 12:00"), {20000, 20000, 19999});
    rows.append({QStringLiteral("2026-03-14 23:59:59"), 50});
    // Neighbours that belong to other days.
    rows.append({QStringLiteral("2026-03-13 23:59:59"), 7000});
    rows.append({QStringLiteral("2026-03-15 00:00:00"), 7000});

    // Month ends: 28, 29, 30 and 31 days, with the first day of the next month beside them.
    for (const char* day :
         {"2026-02-01", "2026-02-28", "2026-03-01", "2024-02-28", "2024-02-29", "2024-03-01",
          "2026-04-01", "2026-04-30", "2026-05-01", "2026-03-31", "2026-12-31", "2027-01-01"})
        rows += rowsAt(QLatin1String(day) + QStringLiteral(" 10:00"),
                       {int(QDate::fromString(QLatin1String(day), Qt::ISODate).dayOfYear()), 333});
    // 1 November and 11 January of the same year: "1" "11" and "11" "1" run together alike.
    rows += rowsAt(QStringLiteral("2026-11-01 08:00"), {1000, 1100});
    rows += rowsAt(QStringLiteral("2026-01-11 08:00"), {3000, 3300});

    // Years around the 31 from 2009: 2008 and 2040 lie outside.
    for (const char* day : {"2008-12-31", "2009-01-01", "2020-07-15", "2039-12-31", "2040-01-01"})
        rows += rowsAt(QLatin1String(day) + QStringLiteral(" 23:59"),
                       {QString::fromLatin1(day).left(4).toInt(), 5});
    return rows;
}

bool insertRows(const SqlFile& file, const QList<Row>& rows)
{
    QSqlDatabase db = file.db();
    QSqlQuery insert(db);
    if (!db.transaction() || !insert.prepare(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) "
                                                            "VALUES (230, 1, ?, 0, ?)")))
        return false;
    for (const Row& row : rows) {
        insert.bindValue(0, row.w);
        insert.bindValue(1, row.data);
        if (!insert.exec())
            return false;
    }
    return db.commit();
}

QList<Row> rowsOf(const SqlFile& file)
{
    QList<Row> rows;
    QSqlQuery query(file.db());
    query.exec(QStringLiteral("SELECT Data, W FROM Energy"));
    while (query.next())
        rows.append({query.value(0).toString(), query.value(1).toLongLong()});
    return rows;
}

QStringList seriesArguments(const QString& folder, const QString& type, const QString& date)
{
    return {QStringLiteral("--folder"), folder, QStringLiteral("series"), type, date};
}

} // namespace

class TestCliSeries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void handWorkedDailyChart();
    void dayWithoutReadings();
    void chartsFollowTheRules_data();
    void chartsFollowTheRules();
    void fileWithoutSummariesGivesTheSameCharts_data();
    void fileWithoutSummariesGivesTheSameCharts();
    void signalStopsTheBuilding_data();
    void signalStopsTheBuilding();
    void wrongUsageExits64_data();
    void wrongUsageExits64();
    void unusableFilesExit2_data();
    void unusableFilesExit2();

private:
    QString m_folder; // DbEnergy.mdb with the fixture rows, made once
    QList<Row> m_rows;
    QTemporaryDir m_dir;
};

void TestCliSeries::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_folder = m_dir.filePath(QStringLiteral("fixture"));
    QVERIFY(QDir().mkpath(m_folder));
    const QString path = QDir(m_folder).filePath(EnergyDatabase::kFileName);
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(path, &error), qPrintable(error));
    m_rows = fixtureRows();
    const SqlFile file(path);
    QVERIFY(insertRows(file, m_rows));
    // The trigger filled the summaries the monthly and yearly charts read.
    QCOMPARE(file.value(QStringLiteral("SELECT sum(Samples) FROM EnergyDay")).toInt(),
             m_rows.size());
}

void TestCliSeries::handWorkedDailyChart()
{
    const ToolRun run =
        runCli(seriesArguments(m_folder, QStringLiteral("daily"), QStringLiteral("2026-03-14")));

    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1 + 48 + 1 + 1); // header, half hours, totals, the last line's end
    QCOMPARE(lines.at(0), QStringLiteral("group,avg,max"));
    QCOMPARE(lines.at(1), QStringLiteral("1,225,300"));
    QCOMPARE(lines.at(2), QStringLiteral("2,100,101"));
    QCOMPARE(lines.at(3), QStringLiteral("3,102,102"));
    QCOMPARE(lines.at(4), QStringLiteral("4,101,102"));
    QCOMPARE(lines.at(5), QStringLiteral("5,0,0"));
    // 12:00, above the scale: one minute of mean 19999.67, made 20000.
    QCOMPARE(lines.at(25), QStringLiteral("25,20000,20000"));
    QCOMPARE(lines.at(48), QStringLiteral("48,50,50"));
    // Minute means 150, 300, 100.5, 101.5, 100.5, 101.5, 19999.67 and 50, unrounded:
    // 20903.67 / 8 = 2612.96.
    QCOMPARE(lines.at(49), QStringLiteral("chart_avg=2612,chart_max=20000"));
    QCOMPARE(lines.at(50), QString());
}

void TestCliSeries::dayWithoutReadings()
{
    const ToolRun run =
        runCli(seriesArguments(m_folder, QStringLiteral("daily"), QStringLiteral("2026-06-01")));

    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QString expected = QStringLiteral("group,avg,max\n");
    for (int slot = 1; slot <= 48; ++slot)
        expected += QStringLiteral("%1,0,0\n").arg(slot);
    expected += QStringLiteral("chart_avg=0,chart_max=0\n");
    QCOMPARE(run.out, expected);
}

void TestCliSeries::chartsFollowTheRules_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("groups");

    QTest::newRow("daily, minutes and halves") << "daily"
                                               << "2026-03-14" << 48;
    QTest::newRow("daily, 1 November") << "daily"
                                       << "2026-11-01" << 48;
    QTest::newRow("daily, 11 January") << "daily"
                                       << "2026-01-11" << 48;
    QTest::newRow("monthly, 28 days") << "monthly"
                                      << "2026-02-14" << 28;
    QTest::newRow("monthly, 29 days") << "monthly"
                                      << "2024-02-01" << 29;
    QTest::newRow("monthly, 30 days") << "monthly"
                                      << "2026-04-30" << 30;
    QTest::newRow("monthly, 31 days") << "monthly"
                                      << "2026-03-31" << 31;
    QTest::newRow("monthly, December to January") << "monthly"
                                                  << "2026-12-05" << 31;
    QTest::newRow("monthly, November") << "monthly"
                                       << "2026-11-20" << 30;
    QTest::newRow("monthly, January") << "monthly"
                                      << "2026-01-01" << 31;
    QTest::newRow("monthly, no readings") << "monthly"
                                          << "2025-07-07" << 31;
    QTest::newRow("yearly, 2009 to 2039") << "yearly"
                                          << "2009-06-30" << 31;
    QTest::newRow("yearly, from 2024") << "yearly"
                                       << "2024-12-31" << 31;
}

void TestCliSeries::chartsFollowTheRules()
{
    QFETCH(QString, type);
    QFETCH(QString, date);
    QFETCH(int, groups);
    const ExpectedChart expected =
        expectedChart(m_rows, type, QDate::fromString(date, Qt::ISODate));
    QCOMPARE(int(expected.avg.size()), groups);

    const ToolRun run = runCli(seriesArguments(m_folder, type, date));

    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, printed(expected));
}

// The line a read-only file without summaries gets on stderr, before the slow reading.
const QString kNoSummariesLine =
    QStringLiteral("powerlog-cli: the file has no summary tables; a writable copy builds them: "
                   "powerlog-cli check --folder <folder of the copy>\n");

void TestCliSeries::fileWithoutSummariesGivesTheSameCharts_data()
{
    QTest::addColumn<bool>("writable");
    // The summaries are built first, with the progress on stderr, and kept.
    QTest::newRow("writable") << true;
    // One line says they are missing; the charts come from Energy alone.
    QTest::newRow("read-only") << false;
}

void TestCliSeries::fileWithoutSummariesGivesTheSameCharts()
{
    QFETCH(bool, writable);
    // Three days of readings every 10 s across the end of February, once in a file with only
    // Energy (as another program writes it), once in one made by the program, filled by its
    // trigger.
    constexpr int kRows = 3 * 8640;
    const QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bare = dir.filePath(QStringLiteral("bare"));
    const QString built = dir.filePath(QStringLiteral("built"));
    QVERIFY(QDir().mkpath(bare));
    QVERIFY(QDir().mkpath(built));
    const QString barePath = QDir(bare).filePath(EnergyDatabase::kFileName);
    const QString builtPath = QDir(built).filePath(EnergyDatabase::kFileName);
    QVERIFY(writeEnergyOnlyFile(barePath, kRows, QStringLiteral("2028-02-28")));
    QVERIFY(EnergyDatabase::createEmpty(builtPath));
    QList<Row> rows;
    {
        const SqlFile file(builtPath);
        QVERIFY(file.exec(QStringLiteral("ATTACH DATABASE '%1' AS bare").arg(barePath)));
        QVERIFY(file.exec(QStringLiteral("INSERT INTO Energy SELECT * FROM bare.Energy")));
        QVERIFY(file.exec(QStringLiteral("DETACH DATABASE bare")));
        QCOMPARE(file.value(QStringLiteral("SELECT sum(Samples) FROM EnergyDay")).toInt(), kRows);
        rows = rowsOf(file);
    }
    QCOMPARE(rows.size(), kRows);
    // Read-only for the tool: the file and its folder, and for a superuser, who writes
    // whatever the modes say, the tool runs as nobody.
    const auto run = [writable, &dir](const QStringList& arguments) {
        if (writable || geteuid() != 0)
            return runCli(arguments);
        return powerlog::test::runTool(QStringLiteral("setpriv"),
                                       QStringList{"--reuid=65534", "--regid=65534",
                                                   "--clear-groups", QStringLiteral(POWERLOG_CLI)} +
                                           arguments,
                                       powerlog::test::toolEnvironment());
    };
    if (!writable) {
        QVERIFY(QFile::setPermissions(barePath,
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const QFile::Permissions readable = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                            QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(bare, readable));
        QVERIFY(QFile::setPermissions(dir.path(), readable));
    }

    bool first = true;
    for (const auto& [type, date] : {std::pair{"daily", "2028-02-29"},
                                     {"daily", "2028-03-01"},
                                     {"monthly", "2028-02-10"},
                                     {"monthly", "2028-03-10"},
                                     {"yearly", "2028-01-01"}}) {
        const QString expected = printed(expectedChart(
            rows, QLatin1String(type), QDate::fromString(QLatin1String(date), Qt::ISODate)));
        const QString where = QStringLiteral("%1 %2").arg(QLatin1String(type), QLatin1String(date));
        const ToolRun fromBuilt =
            runCli(seriesArguments(built, QLatin1String(type), QLatin1String(date)));
        QCOMPARE(fromBuilt.err, QString());
        QVERIFY2(fromBuilt.out == expected, qPrintable(where + QLatin1Char('\n') + fromBuilt.out));

        const ToolRun fromBare =
            run(seriesArguments(bare, QLatin1String(type), QLatin1String(date)));
        QVERIFY2(fromBare.exitCode == 0, qPrintable(where + QLatin1Char(' ') + fromBare.err));
        QVERIFY2(fromBare.out == expected,
                 qPrintable(
                     QStringLiteral("%1:\n%2\nexpected:\n%3").arg(where, fromBare.out, expected)));
        if (!writable)
            QCOMPARE(fromBare.err, kNoSummariesLine);
        else if (first)
            QVERIFY2(fromBare.err.endsWith(QStringLiteral("building summary tables: 100%\n")),
                     qPrintable(fromBare.err));
        else
            QCOMPARE(fromBare.err, QString()); // built once, kept by the trigger
        first = false;
    }
    QVERIFY(
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const SqlFile file(barePath);
    QCOMPARE(file.value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN "
                                       "('EnergyHalfHour', 'EnergyDay', 'EnergyByData', "
                                       "'EnergySummariesOnInsert', 'EnergyHourOnInsert')"))
                 .toInt(),
             writable ? 5 : 0);
}

void TestCliSeries::signalStopsTheBuilding_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

// A signal while the summaries are built ends the tool as the signal does, once the building
// has stopped: the file is whole and still without them, and the next run builds them.
void TestCliSeries::signalStopsTheBuilding()
{
    QFETCH(int, signal);
    // Enough readings that the building takes seconds.
    constexpr int kRows = 1500000;
    const QTemporaryDir dir;
    const QString path = dir.filePath(EnergyDatabase::kFileName);
    QVERIFY(writeEnergyOnlyFile(path, kRows, QStringLiteral("2026-01-01")));
    const QStringList arguments =
        seriesArguments(dir.path(), QStringLiteral("yearly"), QStringLiteral("2026-01-01"));

    QProcess tool;
    tool.setProcessEnvironment(powerlog::test::toolEnvironment());
    tool.start(QStringLiteral(POWERLOG_CLI), arguments);
    QString err;
    // The index is being made: past its first percent, far from the end.
    QVERIFY(QTest::qWaitFor(
        [&] {
            err += QString::fromUtf8(tool.readAllStandardError());
            return err.contains(QStringLiteral("building summary tables: 1%")) ||
                   tool.state() == QProcess::NotRunning;
        },
        120000));
    QCOMPARE(tool.state(), QProcess::Running);
    QCOMPARE(::kill(pid_t(tool.processId()), signal), 0);
    QVERIFY(tool.waitForFinished(120000));
    err += QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
    QVERIFY2(err.endsWith(QStringLiteral("powerlog-cli: stopped; the file is as it was, and the "
                                         "summary tables are built at the next run\n")),
             qPrintable(err));
    QCOMPARE(tool.readAllStandardOutput(), QByteArray());
    {
        const SqlFile file(path);
        QCOMPARE(file.value(QStringLiteral("PRAGMA integrity_check")).toString(),
                 QStringLiteral("ok"));
        QCOMPARE(file.rows(), kRows);
        QCOMPARE(file.value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = "
                                           "'trigger'"))
                     .toInt(),
                 0);
    }

    const ToolRun next = runCli(arguments);
    QCOMPARE(next.exitCode, 0);
    QVERIFY2(next.err.endsWith(QStringLiteral("building summary tables: 100%\n")),
             qPrintable(next.err));
    QVERIFY(next.out.startsWith(QStringLiteral("group,avg,max\n")));
}

void TestCliSeries::wrongUsageExits64_data()
{
    QTest::addColumn<QStringList>("arguments"); // after `series`
    QTest::addColumn<QString>("complaint");

    QTest::newRow("nothing") << QStringList{} << QStringLiteral("chart type");
    QTest::newRow("no date") << QStringList{QStringLiteral("daily")}
                             << QStringLiteral("chart type");
    QTest::newRow("one too many") << QStringList{QStringLiteral("daily"),
                                                 QStringLiteral("2026-03-14"), QStringLiteral("x")}
                                  << QStringLiteral("chart type");
    QTest::newRow("weekly") << QStringList{QStringLiteral("weekly"), QStringLiteral("2026-03-14")}
                            << QStringLiteral("weekly");
    for (const char* date : {"2026-02-29", "2026-13-01", "2026-04-31", "2026-3-14", "20260314",
                             "2026-03-14T00:00", "14/03/2026", "today"}) {
        QTest::addRow("date %s", date)
            << QStringList{QStringLiteral("monthly"), QString::fromLatin1(date)}
            << QString::fromLatin1(date);
    }
}

void TestCliSeries::wrongUsageExits64()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);

    const ToolRun run = runCli(
        QStringList{QStringLiteral("--folder"), m_folder, QStringLiteral("series")} + arguments);

    QCOMPARE(run.exitCode, 64);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(complaint), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("Usage: powerlog-cli")), qPrintable(run.err));
}

void TestCliSeries::unusableFilesExit2_data()
{
    QTest::addColumn<QByteArray>("content"); // of DbEnergy.mdb; empty: no file at all
    QTest::addColumn<QString>("table");      // made in it when not empty

    QTest::newRow("no file") << QByteArray() << QString();
    QTest::newRow("not a database") << QByteArray(4096, 'x') << QString();
    QTest::newRow("no Energy table") << QByteArray() << QStringLiteral("Other");
}

void TestCliSeries::unusableFilesExit2()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, table);
    const QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(EnergyDatabase::kFileName);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }
    if (!table.isEmpty())
        QVERIFY(SqlFile(path).exec(QStringLiteral("CREATE TABLE %1 (x)").arg(table)));
    const QStringList filesBefore = QDir(folder.path()).entryList(QDir::Files);

    const ToolRun run = runCli(
        seriesArguments(folder.path(), QStringLiteral("daily"), QStringLiteral("2026-03-14")));

    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith(QStringLiteral("powerlog-cli: ")), qPrintable(run.err));
    // Nothing is created.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), filesBefore);
}

QTEST_GUILESS_MAIN(TestCliSeries)
#include "test_cliseries.moc"
