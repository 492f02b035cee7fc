#include "acquisition/reading.h"
#include "gateway/commandsession.h"
#include "gateway/frameassembler.h"
#include "gateway/frames.h"
#include "gateway/meterframes.h"
#include "gateway/openhmac.h"
#include "gateway/openpassword.h"
#include "simulator/faultcycle.h"
#include "simulator/gatewaysimulator.h"
#include "simulator/statsfile.h"
#include "support/timings.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace powerlog;
using powerlog::meterframes::MeterValue;
using powerlog::sim::Auth;
using powerlog::sim::FaultCycle;
using powerlog::sim::FaultPhase;
using powerlog::sim::Faults;
using powerlog::sim::GatewaySimulator;
using powerlog::sim::Options;

namespace {

constexpr int kWaitMs = 3000;

// A client on loopback that records what the gateway sends: raw chunks and whole frames.
class Peer : public QObject
{
public:
    explicit Peer(quint16 port)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            const QByteArray chunk = socket.readAll();
            chunks.append(chunk);
            raw += chunk;
            assembler.feed(chunk, [this](QLatin1StringView frame) {
                frames << QString(frame);
                return true;
            });
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void send(const QString& frame) { socket.write(frame.toLatin1()); }
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    QStringList framesMatching(const QString& pattern) const
    {
        return frames.filter(QRegularExpression(pattern));
    }

    QTcpSocket socket;
    FrameAssembler assembler;
    QList<QByteArray> chunks;
    QByteArray raw;
    QStringList frames;
};

const QStringList greetingAndOpen{frames::kAck, frames::kAck};
// The meters' tests live on 15 March 2026 at 14:30.
const QDateTime kMeterNow(QDate(2026, 3, 15), QTime(14, 30));

Options meterOptions(QList<int> meters = {1})
{
    Options options;
    options.meters = std::move(meters);
    return options;
}

// The value frames before the final ACK, read.
QList<MeterValue> valuesOf(const QStringList& frames)
{
    QList<MeterValue> values;
    for (const QString& frame : frames) {
        if (const auto value = meterframes::parseMeterValue(frame))
            values << *value;
        else if (frame != frames::kAck && frame != frames::kNack)
            qWarning("not a meter value: %s", qPrintable(frame));
    }
    return values;
}

qint64 sumOf(const QList<MeterValue>& values, MeterValue::Kind kind)
{
    qint64 sum = 0;
    for (const MeterValue& v : values)
        sum += v.kind == kind ? v.value : 0;
    return sum;
}

const QString kReadingPattern =
    QStringLiteral("^\\*#3\\*10\\*0\\*\\d+\\*\\d+\\.\\d\\*\\d+\\*\\d+##$");

} // namespace

Q_DECLARE_METATYPE(powerlog::sim::Auth)
Q_DECLARE_METATYPE(powerlog::meterframes::MeterValue::Kind)

class TestSimulator : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void refusesNonLoopbackAddresses();
    void greetsAndOpensSessions_data();
    void greetsAndOpensSessions();
    void rejectsFramesBeforeTheOpen();
    void passwordExchange_data();
    void passwordExchange();
    void measurementReplyThenAck();
    void energyNeverFalls();
    void fixedReading();
    void answersOtherFrames_data();
    void answersOtherFrames();
    void statusRequestPushesEveryLoad();
    void loadCommandForcesLoad();
    void shedsFromLowestPriorityAndRestores();
    void stPushSendsReadingsUnasked();
    void nackAll();
    void silent();
    void closeAfterFrames();
    void splitFramesStillReassemble();
    void garbageBetweenFrames();
    void closeDropsSessions();
    void hmacExchange_data();
    void hmacExchange();
    void refusedPasswordsLockOut();
    void housekeepingClosesSessions();
    void cutFrameEndsTheConnectionMidFrame();
    void readingsSentCountsWholeFrames_data();
    void readingsSentCountsWholeFrames();
    void faultCycleWalksThePhasesOverTheBase();
    void statsFileHoldsTheCounts();
    void meterRequests_data();
    void meterRequests();
    void meterHistoryAddsUp();
    void hourlyHistoryOfToday();
    void hourlyHistoryAsEvents();
    void dayTotalsAsEvents_data();
    void dayTotalsAsEvents();
    void automaticUpdatesRunOutAndStop();
    void twoMeters();
    void withoutWho3_data();
    void withoutWho3();

private:
    std::unique_ptr<GatewaySimulator> start(Options options = {});
    void startMeters(Options options);
    // Sends a frame on a command session and gives back what answers it, up to ACK or NACK.
    QStringList ask(Peer& command, const QString& frame);
    std::unique_ptr<Peer> openSession(const QString& openFrame);

    std::unique_ptr<GatewaySimulator> m_sim;
};

std::unique_ptr<GatewaySimulator> TestSimulator::start(Options options)
{
    auto sim = std::make_unique<GatewaySimulator>(options);
    if (!sim->listen(0))
        qFatal("the simulator cannot listen on loopback");
    return sim;
}

void TestSimulator::startMeters(Options options)
{
    m_sim = start(std::move(options));
    m_sim->setClock([] { return kMeterNow; });
}

QStringList TestSimulator::ask(Peer& command, const QString& frame)
{
    const qsizetype from = command.frames.size();
    command.send(frame);
    const auto answered = [&] {
        return command.frames.size() > from &&
               (command.frames.last() == frames::kAck || command.frames.last() == frames::kNack);
    };
    if (!QTest::qWaitFor(answered, kWaitMs))
        qWarning("no answer to %s", qPrintable(frame));
    return command.frames.mid(from);
}

std::unique_ptr<Peer> TestSimulator::openSession(const QString& openFrame)
{
    auto peer = std::make_unique<Peer>(m_sim->port());
    peer->send(openFrame);
    if (!QTest::qWaitFor([&] { return peer->frames.size() >= 2; }, kWaitMs))
        qWarning("no open acknowledgement");
    return peer;
}

void TestSimulator::init()
{
    m_sim = start();
}

void TestSimulator::cleanup()
{
    m_sim.reset();
}

void TestSimulator::refusesNonLoopbackAddresses()
{
    GatewaySimulator sim;
    QVERIFY(!sim.listen(0, QHostAddress::Any));
    QVERIFY(!sim.listen(0, QHostAddress::AnyIPv6));
    QVERIFY(sim.listen(0, QHostAddress::LocalHostIPv6) || sim.listen(0, QHostAddress::LocalHost));
    QVERIFY(sim.port() != 0);
}

void TestSimulator::greetsAndOpensSessions_data()
{
    QTest::addColumn<QString>("openFrame");
    QTest::addColumn<int>("commandSessions");
    QTest::addColumn<int>("eventSessions");
    QTest::newRow("command") << frames::kOpenCommand << 1 << 0;
    QTest::newRow("event") << frames::kOpenEvent << 0 << 1;
}

void TestSimulator::greetsAndOpensSessions()
{
    QFETCH(QString, openFrame);
    QSignalSpy commandOpened(m_sim.get(), &GatewaySimulator::commandSessionOpened);
    QSignalSpy eventOpened(m_sim.get(), &GatewaySimulator::eventSessionOpened);

    Peer peer(m_sim->port());
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames, QStringList{frames::kAck}, kWaitMs);
    QCOMPARE(m_sim->connectionCount(), 1);

    peer.send(openFrame);
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames, greetingAndOpen, kWaitMs);
    QTEST(m_sim->openCommandSessions(), "commandSessions");
    QTEST(m_sim->openEventSessions(), "eventSessions");
    QTEST(int(commandOpened.count()), "commandSessions");
    QTEST(int(eventOpened.count()), "eventSessions");
    QCOMPARE(m_sim->receivedFrames(), QStringList{openFrame});

    peer.socket.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->openCommandSessions() + m_sim->openEventSessions(), 0,
                              kWaitMs);
}

void TestSimulator::rejectsFramesBeforeTheOpen()
{
    Peer peer(m_sim->port());
    peer.send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames, (QStringList{frames::kAck, frames::kNack}), kWaitMs);
    QCOMPARE(m_sim->openCommandSessions(), 0);
}

void TestSimulator::passwordExchange_data()
{
    QTest::addColumn<QString>("openFrame");
    QTest::addColumn<bool>("rightPassword");
    QTest::newRow("command, right") << frames::kOpenCommand << true;
    QTest::newRow("event, right") << frames::kOpenEvent << true;
    QTest::newRow("command, wrong") << frames::kOpenCommand << false;
}

void TestSimulator::passwordExchange()
{
    QFETCH(QString, openFrame);
    QFETCH(bool, rightPassword);
    Options options;
    options.password = QStringLiteral("12345");
    m_sim = start(options);

    Peer peer(m_sim->port());
    peer.send(openFrame);
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames.size(), 2, kWaitMs);
    const QString nonce = peer.frames.at(1);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\*#\\d{8,10}##$")).match(nonce).hasMatch(),
             qPrintable(nonce));
    QCOMPARE(frames::classifyFrame(QLatin1StringView(nonce.toLatin1())), frames::FrameKind::Nonce);

    QString buffer = nonce;
    peer.send(openPasswordReply(buffer, rightPassword ? 12345u : 54321u));
    if (rightPassword) {
        QTRY_COMPARE_WITH_TIMEOUT(peer.frames.size(), 3, kWaitMs);
        QCOMPARE(peer.frames.last(), frames::kAck);
        QCOMPARE(m_sim->openCommandSessions() + m_sim->openEventSessions(), 1);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWaitMs);
        QCOMPARE(peer.frames.last(), frames::kNack);
        QCOMPARE(m_sim->openCommandSessions(), 0);
    }
}

void TestSimulator::measurementReplyThenAck()
{
    const auto peer = openSession(frames::kOpenCommand);
    peer->send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(peer->frames.size(), 4, kWaitMs);
    QVERIFY2(QRegularExpression(kReadingPattern).match(peer->frames.at(2)).hasMatch(),
             qPrintable(peer->frames.at(2)));
    QCOMPARE(peer->frames.at(3), frames::kAck);

    const auto m = readingFromFrame(peer->frames.at(2), QDateTime());
    QVERIFY(m);
    QCOMPARE(m->kind, Reading::Kind::Full);
    QVERIFY(m->V.toInt() >= 226 && m->V.toInt() <= 234);
    QVERIFY(m->W.toInt() > 0 && m->W.toInt() <= 32767);
    QCOMPARE(m->A.toDouble(), std::round(m->W.toDouble() / m->V.toDouble() * 10) / 10);
}

void TestSimulator::energyNeverFalls()
{
    Options options;
    options.tickMs = 5;
    m_sim = start(options);
    const auto peer = openSession(frames::kOpenCommand);

    qint64 last = -1;
    for (int reading = 0; reading < 5; ++reading) {
        peer->send(frames::kMeasurementRequest);
        QTRY_COMPARE_WITH_TIMEOUT(peer->framesMatching(kReadingPattern).size(), reading + 1,
                                  kWaitMs);
        const qint64 energy =
            readingFromFrame(peer->framesMatching(kReadingPattern).last(), QDateTime())
                ->E.toLongLong();
        QVERIFY(energy >= last);
        last = energy;
    }
}

void TestSimulator::fixedReading()
{
    m_sim->setReading(QStringLiteral("230"), QStringLiteral("2"), QStringLiteral("460"),
                      QStringLiteral("1234"));
    const auto peer = openSession(frames::kOpenCommand);
    peer->send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(peer->frames.size(), 4, kWaitMs);
    QCOMPARE(peer->frames.at(2), QStringLiteral("*#3*10*0*230*2*460*1234##"));

    // Empty texts give the profile back, field by field.
    m_sim->setReading({}, {}, QStringLiteral("575"), {});
    peer->send(QStringLiteral("*#3*10*3##"));
    QTRY_COMPARE_WITH_TIMEOUT(peer->frames.size(), 6, kWaitMs);
    QCOMPARE(peer->frames.at(4), QStringLiteral("*#3*10*3*575##"));
}

void TestSimulator::answersOtherFrames_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("answer");
    QTest::newRow("other well-formed") << "*1*1*12##" << frames::kAck;
    QTest::newRow("load command out of range") << "*3*2*#9##" << frames::kAck;
    QTest::newRow("letters") << "*1*on*12##" << frames::kNack;
    QTest::newRow("empty frame") << "*##" << frames::kNack;
    QTest::newRow("second open") << frames::kOpenCommand << frames::kAck;
}

void TestSimulator::answersOtherFrames()
{
    QFETCH(QString, frame);
    const auto peer = openSession(frames::kOpenCommand);
    peer->send(frame);
    QTRY_COMPARE_WITH_TIMEOUT(peer->frames.size(), 3, kWaitMs);
    QTEST(peer->frames.at(2), "answer");
}

void TestSimulator::statusRequestPushesEveryLoad()
{
    m_sim->setLoadState(3, 0);
    const auto events = openSession(frames::kOpenEvent);
    const auto command = openSession(frames::kOpenCommand);
    command->send(frames::kLoadStatusRequest);
    QTRY_COMPARE_WITH_TIMEOUT(command->frames.size(), 3, kWaitMs);
    QCOMPARE(command->frames.at(2), frames::kAck);
    QTRY_COMPARE_WITH_TIMEOUT(events->frames.size(), 2 + 8, kWaitMs);
    QCOMPARE(events->frames.mid(2),
             (QStringList{"*3*1*#1##", "*3*1*#2##", "*3*0*#3##", "*3*1*#4##", "*3*1*#5##",
                          "*3*1*#6##", "*3*1*#7##", "*3*1*#8##"}));
}

void TestSimulator::loadCommandForcesLoad()
{
    const auto events = openSession(frames::kOpenEvent);
    const auto command = openSession(frames::kOpenCommand);
    command->send(frames::loadCommandFrame(4));
    QTRY_COMPARE_WITH_TIMEOUT(command->frames.size(), 3, kWaitMs);
    QCOMPARE(command->frames.at(2), frames::kAck);
    QTRY_COMPARE_WITH_TIMEOUT(events->frames.size(), 3, kWaitMs);
    QCOMPARE(events->frames.at(2), QStringLiteral("*3*2*#4##"));
    QCOMPARE(m_sim->loadState(4), 2);
}

void TestSimulator::shedsFromLowestPriorityAndRestores()
{
    Options options;
    options.tickMs = 5;
    m_sim = start(options);
    m_sim->setLoadState(5, 2); // forced: never shed
    const auto events = openSession(frames::kOpenEvent);
    options.linePowerWatts = 1; // any household is over this line
    m_sim->setOptions(options);

    QTRY_COMPARE_WITH_TIMEOUT(events->framesMatching("^\\*3\\*0").size(), 7, kWaitMs);
    QCOMPARE(events->framesMatching("^\\*3\\*0"),
             (QStringList{"*3*0*#8##", "*3*0*#7##", "*3*0*#6##", "*3*0*#4##", "*3*0*#3##",
                          "*3*0*#2##", "*3*0*#1##"}));
    QCOMPARE(m_sim->loadState(5), 2);

    options.linePowerWatts = 1'000'000;
    m_sim->setOptions(options);
    QTRY_COMPARE_WITH_TIMEOUT(events->framesMatching("^\\*3\\*1").size(), 7, kWaitMs);
    QCOMPARE(events->framesMatching("^\\*3\\*1"),
             (QStringList{"*3*1*#1##", "*3*1*#2##", "*3*1*#3##", "*3*1*#4##", "*3*1*#6##",
                          "*3*1*#7##", "*3*1*#8##"}));
}

void TestSimulator::stPushSendsReadingsUnasked()
{
    Options options;
    options.stPush = true;
    options.stPushIntervalMs = 20;
    m_sim = start(options);
    const auto events = openSession(frames::kOpenEvent);
    QTRY_VERIFY_WITH_TIMEOUT(events->framesMatching(kReadingPattern).size() >= 2, kWaitMs);
    QVERIFY(m_sim->receivedFrames() == QStringList{frames::kOpenEvent});
}

void TestSimulator::nackAll()
{
    Options options;
    options.faults.nackAll = true;
    m_sim = start(options);
    const auto peer = openSession(frames::kOpenCommand);
    QCOMPARE(peer->frames, greetingAndOpen); // the open itself is still acknowledged
    peer->send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(peer->frames.size(), 3, kWaitMs);
    QCOMPARE(peer->frames.at(2), frames::kNack);
}

void TestSimulator::silent()
{
    Options options;
    options.faults.silent = true;
    m_sim = start(options);
    const auto peer = openSession(frames::kOpenCommand);
    QCOMPARE(peer->frames, greetingAndOpen);
    QSignalSpy received(m_sim.get(), &GatewaySimulator::frameReceived);
    peer->send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, kWaitMs);
    // A full round trip on another connection: anything the gateway wrote back has arrived.
    Peer other(m_sim->port());
    QTRY_COMPARE_WITH_TIMEOUT(other.frames.size(), 1, kWaitMs);
    QCOMPARE(peer->frames, greetingAndOpen);
    QVERIFY(!peer->isClosed());
}

void TestSimulator::closeAfterFrames()
{
    Options options;
    options.faults.closeAfterFrames = 2;
    m_sim = start(options);
    const auto peer = openSession(frames::kOpenCommand);
    peer->send(frames::kMeasurementRequest);
    QTRY_VERIFY_WITH_TIMEOUT(peer->isClosed(), kWaitMs);
    QCOMPARE(peer->frames, greetingAndOpen); // the closing frame goes unanswered
    QCOMPARE(m_sim->receivedFrames(),
             (QStringList{frames::kOpenCommand, frames::kMeasurementRequest}));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->openCommandSessions(), 0, kWaitMs);
}

void TestSimulator::splitFramesStillReassemble()
{
    Options options;
    options.faults.splitFrames = true;
    m_sim = start(options);
    m_sim->setReading(QStringLiteral("230"), QStringLiteral("2"), QStringLiteral("460"),
                      QStringLiteral("1234"));
    Peer peer(m_sim->port());
    peer.send(frames::kOpenCommand);
    peer.send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(
        peer.frames,
        (QStringList{frames::kAck, frames::kAck, "*#3*10*0*230*2*460*1234##", frames::kAck}),
        kWaitMs);
    // Segments leave 20 ms apart, so at least one chunk is not a whole frame.
    const bool cut = std::any_of(peer.chunks.cbegin(), peer.chunks.cend(), [](const QByteArray& c) {
        return !c.startsWith('*') || !c.endsWith("##");
    });
    QVERIFY(cut);
}

void TestSimulator::garbageBetweenFrames()
{
    Options options;
    options.faults.garbageBetween = true;
    m_sim = start(options);
    const auto peer = openSession(frames::kOpenCommand);
    peer->send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(peer->frames.size(), 4, kWaitMs);
    QVERIFY(peer->raw.startsWith("*#*1##xx\x01*#*1##"));
    QVERIFY(peer->frames.at(2).startsWith(QStringLiteral("*#3*10*0*")));
    QCOMPARE(peer->frames.at(3), frames::kAck);
}

void TestSimulator::closeDropsSessions()
{
    const auto peer = openSession(frames::kOpenEvent);
    QCOMPARE(m_sim->openEventSessions(), 1);
    m_sim->close();
    QCOMPARE(m_sim->openEventSessions(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(peer->isClosed(), kWaitMs);
}

void TestSimulator::hmacExchange_data()
{
    QTest::addColumn<Auth>("auth");
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("rightPassword");

    QTest::newRow("SHA-256, right") << Auth::HmacSha256 << "*98*2##" << true;
    QTest::newRow("SHA-1, right") << Auth::HmacSha1 << "*98*1##" << true;
    QTest::newRow("SHA-256, wrong") << Auth::HmacSha256 << "*98*2##" << false;
}

// The gateway's side of the handshake, driven by hand with fixed Rb.
void TestSimulator::hmacExchange()
{
    QFETCH(Auth, auth);
    QFETCH(QString, request);
    QFETCH(bool, rightPassword);
    Options options;
    options.password = QStringLiteral("Powerlog2024");
    options.auth = auth;
    m_sim = start(options);
    const hmac::Algorithm algorithm =
        auth == Auth::HmacSha1 ? hmac::Algorithm::Sha1 : hmac::Algorithm::Sha256;
    const int length = hmac::hexLength(algorithm);

    Peer peer(m_sim->port());
    peer.send(frames::kOpenCommand);
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames.size(), 2, kWaitMs);
    QCOMPARE(peer.frames.at(1), request);
    peer.send(frames::kAck);
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames.size(), 3, kWaitMs);
    const QString raFrame = peer.frames.at(2);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\*#\\d{%1}##$").arg(2 * length))
                 .match(raFrame)
                 .hasMatch(),
             qPrintable(raFrame));
    const std::optional<QString> ra = hmac::fromDigits(raFrame.mid(2, raFrame.size() - 4));
    QVERIFY(ra);

    const QString rb = QString(length, QLatin1Char('7'));
    const QString password = rightPassword ? options.password : QStringLiteral("Powerlog2025");
    peer.send(hmac::replyFrame(rb, hmac::clientDigest(algorithm, *ra, rb, password)));
    if (!rightPassword) {
        QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWaitMs);
        QCOMPARE(peer.frames.last(), frames::kNack);
        QCOMPARE(m_sim->refusedPasswords(), 1);
        QCOMPARE(m_sim->openCommandSessions(), 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames.size(), 4, kWaitMs);
    QCOMPARE(peer.frames.at(3),
             QStringLiteral("*#") +
                 hmac::toDigits(hmac::gatewayDigest(algorithm, *ra, rb, options.password)) +
                 QStringLiteral("##"));
    QCOMPARE(m_sim->openCommandSessions(), 0); // not before our ACK
    peer.send(frames::kAck);
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->openCommandSessions(), 1, kWaitMs);
    peer.send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames.size(), 6, kWaitMs);
    QVERIFY(QRegularExpression(kReadingPattern).match(peer.frames.at(4)).hasMatch());
    QCOMPARE(peer.frames.at(5), frames::kAck); // the open itself was not acknowledged
}

// Three refused passwords within the window refuse every open for the lock-out time, even
// with the right password; afterwards the right password opens again.
void TestSimulator::refusedPasswordsLockOut()
{
    Options options;
    options.password = QStringLiteral("Powerlog2024");
    options.auth = Auth::HmacSha256;
    options.lockoutMs = 5000;
    m_sim = start(options);
    CommandSession session(test::fastTimings());
    session.setPeer(QStringLiteral("127.0.0.1"), m_sim->port());
    QSignalSpy states(&session, &CommandSession::linkStateChanged);
    QList<bool> results;
    // One open; the state it ended with (an open that worked ends with the handshake).
    const auto attempt = [&](const QString& password) {
        const qsizetype before = results.size();
        session.setPassword(password);
        session.send(QString(), [&](bool ok) { results << ok; });
        if (!QTest::qWaitFor([&] { return results.size() > before; }, kWaitMs))
            return LinkState::Connecting;
        return states.last().at(0).value<LinkState>();
    };

    for (int i = 0; i < 2; ++i)
        QCOMPARE(attempt(QStringLiteral("wrong1")), LinkState::PasswordRefused);
    QVERIFY(!m_sim->isLockedOut());
    QCOMPARE(attempt(QStringLiteral("wrong1")), LinkState::PasswordRefused);
    QVERIFY(m_sim->isLockedOut());
    // Refused before any password is asked for: the open itself gets the NACK.
    m_sim->clearReceivedFrames();
    QCOMPARE(attempt(options.password), LinkState::NotOpened);
    QCOMPARE(m_sim->receivedFrames(), QStringList{frames::kOpenCommand});
    QCOMPARE(m_sim->refusedPasswords(), 3);

    QTRY_VERIFY_WITH_TIMEOUT(!m_sim->isLockedOut(), options.lockoutMs + 10000);
    QCOMPARE(attempt(options.password), LinkState::Authenticating);
    QVERIFY(session.isConnected());
}

void TestSimulator::housekeepingClosesSessions()
{
    Options options;
    options.commandIdleCloseMs = 200;
    options.eventRecycleMs = 200;
    m_sim = start(options);
    const auto command = openSession(frames::kOpenCommand);
    const auto event = openSession(frames::kOpenEvent);

    QTRY_VERIFY_WITH_TIMEOUT(command->isClosed() && event->isClosed(), kWaitMs);
    QCOMPARE(event->frames, greetingAndOpen);
    QCOMPARE(m_sim->recycledSessions(), 2);
    QCOMPARE(m_sim->openCommandSessions(), 0);
    QCOMPARE(m_sim->openEventSessions(), 0);
    // Nothing was said before closing: the peer only sees the connection end.
    QCOMPARE(command->frames, greetingAndOpen);
}

void TestSimulator::cutFrameEndsTheConnectionMidFrame()
{
    Options options;
    options.stPush = true;
    options.stPushIntervalMs = 20;
    options.faults.cutFrameAfter = 2;
    m_sim = start(options);
    const auto events = openSession(frames::kOpenEvent);

    QTRY_VERIFY_WITH_TIMEOUT(events->isClosed(), kWaitMs);
    QCOMPARE(events->framesMatching(kReadingPattern).size(), 2);
    // The third reading stops halfway: no frame end after the second one.
    const QByteArray tail = events->raw.mid(events->raw.lastIndexOf("##") + 2);
    QVERIFY2(tail.startsWith("*#3*10*0*"), tail.constData());
    QCOMPARE(m_sim->readingsSent(), 2);
}

void TestSimulator::readingsSentCountsWholeFrames_data()
{
    QTest::addColumn<bool>("split");
    QTest::addColumn<bool>("garbage");
    QTest::newRow("whole") << false << false;
    QTest::newRow("split") << true << false;
    QTest::newRow("junk between") << false << true;
}

// Answered and pushed readings count alike, however they leave; other frames never count.
void TestSimulator::readingsSentCountsWholeFrames()
{
    QFETCH(bool, split);
    QFETCH(bool, garbage);
    Options options;
    options.faults.splitFrames = split;
    options.faults.garbageBetween = garbage;
    m_sim = start(options);
    const auto command = openSession(frames::kOpenCommand);
    const auto events = openSession(frames::kOpenEvent);
    for (int i = 0; i < 3; ++i)
        command->send(frames::kMeasurementRequest);
    command->send(QStringLiteral("*#3*10*3##"));
    QTRY_COMPARE_WITH_TIMEOUT(command->framesMatching(kReadingPattern).size(), 3, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(command->frames.size(), 2 + 8, kWaitMs);

    options = m_sim->options();
    options.stPush = true;
    options.stPushIntervalMs = 20;
    m_sim->setOptions(options);
    QTRY_VERIFY_WITH_TIMEOUT(events->framesMatching(kReadingPattern).size() >= 2, kWaitMs);
    options.stPush = false;
    m_sim->setOptions(options);
    // What the peers have seen is what went out: a whole frame arrives only once written, and
    // a push still under way is counted and seen alike once it is out.
    const auto seen = [&] {
        return qint64(command->framesMatching(kReadingPattern).size() +
                      events->framesMatching(kReadingPattern).size());
    };
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->readingsSent(), seen(), kWaitMs);
}

void TestSimulator::faultCycleWalksThePhasesOverTheBase()
{
    Faults base;
    base.garbageBetween = true;
    const QList<FaultPhase> phases = FaultCycle::standardPhases(base);
    QCOMPARE(phases.first().name, QStringLiteral("none"));
    for (const FaultPhase& phase : phases)
        QVERIFY2(phase.faults.garbageBetween, qPrintable(phase.name));

    Options options;
    options.faults = base;
    m_sim = start(options);
    FaultCycle cycle(*m_sim, phases, 20);
    QSignalSpy changes(&cycle, &FaultCycle::phaseChanged);
    QStringList seen;
    connect(&cycle, &FaultCycle::phaseChanged, this, [&](const QString& name) {
        seen << name;
        // The simulator takes each phase's faults as it starts.
        const Faults now = m_sim->options().faults;
        const Faults& want = phases.at((seen.size() - 1) % phases.size()).faults;
        QCOMPARE(now.silent, want.silent);
        QCOMPARE(now.nackAll, want.nackAll);
        QCOMPARE(now.cutFrameAfter, want.cutFrameAfter);
        QCOMPARE(now.splitFrames, want.splitFrames);
        QCOMPARE(now.noGreeting, want.noGreeting);
        QCOMPARE(now.garbageBetween, want.garbageBetween);
    });
    cycle.start();
    QTRY_VERIFY_WITH_TIMEOUT(seen.size() > phases.size(), 20000);
    for (int i = 0; i <= phases.size(); ++i)
        QCOMPARE(seen.at(i), phases.at(i % phases.size()).name);
    QCOMPARE(cycle.phasesStarted(), seen.size());
    QCOMPARE(cycle.phaseName(), seen.last());
    QCOMPARE(changes.count(), seen.size());
    const QStringList names = {QStringLiteral("silent"),    QStringLiteral("nack-all"),
                               QStringLiteral("cut-frame"), QStringLiteral("garbage"),
                               QStringLiteral("split"),     QStringLiteral("no-greeting")};
    for (const QString& name : names)
        QVERIFY2(seen.contains(name), qPrintable(name));
}

void TestSimulator::statsFileHoldsTheCounts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stats.txt"));
    const auto readStats = [&path] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    FaultCycle cycle(*m_sim, FaultCycle::standardPhases({}), 60000);
    cycle.start();
    powerlog::sim::StatsFile stats(path, *m_sim, &cycle, 50);
    QVERIFY(stats.write());
    QCOMPARE(readStats(), QByteArray("readings_sent=0\nconnections=0\nfault_phase=none\n"
                                     "fault_phases_started=1\n"));

    const auto command = openSession(frames::kOpenCommand);
    command->send(frames::kMeasurementRequest);
    QTRY_COMPARE_WITH_TIMEOUT(command->framesMatching(kReadingPattern).size(), 1, kWaitMs);
    // Rewritten by itself, without a call.
    QTRY_VERIFY_WITH_TIMEOUT(readStats().startsWith("readings_sent=1\nconnections=1\n"), kWaitMs);
}

void TestSimulator::meterRequests_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("pattern"); // of the value frame; empty when none comes
    QTest::addColumn<QString>("answer");
    QTest::newRow("power") << meterframes::powerRequest("51") << "^\\*#18\\*51\\*113\\*\\d+##$"
                           << frames::kAck;
    QTest::newRow("totalizer") << meterframes::totalizerRequest("51")
                               << "^\\*#18\\*51\\*51\\*\\d+##$" << frames::kAck;
    QTest::newRow("month to date")
        << meterframes::monthToDateRequest("51") << "^\\*#18\\*51\\*53\\*\\d+##$" << frames::kAck;
    QTest::newRow("day to date") << meterframes::dayToDateRequest("51")
                                 << "^\\*#18\\*51\\*54\\*\\d+##$" << frames::kAck;
    QTest::newRow("month of a year") << meterframes::monthOfYearRequest("51", 25, 7)
                                     << "^\\*#18\\*51\\*52#25#7\\*\\d+##$" << frames::kAck;
    QTest::newRow("automatic updates")
        << meterframes::automaticUpdatesRequest("51", 5) << "" << frames::kAck;
    QTest::newRow("unknown meter") << meterframes::powerRequest("52") << "" << frames::kNack;
    QTest::newRow("not a meter") << meterframes::powerRequest("71") << "" << frames::kNack;
    QTest::newRow("unknown dimension") << "*#18*51*999##"
                                       << "" << frames::kNack;
    QTest::newRow("month 13") << meterframes::monthOfYearRequest("51", 25, 13) << ""
                              << frames::kNack;
    QTest::newRow("too many minutes")
        << meterframes::automaticUpdatesRequest("51", 256) << "" << frames::kNack;
    QTest::newRow("day that never was")
        << meterframes::hourlyHistoryRequest("51", 2, 30) << "" << frames::kNack;
    QTest::newRow("unknown meter's history")
        << meterframes::hourlyHistoryCommand("52", 3, 1) << "" << frames::kNack;
    QTest::newRow("day totals of month 13")
        << meterframes::dayTotalsThisYearCommand("51", 13) << "" << frames::kNack;
}

void TestSimulator::meterRequests()
{
    QFETCH(QString, frame);
    QFETCH(QString, pattern);
    QFETCH(QString, answer);
    startMeters(meterOptions());
    const auto command = openSession(frames::kOpenCommand);
    const QStringList got = ask(*command, frame);
    QCOMPARE(got.last(), answer);
    if (pattern.isEmpty()) {
        QCOMPARE(got.size(), 1);
        return;
    }
    QCOMPARE(got.size(), 2);
    QVERIFY2(QRegularExpression(pattern).match(got.at(0)).hasMatch(), qPrintable(got.at(0)));
    QVERIFY(meterframes::parseMeterValue(got.at(0)).has_value());
}

// Hours add up to days, days to months, months to the totalizer; the day asked as hours is
// the day in the day totals.
void TestSimulator::meterHistoryAddsUp()
{
    startMeters(meterOptions());
    const auto events = openSession(frames::kOpenEvent);
    const auto command = openSession(frames::kOpenCommand);

    const QList<MeterValue> hours =
        valuesOf(ask(*command, meterframes::hourlyHistoryRequest("51", 3, 14)));
    QCOMPARE(hours.size(), 25);
    for (int n = 0; n < 24; ++n) {
        QCOMPARE(hours.at(n).kind, MeterValue::Kind::HourOfDay);
        QCOMPARE(hours.at(n).hour, n);
        QCOMPARE(hours.at(n).month, 3);
        QCOMPARE(hours.at(n).day, 14);
        QVERIFY(hours.at(n).value > 0);
    }
    QCOMPARE(hours.last().kind, MeterValue::Kind::DayOfHistory);
    QCOMPARE(hours.last().value, sumOf(hours, MeterValue::Kind::HourOfDay));

    QCOMPARE(ask(*command, meterframes::dayTotalsThisYearCommand("51", 3)),
             QStringList{frames::kAck});
    QTRY_COMPARE_WITH_TIMEOUT(events->frames.size(), 2 + 14, kWaitMs);
    const QList<MeterValue> days = valuesOf(events->frames.mid(2));
    QCOMPARE(days.last().day, 14);
    QCOMPARE(days.last().value, hours.last().value);

    const auto valueOf = [&](const QString& request) {
        const QList<MeterValue> values = valuesOf(ask(*command, request));
        return values.size() == 1 ? values.first().value : -1;
    };
    const qint64 today = valueOf(meterframes::dayToDateRequest("51"));
    const qint64 month = valueOf(meterframes::monthToDateRequest("51"));
    QCOMPARE(month, sumOf(days, MeterValue::Kind::DayThisYear) + today);
    QCOMPARE(valueOf(meterframes::monthOfYearRequest("51", 26, 3)), month);
    QCOMPARE(valueOf(meterframes::monthOfYearRequest("51", 26, 4)), 0); // not yet

    // The totalizer counts every month since the meter was installed.
    qint64 months = 0;
    for (int year = 24; year <= 26; ++year) {
        for (int m = 1; m <= 12; ++m)
            months += valueOf(meterframes::monthOfYearRequest("51", year, m));
    }
    QVERIFY(months > 0);
    QCOMPARE(valueOf(meterframes::totalizerRequest("51")), months);
    // The same day asked again gives the same figures.
    QCOMPARE(valuesOf(ask(*command, meterframes::hourlyHistoryRequest("51", 3, 14))), hours);
}

void TestSimulator::hourlyHistoryOfToday()
{
    startMeters(meterOptions());
    const auto command = openSession(frames::kOpenCommand);
    const QStringList answer = ask(*command, meterframes::hourlyHistoryRequest("51", 3, 15));
    QCOMPARE(answer.last(), frames::kAck);
    const QList<MeterValue> hours = valuesOf(answer);
    // 14:30: the hours 00:00 to 14:00 are over, then the total of those.
    QCOMPARE(hours.size(), 14 + 1);
    QCOMPARE(hours.at(13).hour, 13);
    QCOMPARE(hours.last().kind, MeterValue::Kind::DayOfHistory);
    QCOMPARE(hours.last().value, sumOf(hours, MeterValue::Kind::HourOfDay));
    // Today so far holds those hours and half of the one running.
    const QList<MeterValue> today = valuesOf(ask(*command, meterframes::dayToDateRequest("51")));
    QCOMPARE(today.size(), 1);
    QVERIFY(today.first().value > hours.last().value);

    // A day later in the year than today is last year's.
    const QList<MeterValue> lastYear =
        valuesOf(ask(*command, meterframes::hourlyHistoryRequest("51", 3, 16)));
    QCOMPARE(lastYear.size(), 25);
}

void TestSimulator::hourlyHistoryAsEvents()
{
    startMeters(meterOptions());
    const auto events = openSession(frames::kOpenEvent);
    const auto command = openSession(frames::kOpenCommand);
    const QStringList asked = ask(*command, meterframes::hourlyHistoryRequest("51", 1, 31));
    QCOMPARE(ask(*command, meterframes::hourlyHistoryCommand("51", 1, 31)),
             QStringList{frames::kAck});
    QTRY_COMPARE_WITH_TIMEOUT(events->frames.size(), 2 + 25, kWaitMs);
    QCOMPARE(events->frames.mid(2), asked.first(25));
}

void TestSimulator::dayTotalsAsEvents_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("days");
    QTest::addColumn<MeterValue::Kind>("kind");
    QTest::newRow("this year, this month")
        << meterframes::dayTotalsThisYearCommand("51", 3) << 14 << MeterValue::Kind::DayThisYear;
    QTest::newRow("this year, February")
        << meterframes::dayTotalsThisYearCommand("51", 2) << 28 << MeterValue::Kind::DayThisYear;
    QTest::newRow("this year, not yet")
        << meterframes::dayTotalsThisYearCommand("51", 4) << 0 << MeterValue::Kind::DayThisYear;
    QTest::newRow("last year, December")
        << meterframes::dayTotalsLastYearCommand("51", 12) << 31 << MeterValue::Kind::DayLastYear;
    QTest::newRow("last year, April")
        << meterframes::dayTotalsLastYearCommand("51", 4) << 30 << MeterValue::Kind::DayLastYear;
}

void TestSimulator::dayTotalsAsEvents()
{
    QFETCH(QString, frame);
    QFETCH(int, days);
    QFETCH(MeterValue::Kind, kind);
    startMeters(meterOptions());
    const auto events = openSession(frames::kOpenEvent);
    const auto command = openSession(frames::kOpenCommand);
    QCOMPARE(ask(*command, frame), QStringList{frames::kAck});
    // A frame after them shows that nothing more was on its way.
    m_sim->pushToEventSessions("*1*1*99##");
    QTRY_COMPARE_WITH_TIMEOUT(events->frames.size(), 2 + days + 1, kWaitMs);
    const QList<MeterValue> values = valuesOf(events->frames.mid(2, days));
    QCOMPARE(values.size(), days);
    for (int d = 0; d < days; ++d) {
        QCOMPARE(values.at(d).kind, kind);
        QCOMPARE(values.at(d).meter, 1);
        QCOMPARE(values.at(d).day, d + 1);
        QVERIFY(values.at(d).value > 0);
    }
    QCOMPARE(events->frames.last(), QStringLiteral("*1*1*99##"));
    QCOMPARE(command->frames.size(), 3); // nothing but the ACK on the command session
}

void TestSimulator::automaticUpdatesRunOutAndStop()
{
    Options options = meterOptions();
    options.tickMs = 10;
    options.meterMinuteMs = 300;
    startMeters(options);
    const auto events = openSession(frames::kOpenEvent);
    const auto command = openSession(frames::kOpenCommand);
    const QString powerPattern = QStringLiteral("^\\*#18\\*51\\*113\\*\\d+##$");

    QCOMPARE(ask(*command, meterframes::automaticUpdatesRequest("51", 1)),
             QStringList{frames::kAck});
    QTRY_VERIFY_WITH_TIMEOUT(events->frames.size() >= 4, kWaitMs);
    QCOMPARE(events->frames.at(2), QStringLiteral("*#18*51*1200#1*1##"));
    QVERIFY2(QRegularExpression(powerPattern).match(events->frames.at(3)).hasMatch(),
             qPrintable(events->frames.at(3)));
    QCOMPARE(m_sim->metersUpdating(), QList<int>{1});
    // The power changes as the household lives, and each change is pushed.
    QTRY_VERIFY_WITH_TIMEOUT(events->framesMatching(powerPattern).size() >= 3, kWaitMs);
    // Once the minute is over, nothing more.
    QTRY_VERIFY_WITH_TIMEOUT(m_sim->metersUpdating().isEmpty(), kWaitMs);
    QTest::qWait(50);
    const qsizetype pushed = events->framesMatching(powerPattern).size();
    QTest::qWait(200);
    QCOMPARE(events->framesMatching(powerPattern).size(), pushed);

    // Asked again, then stopped with 0 minutes.
    QCOMPARE(ask(*command, meterframes::automaticUpdatesRequest("51", 200)),
             QStringList{frames::kAck});
    QCOMPARE(m_sim->metersUpdating(), QList<int>{1});
    QCOMPARE(ask(*command, meterframes::automaticUpdatesRequest("51", 0)),
             QStringList{frames::kAck});
    QVERIFY(m_sim->metersUpdating().isEmpty());
}

void TestSimulator::twoMeters()
{
    Options options = meterOptions({1, 2});
    options.tickMs = 10;
    startMeters(options);
    const auto events = openSession(frames::kOpenEvent);
    const auto command = openSession(frames::kOpenCommand);
    // Meter 52 measures half of what 51 does, and has a history of its own.
    const QList<MeterValue> first =
        valuesOf(ask(*command, meterframes::hourlyHistoryRequest("51", 3, 1)));
    const QList<MeterValue> second =
        valuesOf(ask(*command, meterframes::hourlyHistoryRequest("52", 3, 1)));
    QCOMPARE(first.size(), 25);
    QCOMPARE(second.size(), 25);
    QCOMPARE(second.first().meter, 2);
    QVERIFY(second.last().value < first.last().value);
    QCOMPARE(valuesOf(ask(*command, meterframes::powerRequest("52"))).size(), 1);

    for (const QString& where : {QStringLiteral("51"), QStringLiteral("52")})
        QCOMPARE(ask(*command, meterframes::automaticUpdatesRequest(where, 3)),
                 QStringList{frames::kAck});
    QCOMPARE(m_sim->metersUpdating(), (QList<int>{1, 2}));
    QTRY_VERIFY_WITH_TIMEOUT(!events->framesMatching("^\\*#18\\*51\\*113\\*").isEmpty() &&
                                 !events->framesMatching("^\\*#18\\*52\\*113\\*").isEmpty(),
                             kWaitMs);
    QCOMPARE(events->framesMatching("\\*1200#1\\*3##$"),
             (QStringList{"*#18*51*1200#1*3##", "*#18*52*1200#1*3##"}));
}

void TestSimulator::withoutWho3_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("who3");
    QTest::addColumn<QString>("answer");
    QTest::newRow("measurement") << QString(frames::kMeasurementRequest) << false << frames::kNack;
    QTest::newRow("load states") << QString(frames::kLoadStatusRequest) << false << frames::kNack;
    QTest::newRow("power") << "*#3*10*3##" << false << frames::kNack;
    QTest::newRow("load command") << frames::loadCommandFrame(2) << false << frames::kNack;
    QTest::newRow("other WHO") << "*1*1*12##" << false << frames::kAck;
    QTest::newRow("load states with the unit")
        << QString(frames::kLoadStatusRequest) << true << frames::kAck;
}

void TestSimulator::withoutWho3()
{
    QFETCH(QString, frame);
    QFETCH(bool, who3);
    QFETCH(QString, answer);
    Options options;
    options.who3 = who3;
    m_sim = start(options);
    const auto events = openSession(frames::kOpenEvent);
    const auto command = openSession(frames::kOpenCommand);
    QCOMPARE(ask(*command, frame), QStringList{answer});
    m_sim->setLoadState(3, 0); // no unit, no load event
    m_sim->pushToEventSessions("*1*1*99##");
    QTRY_VERIFY_WITH_TIMEOUT(events->frames.contains(QStringLiteral("*1*1*99##")), kWaitMs);
    QCOMPARE(events->framesMatching("^\\*3\\*").isEmpty(), !who3);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
