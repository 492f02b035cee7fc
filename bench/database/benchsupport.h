#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <utility>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

// What the database and charts benchmarks share: their command line, figures printed for
// bench/database.sh and bench/charts.sh to collect, a probe of the event loop's longest stall, a
// sampler of file sizes, steps run one after the other on the event loop, the copies they work
// on and the sqlite3 shell they measure against.
namespace powerlog::bench {

// The files a benchmark works on, as absolute paths: the generated database (never changed),
// that file after its first open (for the benchmarks that take it) and the folder of the copies.
struct BenchFiles
{
    QString source;
    QString prepared;
    QString work;
};

// The command line of a benchmark on a generated database: --source FILE (it must exist) and
// --work DIR always, --prepared FILE for those that work on the file after its first open, then
// the benchmark's own options.
class BenchCommandLine
{
public:
    enum class Prepared { NotTaken, Taken };

    BenchCommandLine(const QString& description, Prepared prepared, const QString& workHelp);

    void addOptions(const QList<QCommandLineOption>& options) { m_parser.addOptions(options); }
    // Parses the arguments (--help ends the program). False, with a note on standard error,
    // when a file or folder the benchmark needs is not given.
    bool process(const QCoreApplication& app);

    BenchFiles files() const;

    bool isSet(const QCommandLineOption& option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption& option) const { return m_parser.value(option); }
    // The option's whole number, or `least` when it is smaller (or no number).
    int number(const QCommandLineOption& option, int least) const;

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_source;
    QCommandLineOption m_prepared;
    QCommandLineOption m_work;
    bool m_takesPrepared;
};

// --sqlite3 PATH: the shell the baselines run (default: from PATH).
QCommandLineOption sqliteShellOption();
// --probe-ms MS: the length of each stall probe baseline (default 5000).
QCommandLineOption probeOption();

// Removes a folder and everything in it.
void removeFolder(const QString& folder);

// A benchmark's main(): its options from `parse` (exit 2 when it refuses the command line), the
// benchmark made from them run on the event loop from its start() until it (or fail()) leaves
// the loop, then the folders `copies` under --work removed, as a failed case may leave them
// behind. Returns the loop's exit code.
template <typename Benchmark, typename Options>
int benchmarkMain(int argc, char** argv, std::optional<Options> (*parse)(const QCoreApplication&),
                  const QStringList& copies)
{
    QCoreApplication app(argc, argv);
    const std::optional<Options> options = parse(app);
    if (!options)
        return 2;
    int code = 0;
    {
        Benchmark benchmark(*options);
        QTimer::singleShot(0, &benchmark, [&benchmark] { benchmark.start(); });
        code = app.exec();
    }
    for (const QString& copy : copies)
        removeFolder(QDir(options->files.work).filePath(copy));
    return code;
}

double median(std::vector<double> values);
// The value below which `fraction` of the values lie (nearest rank), e.g. 0.99.
double percentile(std::vector<double> values, double fraction);

// One figure as "name=value" on standard output, the form the scripts collect.
void report(const char* name, double value);
// A text (a date, a yes) in the same form.
void reportText(const char* name, const QString& value);
// What is going on, for the person watching, on standard error.
void note(const QString& text);

constexpr double kMiB = 1024.0 * 1024.0;

// A 1 ms timer on the thread that makes the probe: the longest gap between two ticks is the
// longest time that thread's event loop (a window's, in the program) could not run.
class StallProbe : public QObject
{
public:
    explicit StallProbe(QObject* parent = nullptr);
    ~StallProbe() override;

    void start();
    void stop();

    double longestGapMs() const { return m_longestNs / 1e6; }
    // Of the longest gap, the time the thread was ready to run but had no CPU (from the
    // kernel's schedstat; 0 where the kernel does not keep it). Close to the gap itself, it
    // means the machine's cores were busy, not that the thread was held up by a wait.
    double longestGapReadyMs() const { return m_longestReadyNs / 1e6; }
    // Of the longest gap, the time the kernel counted the thread as running. The rest of the
    // gap, neither running nor waiting for a CPU, the thread slept: on a lock, a page fault,
    // the disk. Running while no tick came means work in the kernel on the thread's behalf
    // (reclaiming memory in a page fault), or a virtual CPU the host did not run.
    double longestGapRunningMs() const { return m_longestRunningNs / 1e6; }
    // Gaps since start() longer than kLimitMs, the most a window may freeze unnoticed, and
    // their rate, which compares windows of different lengths.
    int gapsOverLimit() const { return m_overLimit; }
    double gapsOverLimitPerMinute() const
    {
        return m_lastNs > 0 ? m_overLimit * 60e9 / double(m_lastNs) : 0;
    }
    static constexpr double kLimitMs = 5.0;

    // The figures since start() as PREFIX_gap_ms, PREFIX_gap_ready_ms, PREFIX_gap_running_ms,
    // PREFIX_gaps_over_5ms and PREFIX_gaps_per_min.
    void reportGaps(const char* prefix) const;

private:
    void tick();
    // Time on a CPU and time waiting for one, from schedstat.
    std::pair<qint64, qint64> scheduledNs() const;

    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_schedstat = -1; // /proc/thread-self/schedstat of the probing thread
    qint64 m_lastNs = 0;
    qint64 m_lastReadyNs = 0;
    qint64 m_lastRunningNs = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestReadyNs = 0;
    qint64 m_longestRunningNs = 0;
    int m_overLimit = 0;
};

// Runs the probe on an idle process, then while one other thread of the process spins: what
// the machine itself costs the event loop, and what sharing the CPU with a busy thread costs
// it. Reports idle_gap_ms and busy_gap_ms, then calls `next` from the event loop.
void measureProbeBaselines(StallProbe* probe, int milliseconds, std::function<void()> next);

// Samples the sizes of some files every 50 ms on a thread of its own and keeps the largest seen
// for each (0 for a file never seen). Sampling runs from construction to stop().
class PeakSizeSampler
{
public:
    explicit PeakSizeSampler(const QStringList& paths);
    ~PeakSizeSampler();
    PeakSizeSampler(const PeakSizeSampler&) = delete;
    PeakSizeSampler& operator=(const PeakSizeSampler&) = delete;

    void stop();
    // Valid after stop().
    qint64 peak(int index) const { return m_peaks.at(std::size_t(index)); }

private:
    void sample();

    std::vector<std::string> m_paths;
    std::vector<qint64> m_peaks; // written by the sampling thread until it is joined
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// Steps that each end by calling `next`, run one after the other on the event loop.
class StepChain
{
public:
    using Next = std::function<void()>;
    using Step = std::function<void(Next next)>;

    void add(Step step) { m_steps.push_back(std::move(step)); }
    // A step that is a member function of `owner`.
    template <typename Owner> void add(Owner* owner, void (Owner::*step)(const Next&))
    {
        add([owner, step](Next next) { (owner->*step)(next); });
    }
    // Runs the steps in order from the event loop, then `done`.
    void run(Next done);

private:
    void runFrom(std::size_t index);

    std::vector<Step> m_steps;
    Next m_done;
};

// DbEnergy.mdb in `folder`.
QString databaseIn(const QString& folder);
// Copies `file` as DbEnergy.mdb into `folder` (made when missing); false with a note on failure.
bool copyDatabase(const QString& file, const QString& folder);
// Writes `prepared`: a copy of `base` after its first open through EnergyDatabase::open,
// which builds the index on Data and the summary tables. False after fail() when it cannot.
bool prepareFirstOpen(const QString& base, const QString& prepared);
// Runs the sqlite3 shell `program` with `arguments`, with `input` written to it when there is
// any. Calls `done` with its time in seconds when it ended cleanly (exit 0, nothing on standard
// error); anything else fails the benchmark, with `what` saying which case it was.
void runShell(QObject* owner, const QString& what, const QString& program,
              const QStringList& arguments, const QByteArray& input,
              std::function<void(double seconds)> done);
// Ends the program with a failure: prints the reason and leaves the event loop with 1.
void fail(const QString& why);

} // namespace powerlog::bench
