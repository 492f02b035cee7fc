#include "powercutvfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace powerlog::test {

namespace {

// One write not yet synced.
struct PendingWrite
{
    sqlite3_int64 offset = 0;
    std::vector<char> bytes;
    quint64 order = 0; // across every file, to find the last write at a cut

    sqlite3_int64 end() const { return offset + sqlite3_int64(bytes.size()); }
};

// One file on the disk, whatever handles and names it has: an descriptor of the layer's own
// (it keeps the inode, so its number is never reused while the layer lives) and the writes
// not yet synced, in the order they were made.
struct Inode
{
    int fd = -1;
    std::vector<PendingWrite> pending;

    sqlite3_int64 pendingEnd() const
    {
        sqlite3_int64 end = 0;
        for (const PendingWrite& write : pending)
            end = std::max(end, write.end());
        return end;
    }

    bool writeOut(const PendingWrite& write, std::size_t length) const
    {
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n = ::pwrite(fd, write.bytes.data() + done, length - done,
                                       off_t(write.offset + sqlite3_int64(done)));
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }

    bool flush()
    {
        bool ok = true;
        for (const PendingWrite& write : pending)
            ok = writeOut(write, write.bytes.size()) && ok;
        pending.clear();
        return ok;
    }

    // The file cut to `size`: pending writes beyond it go, those across it are shortened.
    void truncate(sqlite3_int64 size)
    {
        std::erase_if(pending, [size](const PendingWrite& write) { return write.offset >= size; });
        for (PendingWrite& write : pending) {
            if (write.end() > size)
                write.bytes.resize(std::size_t(size - write.offset));
        }
    }
};

using InodeKey = std::pair<dev_t, ino_t>;

struct State
{
    std::mutex mutex;
    sqlite3_vfs* real = nullptr;
    std::map<InodeKey, std::shared_ptr<Inode>> inodes;
    QStringList opened;
    QStringList written; // the file of every write, in order
    qint64 writes = 0;
    qint64 dropped = 0;
    qint64 cutAt = 0;
    PowerCutVfs::CutMode mode = PowerCutVfs::CutMode::DropUnsynced;
    bool cut = false;
    quint64 order = 0;
    int handles = 0;
};

State& state()
{
    static State s;
    return s;
}

// Called with the mutex held.
void cutPower(State& s)
{
    if (s.cut)
        return;
    s.cut = true;
    if (s.mode == PowerCutVfs::CutMode::SomeLand) {
        // Each write a coin toss, in the order they were made, so that the same cut point
        // makes the same choice whatever the files' inode numbers.
        std::vector<std::pair<Inode*, const PendingWrite*>> all;
        for (auto& [key, inode] : s.inodes) {
            for (const PendingWrite& write : inode->pending)
                all.emplace_back(inode.get(), &write);
        }
        std::sort(all.begin(), all.end(),
                  [](const auto& a, const auto& b) { return a.second->order < b.second->order; });
        std::mt19937 coin(quint32(s.writes));
        for (const auto& [inode, write] : all) {
            if (coin() & 1)
                inode->writeOut(*write, write->bytes.size());
        }
    } else if (s.mode == PowerCutVfs::CutMode::TornLastPage) {
        Inode* last = nullptr;
        const PendingWrite* lastWrite = nullptr;
        for (auto& [key, inode] : s.inodes) {
            for (const PendingWrite& write : inode->pending) {
                if (!lastWrite || write.order > lastWrite->order) {
                    last = inode.get();
                    lastWrite = &write;
                }
            }
        }
        if (lastWrite) {
            // The first half lands, in whole 512-byte sectors when the write has some.
            std::size_t torn = lastWrite->bytes.size() / 2;
            if (torn >= 512)
                torn -= torn % 512;
            last->writeOut(*lastWrite, torn);
        }
    }
    for (auto& [key, inode] : s.inodes) {
        s.dropped += qint64(inode->pending.size());
        inode->pending.clear();
    }
}

// A handle: the layer's part, then the real layer's file in the space SQLite gives.
struct File
{
    sqlite3_file base;
    sqlite3_file* real;
    std::shared_ptr<Inode> inode; // empty for files without a name (temporary ones)
    QString name;                 // the file's name without its folder
};

File* fileOf(sqlite3_file* file)
{
    return reinterpret_cast<File*>(file);
}

bool cutHappened()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.cut;
}

int fileClose(sqlite3_file* handle)
{
    File* file = fileOf(handle);
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        --s.handles;
    }
    const int rc = file->real->pMethods->xClose(file->real);
    file->~File();
    return rc;
}

int fileRead(sqlite3_file* handle, void* buffer, int amount, sqlite3_int64 offset)
{
    File* file = fileOf(handle);
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.cut)
        return SQLITE_IOERR_READ;
    int rc = file->real->pMethods->xRead(file->real, buffer, amount, offset);
    if (!file->inode || (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ))
        return rc;
    // The real layer has filled what lies past the file's end with zeros.
    char* bytes = static_cast<char*>(buffer);
    const sqlite3_int64 end = offset + amount;
    for (const PendingWrite& write : file->inode->pending) {
        const sqlite3_int64 from = std::max(offset, write.offset);
        const sqlite3_int64 to = std::min(end, write.end());
        if (from < to)
            std::memcpy(bytes + (from - offset), write.bytes.data() + (from - write.offset),
                        std::size_t(to - from));
    }
    sqlite3_int64 realSize = 0;
    file->real->pMethods->xFileSize(file->real, &realSize);
    const sqlite3_int64 size = std::max(realSize, file->inode->pendingEnd());
    return end <= size ? SQLITE_OK : SQLITE_IOERR_SHORT_READ;
}

int fileWrite(sqlite3_file* handle, const void* buffer, int amount, sqlite3_int64 offset)
{
    File* file = fileOf(handle);
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.cut)
        return SQLITE_IOERR_WRITE;
    ++s.writes;
    s.written << file->name;
    if (!file->inode) {
        if (s.cutAt > 0 && s.writes >= s.cutAt) {
            cutPower(s);
            return SQLITE_IOERR_WRITE;
        }
        return file->real->pMethods->xWrite(file->real, buffer, amount, offset);
    }
    const char* bytes = static_cast<const char*>(buffer);
    std::vector<PendingWrite>& pending = file->inode->pending;
    // A page written again over the same range replaces its earlier unsynced write.
    std::erase_if(pending, [offset, amount](const PendingWrite& write) {
        return write.offset >= offset && write.end() <= offset + amount;
    });
    pending.push_back({offset, std::vector<char>(bytes, bytes + amount), ++s.order});
    if (s.cutAt > 0 && s.writes >= s.cutAt) {
        cutPower(s);
        return SQLITE_IOERR_WRITE;
    }
    return SQLITE_OK;
}

int fileTruncate(sqlite3_file* handle, sqlite3_int64 size)
{
    File* file = fileOf(handle);
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.cut)
        return SQLITE_IOERR_TRUNCATE;
    if (file->inode)
        file->inode->truncate(size);
    return file->real->pMethods->xTruncate(file->real, size);
}

int fileSync(sqlite3_file* handle, int /*flags*/)
{
    File* file = fileOf(handle);
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.cut)
        return SQLITE_IOERR_FSYNC;
    if (file->inode && !file->inode->flush())
        return SQLITE_IOERR_FSYNC;
    return SQLITE_OK;
}

int fileSize(sqlite3_file* handle, sqlite3_int64* size)
{
    File* file = fileOf(handle);
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.cut)
        return SQLITE_IOERR_FSTAT;
    const int rc = file->real->pMethods->xFileSize(file->real, size);
    if (rc == SQLITE_OK && file->inode)
        *size = std::max(*size, file->inode->pendingEnd());
    return rc;
}

int fileLock(sqlite3_file* handle, int level)
{
    if (cutHappened())
        return SQLITE_IOERR_LOCK;
    File* file = fileOf(handle);
    return file->real->pMethods->xLock(file->real, level);
}

// Locks are let go after a cut too, so that the handles close cleanly.
int fileUnlock(sqlite3_file* handle, int level)
{
    File* file = fileOf(handle);
    return file->real->pMethods->xUnlock(file->real, level);
}

int fileCheckReservedLock(sqlite3_file* handle, int* reserved)
{
    if (cutHappened())
        return SQLITE_IOERR_CHECKRESERVEDLOCK;
    File* file = fileOf(handle);
    return file->real->pMethods->xCheckReservedLock(file->real, reserved);
}

int fileControl(sqlite3_file* handle, int op, void* argument)
{
    // A size hint makes the real layer grow the file.
    if (op == SQLITE_FCNTL_SIZE_HINT && cutHappened())
        return SQLITE_IOERR_TRUNCATE;
    File* file = fileOf(handle);
    return file->real->pMethods->xFileControl(file->real, op, argument);
}

int fileSectorSize(sqlite3_file* handle)
{
    File* file = fileOf(handle);
    return file->real->pMethods->xSectorSize(file->real);
}

int fileDeviceCharacteristics(sqlite3_file* handle)
{
    File* file = fileOf(handle);
    return file->real->pMethods->xDeviceCharacteristics(file->real);
}

int fileShmMap(sqlite3_file* handle, int region, int size, int extend, void volatile** memory)
{
    if (cutHappened())
        return SQLITE_IOERR_SHMMAP;
    File* file = fileOf(handle);
    return file->real->pMethods->xShmMap(file->real, region, size, extend, memory);
}

int fileShmLock(sqlite3_file* handle, int offset, int n, int flags)
{
    if ((flags & SQLITE_SHM_LOCK) && cutHappened())
        return SQLITE_IOERR_SHMLOCK;
    File* file = fileOf(handle);
    return file->real->pMethods->xShmLock(file->real, offset, n, flags);
}

void fileShmBarrier(sqlite3_file* handle)
{
    File* file = fileOf(handle);
    file->real->pMethods->xShmBarrier(file->real);
}

int fileShmUnmap(sqlite3_file* handle, int deleteFlag)
{
    File* file = fileOf(handle);
    return file->real->pMethods->xShmUnmap(file->real, deleteFlag);
}

// Memory-mapped reads would bypass the pending writes: none are offered, so SQLite reads.
int fileFetch(sqlite3_file* /*handle*/, sqlite3_int64 /*offset*/, int /*amount*/, void** page)
{
    *page = nullptr;
    return SQLITE_OK;
}

int fileUnfetch(sqlite3_file* /*handle*/, sqlite3_int64 /*offset*/, void* /*page*/)
{
    return SQLITE_OK;
}

const sqlite3_io_methods kFileMethods = {
    3,
    fileClose,
    fileRead,
    fileWrite,
    fileTruncate,
    fileSync,
    fileSize,
    fileLock,
    fileUnlock,
    fileCheckReservedLock,
    fileControl,
    fileSectorSize,
    fileDeviceCharacteristics,
    fileShmMap,
    fileShmLock,
    fileShmBarrier,
    fileShmUnmap,
    fileFetch,
    fileUnfetch,
};

int vfsOpen(sqlite3_vfs* /*vfs*/, const char* name, sqlite3_file* handle, int flags, int* outFlags)
{
    State& s = state();
    handle->pMethods = nullptr;
    if (cutHappened())
        return SQLITE_IOERR;
    File* file = new (handle) File{};
    file->real = reinterpret_cast<sqlite3_file*>(file + 1);
    const int rc = s.real->xOpen(s.real, name, file->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (file->real->pMethods)
            file->real->pMethods->xClose(file->real);
        file->~File();
        handle->pMethods = nullptr;
        return rc;
    }
    std::lock_guard lock(s.mutex);
    ++s.handles;
    struct stat info = {};
    if (name && ::stat(name, &info) == 0) {
        s.opened << QString::fromUtf8(name);
        file->name = s.opened.last().section(QLatin1Char('/'), -1);
        std::shared_ptr<Inode>& inode = s.inodes[{info.st_dev, info.st_ino}];
        if (!inode) {
            inode = std::make_shared<Inode>();
            inode->fd = ::open(name, O_RDWR | O_CLOEXEC);
        }
        if (inode->fd >= 0)
            file->inode = inode;
    }
    handle->pMethods = &kFileMethods;
    return SQLITE_OK;
}

int vfsDelete(sqlite3_vfs* /*vfs*/, const char* name, int syncDir)
{
    if (cutHappened())
        return SQLITE_IOERR_DELETE;
    sqlite3_vfs* real = state().real;
    return real->xDelete(real, name, syncDir);
}

int vfsAccess(sqlite3_vfs* /*vfs*/, const char* name, int flags, int* result)
{
    if (cutHappened())
        return SQLITE_IOERR_ACCESS;
    sqlite3_vfs* real = state().real;
    return real->xAccess(real, name, flags, result);
}

int vfsFullPathname(sqlite3_vfs* /*vfs*/, const char* name, int size, char* out)
{
    sqlite3_vfs* real = state().real;
    return real->xFullPathname(real, name, size, out);
}

void* vfsDlOpen(sqlite3_vfs* /*vfs*/, const char* name)
{
    sqlite3_vfs* real = state().real;
    return real->xDlOpen(real, name);
}

void vfsDlError(sqlite3_vfs* /*vfs*/, int size, char* message)
{
    sqlite3_vfs* real = state().real;
    real->xDlError(real, size, message);
}

void (*vfsDlSym(sqlite3_vfs* /*vfs*/, void* library, const char* symbol))(void)
{
    sqlite3_vfs* real = state().real;
    return real->xDlSym(real, library, symbol);
}

void vfsDlClose(sqlite3_vfs* /*vfs*/, void* library)
{
    sqlite3_vfs* real = state().real;
    real->xDlClose(real, library);
}

int vfsRandomness(sqlite3_vfs* /*vfs*/, int size, char* out)
{
    sqlite3_vfs* real = state().real;
    return real->xRandomness(real, size, out);
}

int vfsSleep(sqlite3_vfs* /*vfs*/, int microseconds)
{
    sqlite3_vfs* real = state().real;
    return real->xSleep(real, microseconds);
}

int vfsCurrentTime(sqlite3_vfs* /*vfs*/, double* now)
{
    sqlite3_vfs* real = state().real;
    return real->xCurrentTime(real, now);
}

int vfsGetLastError(sqlite3_vfs* /*vfs*/, int size, char* out)
{
    sqlite3_vfs* real = state().real;
    return real->xGetLastError(real, size, out);
}

int vfsCurrentTimeInt64(sqlite3_vfs* /*vfs*/, sqlite3_int64* now)
{
    sqlite3_vfs* real = state().real;
    return real->xCurrentTimeInt64(real, now);
}

sqlite3_vfs& layer()
{
    static sqlite3_vfs vfs = [] {
        sqlite3_vfs* real = sqlite3_vfs_find("unix");
        state().real = real;
        sqlite3_vfs made = {};
        made.iVersion = 2;
        made.szOsFile = int(sizeof(File)) + real->szOsFile;
        made.mxPathname = real->mxPathname;
        made.zName = PowerCutVfs::kName;
        made.xOpen = vfsOpen;
        made.xDelete = vfsDelete;
        made.xAccess = vfsAccess;
        made.xFullPathname = vfsFullPathname;
        made.xDlOpen = vfsDlOpen;
        made.xDlError = vfsDlError;
        made.xDlSym = vfsDlSym;
        made.xDlClose = vfsDlClose;
        made.xRandomness = vfsRandomness;
        made.xSleep = vfsSleep;
        made.xCurrentTime = vfsCurrentTime;
        made.xGetLastError = vfsGetLastError;
        made.xCurrentTimeInt64 = vfsCurrentTimeInt64;
        return made;
    }();
    return vfs;
}

} // namespace

PowerCutVfs::PowerCutVfs(qint64 cutAtWrite, CutMode mode)
{
    sqlite3_vfs& vfs = layer();
    State& s = state();
    {
        std::lock_guard lock(s.mutex);
        s.writes = 0;
        s.cutAt = cutAtWrite;
        s.mode = mode;
        s.cut = false;
        s.order = 0;
        s.opened.clear();
        s.written.clear();
        s.dropped = 0;
    }
    sqlite3_vfs_register(&vfs, 1);
}

PowerCutVfs::~PowerCutVfs()
{
    sqlite3_vfs_unregister(&layer());
    sqlite3_vfs_register(state().real, 1);
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (auto& [key, inode] : s.inodes) {
        if (inode->fd >= 0)
            ::close(inode->fd);
        inode->fd = -1;
        inode->pending.clear();
    }
    s.inodes.clear();
}

qint64 PowerCutVfs::writes() const
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.writes;
}

bool PowerCutVfs::isCut() const
{
    return cutHappened();
}

void PowerCutVfs::cutNow()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    cutPower(s);
}

void PowerCutVfs::flushAll()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (auto& [key, inode] : s.inodes)
        inode->flush();
}

QStringList PowerCutVfs::writtenFiles() const
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.written;
}

qint64 PowerCutVfs::droppedAtCut() const
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.dropped;
}

QStringList PowerCutVfs::openedFiles() const
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.opened;
}

int PowerCutVfs::openHandles() const
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.handles;
}

} // namespace powerlog::test
