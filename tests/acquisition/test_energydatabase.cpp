#include "acquisition/energydatabase.h"
#include "support/recorders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using powerlog::EnergyDatabase;
using powerlog::Prompts;
using powerlog::test::FixedClock;
using powerlog::test::RecordingPrompts;
using Result = EnergyDatabase::InsertResult;

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
    void missingFileReportedOnEveryAttemptUntilItIsBack();
    void folderNamesAreTakenLiterally_data();
    void folderNamesAreTakenLiterally();
    void openRefusesUnusableFiles_data();
    void openRefusesUnusableFiles();
    void insertRefusedReportsOnce();
    void durableAndVisibleToOtherConnections();
    void rollupFollowsEnergy_data();
    void rollupFollowsEnergy();
    void clearDatabase_data();
    void clearDatabase();
    void compactionReplacesBackupAndRemovesTemp();
    void failedSecondRenameRestoresDatabase();
    void compactionOfMissingFileFails();
    void buildToolWritesAndReplaces();
    void buildToolFailsOnBadPath();

private:
    QString file(const QString& name) const { return m_dir->filePath(name); }
    QString dbFile() const { return file(EnergyDatabase::kFileName); }
    std::unique_ptr<EnergyDatabase> makeDatabase()
    {
        auto db = std::make_unique<EnergyDatabase>(m_dir->path(), m_prompts, m_clock);
        db->setBusyIndicator([this](bool busy) { m_busy << busy; });
        return db;
    }
    void insertAt(EnergyDatabase& db, const QDateTime& when, qint16 w)
    {
        m_clock.time = when;
        QCOMPARE(db.InsertReading(QStringLiteral("230"), QStringLiteral("4"), w, 100.0),
                 Result::Written);
    }
    static QString title() { return QCoreApplication::applicationName(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingPrompts m_prompts;
    FixedClock m_clock;
    QList<bool> m_busy;
};

void TestEnergyDatabase::initTestCase()
{
    // Decimal commas and day-first dates must not leak into what is stored.
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    QVERIFY(!title().isEmpty());
}

void TestEnergyDatabase::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestEnergyDatabase::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_prompts = RecordingPrompts();
    m_clock = FixedClock();
    m_busy.clear();
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
    QVERIFY(db->OpenDatabase());
    QVERIFY(m_prompts.shown.isEmpty());
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

    QCOMPARE(db->InsertReading(v, a, 920, 1234.5), Result::Written);

    QVERIFY(m_prompts.shown.isEmpty());
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

void TestEnergyDatabase::missingFileReportedOnEveryAttemptUntilItIsBack()
{
    auto db = makeDatabase();

    QCOMPARE(db->InsertReading("230", "4", 920, 152), Result::NoConnection);
    QCOMPARE(db->InsertReading("230", "4", 920, 152), Result::NoConnection);

    QCOMPARE(m_prompts.shown.size(), 2);
    for (const auto& shown : m_prompts.shown) {
        QCOMPARE(shown.title, QStringLiteral("Errore connessione DB"));
        QCOMPARE(shown.icon, Prompts::Icon::Critical);
        QVERIFY(!shown.text.isEmpty());
    }
    QVERIFY(QDir(m_dir->path()).isEmpty());

    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    QCOMPARE(db->InsertReading("230", "4", 920, 152), Result::Written);
    QCOMPARE(m_prompts.shown.size(), 2);
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
    EnergyDatabase db(programFolder, m_prompts, m_clock);

    QCOMPARE(db.InsertReading("230", "4", 920, 152), Result::NoConnection);
    QVERIFY(QDir(programFolder).isEmpty());

    QVERIFY(EnergyDatabase::createEmpty(db.path()));
    QCOMPARE(db.InsertReading("230", "4", 920, 152), Result::Written);
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

    QVERIFY(!db->OpenDatabase());

    QVERIFY(!db->isOpen());
    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown[0].title, QStringLiteral("Errore connessione DB"));
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Critical);
    QVERIFY(!m_prompts.shown[0].text.isEmpty());
    QCOMPARE(db->InsertReading("230", "4", 920, 152), Result::NoConnection);
}

void TestEnergyDatabase::insertRefusedReportsOnce()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    QCOMPARE(db->InsertReading("230", "4", 920, 152), Result::Written);
    QVERIFY(OtherConnection(dbFile()).exec(QStringLiteral("DROP TABLE Energy")));

    QCOMPARE(db->InsertReading("230", "4", 920, 152), Result::Refused);

    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown[0].title, title());
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Critical);
    QVERIFY(m_prompts.shown[0].text.contains(QStringLiteral("Energy")));
}

void TestEnergyDatabase::durableAndVisibleToOtherConnections()
{
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    QVERIFY(db->OpenDatabase());
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
    QTest::addColumn<bool>("handMade");
    QTest::newRow("file written by the build") << false;
    QTest::newRow("file without the rollup") << true;
}

void TestEnergyDatabase::rollupFollowsEnergy()
{
    QFETCH(bool, handMade);
    const QList<std::pair<QDateTime, qint16>> readings{
        {at(5, 10, 0, 0), 100},   {at(5, 10, 29, 59), 300}, {at(5, 10, 30, 0), 50},
        {at(5, 10, 59, 59), -20}, {at(5, 23, 59, 59), 7},   {at(6, 0, 0, 0), 9},
    };
    auto db = makeDatabase();
    if (handMade) {
        OtherConnection other(dbFile());
        QVERIFY(other.exec(QStringLiteral("CREATE TABLE energy (v DOUBLE, a DOUBLE, w INTEGER, "
                                          "e DOUBLE, data DATETIME)")));
        for (const auto& [when, w] : readings)
            QVERIFY(other.exec(QStringLiteral("INSERT INTO energy VALUES (230, 4, ?, 1, ?)"),
                               {int(w), when.toString(EnergyDatabase::kDataFormat)}));
        // A date in another form cannot be placed in a half hour and is left out.
        QVERIFY(other.exec(
            QStringLiteral("INSERT INTO energy VALUES (230, 4, 999, 1, '05/12/2026 10:16:26')")));
        QVERIFY(db->OpenDatabase());
        QCOMPARE(OtherConnection(dbFile()).value(QStringLiteral("PRAGMA journal_mode")),
                 QStringLiteral("wal"));
    } else {
        QVERIFY(EnergyDatabase::createEmpty(dbFile()));
        for (const auto& [when, w] : readings)
            insertAt(*db, when, w);
    }
    insertAt(*db, at(5, 10, 45, 0), 10);

    QVERIFY(m_prompts.shown.isEmpty());
    QCOMPARE(rollupRows(dbFile()), QStringList({
                                       "2026-12-05 10:00|2|400|300",
                                       "2026-12-05 10:30|3|40|50",
                                       "2026-12-05 23:30|1|7|7",
                                       "2026-12-06 00:00|1|9|9",
                                   }));

    m_prompts.answers << true << false;
    db->ClearDatabase(QStringLiteral("eng"));
    QVERIFY(rollupRows(dbFile()).isEmpty());
    insertAt(*db, at(7, 8, 15, 0), 1200);
    QCOMPARE(rollupRows(dbFile()), QStringList{"2026-12-07 08:00|1|1200|1200"});
}

void TestEnergyDatabase::clearDatabase_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("rowsLeft");
    QTest::addColumn<bool>("compacted");

    const QString itaClear = QStringLiteral("Eliminare tutti i dati presenti nel DB ?");
    const QString itaCompact = QStringLiteral("Tabella Cancellata.\r\nEseguire la compattazione ?");
    const QString engClear = QStringLiteral("Clear all data in the database ?");
    const QString engCompact =
        QStringLiteral("Table cleared.\r\nDo you want compact the database ?");

    QTest::newRow("ita: No keeps the rows")
        << "ita" << QList<bool>{false} << QStringList{itaClear} << 2 << false;
    QTest::newRow("eng: Yes then No clears without compaction")
        << "eng" << QList<bool>{true, false} << QStringList{engClear, engCompact} << 0 << false;
    QTest::newRow("ita: Yes then Yes clears and compacts")
        << "ita" << QList<bool>{true, true}
        << QStringList{itaClear, itaCompact, "Database compattato"} << 0 << true;
    QTest::newRow("other languages speak English")
        << "deu" << QList<bool>{true, true}
        << QStringList{engClear, engCompact, "Database has been compacted"} << 0 << true;
}

void TestEnergyDatabase::clearDatabase()
{
    QFETCH(QString, language);
    QFETCH(QList<bool>, answers);
    QFETCH(QStringList, shown);
    QFETCH(int, rowsLeft);
    QFETCH(bool, compacted);
    QVERIFY(EnergyDatabase::createEmpty(dbFile()));
    auto db = makeDatabase();
    insertAt(*db, at(5, 10, 0, 0), 500);
    insertAt(*db, at(5, 10, 0, 10), 600);
    m_prompts.answers.append(answers);

    db->ClearDatabase(language);

    QCOMPARE(m_prompts.texts(), shown);
    for (const auto& each : m_prompts.shown) {
        QCOMPARE(each.title, title());
        QCOMPARE(each.icon, each.question ? Prompts::Icon::Question : Prompts::Icon::Information);
    }
    QCOMPARE(rowCount(dbFile()), rowsLeft);
    QCOMPARE(rowCount(dbFile(), QStringLiteral("EnergyHalfHour")), rowsLeft ? 1 : 0);
    QCOMPARE(QFile::exists(file(EnergyDatabase::kBackupName)), compacted);
    QVERIFY(!QFile::exists(file(EnergyDatabase::kTempName)));
    QCOMPARE(db->isOpen(), !compacted);
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

    QVERIFY(db->CompactEnergyDatabase(QStringLiteral("eng")));

    QCOMPARE(m_busy, QList<bool>({true, false}));
    QCOMPARE(m_prompts.texts(), QStringList{"Database has been compacted"});
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Information);
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
    QCOMPARE(m_prompts.shown.size(), 1);
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

    QVERIFY(!db->CompactEnergyDatabase(QStringLiteral("ita")));

    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown[0].title, title());
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Critical);
    QVERIFY2(m_prompts.shown[0].text.startsWith(QStringLiteral("Compattazione Fallita\r\n")),
             qPrintable(m_prompts.shown[0].text));
    QCOMPARE(m_busy, QList<bool>({true, false}));
    QVERIFY(!QFile::exists(file(EnergyDatabase::kBackupName)));
    QCOMPARE(rowCount(dbFile()), 1);
    insertAt(*db, at(5, 10, 0, 10), 600);
}

void TestEnergyDatabase::compactionOfMissingFileFails()
{
    auto db = makeDatabase();

    QVERIFY(!db->CompactEnergyDatabase(QStringLiteral("eng")));

    QCOMPARE(m_prompts.shown.size(), 1);
    QVERIFY(m_prompts.shown[0].text.startsWith(QStringLiteral("Compattazione Fallita\r\n")));
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Critical);
    QCOMPARE(m_busy, QList<bool>({true, false}));
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
    QVERIFY(db->OpenDatabase());
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
