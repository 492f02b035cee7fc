// The first open of a large energy database that has only its Energy table (a legacy or
// hand-made file): the summary tables are built before the program can record. Each case works
// on a fresh copy of the same source file:
//   ours     EnergyDatabase::OpenDatabase with a progress callback: total time, the longest
//            wait between two progress calls, peak size of the -wal and -journal files;
//   shell    the sqlite3 shell running the statements a first open used to run, in one
//            transaction in WAL mode with synchronous=FULL: its time and peak -wal;
//   writer   a DatabaseWriter opening the file while this thread runs a 1 ms timer, as the
//            window's thread would: the time to opened() and the longest gap between ticks;
//   idle     the 1 ms timer with nothing else going on: the machine's own noise;
//   busy     the 1 ms timer beside one thread that only spins: what sharing two cores costs.
// Figures go to standard output as name=value lines (bench/database.sh collects them).

#include "acquisition/databasewriter.h"
#include "acquisition/energydatabase.h"
#include "benchsupport.h"
#include "rollupcheck.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

using namespace powerlog;
using namespace powerlog::bench;

namespace {

struct Options
{
    QString source;
    QString work;
    QString shell = QStringLiteral("sqlite3");
    int probeMs = 5000;
};

// The longest time between two progress reports, from the start to the end of an open.
class ProgressGaps
{
public:
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_count = 0;
    }
    void mark()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
        ++m_count;
    }
    double longestSeconds() const { return m_longest / 1e9; }
    int count() const { return m_count; }

private:
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_count = 0;
};

class OpenBenchmark : public QObject
{
public:
    explicit OpenBenchmark(Options options) : m_options(std::move(options)), m_probe(this)
    {
        m_chain.add([this](StepChain::Next next) {
            measureProbeBaselines(&m_probe, m_options.probeMs, next);
        });
        m_chain.add([this](StepChain::Next next) { measureOurOpen(next); });
        m_chain.add([this](StepChain::Next next) { measureShell(next); });
        m_chain.add([this](StepChain::Next next) { measureWriter(next); });
    }

    void start()
    {
        const qint64 rows = energyRows(m_options.source);
        if (rows <= 0)
            return fail(QStringLiteral("%1 holds no Energy rows").arg(m_options.source));
        report("rows", double(rows));
        m_chain.run([] { QCoreApplication::exit(0); });
    }

private:
    QString folder(const QString& name) const { return QDir(m_options.work).filePath(name); }
    static QString databaseIn(const QString& folder)
    {
        return QDir(folder).filePath(EnergyDatabase::kFileName);
    }

    // Checks a built file against the first one built and removes its folder.
    bool checkAndRemove(const QString& where, const char* name)
    {
        QString error;
        const std::optional<RollupSummary> summary = summarize(databaseIn(where), &error);
        removeFolder(where);
        if (!summary) {
            fail(QStringLiteral("%1: cannot read the summary: %2").arg(name, error));
            return false;
        }
        note(QStringLiteral("%1: %2").arg(name, summary->describe()));
        if (!m_expected) {
            m_expected = summary;
            return true;
        }
        if (*summary == *m_expected)
            return true;
        fail(QStringLiteral("%1 built another summary than ours:\n%2\n%3\nours:\n%4\n%5")
                 .arg(name, summary->describe(), summary->schema, m_expected->describe(),
                      m_expected->schema));
        return false;
    }

    void measureOurOpen(const StepChain::Next& next)
    {
        const QString where = folder(QStringLiteral("ours"));
        if (!copyDatabase(m_options.source, where))
            return fail(QStringLiteral("ours: no copy"));
        note(QStringLiteral("ours: EnergyDatabase::OpenDatabase"));
        const QString file = databaseIn(where);
        ProgressGaps gaps;
        QElapsedTimer clock;
        {
            PeakSizeSampler sampler(
                {file + QStringLiteral("-wal"), file + QStringLiteral("-journal")});
            EnergyDatabase database(where);
            gaps.start();
            clock.start();
            const DatabaseResult result = database.OpenDatabase([&gaps](int) {
                gaps.mark();
                return true;
            });
            const double seconds = clock.nsecsElapsed() / 1e9;
            gaps.mark();
            sampler.stop();
            if (!result.ok())
                return fail(QStringLiteral("ours: %1").arg(result.error));
            report("ours_open_s", seconds);
            report("ours_progress_gap_s", gaps.longestSeconds());
            report("ours_progress_calls", gaps.count() - 1);
            report("ours_peak_wal_mib", sampler.peak(0) / kMiB);
            report("ours_peak_journal_mib", sampler.peak(1) / kMiB);
        }
        if (checkAndRemove(where, "ours"))
            next();
    }

    void measureShell(const StepChain::Next& next)
    {
        const QString where = folder(QStringLiteral("shell"));
        if (!copyDatabase(m_options.source, where))
            return fail(QStringLiteral("shell: no copy"));
        note(QStringLiteral("shell: %1, one transaction").arg(m_options.shell));
        const QString file = databaseIn(where);
        auto sampler = std::make_shared<PeakSizeSampler>(
            QStringList{file + QStringLiteral("-wal"), file + QStringLiteral("-journal")});
        auto* shell = new QProcess(this);
        auto clock = std::make_shared<QElapsedTimer>();
        connect(shell, &QProcess::errorOccurred, this, [shell](QProcess::ProcessError) {
            if (shell->state() == QProcess::NotRunning)
                fail(QStringLiteral("shell: %1").arg(shell->errorString()));
        });
        connect(shell, &QProcess::finished, this,
                [this, shell, sampler, clock, where, next](int code, QProcess::ExitStatus status) {
                    const double seconds = clock->nsecsElapsed() / 1e9;
                    sampler->stop();
                    shell->deleteLater();
                    const QByteArray errors = shell->readAllStandardError().trimmed();
                    if (status != QProcess::NormalExit || code != 0 || !errors.isEmpty())
                        return fail(QStringLiteral("shell: exit %1: %2")
                                        .arg(code)
                                        .arg(QString::fromLocal8Bit(errors)));
                    report("shell_open_s", seconds);
                    report("shell_peak_wal_mib", sampler->peak(0) / kMiB);
                    report("shell_peak_journal_mib", sampler->peak(1) / kMiB);
                    if (checkAndRemove(where, "shell"))
                        next();
                });
        clock->start();
        shell->start(m_options.shell, {QStringLiteral("-bail"), file});
        shell->write(singleTransactionRebuild().toUtf8());
        shell->closeWriteChannel();
    }

    void measureWriter(const StepChain::Next& next)
    {
        const QString where = folder(QStringLiteral("writer"));
        if (!copyDatabase(m_options.source, where))
            return fail(QStringLiteral("writer: no copy"));
        note(QStringLiteral("writer: DatabaseWriter::open with a 1 ms timer on this thread"));
        auto* writer = new DatabaseWriter(where, this);
        auto gaps = std::make_shared<ProgressGaps>();
        auto clock = std::make_shared<QElapsedTimer>();
        connect(writer, &DatabaseWriter::progress, this, [gaps](int) { gaps->mark(); });
        auto failed = std::make_shared<bool>(false);
        connect(writer, &DatabaseWriter::opened, this,
                [this, writer, gaps, clock, failed](const DatabaseResult& result) {
                    const double seconds = clock->nsecsElapsed() / 1e9;
                    m_probe.stop();
                    gaps->mark();
                    writer->deleteLater();
                    *failed = !result.ok();
                    if (*failed)
                        return fail(QStringLiteral("writer: %1").arg(result.error));
                    report("writer_open_s", seconds);
                    report("writer_open_gap_ms", m_probe.longestGapMs());
                    report("writer_open_gap_ready_ms", m_probe.longestGapReadyMs());
                    report("writer_open_gaps_over_5ms", m_probe.gapsOverLimit());
                    report("writer_open_gaps_per_min", m_probe.gapsOverLimitPerMinute());
                    report("writer_progress_gap_s", gaps->longestSeconds());
                });
        // The file is checked once the writer, and with it its connection, is gone.
        connect(writer, &QObject::destroyed, this, [this, where, next, failed] {
            if (!*failed && checkAndRemove(where, "writer"))
                next();
        });
        gaps->start();
        m_probe.start();
        clock->start();
        writer->open();
    }

    Options m_options;
    StallProbe m_probe;
    StepChain m_chain;
    std::optional<RollupSummary> m_expected;
};

std::optional<Options> parse(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times the first open of an energy database that has only its Energy "
                       "table, against the sqlite3 shell doing the same work in one go."));
    parser.addHelpOption();
    const QCommandLineOption source(QStringLiteral("source"),
                                    QStringLiteral("The generated database (left untouched)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption work(QStringLiteral("work"),
                                  QStringLiteral("Folder for the copies (removed after use)."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption shell(QStringLiteral("sqlite3"),
                                   QStringLiteral("The sqlite3 shell (default: from PATH)."),
                                   QStringLiteral("PATH"), QStringLiteral("sqlite3"));
    const QCommandLineOption probe(QStringLiteral("probe-ms"),
                                   QStringLiteral("Length of each probe baseline (default 5000)."),
                                   QStringLiteral("MS"), QStringLiteral("5000"));
    parser.addOptions({source, work, shell, probe});
    parser.process(app);
    if (!parser.isSet(source) || !parser.isSet(work) || !QFileInfo(parser.value(source)).isFile()) {
        std::fprintf(stderr, "--source FILE (existing) and --work DIR are needed\n");
        return {};
    }
    Options options;
    options.source = QFileInfo(parser.value(source)).absoluteFilePath();
    options.work = QFileInfo(parser.value(work)).absoluteFilePath();
    options.shell = parser.value(shell);
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
        OpenBenchmark benchmark(*options);
        QTimer::singleShot(0, &benchmark, [&benchmark] { benchmark.start(); });
        code = app.exec();
    }
    // A failed case may leave its copy behind.
    for (const char* name : {"ours", "shell", "writer"})
        removeFolder(QDir(options->work).filePath(QLatin1String(name)));
    return code;
}
