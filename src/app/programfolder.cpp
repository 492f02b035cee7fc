#include "app/programfolder.h"

#include "acquisition/energydatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace powerlog {

namespace {

bool holdsDatabase(const QString& folder)
{
    return !folder.isEmpty() && QFileInfo(QDir(folder).filePath(kDatabaseFileName)).isFile();
}

} // namespace

ProgramFolder chooseProgramFolder(const FolderCandidates& candidates)
{
    if (!candidates.commandLine.isEmpty())
        return {QDir(candidates.commandLine).absolutePath(), FolderSource::CommandLine};
    if (!candidates.environment.isEmpty())
        return {QDir(candidates.environment).absolutePath(), FolderSource::Environment};
    const bool installed = !holdsDatabase(candidates.executableFolder) &&
                           holdsDatabase(candidates.installedDataFolder);
    if (candidates.executableFolderWritable && !installed)
        return {QDir(candidates.executableFolder).absolutePath(), FolderSource::ExecutableFolder};
    return {QDir(candidates.userDataFolder).absolutePath(), FolderSource::UserData};
}

QString installedDataFolder(const QString& executableFolder)
{
    const QDir share(QDir(executableFolder).filePath(QStringLiteral("../share/powerlog")));
    return share.exists() ? share.absolutePath() : QString();
}

FolderCandidates systemFolderCandidates(const QString& commandLineFolder)
{
    FolderCandidates candidates;
    candidates.commandLine = commandLineFolder;
    candidates.environment = qEnvironmentVariable("POWERLOG_HOME");
    candidates.executableFolder = QCoreApplication::applicationDirPath();
    candidates.executableFolderWritable = QFileInfo(candidates.executableFolder).isWritable();
    candidates.installedDataFolder = installedDataFolder(candidates.executableFolder);
    // Named here rather than taken from the application's name, so that the program and
    // powerlog-cli find the same folder.
    candidates.userDataFolder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
            .filePath(QStringLiteral("Powerlog"));
    return candidates;
}

QString resolveProgramFolder(const QString& commandLineFolder)
{
    return chooseProgramFolder(systemFolderCandidates(commandLineFolder)).path;
}

bool seedUserDataFolder(const QString& folder, const QString& installedDataFolder, QString* error)
{
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("the folder %1 cannot be created").arg(folder);
        return false;
    }
    for (const QString& name : {kDatabaseFileName, kLoadIniName}) {
        const QString target = QDir(folder).filePath(name);
        const QString source = QDir(installedDataFolder).filePath(name);
        if (QFileInfo::exists(target) || installedDataFolder.isEmpty() ||
            !QFileInfo::exists(source))
            continue;
        QFile::copy(source, target);
        // The installed copy is read-only; the user's own must be writable.
        QFile::setPermissions(target,
                              QFile::permissions(target) | QFile::WriteOwner | QFile::ReadOwner);
    }
    if (!holdsDatabase(folder)) {
        if (error)
            *error = QStringLiteral("%1 holds no %2 and none could be copied from %3")
                         .arg(folder, kDatabaseFileName, installedDataFolder);
        return false;
    }
    return true;
}

bool prepareProgramFolder(const ProgramFolder& chosen, const QString& executableFolder,
                          QString* error)
{
    if (chosen.source != FolderSource::UserData)
        return true;
    const QString& folder = chosen.path;
    return seedUserDataFolder(folder, installedDataFolder(executableFolder), error) ||
           EnergyDatabase::createEmpty(QDir(folder).filePath(EnergyDatabase::kFileName), error);
}

QString folderSourceText(FolderSource source)
{
    switch (source) {
    case FolderSource::CommandLine:
        return QStringLiteral("--folder");
    case FolderSource::Environment:
        return QStringLiteral("POWERLOG_HOME");
    case FolderSource::ExecutableFolder:
        return QStringLiteral("beside the program");
    case FolderSource::UserData:
        return QStringLiteral("the user's data folder");
    }
    return {};
}

} // namespace powerlog
