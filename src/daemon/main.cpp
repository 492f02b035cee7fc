// powerlogd: the background recorder. The window program's station without any window: it
// reads the gateway in automatic mode and records every reading until a signal ends it.

#include "acquisition/energydatabase.h"
#include "app/clock.h"
#include "app/programfolder.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "app/terminationsignals.h"
#include "app/version.h"
#include "controller/station.h"
#include "daemon/recordercheck.h"
#include "daemon/recordercommandline.h"
#include "daemon/recorderlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <memory>

using namespace powerlog;

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("powerlogd"));
    QCoreApplication::setApplicationVersion(versionText());
    QTextStream out(stdout);
    QTextStream err(stderr);

    const RecorderCommandLine line = parseRecorderCommandLine(QCoreApplication::arguments());
    switch (line.action) {
    case RecorderCommandLine::Action::UsageError:
        err << "powerlogd: " << line.error << "\n\n" << line.helpText << Qt::flush;
        return kRecorderUsage;
    case RecorderCommandLine::Action::Help:
        out << line.helpText << Qt::flush;
        return kRecorderOk;
    case RecorderCommandLine::Action::Version:
    case RecorderCommandLine::Action::Check:
    case RecorderCommandLine::Action::Record:
        break;
    }

    const ProgramFolder chosen = chooseProgramFolder(systemFolderCandidates(line.folder));
    if (line.action == RecorderCommandLine::Action::Version) {
        out << "powerlogd " << versionText()
            << "\nData folder: " << QDir::toNativeSeparators(chosen.path) << " ("
            << folderSourceText(chosen.source) << ")\n"
            << Qt::flush;
        return kRecorderOk;
    }
    if (QString error;
        !prepareProgramFolder(chosen, QCoreApplication::applicationDirPath(), &error)) {
        err << "powerlogd: the data folder " << QDir::toNativeSeparators(chosen.path)
            << " cannot be prepared: " << error << Qt::endl;
        return kRecorderNoDatabase;
    }
    const auto store = line.settingsFile.isEmpty()
                           ? std::make_unique<SettingsStore>()
                           : std::make_unique<SettingsStore>(line.settingsFile);
    if (line.action == RecorderCommandLine::Action::Check)
        return runRecorderCheck(*store, chosen.path, out, err);

    const QString databasePath = QDir(chosen.path).filePath(EnergyDatabase::kFileName);
    if (!QFileInfo(databasePath).isFile()) {
        err << "powerlogd: file not found: " << QDir::toNativeSeparators(databasePath) << Qt::endl;
        return kRecorderNoDatabase;
    }

    Settings settings(*store);
    SystemClock clock;
    StationOptions options;
    options.programFolder = chosen.path;
    // Always automatic mode with recording on, whatever the window program starts with.
    options.overrides.startAutomatic = true;
    options.overrides.startRecording = true;
    int exitCode = kRecorderOk;
    {
        Station station(settings, clock, options);
        RecorderLog log(station, [&err](const QString& text) { err << text << Qt::endl; });
        const auto stopWith = [&station, &exitCode](int code) {
            if (exitCode == kRecorderOk)
                exitCode = code;
            station.shutdown();
        };

        // A request to end stops the sessions, then writes every reading queued before.
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::received, &station,
                         [&station, &log](int signal) {
                             if (station.isClosing())
                                 return;
                             log.stopping(signal);
                             station.shutdown();
                         });
        // What no retry can mend ends the run, so that the service manager shows it.
        QObject::connect(&station, &Station::notice, &station, [&stopWith](Notice notice) {
            if (notice == Notice::PasswordRefused || notice == Notice::PasswordMissing)
                stopWith(kRecorderPasswordRefused);
        });
        QObject::connect(&station.database(), &DatabaseWriter::opened, &station,
                         [&stopWith](const DatabaseResult& result) {
                             if (!result.ok())
                                 stopWith(kRecorderNoDatabase);
                         });
        QObject::connect(&station, &Station::databaseProblem, &station,
                         [&stopWith](const DatabaseResult& result) {
                             if (result.kind == DatabaseResult::Kind::Failed)
                                 stopWith(kRecorderRecordFailed);
                         });
        QObject::connect(&station, &Station::shutDown, &application, &QCoreApplication::quit,
                         Qt::QueuedConnection);

        station.start();
        log.started();
        QCoreApplication::exec();
        // The station goes here: its writer finishes every queued reading first.
    }
    // Said once the writer has finished, which the station's log no longer outlives.
    err << "stopped: every reading written" << Qt::endl;
    return exitCode;
}
