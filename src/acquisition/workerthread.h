#pragma once

#include <QMetaObject>
#include <QThread>

namespace powerlog {

// Ends a worker's thread behind the jobs already queued for it: the worker is deleted on its
// own thread once they have run, then the thread quits, and this waits for it. Quitting at once
// would drop the jobs still waiting.
template <typename Worker> void finishQueuedJobsAndEnd(Worker* worker, QThread& thread)
{
    QThread* running = &thread;
    QMetaObject::invokeMethod(
        worker,
        [worker, running] {
            delete worker;
            running->quit();
        },
        Qt::QueuedConnection);
    thread.wait();
}

} // namespace powerlog
