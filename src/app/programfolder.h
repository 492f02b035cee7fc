#pragma once

#include <QString>

namespace powerlog {

inline const QString kLoadIniName = QStringLiteral("load.ini");
inline const QString kHelpFileName = QStringLiteral("Powerlog.pdf");
inline const QString kDatabaseFileName = QStringLiteral("DbEnergy.mdb");

// Where the program folder came from.
enum class FolderSource {
    CommandLine,      // --folder DIR
    Environment,      // POWERLOG_HOME
    ExecutableFolder, // portable: beside the executable
    UserData          // installed: the user's own data folder
};

// Everything the choice of the program folder depends on, gathered once, so that the choice
// itself is a plain function tests can drive with any combination.
struct FolderCandidates
{
    QString commandLine;      // --folder, empty when not given
    QString environment;      // POWERLOG_HOME, empty when not set
    QString executableFolder; // the executable's own folder
    bool executableFolderWritable = true;
    QString installedDataFolder; // <prefix>/share/powerlog, empty when there is none
    QString userDataFolder;      // ~/.local/share/Powerlog
};

struct ProgramFolder
{
    QString path; // absolute
    FolderSource source = FolderSource::ExecutableFolder;
};

// The program's folder: where "load.ini", "DbEnergy.mdb" and the rest live. --folder wins,
// then POWERLOG_HOME. Otherwise the executable's folder when the program runs portable (a build
// folder, an unpacked archive), and the user's data folder when it runs installed: when the
// executable's folder cannot be written, or when it holds no database of its own while the
// installed data folder holds the empty one (an install run by root, who may write anywhere).
ProgramFolder chooseProgramFolder(const FolderCandidates& candidates);

// The installed data folder for an executable in <prefix>/bin: <prefix>/share/powerlog, when it
// exists; empty otherwise.
QString installedDataFolder(const QString& executableFolder);

// The candidates of this run: the environment, the executable's folder and the user's data
// folder as the system places them.
FolderCandidates systemFolderCandidates(const QString& commandLineFolder);

// chooseProgramFolder(systemFolderCandidates(commandLineFolder)).path
QString resolveProgramFolder(const QString& commandLineFolder);

// Prepares the user's data folder on a start: creates it and copies in the empty database and
// the sample load.ini from the installed data folder, each only when the user has none yet, so
// a second start leaves the user's own files alone. False, with the reason, when the folder or
// the database cannot be made.
bool seedUserDataFolder(const QString& folder, const QString& installedDataFolder, QString* error);

// Readies the chosen folder of a run of a program in `executableFolder`: the user's data folder
// is seeded (seedUserDataFolder), or given an empty database when there is nothing to copy;
// other folders are taken as they are. False, with the reason, when it cannot be made ready.
bool prepareProgramFolder(const ProgramFolder& chosen, const QString& executableFolder,
                          QString* error);

// Where the folder came from, for --version: "--folder", "POWERLOG_HOME", "beside the program",
// "the user's data folder".
QString folderSourceText(FolderSource source);

} // namespace powerlog
