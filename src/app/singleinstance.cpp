#include "app/singleinstance.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace powerlog {

namespace {
QString defaultFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}
} // namespace

SingleInstance::SingleInstance(const QString& folder)
    : m_path(QDir(folder.isEmpty() ? defaultFolder() : folder)
                 .filePath(QStringLiteral("powerlog.lock")))
{
    m_lock = std::make_unique<QLockFile>(m_path);
    m_lock->setStaleLockTime(0); // only a dead owner makes the lock stale
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    return m_lock->isLocked() || m_lock->tryLock(0);
}

QString SingleInstance::lockPath() const
{
    return m_path;
}

} // namespace powerlog
