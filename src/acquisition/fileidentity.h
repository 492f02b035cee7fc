#pragma once

#include <QFile>
#include <QString>
#include <sys/stat.h>

namespace powerlog {

// Which file a path names: device and inode. A file deleted, or replaced by another under the
// same name, no longer matches what was opened. While a connection holds the file open its
// inode cannot be reused, so an equal identity is the same file.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool exists = false;

    static FileIdentity of(const QString& path)
    {
        struct stat info = {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return {};
        return {info.st_dev, info.st_ino, true};
    }
    bool operator==(const FileIdentity&) const = default;
};

} // namespace powerlog
