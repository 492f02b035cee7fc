// The long database jobs (the summaries' build with the index, the hour table's build, a
// compaction): they run at the lowest priority, a stop ends them in the middle of a statement
// with the file as it was before it, and the next open does the job again.

#include "acquisition/databasewriter.h"
#include "acquisition/energydatabase.h"
#include "acquisition/lowpriority.h"
#include "support/sqlfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace powerlog;
using namespace powerlog::test;

namespace {

int objectCount(const QString& path, const QString& type, const QString& name)
{
    return SqlFile(path)
        .value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = '%1' AND name = "
                              "'%2'")
                   .arg(type, name))
        .toInt();
}

bool hasIndex(const QString& path)
{
    return objectCount(path, QStringLiteral("index"), QStringLiteral("EnergyByData")) == 1;
}

bool hasSummaries(const QString& path)
{
    return objectCount(path, QStringLiteral("trigger"), EnergyDatabase::kSummaryTrigger) == 1;
}

bool hasHourTable(const QString& path)
{
    return objectCount(path, QStringLiteral("trigger"), EnergyDatabase::kHourTrigger) == 1;
}

// The file is whole, holds every row, and a plain open completes what was stopped.
void verifyNextOpenCompletes(const QString& folder, int rows)
{
    const QString path = QDir(folder).filePath(EnergyDatabase::kFileName);
    QCOMPARE(integrity(path), QStringLiteral("ok"));
    QCOMPARE(SqlFile(path).rows(), rows);
    {
        EnergyDatabase database(folder);
        const DatabaseResult opened = database.open();
        QVERIFY2(opened.ok(), qPrintable(opened.error));
        QVERIFY(!opened.interrupted);
    }
    QVERIFY(hasIndex(path));
    QVERIFY(hasSummaries(path));
    QVERIFY(hasHourTable(path));
    QCOMPARE(summaryDifferences(path), 0);
    QCOMPARE(integrity(path), QStringLiteral("ok"));
}

// Enough readings (one every 10 s, within January) that the index alone takes a million steps.
constexpr int kRows = 200000;

} // namespace

class TestLongJobs : public QObject
{
    Q_OBJECT

private slots:
    // The job's thread runs at the lowest priority; the caller keeps its own.
    void jobsRunAtTheLowestPriority()
    {
        const int callerPolicy = sched_getscheduler(0);
        int jobPolicy = -1;
        int jobNice = 0;
        runAtLowestPriority([&] {
            jobPolicy = sched_getscheduler(0);
            jobNice = getpriority(PRIO_PROCESS, id_t(gettid()));
        });
        QVERIFY2(jobPolicy == SCHED_IDLE || jobNice == 19,
                 qPrintable(QStringLiteral("policy %1, nice %2").arg(jobPolicy).arg(jobNice)));
        QCOMPARE(sched_getscheduler(0), callerPolicy);
    }

    // A stop asked while a statement runs ends that statement: the open says so, keeps what
    // was done before it, and the next open does the rest.
    void stoppedOpenIsDoneAgainByTheNextOpen_data()
    {
        // The stop comes the `times`-th time the progress reaches `stopAt`.
        QTest::addColumn<int>("stopAt");
        QTest::addColumn<int>("times");
        QTest::addColumn<bool>("indexed");
        QTest::addColumn<bool>("summaries");
        // The index takes the first 28% of a file that lacks both summaries and the hour table.
        QTest::newRow("index") << 2 << 1 << false << false;
        // The hour table takes the last 30%, from 70% as the summaries are done; its month is
        // one statement, asked at 70% again while it runs.
        QTest::newRow("hour table") << 70 << 2 << true << true;
    }
    void stoppedOpenIsDoneAgainByTheNextOpen()
    {
        QFETCH(int, stopAt);
        QFETCH(int, times);
        QFETCH(bool, indexed);
        QFETCH(bool, summaries);
        QTemporaryDir dir;
        const QString path = dir.filePath(EnergyDatabase::kFileName);
        QVERIFY(writeEnergyOnlyFile(path, kRows, QStringLiteral("2026-01-01")));

        QList<int> told;
        {
            EnergyDatabase database(dir.path());
            int reached = 0;
            const DatabaseResult opened =
                database.open([&told, &reached, stopAt, times](int percent) {
                    told << percent;
                    return percent < stopAt || ++reached < times;
                });
            QVERIFY2(opened.ok(), qPrintable(opened.error));
            QVERIFY(opened.interrupted);
        }
        // Stopped within the step: nothing was told beyond it.
        QVERIFY(!told.isEmpty());
        QVERIFY2(told.last() >= stopAt && told.last() < stopAt + 10,
                 qPrintable(QString::number(told.last())));
        QCOMPARE(hasIndex(path), indexed);
        QCOMPARE(hasSummaries(path), summaries);
        QVERIFY(!hasHourTable(path));
        verifyNextOpenCompletes(dir.path(), kRows);
    }

    // A compaction stopped while it copies leaves the file as it was and no copy behind.
    void stoppedCompactionLeavesTheFileAsItWas()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(EnergyDatabase::kFileName);
        QVERIFY(writeEnergyOnlyFile(path, kRows, QStringLiteral("2026-01-01")));
        EnergyDatabase database(dir.path());
        QVERIFY(database.open().ok());

        int asked = 0;
        const DatabaseResult stopped = database.compact([&asked] { return ++asked < 2; });
        QCOMPARE(stopped.kind, DatabaseResult::Kind::Failed);
        QVERIFY(stopped.interrupted);
        QCOMPARE(asked, 2);
        QVERIFY(!QFile::exists(dir.filePath(EnergyDatabase::kTempName)));
        QVERIFY(!QFile::exists(dir.filePath(EnergyDatabase::kBackupName)));
        QVERIFY(database.compactionPending());
        verifyNextOpenCompletes(dir.path(), kRows);

        const DatabaseResult compacted = database.compact();
        QVERIFY2(compacted.ok(), qPrintable(compacted.error));
        QVERIFY(!compacted.interrupted);
        QVERIFY(!database.compactionPending());
    }

    // The program closed while the writer runs a long job: the job ends, the file is whole
    // and the next start completes it (the summaries at any open, the compaction at the
    // writer's).
    void closingTheWriterEndsTheLongJob_data()
    {
        QTest::addColumn<bool>("compaction");
        QTest::newRow("summaries' build") << false;
        QTest::newRow("compaction") << true;
    }
    void closingTheWriterEndsTheLongJob()
    {
        QFETCH(bool, compaction);
        // Large enough that each job takes seconds, so that the close comes in its middle.
        constexpr int kManyRows = 1500000;
        QTemporaryDir dir;
        const QString path = dir.filePath(EnergyDatabase::kFileName);
        QVERIFY(writeEnergyOnlyFile(path, kManyRows, QStringLiteral("2026-01-01")));
        if (compaction)
            QVERIFY(EnergyDatabase(dir.path()).open().ok());

        auto writer = std::make_unique<DatabaseWriter>(dir.path());
        if (compaction) {
            writer->compact({});
            // The copy is being written.
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(EnergyDatabase::kTempName)), 60000);
        } else {
            QSignalSpy progress(writer.get(), &DatabaseWriter::progress);
            writer->open();
            // The index is being made.
            QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().first().toInt() > 1,
                                     60000);
        }
        writer.reset();

        if (compaction) {
            QVERIFY(!QFile::exists(dir.filePath(EnergyDatabase::kTempName)));
            QVERIFY(!QFile::exists(dir.filePath(EnergyDatabase::kBackupName)));
        } else {
            QVERIFY(!hasSummaries(path));
        }
        verifyNextOpenCompletes(dir.path(), kManyRows);

        const QString pending = dir.filePath(EnergyDatabase::kCompactionPendingName);
        QCOMPARE(QFile::exists(pending), compaction);
        DatabaseWriter next(dir.path());
        QSignalSpy opened(&next, &DatabaseWriter::opened);
        next.open();
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 120000);
        QVERIFY(opened.first().first().value<DatabaseResult>().ok());
        QVERIFY(!QFile::exists(pending));
        QCOMPARE(QFile::exists(dir.filePath(EnergyDatabase::kBackupName)), compaction);
        QCOMPARE(SqlFile(path).rows(), kManyRows);
    }
};

QTEST_GUILESS_MAIN(TestLongJobs)
#include "test_longjobs.moc"
