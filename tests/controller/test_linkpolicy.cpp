// The program's policy for a failing link, as one table: what happened × interface × mode →
// recording, mode, keep-alive, the retry in the background, and what the user is told.

#include "controller/linkpolicy.h"

#include <QTest>

using namespace powerlog;

Q_DECLARE_METATYPE(powerlog::LinkResponse)

class TestLinkPolicy : public QObject
{
    Q_OBJECT
private slots:
    void sessionReportsMeanEvents_data();
    void sessionReportsMeanEvents();
    void responses_data();
    void responses();
};

void TestLinkPolicy::sessionReportsMeanEvents_data()
{
    QTest::addColumn<LinkChannel>("channel");
    QTest::addColumn<LinkState>("state");
    QTest::addColumn<LinkEvent>("event");
    using C = LinkChannel;
    using S = LinkState;
    using E = LinkEvent;
    QTest::newRow("command: no connection") << C::Command << S::NoConnection << E::NoConnection;
    QTest::newRow("command: password missing")
        << C::Command << S::PasswordMissing << E::PasswordMissing;
    QTest::newRow("command: password refused")
        << C::Command << S::PasswordRefused << E::PasswordRefused;
    QTest::newRow("monitor: password refused")
        << C::Monitor << S::PasswordRefused << E::MonitorPasswordRefused;
    // The monitor session re-opens by itself; its failures end nothing.
    QTest::newRow("monitor: no connection") << C::Monitor << S::NoConnection << E::Other;
    QTest::newRow("monitor: password missing") << C::Monitor << S::PasswordMissing << E::Other;
    QTest::newRow("command: not acknowledged") << C::Command << S::FrameNotAcknowledged << E::Other;
    QTest::newRow("command: closed by the gateway") << C::Command << S::PeerClosed << E::Other;
    QTest::newRow("command: not opened") << C::Command << S::NotOpened << E::Other;
}

void TestLinkPolicy::sessionReportsMeanEvents()
{
    QFETCH(LinkChannel, channel);
    QFETCH(LinkState, state);
    QTEST(linkEvent(channel, state), "event");
}

void TestLinkPolicy::responses_data()
{
    QTest::addColumn<LinkEvent>("event");
    QTest::addColumn<bool>("stInterface");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("recording");
    QTest::addColumn<LinkResponse>("response");

    using E = LinkEvent;
    using N = Notice;
    // stop recording, fall back to manual, stop the keep-alive, retry, notice
    const auto r = [](bool stop, bool manual, bool keepAliveOff, bool retry, Notice notice) {
        return LinkResponse{stop, manual, keepAliveOff, retry, notice};
    };

    QTest::newRow("lost while polling and recording")
        << E::NoConnection << false << true << true
        << r(true, true, false, true, N::GatewayLostWhileRecording);
    QTest::newRow("lost while polling")
        << E::NoConnection << false << true << false << r(true, true, false, true, N::GatewayLost);
    // A refresh asked by hand that found no gateway: the status bar says so, nothing retries.
    QTest::newRow("lost in manual mode")
        << E::NoConnection << false << false << false << r(true, true, false, false, N::None);
    QTest::newRow("ST interface lost while recording")
        << E::NoConnection << true << false << true
        << r(true, false, false, true, N::GatewayLostWhileRecording);
    QTest::newRow("ST interface lost, not recording")
        << E::NoConnection << true << false << false << r(true, false, false, false, N::None);
    QTest::newRow("requests unanswered while recording")
        << E::RequestsUnanswered << false << true << true
        << r(true, true, false, true, N::GatewayLostWhileRecording);
    QTest::newRow("requests unanswered") << E::RequestsUnanswered << false << true << false
                                         << r(true, true, false, true, N::GatewayLost);
    // A refused password is never offered again by itself.
    QTest::newRow("password refused while polling")
        << E::PasswordRefused << false << true << true
        << r(true, true, true, false, N::PasswordRefused);
    QTest::newRow("password refused, ST interface")
        << E::PasswordRefused << true << false << true
        << r(true, false, true, false, N::PasswordRefused);
    QTest::newRow("monitor refused the password")
        << E::MonitorPasswordRefused << false << true << true
        << r(false, false, false, false, N::PasswordRefused);
    QTest::newRow("password missing") << E::PasswordMissing << false << true << true
                                      << r(false, false, false, false, N::PasswordMissing);
    QTest::newRow("nothing to act on")
        << E::Other << false << true << true << r(false, false, false, false, N::None);
}

void TestLinkPolicy::responses()
{
    QFETCH(LinkEvent, event);
    QFETCH(bool, stInterface);
    QFETCH(bool, automatic);
    QFETCH(bool, recording);
    QFETCH(LinkResponse, response);
    const LinkResponse actual = respondToLink({event, stInterface, automatic, recording});
    QCOMPARE(actual.stopRecording, response.stopRecording);
    QCOMPARE(actual.fallBackToManual, response.fallBackToManual);
    QCOMPARE(actual.stopKeepAlive, response.stopKeepAlive);
    QCOMPARE(actual.retryInBackground, response.retryInBackground);
    QCOMPARE(actual.notice, response.notice);
}

QTEST_APPLESS_MAIN(TestLinkPolicy)
#include "test_linkpolicy.moc"
