#include "gateway/commandsession.h"
#include "gateway/sessiontestsupport.h"
#include "simulator/gatewaysimulator.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace powerlog;
using namespace powerlog::test;

namespace {

const QString kRequest = frames::kMeasurementRequest;

} // namespace

class TestCommandSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensAndSends_data();
    void opensAndSends();
    void emptyFrameOnlyOpens_data();
    void emptyFrameOnlyOpens();
    void openFailsWithoutSending_data();
    void openFailsWithoutSending();
    void connectionRefusedFallsBackToManual();
    void unacknowledgedFrameIsSentThreeTimes_data();
    void unacknowledgedFrameIsSentThreeTimes();
    void noAckWaitReportsAtOnce();
    void closingFailsEveryRequestAtOnce();
    void peerClosingDuringWaitFailsAtOnce();
    void replyIsReassembledAcrossSegments_data();
    void replyIsReassembledAcrossSegments();
    void replyAndAckInOneChunk();
    void sendWhileAnotherWaitsGetsItsOwnResult();
    void callbackMaySendAgain();
    void destroyedWithPendingRequests();

private:
    CommandSession* makeSession(const QString& language = QStringLiteral("eng"));
    void startSimulator(const sim::Options& options = {});

    SharedTexts m_texts;
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

CommandSession* TestCommandSession::makeSession(const QString& language)
{
    m_texts = textsFor(language);
    m_session = std::make_unique<CommandSession>(m_texts, fastTimings());
    if (m_sim)
        m_session->setPeer(QStringLiteral("127.0.0.1"), m_sim->port());
    return m_session.get();
}

void TestCommandSession::opensAndSends_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("gatewayPassword");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("connectedPrefix");
    QTest::addColumn<QString>("sentText");
    QTest::addColumn<bool>("splitFrames");

    const QString english = QStringLiteral("Connected  127.0.0.1:");
    const QString sent = QStringLiteral("sent (*#3*10*0##)");
    QTest::newRow("ack to the open") << "eng" << QString() << QString() << english << sent << false;
    QTest::newRow("nonce, then ack") << "eng"
                                     << "12345"
                                     << "12345" << english << sent << false;
    QTest::newRow("nonce and acks in pieces") << "eng"
                                              << "12345"
                                              << "12345" << english << sent << true;
    QTest::newRow("italian") << "ita" << QString() << QString() << "Connesso  127.0.0.1:"
                             << "Inviato (*#3*10*0##)" << false;
}

void TestCommandSession::opensAndSends()
{
    QFETCH(QString, language);
    QFETCH(QString, gatewayPassword);
    QFETCH(QString, password);
    QFETCH(QString, connectedPrefix);
    QFETCH(QString, sentText);
    QFETCH(bool, splitFrames);

    sim::Options options;
    options.password = gatewayPassword;
    options.faults.splitFrames = splitFrames;
    startSimulator(options);
    CommandSession* session = makeSession(language);
    session->setPassword(password);
    QSignalSpy status(session, &CommandSession::statusText);
    QSignalSpy fallback(session, &CommandSession::fallbackToManual);

    session->SendTCP(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{true}, 3000);
    QVERIFY(session->isConnected());
    const QStringList texts = statusTexts(status);
    QCOMPARE(texts.size(), 3);
    QCOMPARE(texts.at(0), m_texts.connecting);
    QCOMPARE(texts.at(1), connectedPrefix + QString::number(m_sim->port()));
    QCOMPARE(texts.at(2), sentText);
    QCOMPARE(fallback.count(), 0);

    const QStringList received = m_sim->receivedFrames();
    QCOMPARE(received.first(), frames::kOpenCommand);
    QCOMPARE(received.last(), kRequest);
    // With a password the gateway got exactly one reply between the open and the request.
    QCOMPARE(received.size(), gatewayPassword.isEmpty() ? 2 : 3);
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
    session->setNoAckWait(true);

    session->SendTCP(QString(), m_results.callback(QString()));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QVERIFY(session->isConnected());
    QCOMPARE(m_sim->receivedFrames(), QStringList{openFrame});
    // Nothing was sent, so the flag still waits for the next frame.
    QVERIFY(session->NoAckWait());
}

void TestCommandSession::openFailsWithoutSending_data()
{
    QTest::addColumn<QString>("gatewayPassword");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("noGreeting");
    QTest::addColumn<int>("passwordWarnings");
    QTest::addColumn<QList<int>>("trayIcons");

    QTest::newRow("no greeting") << QString() << QString() << true << 0 << QList<int>();
    QTest::newRow("password missing") << "12345" << QString() << false << 1 << QList<int>{0};
    QTest::newRow("password not a number") << "12345"
                                           << "12a45" << false << 1 << QList<int>{0};
    QTest::newRow("wrong password") << "12345"
                                    << "54321" << false << 0 << QList<int>();
}

void TestCommandSession::openFailsWithoutSending()
{
    QFETCH(QString, gatewayPassword);
    QFETCH(QString, password);
    QFETCH(bool, noGreeting);
    QFETCH(int, passwordWarnings);
    QFETCH(QList<int>, trayIcons);

    sim::Options options;
    options.password = gatewayPassword;
    options.faults.noGreeting = noGreeting;
    startSimulator(options);
    CommandSession* session = makeSession();
    session->setPassword(password);
    QSignalSpy status(session, &CommandSession::statusText);
    QSignalSpy warnings(session, &CommandSession::passwordMissing);
    QSignalSpy tray(session, &CommandSession::trayIconRequested);
    QSignalSpy fallback(session, &CommandSession::fallbackToManual);

    session->SendTCP(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QVERIFY(!session->isConnected());
    QCOMPARE(statusTexts(status).last(), m_texts.noConnection);
    QCOMPARE(warnings.count(), passwordWarnings);
    QCOMPARE(intArgs(tray), trayIcons);
    QCOMPARE(fallback.count(), 0); // only a missing connection changes the mode
    QVERIFY(!m_sim->receivedFrames().contains(kRequest));
    if (noGreeting)
        QVERIFY(m_sim->receivedFrames().isEmpty());
    else if (password.isEmpty() || passwordWarnings > 0)
        QCOMPARE(m_sim->receivedFrames(), QStringList{frames::kOpenCommand});
}

void TestCommandSession::connectionRefusedFallsBackToManual()
{
    CommandSession* session = makeSession();
    session->setPeer(QStringLiteral("127.0.0.1"), closedLoopbackPort());
    QSignalSpy status(session, &CommandSession::statusText);
    QSignalSpy tray(session, &CommandSession::trayIconRequested);
    QSignalSpy fallback(session, &CommandSession::fallbackToManual);

    session->SendTCP(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QCOMPARE(statusTexts(status), (QStringList{m_texts.connecting, m_texts.noConnection}));
    QCOMPARE(intArgs(tray), QList<int>{0});
    QCOMPARE(fallback.count(), 1);
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
    QSignalSpy status(session, &CommandSession::statusText);

    session->SendTCP(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QCOMPARE(m_sim->receivedFrames().count(kRequest), 3);
    QCOMPARE(statusTexts(status).last(),
             QStringLiteral("Not recived ACK after 3 Attemps.  *#3*10*0##"));
    QVERIFY(session->isConnected()); // the session stays open
}

void TestCommandSession::noAckWaitReportsAtOnce()
{
    sim::Options options;
    options.faults.silent = true; // even a gateway that never answers
    startSimulator(options);
    CommandSession* session = makeSession();
    // Open first, so the only thing left to wait for would be the ACK.
    session->SendTCP(QString(), m_results.callback(QString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 1, 3000);

    session->setNoAckWait(true);
    session->SendTCP(kRequest, m_results.callback(kRequest));
    QVERIFY(!session->NoAckWait());

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
    session->SendTCP(kRequest, m_results.callback(kRequest));
    session->SendTCP(second, m_results.callback(second));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(kRequest), 1, 3000);

    session->setClosing();

    // Delivered before setClosing returned, in queue order.
    QCOMPARE(m_results.frames(), (QStringList{kRequest, second}));
    QCOMPARE(m_results.oks(), (QList<bool>{false, false}));
    QVERIFY(session->isClosing());
    QVERIFY(!session->isConnected());

    // Nothing connects or sends any more.
    session->SendTCP(kRequest, m_results.callback(QStringLiteral("after")));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 3, 1000);
    QCOMPARE(m_results.entries.last().ok, false);
    QCOMPARE(m_sim->receivedFrames().count(kRequest), 1);
    QCOMPARE(m_sim->connectionCount(), 1);
}

void TestCommandSession::peerClosingDuringWaitFailsAtOnce()
{
    sim::Options options;
    options.faults.silent = true;
    options.faults.closeAfterFrames = 2; // the open frame and the request
    startSimulator(options);
    CommandSession* session = makeSession();
    QSignalSpy status(session, &CommandSession::statusText);

    session->SendTCP(kRequest, m_results.callback(kRequest));

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), QList<bool>{false}, 3000);
    QCOMPARE(m_sim->receivedFrames().count(kRequest), 1); // no further attempt
    QCOMPARE(statusTexts(status).last(), m_texts.peerClosed);
    QVERIFY(!session->isConnected());
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

    session->SendTCP(kRequest, m_results.callback(kRequest));

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
    QSignalSpy chunks(session, &CommandSession::dataArrived);
    QSignalSpy received(session, &CommandSession::frameReceived);
    const QByteArray chunk = "*#3*10*0*230*2*460*1234##*#*1##";

    // Open first, then answer the request with the reply and the ACK in one write.
    session->SendTCP(QString(), m_results.callback(QString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_results.entries.size(), 1, 3000);
    session->SendTCP(kRequest, m_results.callback(kRequest));
    QTRY_COMPARE_WITH_TIMEOUT(gateway.countOf(kRequest), 1, 3000);
    gateway.sendOn(frames::kOpenCommand, chunk);

    QTRY_COMPARE_WITH_TIMEOUT(m_results.oks(), (QList<bool>{false, true}), 3000);
    QCOMPARE(chunks.last().at(0).toString(), QString::fromLatin1(chunk));
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.first().at(0).toString(), QStringLiteral("*#3*10*0*230*2*460*1234##"));
}

void TestCommandSession::sendWhileAnotherWaitsGetsItsOwnResult()
{
    ScriptedGateway gateway;
    const QString ignored = frames::loadCommandFrame(1);
    const QString acknowledged = frames::loadCommandFrame(2);
    gateway.ackFrames.insert(acknowledged);
    CommandSession* session = makeSession();
    session->setPeer(QStringLiteral("127.0.0.1"), gateway.port());

    session->SendTCP(ignored, m_results.callback(ignored));
    QTRY_COMPARE_WITH_TIMEOUT(gateway.countOf(ignored), 1, 3000);
    // The first one is now waiting for its ACK.
    session->SendTCP(acknowledged, m_results.callback(acknowledged));

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

    session->SendTCP(kRequest, [&](bool ok) {
        m_results.entries.append({kRequest, ok});
        session->SendTCP(next, m_results.callback(next));
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
    session->SendTCP(kRequest, m_results.callback(kRequest));
    session->SendTCP(kRequest, m_results.callback(kRequest));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(kRequest), 1, 3000);

    m_session.reset();

    // Dropped with the session: nothing is delivered afterwards, and nothing crashes.
    QVERIFY(m_results.entries.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->openCommandSessions(), 0, 3000);
    QVERIFY(m_results.entries.isEmpty());
}

QTEST_GUILESS_MAIN(TestCommandSession)
#include "test_commandsession.moc"
