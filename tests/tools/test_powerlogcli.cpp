#include "acquisition/energydatabase.h"
#include "support/sqlfile.h"
#include "support/toolrun.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using powerlog::EnergyDatabase;
using powerlog::test::SqlFile;
using powerlog::test::toolEnvironment;
using powerlog::test::ToolRun;

namespace {

ToolRun runCli(const QStringList& arguments,
               const QProcessEnvironment& environment = toolEnvironment())
{
    return powerlog::test::runTool(QStringLiteral(POWERLOG_CLI), arguments, environment);
}

// Readings every 10 s from 2026-12-05 00:00:00, with powers that rise, fall and go negative.
constexpr int kReadings = 3000;
// 3000 readings of 10 s span 8 h 20 min: the half hours 00:00 to 08:00.
constexpr int kReadingSlots = 17;
const QDateTime kFirstReading(QDate(2026, 12, 5), QTime(0, 0));

bool insertRows(const SqlFile& file, const QList<QVariantList>& rows)
{
    QSqlDatabase db = file.db();
    QSqlQuery insert(db);
    if (!db.transaction() || !insert.prepare(QStringLiteral(
                                 "INSERT INTO Energy (V, a, W, e, Data) VALUES (?, ?, ?, ?, ?)")))
        return false;
    for (const QVariantList& row : rows) {
        for (int i = 0; i < row.size(); ++i)
            insert.bindValue(i, row.at(i));
        if (!insert.exec())
            return false;
    }
    return db.commit();
}

bool addReadings(const SqlFile& file)
{
    QList<QVariantList> rows;
    for (int i = 0; i < kReadings; ++i) {
        rows.append({230.0, 4.0, (i * 37) % 3000 - 100, 152.0 + i,
                     kFirstReading.addSecs(10 * i).toString(EnergyDatabase::kDataFormat)});
    }
    return insertRows(file, rows);
}

QStringList progressLines(const QString& err)
{
    return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestPowerlogCli : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void checkReportsAnEmptyDatabase();
    void checkBuildsAMissingSummary();
    void checkFindsSummaryDifferences_data();
    void checkFindsSummaryDifferences();
    void checkFindsADamagedIndex();
    void unusableFilesExit2_data();
    void unusableFilesExit2();
    void compactKeepsRowsAndABackup();
    void compactRefusesAFileInUse();
    void folderIsFoundLikeTheProgramDoes_data();
    void folderIsFoundLikeTheProgramDoes();
    void wrongUsageExits64_data();
    void wrongUsageExits64();
    void helpListsTheCommands();

private:
    QString databasePath() const { return m_folder->filePath(EnergyDatabase::kFileName); }
    // An empty database as the build delivers it, with the readings when asked.
    void writeDatabase(bool withReadings);

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestPowerlogCli::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestPowerlogCli::writeDatabase(bool withReadings)
{
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(databasePath(), &error), qPrintable(error));
    if (withReadings)
        QVERIFY(addReadings(SqlFile(databasePath())));
}

void TestPowerlogCli::checkReportsAnEmptyDatabase()
{
    writeDatabase(false);

    const ToolRun run =
        runCli({QStringLiteral("--folder"), m_folder->path(), QStringLiteral("check")});

    QCOMPARE(run.err, QString());
    QCOMPARE(
        run.out,
        QStringLiteral(
            "rows=0\nfirst=\nlast=\nintegrity=ok\nsummary=ok\nday_summary=ok\nhour_energy=ok\n"));
    QCOMPARE(run.exitCode, 0);
}

void TestPowerlogCli::checkBuildsAMissingSummary()
{
    {
        // A file made by hand: only the table, with a row lacking its power and one whose date
        // is in another form; neither belongs in the summary.
        SqlFile file(databasePath());
        QVERIFY(file.exec(
            QStringLiteral("CREATE TABLE Energy (V REAL, a REAL, W INTEGER, e REAL, Data TEXT)")));
        QVERIFY(addReadings(file));
        QVERIFY(
            insertRows(file, {{230.0, 4.0, QVariant(), 9.0, QStringLiteral("2026-12-05 01:02:03")},
                              {230.0, 4.0, 500, 9.0, QStringLiteral("2026-12-05 01.02.03")}}));
    }
    const QStringList arguments{QStringLiteral("check"), QStringLiteral("--folder"),
                                m_folder->path()};

    const ToolRun built = runCli(arguments);

    QCOMPARE(built.exitCode, 0);
    const QMap<QString, QString> fields = built.fields();
    QCOMPARE(fields.value(QStringLiteral("rows")), QString::number(kReadings + 2));
    QCOMPARE(fields.value(QStringLiteral("first")), QStringLiteral("2026-12-05 00:00:00"));
    QCOMPARE(fields.value(QStringLiteral("last")), QStringLiteral("2026-12-05 08:19:50"));
    QCOMPARE(fields.value(QStringLiteral("integrity")), QStringLiteral("ok"));
    QCOMPARE(fields.value(QStringLiteral("summary")), QStringLiteral("ok"));
    QCOMPARE(fields.value(QStringLiteral("day_summary")), QStringLiteral("ok"));

    // Progress on stderr, each percentage once and rising, up to 100.
    const QStringList progress = progressLines(built.err);
    QVERIFY(!progress.isEmpty());
    static const QRegularExpression line(QStringLiteral("^building summary tables: (\\d+)%$"));
    int previous = -1;
    for (const QString& each : progress) {
        const QRegularExpressionMatch match = line.match(each);
        QVERIFY2(match.hasMatch(), qPrintable(each));
        const int percent = match.captured(1).toInt();
        QVERIFY2(percent > previous, qPrintable(built.err));
        previous = percent;
    }
    QCOMPARE(previous, 100);

    // The summary is in the file now, counted from the readings alone.
    {
        const SqlFile file(databasePath());
        QCOMPARE(file.value(QStringLiteral("SELECT count(*) FROM EnergyHalfHour")).toInt(),
                 kReadingSlots);
        QCOMPARE(file.value(QStringLiteral("SELECT sum(Samples) FROM EnergyHalfHour")).toInt(),
                 kReadings);
        QCOMPARE(file.value(QStringLiteral("SELECT count(*) FROM EnergyDay")).toInt(), 1);
        QCOMPARE(file.value(QStringLiteral("SELECT sum(Samples) FROM EnergyDay")).toInt(),
                 kReadings);
    }

    // A second check finds it and builds nothing.
    const ToolRun again = runCli(arguments);
    QCOMPARE(again.err, QString());
    QCOMPARE(again.out, built.out);
    QCOMPARE(again.exitCode, 0);
}

void TestPowerlogCli::checkFindsSummaryDifferences_data()
{
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("daySummary");

    const QString slot = QStringLiteral("'2026-12-05 01:00'");
    const QString ok = QStringLiteral("ok");
    const QString oneSlot = QStringLiteral("1 slot differs");
    QTest::newRow("count changed")
        << QStringList{QStringLiteral(
                           "UPDATE EnergyHalfHour SET Samples = Samples + 1 WHERE Slot = %1")
                           .arg(slot)}
        << oneSlot << ok;
    QTest::newRow("sum changed")
        << QStringList{QStringLiteral("UPDATE EnergyHalfHour SET SumW = SumW - 7 WHERE Slot = %1")
                           .arg(slot)}
        << oneSlot << ok;
    QTest::newRow("maximum changed")
        << QStringList{QStringLiteral("UPDATE EnergyHalfHour SET MaxW = MaxW + 1 WHERE Slot = %1")
                           .arg(slot)}
        << oneSlot << ok;
    QTest::newRow("slot missing")
        << QStringList{QStringLiteral("DELETE FROM EnergyHalfHour WHERE Slot = %1").arg(slot)}
        << oneSlot << ok;
    QTest::newRow("slot added")
        << QStringList{QStringLiteral(
               "INSERT INTO EnergyHalfHour VALUES ('2027-01-01 00:00', 1, 5, 5)")}
        << oneSlot << ok;
    // Rows removed by hand are not followed by the summaries.
    QTest::newRow("reading deleted")
        << QStringList{QStringLiteral("DELETE FROM Energy WHERE rowid = 1")} << oneSlot
        << QStringLiteral("1 day differs");
    QTest::newRow("several")
        << QStringList{QStringLiteral("UPDATE EnergyHalfHour SET SumW = 0 WHERE Slot = %1")
                           .arg(slot),
                       QStringLiteral("DELETE FROM EnergyHalfHour WHERE Slot = '2026-12-05 02:30'"),
                       QStringLiteral(
                           "INSERT INTO EnergyHalfHour VALUES ('2027-01-01 00:00', 1, 5, 5)")}
        << QStringLiteral("3 slots differ") << ok;
    // The day summary on its own: the half hours stay right.
    QTest::newRow("day sum changed")
        << QStringList{QStringLiteral(
               "UPDATE EnergyDay SET SumW = SumW + 1 WHERE Day = '2026-12-05'")}
        << ok << QStringLiteral("1 day differs");
    QTest::newRow("day missing, another added")
        << QStringList{QStringLiteral("DELETE FROM EnergyDay WHERE Day = '2026-12-05'"),
                       QStringLiteral("INSERT INTO EnergyDay VALUES ('2026-12-06', 1, 5, 5)")}
        << ok << QStringLiteral("2 days differ");
}

void TestPowerlogCli::checkFindsSummaryDifferences()
{
    QFETCH(QStringList, edits);
    QFETCH(QString, summary);
    QFETCH(QString, daySummary);
    writeDatabase(true);
    {
        const SqlFile file(databasePath());
        for (const QString& edit : edits)
            QVERIFY2(file.exec(edit), qPrintable(edit));
    }

    const ToolRun run =
        runCli({QStringLiteral("check"), QStringLiteral("--folder"), m_folder->path()});

    QCOMPARE(run.exitCode, 1);
    const QMap<QString, QString> fields = run.fields();
    QCOMPARE(fields.value(QStringLiteral("summary")), summary);
    QCOMPARE(fields.value(QStringLiteral("day_summary")), daySummary);
    QCOMPARE(fields.value(QStringLiteral("integrity")), QStringLiteral("ok"));
    QVERIFY(fields.contains(QStringLiteral("rows")));
}

void TestPowerlogCli::checkFindsADamagedIndex()
{
    writeDatabase(true);
    {
        // The index on Data claims to be on W: its entries no longer match the rows.
        const SqlFile file(databasePath());
        QVERIFY(file.exec(QStringLiteral("PRAGMA writable_schema = ON")));
        QVERIFY(file.exec(QStringLiteral("UPDATE sqlite_master SET sql = "
                                         "'CREATE INDEX EnergyByData ON Energy (W)' "
                                         "WHERE name = 'EnergyByData'")));
    }

    const ToolRun run =
        runCli({QStringLiteral("check"), QStringLiteral("--folder"), m_folder->path()});

    QCOMPARE(run.exitCode, 1);
    const QMap<QString, QString> fields = run.fields();
    QVERIFY2(fields.value(QStringLiteral("integrity")).contains(QStringLiteral("EnergyByData")),
             qPrintable(run.out));
    QCOMPARE(fields.value(QStringLiteral("summary")), QStringLiteral("ok"));
    QCOMPARE(fields.value(QStringLiteral("rows")), QString::number(kReadings));
}

void TestPowerlogCli::unusableFilesExit2_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("content"); // of DbEnergy.mdb; empty: no file at all
    QTest::addColumn<QString>("table");      // made in it when not empty

    QTest::newRow("check, no file") << QStringLiteral("check") << QByteArray() << QString();
    QTest::newRow("compact, no file") << QStringLiteral("compact") << QByteArray() << QString();
    QTest::newRow("check, not a database")
        << QStringLiteral("check") << QByteArray(4096, 'x') << QString();
    QTest::newRow("check, no Energy table")
        << QStringLiteral("check") << QByteArray() << QStringLiteral("Other");
}

void TestPowerlogCli::unusableFilesExit2()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, content);
    QFETCH(QString, table);
    if (!content.isEmpty()) {
        QFile file(databasePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }
    if (!table.isEmpty())
        QVERIFY(SqlFile(databasePath()).exec(QStringLiteral("CREATE TABLE %1 (x)").arg(table)));
    const QStringList filesBefore = QDir(m_folder->path()).entryList(QDir::Files);

    const ToolRun run = runCli({QStringLiteral("--folder"), m_folder->path(), command});

    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(QStringLiteral("powerlog-cli: ")), qPrintable(run.err));
    // Nothing is created, nothing is left behind.
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), filesBefore);
}

void TestPowerlogCli::compactKeepsRowsAndABackup()
{
    writeDatabase(true);
    constexpr int kKept = 3 * 360; // the readings of 00:00:00 to 02:59:50
    {
        // Most rows go, with their summaries: the file keeps their pages as free space.
        const SqlFile file(databasePath());
        QVERIFY(file.exec(QStringLiteral("DELETE FROM Energy WHERE Data >= '2026-12-05 03'")));
        QVERIFY(
            file.exec(QStringLiteral("DELETE FROM EnergyHalfHour WHERE Slot >= '2026-12-05 03'")));
        // The day keeps what its remaining half hours hold.
        QVERIFY(file.exec(QStringLiteral(
            "UPDATE EnergyDay SET (Samples, SumW, MaxW) = (SELECT sum(Samples), sum(SumW), "
            "max(MaxW) FROM EnergyHalfHour WHERE substr(Slot, 1, 10) = Day)")));
        // The hour table is counted anew at the next open.
        QVERIFY(file.exec(QStringLiteral("DROP TRIGGER EnergyHourOnInsert")));
        QCOMPARE(file.rows(), kKept);
    }
    const qint64 before = QFileInfo(databasePath()).size();
    const QStringList arguments{QStringLiteral("--folder"), m_folder->path()};

    const ToolRun run = runCli(arguments + QStringList{QStringLiteral("compact")});

    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    const qint64 after = QFileInfo(databasePath()).size();
    QCOMPARE(run.out, QStringLiteral("compacted: %1 -> %2 bytes\n").arg(before).arg(after));
    QVERIFY2(after < before, qPrintable(run.out));

    const QDir folder(m_folder->path());
    QCOMPARE(QFileInfo(folder.filePath(EnergyDatabase::kBackupName)).size(), before);
    QVERIFY(!folder.exists(EnergyDatabase::kTempName));
    QCOMPARE(SqlFile(databasePath()).rows(), kKept);

    // The compacted file passes the check with every row.
    const ToolRun check = runCli(arguments + QStringList{QStringLiteral("check")});
    QCOMPARE(check.exitCode, 0);
    QCOMPARE(check.fields().value(QStringLiteral("rows")), QString::number(kKept));
}

void TestPowerlogCli::compactRefusesAFileInUse()
{
    writeDatabase(true);
    // Another program reading the file keeps its write-ahead log beside it.
    const SqlFile other(databasePath());
    QCOMPARE(other.rows(), kReadings);

    const ToolRun run =
        runCli({QStringLiteral("compact"), QStringLiteral("--folder"), m_folder->path()});

    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(QStringLiteral("in use by another program")), qPrintable(run.err));
    QVERIFY(!QDir(m_folder->path()).exists(EnergyDatabase::kBackupName));
    QVERIFY(!QDir(m_folder->path()).exists(EnergyDatabase::kTempName));
    QCOMPARE(other.rows(), kReadings);
}

void TestPowerlogCli::folderIsFoundLikeTheProgramDoes_data()
{
    QTest::addColumn<QStringList>("arguments"); // %1 stands for the database's folder
    QTest::addColumn<QString>("home");          // POWERLOG_HOME, with %1 and %2 (an empty folder)

    QTest::newRow("option before the command")
        << QStringList{QStringLiteral("--folder"), QStringLiteral("%1"), QStringLiteral("check")}
        << QString();
    QTest::newRow("option after the command")
        << QStringList{QStringLiteral("check"), QStringLiteral("--folder=%1")} << QString();
    QTest::newRow("environment") << QStringList{QStringLiteral("check")} << QStringLiteral("%1");
    QTest::newRow("option wins over environment")
        << QStringList{QStringLiteral("check"), QStringLiteral("--folder"), QStringLiteral("%1")}
        << QStringLiteral("%2");
}

void TestPowerlogCli::folderIsFoundLikeTheProgramDoes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, home);
    writeDatabase(true);
    const QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    for (QString& argument : arguments)
        argument.replace(QStringLiteral("%1"), m_folder->path());
    home.replace(QStringLiteral("%1"), m_folder->path())
        .replace(QStringLiteral("%2"), elsewhere.path());

    const ToolRun run = runCli(arguments, toolEnvironment(home));

    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.fields().value(QStringLiteral("rows")), QString::number(kReadings));
}

void TestPowerlogCli::wrongUsageExits64_data()
{
    QTest::addColumn<QStringList>("arguments"); // after --folder with the test's folder
    QTest::addColumn<QString>("complaint");

    QTest::newRow("unknown command")
        << QStringList{QStringLiteral("frobnicate")} << QStringLiteral("frobnicate");
    QTest::newRow("no command") << QStringList{} << QStringLiteral("no command");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--frob"), QStringLiteral("check")} << QStringLiteral("frob");
    QTest::newRow("unknown option after the command")
        << QStringList{QStringLiteral("check"), QStringLiteral("--frob")} << QStringLiteral("frob");
    QTest::newRow("check with an argument")
        << QStringList{QStringLiteral("check"), QStringLiteral("extra")} << QStringLiteral("extra");
    QTest::newRow("compact with an argument")
        << QStringList{QStringLiteral("compact"), QStringLiteral("extra")}
        << QStringLiteral("extra");
}

void TestPowerlogCli::wrongUsageExits64()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    writeDatabase(false);
    const QStringList filesBefore = QDir(m_folder->path()).entryList(QDir::Files);

    const ToolRun run =
        runCli(QStringList{QStringLiteral("--folder"), m_folder->path()} + arguments);

    QCOMPARE(run.exitCode, 64);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(complaint), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral(
                 "Usage: powerlog-cli [--folder DIR] [--settings FILE] COMMAND [args]")),
             qPrintable(run.err));
    // The database was not touched: no compaction, no backup.
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), filesBefore);
}

void TestPowerlogCli::helpListsTheCommands()
{
    const ToolRun run = runCli({QStringLiteral("--help")});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    QVERIFY2(run.out.startsWith(QStringLiteral(
                 "Usage: powerlog-cli [--folder DIR] [--settings FILE] COMMAND [args]\n")),
             qPrintable(run.out));
    for (const QString& command :
         {QStringLiteral("check"), QStringLiteral("compact"), QStringLiteral("series")}) {
        const QRegularExpression listed(QStringLiteral("^  %1 ").arg(command),
                                        QRegularExpression::MultilineOption);
        QVERIFY2(listed.match(run.out).hasMatch(), qPrintable(command));
    }
    // The kinds of export, readings by default.
    QVERIFY2(run.out.contains(QStringLiteral("--kind readings|hourly")), qPrintable(run.out));
}

QTEST_GUILESS_MAIN(TestPowerlogCli)
#include "test_powerlogcli.moc"
