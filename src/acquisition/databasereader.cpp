#include "acquisition/databasereader.h"

#include "acquisition/energydatabase.h"
#include "acquisition/fileidentity.h"
#include "acquisition/sqliteconnection.h"
#include "acquisition/workerthread.h"

#include <QDir>
#include <deque>

namespace powerlog {

namespace {

std::atomic<int> g_readerCount{0};

} // namespace

// Owns the read connection; every member runs on the reader's thread.
class ReaderWorker : public QObject
{
public:
    explicit ReaderWorker(const QString& folder)
        : m_path(QDir(folder).filePath(EnergyDatabase::kFileName)),
          m_name(QStringLiteral("powerlog-reader-%1").arg(++g_readerCount))
    {
    }

    // Reads held back by a hold still run, cancelled by now, so that nobody waits for them.
    ~ReaderWorker() override
    {
        m_holds = 0;
        runWaiting();
        release();
    }

    // Runs a read at once, or once the holds have ended.
    void take(std::function<void()> read)
    {
        if (m_holds > 0)
            m_waiting.push_back(std::move(read));
        else
            read();
    }

    void hold()
    {
        release();
        ++m_holds;
    }

    void endHold()
    {
        if (--m_holds == 0)
            runWaiting();
    }

    // The connection stays open between reads: opening a file parses its whole schema again.
    // A file compacted or put back meanwhile is another file under the same name, and the
    // connection is opened anew on it.
    void run(const DatabaseReader::Job& job, const ReadTicket& ticket)
    {
        QString error;
        QSqlDatabase db = open(&error);
        job(db, error, ticket);
    }

    // Closes the connection until the next read.
    void release()
    {
        if (QSqlDatabase::contains(m_name)) {
            QSqlDatabase::database(m_name, false).close();
            QSqlDatabase::removeDatabase(m_name);
        }
        m_identity = {};
    }

private:
    void runWaiting()
    {
        std::deque<std::function<void()>> waiting;
        waiting.swap(m_waiting);
        for (const auto& read : waiting)
            read();
    }

    QSqlDatabase open(QString* error)
    {
        const FileIdentity identity = FileIdentity::of(m_path);
        if (m_identity.exists && identity == m_identity)
            return QSqlDatabase::database(m_name, false);
        release();
        if (!identity.exists) {
            *error = QStringLiteral("File not found: %1").arg(QDir::toNativeSeparators(m_path));
            return {};
        }
        QSqlDatabase db = openSqlite(m_name, m_path, SqliteMode::ReadOnly, error);
        if (db.isValid())
            m_identity = identity;
        return db;
    }

    QString m_path;
    QString m_name;
    FileIdentity m_identity; // of the file the open connection reads
    int m_holds = 0;
    std::deque<std::function<void()>> m_waiting; // reads given during a hold
};

DatabaseReader::DatabaseReader(const QString& folder, QObject* parent)
    : QObject(parent), m_path(QDir(folder).filePath(EnergyDatabase::kFileName)),
      m_worker(new ReaderWorker(folder)), m_closing(std::make_shared<std::atomic<bool>>(false)),
      m_handle(std::make_shared<WorkerHandle>())
{
    m_handle->worker = m_worker;
    m_thread.setObjectName(QStringLiteral("DatabaseReader"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

DatabaseReader::~DatabaseReader()
{
    m_closing->store(true);
    {
        const QMutexLocker lock(&m_handle->mutex);
        m_handle->worker = nullptr;
    }
    finishQueuedJobsAndEnd(m_worker, m_thread);
}

std::shared_ptr<ReadTicket> DatabaseReader::read(Job job)
{
    auto ticket = std::make_shared<ReadTicket>();
    ReaderWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker,
        [worker, job = std::move(job), ticket, closing = m_closing]() mutable {
            worker->take([worker, job = std::move(job), ticket, closing] {
                if (closing->load())
                    ticket->cancel();
                worker->run(job, *ticket);
            });
        },
        Qt::QueuedConnection);
    return ticket;
}

std::function<DatabaseReader::Hold()> DatabaseReader::connectionHolder() const
{
    return [handle = m_handle]() -> Hold {
        {
            const QMutexLocker lock(&handle->mutex);
            if (!handle->worker)
                return {};
            QMetaObject::invokeMethod(
                handle->worker, [worker = handle->worker] { worker->hold(); },
                Qt::BlockingQueuedConnection);
        }
        return Hold(nullptr, [handle](std::nullptr_t) {
            const QMutexLocker lock(&handle->mutex);
            if (handle->worker)
                QMetaObject::invokeMethod(
                    handle->worker, [worker = handle->worker] { worker->endHold(); },
                    Qt::QueuedConnection);
        });
    };
}

} // namespace powerlog
