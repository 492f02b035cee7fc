// The database writer on its own thread: files deleted, replaced and put back while it
// records, large files without their summary tables, compaction while readings arrive, and a
// database locked by another program.

#include "acquisition/databasereader.h"
#include "acquisition/databasewriter.h"
#include "support/sqlfile.h"
#include "support/writersettle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cstdio>

using namespace powerlog;
using namespace powerlog::test;

namespace {

Reading readingAt(const QDateTime& time, int watts = 500, double energy = 1)
{
    Reading r;
    r.V = QStringLiteral("230");
    r.A = QStringLiteral("2");
    r.W = QString::number(watts);
    r.E = QString::number(energy);
    r.power = qint16(watts);
    r.energy = energy;
    r.time = time;
    return r;
}

const QDateTime kStart(QDate(2026, 12, 5), QTime(10, 0, 0));

struct WriterRig
{
    WriterRig() { EnergyDatabase::createEmpty(file()); }

    QString file() const { return dir.filePath(EnergyDatabase::kFileName); }
    QString other(const QString& name) const { return dir.filePath(name); }

    bool settle() { return powerlog::test::settle(writer); }

    // Energy values of the rows, in the order they were written.
    QList<int> energies()
    {
        settle();
        SqlFile sql(file());
        QSqlQuery query(sql.db());
        query.exec(QStringLiteral("SELECT e FROM Energy ORDER BY rowid"));
        QList<int> list;
        while (query.next())
            list << query.value(0).toInt();
        return list;
    }

    void insert(int energy, int watts = 500)
    {
        writer.insert(readingAt(kStart.addSecs(10 * energy), watts, energy));
    }

    QTemporaryDir dir;
    DatabaseWriter writer{dir.path()};
};

} // namespace

class TestDatabaseWriter : public QObject
{
    Q_OBJECT

private slots:
    void writesInOrderOffTheCallersThread()
    {
        WriterRig rig;
        QSignalSpy opened(&rig.writer, &DatabaseWriter::opened);
        rig.writer.open();
        for (int e = 1; e <= 50; ++e)
            rig.insert(e);
        QCOMPARE(rig.energies().size(), 50);
        QCOMPARE(rig.energies().first(), 1);
        QCOMPARE(rig.energies().last(), 50);
        QCOMPARE(opened.count(), 1);
        QVERIFY(opened.first().first().value<DatabaseResult>().ok());
        QCOMPARE(summaryDifferences(rig.file()), 0);
    }

    // Deleting the file while recording, then putting a backup back: the backup stays whole,
    // and gets the readings taken meanwhile.
    void fileDeletedThenBackupPutBack()
    {
        WriterRig rig;
        rig.insert(1);
        rig.insert(2);
        QCOMPARE(rig.energies(), (QList<int>{1, 2}));
        // A backup of the file as it stands, its WAL folded in first.
        QVERIFY(SqlFile(rig.file()).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
        QVERIFY(QFile::copy(rig.file(), rig.other(QStringLiteral("backup.mdb"))));
        rig.insert(3); // in the WAL of the file about to go
        QVERIFY(rig.settle());

        QVERIFY(QFile::remove(rig.file()));
        QSignalSpy failed(&rig.writer, &DatabaseWriter::insertFailed);
        rig.insert(4);
        rig.insert(5);
        QTRY_COMPARE(failed.count(), 2);
        QCOMPARE(failed.first().first().value<DatabaseResult>().kind,
                 DatabaseResult::Kind::NoConnection);

        QVERIFY(QFile::copy(rig.other(QStringLiteral("backup.mdb")), rig.file()));
        rig.insert(6);
        QCOMPARE(rig.energies(), (QList<int>{1, 2, 4, 5, 6}));
        QCOMPARE(integrity(rig.file()), QStringLiteral("ok"));
        QCOMPARE(summaryDifferences(rig.file()), 0);
    }

    // Another file renamed over the open one: the writer lets the old file go with its WAL.
    void fileReplacedUnderneath()
    {
        WriterRig rig;
        rig.insert(1);
        QCOMPARE(rig.energies(), (QList<int>{1}));
        const QString replacement = rig.other(QStringLiteral("replacement.mdb"));
        QVERIFY(EnergyDatabase::createEmpty(replacement));
        rig.insert(2); // into the old file's WAL
        QVERIFY(rig.settle());

        // As a copy tool does it: the new file takes the name in one step.
        QCOMPARE(::rename(QFile::encodeName(replacement).constData(),
                          QFile::encodeName(rig.file()).constData()),
                 0);
        rig.insert(3);
        QCOMPARE(rig.energies(), (QList<int>{3}));
        QCOMPARE(integrity(rig.file()), QStringLiteral("ok"));
        QCOMPARE(summaryDifferences(rig.file()), 0);
    }

    void keepsOnlyTheNewestReadingsWhileNoFileIsThere()
    {
        WriterRig rig;
        rig.writer.open();
        QVERIFY(rig.settle());
        QVERIFY(QFile::remove(rig.file()));
        const int extra = 5;
        for (int e = 1; e <= DatabaseWriter::kMaxPending + extra; ++e)
            rig.insert(e);
        QVERIFY(rig.settle());
        QVERIFY(EnergyDatabase::createEmpty(rig.file()));
        rig.insert(0);
        const QList<int> written = rig.energies();
        QCOMPARE(written.size(), DatabaseWriter::kMaxPending + 1);
        QCOMPARE(written.first(), extra + 1);
        QCOMPARE(written.at(written.size() - 2), DatabaseWriter::kMaxPending + extra);
        QCOMPARE(written.last(), 0);
    }

    // A file with only the Energy table gets its summary built on open, with progress; the
    // readings asked for meanwhile are written afterwards, and counted in the summary.
    void fileWithoutSummaryIsBuiltInTheBackground()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(EnergyDatabase::kFileName);
        QVERIFY(writeEnergyOnlyFile(path, 250000, QStringLiteral("2026-01-01")));
        DatabaseWriter writer(dir.path());
        QSignalSpy progress(&writer, &DatabaseWriter::progress);
        QSignalSpy busy(&writer, &DatabaseWriter::busyChanged);
        QSignalSpy opened(&writer, &DatabaseWriter::opened);
        writer.open();
        writer.insert(readingAt(QDateTime(QDate(2027, 1, 1), QTime(0, 0)), 1000, 1));
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 60000);
        QVERIFY(opened.first().first().value<DatabaseResult>().ok());
        QVERIFY(progress.count() >= 2);
        QCOMPARE(progress.last().first().toInt(), 100);
        QCOMPARE(busy.count(), 2);
        QCOMPARE(busy.first().first().toBool(), true);
        QCOMPARE(busy.last().first().toBool(), false);

        bool done = false;
        writer.flush([&done] { done = true; });
        QTRY_VERIFY(done);
        QCOMPARE(SqlFile(path).rows(), 250001);
        QCOMPARE(summaryDifferences(path), 0);
        QVERIFY(QFileInfo(path + QStringLiteral("-wal")).size() <= 64LL * 1024 * 1024);
        QCOMPARE(SqlFile(path).value(QStringLiteral("PRAGMA journal_mode")).toString(),
                 QStringLiteral("wal"));
    }

    void compactionWhileReadingsArrive()
    {
        WriterRig rig;
        for (int e = 1; e <= 20; ++e)
            rig.insert(e);
        QSignalSpy busy(&rig.writer, &DatabaseWriter::busyChanged);
        DatabaseResult compacted{DatabaseResult::Kind::Failed, {}};
        bool done = false;
        rig.writer.compact([&](const DatabaseResult& result) {
            compacted = result;
            done = true;
        });
        for (int e = 21; e <= 40; ++e)
            rig.insert(e);
        QTRY_VERIFY(done);
        QVERIFY2(compacted.ok(), qPrintable(compacted.error));
        QCOMPARE(rig.energies().size(), 40);
        QCOMPARE(rig.energies().last(), 40);
        QVERIFY(QFile::exists(rig.other(EnergyDatabase::kBackupName)));
        QCOMPARE(SqlFile(rig.other(EnergyDatabase::kBackupName)).rows(), 20);
        QCOMPARE(summaryDifferences(rig.file()), 0);
        QCOMPARE(busy.count(), 2);
    }

    // The reader keeps its connection from one read to the next. It follows a file renamed
    // over the one it read, and lets go of the file for a compaction and before the writer's
    // close, which then folds the write-ahead log back into the file.
    void readerBesideTheWriterFollowsTheFileAndLetsItGo()
    {
        WriterRig rig;
        DatabaseReader reader(rig.dir.path());
        rig.writer.setHoldReaders(reader.connectionHolder());
        const auto rowsRead = [&reader] {
            std::atomic<int> rows = -1;
            reader.read([&rows](QSqlDatabase db, const QString&, const ReadTicket&) {
                QSqlQuery query(db);
                rows = query.exec(QStringLiteral("SELECT count(*) FROM Energy")) && query.next()
                           ? query.value(0).toInt()
                           : -2;
            });
            return QTest::qWaitFor([&rows] { return rows != -1; }, 10000) ? rows.load() : -3;
        };
        for (int e = 1; e <= 3; ++e)
            rig.insert(e);
        QVERIFY(rig.settle());
        QCOMPARE(rowsRead(), 3);

        bool done = false;
        DatabaseResult compacted{DatabaseResult::Kind::Failed, {}};
        rig.writer.compact([&](const DatabaseResult& result) {
            compacted = result;
            done = true;
        });
        QTRY_VERIFY(done);
        QVERIFY2(compacted.ok(), qPrintable(compacted.error));
        rig.insert(4);
        QVERIFY(rig.settle());
        QCOMPARE(rowsRead(), 4);

        const QString replacement = rig.other(QStringLiteral("replacement.mdb"));
        QVERIFY(EnergyDatabase::createEmpty(replacement));
        QCOMPARE(::rename(QFile::encodeName(replacement).constData(),
                          QFile::encodeName(rig.file()).constData()),
                 0);
        rig.insert(5); // the writer lets the old file go with its WAL
        QVERIFY(rig.settle());
        QCOMPARE(rowsRead(), 1);
        rig.insert(6);
        QVERIFY(rig.settle());
        QCOMPARE(rowsRead(), 2);

        rig.writer.close();
        QVERIFY(rig.settle());
        QVERIFY(!QFile::exists(rig.file() + QStringLiteral("-wal")));
    }

    // Reads asked for while a compaction runs wait for it: a connection opened meanwhile would
    // leave the file in use, and the compaction would fail.
    void readsDuringACompactionWaitForIt()
    {
        WriterRig rig;
        DatabaseReader reader(rig.dir.path());
        rig.writer.setHoldReaders(reader.connectionHolder());
        for (int e = 1; e <= 3; ++e)
            rig.insert(e);
        QVERIFY(rig.settle());

        // A slow read keeps the reader busy while the compaction asks it to let go; the reads
        // given next come right after that.
        reader.read([](QSqlDatabase, const QString&, const ReadTicket&) { QThread::msleep(200); });
        bool done = false;
        DatabaseResult compacted{DatabaseResult::Kind::Failed, {}};
        rig.writer.compact([&](const DatabaseResult& result) {
            compacted = result;
            done = true;
        });
        QTest::qWait(50);
        constexpr int kReads = 20;
        std::atomic<int> answered = 0;
        std::atomic<int> lastCount = -1;
        for (int i = 0; i < kReads; ++i) {
            reader.read([&](QSqlDatabase db, const QString&, const ReadTicket&) {
                QSqlQuery query(db);
                lastCount =
                    query.exec(QStringLiteral("SELECT count(*) FROM Energy")) && query.next()
                        ? query.value(0).toInt()
                        : -2;
                ++answered;
            });
        }
        QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
        QVERIFY2(compacted.ok(), qPrintable(compacted.error));
        QTRY_COMPARE(answered.load(), kReads);
        QCOMPARE(lastCount.load(), 3);
    }

    // Another program holds the write lock: the caller's thread goes on, and the reading is
    // written once the lock is gone.
    void lockedDatabaseDoesNotHoldUpTheCaller()
    {
        WriterRig rig;
        rig.writer.open();
        QVERIFY(rig.settle());
        SqlFile lock(rig.file());
        QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));

        QElapsedTimer clock;
        clock.start();
        rig.insert(1);
        QVERIFY(clock.elapsed() < 1000);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(10);
        QTest::qWait(500);
        QVERIFY(ticks >= 10); // the event loop kept running while the insert waited
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        QCOMPARE(rig.energies(), (QList<int>{1}));
    }

    // Another program holds the write lock longer than the writer waits for it: the reading is
    // kept, as for a missing file, and goes in first once the lock is gone.
    void lockHeldLongerThanTheWaitKeepsTheReading()
    {
        WriterRig rig;
        rig.insert(1);
        QCOMPARE(rig.energies(), (QList<int>{1}));
        SqlFile lock(rig.file());
        QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QSignalSpy failed(&rig.writer, &DatabaseWriter::insertFailed);
        rig.insert(2);
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 20000);
        QCOMPARE(failed.first().first().value<DatabaseResult>().kind,
                 DatabaseResult::Kind::NoConnection);
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));

        rig.insert(3);
        QCOMPARE(rig.energies(), (QList<int>{1, 2, 3}));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(summaryDifferences(rig.file()), 0);
    }
};

QTEST_GUILESS_MAIN(TestDatabaseWriter)
#include "test_databasewriter.moc"
