// The first open of a large energy database that has only its Energy table (a legacy or
// hand-made file): the summary tables are built before the program can record. Each case works
// on a fresh copy of the same source file:
//   ours     EnergyDatabase::open with a progress callback: total time, the longest
//            wait between two progress calls, peak size of the -wal and -journal files;
//   shell    the sqlite3 shell running the statements of a first open all in one go, in one
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

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <memory>
#include <optional>

using namespace powerlog;
using namespace powerlog::bench;

namespace {

struct Options
{
    BenchFiles files;
    QString shell = QStringLiteral("sqlite3");
    int probeMs = 5000;
};

std::optional<Options> parse(const QCoreApplication& app)
{
    BenchCommandLine line(
        QStringLiteral("Times the first open of an energy database that has only its Energy "
                       "table, against the sqlite3 shell doing the same work in one go."),
        BenchCommandLine::Prepared::NotTaken,
        QStringLiteral("Folder for the copies (removed after use)."));
    const QCommandLineOption shell = sqliteShellOption();
    const QCommandLineOption probe = probeOption();
    line.addOptions({shell, probe});
    if (!line.process(app))
        return {};
    return Options{
        .files = line.files(), .shell = line.value(shell), .probeMs = line.number(probe, 100)};
}

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
        m_chain.add(this, &OpenBenchmark::measureOurOpen);
        m_chain.add(this, &OpenBenchmark::measureShell);
        m_chain.add(this, &OpenBenchmark::measureWriter);
    }

    void start()
    {
        const qint64 rows = energyRows(m_options.files.source);
        if (rows <= 0)
            return fail(QStringLiteral("%1 holds no Energy rows").arg(m_options.files.source));
        report("rows", double(rows));
        m_chain.run([] { QCoreApplication::exit(0); });
    }

private:
    QString folder(const QString& name) const { return QDir(m_options.files.work).filePath(name); }

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
        if (!copyDatabase(m_options.files.source, where))
            return fail(QStringLiteral("ours: no copy"));
        note(QStringLiteral("ours: EnergyDatabase::open"));
        const QString file = databaseIn(where);
        ProgressGaps gaps;
        QElapsedTimer clock;
        {
            PeakSizeSampler sampler(
                {file + QStringLiteral("-wal"), file + QStringLiteral("-journal")});
            EnergyDatabase database(where);
            gaps.start();
            clock.start();
            const DatabaseResult result = database.open([&gaps](int) {
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
        if (!copyDatabase(m_options.files.source, where))
            return fail(QStringLiteral("shell: no copy"));
        note(QStringLiteral("shell: %1, one transaction").arg(m_options.shell));
        const QString file = databaseIn(where);
        auto sampler = std::make_shared<PeakSizeSampler>(
            QStringList{file + QStringLiteral("-wal"), file + QStringLiteral("-journal")});
        runShell(this, QStringLiteral("shell"), m_options.shell, {QStringLiteral("-bail"), file},
                 singleTransactionRebuild().toUtf8(), [this, sampler, where, next](double seconds) {
                     sampler->stop();
                     report("shell_open_s", seconds);
                     report("shell_peak_wal_mib", sampler->peak(0) / kMiB);
                     report("shell_peak_journal_mib", sampler->peak(1) / kMiB);
                     if (checkAndRemove(where, "shell"))
                         next();
                 });
    }

    void measureWriter(const StepChain::Next& next)
    {
        const QString where = folder(QStringLiteral("writer"));
        if (!copyDatabase(m_options.files.source, where))
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
                    m_probe.reportGaps("writer_open");
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

} // namespace

int main(int argc, char** argv)
{
    return benchmarkMain<OpenBenchmark>(
        argc, argv, parse,
        {QStringLiteral("ours"), QStringLiteral("shell"), QStringLiteral("writer")});
}
