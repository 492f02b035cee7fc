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
    void sourceReportsAMissingDatabase();
    void rangeOfTheReadings();

private:
    QString dbFile() const { return m_dir->filePath(EnergyDatabase::kFileName); }
    QString target() const { return m_dir->filePath(QStringLiteral("Export.csv")); }
    ExportRequest request(const QLocale& locale, ExportSeparator separator,
                          const QString& code) const
    {
        return {target(), separator, headings(code), locale, std::nullopt};
    }
    bool addFixtureRows() const;
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

void TestEnergyExport::sourceReportsAMissingDatabase()
{
    QVERIFY(QFile::remove(dbFile()));
    DatabaseReader reader(m_dir->path());
    ExportSource source(reader);
    QSignalSpy finished(&source, &ExportSource::finished);
    source.start(request(QLocale::c(), ExportSeparator::Comma, "eng"));
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

QTEST_GUILESS_MAIN(TestEnergyExport)
#include "test_energyexport.moc"
