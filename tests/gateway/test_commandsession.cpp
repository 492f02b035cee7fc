#include "gateway/commandsession.h"
#include "gateway/sessiontestsupport.h"
#include "simulator/gatewaysimulator.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace powerlog;
using namespace powerlog::test;

namespace {

const QString kRequest = frames::kMeasurementRequest;
const QString kHmacPassword = QStringLiteral("Powerlog2024");

} // namespace

Q_DECLARE_METATYPE(powerlog::sim::Auth)
Q_DECLARE_METATYPE(powerlog::sim::Faults::BadRa)

class TestCommandSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensAndSends_data();
    void opensAndSends();
    void openWindowRestartsAfterThePasswordReply();
    void hmacOpensAndSends_data();
    void hmacOpensAndSends();
    void hmacOpenFails_data();
    void hmacOpenFails();
    void idleClosedSessionOpensForTheNextFrame_data();
    void idleClosedSessionOpensForTheNextFrame();
    void frameLostWithItsConnectionIsNotSentAgain();
    void sessionOpensAnewBeforeTheGatewaysIdleLimit();
    void connectsAtTheHighestPort();
    void emptyFrameOnlyOpens_data();
    void emptyFrameOnlyOpens();
    void openFailsWithoutSending_data();
    void openFailsWithoutSending();
    void connectionRefusedReportsNoConnection();
    void unacknowledgedFrameIsSentThreeTimes_data();
    void unacknowledgedFrameIsSentThreeTimes();
    void noAckWaitReportsAtOnce();
    void closingFailsEveryRequestAtOnce();
    void peerClosingDuringWaitFailsAtOnce();
    void closingTheConnectionFailsTheFrameUnderWayAndReopens();
    void replyIsReassembledAcrossSegments_data();
    void replyIsReassembledAcrossSegments();
    void replyAndAckInOneChunk();
    void answerReceivedOncePerRead_data();
    void answerReceivedOncePerRead();
    void sendWhileAnotherWaitsGetsItsOwnResult();
    void callbackMaySendAgain();
    void destroyedWithPendingRequests();
    void defaultTimingsAreTheDocumentedOnes();
    void defaultSessionWaitsTenSecondsForTheAck();

private:
    CommandSession* makeSession(SessionTimings timings = fastTimings());
    void startSimulator(const sim::Options& options = {});

    std::unique_ptr<sim::GatewaySimulator> m_sim;
    std::unique_ptr<CommandSession> m_session;
    SendResults m_results;
};

void TestCommandSession::init()
{
    m_results = {};
}

void TestCommandSession::cleanup()
{
    m_session.reset();
    m_sim.reset();
}

void TestCommandSession::startSimulator(const sim::Options& options)
{
    m_sim = std::make_unique<sim::GatewaySimulator>(options);
    QVERIFY(m_sim->listen(0));
}

CommandSession* TestCommandSession::makeSession(SessionTimings timings)
{
    m_session = std::make_unique<CommandSession>(timings);
    if (m_sim)
        m_session->setPeer(QStringLiteral("127.0.0.1"), m_sim->port());
    return m_session.get();
}

void TestCommandSession::opensAndSends_data()
{
    QTest::addColumn<QString>("gatewayPassword");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("splitFrames");

    QTest::newRow("ack to the open") << QString() << QString() << false;
    QTest::newRow("nonce, then ack") << "12345"
                                     << "12345" << false;
    QTest::newRow("nonce and acks in pieces") << "12345"
                                              << "12345" << true;
    QTest::newRow("password with spaces around") << "12345"
                                                 << " 12345 " << false;
}

void TestCommandSession::opensAndSends()
{
    QFETCH(QString, gatewayPassword);
    QFETCH(QString, password);
    QFETCH(bool, splitFrames);

    sim::Options options;
    options.password = gatewayPassword;
    options.faults.splitFrames = splitFrames;
    startSimulator(options);
    CommandSession* session = makeSession();
    session->setPassword(password);
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{true}, 3000);
    QVERIFY(session->isConnected());
    QCOMPARE(linkStates(states), (QList<LinkState>{LinkState::Connecting, LinkState::Connected,
                                                   LinkState::FrameAcknowledged}));
    QCOMPARE(linkDetails(states),
             (QStringList{QString(), "127.0.0.1:" + QString::number(m_sim->port()), kRequest}));

    const QStringList received = m_sim->receivedFrames();
    QCOMPARE(received.first(), frames::kOpenCommand);
    QCOMPARE(received.last(), kRequest);
    // With a password the gateway got exactly one reply between the open and the request.
    QCOMPARE(received.size(), gatewayPassword.isEmpty() ? 2 : 3);
}

void TestCommandSession::openWindowRestartsAfterThePasswordReply()
{
    // Each answer comes late in its window: the nonce at 70 % of the window after the open
    // frame, the ACK at 70 % after the reply. Only a window that starts again with the reply
    // lasts until the ACK.
    SessionTimings timings = fastTimings();
    timings.openWindowMs = 3000;
    ScriptedGateway gateway;
    gateway.nonce = QStringLiteral("603356072");
    gateway.password = 12345;
    gateway.answerDelayMs = timings.openWindowMs * 7 / 10;
    gateway.ackFrames.insert(kRequest);
    CommandSession* session = makeSession(timings);
    session->setPeer(QStringLiteral("127.0.0.1"), gateway.port());
    session->setPassword(QStringLiteral("12345"));
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{true}, 15000);
    QCOMPARE(linkStates(states), (QList<LinkState>{LinkState::Connecting, LinkState::Connected,
                                                   LinkState::FrameAcknowledged}));
    QCOMPARE(gateway.received(),
             (QStringList{frames::kOpenCommand, QStringLiteral("*#25280520##"), kRequest}));
}

void TestCommandSession::hmacOpensAndSends_data()
{
    QTest::addColumn<sim::Auth>("auth");
    QTest::addColumn<bool>("splitFrames");
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("digitsPerHash");

    QTest::newRow("SHA-256") << sim::Auth::HmacSha256 << false << "SHA-256" << 128;
    QTest::newRow("SHA-1") << sim::Auth::HmacSha1 << false << "SHA-1" << 80;
    QTest::newRow("SHA-256 in pieces") << sim::Auth::HmacSha256 << true << "SHA-256" << 128;
}

// The whole handshake against the simulator, which checks our proof with its own password.
void TestCommandSession::hmacOpensAndSends()
{
    QFETCH(sim::Auth, auth);
    QFETCH(bool, splitFrames);
    QFETCH(QString, method);
    QFETCH(int, digitsPerHash);

    sim::Options options;
    options.password = kHmacPassword;
    options.auth = auth;
    options.faults.splitFrames = splitFrames;
    startSimulator(options);
    CommandSession* session = makeSession();
    session->setPassword(kHmacPassword);
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{true}, 5000);
    QVERIFY(session->isConnected());
    QCOMPARE(linkStates(states),
             (QList<LinkState>{LinkState::Connecting, LinkState::Connected,
                               LinkState::Authenticating, LinkState::FrameAcknowledged}));
    QCOMPARE(linkDetails(states).at(2), method);

    // The open, our ACK to the choice of hash, Rb with our proof, our ACK to the gateway's
    // proof, then the request: each once.
    const QStringList received = m_sim->receivedFrames();
    QCOMPARE(received.size(), 5);
    QCOMPARE(received.at(0), frames::kOpenCommand);
    QCOMPARE(received.at(1), frames::kAck);
    const QRegularExpression reply(QStringLiteral("^\\*#\\d{%1}\\*\\d{%1}##$").arg(digitsPerHash));
    QVERIFY2(reply.match(received.at(2)).hasMatch(), qPrintable(received.at(2)));
    QCOMPARE(received.at(3), frames::kAck);
    QCOMPARE(received.at(4), kRequest);
    QCOMPARE(m_sim->refusedPasswords(), 0);
}

void TestCommandSession::hmacOpenFails_data()
{
    QTest::addColumn<sim::Auth>("auth");
    QTest::addColumn<QString>("password");
    QTest::addColumn<sim::Faults::BadRa>("badRa");
    QTest::addColumn<bool>("wrongConfirmation");
    QTest::addColumn<LinkState>("state");
    // What reached the gateway after the open frame; "reply" stands for Rb with our proof.
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("refused"); // password checks the gateway failed

    using BadRa = sim::Faults::BadRa;
    const QString ack = frames::kAck;
    const QString nack = frames::kNack;
    QTest::newRow("wrong password")
        << sim::Auth::HmacSha256 << "Powerlog2025" << BadRa::None << false
        << LinkState::PasswordRefused << QStringList{ack, "reply"} << 1;
    QTest::newRow("wrong password, SHA-1")
        << sim::Auth::HmacSha1 << "12345" << BadRa::None << false << LinkState::PasswordRefused
        << QStringList{ack, "reply"} << 1;
    QTest::newRow("the gateway's proof is wrong")
        << sim::Auth::HmacSha256 << kHmacPassword << BadRa::None << true
        << LinkState::PasswordRefused << QStringList{ack, "reply", nack} << 0;
    QTest::newRow("Ra one digit short")
        << sim::Auth::HmacSha256 << kHmacPassword << BadRa::WrongLength << false
        << LinkState::NotOpened << QStringList{ack, nack} << 0;
    QTest::newRow("Ra with a pair above 15")
        << sim::Auth::HmacSha1 << kHmacPassword << BadRa::PairAbove15 << false
        << LinkState::NotOpened << QStringList{ack, nack} << 0;
    QTest::newRow("password missing") << sim::Auth::HmacSha256 << " " << BadRa::None << false
                                      << LinkState::PasswordMissing << QStringList() << 0;
}

void TestCommandSession::hmacOpenFails()
{
    QFETCH(sim::Auth, auth);
    QFETCH(QString, password);
    QFETCH(sim::Faults::BadRa, badRa);
    QFETCH(bool, wrongConfirmation);
    QFETCH(LinkState, state);
    QFETCH(QStringList, after);

    sim::Options options;
    options.password = kHmacPassword;
    options.auth = auth;
    options.faults.badRa = badRa;
    options.faults.wrongConfirmation = wrongConfirmation;
    startSimulator(options);
    // A refusal ends the open at once, not when the window runs out.
    SessionTimings timings = fastTimings();
    timings.openWindowMs = 60000;
    CommandSession* session = makeSession(timings);
    session->setPassword(password);
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 5000);
    QVERIFY(!session->isConnected());
    QCOMPARE(linkStates(states).last(), state);
    QCOMPARE(linkStates(states).count(state), 1);
    QStringList expected{frames::kOpenCommand};
    expected << after;
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().size(), expected.size(), 3000);
    QStringList received = m_sim->receivedFrames();
    static const QRegularExpression reply(QStringLiteral("^\\*#\\d+\\*\\d+##$"));
    for (QString& frame : received) {
        if (reply.match(frame).hasMatch())
            frame = QStringLiteral("reply");
    }
    QCOMPARE(received, expected);
    QTEST(m_sim->refusedPasswords(), "refused");
}

void TestCommandSession::idleClosedSessionOpensForTheNextFrame_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<sim::Auth>("auth");

    QTest::newRow("no password") << QString() << sim::Auth::Numeric;
    QTest::newRow("numeric") << "12345" << sim::Auth::Numeric;
    QTest::newRow("HMAC SHA-256") << kHmacPassword << sim::Auth::HmacSha256;
}

// The gateway closes a command session that stays idle; the next frame opens a new one and
// goes out exactly once.
void TestCommandSession::idleClosedSessionOpensForTheNextFrame()
{
    QFETCH(QString, password);
    QFETCH(sim::Auth, auth);

    sim::Options options;
    options.password = password;
    options.auth = auth;
    options.commandIdleCloseMs = 1000;
    startSimulator(options);
    CommandSession* session = makeSession();
    session->setPassword(password);
    QSignalSpy states(session, &CommandSession::linkStateChanged);
    session->send(kRequest, m_results.callback(kRequest));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{true}, 5000);

    QTRY_VERIFY_WITH_TIMEOUT(linkStates(states).contains(LinkState::PeerClosed), 10000);
    QVERIFY(!session->isConnected());
    const QString command = frames::loadCommandFrame(4);
    session->send(command, m_results.callback(command));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), (QList<bool>{true, true}), 5000);
    QCOMPARE(m_sim->receivedFrames().count(command), 1);
    QCOMPARE(m_sim->receivedFrames().count(kRequest), 1);
    QCOMPARE(m_sim->receivedFrames().count(frames::kOpenCommand), 2);
    QCOMPARE(m_sim->connectionCount(), 2);
    QCOMPARE(m_sim->recycledSessions(), 1);
    QCOMPARE(linkStates(states).last(), LinkState::FrameAcknowledged);
}

// A frame written just before the gateway closed may have been acted on: it fails, and only the
// next frame goes out on the new connection.
void TestCommandSession::frameLostWithItsConnectionIsNotSentAgain()
{
    ScriptedGateway gateway;
    const QString command = frames::loadCommandFrame(4);
    gateway.closeOnFrames.insert(command);
    gateway.ackFrames.insert(kRequest);
    CommandSession* session = makeSession();
    session->setPeer(QStringLiteral("127.0.0.1"), gateway.port());

    session->send(command, m_results.callback(command));
    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 2, 5000);
    QCOMPARE(m_results.oks(), (QList<bool>{false, true}));
    QCOMPARE(gateway.received(),
             (QStringList{frames::kOpenCommand, command, frames::kOpenCommand, kRequest}));
}

// Once the gateway has closed a session for idleness, a session idle that long is opened anew
// before the next frame, rather than risking the frame on a connection that is just closing.
void TestCommandSession::sessionOpensAnewBeforeTheGatewaysIdleLimit()
{
    sim::Options options;
    options.password = kHmacPassword;
    options.auth = sim::Auth::HmacSha256;
    options.commandIdleCloseMs = 1000;
    startSimulator(options);
    CommandSession* session = makeSession();
    session->setPassword(kHmacPassword);
    QSignalSpy states(session, &CommandSession::linkStateChanged);
    QElapsedTimer sinceAnswer;
    session->send(kRequest, [&](bool ok) {
        m_results.entries.append({kRequest, ok});
        sinceAnswer.start();
    });
    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{true}, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(linkStates(states).contains(LinkState::PeerClosed), 10000);
    // At least as long as the session saw between the gateway's last answer and its close.
    const qint64 idleLimitMs = sinceAnswer.elapsed();

    // From here on the gateway lets sessions idle for ever, so only our side closes one.
    options.commandIdleCloseMs = 0;
    m_sim->setOptions(options);
    session->send(kRequest, [&](bool ok) {
        m_results.entries.append({kRequest, ok});
        sinceAnswer.start();
    });
    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), (QList<bool>{true, true}), 5000);
    QTest::qWait(int(idleLimitMs) + 100);
    QVERIFY(session->isConnected()); // the gateway did not close it
    states.clear();
    const QString command = frames::loadCommandFrame(2);
    session->send(command, m_results.callback(command));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), (QList<bool>{true, true, true}), 5000);
    QCOMPARE(linkStates(states),
             (QList<LinkState>{LinkState::Connecting, LinkState::Connected,
                               LinkState::Authenticating, LinkState::FrameAcknowledged}));
    QCOMPARE(m_sim->receivedFrames().count(frames::kOpenCommand), 3);
    QCOMPARE(m_sim->receivedFrames().count(command), 1);
    QCOMPARE(m_sim->recycledSessions(), 1);
}

void TestCommandSession::connectsAtTheHighestPort()
{
    ScriptedGateway gateway(65535);
    if (!gateway.isListening())
        QSKIP("port 65535 is taken on this machine's loopback");
    CommandSession* session = makeSession();
    session->setPeer(QStringLiteral("127.0.0.1"), 65535);
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(QString(), m_results.callback(QString()));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 1, 3000);
    QVERIFY(session->isConnected());
    QCOMPARE(linkStates(states), (QList<LinkState>{LinkState::Connecting, LinkState::Connected}));
    QCOMPARE(linkDetails(states).last(), QStringLiteral("127.0.0.1:65535"));
    QCOMPARE(gateway.received(), QStringList{frames::kOpenCommand});
}

void TestCommandSession::emptyFrameOnlyOpens_data()
{
    QTest::addColumn<bool>("stInterface");
    QTest::addColumn<QString>("openFrame");

    QTest::newRow("BT gateway") << false << frames::kOpenCommand;
    QTest::newRow("ST interface") << true << frames::kOpenEvent;
}

void TestCommandSession::emptyFrameOnlyOpens()
{
    QFETCH(bool, stInterface);
    QFETCH(QString, openFrame);

    startSimulator();
    CommandSession* session = makeSession();
    session->setStInterface(stInterface);
    // Nothing is sent, so there is nothing to report at once either.
    session->send(QString(), CommandSession::AckPolicy::NoAckWait, m_results.callback(QString()));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QVERIFY(session->isConnected());
    QCOMPARE(m_sim->receivedFrames(), QStringList{openFrame});
}

void TestCommandSession::openFailsWithoutSending_data()
{
    QTest::addColumn<QString>("gatewayPassword");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("noGreeting");
    QTest::addColumn<LinkState>("state");

    QTest::newRow("no greeting") << QString() << QString() << true << LinkState::NotOpened;
    QTest::newRow("password missing")
        << "12345" << QString() << false << LinkState::PasswordMissing;
    QTest::newRow("password not a number") << "12345"
                                           << "12a45" << false << LinkState::PasswordMissing;
    QTest::newRow("password with a sign") << "12345"
                                          << "+12345" << false << LinkState::PasswordMissing;
    QTest::newRow("password beyond 32 bits") << "12345"
                                             << "4294967296" << false << LinkState::PasswordMissing;
    QTest::newRow("wrong password") << "12345"
                                    << "54321" << false << LinkState::PasswordRefused;
}

void TestCommandSession::openFailsWithoutSending()
{
    QFETCH(QString, gatewayPassword);
    QFETCH(QString, password);
    QFETCH(bool, noGreeting);
    QFETCH(LinkState, state);

    sim::Options options;
    options.password = gatewayPassword;
    options.faults.noGreeting = noGreeting;
    startSimulator(options);
    // An open window far longer than the test: a refusal or a nonce nobody can answer ends the
    // open at once, not when the window runs out.
    SessionTimings timings = fastTimings();
    timings.openWindowMs = 60000;
    CommandSession* session = makeSession(timings);
    session->setPassword(password);
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QVERIFY(!session->isConnected());
    // Exactly one state tells why.
    QCOMPARE(linkStates(states),
             (QList<LinkState>{LinkState::Connecting, LinkState::Connected, state}));
    QVERIFY(!m_sim->receivedFrames().contains(kRequest));
    if (noGreeting)
        QVERIFY(m_sim->receivedFrames().isEmpty());
    else if (state == LinkState::PasswordMissing)
        QCOMPARE(m_sim->receivedFrames(), QStringList{frames::kOpenCommand});
}

void TestCommandSession::connectionRefusedReportsNoConnection()
{
    CommandSession* session = makeSession();
    session->setPeer(QStringLiteral("127.0.0.1"), closedLoopbackPort());
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QCOMPARE(linkStates(states),
             (QList<LinkState>{LinkState::Connecting, LinkState::NoConnection}));
}

void TestCommandSession::unacknowledgedFrameIsSentThreeTimes_data()
{
    QTest::addColumn<bool>("nackAll");
    QTest::addColumn<bool>("silent");

    QTest::newRow("NACK to every attempt") << true << false;
    QTest::newRow("no answer at all") << false << true;
}

void TestCommandSession::unacknowledgedFrameIsSentThreeTimes()
{
    QFETCH(bool, nackAll);
    QFETCH(bool, silent);

    sim::Options options;
    options.faults.nackAll = nackAll;
    options.faults.silent = silent;
    startSimulator(options);
    CommandSession* session = makeSession();
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QCOMPARE(m_sim->receivedFrames().count(kRequest), 3);
    QCOMPARE(linkStates(states).last(), LinkState::FrameNotAcknowledged);
    QCOMPARE(linkDetails(states).last(), kRequest);
    QCOMPARE(linkStates(states).count(LinkState::FrameNotAcknowledged), 1);
    QVERIFY(session->isConnected()); // the session stays open
}

void TestCommandSession::noAckWaitReportsAtOnce()
{
    sim::Options options;
    options.faults.silent = true; // even a gateway that never answers
    startSimulator(options);
    CommandSession* session = makeSession();
    // Open first, so the only thing left to wait for would be the ACK.
    session->send(QString(), m_results.callback(QString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 1, 3000);

    session->send(kRequest, CommandSession::AckPolicy::NoAckWait, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), (QList<bool>{false, true}), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(kRequest), 1, 3000);
    QVERIFY(session->isConnected());
}

void TestCommandSession::closingFailsEveryRequestAtOnce()
{
    sim::Options options;
    options.faults.silent = true;
    startSimulator(options);
    CommandSession* session = makeSession();
    const QString second = frames::loadCommandFrame(4);
    session->send(kRequest, m_results.callback(kRequest));
    session->send(second, m_results.callback(second));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(kRequest), 1, 3000);
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->setClosing();

    // Delivered before setClosing returned, in queue order.
    QCOMPARE(m_results.frames(), (QStringList{kRequest, second}));
    QCOMPARE(m_results.oks(), (QList<bool>{false, false}));
    QVERIFY(session->isClosing());
    QVERIFY(!session->isConnected());

    // Nothing connects or sends any more.
    session->send(kRequest, m_results.callback(QStringLiteral("after")));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 3, 1000);
    QCOMPARE(m_results.entries.last().ok, false);
    QCOMPARE(m_sim->receivedFrames().count(kRequest), 1);
    QCOMPARE(m_sim->connectionCount(), 1);
    QVERIFY(states.isEmpty()); // our own close is not the gateway's
}

void TestCommandSession::peerClosingDuringWaitFailsAtOnce()
{
    sim::Options options;
    options.faults.silent = true;
    options.faults.closeAfterFrames = 2; // the open frame and the request
    startSimulator(options);
    CommandSession* session = makeSession();
    QSignalSpy states(session, &CommandSession::linkStateChanged);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QCOMPARE(m_sim->receivedFrames().count(kRequest), 1); // no further attempt
    QCOMPARE(linkStates(states).last(), LinkState::PeerClosed);
    QVERIFY(!session->isConnected());
}

// A change of interface closes the connection: the frame waiting for its ACK fails at once, and
// the next frame opens a new session of the kind now set.
void TestCommandSession::closingTheConnectionFailsTheFrameUnderWayAndReopens()
{
    sim::Options options;
    options.faults.silent = true;
    startSimulator(options);
    CommandSession* session = makeSession();
    session->send(kRequest, m_results.callback(kRequest));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(kRequest), 1, 5000);
    QCOMPARE(m_results.oks(), QList<bool>());

    session->closeConnection();
    QCOMPARE(m_results.oks(), QList<bool>{false});
    QVERIFY(!session->isConnected());
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->openCommandSessions(), 0, 5000);

    session->setStInterface(true);
    session->send(QString(), m_results.callback(QString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->openEventSessions(), 1, 5000);
    QCOMPARE(m_sim->openCommandSessions(), 0);
}

void TestCommandSession::replyIsReassembledAcrossSegments_data()
{
    QTest::addColumn<bool>("splitFrames");
    QTest::addColumn<bool>("garbageBetween");

    QTest::newRow("split into segments") << true << false;
    QTest::newRow("junk between frames") << false << true;
    QTest::newRow("both") << true << true;
}

void TestCommandSession::replyIsReassembledAcrossSegments()
{
    QFETCH(bool, splitFrames);
    QFETCH(bool, garbageBetween);

    sim::Options options;
    options.faults.splitFrames = splitFrames;
    options.faults.garbageBetween = garbageBetween;
    startSimulator(options);
    m_sim->setReading(QStringLiteral("230"), QStringLiteral("2"), QStringLiteral("460"),
                      QStringLiteral("1234"));
    CommandSession* session = makeSession();
    QSignalSpy received(session, &CommandSession::frameReceived);

    session->send(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{true}, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 3000);
    const QString frame = received.first().at(0).toString();
    QCOMPARE(frame, QStringLiteral("*#3*10*0*230*2*460*1234##"));
}

void TestCommandSession::replyAndAckInOneChunk()
{
    ScriptedGateway gateway;
    CommandSession* session = makeSession();
    session->setPeer(QStringLiteral("127.0.0.1"), gateway.port());
    QSignalSpy answers(session, &CommandSession::answerReceived);
    QSignalSpy received(session, &CommandSession::frameReceived);
    const QByteArray chunk = "*#3*10*0*230*2*460*1234##*#*1##";

    // Open first, then answer the request with the reply and the ACK in one write.
    session->send(QString(), m_results.callback(QString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 1, 3000);
    session->send(kRequest, m_results.callback(kRequest));
    QTRY_COMPARE_WITH_TIMEOUT(gateway.countOf(kRequest), 1, 3000);
    gateway.sendOn(frames::kOpenCommand, chunk);

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), (QList<bool>{false, true}), 3000);
    // The greeting and the open's ACK were bare answers; the reply's read was not.
    QCOMPARE(answers.count(), 1);
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.first().at(0).toString(), QStringLiteral("*#3*10*0*230*2*460*1234##"));
}

void TestCommandSession::answerReceivedOncePerRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("answers");
    QTest::addColumn<QStringList>("frames");

    QTest::newRow("bare ACK") << QByteArray("*#*1##") << 0 << QStringList();
    QTest::newRow("bare NACK") << QByteArray("*#*0##") << 0 << QStringList();
    QTest::newRow("two ACKs") << QByteArray("*#*1##*#*1##") << 1 << QStringList();
    QTest::newRow("NACK behind junk") << QByteArray("xx\x01*#*0##") << 1 << QStringList();
    QTest::newRow("half a reply") << QByteArray("*#3*10*0*230") << 1 << QStringList();
    QTest::newRow("reply and ACK") << QByteArray("*#3*10*0*230*2*460*1234##*#*1##") << 1
                                   << QStringList{"*#3*10*0*230*2*460*1234##"};
}

void TestCommandSession::answerReceivedOncePerRead()
{
    QFETCH(QByteArray, bytes);

    ScriptedGateway gateway;
    CommandSession* session = makeSession();
    session->setPeer(QStringLiteral("127.0.0.1"), gateway.port());
    session->send(QString(), m_results.callback(QString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 1, 3000);
    // Connected after the session's own handler, so a read is done with when this sees it.
    QSignalSpy reads(session->findChild<QTcpSocket*>(QStringLiteral("Winsock1")),
                     &QTcpSocket::readyRead);
    QSignalSpy answers(session, &CommandSession::answerReceived);
    QSignalSpy received(session, &CommandSession::frameReceived);

    gateway.sendOn(frames::kOpenCommand, bytes);

    QTRY_COMPARE_WITH_TIMEOUT(reads.count(), 1, 3000);
    QTEST(int(answers.count()), "answers");
    QStringList frames;
    for (const auto& args : received)
        frames << args.at(0).toString();
    QTEST(frames, "frames");
}

void TestCommandSession::sendWhileAnotherWaitsGetsItsOwnResult()
{
    ScriptedGateway gateway;
    const QString ignored = frames::loadCommandFrame(1);
    const QString acknowledged = frames::loadCommandFrame(2);
    gateway.ackFrames.insert(acknowledged);
    CommandSession* session = makeSession();
    session->setPeer(QStringLiteral("127.0.0.1"), gateway.port());

    session->send(ignored, m_results.callback(ignored));
    QTRY_COMPARE_WITH_TIMEOUT(gateway.countOf(ignored), 1, 3000);
    // The first one is now waiting for its ACK.
    session->send(acknowledged, m_results.callback(acknowledged));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 2, 3000);
    QCOMPARE(m_results.frames(), (QStringList{ignored, acknowledged}));
    QCOMPARE(m_results.oks(), (QList<bool>{false, true}));
    // The second frame went out only after the first had used its three attempts.
    QCOMPARE(gateway.received(),
             (QStringList{frames::kOpenCommand, ignored, ignored, ignored, acknowledged}));
}

void TestCommandSession::callbackMaySendAgain()
{
    startSimulator();
    CommandSession* session = makeSession();
    const QString next = frames::loadCommandFrame(3);

    session->send(kRequest, [&](bool ok) {
        m_results.entries.append({kRequest, ok});
        session->send(next, m_results.callback(next));
    });

    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 2, 3000);
    QCOMPARE(m_results.frames(), (QStringList{kRequest, next}));
    QCOMPARE(m_results.oks(), (QList<bool>{true, true}));
}

void TestCommandSession::destroyedWithPendingRequests()
{
    sim::Options options;
    options.faults.silent = true;
    startSimulator(options);
    CommandSession* session = makeSession();
    session->send(kRequest, m_results.callback(kRequest));
    session->send(kRequest, m_results.callback(kRequest));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(kRequest), 1, 3000);

    m_session.reset();

    // Dropped with the session: nothing is delivered afterwards, and nothing crashes.
    QVERIFY(m_results.entries.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->openCommandSessions(), 0, 3000);
    QVERIFY(m_results.entries.isEmpty());
}

void TestCommandSession::defaultTimingsAreTheDocumentedOnes()
{
    // What a session built without timings uses; the waits that a test can watch in
    // reasonable time are watched below and in the monitor session's tests.
    const SessionTimings defaults;
    QCOMPARE(defaults.connectMs, 10000);
    QCOMPARE(defaults.greetingMs, 10000);
    QCOMPARE(defaults.openWindowMs, 1000);
    QCOMPARE(defaults.ackWaitMs, 10000);
    QCOMPARE(defaults.attempts, 3);
    QCOMPARE(defaults.reopenFirstMs, 1000);
    QCOMPARE(defaults.reopenLongestMs, 60000);
    QCOMPARE(defaults.reopenResetAfterMs, 60000);
}

void TestCommandSession::defaultSessionWaitsTenSecondsForTheAck()
{
    ScriptedGateway gateway; // acknowledges the open, never the frame
    m_session = std::make_unique<CommandSession>();
    CommandSession* session = m_session.get();
    session->setPeer(QStringLiteral("127.0.0.1"), gateway.port());
    session->send(QString(), m_results.callback(QString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 1, 5000);

    // Started before the frame leaves, so it fires before a 10 s wait for the ACK could end.
    int copiesAtCheck = -1;
    qsizetype resultsAtCheck = -1;
    QTimer::singleShot(8000, this, [&] {
        copiesAtCheck = gateway.countOf(kRequest);
        resultsAtCheck = m_results.entries.size();
    });
    session->send(kRequest, m_results.callback(kRequest));

    QTRY_VERIFY_WITH_TIMEOUT(copiesAtCheck >= 0, 20000);
    QCOMPARE(copiesAtCheck, 1);
    QCOMPARE(resultsAtCheck, 1);
    // And the wait does end: the second attempt follows.
    QTRY_COMPARE_WITH_TIMEOUT(gateway.countOf(kRequest), 2, 8000);
    QCOMPARE(m_results.entries.size(), 1);
}

QTEST_GUILESS_MAIN(TestCommandSession)
#include "test_commandsession.moc"
