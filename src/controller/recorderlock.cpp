#include "controller/recorderlock.h"

#include <QCoreApplication>

#include <cerrno>
#include <signal.h>

namespace powerlog {

RecorderLock::RecorderLock(const QString& databasePath)
    : m_path(lockPathFor(databasePath)), m_lock(m_path)
{
    // A recorder runs for months: only a holder that has ended makes the lock stale, never its
    // age.
    m_lock.setStaleLockTime(0);
}

RecorderLock::~RecorderLock() = default;

QString RecorderLock::lockPathFor(const QString& databasePath)
{
    return databasePath + QStringLiteral(".lock");
}

bool RecorderLock::tryTake()
{
    return m_lock.isLocked() || m_lock.tryLock(0);
}

void RecorderLock::release()
{
    if (m_lock.isLocked())
        m_lock.unlock();
}

qint64 RecorderLock::holder() const
{
    if (m_lock.isLocked())
        return QCoreApplication::applicationPid();
    qint64 pid = 0;
    QLockFile probe(m_path);
    if (!probe.getLockInfo(&pid, nullptr, nullptr))
        return 0;
    return pid;
}

bool RecorderLock::isHeldElsewhere() const
{
    if (m_lock.isLocked())
        return false;
    const qint64 pid = holder();
    if (pid <= 0)
        return false;
    // Not this lock, so another station of this process.
    if (pid == QCoreApplication::applicationPid())
        return true;
    // Signal 0 only asks whether the process is there; EPERM means it is, as another user's.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace powerlog
