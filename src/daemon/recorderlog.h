#pragma once

#include "acquisition/energydatabase.h"
#include "controller/linkpolicy.h"
#include "gateway/linkstate.h"

#include <QObject>
#include <QString>
#include <functional>

namespace powerlog {

class Station;

// The background recorder's account of itself: one line per change of state (the gateway
// reached or lost, authenticated, the event session re-opening, the password refused, the
// database busy, another process recording), never one per reading. A line the same as the
// one before is not written again.
class RecorderLog : public QObject
{
    Q_OBJECT
public:
    using Writer = std::function<void(const QString& line)>;

    RecorderLog(Station& station, Writer writer, QObject* parent = nullptr);

    // "recording into FILE from the gateway at ADDRESS:PORT"
    void started();
    // "stopping on signal NAME" (SIGTERM, SIGINT, SIGHUP, or its number)
    void stopping(int signal);

    QString lastLine() const { return m_last; }

    // The words of the link's states, as the recorder writes them; empty for a state it keeps
    // to itself.
    static QString linkLine(LinkChannel channel, LinkState state, const QString& detail);
    static QString noticeLine(Notice notice);
    static QString databaseLine(const DatabaseResult& result);
    static QString signalName(int signal);

private:
    void onLinkState(LinkChannel channel, LinkState state, const QString& detail);
    // A session opened (a frame acknowledged, the event session open): the handshake, if any,
    // is told once, and a later refusal may be told again.
    void sessionOpened();
    void write(const QString& line);

    Station& m_station;
    Writer m_writer;
    QString m_last;
    // Sessions connect again for many requests and whenever the gateway recycles them: the
    // gateway is told reached only the first time and after it was lost, its handshake once per
    // such time.
    bool m_linkUp = false;
    bool m_authenticatedTold = false;
    bool m_refusalTold = false;
    QString m_hash; // of the handshake in progress, empty without one
    // The line told when each session went down, until it is up again.
    QString m_commandDown;
    QString m_monitorDown;
};

} // namespace powerlog
