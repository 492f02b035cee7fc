#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

// What the database benchmarks share: figures printed for bench/database.sh to collect, a
// probe of the event loop's longest stall, a sampler of file sizes, and steps run one after the
// other on the event loop.
namespace powerlog::bench {

double median(std::vector<double> values);
// The value below which `fraction` of the values lie (nearest rank), e.g. 0.99.
double percentile(std::vector<double> values, double fraction);

// One figure as "name=value" on standard output, the form bench/database.sh collects.
void report(const char* name, double value);
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
    // Gaps since start() longer than kLimitMs, the most a window may freeze unnoticed, and
    // their rate, which compares windows of different lengths.
    int gapsOverLimit() const { return m_overLimit; }
    double gapsOverLimitPerMinute() const
    {
        return m_lastNs > 0 ? m_overLimit * 60e9 / double(m_lastNs) : 0;
    }
    static constexpr double kLimitMs = 5.0;

private:
    void tick();
    qint64 readyNs() const;

    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_schedstat = -1; // /proc/thread-self/schedstat of the probing thread
    qint64 m_lastNs = 0;
    qint64 m_lastReadyNs = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestReadyNs = 0;
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
    // Runs the steps in order from the event loop, then `done`.
    void run(Next done);

private:
    void runFrom(std::size_t index);

    std::vector<Step> m_steps;
    Next m_done;
};

// Copies `file` as DbEnergy.mdb into `folder` (made when missing); false with a note on failure.
bool copyDatabase(const QString& file, const QString& folder);
// Removes a folder and everything in it.
void removeFolder(const QString& folder);
// Ends the program with a failure: prints the reason and leaves the event loop with 1.
void fail(const QString& why);

} // namespace powerlog::bench
