#include "acquisition/lowpriority.h"

#include <QSqlDriver>
#include <QVariant>
#include <sched.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace powerlog {

namespace {

void lowerCallingThread()
{
#ifdef SCHED_IDLE
    sched_param parameters = {};
    // For Linux the first argument 0 names the calling thread, not the whole process.
    if (sched_setscheduler(0, SCHED_IDLE, &parameters) == 0)
        return;
#endif
    // Linux's nice values are per thread too: gettid() names this one.
    setpriority(PRIO_PROCESS, id_t(gettid()), 19);
}

} // namespace

void runAtLowestPriority(const std::function<void()>& job)
{
    std::thread worker([&job] {
        lowerCallingThread();
        job();
    });
    worker.join();
}

StatementWatch::StatementWatch(const QSqlDatabase& db, std::function<bool()> keepGoing, int steps)
    : m_keepGoing(std::move(keepGoing))
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return;
    auto* sqlite = *static_cast<sqlite3* const*>(handle.constData());
    if (!sqlite)
        return;
    m_handle = sqlite;
    sqlite3_progress_handler(sqlite, steps, &StatementWatch::onSteps, this);
}

StatementWatch::~StatementWatch()
{
    if (m_handle)
        sqlite3_progress_handler(static_cast<sqlite3*>(m_handle), 0, nullptr, nullptr);
}

int StatementWatch::onSteps(void* watch)
{
    auto* self = static_cast<StatementWatch*>(watch);
    ++self->m_calls;
    if (self->m_keepGoing())
        return 0;
    self->m_interrupted = true;
    return 1;
}

} // namespace powerlog
