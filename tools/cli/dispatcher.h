#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>

namespace powerlog::cli {

// Exit codes shared by every command, so that scripts can tell the cases apart.
enum ExitCode : int {
    kExitOk = 0,
    kExitFault = 1,      // the command ran and found a fault, or its work failed
    kExitNoDatabase = 2, // DbEnergy.mdb is missing or cannot be opened
    kExitUsage = 64,     // unknown command or option, wrong arguments (as sysexits' EX_USAGE)
};

inline const QString kProgramName = QStringLiteral("powerlog-cli");

// What a command gets to work with once the command line has been parsed.
struct Invocation
{
    QString command;                  // the command's name
    QString folder;                   // the program folder, resolved like the program's own
    QString settingsFile;             // --settings, empty for the user's own settings
    QStringList arguments;            // what follows the command's name, options removed
    const QCommandLineParser& parser; // for the values of the command's own options
    QTextStream& out;
    QTextStream& err;
};

// One command: `powerlog-cli [--folder DIR] NAME [arguments]`. A command that returns
// kExitUsage has said why on stderr; the dispatcher adds the usage.
struct Command
{
    QString name;
    QString arguments; // the syntax of its arguments for the help, empty when it takes none
    QString summary;   // one line for the help
    QList<QCommandLineOption> options; // its own options, besides the shared ones
    std::function<int(const Invocation&)> run;
};

// For commands that take no arguments: kExitOk when there are none, else the complaint on
// stderr and kExitUsage.
int expectNoArguments(const Invocation& invocation);

// True when `path` is a file; else the complaint on stderr. Commands never create a database.
bool databaseFileExists(const Invocation& invocation, const QString& path);

// Parses the shared options, picks the command named on the command line and runs it. Options
// may stand before or after the command's name.
class CommandDispatcher
{
public:
    CommandDispatcher(QTextStream& out, QTextStream& err);

    void add(Command command);

    // `arguments` as QCoreApplication::arguments() gives them, program name first. Returns
    // the exit code.
    int run(const QStringList& arguments);

    // The help: syntax, commands, options and exit codes.
    QString usage() const;

private:
    const Command* find(const QString& name) const;
    QList<QCommandLineOption> sharedOptions() const;
    int usageError(const QString& reason);

    QTextStream& m_out;
    QTextStream& m_err;
    QList<Command> m_commands;
    QCommandLineOption m_folder;
    QCommandLineOption m_settings;
    QCommandLineOption m_help;
};

} // namespace powerlog::cli
