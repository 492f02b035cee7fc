#include "app/programfolder.h"

#include <QCoreApplication>
#include <QDir>

namespace powerlog {

QString resolveProgramFolder(const QString& commandLineFolder)
{
    QString folder = commandLineFolder;
    if (folder.isEmpty())
        folder = qEnvironmentVariable("POWERLOG_HOME");
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath();
    return QDir(folder).absolutePath();
}

} // namespace powerlog
