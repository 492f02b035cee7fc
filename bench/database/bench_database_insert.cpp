// Recording into a large energy database, and compacting it, seen from the window's thread.
// Works on a copy of the generated file after its first open (index and summary tables built;
// the built file is kept as --prepared and reused):
//   writer   DatabaseWriter::insert() then flush(), one reading at a time: the time from
//            insert() to the flush callback, which runs once the row is committed and synced;
//            a 1 ms timer on this thread measures the longest stall meanwhile;
//   loop     a bare loop of one prepared INSERT on the same file from this thread, with the
//            same durability (WAL, synchronous=FULL) and the same trigger firing;
//   vacuum   the sqlite3 shell writing a compacted copy of the file with VACUUM INTO;
//   compact  DatabaseWriter::compact() of the same file, with the same 1 ms timer running;
//   idle     the 1 ms timer with nothing else going on: the machine's own noise;
//   busy     the 1 ms timer beside one thread that only spins: what sharing two cores costs.
// Figures go to standard output as name=value lines (bench/database.sh collects them).

#include "acquisition/databasewriter.h"
#include "acquisition/energydatabase.h"
#include "acquisition/reading.h"
#include "acquisition/sqliteconnection.h"
#include "benchsupport.h"
#include "rollupcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <memory>
#include <optional>

using namespace powerlog;
using namespace powerlog::bench;

namespace {

struct Options
{
    BenchFiles files;
    QString shell = QStringLiteral("sqlite3");
    int inserts = 500;
    int probeMs = 5000;
};

std::optional<Options> parse(const QCoreApplication& app)
{
    BenchCommandLine line(
        QStringLiteral("Times recording into and compacting a large energy database from the "
                       "window's thread, against bare prepared inserts and the sqlite3 shell."),
        BenchCommandLine::Prepared::Taken,
        QStringLiteral("Folder for the copy (removed after use)."));
    const QCommandLineOption shell = sqliteShellOption();
    const QCommandLineOption inserts(QStringLiteral("inserts"),
                                     QStringLiteral("Readings recorded (default 500)."),
                                     QStringLiteral("N"), QStringLiteral("500"));
    const QCommandLineOption probe = probeOption();
    line.addOptions({shell, inserts, probe});
    if (!line.process(app))
        return {};
    return Options{.files = line.files(),
                   .shell = line.value(shell),
                   .inserts = line.number(inserts, 1),
                   .probeMs = line.number(probe, 100)};
}

// The readings recorded by the benchmark start on a day after every generated row.
const QDate kFirstDay(2030, 1, 1);

// An ordinary evening load, one reading every 10 s.
Reading readingAt(int index)
{
    static const QDateTime first(kFirstDay, QTime(18, 0));
    Reading reading;
    reading.V = QStringLiteral("230.4");
    reading.A = QStringLiteral("6.51");
    reading.W = QString::number(1500 + index % 7);
    reading.power = qint16(1500 + index % 7);
    reading.energy = 3000000.0 + index;
    reading.E = QString::number(qint64(*reading.energy));
    reading.time = first.addSecs(10LL * index);
    return reading;
}

class InsertBenchmark : public QObject
{
public:
    explicit InsertBenchmark(Options options) : m_options(std::move(options)), m_probe(this)
    {
        m_chain.add(this, &InsertBenchmark::prepare);
        m_chain.add([this](StepChain::Next next) {
            measureProbeBaselines(&m_probe, m_options.probeMs, next);
        });
        m_chain.add(this, &InsertBenchmark::openWriter);
        m_chain.add(this, &InsertBenchmark::measureInserts);
        m_chain.add(this, &InsertBenchmark::closeWriter);
        m_chain.add(this, &InsertBenchmark::measureBareLoop);
        // The shell reads the file first, in the state the compaction then finds it in.
        m_chain.add(this, &InsertBenchmark::measureShellVacuum);
        m_chain.add(this, &InsertBenchmark::measureCompaction);
        m_chain.add(this, &InsertBenchmark::endWriter);
    }

    void start()
    {
        m_chain.run([] { QCoreApplication::exit(0); });
    }

private:
    QString folder() const { return QDir(m_options.files.work).filePath(QStringLiteral("writer")); }
    QString database() const { return databaseIn(folder()); }

    // The generated file gets its index and summary tables once; later runs copy the result.
    void prepare(const StepChain::Next& next)
    {
        if (!QFileInfo(m_options.files.prepared).isFile() &&
            !prepareFirstOpen(m_options.files.source, m_options.files.prepared))
            return;
        m_rows = energyRows(m_options.files.prepared);
        report("rows", double(m_rows));
        if (!copyDatabase(m_options.files.prepared, folder()))
            return fail(QStringLiteral("no copy of %1").arg(m_options.files.prepared));
        next();
    }

    void openWriter(const StepChain::Next& next)
    {
        m_writer = new DatabaseWriter(folder(), this);
        connect(m_writer, &DatabaseWriter::insertFailed, this, [](const DatabaseResult& result) {
            fail(QStringLiteral("insert: %1").arg(result.error));
        });
        connect(
            m_writer, &DatabaseWriter::opened, this, [this, next](const DatabaseResult& result) {
                if (!result.ok())
                    return fail(QStringLiteral("open: %1").arg(result.error));
                note(QStringLiteral("writer: %1 readings, each insert() then flush(), 1 ms timer")
                         .arg(m_options.inserts));
                next();
            });
        m_writer->open();
    }

    void measureInserts(const StepChain::Next& next)
    {
        m_next = next;
        m_latencies.clear();
        m_probe.start();
        insertFrom(0);
    }

    // One reading at a time: the next goes in once the previous one is on disk.
    void insertFrom(int index)
    {
        if (index == m_options.inserts) {
            m_probe.stop();
            report("insert_median_ms", median(m_latencies));
            report("insert_p99_ms", percentile(m_latencies, 0.99));
            report("insert_gap_ms", m_probe.longestGapMs());
            report("insert_gap_ready_ms", m_probe.longestGapReadyMs());
            report("insert_gaps_over_5ms", m_probe.gapsOverLimit());
            m_next();
            return;
        }
        m_insertClock.start();
        m_writer->insert(readingAt(index));
        m_writer->flush([this, index] {
            m_latencies.push_back(m_insertClock.nsecsElapsed() / 1e6);
            insertFrom(index + 1);
        });
    }

    void closeWriter(const StepChain::Next& next)
    {
        m_writer->close();
        m_writer->flush(next);
    }

    // The same rows through one prepared statement on this thread, nothing around it.
    void measureBareLoop(const StepChain::Next& next)
    {
        note(QStringLiteral("loop: %1 prepared INSERTs, WAL, synchronous=FULL")
                 .arg(m_options.inserts));
        std::vector<double> latencies;
        QString error;
        {
            const SqliteConnection connection(QStringLiteral("bench-loop"), database(),
                                              SqliteMode::ReadWrite);
            QSqlQuery query(connection.db());
            if (!connection.opened() || !query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
                !query.exec(QStringLiteral("PRAGMA synchronous=FULL")) ||
                !query.prepare(QStringLiteral(
                    "INSERT INTO Energy (V, a, W, e, Data) VALUES (?, ?, ?, ?, ?)"))) {
                error = connection.db().lastError().text() + query.lastError().text();
            }
            QElapsedTimer clock;
            for (int i = 0; error.isEmpty() && i < m_options.inserts; ++i) {
                const Reading reading = readingAt(m_options.inserts + i);
                clock.start();
                query.bindValue(0, reading.V.toDouble());
                query.bindValue(1, reading.A.toDouble());
                query.bindValue(2, int(*reading.power));
                query.bindValue(3, *reading.energy);
                query.bindValue(4, reading.time.toString(EnergyDatabase::kDataFormat));
                if (!query.exec())
                    error = query.lastError().text();
                latencies.push_back(clock.nsecsElapsed() / 1e6);
            }
            query.finish();
        }
        if (!error.isEmpty())
            return fail(QStringLiteral("loop: %1").arg(error));
        // Both ways recorded every reading, and the trigger counted each in the summary.
        const qint64 added = 2LL * m_options.inserts;
        const qint64 rows = energyRows(database());
        const qint64 counted = summarySamplesFrom(database(), kFirstDay.toString(Qt::ISODate));
        if (rows != m_rows + added || counted != added)
            return fail(QStringLiteral("%1 rows and %2 summarised readings after %3 inserts")
                            .arg(rows - m_rows)
                            .arg(counted)
                            .arg(added));
        report("loop_median_ms", median(latencies));
        report("loop_p99_ms", percentile(latencies, 0.99));
        next();
    }

    void measureCompaction(const StepChain::Next& next)
    {
        note(QStringLiteral("compact: DatabaseWriter::compact, 1 ms timer"));
        m_probe.start();
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        m_writer->compact([this, clock, next](const DatabaseResult& result) {
            const double seconds = clock->nsecsElapsed() / 1e9;
            m_probe.stop();
            if (!result.ok())
                return fail(QStringLiteral("compact: %1").arg(result.error));
            report("compact_s", seconds);
            m_probe.reportGaps("compact");
            report("compacted_mib", QFileInfo(database()).size() / kMiB);
            next();
        });
    }

    // The writer's thread ends with the writer, and with it its connection.
    void endWriter(const StepChain::Next& next)
    {
        connect(m_writer, &QObject::destroyed, this, [next] { next(); });
        m_writer->deleteLater();
        m_writer = nullptr;
        QFile::remove(QDir(folder()).filePath(EnergyDatabase::kBackupName));
    }

    void measureShellVacuum(const StepChain::Next& next)
    {
        const QString copy = QDir(folder()).filePath(QStringLiteral("vacuum.mdb"));
        note(QStringLiteral("vacuum: %1 VACUUM INTO").arg(m_options.shell));
        // A failed run leaves the copy to the removal of the whole folder.
        runShell(this, QStringLiteral("vacuum"), m_options.shell,
                 {QStringLiteral("-bail"), database(),
                  QStringLiteral("VACUUM INTO '%1'").arg(QString(copy).replace('\'', "''"))},
                 {}, [copy, next](double seconds) {
                     QFile::remove(copy);
                     report("vacuum_s", seconds);
                     next();
                 });
    }

    Options m_options;
    StallProbe m_probe;
    StepChain m_chain;
    StepChain::Next m_next;
    DatabaseWriter* m_writer = nullptr;
    qint64 m_rows = 0;
    QElapsedTimer m_insertClock;
    std::vector<double> m_latencies;
};

} // namespace

int main(int argc, char** argv)
{
    return benchmarkMain<InsertBenchmark>(argc, argv, parse, {QStringLiteral("writer")});
}
