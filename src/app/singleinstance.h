#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace powerlog {

// One running program per user and login: a lock file in the login's runtime folder. The lock
// goes with the process, so a crashed run never blocks the next one.
class SingleInstance
{
public:
    // The lock file's folder: the user's runtime folder unless one is given.
    explicit SingleInstance(const QString& folder = {});
    ~SingleInstance();

    // True for the first instance; false when another process holds the lock.
    bool acquire();

    QString lockPath() const;

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_path;
};

} // namespace powerlog
