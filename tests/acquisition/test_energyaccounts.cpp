#include "acquisition/databasereader.h"
#include "acquisition/databasewriter.h"
#include "acquisition/energyaccounts.h"
#include "acquisition/energydatabase.h"
#include "acquisition/tariffbands.h"
#include "support/sqlfile.h"

#include <QDir>
#include <QMap>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

using namespace powerlog;
using powerlog::test::SqlFile;

namespace {

// A reading as it is inserted: Data and W.
struct Row
{
    QString data;
    int w;
};
using Rows = QList<Row>;

// Per hour ('yyyy-MM-dd HH:00'): watt-seconds and seconds covered.
struct HourFigures
{
    double wattSeconds = 0;
    qint64 seconds = 0;
    bool operator==(const HourFigures&) const = default;
};
using Hours = QMap<QString, HourFigures>;

char* toString(const Hours& hours)
{
    QStringList lines;
    for (auto it = hours.cbegin(); it != hours.cend(); ++it)
        lines << QStringLiteral("%1=%2Ws/%3s").arg(it.key()).arg(it->wattSeconds).arg(it->seconds);
    return qstrdup(qPrintable(lines.join(QStringLiteral("; "))));
}

bool insertRows(const QString& file, const Rows& rows)
{
    SqlFile sql(file);
    sql.db().transaction();
    for (const Row& row : rows) {
        if (!sql.exec(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) "
                                     "VALUES (230, 1, %1, 0, '%2')")
                          .arg(row.w)
                          .arg(row.data)))
            return false;
    }
    return sql.db().commit();
}

// The hour table as stored, hours that net to nothing left out.
Hours storedHours(const QString& file)
{
    SqlFile sql(file);
    QSqlQuery query(sql.db());
    Hours hours;
    if (!query.exec(QStringLiteral("SELECT Hour, WattSeconds, Seconds FROM EnergyHour")))
        return hours;
    while (query.next()) {
        if (query.value(1).toDouble() != 0 || query.value(2).toLongLong() != 0)
            hours.insert(query.value(0).toString(),
                         {query.value(1).toDouble(), query.value(2).toLongLong()});
    }
    return hours;
}

// The rule restated the plain way, as an oracle: sort by Data then insertion, walk the pairs,
// cut each at the hour.
Hours expectedHours(const Rows& rows)
{
    QList<std::pair<QString, int>> sorted; // (Data, insertion)
    for (int i = 0; i < rows.size(); ++i)
        sorted << std::pair{rows[i].data, i};
    std::ranges::sort(sorted);
    Hours hours;
    for (int i = 0; i + 1 < sorted.size(); ++i) {
        const QDateTime start(
            QDate::fromString(sorted[i].first.left(10), Qt::ISODate),
            QTime::fromString(sorted[i].first.mid(11), QStringLiteral("HH:mm:ss")), Qt::UTC);
        const QDateTime end(
            QDate::fromString(sorted[i + 1].first.left(10), Qt::ISODate),
            QTime::fromString(sorted[i + 1].first.mid(11), QStringLiteral("HH:mm:ss")), Qt::UTC);
        const qint64 step = start.secsTo(end);
        if (step <= 0 || step > 300)
            continue;
        const int w = rows[sorted[i].second].w;
        for (QDateTime at = start; at < end;) {
            const QDateTime hour(at.date(), QTime(at.time().hour(), 0), Qt::UTC);
            const QDateTime until = std::min(end, hour.addSecs(3600));
            const qint64 length = at.secsTo(until);
            HourFigures& figures = hours[hour.toString(QStringLiteral("yyyy-MM-dd HH:00"))];
            figures.wattSeconds += double(w) * double(length);
            figures.seconds += length;
            at = until;
        }
    }
    return hours;
}

} // namespace

Q_DECLARE_METATYPE(Rows)
Q_DECLARE_METATYPE(Hours)
Q_DECLARE_METATYPE(powerlog::TariffBand)

class TestEnergyAccounts : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void hoursFollowTheReadings_data();
    void hoursFollowTheReadings();
    void anyInsertionOrderGivesTheRule();
    void bands_data();
    void bands();
    void easterSundays_data();
    void easterSundays();
    void monthsAndYearsSumTheirHours();
    void costPricesEachBand();
    void meterHistoryStandsInForTheReadings();
    void writerKeepsTheMeterHistory();
    void sourceAnswersOnTheCallersThread();

private:
    QString file() const { return QDir(m_dir->path()).filePath(EnergyDatabase::kFileName); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestEnergyAccounts::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(file(), &error), qPrintable(error));
}

void TestEnergyAccounts::hoursFollowTheReadings_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<Hours>("expected");

    QTest::newRow("300 s counts") << Rows{{"2026-12-07 10:00:00", 1000}, {"2026-12-07 10:05:00", 5}}
                                  << Hours{{"2026-12-07 10:00", {300000, 300}}};
    QTest::newRow("301 s is a gap")
        << Rows{{"2026-12-07 10:00:00", 1000}, {"2026-12-07 10:05:01", 5}} << Hours{};
    QTest::newRow("equal times are a gap, then insertion order")
        << Rows{{"2026-12-07 10:00:00", 100},
                {"2026-12-07 10:00:00", 200},
                {"2026-12-07 10:00:10", 300}}
        << Hours{{"2026-12-07 10:00", {2000, 10}}};
    QTest::newRow("a pair across the hour is split")
        << Rows{{"2026-12-07 10:59:00", 1200}, {"2026-12-07 11:01:00", 0}}
        << Hours{{"2026-12-07 10:00", {72000, 60}}, {"2026-12-07 11:00", {72000, 60}}};
    QTest::newRow("a pair across midnight belongs to two days")
        << Rows{{"2026-12-31 23:58:00", 600}, {"2027-01-01 00:01:00", 0}}
        << Hours{{"2026-12-31 23:00", {72000, 120}}, {"2027-01-01 00:00", {36000, 60}}};
    QTest::newRow("negative power counts as negative energy")
        << Rows{{"2026-12-07 10:00:00", -500}, {"2026-12-07 10:00:10", 0}}
        << Hours{{"2026-12-07 10:00", {-5000, 10}}};
    QTest::newRow("the last reading starts no pair")
        << Rows{{"2026-12-07 10:00:00", 500}} << Hours{};
    // Spring: the clock jumps from 02:00 to 03:00; as written the step is an hour longer.
    QTest::newRow("spring night: the jumped hour is a gap")
        << Rows{{"2026-03-29 01:59:50", 100},
                {"2026-03-29 03:00:00", 200},
                {"2026-03-29 03:00:10", 0}}
        << Hours{{"2026-03-29 03:00", {2000, 10}}};
    // Autumn: 02:00-03:00 comes twice. In the order of Data the second pass interleaves with
    // the first; the step back itself is a gap.
    QTest::newRow("autumn night: the hour written twice")
        << Rows{{"2026-10-25 02:59:50", 100},
                {"2026-10-25 02:00:00", 200},
                {"2026-10-25 02:00:10", 300},
                {"2026-10-25 03:00:00", 400}}
        << Hours{{"2026-10-25 02:00", {2000 + 1000, 20}}};
    QTest::newRow("a late reading splits a pair") << Rows{{"2026-12-07 10:00:00", 100},
                                                          {"2026-12-07 10:00:20", 0},
                                                          {"2026-12-07 10:00:10", 300}}
                                                  << Hours{{"2026-12-07 10:00", {1000 + 3000, 20}}};
    QTest::newRow("rows without power or of another form take no part")
        << Rows{{"2026-12-07 10:00:00", 100},
                {"07/12/2026 10:00:05", 999},
                {"2026-12-07 10:00:10", 0}}
        << Hours{{"2026-12-07 10:00", {1000, 10}}};
}

// The same hours three ways: kept by the trigger as rows arrive, built on the open of a file
// that lacks the table, and counted from Energy by a reader of a file whose table is not
// complete.
void TestEnergyAccounts::hoursFollowTheReadings()
{
    QFETCH(Rows, rows);
    QFETCH(Hours, expected);

    QVERIFY(insertRows(file(), rows));
    QCOMPARE(storedHours(file()), expected);
    QCOMPARE(expectedHours(rows), expected);

    QVERIFY(SqlFile(file()).exec(QStringLiteral("DROP TRIGGER EnergyHourOnInsert")));
    {
        SqlFile read(file());
        ReadError error;
        const QDate first = QDate::fromString(rows.first().data.left(10), Qt::ISODate);
        const auto hours =
            EnergyQueries(read.db()).hours(first.addDays(-1), first.addDays(2), &error);
        QVERIFY2(hours, qPrintable(error.description));
        Hours counted;
        for (const HourEnergy& hour : *hours) {
            counted.insert(QStringLiteral("%1 %2:00")
                               .arg(hour.date.toString(Qt::ISODate))
                               .arg(hour.hour, 2, 10, QLatin1Char('0')),
                           {hour.figures.wattSeconds[0] + hour.figures.wattSeconds[1] +
                                hour.figures.wattSeconds[2],
                            hour.figures.coveredSeconds});
        }
        counted.removeIf([](auto each) { return each.value() == HourFigures{}; });
        QCOMPARE(counted, expected);
    }

    EnergyDatabase database(m_dir->path());
    QVERIFY(database.open().ok());
    database.close();
    QCOMPARE(storedHours(file()), expected);
}

// Random readings, some gaps, some equal times, inserted in random order: the table kept row by
// row equals the rule applied to the whole.
void TestEnergyAccounts::anyInsertionOrderGivesTheRule()
{
    QRandomGenerator random(20261210);
    Rows rows;
    QDateTime at(QDate(2026, 10, 24), QTime(22, 0), Qt::UTC);
    for (int i = 0; i < 600; ++i) {
        const int step = random.bounded(100) < 5 ? 250 + random.bounded(100) : random.bounded(40);
        at = at.addSecs(step);
        rows << Row{at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), random.bounded(-200, 4000)};
    }
    Rows shuffled = rows;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    QVERIFY(insertRows(file(), shuffled));
    QCOMPARE(storedHours(file()), expectedHours(shuffled));
}

void TestEnergyAccounts::bands_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<int>("hour");
    QTest::addColumn<TariffBand>("band");

    const QDate monday(2026, 12, 7);
    const QDate friday(2026, 12, 11);
    const QDate saturday(2026, 12, 12);
    const QDate sunday(2026, 12, 13);
    const auto row = [](const char* name, const QDate& date, int hour, TariffBand band) {
        QTest::newRow(name) << date << hour << band;
    };
    row("weekday 00", monday, 0, TariffBand::F3);
    row("weekday 06", monday, 6, TariffBand::F3);
    row("weekday 07", monday, 7, TariffBand::F2);
    row("weekday 08", monday, 8, TariffBand::F1);
    row("weekday 18", friday, 18, TariffBand::F1);
    row("weekday 19", friday, 19, TariffBand::F2);
    row("weekday 22", friday, 22, TariffBand::F2);
    row("weekday 23", friday, 23, TariffBand::F3);
    row("saturday 06", saturday, 6, TariffBand::F3);
    row("saturday 07", saturday, 7, TariffBand::F2);
    row("saturday 12", saturday, 12, TariffBand::F2);
    row("saturday 22", saturday, 22, TariffBand::F2);
    row("saturday 23", saturday, 23, TariffBand::F3);
    row("sunday 12", sunday, 12, TariffBand::F3);
    row("sunday 07", sunday, 7, TariffBand::F3);
    row("Easter Monday 2024", QDate(2024, 4, 1), 10, TariffBand::F3);
    row("Easter Monday 2025", QDate(2025, 4, 21), 10, TariffBand::F3);
    row("Easter Monday 2026", QDate(2026, 4, 6), 10, TariffBand::F3);
    row("Easter Monday 2027", QDate(2027, 3, 29), 10, TariffBand::F3);
    row("Easter Monday 2038", QDate(2038, 4, 26), 10, TariffBand::F3);
    row("Good Friday is a working day", QDate(2026, 4, 3), 10, TariffBand::F1);
    row("the Tuesday after Easter", QDate(2026, 4, 7), 10, TariffBand::F1);
    // Each fixed holiday in a year where it falls on a weekday.
    row("1 January", QDate(2026, 1, 1), 10, TariffBand::F3);
    row("6 January", QDate(2026, 1, 6), 10, TariffBand::F3);
    row("25 April", QDate(2025, 4, 25), 10, TariffBand::F3);
    row("1 May", QDate(2026, 5, 1), 10, TariffBand::F3);
    row("2 June", QDate(2026, 6, 2), 10, TariffBand::F3);
    row("15 August", QDate(2025, 8, 15), 10, TariffBand::F3);
    row("1 November", QDate(2027, 11, 1), 10, TariffBand::F3);
    row("8 December", QDate(2026, 12, 8), 10, TariffBand::F3);
    row("25 December", QDate(2026, 12, 25), 10, TariffBand::F3);
    row("26 December", QDate(2025, 12, 26), 10, TariffBand::F3);
    row("holiday on a Saturday", QDate(2026, 4, 25), 10, TariffBand::F3);
    row("the day after a holiday", QDate(2026, 1, 7), 10, TariffBand::F1);
    row("24 December", QDate(2026, 12, 24), 10, TariffBand::F1);
}

void TestEnergyAccounts::bands()
{
    QFETCH(QDate, date);
    QFETCH(int, hour);
    QFETCH(TariffBand, band);
    QCOMPARE(tariffBand(date, hour), band);
}

void TestEnergyAccounts::easterSundays_data()
{
    QTest::addColumn<QDate>("easter");
    for (const QDate& date :
         {QDate(2000, 4, 23), QDate(2008, 3, 23), QDate(2011, 4, 24), QDate(2019, 4, 21),
          QDate(2024, 3, 31), QDate(2025, 4, 20), QDate(2026, 4, 5), QDate(2038, 4, 25)})
        QTest::newRow(qPrintable(date.toString(Qt::ISODate))) << date;
}

void TestEnergyAccounts::easterSundays()
{
    QFETCH(QDate, easter);
    QCOMPARE(easterSunday(easter.year()), easter);
    QCOMPARE(easter.dayOfWeek(), 7);
}

// Days of a month are the sums of their hours, months of a year the sums of their days.
void TestEnergyAccounts::monthsAndYearsSumTheirHours()
{
    // One reading a minute across the turn of the year, with a gap of a day.
    Rows rows;
    QDateTime at(QDate(2026, 12, 28), QTime(0, 0, 30), Qt::UTC);
    for (int i = 0; i < 8 * 24 * 60; ++i, at = at.addSecs(60)) {
        if (at.date() == QDate(2026, 12, 30))
            continue;
        rows << Row{at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), 100 + i % 2000};
    }
    QVERIFY(insertRows(file(), rows));

    SqlFile read(file());
    const EnergyQueries queries(read.db());
    ReadError error;
    const auto december = queries.table(EnergyPeriod::Monthly, QDate(2026, 12, 15), &error);
    const auto year2026 = queries.table(EnergyPeriod::Yearly, QDate(2026, 6, 1), &error);
    const auto year2027 = queries.table(EnergyPeriod::Yearly, QDate(2027, 6, 1), &error);
    QVERIFY2(december && year2026 && year2027, qPrintable(error.description));
    QCOMPARE(december->groups.size(), 31);
    QCOMPARE(year2026->groups.size(), 12);

    EnergyFigures daysOfDecember;
    for (int day = 1; day <= 31; ++day) {
        const auto daily = queries.table(EnergyPeriod::Daily, QDate(2026, 12, day), &error);
        QVERIFY(daily);
        QCOMPARE(daily->groups.size(), 24);
        QCOMPARE(daily->total(), december->groups.at(day - 1));
        daysOfDecember.add(daily->total());
    }
    QCOMPARE(december->total(), daysOfDecember);
    QCOMPARE(year2026->groups.at(11), december->total());
    QCOMPARE(december->groups.at(29), EnergyFigures{}); // the day without readings
    // The last reading of the 29th and the first of the 31st are a day apart: a gap.
    QCOMPARE(december->groups.at(28).coveredSeconds, qint64(24 * 3600 - 30));

    const Hours all = expectedHours(rows);
    double wattSeconds = 0;
    qint64 seconds = 0;
    for (const HourFigures& hour : all) {
        wattSeconds += hour.wattSeconds;
        seconds += hour.seconds;
    }
    const EnergyFigures both = [&] {
        EnergyFigures sum = year2026->total();
        sum.add(year2027->total());
        return sum;
    }();
    QCOMPARE(both.wattSeconds[0] + both.wattSeconds[1] + both.wattSeconds[2], wattSeconds);
    QCOMPARE(both.coveredSeconds, seconds);
    // 1 January is a holiday: its hours are all F3.
    const auto newYear = queries.table(EnergyPeriod::Daily, QDate(2027, 1, 1), &error);
    QVERIFY(newYear);
    QCOMPARE(newYear->total().kwh(TariffBand::F1) + newYear->total().kwh(TariffBand::F2), 0.0);
    QVERIFY(newYear->total().kwh(TariffBand::F3) > 0);
}

void TestEnergyAccounts::costPricesEachBand()
{
    EnergyFigures figures;
    figures.add(TariffBand::F1, 2 * 3.6e6, 3600);
    figures.add(TariffBand::F2, 1 * 3.6e6, 3600);
    figures.add(TariffBand::F3, 4 * 3.6e6, 3600);
    QCOMPARE(figures.kwh(), 7.0);
    QCOMPARE(figures.cost(TariffPrices{{0.30, 0.25, 0.20}}), 0.6 + 0.25 + 0.8);
    QCOMPARE(figures.cost(TariffPrices{}), 0.0);
    QVERIFY(!TariffPrices{}.isSet());
    QVERIFY((TariffPrices{{0, 0, 0.1}}).isSet());
}

void TestEnergyAccounts::sourceAnswersOnTheCallersThread()
{
    QVERIFY(insertRows(file(), {{"2026-12-07 10:00:00", 3600}, {"2026-12-07 10:00:10", 0}}));
    DatabaseReader reader(m_dir->path());
    EnergySource source(reader);
    QSignalSpy read(&source, &EnergySource::tableRead);
    source.requestTable(EnergyPeriod::Monthly, QDate(2026, 12, 1));
    source.requestTable(EnergyPeriod::Daily, QDate(2026, 12, 7));
    QVERIFY(read.wait(5000));
    QTest::qWait(50);
    QCOMPARE(read.size(), 1); // the older request never answers
    const auto table = read.first().first().value<EnergyTable>();
    QCOMPARE(table.period, EnergyPeriod::Daily);
    QCOMPARE(table.groups.at(10).kwh(TariffBand::F1), 0.01);
}

// A meter's hours replace what the readings give for those hours; a day the meter gave as a
// total only is spread over its hours, banded hour by hour and marked as estimated; a second
// report of the same hour replaces the first; clearing forgets the history.
void TestEnergyAccounts::meterHistoryStandsInForTheReadings()
{
    // Monday 7 December: 0.01 kWh at 10:00 and at 11:00 from the readings.
    QVERIFY(insertRows(file(), {{"2026-12-07 10:00:00", 3600},
                                {"2026-12-07 10:00:10", 3600},
                                {"2026-12-07 10:00:20", 0},
                                {"2026-12-07 11:00:00", 3600},
                                {"2026-12-07 11:00:10", 0}}));
    EnergyDatabase database(m_dir->path());
    MeterHistory history;
    history.hours << MeterHistory::Hour{QDate(2026, 12, 7), 10, 900}
                  << MeterHistory::Hour{QDate(2026, 12, 7), 10, 500} // the later report wins
                  << MeterHistory::Hour{QDate(2026, 12, 7), 20, 300};
    // Wednesday 9 December, a total only: 24 kWh. The 7th's total is not used: it has hours.
    history.days << MeterHistory::Day{QDate(2026, 12, 9), 24000}
                 << MeterHistory::Day{QDate(2026, 12, 7), 99000};
    QVERIFY(database.storeMeterHistory(history).ok());
    database.close();

    {
        SqlFile read(file());
        const EnergyQueries queries(read.db());
        ReadError error;
        const auto monday = queries.table(EnergyPeriod::Daily, QDate(2026, 12, 7), &error);
        QVERIFY2(monday, qPrintable(error.description));
        QCOMPARE(monday->groups.at(10).kwh(TariffBand::F1), 0.5);
        QCOMPARE(monday->groups.at(10).coveredSeconds, qint64(3600));
        QCOMPARE(monday->groups.at(11).kwh(TariffBand::F1), 0.01); // the readings' own
        QCOMPARE(monday->groups.at(11).coveredSeconds, qint64(10));
        QCOMPARE(monday->groups.at(20).kwh(TariffBand::F2), 0.3);
        QCOMPARE(monday->total().estimatedWattSeconds, 0.0);

        const auto wednesday = queries.table(EnergyPeriod::Daily, QDate(2026, 12, 9), &error);
        QVERIFY(wednesday);
        const EnergyFigures day = wednesday->total();
        QCOMPARE(day.kwh(), 24.0);
        QCOMPARE(day.kwh(TariffBand::F1), 11.0); // 08-19
        QCOMPARE(day.kwh(TariffBand::F2), 5.0);  // 07-08, 19-23
        QCOMPARE(day.kwh(TariffBand::F3), 8.0);
        QCOMPARE(day.estimatedWattSeconds, 24.0 * 3.6e6);
        QCOMPARE(day.coveredSeconds, qint64(24 * 3600));

        const auto december = queries.table(EnergyPeriod::Monthly, QDate(2026, 12, 1), &error);
        QVERIFY(december);
        QCOMPARE(december->groups.at(6).kwh(), 0.5 + 0.01 + 0.3);
        QCOMPARE(december->groups.at(8).kwh(), 24.0);
    }

    QVERIFY(database.clear().ok());
    database.close();
    SqlFile read(file());
    ReadError error;
    const auto cleared =
        EnergyQueries(read.db()).table(EnergyPeriod::Monthly, QDate(2026, 12, 1), &error);
    QVERIFY(cleared);
    QCOMPARE(cleared->total(), EnergyFigures{});
}

void TestEnergyAccounts::writerKeepsTheMeterHistory()
{
    DatabaseWriter writer(m_dir->path());
    MeterHistory history;
    history.hours << MeterHistory::Hour{QDate(2026, 12, 6), 0, 1200};
    std::optional<DatabaseResult> result;
    writer.storeMeterHistory(history, [&result](const DatabaseResult& r) { result = r; });
    QTRY_VERIFY(result.has_value());
    QVERIFY(result->ok());
    SqlFile read(file());
    ReadError error;
    const auto sunday =
        EnergyQueries(read.db()).table(EnergyPeriod::Daily, QDate(2026, 12, 6), &error);
    QVERIFY(sunday);
    QCOMPARE(sunday->groups.at(0).kwh(TariffBand::F3), 1.2);
}

QTEST_GUILESS_MAIN(TestEnergyAccounts)
#include "test_energyaccounts.moc"
