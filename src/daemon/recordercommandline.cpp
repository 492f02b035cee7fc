#include "daemon/recordercommandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace powerlog {

RecorderCommandLine parseRecorderCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Background recorder of Powerlog: reads the gateway in automatic mode and records every\n"
        "reading into DbEnergy.mdb, with no window and no display. It uses the same settings\n"
        "and program folder as the window program; only one program records into a database\n"
        "at a time.\n\n"
        "Exit codes: 0 stopped by SIGTERM, SIGINT or SIGHUP with every reading written (or\n"
        "--check found nothing wrong); 1 --check found a fault; 2 the database is missing or\n"
        "cannot be opened; 3 the gateway refused the password or none is set; 4 the database\n"
        "refused a reading; 64 wrong command line."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays the version and the data folder."));
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Checks the settings and the database, prints what it found and exits."));
    const QCommandLineOption folder(
        QStringLiteral("folder"),
        QStringLiteral("Program folder holding load.ini and DbEnergy.mdb (default: as the window "
                       "program: POWERLOG_HOME, the executable's folder, or the user's data "
                       "folder for an installed copy)."),
        QStringLiteral("dir"));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Settings file to use instead of the user's own."), QStringLiteral("file"));
    parser.addOptions({help, version, check, folder, settings});

    RecorderCommandLine line;
    line.helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        line.action = RecorderCommandLine::Action::UsageError;
        line.error = parser.errorText();
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.action = RecorderCommandLine::Action::UsageError;
        line.error = QStringLiteral("unexpected argument: %1")
                         .arg(parser.positionalArguments().join(QLatin1Char(' ')));
        return line;
    }
    line.folder = parser.value(folder);
    line.settingsFile = parser.value(settings);
    if (parser.isSet(help))
        line.action = RecorderCommandLine::Action::Help;
    else if (parser.isSet(version))
        line.action = RecorderCommandLine::Action::Version;
    else if (parser.isSet(check))
        line.action = RecorderCommandLine::Action::Check;
    return line;
}

} // namespace powerlog
