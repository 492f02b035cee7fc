// The export of a large energy database, seen from the window's thread: ExportSource writes
// every row of the file in --folder to --out on the database reader's thread, as the export
// window asks it to (Italian locale, comma separator: every decimal comma is quoted), while a
// 1 ms timer on this thread measures its longest stall and this thread takes the progress
// reports, as the window does.
//   export  the time from start() to finished(), the rows written, and the growth of the
//           process's resident memory over the export (its peak, reset just before, minus what
//           it was before);
//   idle    the 1 ms timer with nothing else going on: the machine's own noise;
//   busy    the 1 ms timer beside one thread that only spins: what sharing two cores costs.
// Figures go to standard output as name=value lines (bench/export.sh collects them).

#include "acquisition/databasereader.h"
#include "acquisition/energyexport.h"
#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

using namespace powerlog;
using namespace powerlog::bench;

namespace {

// A line "Name:   1234 kB" of /proc/self/status, in kB; 0 where there is none.
qint64 statusKb(const char* name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(name) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// Starts the peak of the resident memory afresh (Linux 4.0 and later).
bool resetPeakMemory()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

class ExportBenchmark : public QObject
{
public:
    ExportBenchmark(QString folder, QString out, int probeMs)
        : m_out(std::move(out)), m_probeMs(probeMs), m_reader(folder), m_source(m_reader),
          m_probe(this)
    {
        m_chain.add(
            [this](StepChain::Next next) { measureProbeBaselines(&m_probe, m_probeMs, next); });
        m_chain.add([this](StepChain::Next next) { measureExport(next); });
    }

    void start()
    {
        m_chain.run([] { QCoreApplication::exit(0); });
    }

private:
    void measureExport(const StepChain::Next& next)
    {
        note(QStringLiteral("export: every row to %1, Italian, comma; 1 ms timer").arg(m_out));
        QFile::remove(m_out);
        QObject::connect(&m_source, &ExportSource::progress, this, [this](int permille) {
            // The window's progress bar: one value kept per report.
            m_lastPermille = permille;
            ++m_reports;
        });
        QObject::connect(&m_source, &ExportSource::finished, this,
                         [this, next](const ExportResult& result) {
                             const double seconds = m_clock.nsecsElapsed() / 1e9;
                             m_probe.stop();
                             if (!result.ok())
                                 return fail(QStringLiteral("export: %1").arg(result.error));
                             const qint64 peakKb = statusKb("VmHWM");
                             report("rows", double(result.rows));
                             report("export_s", seconds);
                             report("export_rows_per_s", result.rows / seconds);
                             report("export_mib", QFileInfo(m_out).size() / kMiB);
                             report("rss_before_mib", m_rssBeforeKb / 1024.0);
                             report("rss_growth_mib", (peakKb - m_rssBeforeKb) / 1024.0);
                             report("export_gap_ms", m_probe.longestGapMs());
                             report("export_gap_ready_ms", m_probe.longestGapReadyMs());
                             report("export_gaps_per_min", m_probe.gapsOverLimitPerMinute());
                             report("progress_reports", m_reports);
                             next();
                         });
        ExportRequest request{m_out,
                              ExportSeparator::Comma,
                              {},
                              QLocale(QLocale::Italian, QLocale::Italy),
                              std::nullopt};
        request.headings = {QStringLiteral("Tensione (V)"), QStringLiteral("Corrente (A)"),
                            QStringLiteral("Potenza (W)"), QStringLiteral("Energia"),
                            QStringLiteral("Data")};
        if (!resetPeakMemory())
            return fail(QStringLiteral("cannot reset the peak of the resident memory"));
        m_rssBeforeKb = statusKb("VmRSS");
        m_probe.start();
        m_clock.start();
        m_source.start(request);
    }

    QString m_out;
    int m_probeMs;
    DatabaseReader m_reader;
    ExportSource m_source;
    StallProbe m_probe;
    StepChain m_chain;
    QElapsedTimer m_clock;
    qint64 m_rssBeforeKb = 0;
    int m_lastPermille = 0;
    int m_reports = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Export of a large energy database"));
    parser.addHelpOption();
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    QStringLiteral("folder holding DbEnergy.mdb (read only)"),
                                    QStringLiteral("dir"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("file to write"),
                                 QStringLiteral("file"));
    const QCommandLineOption probe(QStringLiteral("probe-ms"),
                                   QStringLiteral("length of each stall baseline"),
                                   QStringLiteral("ms"), QStringLiteral("5000"));
    parser.addOptions({folder, out, probe});
    parser.process(app);
    if (!parser.isSet(folder) || !parser.isSet(out)) {
        std::fprintf(stderr, "--folder and --out are needed\n");
        return 2;
    }
    ExportBenchmark benchmark(parser.value(folder), parser.value(out), parser.value(probe).toInt());
    QMetaObject::invokeMethod(
        &benchmark, [&benchmark] { benchmark.start(); }, Qt::QueuedConnection);
    return app.exec();
}
