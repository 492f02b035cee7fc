#include "gatewaysimulator.h"

#include "gateway/frames.h"
#include "gatewayconnection.h"
#include "householdprofile.h"
#include "loadbank.h"
#include "meterbank.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>
#include <QTimer>

#include <algorithm>

namespace powerlog::sim {

namespace {

constexpr int kRestoreSeconds = 5;       // below the line power this long before a load returns
constexpr qsizetype kMaxRecorded = 4096; // received frames kept for receivedFrames()

QString loadEventFrame(int position, int state)
{
    return QStringLiteral("*3*%1*#%2##").arg(state).arg(position);
}

// A frame of the load-control central unit: a command, a request or a dimension of WHO 3.
bool isWho3(const QString& frame)
{
    return frame.startsWith(QLatin1String("*3*")) || frame.startsWith(QLatin1String("*#3*")) ||
           frame.startsWith(QLatin1String("*#3#"));
}

} // namespace

class GatewaySimulator::Private final : public GatewayDevice
{
public:
    Private(GatewaySimulator& q, const Options& options)
        : q(q), options(options), profile(options.seed), nonces(options.seed ^ 0x5eed0f0du),
          // A meter that has been running for a while; the seed picks where it stands.
          energyWh(1'000'000.0 + options.seed % 9'000'000u), meters(options.seed)
    {
        QObject::connect(&server, &QTcpServer::newConnection, &q, [this] { accept(); });
        QObject::connect(&tick, &QTimer::timeout, &q, [this] { onTick(); });
        QObject::connect(&stPush, &QTimer::timeout, &q, [this] { pushReadings(); });
    }

    // GatewayDevice
    const Options& currentOptions() const override { return options; }
    void recordFrame(const QString& frame) override;
    QString newNonce() override;
    QString newRandomHex(int length) override;
    bool authenticationLocked() override;
    void passwordRefused() override;
    void sessionRecycled(GatewayConnection* connection) override;
    QStringList answerCommand(const QString& frame) override;
    void sessionOpened(GatewayConnection* connection) override;
    void readingWritten() override { ++readingsSent; }
    void connectionClosed(GatewayConnection* connection) override;

    void accept();
    void applyTimers();
    void closeAll();

    // The household and the load-control unit.
    int profileWatts() const;
    QString readingFrame();
    QString powerFrame();
    void onTick();
    void shedIfOverLimit();
    void restoreIfRoom();
    void changeLoad(int position, int state);
    void pushToEvents(const QString& frame);
    // A load's state to every event session; a change nobody saw is counted.
    void pushLoadEvent(int position, int state, bool change);
    void pushReadings();

    QDateTime now() const { return wallClock ? wallClock() : QDateTime::currentDateTime(); }
    double localHour() const;
    std::optional<QStringList> answerMeter(const QString& frame);
    void setUpdates(int meter, int minutes);
    void pushMeterPowers();

    GatewaySimulator& q;
    Options options;
    QTcpServer server;
    QTimer tick;
    QTimer stPush;
    HouseholdProfile profile;
    LoadBank loads;
    QRandomGenerator nonces;
    double energyWh;
    int secondsBelowLimit = 0;
    struct Fixed
    {
        QString v, a, w, e;
    } fixed;

    QList<QPointer<GatewayConnection>> connections;
    QList<GatewayConnection*> commandSessions;
    QList<GatewayConnection*> eventSessions;
    int accepted = 0;
    QStringList received;

    QElapsedTimer clock;    // monotonic, for the lock-out
    QList<qint64> refusals; // when passwords were refused, within the lock-out window
    QDeadlineTimer lockedUntil;
    int refused = 0;
    int recycled = 0;
    qint64 loadEventsSent = 0;
    qint64 loadChangesUnseen = 0;
    qint64 readingsSent = 0;

    MeterBank meters;
    std::function<QDateTime()> wallClock;
    struct Updates
    {
        QDeadlineTimer until;
        std::optional<int> lastWatts; // the power last pushed
    };
    QHash<int, Updates> updating; // by meter
};

void GatewaySimulator::Private::recordFrame(const QString& frame)
{
    received.append(frame);
    if (received.size() > kMaxRecorded)
        received.removeFirst();
    emit q.frameReceived(frame);
}

QString GatewaySimulator::Private::newNonce()
{
    const int length = 8 + int(nonces.bounded(3));
    QString digits;
    for (int i = 0; i < length; ++i)
        digits.append(QChar(u'0' + nonces.bounded(10)));
    return digits;
}

QString GatewaySimulator::Private::newRandomHex(int length)
{
    QString hex;
    for (int i = 0; i < length; ++i)
        hex.append(QLatin1Char("0123456789abcdef"[nonces.bounded(16)]));
    return hex;
}

bool GatewaySimulator::Private::authenticationLocked()
{
    return !lockedUntil.hasExpired();
}

void GatewaySimulator::Private::passwordRefused()
{
    ++refused;
    if (!clock.isValid())
        clock.start();
    const qint64 now = clock.elapsed();
    refusals.append(now);
    while (!refusals.isEmpty() && now - refusals.first() >= options.lockoutWindowMs)
        refusals.removeFirst();
    if (options.lockoutFailures > 0 && refusals.size() >= options.lockoutFailures) {
        lockedUntil.setRemainingTime(options.lockoutMs, Qt::PreciseTimer);
        refusals.clear();
    }
}

void GatewaySimulator::Private::sessionRecycled(GatewayConnection* connection)
{
    ++recycled;
    commandSessions.removeAll(connection);
    eventSessions.removeAll(connection);
}

QStringList GatewaySimulator::Private::answerCommand(const QString& frame)
{
    static const QRegularExpression wellFormed(QStringLiteral("^\\*[0-9*#]*[0-9]##$"));
    static const QRegularExpression loadCommand(QStringLiteral("^\\*3\\*2\\*#(\\d+)##$"));

    if (auto meterAnswer = answerMeter(frame))
        return *meterAnswer;
    if (!options.who3 && isWho3(frame))
        return {frames::kNack};
    if (frame == frames::kMeasurementRequest) {
        shedIfOverLimit();
        return {readingFrame(), frames::kAck};
    }
    if (frame == QStringLiteral("*#3*10*3##")) {
        shedIfOverLimit();
        return {powerFrame(), frames::kAck};
    }
    if (frame == frames::kLoadStatusRequest) {
        for (int position = 1; position <= LoadBank::kCount; ++position)
            pushLoadEvent(position, loads.state(position), false);
        return {frames::kAck};
    }
    if (const auto match = loadCommand.match(frame); match.hasMatch()) {
        changeLoad(match.captured(1).toInt(), LoadBank::Forced);
        return {frames::kAck};
    }
    return {wellFormed.match(frame).hasMatch() ? frames::kAck : frames::kNack};
}

void GatewaySimulator::Private::sessionOpened(GatewayConnection* connection)
{
    if (connection->kind() == GatewayConnection::Kind::Event) {
        eventSessions.append(connection);
        emit q.eventSessionOpened();
    } else {
        commandSessions.append(connection);
        emit q.commandSessionOpened();
    }
}

void GatewaySimulator::Private::connectionClosed(GatewayConnection* connection)
{
    connections.removeAll(connection);
    commandSessions.removeAll(connection);
    eventSessions.removeAll(connection);
}

void GatewaySimulator::Private::accept()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        ++accepted;
        connections.append(new GatewayConnection(socket, *this, &q));
    }
}

void GatewaySimulator::Private::applyTimers()
{
    tick.setInterval(qMax(1, options.tickMs));
    stPush.setInterval(qMax(1, options.stPushIntervalMs));
    const bool listening = server.isListening();
    if (listening && !tick.isActive())
        tick.start();
    if (!listening)
        tick.stop();
    if (listening && options.stPush) {
        if (!stPush.isActive())
            stPush.start();
    } else {
        stPush.stop();
    }
}

void GatewaySimulator::Private::closeAll()
{
    const auto open = connections;
    for (const QPointer<GatewayConnection>& connection : open) {
        if (connection)
            connection->detachAndAbort();
    }
    connections.clear();
    commandSessions.clear();
    eventSessions.clear();
}

int GatewaySimulator::Private::profileWatts() const
{
    int watts = profile.uncontrolledWatts();
    for (int position = 1; position <= LoadBank::kCount; ++position) {
        if (loads.draws(position))
            watts += profile.demandWatts(position);
    }
    return watts;
}

QString GatewaySimulator::Private::readingFrame()
{
    const int volts = profile.volts();
    const int watts = profileWatts();
    const QString v = fixed.v.isEmpty() ? QString::number(volts) : fixed.v;
    const QString a = fixed.a.isEmpty() ? QString::number(double(watts) / volts, 'f', 1) : fixed.a;
    const QString w = fixed.w.isEmpty() ? QString::number(watts) : fixed.w;
    const QString e = fixed.e.isEmpty() ? QString::number(qint64(energyWh)) : fixed.e;
    return QStringLiteral("*#3*10*0*%1*%2*%3*%4##").arg(v, a, w, e);
}

QString GatewaySimulator::Private::powerFrame()
{
    const QString w = fixed.w.isEmpty() ? QString::number(profileWatts()) : fixed.w;
    return QStringLiteral("*#3*10*3*%1##").arg(w);
}

// One simulated second.
void GatewaySimulator::Private::onTick()
{
    profile.advance(options.hour >= 0 ? options.hour + 0.5 : localHour());
    energyWh += profileWatts() / 3600.0;
    shedIfOverLimit();
    restoreIfRoom();
    pushMeterPowers();
}

double GatewaySimulator::Private::localHour() const
{
    const QTime time = now().time();
    return time.hour() + time.minute() / 60.0;
}

std::optional<QStringList> GatewaySimulator::Private::answerMeter(const QString& frame)
{
    meters.setMeters(options.meters);
    const auto a = meters.answer(frame, now(), profileWatts());
    if (!a)
        return std::nullopt;
    for (const QString& event : a->events)
        pushToEvents(event);
    if (a->updatesMinutes)
        setUpdates(a->meter, *a->updatesMinutes);
    return a->reply;
}

// A renewal starts the time again from now; 0 minutes stops the updates.
void GatewaySimulator::Private::setUpdates(int meter, int minutes)
{
    if (minutes == 0) {
        updating.remove(meter);
        return;
    }
    Updates& u = updating[meter];
    u.until.setRemainingTime(qint64(minutes) * qMax(1, options.meterMinuteMs), Qt::PreciseTimer);
    u.lastWatts.reset();
    pushToEvents(MeterBank::updatesFrame(meter, minutes));
    pushMeterPowers();
}

// The power of every meter with running updates, when it changed since it was last pushed.
void GatewaySimulator::Private::pushMeterPowers()
{
    const int household = profileWatts();
    for (auto it = updating.begin(); it != updating.end();) {
        if (it->until.hasExpired()) {
            it = updating.erase(it);
            continue;
        }
        const int watts = meters.powerWatts(it.key(), household);
        if (it->lastWatts != watts) {
            it->lastWatts = watts;
            pushToEvents(MeterBank::powerFrame(it.key(), watts));
        }
        ++it;
    }
}

void GatewaySimulator::Private::shedIfOverLimit()
{
    if (profileWatts() <= options.linePowerWatts)
        return;
    secondsBelowLimit = 0;
    if (const int position = loads.nextToShed()) {
        loads.shed(position);
        pushLoadEvent(position, LoadBank::Off, true);
    }
}

void GatewaySimulator::Private::restoreIfRoom()
{
    const int watts = profileWatts();
    if (watts > options.linePowerWatts)
        return;
    secondsBelowLimit = qMin(secondsBelowLimit + 1, kRestoreSeconds);
    if (secondsBelowLimit < kRestoreSeconds)
        return;
    const int position = loads.nextToRestore();
    if (position == 0 || watts + profile.demandWatts(position) > options.linePowerWatts)
        return;
    secondsBelowLimit = 0;
    loads.restore(position);
    pushLoadEvent(position, LoadBank::On, true);
}

// The unit reports the state even when it did not change, as a confirmation.
void GatewaySimulator::Private::changeLoad(int position, int state)
{
    if (!LoadBank::isPosition(position) || state < LoadBank::Off || state > LoadBank::Idle)
        return;
    loads.set(position, state);
    pushLoadEvent(position, state, true);
}

void GatewaySimulator::Private::pushToEvents(const QString& frame)
{
    const auto sessions = eventSessions;
    for (GatewayConnection* session : sessions)
        session->sendFrame(frame);
}

void GatewaySimulator::Private::pushLoadEvent(int position, int state, bool change)
{
    if (!options.who3)
        return; // no central unit to tell
    if (change && eventSessions.isEmpty())
        ++loadChangesUnseen;
    loadEventsSent += eventSessions.size();
    pushToEvents(loadEventFrame(position, state));
}

void GatewaySimulator::Private::pushReadings()
{
    if (!eventSessions.isEmpty() && options.who3)
        pushToEvents(readingFrame());
}

GatewaySimulator::GatewaySimulator(Options options, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(*this, options))
{
}

GatewaySimulator::~GatewaySimulator()
{
    close();
    // The connections dropped by close() would otherwise outlive the device they point to.
    qDeleteAll(findChildren<GatewayConnection*>(Qt::FindDirectChildrenOnly));
}

bool GatewaySimulator::listen(quint16 port, const QHostAddress& address)
{
    if (!address.isLoopback())
        return false; // never reachable from the network
    if (!d->server.listen(address, port))
        return false;
    d->applyTimers();
    return true;
}

quint16 GatewaySimulator::port() const
{
    return d->server.serverPort();
}

void GatewaySimulator::close()
{
    d->server.close();
    d->applyTimers();
    d->closeAll();
}

Options GatewaySimulator::options() const
{
    return d->options;
}

void GatewaySimulator::setOptions(const Options& options)
{
    d->options = options;
    d->applyTimers();
}

void GatewaySimulator::setFaults(const Faults& faults)
{
    d->options.faults = faults;
}

void GatewaySimulator::setReading(const QString& v, const QString& a, const QString& w,
                                  const QString& e)
{
    d->fixed = {v, a, w, e};
}

void GatewaySimulator::pushToEventSessions(const QByteArray& bytes)
{
    const auto sessions = d->eventSessions;
    for (GatewayConnection* session : sessions)
        session->sendRaw(bytes);
}

void GatewaySimulator::recycleEventSessions()
{
    const auto sessions = d->eventSessions;
    for (GatewayConnection* session : sessions)
        session->recycle();
}

void GatewaySimulator::setLoadState(int position, int state)
{
    d->changeLoad(position, state);
}

int GatewaySimulator::loadState(int position) const
{
    return d->loads.state(position);
}

void GatewaySimulator::setClock(std::function<QDateTime()> clock)
{
    d->wallClock = std::move(clock);
}

QDateTime GatewaySimulator::now() const
{
    return d->now();
}

QList<int> GatewaySimulator::metersUpdating() const
{
    QList<int> running;
    for (auto it = d->updating.cbegin(); it != d->updating.cend(); ++it) {
        if (!it->until.hasExpired())
            running.append(it.key());
    }
    std::sort(running.begin(), running.end());
    return running;
}

int GatewaySimulator::connectionCount() const
{
    return d->accepted;
}

int GatewaySimulator::openCommandSessions() const
{
    return d->commandSessions.size();
}

int GatewaySimulator::openEventSessions() const
{
    return d->eventSessions.size();
}

int GatewaySimulator::refusedPasswords() const
{
    return d->refused;
}

bool GatewaySimulator::isLockedOut() const
{
    return d->authenticationLocked();
}

int GatewaySimulator::recycledSessions() const
{
    return d->recycled;
}

qint64 GatewaySimulator::loadEventsSent() const
{
    return d->loadEventsSent;
}

qint64 GatewaySimulator::loadChangesUnseen() const
{
    return d->loadChangesUnseen;
}

qint64 GatewaySimulator::readingsSent() const
{
    return d->readingsSent;
}

QStringList GatewaySimulator::receivedFrames() const
{
    return d->received;
}

void GatewaySimulator::clearReceivedFrames()
{
    d->received.clear();
}

} // namespace powerlog::sim
