#pragma once

#include <QMutex>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

namespace powerlog {

class ReaderWorker;

// Cancels one read. Long reads look at it between rows and give up when it is set.
class ReadTicket
{
public:
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

private:
    std::atomic<bool> m_cancelled{false};
};

// Reads the energy database on a thread and a read-only connection of their own, so that
// charts and exports never wait behind a write and never hold up the window. WAL lets them
// read while the writer writes. The connection stays open from one read to the next.
class DatabaseReader : public QObject
{
    Q_OBJECT
public:
    // Runs on the reader's thread with the connection open (invalid when the file could not
    // be opened: `error` then says why). Hand results back with QMetaObject::invokeMethod.
    using Job =
        std::function<void(QSqlDatabase db, const QString& error, const ReadTicket& ticket)>;

    explicit DatabaseReader(const QString& folder, QObject* parent = nullptr);
    // Cancels what is still waiting or running and waits for the thread to end.
    ~DatabaseReader() override;

    // Jobs run one after the other, in the order they were given.
    std::shared_ptr<ReadTicket> read(Job job);

    // Keeps the reader's connection closed while it lives.
    using Hold = std::shared_ptr<void>;

    // A function for another thread (the writer's): it waits until the reader has run the
    // jobs given before and closed its connection, and returns a hold. Jobs given meanwhile
    // wait until the hold ends, then open the connection again. A compaction needs the file
    // closed by every connection until it is done, and the writer's close folds the
    // write-ahead log back into the file only as the last one. Once the reader has ended, the
    // function does nothing.
    std::function<Hold()> connectionHolder() const;

    // The database file read.
    QString path() const { return m_path; }

private:
    QString m_path;
    QThread m_thread;
    ReaderWorker* m_worker; // lives on m_thread, deleted there before the thread ends
    std::shared_ptr<std::atomic<bool>> m_closing;
    // The worker while it takes jobs, for the releaser that may outlive the reader.
    struct WorkerHandle
    {
        QMutex mutex;
        ReaderWorker* worker = nullptr;
    };
    std::shared_ptr<WorkerHandle> m_handle;
};

} // namespace powerlog
