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
#include "benchsupport.h"
#include "rollupcheck.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>

using namespace powerlog;
using namespace powerlog::bench;

namespace {

struct Options
{
    QString source;
    QString prepared;
    QString work;
    QString shell = QStringLiteral("sqlite3");
    int inserts = 500;
    int probeMs = 5000;
};

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
        m_chain.add([this](StepChain::Next next) { prepare(next); });
        m_chain.add([this](StepChain::Next next) {
            measureProbeBaselines(&m_probe, m_options.probeMs, next);
        });
        m_chain.add([this](StepChain::Next next) { openWriter(next); });
        m_chain.add([this](StepChain::Next next) { measureInserts(next); });
        m_chain.add([this](StepChain::Next next) { closeWriter(next); });
        m_chain.add([this](StepChain::Next next) { measureBareLoop(next); });
        // The shell reads the file first, in the state the compaction then finds it in.
        m_chain.add([this](StepChain::Next next) { measureShellVacuum(next); });
        m_chain.add([this](StepChain::Next next) { measureCompaction(next); });
        m_chain.add([this](StepChain::Next next) { endWriter(next); });
    }

    void start()
    {
        m_chain.run([] { QCoreApplication::exit(0); });
    }

private:
    QString folder() const { return QDir(m_options.work).filePath(QStringLiteral("writer")); }
    QString database() const { return QDir(folder()).filePath(EnergyDatabase::kFileName); }

    // The generated file gets its index and summary tables once; later runs copy the result.
    void prepare(const StepChain::Next& next)
    {
        if (!QFileInfo(m_options.prepared).isFile()) {
            const QString part = m_options.prepared + QStringLiteral(".part.d");
            note(QStringLiteral("prepare: first open of a copy of %1").arg(m_options.source));
            if (!copyDatabase(m_options.source, part))
                return fail(QStringLiteral("prepare: no copy"));
            QElapsedTimer clock;
            clock.start();
            const DatabaseResult result = EnergyDatabase(part).OpenDatabase();
            if (!result.ok()) {
                removeFolder(part);
                return fail(QStringLiteral("prepare: %1").arg(result.error));
            }
            note(QStringLiteral("prepare: %1 s").arg(clock.nsecsElapsed() / 1e9, 0, 'f', 1));
            if (!QFile::rename(QDir(part).filePath(EnergyDatabase::kFileName), m_options.prepared))
                return fail(QStringLiteral("prepare: cannot name %1").arg(m_options.prepared));
            removeFolder(part);
        }
        m_rows = energyRows(m_options.prepared);
        report("rows", double(m_rows));
        if (!copyDatabase(m_options.prepared, folder()))
            return fail(QStringLiteral("no copy of %1").arg(m_options.prepared));
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
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-loop"));
            db.setDatabaseName(database());
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
            QSqlQuery query(db);
            if (!db.open() || !query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
                !query.exec(QStringLiteral("PRAGMA synchronous=FULL")) ||
                !query.prepare(QStringLiteral(
                    "INSERT INTO Energy (V, a, W, e, Data) VALUES (?, ?, ?, ?, ?)"))) {
                error = db.lastError().text() + query.lastError().text();
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
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bench-loop"));
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
            report("compact_gap_ms", m_probe.longestGapMs());
            report("compact_gap_ready_ms", m_probe.longestGapReadyMs());
            report("compact_gaps_over_5ms", m_probe.gapsOverLimit());
            report("compact_gaps_per_min", m_probe.gapsOverLimitPerMinute());
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
        auto* shell = new QProcess(this);
        auto clock = std::make_shared<QElapsedTimer>();
        connect(shell, &QProcess::errorOccurred, this, [shell](QProcess::ProcessError) {
            if (shell->state() == QProcess::NotRunning)
                fail(QStringLiteral("vacuum: %1").arg(shell->errorString()));
        });
        connect(shell, &QProcess::finished, this,
                [shell, clock, copy, next](int code, QProcess::ExitStatus status) {
                    const double seconds = clock->nsecsElapsed() / 1e9;
                    shell->deleteLater();
                    const QByteArray errors = shell->readAllStandardError().trimmed();
                    QFile::remove(copy);
                    if (status != QProcess::NormalExit || code != 0 || !errors.isEmpty())
                        return fail(QStringLiteral("vacuum: exit %1: %2")
                                        .arg(code)
                                        .arg(QString::fromLocal8Bit(errors)));
                    report("vacuum_s", seconds);
                    next();
                });
        clock->start();
        shell->start(m_options.shell,
                     {QStringLiteral("-bail"), database(),
                      QStringLiteral("VACUUM INTO '%1'").arg(QString(copy).replace('\'', "''"))});
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

std::optional<Options> parse(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times recording into and compacting a large energy database from the "
                       "window's thread, against bare prepared inserts and the sqlite3 shell."));
    parser.addHelpOption();
    const QCommandLineOption source(QStringLiteral("source"),
                                    QStringLiteral("The generated database (left untouched)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption prepared(
        QStringLiteral("prepared"),
        QStringLiteral("The source after its first open; built from --source when missing."),
        QStringLiteral("FILE"));
    const QCommandLineOption work(QStringLiteral("work"),
                                  QStringLiteral("Folder for the copy (removed after use)."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption shell(QStringLiteral("sqlite3"),
                                   QStringLiteral("The sqlite3 shell (default: from PATH)."),
                                   QStringLiteral("PATH"), QStringLiteral("sqlite3"));
    const QCommandLineOption inserts(QStringLiteral("inserts"),
                                     QStringLiteral("Readings recorded (default 500)."),
                                     QStringLiteral("N"), QStringLiteral("500"));
    const QCommandLineOption probe(QStringLiteral("probe-ms"),
                                   QStringLiteral("Length of each probe baseline (default 5000)."),
                                   QStringLiteral("MS"), QStringLiteral("5000"));
    parser.addOptions({source, prepared, work, shell, inserts, probe});
    parser.process(app);
    if (!parser.isSet(source) || !parser.isSet(prepared) || !parser.isSet(work) ||
        !QFileInfo(parser.value(source)).isFile()) {
        std::fprintf(stderr, "--source FILE (existing), --prepared FILE and --work DIR are "
                             "needed\n");
        return {};
    }
    Options options;
    options.source = QFileInfo(parser.value(source)).absoluteFilePath();
    options.prepared = QFileInfo(parser.value(prepared)).absoluteFilePath();
    options.work = QFileInfo(parser.value(work)).absoluteFilePath();
    options.shell = parser.value(shell);
    options.inserts = std::max(1, parser.value(inserts).toInt());
    options.probeMs = std::max(100, parser.value(probe).toInt());
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<Options> options = parse(app);
    if (!options)
        return 2;
    int code = 0;
    {
        InsertBenchmark benchmark(*options);
        QTimer::singleShot(0, &benchmark, [&benchmark] { benchmark.start(); });
        code = app.exec();
    }
    removeFolder(QDir(options->work).filePath(QStringLiteral("writer")));
    return code;
}
