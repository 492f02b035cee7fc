#pragma once

#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace powerlog::sim {

// Faults the simulated gateway can be told to show.
struct Faults
{
    bool noGreeting = false;     // never sends the "*#*1##" greeting
    bool nackAll = false;        // answers every frame after the open with "*#*0##" (the open,
                                 // password exchange included, is still acknowledged)
    bool silent = false;         // answers nothing after the open (the open is acknowledged;
                                 // event sessions still get pushed events and readings)
    int closeAfterFrames = 0;    // closes the connection on receiving its N-th frame, counting
                                 // the open; that frame is not answered (0 = never)
    bool splitFrames = false;    // sends every frame in small TCP segments with short delays
    bool garbageBetween = false; // puts junk bytes between frames it sends
    int cutFrameAfter = 0;       // after N frames sent in a session the next one leaves half
                                 // written and the connection closes (0 = never)
    // HMAC handshake faults: the random Ra one hex digit short, or with a digit pair above 15;
    // a proof of its own that does not match the password.
    enum class BadRa { None, WrongLength, PairAbove15 };
    BadRa badRa = BadRa::None;
    bool wrongConfirmation = false;
};

// How the gateway asks for the password when one is set.
enum class Auth {
    Numeric,    // a nonce answered with the OpenWebNet password algorithm; digits only
    HmacSha1,   // the HMAC handshake with SHA-1; letters and digits
    HmacSha256, // the HMAC handshake with SHA-256; letters and digits
};

// Options of the simulated gateway and load-control central unit.
struct Options
{
    QString password;          // OPEN password; empty = no password asked
    Auth auth = Auth::Numeric; // how the password is asked for
    int linePowerWatts = 3000; // contracted line power used to shed loads
    bool stPush = false;       // push readings unasked on event sessions (ST interface)
    int stPushIntervalMs = 3000;
    int tickMs = 1000; // real milliseconds per simulated second of the household
    quint32 seed = 1;  // random profile seed (repeatable runs)
    int hour = -1;     // hour of the day the household lives in; -1 follows this computer's clock
    // Housekeeping of real gateways: a command session idle this long is closed, an event
    // session is closed this long after it opened (0 = never). Read when a session opens.
    int commandIdleCloseMs = 0;
    int eventRecycleMs = 0;
    // After this many refused passwords within the window, every open is refused (NACK, then
    // the connection closes) for the lock-out time.
    int lockoutFailures = 3;
    int lockoutWindowMs = 60000;
    int lockoutMs = 60000;
    // WHO 18 energy meters behind the gateway: N of each WHERE "5N" (1..255). Read when a
    // frame for them arrives.
    QList<int> meters;
    // Real milliseconds of one minute of the meters' automatic power updates.
    int meterMinuteMs = 60000;
    // Whether a load-control central unit (WHO 3) answers; without it every WHO 3 frame is
    // answered with NACK and no load events or readings are pushed.
    bool who3 = true;
    Faults faults;
};

// A MY-Home gateway with a load-control central unit behind it, listening on loopback only.
// Used in-process by the tests and by the program's demo mode, and by the command-line tool.
class GatewaySimulator : public QObject
{
    Q_OBJECT
public:
    explicit GatewaySimulator(Options options = {}, QObject* parent = nullptr);
    ~GatewaySimulator() override;

    // Listens on 127.0.0.1 (or ::1); port 0 picks a free port. Refuses any other address.
    bool listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    quint16 port() const;
    void close();

    Options options() const;
    void setOptions(const Options& options);
    void setFaults(const Faults& faults);

    // Fixes the next readings instead of the household profile (empty texts = profile).
    void setReading(const QString& v, const QString& a, const QString& w, const QString& e);
    // Sends raw text to every open event (monitor) session, as is.
    void pushToEventSessions(const QByteArray& bytes);
    // Closes every open event session now, as the recycling does.
    void recycleEventSessions();
    // Switches load position 1..8 to a state 0..3 and pushes the event.
    void setLoadState(int position, int state);
    int loadState(int position) const;

    // The wall clock of the meters' history and of the household's hour (without a fixed
    // `Options::hour`); an empty function is this computer's clock.
    void setClock(std::function<QDateTime()> clock);
    QDateTime now() const;
    // Meters whose automatic power updates are running now.
    QList<int> metersUpdating() const;

    int connectionCount() const;     // connections accepted so far
    int openCommandSessions() const; // currently open
    int openEventSessions() const;
    int refusedPasswords() const;     // password checks that failed so far
    bool isLockedOut() const;         // opens are refused for now
    int recycledSessions() const;     // sessions closed by the housekeeping so far
    qint64 loadEventsSent() const;    // load-event frames written to event sessions so far
    qint64 loadChangesUnseen() const; // load changes made while no event session was open
    // Measurement readings (answered or pushed) whose whole frame has gone to the system;
    // a frame cut by a close or dropped with its connection does not count.
    qint64 readingsSent() const;
    QStringList receivedFrames() const; // every frame received on any session, in order
                                        // (the newest 4096)
    void clearReceivedFrames();

signals:
    void frameReceived(const QString& frame);
    void eventSessionOpened();
    void commandSessionOpened();

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace powerlog::sim
