#pragma once

#include <QSqlDatabase>
#include <functional>

namespace powerlog {

// Runs `job` on a thread of its own at the lowest priority the system grants (SCHED_IDLE on
// Linux, else the highest nice value) and waits for it. The long database jobs (the summaries'
// build, the hour table's, the index, a compaction) run so: on two busy cores they take their
// time from what nothing else wants, and the window's thread is never kept waiting by them.
//
// A thread of its own, because a thread without CAP_SYS_NICE may lower its own priority but
// never raise it again (leaving SCHED_IDLE, or lowering its nice value, is refused with EPERM):
// the caller keeps its priority for the work that follows. QThread::setPriority() is no way
// around it: IdlePriority sets SCHED_IDLE the same way and NormalPriority is refused after it,
// and the levels between do nothing under SCHED_OTHER, whose only static priority is 0. The caller's
// connections may be used by the job, since the caller does nothing while it runs.
void runAtLowestPriority(const std::function<void()>& job);

// Calls `keepGoing` every `steps` virtual machine steps of the statements that run on `db` for
// the length of a scope; a false answer interrupts the running statement, which then fails
// with SQLITE_INTERRUPT and leaves the file as it was before the statement. Watches nothing
// when the connection is not SQLite's.
class StatementWatch
{
public:
    static constexpr int kDefaultSteps = 100000;

    StatementWatch(const QSqlDatabase& db, std::function<bool()> keepGoing,
                   int steps = kDefaultSteps);
    ~StatementWatch();
    StatementWatch(const StatementWatch&) = delete;
    StatementWatch& operator=(const StatementWatch&) = delete;

    // Whether a false answer interrupted a statement.
    bool interrupted() const { return m_interrupted; }
    // How many times `keepGoing` was asked.
    qint64 calls() const { return m_calls; }

private:
    static int onSteps(void* watch);

    void* m_handle = nullptr; // sqlite3*
    std::function<bool()> m_keepGoing;
    bool m_interrupted = false;
    qint64 m_calls = 0;
};

} // namespace powerlog
