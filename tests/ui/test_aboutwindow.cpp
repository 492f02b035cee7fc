#include "app/maker.h"
#include "support/recorders.h"
#include "ui/about/aboutwindow.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QUrlQuery>

using namespace powerlog;
using namespace powerlog::test;

class TestAboutWindow : public QObject
{
    Q_OBJECT

private slots:
    void languageChoosesTheTexts_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("donate");
        QTest::addColumn<QString>("firstWords");
        QTest::newRow("ita") << "ita"
                             << "Donazione"
                             << "Applicazione per monitorare";
        QTest::newRow("eng") << "eng"
                             << "Donate"
                             << "Application to monitor";
        QTest::newRow("any other code is English") << "deu"
                                                   << "Donate"
                                                   << "Application to monitor";
    }

    void languageChoosesTheTexts()
    {
        QFETCH(QString, code);
        QFETCH(QString, donate);
        QFETCH(QString, firstWords);
        RecordingDesktop desktop;
        AboutWindow about(code, QStringLiteral("1.3.0"), desktop);
        QCOMPARE(about.windowTitle(), QStringLiteral("About Powerlog"));
        QCOMPARE(about.findChild<QLabel*>("lblVersion")->text(), QStringLiteral("Ver. 1.3.0"));
        QCOMPARE(about.findChild<QLabel*>("Llink")->text(), donate);
        QCOMPARE(about.findChild<QLabel*>("Llink2")->text(), QStringLiteral("Report a bug"));
        QVERIFY(about.findChild<QLabel*>("lblDescription")->text().startsWith(firstWords));
        const QString description = AboutWindow::descriptionText(code);
        QVERIFY(description.endsWith(QStringLiteral("\r\n")));
        QCOMPARE(description.count(QStringLiteral("\r\n")), 5);
    }

    void placedAtTheBottomRight()
    {
        RecordingDesktop desktop;
        AboutWindow about(QStringLiteral("ita"), QStringLiteral("1.3.0"), desktop);
        about.show();
        const QRect screen = about.screen()->geometry();
        QTRY_COMPARE(about.frameGeometry().right(), screen.right());
        QTRY_COMPARE(about.frameGeometry().bottom(), screen.bottom() - 420 / 15);
    }

    void linksOpenThroughTheDesktop()
    {
        RecordingDesktop desktop;
        const MakerAddresses maker{QStringLiteral("https://maker.test/donate"),
                                   QStringLiteral("bugs@maker.test")};
        AboutWindow about(QStringLiteral("eng"), QStringLiteral("1.3.0"), desktop, nullptr, maker);
        QTest::mouseClick(about.findChild<QLabel*>("Llink"), Qt::LeftButton);
        QTest::mouseClick(about.findChild<QLabel*>("Ipaypal"), Qt::LeftButton);
        QTest::mouseClick(about.findChild<QLabel*>("Llink2"), Qt::LeftButton);
        QCOMPARE(desktop.opened.size(), 3);
        QCOMPARE(desktop.opened.at(0), QUrl(maker.donationPage));
        QCOMPARE(desktop.opened.at(1), desktop.opened.at(0));
        const QUrl mail = desktop.opened.at(2);
        QCOMPARE(mail.scheme(), QStringLiteral("mailto"));
        QCOMPARE(mail.path(), maker.bugReportAddress);
        QCOMPARE(QUrlQuery(mail).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
                 QStringLiteral("Powerlog 1.3.0 bug-report"));
    }

    void anEmptyAddressHidesItsLink_data()
    {
        QTest::addColumn<QString>("donation");
        QTest::addColumn<QString>("bugs");
        QTest::newRow("both set") << "https://maker.test/donate"
                                  << "bugs@maker.test";
        QTest::newRow("no donation page") << ""
                                          << "bugs@maker.test";
        QTest::newRow("no bug-report address") << "https://maker.test/donate"
                                               << "";
        QTest::newRow("neither, as a build without them") << ""
                                                          << "";
    }

    void anEmptyAddressHidesItsLink()
    {
        QFETCH(QString, donation);
        QFETCH(QString, bugs);
        RecordingDesktop desktop;
        AboutWindow about(QStringLiteral("eng"), QStringLiteral("1.3.0"), desktop, nullptr,
                          {donation, bugs});
        about.show();
        QCOMPARE(about.findChild<QLabel*>("Llink")->isVisible(), !donation.isEmpty());
        QCOMPARE(about.findChild<QLabel*>("Ipaypal")->isVisible(), !donation.isEmpty());
        QCOMPARE(about.findChild<QLabel*>("Llink2")->isVisible(), !bugs.isEmpty());

        // A hidden link opens nothing, even when a click reaches it.
        for (const char* name : {"Llink", "Ipaypal", "Llink2"})
            QTest::mouseClick(about.findChild<QLabel*>(name), Qt::LeftButton);
        QCOMPARE(desktop.opened.size(), 2 * int(!donation.isEmpty()) + int(!bugs.isEmpty()));
    }

    void okCloses()
    {
        RecordingDesktop desktop;
        AboutWindow about(QStringLiteral("ita"), QStringLiteral("1.3.0"), desktop);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::mouseClick(about.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QVERIFY(!about.isVisible());
        QVERIFY(desktop.opened.isEmpty());
    }
};

QTEST_MAIN(TestAboutWindow)
#include "test_aboutwindow.moc"
