// `powerlog-cli energy` run as users run it: the CSV of a day, a month and a year on a small file
// with hand-worked figures, prices from a settings file, a file of an earlier version that gets
// its hour table built first, and the complaints.

#include "acquisition/energydatabase.h"
#include "support/sqlfile.h"
#include "support/toolrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using powerlog::EnergyDatabase;
using powerlog::test::SqlFile;
using powerlog::test::ToolRun;

namespace {

ToolRun runCli(const QStringList& arguments)
{
    return powerlog::test::runTool(QStringLiteral(POWERLOG_CLI), arguments,
                                   powerlog::test::toolEnvironment());
}

// Readings (Data, W) with hand-worked energy, on Sunday 6 and Monday 7 December 2026:
// - Sunday 23:59:00 7200 W for 120 s: 0.120 kWh in Sunday's hour 23 and 0.120 kWh in Monday's
//   hour 0, both F3;
// - Monday 07:59:00 3600 W for 90 s: 0.060 kWh in hour 7 (F2), 0.030 kWh in hour 8 (F1);
// - Monday 08:00:30 1800 W for 300 s: 0.150 kWh in hour 8 (F1);
// - Monday 08:05:30, then 301 s without a reading: a gap; the last reading starts nothing.
const QList<QPair<QString, int>> kRows{
    {"2026-12-06 23:59:00", 7200}, {"2026-12-07 00:01:00", 0},    {"2026-12-07 07:59:00", 3600},
    {"2026-12-07 08:00:30", 1800}, {"2026-12-07 08:05:30", 5000}, {"2026-12-07 08:10:31", 5000},
};

QString zeroLine(int group)
{
    return QStringLiteral("%1,0.000,0.000,0.000,0.000,0.00\n").arg(group);
}

// The lines of groups [first, last] with `worked` in place of the zero lines.
QString lines(int first, int last, const QMap<int, QString>& worked)
{
    QString text = QStringLiteral("group,kwh,f1_kwh,f2_kwh,f3_kwh,cost\n");
    for (int group = first; group <= last; ++group)
        text += worked.contains(group) ? worked.value(group) + QLatin1Char('\n') : zeroLine(group);
    return text;
}

} // namespace

class TestCliEnergy : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void printsEachGroupAndTheTotal_data();
    void printsEachGroupAndTheTotal();
    void fileWithoutHourTableGetsItFirst();
    void wrongUsage_data();
    void wrongUsage();

private:
    QString folder() const { return m_dir->path(); }
    QString databasePath() const { return QDir(folder()).filePath(EnergyDatabase::kFileName); }
    QString settingsPath() const { return QDir(folder()).filePath(QStringLiteral("settings.ini")); }
    bool writeReadings(bool energyTableOnly) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCliEnergy::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QFile settings(settingsPath());
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[Tariff]\nPriceF1=0.5\nPriceF2=0.4\nPriceF3=0.2\n");
}

bool TestCliEnergy::writeReadings(bool energyTableOnly) const
{
    if (energyTableOnly) {
        if (!SqlFile(databasePath())
                 .exec(QStringLiteral(
                     "CREATE TABLE Energy (V REAL, a REAL, W INTEGER, e REAL, Data TEXT)")))
            return false;
    } else if (!EnergyDatabase::createEmpty(databasePath())) {
        return false;
    }
    SqlFile sql(databasePath());
    for (const auto& [data, w] : kRows) {
        if (!sql.exec(
                QStringLiteral("INSERT INTO Energy VALUES (230, 1, %1, 0, '%2')").arg(w).arg(data)))
            return false;
    }
    return true;
}

void TestCliEnergy::printsEachGroupAndTheTotal_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    // Costs: F1 0.5, F2 0.4, F3 0.2 a kWh.
    QTest::newRow("daily") << QStringList{"energy", "daily", "2026-12-07"}
                           << lines(0, 23,
                                    {{0, "0,0.120,0.000,0.000,0.120,0.02"},
                                     {7, "7,0.060,0.000,0.060,0.000,0.02"},
                                     {8, "8,0.180,0.180,0.000,0.000,0.09"}}) +
                                  QStringLiteral("total,0.360,0.180,0.060,0.120,0.14\n");
    QTest::newRow("monthly") << QStringList{"energy", "monthly", "2026-12-31"}
                             << lines(1, 31,
                                      {{6, "6,0.120,0.000,0.000,0.120,0.02"},
                                       {7, "7,0.360,0.180,0.060,0.120,0.14"}}) +
                                    QStringLiteral("total,0.480,0.180,0.060,0.240,0.16\n");
    QTest::newRow("yearly") << QStringList{"energy", "yearly", "2026-01-01"}
                            << lines(1, 12, {{12, "12,0.480,0.180,0.060,0.240,0.16"}}) +
                                   QStringLiteral("total,0.480,0.180,0.060,0.240,0.16\n");
    QTest::newRow("a month of 30 days without readings")
        << QStringList{"energy", "monthly", "2026-11-15"}
        << lines(1, 30, {}) + QStringLiteral("total,0.000,0.000,0.000,0.000,0.00\n");
}

void TestCliEnergy::printsEachGroupAndTheTotal()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QVERIFY(writeReadings(false));

    const ToolRun run =
        runCli(QStringList{"--folder", folder(), "--settings", settingsPath()} + arguments);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, expected);

    // Without prices every cost is 0.00; the kWh stay.
    QFile::remove(settingsPath());
    const ToolRun unpriced =
        runCli(QStringList{"--folder", folder(), "--settings", settingsPath()} + arguments);
    QCOMPARE(unpriced.exitCode, 0);
    const QStringList priced = run.out.split(QLatin1Char('\n'));
    const QStringList plain = unpriced.out.split(QLatin1Char('\n'));
    QCOMPARE(plain.size(), priced.size());
    for (qsizetype i = 1; i + 1 < plain.size(); ++i) {
        QCOMPARE(plain[i].section(QLatin1Char(','), 0, 4),
                 priced[i].section(QLatin1Char(','), 0, 4));
        QCOMPARE(plain[i].section(QLatin1Char(','), 5), QStringLiteral("0.00"));
    }
}

// A file with only the Energy table, as an earlier version or another program left it: the
// command builds the summaries and the hour table first (the progress on stderr), then answers
// as for any file, and the next call finds the table kept by its trigger.
void TestCliEnergy::fileWithoutHourTableGetsItFirst()
{
    QVERIFY(writeReadings(true));
    const QStringList arguments{"--folder", folder(), "--settings", settingsPath(),
                                "energy",   "daily",  "2026-12-07"};
    const ToolRun first = runCli(arguments);
    QCOMPARE(first.exitCode, 0);
    QVERIFY2(first.err.contains(QStringLiteral("building summary tables: 100%")),
             qPrintable(first.err));
    QVERIFY(first.out.endsWith(QStringLiteral("total,0.360,0.180,0.060,0.120,0.14\n")));
    QCOMPARE(SqlFile(databasePath())
                 .value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = "
                                       "'EnergyHourOnInsert'"))
                 .toInt(),
             1);

    const ToolRun second = runCli(arguments);
    QCOMPARE(second.err, QString());
    QCOMPARE(second.out, first.out);
}

void TestCliEnergy::wrongUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("unknown period") << QStringList{"energy", "weekly", "2026-12-07"} << 64
                                    << QStringLiteral("unknown period 'weekly'");
    QTest::newRow("no real date") << QStringList{"energy", "daily", "2026-02-30"} << 64
                                  << QStringLiteral("not a date in the form YYYY-MM-DD");
    QTest::newRow("date in another form") << QStringList{"energy", "daily", "07/12/2026"} << 64
                                          << QStringLiteral("not a date in the form YYYY-MM-DD");
    QTest::newRow("no date") << QStringList{"energy", "daily"} << 64
                             << QStringLiteral("energy takes a period");
}

void TestCliEnergy::wrongUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, complaint);
    QVERIFY(writeReadings(false));

    const ToolRun run = runCli(QStringList{"--folder", folder()} + arguments);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(complaint), qPrintable(run.err));

    // Without a database: exit 2, and no file is made.
    QVERIFY(QFile::remove(databasePath()));
    const ToolRun missing = runCli({"--folder", folder(), "energy", "daily", "2026-12-07"});
    QCOMPARE(missing.exitCode, 2);
    QVERIFY(!QFile::exists(databasePath()));
}

QTEST_GUILESS_MAIN(TestCliEnergy)
#include "test_clienergy.moc"
