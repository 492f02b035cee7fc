#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "acquisition/energyexport.h"
#include "app/language.h"
#include "support/sqlfile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;
using powerlog::test::SqlFile;

namespace {

QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), EnergyDatabase::kDataFormat);
}

QStringList headings(const QString& code)
{
    QStringList list;
    for (Text id : {Text::ExportHeadingTension, Text::ExportHeadingCurrent,
                    Text::ExportHeadingPower, Text::ExportHeadingEnergy, Text::ExportHeadingDate})
        list << textFor(id, code);
    return list;
}

QStringList hourHeadings(const QString& code)
{
    QStringList list;
    for (Text id : {Text::ExportHeadingHour, Text::ExportHeadingKwh, Text::ExportHeadingKwhF1,
                    Text::ExportHeadingKwhF2, Text::ExportHeadingKwhF3, Text::ExportHeadingCost})
        list << textFor(id, code);
    return list;
}

// F1 0.32, F2 0.27, F3 0.18 a kWh.
const TariffPrices kPrices{{0.32, 0.27, 0.18}};

// Lines ended by CR LF, as the file must hold them.
QByteArray lines(const QStringList& texts)
{
    QByteArray bytes;
    for (const QString& text : texts)
        bytes += text.toUtf8() + "\r\n";
    return bytes;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestEnergyExport : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void filesByteForByte_data();
    void filesByteForByte();
    void periodBoundsAreIncluded_data();
    void periodBoundsAreIncluded();
    void emptyPeriodWritesTheHeadingAlone();
    void cancelledExportLeavesNoFile();
    void unwritableTargetFails_data();
    void unwritableTargetFails();
    void sourceExportsOffTheCallersThread();
    void sourceReportsAMissingDatabase_data();
    void sourceReportsAMissingDatabase();
    void rangeOfTheReadings();
    void hourlyEnergyFiles_data();
    void hourlyEnergyFiles();
    void hourlyPeriodTakesWholeHours_data();
    void hourlyPeriodTakesWholeHours();
    void hourlyEnergyOfAnEmptyTable();
    void sourceExportsTheHours();

private:
    QString dbFile() const { return m_dir->filePath(EnergyDatabase::kFileName); }
    QString target() const { return m_dir->filePath(QStringLiteral("Export.csv")); }
    ExportRequest request(const QLocale& locale, ExportSeparator separator,
                          const QString& code) const
    {
        return {target(), separator, headings(code), locale, std::nullopt};
    }
    bool addFixtureRows() const;
    bool addHourFixtureRows() const;
    ExportRequest hourRequest(const QLocale& locale, ExportSeparator separator, const QString& code,
                              const TariffPrices& prices = {}) const
    {
        return {target(), separator,    hourHeadings(code),
                locale,   std::nullopt, ExportKind::HourlyEnergy,
                prices};
    }
    // What the export left in the folder: no temporary file may stay behind.
    QStringList filesBesideTheDatabases() const
    {
        QStringList files = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        files.removeIf([](const QString& name) {
            return name.startsWith(EnergyDatabase::kFileName) || name.startsWith("big.mdb");
        });
        return files;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestEnergyExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(dbFile(), &error), qPrintable(error));
}

// Four readings around midnight; the third one's tension was no number ("229,5") and is kept as
// the text received.
bool TestEnergyExport::addFixtureRows() const
{
    SqlFile sql(dbFile());
    return sql.exec(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES "
                                   "(230.5, 1.25, 920, 152, '2026-12-05 00:00:00'), "
                                   "(229, 0.5, -15, 1234567.5, '2026-12-05 10:16:26'), "
                                   "('229,5', 2, 3000, 1234600, '2026-12-05 23:59:59'), "
                                   "(231.25, 1, 0, 1234601, '2026-12-06 00:00:00')"));
}

// Monday 7 December 2026. 09:59 to 10:01 at 3000 W is split between hours 9 and 10 (0.050 kWh
// each); 10:01 to 10:03 at 1500 W adds 0.050; 10:03 to 10:20 is a gap (1020 s); 10:20 to 10:25,
// the longest step that counts, adds 0.200 at 2400 W. 19:00 to 19:05 is band F2 (0.200 kWh),
// 23:30 to 23:35 band F3 (0.100 kWh); the steps between them are gaps.
bool TestEnergyExport::addHourFixtureRows() const
{
    SqlFile sql(dbFile());
    return sql.exec(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES "
                                   "(230, 13, 3000, 1, '2026-12-07 09:59:00'), "
                                   "(230, 6.5, 1500, 2, '2026-12-07 10:01:00'), "
                                   "(230, 8.7, 2000, 3, '2026-12-07 10:03:00'), "
                                   "(230, 10.4, 2400, 4, '2026-12-07 10:20:00'), "
                                   "(230, 0, 0, 5, '2026-12-07 10:25:00'), "
                                   "(230, 10.4, 2400, 6, '2026-12-07 19:00:00'), "
                                   "(230, 0, 0, 7, '2026-12-07 19:05:00'), "
                                   "(230, 5.2, 1200, 8, '2026-12-07 23:30:00'), "
                                   "(230, 0, 0, 9, '2026-12-07 23:35:00')"));
}

void TestEnergyExport::filesByteForByte_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("code");
    QTest::addColumn<ExportSeparator>("separator");
    QTest::addColumn<QByteArray>("file");

    const QLocale it(QLocale::Italian, QLocale::Italy);
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("Italian, comma") << it << "ita" << ExportSeparator::Comma
                                    << lines({"Tensione (V),Corrente (A),Potenza (W),Energia,Data",
                                              "\"230,5\",\"1,25\",920,152,05/12/2026 00:00:00",
                                              "229,\"0,5\",-15,\"1234567,5\",05/12/2026 10:16:26",
                                              "\"229,5\",2,3000,1234600,05/12/2026 23:59:59",
                                              "\"231,25\",1,0,1234601,06/12/2026 00:00:00"});
    QTest::newRow("Italian, semicolon")
        << it << "ita" << ExportSeparator::Semicolon
        << lines({"Tensione (V);Corrente (A);Potenza (W);Energia;Data",
                  "230,5;1,25;920;152;05/12/2026 00:00:00",
                  "229;0,5;-15;1234567,5;05/12/2026 10:16:26",
                  "229,5;2;3000;1234600;05/12/2026 23:59:59",
                  "231,25;1;0;1234601;06/12/2026 00:00:00"});
    QTest::newRow("Italian, tab") << it << "ita" << ExportSeparator::Tab
                                  << lines(
                                         {"Tensione (V)\tCorrente (A)\tPotenza (W)\tEnergia\tData",
                                          "230,5\t1,25\t920\t152\t05/12/2026 00:00:00",
                                          "229\t0,5\t-15\t1234567,5\t05/12/2026 10:16:26",
                                          "229,5\t2\t3000\t1234600\t05/12/2026 23:59:59",
                                          "231,25\t1\t0\t1234601\t06/12/2026 00:00:00"});
    QTest::newRow("Italian, space")
        << it << "ita" << ExportSeparator::Space
        << lines({"\"Tensione (V)\" \"Corrente (A)\" \"Potenza (W)\" Energia Data",
                  "230,5 1,25 920 152 \"05/12/2026 00:00:00\"",
                  "229 0,5 -15 1234567,5 \"05/12/2026 10:16:26\"",
                  "229,5 2 3000 1234600 \"05/12/2026 23:59:59\"",
                  "231,25 1 0 1234601 \"06/12/2026 00:00:00\""});
    QTest::newRow("English, comma") << en << "eng" << ExportSeparator::Comma
                                    << lines({"Tension (V),Current (A),Power (W),Energy,Date",
                                              "230.5,1.25,920,152,12/5/2026 12:00:00 AM",
                                              "229,0.5,-15,1234567.5,12/5/2026 10:16:26 AM",
                                              "\"229,5\",2,3000,1234600,12/5/2026 11:59:59 PM",
                                              "231.25,1,0,1234601,12/6/2026 12:00:00 AM"});
    QTest::newRow("English, semicolon") << en << "eng" << ExportSeparator::Semicolon
                                        << lines({"Tension (V);Current (A);Power (W);Energy;Date",
                                                  "230.5;1.25;920;152;12/5/2026 12:00:00 AM",
                                                  "229;0.5;-15;1234567.5;12/5/2026 10:16:26 AM",
                                                  "229,5;2;3000;1234600;12/5/2026 11:59:59 PM",
                                                  "231.25;1;0;1234601;12/6/2026 12:00:00 AM"});
    QTest::newRow("English, tab") << en << "eng" << ExportSeparator::Tab
                                  << lines({"Tension (V)\tCurrent (A)\tPower (W)\tEnergy\tDate",
                                            "230.5\t1.25\t920\t152\t12/5/2026 12:00:00 AM",
                                            "229\t0.5\t-15\t1234567.5\t12/5/2026 10:16:26 AM",
                                            "229,5\t2\t3000\t1234600\t12/5/2026 11:59:59 PM",
                                            "231.25\t1\t0\t1234601\t12/6/2026 12:00:00 AM"});
    QTest::newRow("English, space")
        << en << "eng" << ExportSeparator::Space
        << lines({"\"Tension (V)\" \"Current (A)\" \"Power (W)\" Energy Date",
                  "230.5 1.25 920 152 \"12/5/2026 12:00:00 AM\"",
                  "229 0.5 -15 1234567.5 \"12/5/2026 10:16:26 AM\"",
                  "229,5 2 3000 1234600 \"12/5/2026 11:59:59 PM\"",
                  "231.25 1 0 1234601 \"12/6/2026 12:00:00 AM\""});
}

void TestEnergyExport::filesByteForByte()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, code);
    QFETCH(ExportSeparator, separator);
    QFETCH(QByteArray, file);
    QVERIFY(addFixtureRows());
    const ExportResult result = exportEnergy(dbFile(), request(locale, separator, code));
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(4));
    QCOMPARE(contents(target()), file);
}

void TestEnergyExport::periodBoundsAreIncluded_data()
{
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("to");
    QTest::addColumn<QStringList>("times");

    QTest::newRow("both ends on readings") << at("2026-12-05 10:16:26") << at("2026-12-06 00:00:00")
                                           << QStringList{"10:16:26", "23:59:59", "00:00:00"};
    QTest::newRow("one second either side")
        << at("2026-12-05 10:16:27") << at("2026-12-05 23:59:58") << QStringList{};
    QTest::newRow("start and end the same midnight")
        << at("2026-12-06 00:00:00") << at("2026-12-06 00:00:00") << QStringList{"00:00:00"};
}

void TestEnergyExport::periodBoundsAreIncluded()
{
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, to);
    QFETCH(QStringList, times);
    QVERIFY(addFixtureRows());
    ExportRequest wanted = request(QLocale::c(), ExportSeparator::Semicolon, "eng");
    wanted.period = {from, to};
    const ExportResult result = exportEnergy(dbFile(), wanted);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(times.size()));
    // The C locale writes "5 Dec 2026 10:16:26": the time is the line's last field.
    const QList<QByteArray> written = contents(target()).split('\n');
    QStringList found;
    for (const QByteArray& line : written.mid(1)) {
        if (!line.isEmpty())
            found << QString::fromUtf8(line.trimmed().right(8));
    }
    QCOMPARE(found, times);
}

void TestEnergyExport::emptyPeriodWritesTheHeadingAlone()
{
    QVERIFY(addFixtureRows());
    // An older export of that name, with other data, is replaced.
    QVERIFY(writeFile(target(), "older export\r\n1;2;3;4;5\r\n"));
    ExportRequest wanted = request(QLocale::c(), ExportSeparator::Semicolon, "eng");
    wanted.period = {at("2027-01-01 00:00:00"), at("2027-12-31 23:59:59")};
    const ExportResult result = exportEnergy(dbFile(), wanted);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(0));
    QCOMPARE(contents(target()), lines({"Tension (V);Current (A);Power (W);Energy;Date"}));
}

void TestEnergyExport::cancelledExportLeavesNoFile()
{
    QVERIFY(test::writeEnergyOnlyFile(m_dir->filePath(QStringLiteral("big.mdb")), 20000,
                                      QStringLiteral("2026-01-01")));
    QVERIFY(writeFile(target(), "older export\r\n"));
    ReadTicket ticket;
    // Cancelled once the file is open and the rows are being read.
    const ExportResult result = exportEnergy(m_dir->filePath(QStringLiteral("big.mdb")),
                                             request(QLocale::c(), ExportSeparator::Comma, "eng"),
                                             &ticket, [&ticket](int) { ticket.cancel(); });
    QCOMPARE(result.kind, ExportResult::Kind::Cancelled);
    QCOMPARE(contents(target()), QByteArray("older export\r\n"));
    QCOMPARE(filesBesideTheDatabases(), QStringList({"Export.csv"}));
}

void TestEnergyExport::unwritableTargetFails_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("folder missing") << "missing/Export.csv";
    QTest::newRow("a folder") << "folder";
}

void TestEnergyExport::unwritableTargetFails()
{
    QFETCH(QString, name);
    QVERIFY(addFixtureRows());
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder")));
    ExportRequest wanted = request(QLocale::c(), ExportSeparator::Comma, "eng");
    wanted.path = m_dir->filePath(name);
    const ExportResult result = exportEnergy(dbFile(), wanted);
    QCOMPARE(result.kind, ExportResult::Kind::WriteFailed);
    QVERIFY(!result.error.isEmpty());
    QVERIFY(!QFileInfo(wanted.path).isFile());
    QCOMPARE(filesBesideTheDatabases(), QStringList());
}

void TestEnergyExport::sourceExportsOffTheCallersThread()
{
    QVERIFY(addFixtureRows());
    DatabaseReader reader(m_dir->path());
    ExportSource source(reader);
    QSignalSpy progress(&source, &ExportSource::progress);
    QSignalSpy finished(&source, &ExportSource::finished);
    source.start(
        request(QLocale(QLocale::Italian, QLocale::Italy), ExportSeparator::Semicolon, "ita"));
    QVERIFY(source.isRunning());
    QVERIFY(finished.wait(20000));
    QVERIFY(!source.isRunning());
    const auto result = finished.first().first().value<ExportResult>();
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(4));
    QCOMPARE(progress.last().first().toInt(), 1000);
    QVERIFY(contents(target()).startsWith("Tensione (V);"));
}

void TestEnergyExport::sourceReportsAMissingDatabase_data()
{
    QTest::addColumn<ExportKind>("kind");
    QTest::newRow("readings") << ExportKind::Readings;
    QTest::newRow("hourly energy") << ExportKind::HourlyEnergy;
}

void TestEnergyExport::sourceReportsAMissingDatabase()
{
    QFETCH(ExportKind, kind);
    QVERIFY(QFile::remove(dbFile()));
    DatabaseReader reader(m_dir->path());
    ExportSource source(reader);
    QSignalSpy finished(&source, &ExportSource::finished);
    ExportRequest wanted = request(QLocale::c(), ExportSeparator::Comma, "eng");
    wanted.kind = kind;
    source.start(wanted);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().value<ExportResult>().kind, ExportResult::Kind::NoConnection);
    QVERIFY(!QFileInfo::exists(target()));
}

void TestEnergyExport::rangeOfTheReadings()
{
    DatabaseReader reader(m_dir->path());
    ExportSource source(reader);
    QSignalSpy read(&source, &ExportSource::rangeRead);
    source.requestRange();
    QVERIFY(read.wait(20000));
    QVERIFY(read.last().at(1).value<ExportResult>().ok());
    QVERIFY(read.last().first().value<RecordedMoments>().isEmpty());

    QVERIFY(addFixtureRows());
    // A time written by another program takes no part.
    QVERIFY(SqlFile(dbFile()).exec(
        QStringLiteral("INSERT INTO Energy VALUES (1, 1, 1, 1, '31/12/2030 10:00:00')")));
    source.requestRange();
    QVERIFY(read.wait(20000));
    const auto range = read.last().first().value<RecordedMoments>();
    QCOMPARE(range.first, at("2026-12-05 00:00:00"));
    QCOMPARE(range.last, at("2026-12-06 00:00:00"));

    // No file: the window reports it as every failed open is reported.
    QVERIFY(QFile::remove(dbFile()));
    source.requestRange();
    QVERIFY(read.wait(20000));
    QCOMPARE(read.last().at(1).value<ExportResult>().kind, ExportResult::Kind::NoConnection);
}

void TestEnergyExport::hourlyEnergyFiles_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("code");
    QTest::addColumn<ExportSeparator>("separator");
    QTest::addColumn<TariffPrices>("prices");
    QTest::addColumn<QByteArray>("file");

    const QLocale it(QLocale::Italian, QLocale::Italy);
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    // Costs: 0.050 × 0.32 = 0.016, 0.300 × 0.32 = 0.096, 0.200 × 0.27 = 0.054, 0.100 × 0.18 =
    // 0.018.
    QTest::newRow("English, comma, prices set")
        << en << "eng" << ExportSeparator::Comma << kPrices
        << lines({"Hour,kWh,kWh F1,kWh F2,kWh F3,Cost",
                  "2026-12-07 09:00,0.050,0.050,0.000,0.000,0.02",
                  "2026-12-07 10:00,0.300,0.300,0.000,0.000,0.10",
                  "2026-12-07 19:00,0.200,0.000,0.200,0.000,0.05",
                  "2026-12-07 23:00,0.100,0.000,0.000,0.100,0.02"});
    QTest::newRow("Italian, semicolon, no prices")
        << it << "ita" << ExportSeparator::Semicolon << TariffPrices{}
        << lines({"Ora;kWh;kWh F1;kWh F2;kWh F3;Costo",
                  "2026-12-07 09:00;0,050;0,050;0,000;0,000;0,00",
                  "2026-12-07 10:00;0,300;0,300;0,000;0,000;0,00",
                  "2026-12-07 19:00;0,200;0,000;0,200;0,000;0,00",
                  "2026-12-07 23:00;0,100;0,000;0,000;0,100;0,00"});
    // A decimal comma is quoted with the comma separator, the hour with the blank.
    QTest::newRow("Italian, comma, prices set")
        << it << "ita" << ExportSeparator::Comma << kPrices
        << lines({"Ora,kWh,kWh F1,kWh F2,kWh F3,Costo",
                  "2026-12-07 09:00,\"0,050\",\"0,050\",\"0,000\",\"0,000\",\"0,02\"",
                  "2026-12-07 10:00,\"0,300\",\"0,300\",\"0,000\",\"0,000\",\"0,10\"",
                  "2026-12-07 19:00,\"0,200\",\"0,000\",\"0,200\",\"0,000\",\"0,05\"",
                  "2026-12-07 23:00,\"0,100\",\"0,000\",\"0,000\",\"0,100\",\"0,02\""});
    QTest::newRow("English, space, prices set")
        << en << "eng" << ExportSeparator::Space << kPrices
        << lines({"Hour kWh \"kWh F1\" \"kWh F2\" \"kWh F3\" Cost",
                  "\"2026-12-07 09:00\" 0.050 0.050 0.000 0.000 0.02",
                  "\"2026-12-07 10:00\" 0.300 0.300 0.000 0.000 0.10",
                  "\"2026-12-07 19:00\" 0.200 0.000 0.200 0.000 0.05",
                  "\"2026-12-07 23:00\" 0.100 0.000 0.000 0.100 0.02"});
}

void TestEnergyExport::hourlyEnergyFiles()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, code);
    QFETCH(ExportSeparator, separator);
    QFETCH(TariffPrices, prices);
    QFETCH(QByteArray, file);
    QVERIFY(addHourFixtureRows());
    const ExportResult result =
        exportEnergy(dbFile(), hourRequest(locale, separator, code, prices));
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(4));
    QCOMPARE(contents(target()), file);
}

// A period takes every hour it touches, from the one holding its start to the one holding its
// end.
void TestEnergyExport::hourlyPeriodTakesWholeHours_data()
{
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("to");
    QTest::addColumn<QStringList>("hours");

    QTest::newRow("inside hours 10 and 19")
        << at("2026-12-07 10:16:26") << at("2026-12-07 19:00:00")
        << QStringList{"2026-12-07 10:00", "2026-12-07 19:00"};
    QTest::newRow("the last second of 9 to the first of 10")
        << at("2026-12-07 09:59:59") << at("2026-12-07 10:00:00")
        << QStringList{"2026-12-07 09:00", "2026-12-07 10:00"};
    QTest::newRow("between two hours with energy")
        << at("2026-12-07 11:00:00") << at("2026-12-07 18:59:59") << QStringList{};
    QTest::newRow("into the next day") << at("2026-12-07 23:59:59") << at("2026-12-08 05:00:00")
                                       << QStringList{"2026-12-07 23:00"};
}

void TestEnergyExport::hourlyPeriodTakesWholeHours()
{
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, to);
    QFETCH(QStringList, hours);
    QVERIFY(addHourFixtureRows());
    ExportRequest wanted = hourRequest(QLocale::c(), ExportSeparator::Semicolon, "eng");
    wanted.period = {from, to};
    const ExportResult result = exportEnergy(dbFile(), wanted);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(hours.size()));
    const QList<QByteArray> written = contents(target()).split('\n');
    QCOMPARE(written.first(), QByteArray("Hour;kWh;kWh F1;kWh F2;kWh F3;Cost\r"));
    QStringList found;
    for (const QByteArray& line : written.mid(1)) {
        if (!line.isEmpty())
            found << QString::fromUtf8(line.split(';').first());
    }
    QCOMPARE(found, hours);
}

void TestEnergyExport::hourlyEnergyOfAnEmptyTable()
{
    QVERIFY(writeFile(target(), "older export\r\n"));
    const ExportResult result =
        exportEnergy(dbFile(), hourRequest(QLocale::c(), ExportSeparator::Comma, "eng", kPrices));
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(0));
    QCOMPARE(contents(target()), lines({"Hour,kWh,kWh F1,kWh F2,kWh F3,Cost"}));
}

void TestEnergyExport::sourceExportsTheHours()
{
    QVERIFY(addHourFixtureRows());
    DatabaseReader reader(m_dir->path());
    ExportSource source(reader);
    QSignalSpy progress(&source, &ExportSource::progress);
    QSignalSpy finished(&source, &ExportSource::finished);
    ExportRequest wanted = hourRequest(QLocale::c(), ExportSeparator::Tab, "eng", kPrices);
    wanted.period = {at("2026-12-07 19:00:00"), at("2026-12-07 19:59:59")};
    source.start(wanted);
    QVERIFY(finished.wait(20000));
    const auto result = finished.first().first().value<ExportResult>();
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(1));
    QCOMPARE(progress.last().first().toInt(), 1000);
    QCOMPARE(contents(target()), lines({"Hour\tkWh\tkWh F1\tkWh F2\tkWh F3\tCost",
                                        "2026-12-07 19:00\t0.200\t0.000\t0.200\t0.000\t0.05"}));
}

QTEST_GUILESS_MAIN(TestEnergyExport)
#include "test_energyexport.moc"
