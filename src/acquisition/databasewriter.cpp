#include "acquisition/databasewriter.h"

#include "acquisition/fileidentity.h"
#include "acquisition/sqliteconnection.h"
#include "acquisition/workerthread.h"

#include <QDir>
#include <QFileInfo>
#include <deque>
#include <utility>
#include <vector>

namespace powerlog {

// Owns the write connection; every member runs on the writer's thread.
class DatabaseWorker : public QObject
{
public:
    using Report = std::function<void(int percent)>;

    DatabaseWorker(const QString& folder, std::shared_ptr<std::atomic<bool>> stopping,
                   Report report)
        : m_database(folder), m_stopping(std::move(stopping)), m_report(std::move(report))
    {
    }

    EnergyDatabase& database() { return m_database; }

    void setHoldReaders(std::function<DatabaseReader::Hold()> hold)
    {
        m_holdReaders = std::move(hold);
    }

    // This process's readers let go of the file until the compaction is done: it needs the
    // file closed by every connection.
    DatabaseResult compact()
    {
        const DatabaseReader::Hold hold = holdReaders();
        return m_database.compact([stopping = m_stopping] { return !stopping->load(); });
    }

    // Closed after the readers', this connection is the last one and folds the write-ahead log
    // back into the file.
    void close()
    {
        const DatabaseReader::Hold hold = holdReaders();
        m_database.close();
    }

    // Opens the file, or checks that the open connection still writes into the file the path
    // names. A file deleted or replaced meanwhile is let go, and so are its WAL and shared-
    // memory files: SQLite leaves them behind when its file was unlinked, and a file put back
    // under the name would have that WAL replayed into it.
    DatabaseResult ensureUsable()
    {
        if (m_database.isOpen()) {
            if (FileIdentity::of(m_database.path()) == m_identity)
                return {};
            m_database.close();
            for (const auto& [side, identity] : m_sideFiles) {
                if (FileIdentity::of(side) == identity)
                    QFile::remove(side);
            }
        }
        // Asked every few milliseconds while a statement runs: the window hears of each
        // percentage once.
        int reported = -1;
        const DatabaseResult result = m_database.open([this, &reported](int percent) {
            if (percent != reported) {
                reported = percent;
                m_report(percent);
            }
            return !m_stopping->load();
        });
        if (result.ok()) {
            // The summaries of a file brought from elsewhere are built by now, with the
            // default cache; from here on this connection only appends.
            m_database.useRecordingCache();
            const QString path = m_database.path();
            m_identity = FileIdentity::of(path);
            m_sideFiles.clear();
            for (const char* suffix : {"-wal", "-shm"}) {
                const QString side = path + QLatin1String(suffix);
                m_sideFiles.push_back({side, FileIdentity::of(side)});
            }
        }
        return result;
    }

    DatabaseResult insert(const Reading& reading)
    {
        DatabaseResult result = ensureUsable();
        if (!result.ok()) {
            keep(reading);
            return result;
        }
        result = writePending();
        if (!result.ok()) {
            keep(reading);
            return result;
        }
        result = m_database.insert(reading);
        if (result.kind == DatabaseResult::Kind::NoConnection)
            keep(reading);
        return result;
    }

private:
    void keep(const Reading& reading)
    {
        m_pending.push_back(reading);
        if (m_pending.size() > std::size_t(DatabaseWriter::kMaxPending))
            m_pending.pop_front();
    }

    // Readings kept while the file was unusable go in first, in one transaction. They leave
    // the queue only once that transaction is committed: a file that fails again meanwhile
    // keeps every one of them for the next try.
    DatabaseResult writePending()
    {
        if (m_pending.empty())
            return {};
        QSqlDatabase db = m_database.connection();
        const bool transaction = db.transaction();
        std::size_t written = 0; // the first `written` readings of the queue are inserted
        while (written < m_pending.size()) {
            const DatabaseResult result = m_database.insert(m_pending[written]);
            if (result.ok()) {
                ++written;
            } else if (result.kind == DatabaseResult::Kind::NoConnection) {
                if (transaction)
                    db.rollback();
                else // each row went in by itself
                    m_pending.erase(m_pending.begin(), m_pending.begin() + long(written));
                return result;
            } else {
                // A row refused for its own sake is dropped: it would block every later one.
                m_pending.erase(m_pending.begin() + long(written));
            }
        }
        if (transaction && !db.commit()) {
            const QString error = sqlErrorText(db.lastError());
            db.rollback();
            return {DatabaseResult::Kind::NoConnection, error};
        }
        m_pending.clear();
        return {};
    }

    DatabaseReader::Hold holdReaders() { return m_holdReaders ? m_holdReaders() : nullptr; }

    EnergyDatabase m_database;
    std::shared_ptr<std::atomic<bool>> m_stopping;
    Report m_report;
    std::function<DatabaseReader::Hold()> m_holdReaders;
    FileIdentity m_identity;
    // The WAL and shared-memory files of the open file, as they were when it was opened.
    std::vector<std::pair<QString, FileIdentity>> m_sideFiles;
    std::deque<Reading> m_pending;
};

DatabaseWriter::DatabaseWriter(const QString& folder, QObject* parent)
    : QObject(parent), m_path(QDir(folder).filePath(EnergyDatabase::kFileName)),
      m_stopping(std::make_shared<std::atomic<bool>>(false)), m_compactionWatch(new QTimer(this))
{
    m_thread.setObjectName(QStringLiteral("DatabaseWriter"));
    // Called on the writer's thread while summary tables are built; the writer's thread ends
    // before this object does, so the pointer stays valid for every call.
    m_worker = new DatabaseWorker(folder, m_stopping, [this](int percent) {
        QMetaObject::invokeMethod(this, [this, percent] {
            if (!m_rebuilding) {
                m_rebuilding = true;
                emit busyChanged(true);
            }
            emit progress(percent);
        });
    });
    m_worker->moveToThread(&m_thread);
    m_thread.start();

    // VACUUM tells nothing of its progress: the size of the copy it writes does.
    m_compactionWatch->setInterval(250);
    connect(m_compactionWatch, &QTimer::timeout, this, [this] {
        const QDir folder = QFileInfo(m_path).dir();
        const qint64 whole = QFileInfo(m_path).size();
        const qint64 written = QFileInfo(folder.filePath(EnergyDatabase::kTempName)).size();
        if (whole > 0)
            emit progress(int(std::min<qint64>(99, written * 100 / whole)));
    });
}

DatabaseWriter::~DatabaseWriter()
{
    // Every job asked for still runs; a rebuild or a compaction in progress stops within a few
    // milliseconds, in the middle of its statement, and leaves the file as it was before that
    // statement. The readings behind it go into the table without the summary, which the next
    // start rebuilds.
    m_stopping->store(true);
    finishQueuedJobsAndEnd(m_worker, m_thread);
}

template <typename Job> void DatabaseWriter::post(Job job)
{
    QMetaObject::invokeMethod(m_worker, std::move(job), Qt::QueuedConnection);
}

// Jobs capture `this` to post their results back: the writer's thread ends before the writer
// is destroyed, and results posted during the destruction are dropped with it.
void DatabaseWriter::open()
{
    DatabaseWorker* worker = m_worker;
    post([this, worker] {
        DatabaseResult result = worker->ensureUsable();
        // A compaction the program's end stopped is done now, as if asked again.
        if (result.ok() && worker->database().compactionPending() && !m_stopping->load()) {
            QMetaObject::invokeMethod(this, [this] { watchCompaction(true); });
            worker->compact();
            QMetaObject::invokeMethod(this, [this] { watchCompaction(false); });
            result = worker->ensureUsable();
        }
        QMetaObject::invokeMethod(this, [this, result] {
            endRebuild();
            emit opened(result);
        });
    });
}

void DatabaseWriter::insert(const Reading& reading)
{
    DatabaseWorker* worker = m_worker;
    post([this, worker, reading] {
        const DatabaseResult result = worker->insert(reading);
        QMetaObject::invokeMethod(this, [this, result] {
            endRebuild();
            if (result.ok())
                emit inserted();
            else
                emit insertFailed(result);
        });
    });
}

void DatabaseWriter::clearAllRows(Done done)
{
    DatabaseWorker* worker = m_worker;
    post([this, worker, done = std::move(done)] {
        DatabaseResult result = worker->ensureUsable();
        if (result.ok())
            result = worker->database().clear();
        QMetaObject::invokeMethod(this, [this, done, result] {
            endRebuild();
            if (done)
                done(result);
        });
    });
}

void DatabaseWriter::storeMeterHistory(const MeterHistory& history, Done done)
{
    DatabaseWorker* worker = m_worker;
    post([this, worker, history, done = std::move(done)] {
        DatabaseResult result = worker->ensureUsable();
        if (result.ok())
            result = worker->database().storeMeterHistory(history);
        QMetaObject::invokeMethod(this, [this, done, result] {
            endRebuild();
            if (done)
                done(result);
        });
    });
}

void DatabaseWriter::compact(Done done)
{
    watchCompaction(true);
    DatabaseWorker* worker = m_worker;
    post([this, worker, done = std::move(done)] {
        // A file replaced meanwhile is let go first; the compaction works on the file itself.
        worker->ensureUsable();
        const DatabaseResult result = worker->compact();
        QMetaObject::invokeMethod(this, [this, done, result] {
            watchCompaction(false);
            if (done)
                done(result);
        });
    });
}

void DatabaseWriter::endRebuild()
{
    if (!m_rebuilding)
        return;
    m_rebuilding = false;
    emit busyChanged(false);
}

void DatabaseWriter::close()
{
    DatabaseWorker* worker = m_worker;
    post([worker] { worker->close(); });
}

void DatabaseWriter::flush(std::function<void()> done)
{
    post([this, done = std::move(done)] { QMetaObject::invokeMethod(this, done); });
}

void DatabaseWriter::setHoldReaders(std::function<DatabaseReader::Hold()> hold)
{
    DatabaseWorker* worker = m_worker;
    post([worker, hold = std::move(hold)] { worker->setHoldReaders(hold); });
}

void DatabaseWriter::setRenameFunction(EnergyDatabase::RenameFunction rename)
{
    DatabaseWorker* worker = m_worker;
    post([worker, rename = std::move(rename)] { worker->database().setRenameFunction(rename); });
}

void DatabaseWriter::watchCompaction(bool running)
{
    if (running == m_compactionWatch->isActive())
        return;
    emit busyChanged(running);
    if (running) {
        emit progress(0);
        m_compactionWatch->start();
    } else {
        m_compactionWatch->stop();
        emit progress(100);
    }
}

} // namespace powerlog
