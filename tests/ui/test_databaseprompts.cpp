#include "acquisition/databasewriter.h"
#include "acquisition/reading.h"
#include "support/recorders.h"
#include "support/writersettle.h"
#include "ui/common/databaseprompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using powerlog::DatabaseResult;
using powerlog::DatabaseWriter;
using powerlog::EnergyDatabase;
using powerlog::Prompts;
using powerlog::Reading;
using powerlog::test::RecordingPrompts;

namespace {

// Questions that stay unanswered until the test answers them, as a user would.
class PendingPrompts final : public Prompts
{
public:
    void message(const QString&, const QString& text, Icon) override { messages << text; }
    void askYesNo(const QString&, const QString& text,
                  std::function<void(bool yes)> answer) override
    {
        questions << text;
        pending.append(std::move(answer));
    }
    void answerNext(bool yes) { pending.takeFirst()(yes); }

    QStringList messages;
    QStringList questions;
    QList<std::function<void(bool)>> pending;
};

// Runs one statement on a connection of its own; the first column of the first row.
QString sqlValue(const QString& file, const QString& sql)
{
    const QString name = QStringLiteral("check");
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                value = query.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

int rowCount(const QString& file, const QString& table = QStringLiteral("Energy"))
{
    return sqlValue(file, QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

Reading readingAt(int second)
{
    Reading r;
    r.V = QStringLiteral("230");
    r.A = QStringLiteral("4");
    r.W = QStringLiteral("500");
    r.E = QStringLiteral("152");
    r.power = 500;
    r.energy = 152;
    r.time = QDateTime(QDate(2026, 12, 5), QTime(10, 0, second));
    return r;
}

} // namespace

class TestDatabasePrompts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showDatabaseResult_data();
    void showDatabaseResult();
    void clearDatabase_data();
    void clearDatabase();
    void clearingUnopenableDatabaseSaysSoAndEnds();
    void clearingRefusedSaysSoAndEnds();
    void clearingWaitsForEachAnswer();
    void compactionSucceeded_data();
    void compactionSucceeded();
    void failedSecondRenameRestoresDatabase();
    void compactionOfMissingFileFails();

private:
    QString file(const QString& name) const { return m_dir->filePath(name); }
    QString dbFile() const { return file(EnergyDatabase::kFileName); }
    // A database with two readings in one half hour.
    void makeDatabaseWithTwoRows()
    {
        QVERIFY(EnergyDatabase::createEmpty(dbFile()));
        EnergyDatabase direct(m_dir->path());
        QVERIFY(direct.insert(readingAt(0)).ok());
        QVERIFY(direct.insert(readingAt(10)).ok());
    }
    bool settle() { return powerlog::test::settle(*m_db); }
    std::function<void(bool)> busyRecorder()
    {
        return [this](bool busy) { m_busy << busy; };
    }
    static QString title() { return QCoreApplication::applicationName(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DatabaseWriter> m_db;
    RecordingPrompts m_prompts;
    QList<bool> m_busy;
};

void TestDatabasePrompts::initTestCase()
{
    QVERIFY(!title().isEmpty());
}

void TestDatabasePrompts::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_db = std::make_unique<DatabaseWriter>(m_dir->path());
    m_prompts = RecordingPrompts();
    m_busy.clear();
}

void TestDatabasePrompts::cleanup()
{
    m_db.reset();
    m_dir.reset();
}

void TestDatabasePrompts::showDatabaseResult_data()
{
    QTest::addColumn<DatabaseResult>("result");
    QTest::addColumn<QString>("shownTitle");

    QTest::newRow("ok shows nothing") << DatabaseResult{} << QString();
    QTest::newRow("no connection")
        << DatabaseResult{DatabaseResult::Kind::NoConnection, "File not found: DbEnergy.mdb"}
        << "Errore connessione DB";
    QTest::newRow("refused") << DatabaseResult{DatabaseResult::Kind::Failed,
                                               "no such table: Energy"}
                             << title();
}

void TestDatabasePrompts::showDatabaseResult()
{
    QFETCH(DatabaseResult, result);
    QFETCH(QString, shownTitle);

    powerlog::showDatabaseResult(m_prompts, result);

    if (result.ok()) {
        QVERIFY(m_prompts.shown.isEmpty());
        return;
    }
    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown[0].title, shownTitle);
    QCOMPARE(m_prompts.shown[0].text, result.error);
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Critical);
}

void TestDatabasePrompts::clearDatabase_data()
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
    QTest::newRow("eng: No keeps the rows")
        << "eng" << QList<bool>{false} << QStringList{engClear} << 2 << false;
    QTest::newRow("eng: Yes then No clears without compaction")
        << "eng" << QList<bool>{true, false} << QStringList{engClear, engCompact} << 0 << false;
    QTest::newRow("ita: Yes then No clears without compaction")
        << "ita" << QList<bool>{true, false} << QStringList{itaClear, itaCompact} << 0 << false;
    QTest::newRow("ita: Yes then Yes clears and compacts")
        << "ita" << QList<bool>{true, true}
        << QStringList{itaClear, itaCompact, "Database compattato"} << 0 << true;
    QTest::newRow("eng: Yes then Yes clears and compacts")
        << "eng" << QList<bool>{true, true}
        << QStringList{engClear, engCompact, "Database has been compacted"} << 0 << true;
    QTest::newRow("other languages speak English")
        << "deu" << QList<bool>{true, true}
        << QStringList{engClear, engCompact, "Database has been compacted"} << 0 << true;
}

void TestDatabasePrompts::clearDatabase()
{
    QFETCH(QString, language);
    QFETCH(QList<bool>, answers);
    QFETCH(QStringList, shown);
    QFETCH(int, rowsLeft);
    QFETCH(bool, compacted);
    makeDatabaseWithTwoRows();
    m_prompts.answers.append(answers);
    int done = 0;

    powerlog::clearDatabase(*m_db, m_prompts, language, busyRecorder(), [&done] { ++done; });

    QTRY_COMPARE(done, 1);
    QCOMPARE(m_prompts.texts(), shown);
    for (const auto& each : m_prompts.shown) {
        QCOMPARE(each.title, title());
        QCOMPARE(each.icon, each.question ? Prompts::Icon::Question : Prompts::Icon::Information);
    }
    QCOMPARE(done, 1);
    QCOMPARE(m_busy, compacted ? QList<bool>({true, false}) : QList<bool>());
    QCOMPARE(rowCount(dbFile()), rowsLeft);
    QCOMPARE(rowCount(dbFile(), QStringLiteral("EnergyHalfHour")), rowsLeft ? 1 : 0);
    QCOMPARE(QFile::exists(file(EnergyDatabase::kBackupName)), compacted);
    QVERIFY(!QFile::exists(file(EnergyDatabase::kTempName)));
}

void TestDatabasePrompts::clearingUnopenableDatabaseSaysSoAndEnds()
{
    int done = 0;

    powerlog::clearDatabase(*m_db, m_prompts, QStringLiteral("eng"), busyRecorder(),
                            [&done] { ++done; });

    QTRY_COMPARE(done, 1);
    QCOMPARE(m_prompts.shown.size(), 2);
    QVERIFY(m_prompts.shown[0].question);
    QCOMPARE(m_prompts.shown[1].title, QStringLiteral("Errore connessione DB"));
    QCOMPARE(m_prompts.shown[1].icon, Prompts::Icon::Critical);
    QVERIFY(!m_prompts.shown[1].text.isEmpty());
    QCOMPARE(done, 1);
    QVERIFY(m_busy.isEmpty());
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestDatabasePrompts::clearingRefusedSaysSoAndEnds()
{
    makeDatabaseWithTwoRows();
    m_db->open();
    QVERIFY(settle());
    {
        // The deletion is refused from inside the file.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "spoil");
        db.setDatabaseName(dbFile());
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(
            QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON EnergyHalfHour BEGIN "
                           "SELECT RAISE(ABORT, 'EnergyHalfHour is kept'); END")));
        db.close();
    }
    QSqlDatabase::removeDatabase("spoil");
    int done = 0;

    powerlog::clearDatabase(*m_db, m_prompts, QStringLiteral("ita"), busyRecorder(),
                            [&done] { ++done; });

    QTRY_COMPARE(done, 1);
    QCOMPARE(m_prompts.shown.size(), 2);
    QCOMPARE(m_prompts.shown[1].title, title());
    QCOMPARE(m_prompts.shown[1].icon, Prompts::Icon::Critical);
    QVERIFY2(m_prompts.shown[1].text.contains(QStringLiteral("EnergyHalfHour")),
             qPrintable(m_prompts.shown[1].text));
    QCOMPARE(done, 1);
    QCOMPARE(rowCount(dbFile()), 2);
}

void TestDatabasePrompts::clearingWaitsForEachAnswer()
{
    makeDatabaseWithTwoRows();
    PendingPrompts prompts;
    int done = 0;
    {
        // Everything the call was given goes out of scope before the answers come.
        const QString language = QStringLiteral("eng");
        powerlog::clearDatabase(*m_db, prompts, language, busyRecorder(), [&done] { ++done; });
    }
    QCOMPARE(prompts.questions.size(), 1);
    QCOMPARE(rowCount(dbFile()), 2);

    prompts.answerNext(true);
    QTRY_COMPARE(prompts.questions.size(), 2);
    QCOMPARE(rowCount(dbFile()), 0);
    QCOMPARE(done, 0);

    prompts.answerNext(true);
    QTRY_COMPARE(done, 1);
    QCOMPARE(prompts.messages, QStringList{"Database has been compacted"});
    QCOMPARE(m_busy, QList<bool>({true, false}));
    QCOMPARE(done, 1);
    QVERIFY(QFile::exists(file(EnergyDatabase::kBackupName)));
}

void TestDatabasePrompts::compactionSucceeded_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("text");
    QTest::newRow("ita") << "ita"
                         << "Database compattato";
    QTest::newRow("eng") << "eng"
                         << "Database has been compacted";
    QTest::newRow("other") << "fra"
                           << "Database has been compacted";
}

void TestDatabasePrompts::compactionSucceeded()
{
    QFETCH(QString, language);
    QFETCH(QString, text);
    makeDatabaseWithTwoRows();

    int done = 0;
    powerlog::compactDatabase(*m_db, m_prompts, language, busyRecorder(), [&done] { ++done; });
    QTRY_COMPARE(done, 1);

    QCOMPARE(m_busy, QList<bool>({true, false}));
    QCOMPARE(m_prompts.texts(), QStringList{text});
    QCOMPARE(m_prompts.shown[0].title, title());
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Information);
    QCOMPARE(rowCount(file(EnergyDatabase::kBackupName)), 2);
    QCOMPARE(rowCount(dbFile()), 2);
}

void TestDatabasePrompts::failedSecondRenameRestoresDatabase()
{
    makeDatabaseWithTwoRows();
    const QString temp = file(EnergyDatabase::kTempName);
    m_db->setRenameFunction([&](const QString& from, const QString& to) {
        return from != temp && QFile::rename(from, to);
    });

    int done = 0;
    powerlog::compactDatabase(*m_db, m_prompts, QStringLiteral("ita"), busyRecorder(),
                              [&done] { ++done; });
    QTRY_COMPARE(done, 1);

    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown[0].title, title());
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Critical);
    QVERIFY2(m_prompts.shown[0].text.startsWith(QStringLiteral("Compattazione Fallita\r\n")),
             qPrintable(m_prompts.shown[0].text));
    QVERIFY(m_prompts.shown[0].text.contains(QStringLiteral("restored")));
    QCOMPARE(m_busy, QList<bool>({true, false}));
    QVERIFY(!QFile::exists(file(EnergyDatabase::kBackupName)));
    QCOMPARE(rowCount(dbFile()), 2);
    m_db->insert(readingAt(20));
    QVERIFY(settle());
    QCOMPARE(rowCount(dbFile()), 3);
}

void TestDatabasePrompts::compactionOfMissingFileFails()
{
    int done = 0;
    powerlog::compactDatabase(*m_db, m_prompts, QStringLiteral("eng"), busyRecorder(),
                              [&done] { ++done; });
    QTRY_COMPARE(done, 1);

    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown[0].title, title());
    QVERIFY(m_prompts.shown[0].text.startsWith(QStringLiteral("Compattazione Fallita\r\n")));
    QCOMPARE(m_prompts.shown[0].icon, Prompts::Icon::Critical);
    QCOMPARE(m_busy, QList<bool>({true, false}));
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestDatabasePrompts)
#include "test_databaseprompts.moc"
