// The long database jobs seen from the window's thread, and the program closed in their middle.
// Works on copies of the generated file (only Energy) and of that file after its first open
// (kept as --prepared and reused):
//   build    DatabaseWriter::open() of a file with only Energy: the index, both summaries and
//            the hour table, until opened(); a 1 ms timer on this thread measures the longest
//            stall meanwhile;
//   hours    the same for a file that lacks only its hour table;
//   compact  DatabaseWriter::compact() of the file after its first open;
//   close_*  the writer destroyed, as the program's end does, while it makes the index, fills
//            the hour table or writes the compacted copy: the time the destruction takes;
//   idle     the 1 ms timer with nothing else going on: the machine's own noise;
//   busy     the 1 ms timer beside one thread that only spins: what sharing two cores costs.
// Figures go to standard output as name=value lines (bench/longjobs.sh collects them).

#include "acquisition/databasewriter.h"
#include "acquisition/energydatabase.h"
#include "acquisition/sqliteconnection.h"
#include "benchsupport.h"
#include "rollupcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <memory>
#include <optional>

using namespace powerlog;
using namespace powerlog::bench;

namespace {

struct Options
{
    BenchFiles files;
    int probeMs = 5000;
};

std::optional<Options> parse(const QCoreApplication& app)
{
    BenchCommandLine line(
        QStringLiteral("Times the window thread's longest stall during the long database jobs, "
                       "and closing the program in their middle."),
        BenchCommandLine::Prepared::Taken,
        QStringLiteral("Folder for the copies (removed after use)."));
    const QCommandLineOption probe = probeOption();
    line.addOptions({probe});
    if (!line.process(app))
        return {};
    return Options{.files = line.files(), .probeMs = line.number(probe, 100)};
}

// Which copy a case starts from.
enum class Start {
    EnergyOnly,   // the generated file
    WithoutHours, // the file after its first open, its hour table dropped
    Prepared,     // the file after its first open
};

class LongJobsBenchmark : public QObject
{
public:
    explicit LongJobsBenchmark(Options options) : m_options(std::move(options)), m_probe(this)
    {
        m_chain.add(this, &LongJobsBenchmark::prepare);
        m_chain.add([this](StepChain::Next next) {
            measureProbeBaselines(&m_probe, m_options.probeMs, next);
        });
        m_chain.add(
            [this](StepChain::Next next) { measureOpen("build", Start::EnergyOnly, next); });
        m_chain.add(
            [this](StepChain::Next next) { measureOpen("hours", Start::WithoutHours, next); });
        m_chain.add(this, &LongJobsBenchmark::measureCompaction);
        m_chain.add([this](StepChain::Next next) {
            // The index takes the first share of the build's progress, past its first percent.
            measureClose("close_index", Start::EnergyOnly, next);
        });
        m_chain.add([this](StepChain::Next next) {
            measureClose("close_hours", Start::WithoutHours, next);
        });
        m_chain.add(
            [this](StepChain::Next next) { measureClose("close_compact", Start::Prepared, next); });
    }

    void start()
    {
        m_chain.run([] { QCoreApplication::exit(0); });
    }

private:
    QString folder() const { return QDir(m_options.files.work).filePath(QStringLiteral("jobs")); }
    QString database() const { return databaseIn(folder()); }

    void prepare(const StepChain::Next& next)
    {
        if (!QFileInfo(m_options.files.prepared).isFile() &&
            !prepareFirstOpen(m_options.files.source, m_options.files.prepared))
            return;
        report("rows", double(energyRows(m_options.files.prepared)));
        next();
    }

    bool copy(Start start)
    {
        removeFolder(folder());
        const QString& from =
            start == Start::EnergyOnly ? m_options.files.source : m_options.files.prepared;
        if (!copyDatabase(from, folder())) {
            fail(QStringLiteral("no copy of %1").arg(from));
            return false;
        }
        if (start != Start::WithoutHours)
            return true;
        QString error;
        const SqliteConnection connection(QStringLiteral("bench-strip"), database(),
                                          SqliteMode::ReadWrite);
        if (!connection.opened(&error) ||
            !execSqlAll(connection.db(),
                        {QStringLiteral("DROP TRIGGER %1").arg(EnergyDatabase::kHourTrigger),
                         QStringLiteral("DROP TABLE %1").arg(EnergyDatabase::kHourTable)},
                        &error)) {
            fail(QStringLiteral("no copy without the hour table: %1").arg(error));
            return false;
        }
        return true;
    }

    void measureOpen(const char* name, Start start, const StepChain::Next& next)
    {
        if (!copy(start))
            return;
        note(QStringLiteral("%1: DatabaseWriter::open, 1 ms timer").arg(QLatin1String(name)));
        auto* writer = new DatabaseWriter(folder(), this);
        auto clock = std::make_shared<QElapsedTimer>();
        connect(writer, &DatabaseWriter::opened, this,
                [this, writer, clock, name, next](const DatabaseResult& result) {
                    const double seconds = clock->nsecsElapsed() / 1e9;
                    m_probe.stop();
                    if (!result.ok() || result.interrupted)
                        return fail(
                            QStringLiteral("%1: %2").arg(QLatin1String(name), result.error));
                    report((std::string(name) + "_s").c_str(), seconds);
                    m_probe.reportGaps(name);
                    endWriter(writer, next);
                });
        m_probe.start();
        clock->start();
        writer->open();
    }

    void measureCompaction(const StepChain::Next& next)
    {
        if (!copy(Start::Prepared))
            return;
        note(QStringLiteral("compact: DatabaseWriter::compact, 1 ms timer"));
        auto* writer = new DatabaseWriter(folder(), this);
        auto clock = std::make_shared<QElapsedTimer>();
        m_probe.start();
        clock->start();
        writer->compact([this, writer, clock, next](const DatabaseResult& result) {
            const double seconds = clock->nsecsElapsed() / 1e9;
            m_probe.stop();
            if (!result.ok())
                return fail(QStringLiteral("compact: %1").arg(result.error));
            report("compact_s", seconds);
            m_probe.reportGaps("compact");
            endWriter(writer, next);
        });
    }

    // Starts the job, waits until it is well under way, then destroys the writer and times it.
    void measureClose(const char* name, Start start, const StepChain::Next& next)
    {
        if (!copy(start))
            return;
        note(QStringLiteral("%1: the writer destroyed in the middle of the job")
                 .arg(QLatin1String(name)));
        auto* writer = new DatabaseWriter(folder(), this);
        const auto close = [this, writer, name, next] {
            QElapsedTimer clock;
            clock.start();
            delete writer;
            report((std::string(name) + "_ms").c_str(), clock.nsecsElapsed() / 1e6);
            QString ignored;
            if (SqliteConnection check(QStringLiteral("bench-check"), database(),
                                       SqliteMode::ReadOnly);
                !check.opened(&ignored) || energyRows(database()) <= 0)
                return fail(QStringLiteral("%1: the file is not whole").arg(QLatin1String(name)));
            next();
        };
        if (start == Start::Prepared) {
            // The compacted copy is being written.
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, [this, poll, close] {
                const QString temp = QDir(folder()).filePath(EnergyDatabase::kTempName);
                if (QFileInfo(temp).size() < 1024 * 1024)
                    return;
                poll->deleteLater();
                close();
            });
            poll->start(10);
            writer->compact({});
            return;
        }
        // Past the first percent of the job: the index, or the first month of the hours.
        auto fired = std::make_shared<bool>(false);
        connect(writer, &DatabaseWriter::progress, this, [fired, close](int percent) {
            if (*fired || percent < 1)
                return;
            *fired = true;
            QTimer::singleShot(0, close);
        });
        writer->open();
    }

    void endWriter(DatabaseWriter* writer, const StepChain::Next& next)
    {
        delete writer;
        QFile::remove(QDir(folder()).filePath(EnergyDatabase::kBackupName));
        next();
    }

    Options m_options;
    StallProbe m_probe;
    StepChain m_chain;
};

} // namespace

int main(int argc, char** argv)
{
    return benchmarkMain<LongJobsBenchmark>(argc, argv, parse, {QStringLiteral("jobs")});
}
