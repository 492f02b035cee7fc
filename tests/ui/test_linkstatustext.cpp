#include "app/language.h"
#include "ui/main/linkstatustext.h"

#include <QTest>

using namespace powerlog;

Q_DECLARE_METATYPE(powerlog::LinkChannel)

class TestLinkStatusText : public QObject
{
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void linkDown_data();
    void linkDown();
};

void TestLinkStatusText::texts_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<LinkChannel>("channel");
    QTest::addColumn<LinkState>("state");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("text");

    const auto command = LinkChannel::Command;
    const auto monitor = LinkChannel::Monitor;
    QTest::newRow("authenticating") << "eng" << command << LinkState::Authenticating << "SHA-256"
                                    << "Authenticating with HMAC SHA-256 ...";
    QTest::newRow("authenticating, monitor")
        << "ita" << monitor << LinkState::Authenticating << "SHA-1"
        << "Autenticazione HMAC SHA-1 ... (Monitor)";
    QTest::newRow("password refused") << "eng" << command << LinkState::PasswordRefused << ""
                                      << "Password refused by the gateway";
    QTest::newRow("password refused, monitor")
        << "ita" << monitor << LinkState::PasswordRefused << ""
        << "Password rifiutata dal gateway (Monitor)";
    // The wait is given in milliseconds and shown in whole seconds, never as zero.
    QTest::newRow("re-opening, 1 ms") << "eng" << monitor << LinkState::Reopening << "1"
                                      << "Re-opening in 1 s (Monitor)";
    QTest::newRow("re-opening, 1 s") << "eng" << monitor << LinkState::Reopening << "1000"
                                     << "Re-opening in 1 s (Monitor)";
    QTest::newRow("re-opening, a little over 1 s")
        << "eng" << monitor << LinkState::Reopening << "1001"
        << "Re-opening in 2 s (Monitor)";
    QTest::newRow("re-opening, a minute") << "ita" << monitor << LinkState::Reopening << "60000"
                                          << "Riapertura tra 60 s (Monitor)";
    QTest::newRow("peer closed stays as it was") << "eng" << monitor << LinkState::PeerClosed << ""
                                                 << "Logout from server";
}

void TestLinkStatusText::texts()
{
    QFETCH(QString, language);
    QFETCH(LinkChannel, channel);
    QFETCH(LinkState, state);
    QFETCH(QString, detail);

    Texts texts;
    QVERIFY(texts.apply(language));
    QTEST(linkStatusText(texts, channel, state, detail), "text");
}

void TestLinkStatusText::linkDown_data()
{
    QTest::addColumn<LinkState>("state");
    QTest::addColumn<bool>("down");

    QTest::newRow("no connection") << LinkState::NoConnection << true;
    QTest::newRow("password missing") << LinkState::PasswordMissing << true;
    QTest::newRow("password refused") << LinkState::PasswordRefused << true;
    // Connected, but no greeting or an open refused: no session, so no reading either.
    QTest::newRow("not opened") << LinkState::NotOpened << true;
    // The monitor session's housekeeping is no reason to show the gateway as unreachable.
    QTest::newRow("re-opening") << LinkState::Reopening << false;
    QTest::newRow("authenticating") << LinkState::Authenticating << false;
}

void TestLinkStatusText::linkDown()
{
    QFETCH(LinkState, state);
    QTEST(isLinkDown(state), "down");
}

QTEST_APPLESS_MAIN(TestLinkStatusText)
#include "test_linkstatustext.moc"
