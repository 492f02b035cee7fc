#pragma once

#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "acquisition/reading.h"

#include <QObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

namespace powerlog {

class DatabaseWorker;

// The energy database seen from the window's thread. Every write (opening, inserts, clearing,
// compaction) runs in order on a thread of its own that owns the write connection, so the
// window never waits on the disk; results come back as signals and callbacks on the thread
// that made the writer, in the order the work was asked for.
//
// Destroying the writer finishes every job already asked for: a reading handed to insert()
// before the program ends is on disk when it exits.
class DatabaseWriter : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const DatabaseResult& result)>;

    explicit DatabaseWriter(const QString& folder, QObject* parent = nullptr);
    ~DatabaseWriter() override;

    QString path() const { return m_path; }

    // Opens the file; a file that lacks the summary tables gets them built first, in chunks,
    // with progress() on the way, and a compaction stopped by the program's end is done again
    // (EnergyDatabase::compactionPending()). The result comes with opened().
    void open();
    // Records a reading. Failures come with insertFailed(); while no usable file is there the
    // reading is kept in memory (the newest kMaxPending) and written once the file is back.
    void insert(const Reading& reading);
    void clearAllRows(Done done);
    // Keeps what an energy meter reported of its past (EnergyDatabase::storeMeterHistory).
    void storeMeterHistory(const MeterHistory& history, Done done);
    void compact(Done done);
    // Closes the connection; the next job opens it again.
    void close();
    // `done` runs, on this thread, once every job asked for before has run.
    void flush(std::function<void()> done);

    // Runs on the writer's thread around a compaction and the connection's close, so that
    // this process's readers let go of the file meanwhile (DatabaseReader::connectionHolder()).
    // Call before any job.
    void setHoldReaders(std::function<DatabaseReader::Hold()> hold);

    // Replaces the renames of a compaction (tests make one fail). Call before any job.
    void setRenameFunction(EnergyDatabase::RenameFunction rename);

    // The newest readings kept in memory while the file is missing or replaced.
    static constexpr int kMaxPending = 10000;

signals:
    void opened(const powerlog::DatabaseResult& result);
    // 0..100 while the summary tables of a file are being built or the file is compacted.
    void progress(int percent);
    // NoConnection: no usable file; the reading is kept and written later. Failed: the row was
    // refused.
    void insertFailed(const powerlog::DatabaseResult& result);
    // A reading is in the file.
    void inserted();
    // A compaction or a rebuild runs (true) or ended (false).
    void busyChanged(bool busy);

private:
    template <typename Job> void post(Job job);
    void watchCompaction(bool running);
    void endRebuild();

    QString m_path;
    QThread m_thread;
    DatabaseWorker* m_worker; // lives on m_thread, deleted there before the thread ends
    std::shared_ptr<std::atomic<bool>> m_stopping;
    QTimer* m_compactionWatch;
    bool m_rebuilding = false;
};

} // namespace powerlog
