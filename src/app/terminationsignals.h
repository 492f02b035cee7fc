#pragma once

#include <QObject>

class QSocketNotifier;

namespace powerlog {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered by the event loop, so that a
// request to end (a logout, a service manager, Ctrl+C) shuts the program down in order and
// nothing queued for the disk is lost. One instance per program.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signal);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace powerlog
