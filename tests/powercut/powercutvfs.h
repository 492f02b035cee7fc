#pragma once

// A file layer for SQLite that behaves like a disk losing its power: it wraps the real "unix"
// layer and keeps every write made since a file's last sync in memory (reads see them, as they
// see the operating system's page cache), writes them to the file at the sync, and at a chosen
// write number "cuts the power".
//
// What a cut does:
// - DropUnsynced: every write not yet synced, of every file, is lost;
// - TornLastPage: the same, except that the first part of the last write made lands on the
//   file, as a page torn while the disk wrote it.
// - SomeLand: each write not yet synced lands or is lost, by a coin toss seeded with the
//   cut's write number, as a disk that reorders its writes leaves them.
// From then on every read, write, sync, lock, open and delete fails with an I/O error, so the
// code under test no longer changes what the disk holds.
//
// Writes are kept per file (device and inode), not per handle: a file closed, renamed or linked
// under a second name keeps its unsynced writes until a sync of any handle on it, as the page
// cache does. Truncations and deletions go to the disk at once. The shared-memory index of a
// WAL goes straight to the real layer: a real power cut loses it, so the test deletes the -shm
// file before it looks at the database again. The real layer's fsync is left out: the files
// themselves never lose power, only what this layer models does.
//
// One layer for the whole process, made the default while an instance lives, so that Qt's
// QSQLITE connections (the system's libsqlite3) and the program's own sqlite3 connections use
// it. Instances must not overlap.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace powerlog::test {

class PowerCutVfs
{
public:
    enum class CutMode {
        DropUnsynced,
        TornLastPage,
        SomeLand,
    };

    // Registered as the default layer; `cutAtWrite` 0 never cuts by itself.
    explicit PowerCutVfs(qint64 cutAtWrite = 0, CutMode mode = CutMode::DropUnsynced);
    // Unregisters the layer ("unix" is the default again) and lets go of its files. Every
    // connection opened through it must be closed by then.
    ~PowerCutVfs();
    PowerCutVfs(const PowerCutVfs&) = delete;
    PowerCutVfs& operator=(const PowerCutVfs&) = delete;

    static constexpr const char* kName = "powercut";

    // Writes made through the layer so far, whether they landed or not.
    qint64 writes() const;
    // Whether the power has been cut.
    bool isCut() const;
    // Cuts the power now, for a moment the layer does not see (a rename, a link).
    void cutNow();
    // Writes every unsynced write to its file, as the operating system does in time when the
    // power stays on. For the end of a run without a cut.
    void flushAll();
    // The file of every write so far, in order, by its name without the folder ("" for
    // temporary files): write n went to entry n - 1.
    QStringList writtenFiles() const;
    // Unsynced writes the cut dropped (a torn one among them).
    qint64 droppedAtCut() const;
    // The files opened through the layer, by the names SQLite gave.
    QStringList openedFiles() const;
    // Handles open now.
    int openHandles() const;
};

} // namespace powerlog::test
