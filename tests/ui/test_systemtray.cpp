#include "ui/common/platform.h"

#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <optional>

using powerlog::SystemTray;
using powerlog::Tray;

// What the notification-area icon reports, as Qt delivers it: Qt's own balloon reports a press
// on the icon while the balloon shows as messageClicked, and then activated, in one call.
class TestSystemTray : public QObject
{
    Q_OBJECT

private slots:
    void aPressOnTheIconIsNoBalloonClick_data()
    {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<QByteArray>("reported"); // the tray's own signal for it, if any
        QTest::newRow("left click")
            << QSystemTrayIcon::Trigger << QByteArray(SIGNAL(leftClicked()));
        QTest::newRow("right click")
            << QSystemTrayIcon::Context << QByteArray(SIGNAL(menuRequested()));
        QTest::newRow("double click")
            << QSystemTrayIcon::DoubleClick << QByteArray(SIGNAL(doubleClicked()));
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << QByteArray();
    }

    void aPressOnTheIconIsNoBalloonClick()
    {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(QByteArray, reported);
        SystemTray tray;
        QSystemTrayIcon* icon = tray.findChild<QSystemTrayIcon*>();
        QVERIFY(icon);
        QSignalSpy balloon(&tray, &Tray::balloonClicked);
        std::optional<QSignalSpy> iconSignal;
        if (!reported.isEmpty())
            iconSignal.emplace(&tray, reported.constData());

        emit icon->messageClicked();
        emit icon->activated(reason);
        QCoreApplication::sendPostedEvents();

        QCOMPARE(balloon.count(), 0);
        if (iconSignal)
            QCOMPARE(iconSignal->count(), 1);
    }

    void aClickOnTheBalloonIsReported()
    {
        SystemTray tray;
        QSystemTrayIcon* icon = tray.findChild<QSystemTrayIcon*>();
        QVERIFY(icon);
        QSignalSpy balloon(&tray, &Tray::balloonClicked);
        QSignalSpy left(&tray, &Tray::leftClicked);

        emit icon->messageClicked();
        QTRY_COMPARE(balloon.count(), 1);

        // A later click on the icon is the icon's, and the next balloon click counts again.
        emit icon->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(left.count(), 1);
        QCoreApplication::sendPostedEvents(); // the press is handled
        emit icon->messageClicked();
        QTRY_COMPARE(balloon.count(), 2);
    }
};

QTEST_MAIN(TestSystemTray)
#include "test_systemtray.moc"
