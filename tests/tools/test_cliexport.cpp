#include "acquisition/energydatabase.h"
#include "support/sqlfile.h"
#include "support/toolrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using powerlog::EnergyDatabase;
using powerlog::test::SqlFile;
using powerlog::test::ToolRun;

namespace {

// The tool as a user runs it, in a locale of the environment's choosing.
ToolRun runCli(const QStringList& arguments, const QString& locale)
{
    QProcessEnvironment environment = powerlog::test::toolEnvironment();
    for (const char* name : {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANGUAGE"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("LANG"), locale);
    return powerlog::test::runTool(QStringLiteral(POWERLOG_CLI), arguments, environment);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

} // namespace

class TestCliExport : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void exportsInTheEnvironmentsLocale_data();
    void exportsInTheEnvironmentsLocale();
    void periodBoundsAreIncluded();
    void wrongUsageWritesNothing_data();
    void wrongUsageWritesNothing();
    void missingDatabase();
    void hourlyEnergy_data();
    void hourlyEnergy();
    void unwritableFile();

private:
    QString target() const { return m_dir->filePath(QStringLiteral("out.csv")); }
    // A settings file of the test's own, so that the user's prices never count.
    QString settingsFile() const { return m_dir->filePath(QStringLiteral("settings.ini")); }
    QStringList command(const QStringList& more) const
    {
        return QStringList{QStringLiteral("--folder"), m_dir->path(), QStringLiteral("export")} +
               more;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCliExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QString file = m_dir->filePath(EnergyDatabase::kFileName);
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(file, &error), qPrintable(error));
    QVERIFY(SqlFile(file).exec(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES "
                                              "(230.5, 1.25, 920, 152, '2026-12-05 00:00:00'), "
                                              "(229, 0.5, -15, 1234567.5, '2026-12-05 10:16:26'), "
                                              "(231, 2, 3000, 1234600, '2026-12-05 23:59:59')")));
}

void TestCliExport::exportsInTheEnvironmentsLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("Italian, comma")
        << "it_IT.UTF-8" << QStringList{}
        << QByteArray("Tensione (V),Corrente (A),Potenza (W),Energia,Data\r\n"
                      "\"230,5\",\"1,25\",920,152,05/12/2026 00:00:00\r\n"
                      "229,\"0,5\",-15,\"1234567,5\",05/12/2026 10:16:26\r\n"
                      "231,2,3000,1234600,05/12/2026 23:59:59\r\n");
    QTest::newRow("Italian, semicolon, English headings")
        << "it_IT.UTF-8" << QStringList{"--separator", "semicolon", "--language", "eng"}
        << QByteArray("Tension (V);Current (A);Power (W);Energy;Date\r\n"
                      "230,5;1,25;920;152;05/12/2026 00:00:00\r\n"
                      "229;0,5;-15;1234567,5;05/12/2026 10:16:26\r\n"
                      "231;2;3000;1234600;05/12/2026 23:59:59\r\n");
    QTest::newRow("English, tab") << "en_US.UTF-8" << QStringList{"--separator", "tab"}
                                  << QByteArray(
                                         "Tension (V)\tCurrent (A)\tPower (W)\tEnergy\tDate\r\n"
                                         "230.5\t1.25\t920\t152\t12/5/2026 12:00:00 AM\r\n"
                                         "229\t0.5\t-15\t1234567.5\t12/5/2026 10:16:26 AM\r\n"
                                         "231\t2\t3000\t1234600\t12/5/2026 11:59:59 PM\r\n");
    QTest::newRow("English, space")
        << "en_US.UTF-8" << QStringList{"--separator", "space"}
        << QByteArray("\"Tension (V)\" \"Current (A)\" \"Power (W)\" Energy Date\r\n"
                      "230.5 1.25 920 152 \"12/5/2026 12:00:00 AM\"\r\n"
                      "229 0.5 -15 1234567.5 \"12/5/2026 10:16:26 AM\"\r\n"
                      "231 2 3000 1234600 \"12/5/2026 11:59:59 PM\"\r\n");
}

void TestCliExport::exportsInTheEnvironmentsLocale()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, file);
    // An older file of that name is replaced.
    QFile older(target());
    QVERIFY(older.open(QIODevice::WriteOnly));
    older.write("older\r\n");
    older.close();
    const ToolRun run = runCli(command(options + QStringList{target()}), locale);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out,
             QStringLiteral("exported 3 rows to %1\n").arg(QDir::toNativeSeparators(target())));
    QCOMPARE(contents(target()), file);
}

void TestCliExport::periodBoundsAreIncluded()
{
    const ToolRun run =
        runCli(command({"--from", "2026-12-05 10:16:26", "--to", "2026-12-05 23:59:59",
                        "--separator", "semicolon", target()}),
               QStringLiteral("it_IT.UTF-8"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(QStringLiteral("exported 2 rows")), qPrintable(run.out));
    QCOMPARE(contents(target()), QByteArray("Tensione (V);Corrente (A);Potenza (W);Energia;Data\r\n"
                                            "229;0,5;-15;1234567,5;05/12/2026 10:16:26\r\n"
                                            "231;2;3000;1234600;05/12/2026 23:59:59\r\n"));
}

void TestCliExport::wrongUsageWritesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("no file") << QStringList{} << "give one file to write";
    QTest::newRow("two files") << QStringList{"a.csv", "b.csv"} << "give one file to write";
    QTest::newRow("unknown separator")
        << QStringList{"--separator", "pipe", "out.csv"} << "unknown separator 'pipe'";
    QTest::newRow("from alone") << QStringList{"--from", "2026-12-05 00:00:00", "out.csv"}
                                << "--from and --to go together";
    QTest::newRow("not a moment") << QStringList{"--from", "05/12/2026", "--to",
                                                 "2026-12-05 00:00:00", "out.csv"}
                                  << "a moment is written";
    QTest::newRow("from after to")
        << QStringList{"--from", "2026-12-06 00:00:00", "--to", "2026-12-05 00:00:00", "out.csv"}
        << "--from is after --to";
    QTest::newRow("unknown language")
        << QStringList{"--language", "fr", "out.csv"} << "unknown language 'fr'";
    QTest::newRow("unknown kind") << QStringList{"--kind", "daily", "out.csv"}
                                  << "unknown kind 'daily'";
    QTest::newRow("language of the hours")
        << QStringList{"--kind", "hourly", "--language", "ita", "out.csv"}
        << "--language is for the readings' headings";
}

void TestCliExport::wrongUsageWritesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    const ToolRun run = runCli(command(arguments), QStringLiteral("en_US.UTF-8"));
    QCOMPARE(run.exitCode, 64);
    QVERIFY2(run.err.contains(complaint), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("Usage:")), qPrintable(run.err));
    QCOMPARE(QDir(m_dir->path()).entryList({"*.csv"}, QDir::Files), QStringList());
}

// Beside the readings of init(), gaps all, Monday 7 December 2026: 09:59 to 10:01 at 3000 W,
// split between hours 9 and 10 (band F1), and 19:00 to 19:05 at 2400 W (band F2).
void TestCliExport::hourlyEnergy_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("prices");
    QTest::addColumn<QByteArray>("file");

    const QByteArray prices("[Tariff]\nPriceF1=0.32\nPriceF2=0.27\nPriceF3=0.18\n");
    QTest::newRow("English, comma, prices set")
        << "en_US.UTF-8" << QStringList{} << prices
        << QByteArray("hour,kwh,f1_kwh,f2_kwh,f3_kwh,cost\r\n"
                      "2026-12-07 09:00,0.050,0.050,0.000,0.000,0.02\r\n"
                      "2026-12-07 10:00,0.050,0.050,0.000,0.000,0.02\r\n"
                      "2026-12-07 19:00,0.200,0.000,0.200,0.000,0.05\r\n");
    QTest::newRow("Italian, semicolon, no prices")
        << "it_IT.UTF-8" << QStringList{"--separator", "semicolon"} << QByteArray()
        << QByteArray("hour;kwh;f1_kwh;f2_kwh;f3_kwh;cost\r\n"
                      "2026-12-07 09:00;0,050;0,050;0,000;0,000;0,00\r\n"
                      "2026-12-07 10:00;0,050;0,050;0,000;0,000;0,00\r\n"
                      "2026-12-07 19:00;0,200;0,000;0,200;0,000;0,00\r\n");
    QTest::newRow("a period, from within hour 10 to the start of 19")
        << "en_US.UTF-8"
        << QStringList{"--from", "2026-12-07 10:30:00", "--to", "2026-12-07 19:00:00"} << prices
        << QByteArray("hour,kwh,f1_kwh,f2_kwh,f3_kwh,cost\r\n"
                      "2026-12-07 10:00,0.050,0.050,0.000,0.000,0.02\r\n"
                      "2026-12-07 19:00,0.200,0.000,0.200,0.000,0.05\r\n");
}

void TestCliExport::hourlyEnergy()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, prices);
    QFETCH(QByteArray, file);
    QVERIFY(SqlFile(m_dir->filePath(EnergyDatabase::kFileName))
                .exec(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES "
                                     "(230, 13, 3000, 1, '2026-12-07 09:59:00'), "
                                     "(230, 0, 0, 2, '2026-12-07 10:01:00'), "
                                     "(230, 10.4, 2400, 3, '2026-12-07 19:00:00'), "
                                     "(230, 0, 0, 4, '2026-12-07 19:05:00')")));
    QFile settings(settingsFile());
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(prices);
    settings.close();

    const ToolRun run =
        runCli(QStringList{"--settings", settingsFile()} +
                   command(QStringList{"--kind", "hourly"} + options + QStringList{target()}),
               locale);
    QCOMPARE(run.exitCode, 0);
    const int hours = int(file.count('\n')) - 1;
    QCOMPARE(run.out, QStringLiteral("exported %1 rows to %2\n")
                          .arg(hours)
                          .arg(QDir::toNativeSeparators(target())));
    QCOMPARE(contents(target()), file);
}

void TestCliExport::missingDatabase()
{
    QVERIFY(QFile::remove(m_dir->filePath(EnergyDatabase::kFileName)));
    const ToolRun run = runCli(command({target()}), QStringLiteral("en_US.UTF-8"));
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(QStringLiteral("file not found")), qPrintable(run.err));
    QVERIFY(!QFileInfo::exists(target()));
}

void TestCliExport::unwritableFile()
{
    const QString path = m_dir->filePath(QStringLiteral("missing/out.csv"));
    const ToolRun run = runCli(command({path}), QStringLiteral("en_US.UTF-8"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("cannot write")), qPrintable(run.err));
    QVERIFY(!QFileInfo::exists(path));
}

QTEST_GUILESS_MAIN(TestCliExport)
#include "test_cliexport.moc"
