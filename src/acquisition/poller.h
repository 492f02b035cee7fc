#pragma once

#include "gateway/commandsession.h"

#include <QObject>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace powerlog {

class MonitorSession;

// Automatic measurement polling: a one-second clock (object name "Tclk"), the ticks counted
// against the refresh interval, the first request that waits for its ACK, the periodic requests
// that do not, and the lost-request counter that gives up after five unanswered requests. While
// automatic mode runs, the monitor session re-opens by itself. While nobody watches the ticks
// (the window is hidden), the clock wakes only when a request is due and counts the seconds in
// between at once.
class Poller : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLostLimit = 5;
    // Sends one measurement request; `done` hears its result as CommandSession::send's does.
    using Request = std::function<void(CommandSession::AckPolicy, CommandSession::Result)>;

    Poller(CommandSession& command, MonitorSession& monitor, QObject* parent = nullptr);

    void setRefreshSeconds(int seconds);
    int refreshSeconds() const { return m_refreshSeconds; }
    void setLostFrameSwitch(quint8 value);
    // Whether the ticks are shown (the progress bar, the activity light). Without a watcher
    // the clock sleeps until the next request; with one it ticks every second again.
    void setTicksWatched(bool watched);
    bool areTicksWatched() const { return m_ticksWatched; }
    // What asks for a reading; empty (the default) asks the load-control central unit.
    void setRequest(Request request) { m_request = std::move(request); }

    // Starts automatic mode: the next tick (one second from now) requests a reading at once.
    void startAutomaticMode();
    // Stops the clock; the mode is manual from here. A first request still waiting is
    // forgotten.
    void stopAutomaticMode();
    // No connection could be made: the clock stops and the bar empties, but a first request
    // still waiting for its result finishes its tick, which then shows on the bar.
    void fallBackToManual();

    bool isAutomatic() const { return m_automatic; }
    // The next tick sends the first request of an automatic run.
    bool isFirstRequestDue() const { return m_firstRequestDue; }
    // Ticks counted since the last request, 0..refreshSeconds().
    int ticks() const { return m_ticks; }
    int lostRequests() const { return m_lostRequests; }

    // The gateway answered something: the requests sent so far are not lost.
    void resetLostRequests() { m_lostRequests = 0; }

    QTimer& clock() { return m_clock; }

    // One tick of the clock; public so tests can step time without waiting.
    void tick();
    // What the clock does when it fires: one tick, or, unwatched, the ticks it slept through.
    void advance();

signals:
    void ticked();      // every tick: the activity light flashes
    void requestSent(); // a measurement request is under way
    // Ticks counted towards the next request, out of `ofTicks` (the refresh interval).
    void progressChanged(int ticks, int ofTicks);
    // The first request after automatic mode started was answered (true) or given up (false).
    void firstRequestFinished(bool acknowledged);
    // Too many requests went unanswered: manual mode, recording off.
    void lostRequestsFallback();

private:
    void sendFirstRequest();
    void finishFirstRequest(bool ok, int generation);
    void continueTick();
    void sendRequest(CommandSession::AckPolicy policy, CommandSession::Result done = {});
    // Starts the clock for its next firing: in a second, or, unwatched, when a request is due.
    void startClock();
    void countSleptSeconds();
    int secondsToNextRequest() const;

    CommandSession& m_command;
    MonitorSession& m_monitor;
    Request m_request;
    QTimer m_clock;
    QElapsedTimer m_sinceClockStart; // how long the clock has slept, when unwatched
    bool m_ticksWatched = true;
    int m_refreshSeconds = 30;
    quint8 m_lostFrameSwitch = 1;
    bool m_automatic = false;
    bool m_firstRequestDue = false;
    bool m_firstRequestPending = false;
    bool m_waitingForMonitor = false;
    int m_ticks = 0;
    int m_lostRequests = 0;
    int m_generation = 0; // tells the first request's answer whether its mode run is still on
};

} // namespace powerlog
