#include "acquisition/databasereader.h"

#include "acquisition/energydatabase.h"
#include "acquisition/sqliteconnection.h"
#include "acquisition/workerthread.h"

#include <QDir>
#include <QFileInfo>

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

    ~ReaderWorker() override
    {
        if (QSqlDatabase::contains(m_name)) {
            QSqlDatabase::database(m_name, false).close();
            QSqlDatabase::removeDatabase(m_name);
        }
    }

    // The connection is opened for each read, so a file compacted or put back meanwhile is
    // the one read; opening a SQLite file costs little.
    void run(const DatabaseReader::Job& job, const ReadTicket& ticket)
    {
        QString error;
        QSqlDatabase db = open(&error);
        job(db, error, ticket);
        if (db.isValid())
            db.close();
    }

private:
    QSqlDatabase open(QString* error)
    {
        if (!QFileInfo(m_path).isFile()) {
            *error = QStringLiteral("File not found: %1").arg(QDir::toNativeSeparators(m_path));
            return {};
        }
        return openSqlite(m_name, m_path, SqliteMode::ReadOnly, error);
    }

    QString m_path;
    QString m_name;
};

DatabaseReader::DatabaseReader(const QString& folder, QObject* parent)
    : QObject(parent), m_path(QDir(folder).filePath(EnergyDatabase::kFileName)),
      m_worker(new ReaderWorker(folder)), m_closing(std::make_shared<std::atomic<bool>>(false))
{
    m_thread.setObjectName(QStringLiteral("DatabaseReader"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

DatabaseReader::~DatabaseReader()
{
    m_closing->store(true);
    finishQueuedJobsAndEnd(m_worker, m_thread);
}

std::shared_ptr<ReadTicket> DatabaseReader::read(Job job)
{
    auto ticket = std::make_shared<ReadTicket>();
    ReaderWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker,
        [worker, job = std::move(job), ticket, closing = m_closing] {
            if (closing->load())
                ticket->cancel();
            worker->run(job, *ticket);
        },
        Qt::QueuedConnection);
    return ticket;
}

} // namespace powerlog
