#pragma once

#include <QLockFile>
#include <QString>

namespace powerlog {

// One process records into an energy database at a time: the one that holds the lock file
// beside it ("DbEnergy.mdb.lock"). Taking it never waits, so the window's thread may try at
// every reading; a lock left behind by a process that has ended is taken over.
class RecorderLock
{
public:
    explicit RecorderLock(const QString& databasePath);
    ~RecorderLock();

    RecorderLock(const RecorderLock&) = delete;
    RecorderLock& operator=(const RecorderLock&) = delete;

    // True when this process holds the lock, taking it first when it is free.
    bool tryTake();
    void release();
    bool isHeld() const { return m_lock.isLocked(); }

    QString path() const { return m_path; }
    // The process that holds the lock, 0 when none or when it cannot be read.
    qint64 holder() const;
    // Another process that still runs holds the lock (a lock left by one that ended does not
    // count). Reads the lock file without taking it.
    bool isHeldElsewhere() const;

    static QString lockPathFor(const QString& databasePath);

private:
    QString m_path;
    QLockFile m_lock;
};

} // namespace powerlog
