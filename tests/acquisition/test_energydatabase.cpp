#include "acquisition/energydatabase.h"
#include "acquisition/reading.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>
#include <sqlite3.h>

using powerlog::DatabaseResult;
using powerlog::EnergyDatabase;
using powerlog::Reading;
using Kind = DatabaseResult::Kind;

namespace powerlog {

// Shown by QCOMPARE when two results differ.
char* toString(const DatabaseResult& result)
{
    static const char* const kinds[] = {"Ok", "NoConnection", "Failed"};
    return QTest::toString(
        QStringLiteral("%1 \"%2\"").arg(QLatin1String(kinds[int(result.kind)]), result.error));
}

} // namespace powerlog

namespace {

// Another program's view of the file: a connection of its own, closed when it goes away.
class OtherConnection
{
public:
    explicit OtherConnection(const QString& file)
        : m_name(QStringLiteral("other-%1").arg(++s_count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        db.open();
    }
    ~OtherConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }

    // The first column of every row, as text.
    QStringList column(const QString& sql) const
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        if (!query.exec(sql))
            qWarning() << sql << query.lastError().text();
        QStringList values;
        while (query.next())
            values << query.value(0).toString();
        return values;
    }
    QString value(const QString& sql) const { return column(sql).value(0); }

    bool exec(const QString& sql, const QVariantList& values = {}) const
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        query.prepare(sql);
        for (const QVariant& v : values)
            query.addBindValue(v);
        return query.exec();
    }

private:
    static inline int s_count = 0;
    QString m_name;
};

int rowCount(const QString& file, const QString& table = QStringLiteral("Energy"))
{
    return OtherConnection(file).value(QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

QStringList rollupRows(const QString& file)
{
    return OtherConnection(file).column(
        QStringLiteral("SELECT Slot || '|' || Samples || '|' || SumW || '|' || MaxW "
                       "FROM EnergyHalfHour ORDER BY Slot"));
}

QStringList dayRows(const QString& file)
{
    return OtherConnection(file).column(
        QStringLiteral("SELECT Day || '|' || Samples || '|' || SumW || '|' || MaxW "
                       "FROM EnergyDay ORDER BY Day"));
}

// Runs the build's database tool; its exit code, or -1 when it did not finish normally.
int runBuildTool(const QStringList& arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(POWERLOG_MKDB_PATH), arguments);
    if (!tool.waitForFinished() || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    return tool.exitCode();
}

QDateTime at(int day, int hour, int minute, int second)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second));
}

// A full reading as the meter hands it over: the texts received and their numbers.
Reading reading(const QString& v, const QString& a, qint16 w, double e,
                const QDateTime& time = at(5, 10, 16, 26))
{
    Reading r;
    r.V = v;
    r.A = a;
    r.W = QString::number(w);
    r.E = QString::number(e);
    r.power = w;
    r.energy = e;
    r.time = time;
    return r;
}

Reading reading(qint16 w = 920, const QDateTime& time = at(5, 10, 16, 26))
{
    return reading(QStringLiteral("230"), QStringLiteral("4"), w, 152, time);
}

} // namespace

class TestEnergyDatabase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void createEmptyWritesTheLayout();
    void createEmptyLeavesExistingFilesAlone();
    void insertBindsValues_data();
    void insertBindsValues();
    void lineNotMeasuredIsStoredAsNull();
    void insertWithoutNumbersIsRefused_data();
    void insertWithoutNumbersIsRefused();
    void missingFileReportedOnEveryAttemptUntilItIsBack();
    void folderNamesAreTakenLiterally_data();
    void folderNamesAreTakenLiterally();
    void openRefusesUnusableFiles_data();
    void openRefusesUnusableFiles();
    void insertRefused();
    void durableAndVisibleToOtherConnections();
    void rollupFollowsEnergy_data();
    void rollupFollowsEnergy();
    void clearAllRowsEmptiesBothTables();
    void clearAllRowsOpensTheFileFirst();
    void clearAllRowsOfMissingFile();
    void clearAllRowsRefused();
    void compactionReplacesBackupAndRemovesTemp();
    void failedSecondRenameRestoresDatabase();
    void databaseKeepsItsNameThroughoutCompaction();
    void recordingCacheStaysSmallWhileTheFileGrows();
    void compactionOfMissingFileFails();
    void buildToolWritesAndReplaces();
    void buildToolFailsOnBadPath();

private:
    QString file(const QString& name) const { return m_dir->filePath(name); }
    QString dbFile() const { return file(EnergyDatabase::kFileName); }
    std::unique_ptr<EnergyDatabase> makeDatabase()
    {
        return std::make_unique<EnergyDatabase>(m_dir->path());
    }
    static void insertAt(EnergyDatabase& db, const QDateTime& when, qint16 w)
    {
        const DatabaseResult result = db.insert(reading(w, when));
        QVERIFY2(result.ok(), qPrintable(result.error));
    }
    static void verifyFailure(const DatabaseResult& result, Kind kind)
    {
        QCOMPARE(result.kind, kind);
        QVERIFY(!result.ok());
        QVERIFY(!result.error.isEmpty());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestEnergyDatabase::initTestCase()
{
    // Decimal commas and day-first dates must not leak into what is stored.
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
}

void TestEnergyDatabase::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestEnergyDatabase::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestEnergyDatabase::cleanup()
{
    m_dir.reset();
}

void TestEnergyDatabase::createEmptyWritesTheLayout()
{
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(dbFile(), &error), qPrintable(error));

    OtherConnection other(dbFile());
    QCOMPARE(other.column(QStringLiteral("SELECT name || ' ' || type FROM "
                                         "pragma_table_info('Energy') ORDER BY cid")),
             QStringList({"V REAL", "a REAL", "W INTEGER", "e REAL", "Data TEXT"}));
    QCOMPARE(other.column(QStringLiteral("SELECT ii.name FROM pragma_index_list('Energy') il, "
                                         "pragma_index_info(il.name) ii")),
             QStringList{"Data"});
    QCOMPARE(other.column(QStringLiteral("SELECT name FROM pragma_table_info('EnergyHalfHour') "
                                         "ORDER BY cid")),
             QStringList({"Slot", "Samples", "SumW", "MaxW"}));
    QCOMPARE(other.value(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
    QCOMPARE(rowCount(dbFile()), 0);

    auto db = makeDatabase();
    QCOMPARE(db->open(), DatabaseResult{});
    QVERIFY(db->isOpen());
}

void TestEnergyDatabase::createEmptyLeavesExistingFilesAlone()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    {
        auto db = makeDatabase();
        insertAt(*db, at(5, 10, 0, 0), 500);
    }
    QString error;
    QVERIFY(!EnergyDatabase::createEmpty(dbFile(), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(rowCount(dbFile()), 1);
}

void TestEnergyDatabase::insertBindsValues_data()
{
    QTest::addColumn<QString>("v");
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("storedV");
    QTest::addColumn<QString>("storedA");

    // Stored values are shown as "typeof:value" as SQLite holds them.
    QTest::newRow("whole numbers") << "230"
                                   << "4"
                                   << "real:230.0"
                                   << "real:4.0";
    QTest::newRow("decimal point") << "229.5"
                                   << "4.25"
                                   << "real:229.5"
                                   << "real:4.25";
    QTest::newRow("decimal comma is not a number") << "229,5"
                                                   << "1,250"
                                                   << "text:229,5"
                                                   << "text:1,250";
    QTest::newRow("group separator is not a thousand") << "1,234"
                                                       << "abc"
                                                       << "text:1,234"
                                                       << "text:abc";
    // REAL affinity would turn these well-formed literals into Inf; a blob keeps the text.
    QTest::newRow("overflowing numbers keep their text") << "1e999"
                                                         << "-1e999"
                                                         << "blob:1e999"
                                                         << "blob:-1e999";
    QTest::newRow("hostile text stays data") << "1); drop table Energy; --"
                                             << "'"
                                             << "text:1); drop table Energy; --"
                                             << "text:'";
    QTest::newRow("empty") << ""
                           << ""
                           << "text:"
                           << "text:";
}

void TestEnergyDatabase::insertBindsValues()
{
    QFETCH(QString, v);
    QFETCH(QString, a);
    QFETCH(QString, storedV);
    QFETCH(QString, storedA);
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();

    QCOMPARE(db->insert(reading(v, a, 920, 1234.5)), DatabaseResult{});

    OtherConnection other(dbFile());
    QCOMPARE(
        other.column(QStringLiteral("SELECT typeof(V) || ':' || V FROM Energy UNION ALL "
                                    "SELECT typeof(a) || ':' || a FROM Energy UNION ALL "
                                    "SELECT typeof(W) || ':' || W FROM Energy UNION ALL "
                                    "SELECT typeof(e) || ':' || e FROM Energy UNION ALL "
                                    "SELECT typeof(Data) || ':' || Data FROM Energy")),
        QStringList({storedV, storedA, "integer:920", "real:1234.5", "text:2026-12-05 10:16:26"}));
    QCOMPARE(rowCount(dbFile()), 1);
}

// An energy meter measures neither tension nor current: nothing is stored for them.
void TestEnergyDatabase::lineNotMeasuredIsStoredAsNull()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    Reading meter = reading(QString(), QString(), -350, 1500.5);
    meter.lineMeasured = false;

    QCOMPARE(db->insert(meter), DatabaseResult{});

    OtherConnection other(dbFile());
    QCOMPARE(other.column(QStringLiteral("SELECT typeof(V) || ' ' || typeof(a) || ' ' || W || "
                                         "' ' || e FROM Energy")),
             QStringList({"null null -350 1500.5"}));
}

void TestEnergyDatabase::insertWithoutNumbersIsRefused_data()
{
    QTest::addColumn<Reading>("partial");
    Reading noPower = reading();
    noPower.power.reset();
    Reading noEnergy = reading();
    noEnergy.energy.reset();
    QTest::newRow("no power") << noPower;
    QTest::newRow("no energy") << noEnergy;
}

void TestEnergyDatabase::insertWithoutNumbersIsRefused()
{
    QFETCH(Reading, partial);
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();

    verifyFailure(db->insert(partial), Kind::Failed);

    QCOMPARE(rowCount(dbFile()), 0);
    insertAt(*db, at(5, 10, 0, 0), 500);
}

void TestEnergyDatabase::missingFileReportedOnEveryAttemptUntilItIsBack()
{
    auto db = makeDatabase();

    verifyFailure(db->insert(reading()), Kind::NoConnection);
    verifyFailure(db->insert(reading()), Kind::NoConnection);
    verifyFailure(db->open(), Kind::NoConnection);
    QVERIFY(!db->isOpen());
    QVERIFY(QDir(m_dir->path()).isEmpty());

    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    QCOMPARE(db->insert(reading()), DatabaseResult{});
    QCOMPARE(rowCount(dbFile()), 1);
}

void TestEnergyDatabase::folderNamesAreTakenLiterally_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("blank") << "Program Files";
    QTest::newRow("percent") << "100%20sure";
    QTest::newRow("query and fragment") << "what?mode=rwc#x";
    QTest::newRow("accents") << QStringLiteral("Proprietà");
}

void TestEnergyDatabase::folderNamesAreTakenLiterally()
{
    QFETCH(QString, folder);
    QVERIFY(QDir(m_dir->path()).mkdir(folder));
    const QString programFolder = file(folder);
    EnergyDatabase db(programFolder);

    QCOMPARE(db.insert(reading()).kind, Kind::NoConnection);
    QVERIFY(QDir(programFolder).isEmpty());

    QVERIFY(EnergyDatabase::createEmpty(db.path()));
    QCOMPARE(db.insert(reading()), DatabaseResult{});
    QCOMPARE(rowCount(db.path()), 1);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{folder});
}

void TestEnergyDatabase::openRefusesUnusableFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("schema");

    QTest::newRow("not a database") << QByteArray(8192, 'x') << QString();
    QTest::newRow("empty file") << QByteArray() << QString();
    QTest::newRow("no Energy table") << QByteArray() << "CREATE TABLE Other (x INTEGER)";
}

void TestEnergyDatabase::openRefusesUnusableFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, schema);
    {
        QFile out(dbFile());
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
    }
    if (!schema.isEmpty())
        QVERIFY(OtherConnection(dbFile()).exec(schema));
    auto db = makeDatabase();

    verifyFailure(db->open(), Kind::NoConnection);

    QVERIFY(!db->isOpen());
    QCOMPARE(db->insert(reading()).kind, Kind::NoConnection);
}

void TestEnergyDatabase::insertRefused()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    QCOMPARE(db->insert(reading()), DatabaseResult{});
    QVERIFY(OtherConnection(dbFile()).exec(QStringLiteral("DROP TABLE Energy")));

    const DatabaseResult result = db->insert(reading());

    verifyFailure(result, Kind::Failed);
    QVERIFY2(result.error.contains(QStringLiteral("Energy")), qPrintable(result.error));
}

void TestEnergyDatabase::durableAndVisibleToOtherConnections()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    QVERIFY(db->open().ok());
    {
        QSqlQuery query(db->connection());
        QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(query.exec(QStringLiteral("PRAGMA synchronous")) && query.next());
        QCOMPARE(query.value(0).toInt(), 2); // FULL
    }

    insertAt(*db, at(5, 10, 0, 0), 500);
    insertAt(*db, at(5, 10, 0, 10), 600);

    QVERIFY(db->isOpen());
    QCOMPARE(rowCount(dbFile()), 2);
}

void TestEnergyDatabase::rollupFollowsEnergy_data()
{
    QTest::addColumn<QString>("origin");
    QTest::newRow("file written by the build") << QStringLiteral("build");
    QTest::newRow("file without the rollup") << QStringLiteral("hand");
    QTest::newRow("file with half hours only") << QStringLiteral("halfhours");
}

void TestEnergyDatabase::rollupFollowsEnergy()
{
    QFETCH(QString, origin);
    const QList<std::pair<QDateTime, qint16>> readings{
        {at(5, 10, 0, 0), 100},   {at(5, 10, 29, 59), 300}, {at(5, 10, 30, 0), 50},
        {at(5, 10, 59, 59), -20}, {at(5, 23, 59, 59), 7},   {at(6, 0, 0, 0), 9},
    };
    auto db = makeDatabase();
    if (origin == QStringLiteral("halfhours")) {
        // An earlier version's file: the half-hour summary and its own trigger, no days.
        QVERIFY(EnergyDatabase::createEmpty(dbFile()));
        {
            OtherConnection other(dbFile());
            QVERIFY(other.exec(QStringLiteral("DROP TRIGGER EnergySummariesOnInsert")));
            QVERIFY(other.exec(QStringLiteral("DROP TABLE EnergyDay")));
            QVERIFY(other.exec(QStringLiteral(
                "CREATE TRIGGER EnergyHalfHourOnInsert AFTER INSERT ON Energy WHEN NEW.W IS NOT "
                "NULL BEGIN INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) VALUES "
                "(substr(NEW.Data, 1, 14) || CASE WHEN substr(NEW.Data, 15, 2) < '30' THEN '00' "
                "ELSE '30' END, 1, NEW.W, NEW.W) ON CONFLICT (Slot) DO UPDATE SET "
                "Samples = Samples + excluded.Samples, SumW = SumW + excluded.SumW, "
                "MaxW = max(MaxW, excluded.MaxW); END")));
            for (const auto& [when, w] : readings)
                QVERIFY(other.exec(QStringLiteral("INSERT INTO Energy VALUES (230, 4, ?, 1, ?)"),
                                   {int(w), when.toString(EnergyDatabase::kDataFormat)}));
        }
        QVERIFY(db->open().ok());
        QCOMPARE(OtherConnection(dbFile()).column(QStringLiteral(
                     "SELECT name FROM sqlite_master WHERE type = 'trigger' ORDER BY name")),
                 (QStringList{"EnergyHourOnInsert", "EnergySummariesOnInsert"}));
    } else if (origin == QStringLiteral("hand")) {
        OtherConnection other(dbFile());
        QVERIFY(other.exec(QStringLiteral("CREATE TABLE energy (v DOUBLE, a DOUBLE, w INTEGER, "
                                          "e DOUBLE, data DATETIME)")));
        for (const auto& [when, w] : readings)
            QVERIFY(other.exec(QStringLiteral("INSERT INTO energy VALUES (230, 4, ?, 1, ?)"),
                               {int(w), when.toString(EnergyDatabase::kDataFormat)}));
        // A date in another form cannot be placed in a half hour and is left out.
        QVERIFY(other.exec(
            QStringLiteral("INSERT INTO energy VALUES (230, 4, 999, 1, '05/12/2026 10:16:26')")));
        QVERIFY(db->open().ok());
        QCOMPARE(OtherConnection(dbFile()).value(QStringLiteral("PRAGMA journal_mode")),
                 QStringLiteral("wal"));
    } else {
        QVERIFY(EnergyDatabase::createEmpty(dbFile()));
        for (const auto& [when, w] : readings)
            insertAt(*db, when, w);
    }
    insertAt(*db, at(5, 10, 45, 0), 10);

    QCOMPARE(rollupRows(dbFile()), QStringList({
                                       "2026-12-05 10:00|2|400|300",
                                       "2026-12-05 10:30|3|40|50",
                                       "2026-12-05 23:30|1|7|7",
                                       "2026-12-06 00:00|1|9|9",
                                   }));
    QCOMPARE(dayRows(dbFile()), QStringList({"2026-12-05|6|447|300", "2026-12-06|1|9|9"}));

    QCOMPARE(db->clear(), DatabaseResult{});
    QVERIFY(rollupRows(dbFile()).isEmpty());
    QVERIFY(dayRows(dbFile()).isEmpty());
    insertAt(*db, at(7, 8, 15, 0), 1200);
    QCOMPARE(rollupRows(dbFile()), QStringList{"2026-12-07 08:00|1|1200|1200"});
    QCOMPARE(dayRows(dbFile()), QStringList{"2026-12-07|1|1200|1200"});
}

void TestEnergyDatabase::clearAllRowsEmptiesBothTables()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    insertAt(*db, at(5, 10, 0, 0), 500);
    insertAt(*db, at(5, 10, 0, 10), 600);

    QCOMPARE(db->clear(), DatabaseResult{});

    QVERIFY(db->isOpen());
    QCOMPARE(rowCount(dbFile()), 0);
    QCOMPARE(rowCount(dbFile(), QStringLiteral("EnergyHalfHour")), 0);
    QVERIFY(!QFile::exists(file(EnergyDatabase::kBackupName)));
}

void TestEnergyDatabase::clearAllRowsOpensTheFileFirst()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    QVERIFY(OtherConnection(dbFile()).exec(
        QStringLiteral("INSERT INTO Energy VALUES (230, 4, 920, 152, '2026-12-05 10:16:26')")));
    auto db = makeDatabase();
    QVERIFY(!db->isOpen());

    QCOMPARE(db->clear(), DatabaseResult{});

    QVERIFY(db->isOpen());
    QCOMPARE(rowCount(dbFile()), 0);
    QCOMPARE(rowCount(dbFile(), QStringLiteral("EnergyHalfHour")), 0);
}

void TestEnergyDatabase::clearAllRowsOfMissingFile()
{
    auto db = makeDatabase();

    verifyFailure(db->clear(), Kind::NoConnection);

    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestEnergyDatabase::clearAllRowsRefused()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    insertAt(*db, at(5, 10, 0, 0), 500);
    QVERIFY(OtherConnection(dbFile()).exec(QStringLiteral("DROP TABLE EnergyHalfHour")));

    const DatabaseResult result = db->clear();

    verifyFailure(result, Kind::Failed);
    QVERIFY2(result.error.contains(QStringLiteral("EnergyHalfHour")), qPrintable(result.error));
    QCOMPARE(rowCount(dbFile()), 1); // all rows or none
}

void TestEnergyDatabase::compactionReplacesBackupAndRemovesTemp()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    for (int i = 0; i < 3; ++i)
        insertAt(*db, at(5, 10, 0, i), 500 + i);
    for (const QString& name : {EnergyDatabase::kBackupName, EnergyDatabase::kTempName}) {
        QFile stale(file(name));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("left over from an earlier run");
    }

    QCOMPARE(db->compact(), DatabaseResult{});

    QVERIFY(!db->isOpen());
    QVERIFY(!QFile::exists(file(EnergyDatabase::kTempName)));
    QCOMPARE(rowCount(file(EnergyDatabase::kBackupName)), 3);
    QCOMPARE(rowCount(dbFile()), 3);
    QCOMPARE(OtherConnection(dbFile()).value(QStringLiteral("PRAGMA journal_mode")),
             QStringLiteral("wal"));
    QCOMPARE(rollupRows(dbFile()), QStringList{"2026-12-05 10:00|3|1503|502"});

    insertAt(*db, at(5, 10, 0, 9), 700);
    QVERIFY(db->isOpen());
    QCOMPARE(rowCount(dbFile()), 4);
}

void TestEnergyDatabase::failedSecondRenameRestoresDatabase()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    insertAt(*db, at(5, 10, 0, 0), 500);
    const QString temp = file(EnergyDatabase::kTempName);
    db->setRenameFunction([&](const QString& from, const QString& to) {
        return from != temp && QFile::rename(from, to);
    });

    const DatabaseResult result = db->compact();

    verifyFailure(result, Kind::Failed);
    QVERIFY2(result.error.contains(QStringLiteral("restored")), qPrintable(result.error));
    QVERIFY(!QFile::exists(file(EnergyDatabase::kBackupName)));
    QCOMPARE(rowCount(dbFile()), 1);
    insertAt(*db, at(5, 10, 0, 10), 600);
}

// A compaction killed at any moment must leave the database under its name: the compacted
// copy takes the name in one step, never after the file has been moved away.
void TestEnergyDatabase::databaseKeepsItsNameThroughoutCompaction()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    insertAt(*db, at(5, 10, 0, 0), 500);
    QStringList missingAt;
    db->setRenameFunction([&](const QString& from, const QString& to) {
        if (!QFileInfo::exists(dbFile()))
            missingAt << QFileInfo(from).fileName() + QStringLiteral(" -> ") +
                             QFileInfo(to).fileName();
        const bool renamed = std::rename(QFile::encodeName(from).constData(),
                                         QFile::encodeName(to).constData()) == 0;
        if (!QFileInfo::exists(dbFile()))
            missingAt << QStringLiteral("after ") + QFileInfo(from).fileName();
        return renamed;
    });

    QCOMPARE(db->compact(), DatabaseResult{});

    QCOMPARE(missingAt, QStringList());
    QCOMPARE(rowCount(dbFile()), 1);
    QCOMPARE(rowCount(file(EnergyDatabase::kBackupName)), 1);
    QVERIFY(!QFile::exists(file(EnergyDatabase::kTempName)));
}

// The recording connection only appends: however far the file grows, its page cache stays
// within the recording size, so the program's memory stays flat.
void TestEnergyDatabase::recordingCacheStaysSmallWhileTheFileGrows()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    QVERIFY(db->open().ok());
    db->useRecordingCache();
    QSqlDatabase connection = db->connection();
    QVERIFY(connection.transaction());
    const QDateTime start = at(1, 0, 0, 0);
    for (int i = 0; i < 40000; ++i)
        QCOMPARE(db->insert(reading(qint16(300 + i % 2000), start.addSecs(i))), DatabaseResult{});
    QVERIFY(connection.commit());

    const QVariant handle = connection.driver()->handle();
    QCOMPARE(handle.typeName(), "sqlite3*");
    sqlite3* sqlite = *static_cast<sqlite3* const*>(handle.constData());
    int used = 0;
    int highest = 0;
    QCOMPARE(sqlite3_db_status(sqlite, SQLITE_DBSTATUS_CACHE_USED, &used, &highest, 0), SQLITE_OK);
    const auto pragma = [&connection](const char* name) {
        QSqlQuery query(connection);
        return query.exec(QStringLiteral("PRAGMA ") + QLatin1String(name)) && query.next()
                   ? query.value(0).toLongLong()
                   : 0;
    };
    const qint64 written = pragma("page_count") * pragma("page_size");
    QVERIFY2(written > 4 * EnergyDatabase::kRecordingCacheKiB * 1024,
             qPrintable(QString::number(written)));
    // Each cached page carries a small header of SQLite's own beside its bytes.
    QVERIFY2(
        used <= EnergyDatabase::kRecordingCacheKiB * 1024 * 11 / 10,
        qPrintable(QStringLiteral("%1 bytes cached of a %2-byte file").arg(used).arg(written)));
}

void TestEnergyDatabase::compactionOfMissingFileFails()
{
    auto db = makeDatabase();

    verifyFailure(db->compact(), Kind::Failed);

    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestEnergyDatabase::buildToolWritesAndReplaces()
{
    QCOMPARE(runBuildTool({dbFile()}), 0);
    QVERIFY(OtherConnection(dbFile()).exec(
        QStringLiteral("INSERT INTO Energy VALUES (230, 4, 920, 152, '2026-12-05 10:16:26')")));
    QCOMPARE(rowCount(dbFile()), 1);

    QCOMPARE(runBuildTool({dbFile()}), 0);

    QCOMPARE(rowCount(dbFile()), 0);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{EnergyDatabase::kFileName});
    auto db = makeDatabase();
    QVERIFY(db->open().ok());
}

void TestEnergyDatabase::buildToolFailsOnBadPath()
{
    const QString target = file(QStringLiteral("missing-folder/") + EnergyDatabase::kFileName);
    QCOMPARE(runBuildTool({target}), 1);
    QCOMPARE(runBuildTool({}), 2);
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestEnergyDatabase)
#include "test_energydatabase.moc"
