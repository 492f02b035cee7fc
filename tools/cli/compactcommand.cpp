#include "compactcommand.h"

#include "acquisition/energydatabase.h"

#include <QFileInfo>

namespace powerlog::cli {

namespace {

// The database's bytes on disk, with the write-ahead log a crash may have left beside it.
qint64 sizeOnDisk(const QString& file)
{
    const QFileInfo wal(file + QStringLiteral("-wal"));
    return QFileInfo(file).size() + (wal.exists() ? wal.size() : 0);
}

int runCompact(const Invocation& invocation)
{
    if (const int code = expectNoArguments(invocation); code != kExitOk)
        return code;

    EnergyDatabase database(invocation.folder);
    const QString file = database.path();
    if (!databaseFileExists(invocation, file))
        return kExitNoDatabase;
    const qint64 before = sizeOnDisk(file);
    const DatabaseResult result = database.compact();
    if (!result.ok()) {
        invocation.err << kProgramName << ": compaction failed: " << result.error << Qt::endl;
        return kExitFault;
    }
    invocation.out << "compacted: " << before << " -> " << sizeOnDisk(file) << " bytes\n";
    return kExitOk;
}

} // namespace

Command compactCommand()
{
    return {QStringLiteral("compact"),
            {},
            QStringLiteral("compact the file; the previous one is kept as %1")
                .arg(EnergyDatabase::kBackupName),
            {},
            runCompact};
}

} // namespace powerlog::cli
