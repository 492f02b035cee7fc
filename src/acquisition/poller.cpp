#include "acquisition/poller.h"

#include "acquisition/readingrequest.h"

#include "gateway/commandsession.h"
#include "gateway/linkstate.h"
#include "gateway/monitorsession.h"

#include <QPointer>
#include <algorithm>

namespace powerlog {

Poller::Poller(CommandSession& command, MonitorSession& monitor, QObject* parent)
    : QObject(parent), m_command(command), m_monitor(monitor)
{
    m_clock.setObjectName(QStringLiteral("Tclk"));
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, &Poller::advance);
    connect(&m_command, &CommandSession::answerReceived, this, &Poller::resetLostRequests);

    // The first request of a run waits for the monitor session's open to end either way, so
    // that the load-status request the open sends goes out before it. The monitor queues that
    // request right after announcing the open: sending from the event loop keeps it first.
    connect(&m_monitor, &MonitorSession::opened, this, [this] {
        if (!m_waitingForMonitor)
            return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_waitingForMonitor)
                    sendFirstRequest();
            },
            Qt::QueuedConnection);
    });
    connect(&m_monitor, &MonitorSession::linkStateChanged, this, [this](LinkState state) {
        if (!m_waitingForMonitor)
            return;
        if (state == LinkState::NoConnection || state == LinkState::NotOpened ||
            state == LinkState::PasswordMissing)
            sendFirstRequest();
        else if (state == LinkState::PasswordRefused)
            // The command session would offer the same password: one refusal is enough, as
            // gateways lock out after a few.
            finishFirstRequest(false, m_generation);
    });
}

void Poller::setRefreshSeconds(int seconds)
{
    countSleptSeconds();
    m_refreshSeconds = seconds > 0 ? seconds : 30;
    if (m_clock.isActive() && !m_ticksWatched)
        startClock();
}

void Poller::setLostFrameSwitch(quint8 value)
{
    m_lostFrameSwitch = value;
}

void Poller::setTicksWatched(bool watched)
{
    if (m_ticksWatched == watched)
        return;
    countSleptSeconds();
    m_ticksWatched = watched;
    if (m_clock.isActive())
        startClock();
}

// The whole seconds an unwatched clock has slept so far count before it changes its pace.
void Poller::countSleptSeconds()
{
    if (!m_clock.isActive() || m_ticksWatched || m_firstRequestDue)
        return;
    const int slept = int(m_sinceClockStart.elapsed() / 1000);
    const int counted = std::min(slept, secondsToNextRequest() - 1);
    if (counted <= 0)
        return;
    m_ticks += counted;
    emit progressChanged(m_ticks, m_refreshSeconds);
}

int Poller::secondsToNextRequest() const
{
    return std::max(1, m_refreshSeconds - m_ticks);
}

void Poller::startClock()
{
    m_clock.setInterval(m_ticksWatched || m_firstRequestDue ? 1000
                                                            : secondsToNextRequest() * 1000);
    m_sinceClockStart.start();
    m_clock.start();
}

void Poller::advance()
{
    // Unwatched, the clock slept through the ticks before the one that sends: they count
    // without a sign, as nobody would see them.
    if (!m_ticksWatched && !m_firstRequestDue && !m_firstRequestPending)
        m_ticks += m_clock.interval() / 1000 - 1;
    tick();
    if (m_clock.isActive() && !m_ticksWatched)
        startClock();
}

void Poller::startAutomaticMode()
{
    ++m_generation;
    m_firstRequestPending = false;
    m_waitingForMonitor = false;
    m_ticks = 0;
    m_firstRequestDue = true;
    m_automatic = true;
    m_monitor.setReopening(true);
    startClock();
}

void Poller::stopAutomaticMode()
{
    ++m_generation;
    m_firstRequestPending = false;
    m_waitingForMonitor = false;
    m_automatic = false;
    m_monitor.setReopening(false);
    m_firstRequestDue = false;
    m_clock.stop();
    m_ticks = 0;
    emit progressChanged(0, m_refreshSeconds);
}

void Poller::fallBackToManual()
{
    m_automatic = false;
    m_monitor.setReopening(false);
    m_clock.stop();
    m_ticks = 0;
    emit progressChanged(0, m_refreshSeconds);
}

void Poller::tick()
{
    if (m_firstRequestPending)
        return; // the first request is still waiting for its ACK; the count resumes after it
    emit ticked();
    if (!m_firstRequestDue) {
        continueTick();
        return;
    }

    // The first request of a run opens the monitor session and waits for its acknowledgement;
    // the clock pauses meanwhile, so that tick still counts as the first.
    m_firstRequestPending = true;
    m_clock.stop();
    emit requestSent();
    if (m_monitor.isConnected()) {
        sendFirstRequest();
        return;
    }
    m_waitingForMonitor = true;
    m_monitor.open();
}

void Poller::sendFirstRequest()
{
    m_waitingForMonitor = false;
    const int generation = m_generation;
    QPointer<Poller> self(this);
    sendRequest(CommandSession::AckPolicy::WaitForAck, [self, generation](bool ok) {
        if (self)
            self->finishFirstRequest(ok, generation);
    });
}

void Poller::finishFirstRequest(bool ok, int generation)
{
    if (m_generation != generation)
        return; // automatic mode was stopped or restarted meanwhile
    m_waitingForMonitor = false;
    m_firstRequestPending = false;
    m_firstRequestDue = false;
    m_automatic = ok && m_automatic;
    if (!m_automatic) {
        m_clock.stop();
        m_monitor.setReopening(false);
    }
    QPointer<Poller> self(this);
    emit firstRequestFinished(ok);
    if (!self || m_generation != generation)
        return; // a listener changed the mode
    // The tick that sent the request counts, answered or not: the bar shows it either way.
    continueTick();
    if (m_automatic)
        startClock();
}

void Poller::continueTick()
{
    ++m_ticks;
    emit progressChanged(m_ticks, m_refreshSeconds);
    if (m_ticks < m_refreshSeconds)
        return;
    m_ticks = 0;

    if (m_lostRequests >= kLostLimit) {
        m_automatic = false;
        m_monitor.setReopening(false);
        m_clock.stop();
        emit progressChanged(0, m_refreshSeconds);
        emit lostRequestsFallback();
        return;
    }

    emit requestSent();
    sendRequest(CommandSession::AckPolicy::NoAckWait);
    if (m_lostFrameSwitch == 1)
        ++m_lostRequests;
}

void Poller::sendRequest(CommandSession::AckPolicy policy, CommandSession::Result done)
{
    if (m_request)
        m_request(policy, std::move(done));
    else
        requestReading(m_command, policy, std::move(done));
}

} // namespace powerlog
