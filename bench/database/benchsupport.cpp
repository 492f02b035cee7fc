#include "benchsupport.h"

#include "acquisition/energydatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <tuple>
#include <unistd.h>

namespace powerlog::bench {

BenchCommandLine::BenchCommandLine(const QString& description, Prepared prepared,
                                   const QString& workHelp)
    : m_source(QStringLiteral("source"), QStringLiteral("The generated database (left untouched)."),
               QStringLiteral("FILE")),
      m_prepared(QStringLiteral("prepared"),
                 QStringLiteral("The source after its first open; built from --source when "
                                "missing."),
                 QStringLiteral("FILE")),
      m_work(QStringLiteral("work"), workHelp, QStringLiteral("DIR")),
      m_takesPrepared(prepared == Prepared::Taken)
{
    m_parser.setApplicationDescription(description);
    m_parser.addHelpOption();
    m_parser.addOption(m_source);
    if (m_takesPrepared)
        m_parser.addOption(m_prepared);
    m_parser.addOption(m_work);
}

bool BenchCommandLine::process(const QCoreApplication& app)
{
    m_parser.process(app);
    if (m_parser.isSet(m_source) && (!m_takesPrepared || m_parser.isSet(m_prepared)) &&
        m_parser.isSet(m_work) && QFileInfo(m_parser.value(m_source)).isFile())
        return true;
    std::fprintf(stderr,
                 m_takesPrepared
                     ? "--source FILE (existing), --prepared FILE and --work DIR are needed\n"
                     : "--source FILE (existing) and --work DIR are needed\n");
    return false;
}

BenchFiles BenchCommandLine::files() const
{
    const auto absolute = [this](const QCommandLineOption& option) {
        return QFileInfo(m_parser.value(option)).absoluteFilePath();
    };
    return {absolute(m_source), m_takesPrepared ? absolute(m_prepared) : QString(),
            absolute(m_work)};
}

int BenchCommandLine::number(const QCommandLineOption& option, int least) const
{
    return std::max(least, m_parser.value(option).toInt());
}

QCommandLineOption sqliteShellOption()
{
    return {QStringLiteral("sqlite3"), QStringLiteral("The sqlite3 shell (default: from PATH)."),
            QStringLiteral("PATH"), QStringLiteral("sqlite3")};
}

QCommandLineOption probeOption()
{
    return {QStringLiteral("probe-ms"),
            QStringLiteral("Length of each probe baseline (default 5000)."), QStringLiteral("MS"),
            QStringLiteral("5000")};
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(std::ceil(fraction * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

void report(const char* name, double value)
{
    std::printf("%s=%.10g\n", name, value);
    std::fflush(stdout);
}

void reportText(const char* name, const QString& value)
{
    std::printf("%s=%s\n", name, qPrintable(value));
    std::fflush(stdout);
}

void note(const QString& text)
{
    std::fprintf(stderr, "  %s\n", qPrintable(text));
}

StallProbe::StallProbe(QObject* parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1);
    connect(&m_timer, &QTimer::timeout, this, &StallProbe::tick);
}

StallProbe::~StallProbe()
{
    if (m_schedstat >= 0)
        ::close(m_schedstat);
}

void StallProbe::start()
{
    // The file describes the thread that opens it: this one, where the timer runs.
    if (m_schedstat < 0)
        m_schedstat = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    m_longestNs = 0;
    m_longestReadyNs = 0;
    m_longestRunningNs = 0;
    m_overLimit = 0;
    m_clock.start();
    m_lastNs = 0;
    std::tie(m_lastRunningNs, m_lastReadyNs) = scheduledNs();
    m_timer.start();
}

void StallProbe::stop()
{
    tick(); // the time since the last tick counts too
    m_timer.stop();
}

void StallProbe::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const auto [running, ready] = scheduledNs();
    const qint64 gap = now - m_lastNs;
    if (gap > m_longestNs) {
        m_longestNs = gap;
        m_longestReadyNs = ready - m_lastReadyNs;
        m_longestRunningNs = running - m_lastRunningNs;
    }
    m_lastNs = now;
    m_lastReadyNs = ready;
    m_lastRunningNs = running;
    if (gap > qint64(kLimitMs * 1e6))
        ++m_overLimit;
}

void StallProbe::reportGaps(const char* prefix) const
{
    const auto named = [prefix](const char* figure) { return QByteArray(prefix) + figure; };
    report(named("_gap_ms").constData(), longestGapMs());
    report(named("_gap_ready_ms").constData(), longestGapReadyMs());
    report(named("_gap_running_ms").constData(), longestGapRunningMs());
    report(named("_gaps_over_5ms").constData(), gapsOverLimit());
    report(named("_gaps_per_min").constData(), gapsOverLimitPerMinute());
}

// schedstat holds three numbers: time on a CPU, time waiting for one, timeslices run.
std::pair<qint64, qint64> StallProbe::scheduledNs() const
{
    char text[96] = {};
    if (m_schedstat < 0 || ::pread(m_schedstat, text, sizeof text - 1, 0) <= 0)
        return {0, 0};
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    if (std::sscanf(text, "%llu %llu", &running, &waiting) != 2)
        return {0, 0};
    return {qint64(running), qint64(waiting)};
}

void measureProbeBaselines(StallProbe* probe, int milliseconds, std::function<void()> next)
{
    note(QStringLiteral("probe: 1 ms timer for %1 ms idle, then %1 ms beside a busy thread")
             .arg(milliseconds));
    probe->start();
    QTimer::singleShot(milliseconds, probe, [probe, milliseconds, next = std::move(next)] {
        probe->stop();
        report("idle_gap_ms", probe->longestGapMs());
        auto spinning = std::make_shared<std::atomic<bool>>(true);
        auto spinner = std::make_shared<std::thread>([spinning] {
            while (spinning->load(std::memory_order_relaxed)) {
            }
        });
        probe->start();
        QTimer::singleShot(milliseconds, probe, [probe, spinning, spinner, next] {
            probe->stop();
            spinning->store(false);
            spinner->join();
            report("busy_gap_ms", probe->longestGapMs());
            report("busy_gap_ready_ms", probe->longestGapReadyMs());
            report("busy_gaps_per_min", probe->gapsOverLimitPerMinute());
            next();
        });
    });
}

PeakSizeSampler::PeakSizeSampler(const QStringList& paths)
{
    for (const QString& path : paths)
        m_paths.push_back(QFile::encodeName(path).toStdString());
    m_peaks.assign(m_paths.size(), 0);
    m_thread = std::thread([this] {
        while (!m_stopping.load()) {
            sample();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        sample();
    });
}

PeakSizeSampler::~PeakSizeSampler()
{
    stop();
}

void PeakSizeSampler::stop()
{
    m_stopping.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void PeakSizeSampler::sample()
{
    for (std::size_t i = 0; i < m_paths.size(); ++i) {
        std::error_code missing;
        const std::uintmax_t size = std::filesystem::file_size(m_paths[i], missing);
        if (!missing)
            m_peaks[i] = std::max(m_peaks[i], qint64(size));
    }
}

void StepChain::run(Next done)
{
    m_done = std::move(done);
    QTimer::singleShot(0, [this] { runFrom(0); });
}

void StepChain::runFrom(std::size_t index)
{
    if (index == m_steps.size()) {
        m_done();
        return;
    }
    // Each next step starts from the event loop, so a long chain never deepens the stack.
    m_steps[index]([this, index] { QTimer::singleShot(0, [this, index] { runFrom(index + 1); }); });
}

QString databaseIn(const QString& folder)
{
    return QDir(folder).filePath(EnergyDatabase::kFileName);
}

bool copyDatabase(const QString& file, const QString& folder)
{
    const QString target = databaseIn(folder);
    if (!QDir().mkpath(folder)) {
        note(QStringLiteral("cannot make %1").arg(folder));
        return false;
    }
    QFile::remove(target);
    QFile source(file);
    if (!source.copy(target)) {
        note(QStringLiteral("cannot copy %1 to %2: %3").arg(file, target, source.errorString()));
        return false;
    }
    return true;
}

bool prepareFirstOpen(const QString& base, const QString& prepared)
{
    const QString part = prepared + QStringLiteral(".part.d");
    note(QStringLiteral("prepare: first open of a copy of %1").arg(base));
    if (!copyDatabase(base, part)) {
        fail(QStringLiteral("prepare: no copy"));
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    const DatabaseResult result = EnergyDatabase(part).open();
    if (!result.ok()) {
        removeFolder(part);
        fail(QStringLiteral("prepare: %1").arg(result.error));
        return false;
    }
    note(QStringLiteral("prepare: %1 s").arg(clock.nsecsElapsed() / 1e9, 0, 'f', 1));
    QFile::remove(prepared);
    if (!QFile::rename(databaseIn(part), prepared)) {
        fail(QStringLiteral("prepare: cannot name %1").arg(prepared));
        return false;
    }
    removeFolder(part);
    return true;
}

void runShell(QObject* owner, const QString& what, const QString& program,
              const QStringList& arguments, const QByteArray& input,
              std::function<void(double seconds)> done)
{
    auto* shell = new QProcess(owner);
    auto clock = std::make_shared<QElapsedTimer>();
    QObject::connect(shell, &QProcess::errorOccurred, owner, [shell, what](QProcess::ProcessError) {
        if (shell->state() == QProcess::NotRunning)
            fail(QStringLiteral("%1: %2").arg(what, shell->errorString()));
    });
    QObject::connect(
        shell, &QProcess::finished, owner,
        [shell, clock, what, done = std::move(done)](int code, QProcess::ExitStatus status) {
            const double seconds = clock->nsecsElapsed() / 1e9;
            shell->deleteLater();
            const QByteArray errors = shell->readAllStandardError().trimmed();
            if (status != QProcess::NormalExit || code != 0 || !errors.isEmpty())
                return fail(QStringLiteral("%1: exit %2: %3")
                                .arg(what)
                                .arg(code)
                                .arg(QString::fromLocal8Bit(errors)));
            done(seconds);
        });
    clock->start();
    shell->start(program, arguments);
    if (!input.isEmpty()) {
        shell->write(input);
        shell->closeWriteChannel();
    }
}

void removeFolder(const QString& folder)
{
    QDir(folder).removeRecursively();
}

void fail(const QString& why)
{
    std::fprintf(stderr, "error: %s\n", qPrintable(why));
    QCoreApplication::exit(1);
}

} // namespace powerlog::bench
