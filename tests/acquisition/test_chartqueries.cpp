#include "acquisition/chartqueries.h"
#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "acquisition/energyhours.h"
#include "support/sqlfile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;
using powerlog::test::SqlFile;

namespace {

// Readings as (time text, W).
using Rows = QList<QPair<QString, int>>;

bool insertRows(const QString& file, const Rows& rows)
{
    SqlFile sql(file);
    for (const auto& [data, w] : rows) {
        if (!sql.exec(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) "
                                     "VALUES (230, 1, %1, 0, '%2')")
                          .arg(w)
                          .arg(data)))
            return false;
    }
    return true;
}

// A read-only connection of the test's own, as the charts use.
class ReadConnection
{
public:
    explicit ReadConnection(const QString& file) : m_file(file) {}
    QSqlDatabase db() const { return m_file.db(); }

private:
    SqlFile m_file;
};

} // namespace

class TestChartQueries : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void rangeOfAnEmptyTableIsEmpty();
    void rangeListsAndForeignRows();
    void daysOfDifferentMonthsNeverMerge();
    void meterHistoryWidensTheRangeAndLists();
    void fileWithoutSummariesGivesTheSameAnswers_data();
    void fileWithoutSummariesGivesTheSameAnswers();
    void sourceAnswersOnTheCallersThread();
    void newerChartCancelsTheOlder();
    void missingFileFailsTheChart();

private:
    QString file() const { return QDir(m_dir->path()).filePath(EnergyDatabase::kFileName); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestChartQueries::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(file(), &error), qPrintable(error));
}

void TestChartQueries::rangeOfAnEmptyTableIsEmpty()
{
    ReadConnection read(file());
    ReadError error;
    const std::optional<RecordedRange> range = ChartQueries(read.db()).recordedRange(&error);
    QVERIFY(range);
    QVERIFY(range->isEmpty());
    const auto months = ChartQueries(read.db()).monthsWithReadings(2026, &error);
    QVERIFY(months && months->isEmpty());
}

void TestChartQueries::rangeListsAndForeignRows()
{
    QVERIFY(insertRows(file(), {{"2024-12-31 23:59:50", 100},
                                {"2025-03-05 10:00:00", 200},
                                {"2025-03-17 10:00:00", 300},
                                {"2025-11-01 00:00:00", 400},
                                {"2026-02-28 12:00:00", 500},
                                // Another program's text form takes part in nothing.
                                {"01/01/2020 10:00:00", 9999},
                                {"2027-13-99 garbage", 9999}}));
    ReadConnection read(file());
    const ChartQueries queries(read.db());
    ReadError error;
    const std::optional<RecordedRange> range = queries.recordedRange(&error);
    QVERIFY(range);
    QCOMPARE(range->first, QDate(2024, 12, 31));
    QCOMPARE(range->last, QDate(2026, 2, 28));
    QCOMPARE(queries.monthsWithReadings(2025, &error), QList<int>({3, 11}));
    QCOMPARE(queries.monthsWithReadings(2023, &error), QList<int>());
    QCOMPARE(queries.daysWithReadings(2025, 3, &error), QList<int>({5, 17}));
    QCOMPARE(queries.daysWithReadings(2024, 12, &error), QList<int>({31}));
}

// An energy meter's history reaches back before the first reading: its days are offered too,
// so that their energy can be charted.
void TestChartQueries::meterHistoryWidensTheRangeAndLists()
{
    QVERIFY(insertRows(file(), {{"2026-12-05 10:00:00", 200}, {"2026-12-06 10:00:00", 300}}));
    SqlFile sql(file());
    // As the writer makes them on its first open.
    for (const QString& statement : energyhours::meterTableStatements())
        QVERIFY(sql.exec(statement));
    QVERIFY(sql.exec(QStringLiteral("INSERT INTO EnergyMeterDay (Day, WattSeconds) VALUES "
                                    "('2025-03-07', 1), ('2025-12-01', 1), ('2026-12-05', 1)")));
    QVERIFY(sql.exec(QStringLiteral("INSERT INTO EnergyMeterHour (Hour, WattSeconds) VALUES "
                                    "('2025-12-20 00:00', 1), ('2025-12-20 23:00', 1), "
                                    "('2026-11-30 05:00', 1)")));
    ReadConnection read(file());
    const ChartQueries queries(read.db());
    ReadError error;
    const std::optional<RecordedRange> range = queries.recordedRange(&error);
    QVERIFY(range);
    QCOMPARE(range->first, QDate(2025, 3, 7));
    QCOMPARE(range->last, QDate(2026, 12, 6));
    QCOMPARE(queries.monthsWithReadings(2025, &error), QList<int>({3, 12}));
    QCOMPARE(queries.daysWithReadings(2025, 12, &error), QList<int>({1, 20}));
    QCOMPARE(queries.monthsWithReadings(2026, &error), QList<int>({11, 12}));
    QCOMPARE(queries.daysWithReadings(2026, 12, &error), QList<int>({5, 6}));
}

// 1 November and 11 January run together as "1112026" under a day-month-year key; each must
// stay its own day.
void TestChartQueries::daysOfDifferentMonthsNeverMerge()
{
    QVERIFY(insertRows(file(), {{"2026-01-11 10:00:05", 3000},
                                {"2026-01-11 10:00:15", 3000},
                                {"2026-11-01 10:00:05", 100},
                                {"2026-11-01 10:00:15", 300}}));
    ReadConnection read(file());
    ReadError error;
    const auto daily = ChartQueries(read.db()).series(ChartType::Daily, QDate(2026, 11, 1), &error);
    QVERIFY2(daily, qPrintable(error.description));
    QCOMPARE(daily->avg[21], 200.0f); // 10:00 is slot 21
    QCOMPARE(daily->maxPower, qint64(300));

    const auto monthly =
        ChartQueries(read.db()).series(ChartType::Monthly, QDate(2026, 11, 20), &error);
    QVERIFY2(monthly, qPrintable(error.description));
    QCOMPARE(monthly->first, QDate(2026, 11, 1));
    QCOMPARE(monthly->avg[1], 200.0f);
    QCOMPARE(monthly->max[1], 300.0f);
    QCOMPARE(monthly->avg[11], 0.0f);

    const auto january =
        ChartQueries(read.db()).series(ChartType::Monthly, QDate(2026, 1, 1), &error);
    QVERIFY(january);
    QCOMPARE(january->avg[11], 3000.0f);
    QCOMPARE(january->avg[1], 0.0f);
}

void TestChartQueries::fileWithoutSummariesGivesTheSameAnswers_data()
{
    QTest::addColumn<QStringList>("spoil");
    QTest::newRow("never built") << QStringList{"DROP TRIGGER EnergySummariesOnInsert",
                                                "DROP TABLE EnergyDay",
                                                "DROP TABLE EnergyHalfHour"};
    // A first open stopped halfway leaves the tables made but empty, and no trigger.
    QTest::newRow("building stopped")
        << QStringList{"DROP TRIGGER EnergySummariesOnInsert", "DELETE FROM EnergyDay",
                       "DELETE FROM EnergyHalfHour"};
}

// A file whose summaries are not complete is read from Energy.
void TestChartQueries::fileWithoutSummariesGivesTheSameAnswers()
{
    QFETCH(QStringList, spoil);
    Rows rows;
    for (int i = 0; i < 400; ++i) {
        const QDateTime when =
            QDateTime(QDate(2025, 12, 30), QTime(22, 0)).addSecs(qint64(i) * 977);
        rows.append({when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), (i * 37) % 4100});
    }
    QVERIFY(insertRows(file(), rows));
    const QString bare = QDir(m_dir->path()).filePath(QStringLiteral("bare.db"));
    QVERIFY(QFile::copy(file(), bare));
    {
        SqlFile sql(bare);
        for (const QString& statement : spoil)
            QVERIFY2(sql.exec(statement), qPrintable(statement));
    }
    ReadConnection summarized(file());
    ReadConnection plain(bare);
    const ChartQueries withSummary(summarized.db());
    const ChartQueries fromEnergy(plain.db());
    ReadError error;
    for (const auto& [type, date] : {std::pair{ChartType::Daily, QDate(2025, 12, 31)},
                                     {ChartType::Monthly, QDate(2025, 12, 31)},
                                     {ChartType::Monthly, QDate(2026, 1, 2)},
                                     {ChartType::Yearly, QDate(2025, 6, 1)}}) {
        const auto expected = withSummary.series(type, date, &error);
        const auto actual = fromEnergy.series(type, date, &error);
        QVERIFY2(expected && actual, qPrintable(error.description));
        QVERIFY(expected->maxPower > 0);
        QCOMPARE(actual->avg, expected->avg);
        QCOMPARE(actual->max, expected->max);
        QCOMPARE(actual->avgPower, expected->avgPower);
    }
    QCOMPARE(fromEnergy.monthsWithReadings(2026, &error),
             withSummary.monthsWithReadings(2026, &error));
    QCOMPARE(fromEnergy.daysWithReadings(2026, 1, &error),
             withSummary.daysWithReadings(2026, 1, &error));
}

void TestChartQueries::sourceAnswersOnTheCallersThread()
{
    QVERIFY(insertRows(file(), {{"2026-05-04 08:15:00", 640}, {"2026-06-01 00:00:00", 10}}));
    DatabaseReader reader(m_dir->path());
    ChartSource source(reader);
    QSignalSpy range(&source, &ChartSource::rangeRead);
    QSignalSpy months(&source, &ChartSource::monthsRead);
    QSignalSpy days(&source, &ChartSource::daysRead);
    QSignalSpy chart(&source, &ChartSource::chartRead);
    connect(&source, &ChartSource::rangeRead, this,
            [this] { QCOMPARE(QThread::currentThread(), thread()); });

    source.requestRange();
    source.requestMonths(2026);
    source.requestDays(2026, 5);
    source.requestChart(ChartType::Daily, QDate(2026, 5, 4));
    QTRY_COMPARE_WITH_TIMEOUT(chart.size(), 1, 10000);
    QCOMPARE(range.size(), 1);
    QCOMPARE(range[0][0].value<RecordedRange>(),
             (RecordedRange{QDate(2026, 5, 4), QDate(2026, 6, 1)}));
    QCOMPARE(months[0][1].value<QList<int>>(), QList<int>({5, 6}));
    QCOMPARE(days[0][2].value<QList<int>>(), QList<int>({4}));
    QCOMPARE(chart[0][0].value<ChartSeries>().avg[17], 640.0f); // 08:15 is slot 17
}

void TestChartQueries::newerChartCancelsTheOlder()
{
    QVERIFY(insertRows(file(), {{"2026-05-04 08:15:00", 640}}));
    DatabaseReader reader(m_dir->path());
    ChartSource source(reader);
    QSignalSpy chart(&source, &ChartSource::chartRead);
    for (int day = 1; day <= 20; ++day)
        source.requestChart(ChartType::Daily, QDate(2026, 5, day));
    source.requestChart(ChartType::Monthly, QDate(2026, 5, 4));
    QTRY_COMPARE_WITH_TIMEOUT(chart.size(), 1, 10000);
    // Nothing older arrives after the newest.
    QTest::qWait(100);
    QCOMPARE(chart.size(), 1);
    QCOMPARE(chart[0][0].value<ChartSeries>().type, ChartType::Monthly);

    source.requestChart(ChartType::Daily, QDate(2026, 5, 4));
    source.cancelChart();
    QTest::qWait(200);
    QCOMPARE(chart.size(), 1);
}

void TestChartQueries::missingFileFailsTheChart()
{
    QTemporaryDir empty;
    DatabaseReader reader(empty.path());
    ChartSource source(reader);
    QSignalSpy failed(&source, &ChartSource::chartFailed);
    QSignalSpy range(&source, &ChartSource::rangeRead);
    QSignalSpy months(&source, &ChartSource::monthsRead);
    source.requestRange();
    source.requestMonths(2026);
    source.requestChart(ChartType::Yearly, QDate(2026, 1, 1));
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 10000);
    QVERIFY(failed[0][0].value<ReadError>().description.contains(EnergyDatabase::kFileName));
    QCOMPARE(range[0][1].toBool(), false);
    QCOMPARE(months[0][2].toBool(), false);
}

QTEST_GUILESS_MAIN(TestChartQueries)
#include "test_chartqueries.moc"
