// powerlog-mkdb PATH: writes the empty energy database delivered with the program.
// The file is built beside the target and renamed over it, so an interrupted or failed
// rebuild never leaves a half-written database under the real name.

#include "acquisition/energydatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <filesystem>
#include <system_error>

namespace {

int fail(const QString& text)
{
    QTextStream(stderr) << "powerlog-mkdb: " << text << Qt::endl;
    return 1;
}

const QStringList kSideSuffixes{QStringLiteral("-wal"), QStringLiteral("-shm"),
                                QStringLiteral("-journal")};

bool removeFiles(const QString& file, const QStringList& suffixes)
{
    for (const QString& suffix : suffixes) {
        QFile each(file + suffix);
        if (each.exists() && !each.remove())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: powerlog-mkdb PATH" << Qt::endl;
        return 2;
    }
    const QString target = QFileInfo(args.at(1)).absoluteFilePath();
    const QString staging = target + QStringLiteral(".tmp");

    if (!removeFiles(staging, QStringList{QString()} + kSideSuffixes))
        return fail(QStringLiteral("cannot delete %1").arg(staging));
    QString error;
    if (!powerlog::EnergyDatabase::createEmpty(staging, &error))
        return fail(error);
    // Side files of the database being replaced would otherwise be paired with the new one.
    if (!removeFiles(target, kSideSuffixes))
        return fail(QStringLiteral("cannot delete the side files of %1").arg(target));

    std::error_code code;
    std::filesystem::rename(std::filesystem::path(staging.toStdU16String()),
                            std::filesystem::path(target.toStdU16String()), code);
    if (code) {
        removeFiles(staging, QStringList{QString()} + kSideSuffixes);
        return fail(QStringLiteral("cannot rename %1 to %2: %3")
                        .arg(staging, target, QString::fromStdString(code.message())));
    }
    return 0;
}
