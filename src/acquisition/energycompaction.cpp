#include "acquisition/energycompaction.h"

#include "acquisition/lowpriority.h"
#include "acquisition/sqliteconnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <cstdio>
#include <unistd.h>

namespace powerlog {

namespace {

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QStringList sideFiles(const QString& file)
{
    return {file + QStringLiteral("-wal"), file + QStringLiteral("-shm"),
            file + QStringLiteral("-journal")};
}

bool removeFile(const QString& file, QString* error)
{
    QFile f(file);
    if (!f.exists() || f.remove())
        return true;
    *error = QStringLiteral("Cannot delete %1: %2").arg(nativePath(file), f.errorString());
    return false;
}

// VACUUM INTO writes a rollback-journal file; it is switched to WAL before it replaces the
// database, so that every file we leave behind has the same form.
bool vacuumInto(const QString& source, const QString& target, QString* error,
                const std::function<bool()>& keepGoing, bool* stopped)
{
    {
        SqliteConnection work(uniqueConnectionName(QStringLiteral("powerlog-energy")), source,
                              SqliteMode::ReadWrite);
        if (!work.opened(error))
            return false;
        StatementWatch watch(work.db(), [&keepGoing] { return !keepGoing || keepGoing(); });
        QSqlQuery query(work.db());
        query.prepare(QStringLiteral("VACUUM INTO ?"));
        query.addBindValue(QFileInfo(target).absoluteFilePath());
        if (!query.exec()) {
            *error = watch.interrupted() ? QStringLiteral("The compaction was interrupted.")
                                         : sqlErrorText(query.lastError());
            *stopped = watch.interrupted();
            return false;
        }
    }
    SqliteConnection copy(uniqueConnectionName(QStringLiteral("powerlog-energy")), target,
                          SqliteMode::ReadWrite);
    return copy.opened(error) &&
           execSql(copy.db(), QStringLiteral("PRAGMA journal_mode=WAL"), error);
}

} // namespace

bool replaceFile(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool removeDatabaseFiles(const QString& file, QString* error)
{
    for (const QString& each : QStringList{file} + sideFiles(file)) {
        if (!removeFile(each, error))
            return false;
    }
    return true;
}

bool compactEnergyFile(const QString& folder, const EnergyDatabase::RenameFunction& renameFile,
                       QString* error, const std::function<bool()>& keepGoing, bool* stopped)
{
    bool interrupted = false;
    if (!stopped)
        stopped = &interrupted;
    *stopped = false;
    const QDir dir(folder);
    const QString database = dir.filePath(EnergyDatabase::kFileName);
    const QString temp = dir.filePath(EnergyDatabase::kTempName);
    const QString backup = dir.filePath(EnergyDatabase::kBackupName);

    if (!QFileInfo(database).isFile()) {
        *error = QStringLiteral("File not found: %1").arg(nativePath(database));
        return false;
    }
    if (!removeDatabaseFiles(temp, error))
        return false;
    if (!vacuumInto(database, temp, error, keepGoing, stopped)) {
        QString ignored;
        removeDatabaseFiles(temp, &ignored);
        return false;
    }
    // A -wal left beside the file means another program still has it open; its frames would
    // be replayed into the compacted copy once that takes the name.
    if (QFileInfo::exists(database + QStringLiteral("-wal"))) {
        *error = QStringLiteral("%1 is in use by another program.").arg(nativePath(database));
        QString ignored;
        removeDatabaseFiles(temp, &ignored);
        return false;
    }
    if (!removeFile(backup, error))
        return false;
    // The previous file keeps its name until the compacted copy takes it over in one step, so
    // that the program ended at any moment (a crash, a kill, a power cut) leaves a database
    // under its name. The backup is a second name of the previous file.
    if (::link(QFile::encodeName(database).constData(), QFile::encodeName(backup).constData()) ==
        0) {
        if (renameFile(temp, database))
            return true;
        QString ignored;
        removeFile(backup, &ignored);
        *error = QStringLiteral("Cannot rename %1 to %2. The previous database has been restored.")
                     .arg(nativePath(temp), EnergyDatabase::kFileName);
        return false;
    }
    // A file system without hard links (FAT, some network folders): the previous file moves
    // aside first, and for that moment the name is free.
    if (!renameFile(database, backup)) {
        *error = QStringLiteral("Cannot rename %1 to %2.")
                     .arg(nativePath(database), EnergyDatabase::kBackupName);
        return false;
    }
    if (!renameFile(temp, database)) {
        // Never leave the program without its database: the previous file goes back.
        const bool restored = renameFile(backup, database);
        *error = QStringLiteral("Cannot rename %1 to %2. %3")
                     .arg(nativePath(temp), EnergyDatabase::kFileName,
                          restored ? QStringLiteral("The previous database has been restored.")
                                   : QStringLiteral("The previous database is in %1.")
                                         .arg(nativePath(backup)));
        return false;
    }
    return true;
}

} // namespace powerlog
