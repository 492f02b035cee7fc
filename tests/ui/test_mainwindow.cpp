#include "acquisition/poller.h"
#include "app/version.h"
#include "ui/main/loadicons.h"
#include "windowharness.h"

#include <QAbstractButton>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace powerlog;
using namespace powerlog::test;

class TestMainWindow : public QObject
{
    Q_OBJECT

    static QString text(const WindowHarness& h, const QString& name)
    {
        return h.control<QLabel>(name)->text();
    }

private slots:
    void firstRunShowsItalianManualAndNoReading()
    {
        WindowHarness h;
        MainWindow& w = h.load();
        QCOMPARE(w.windowTitle(), QStringLiteral("Powerlog  V.%1.%2.%3")
                                      .arg(kVersionMajor)
                                      .arg(kVersionMinor)
                                      .arg(kVersionRevision));
        QCOMPARE(text(h, "Lbt_0"), QStringLiteral("Tensione"));
        QCOMPARE(text(h, "Lbt_6"), QStringLiteral("Potenza Med"));
        QCOMPARE(h.control("ImReload")->toolTip(), QStringLiteral("Aggiorna"));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(text(h, QStringLiteral("Lb_%1").arg(i)), QStringLiteral("0"));
        QCOMPARE(text(h, "Lbt_7"), QStringLiteral("3000W"));
        QCOMPARE(text(h, "Lbt_8"), QStringLiteral("0W"));
        QCOMPARE(text(h, "Lbt_9"), QStringLiteral("0W"));
        QCOMPARE(w.panelText(1), QStringLiteral("Nessuna lettura effettuata."));
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
        QVERIFY(!h.station.isAutomatic());
        QVERIFY(!h.station.isRecording());
        QVERIFY(!h.control("ImRec")->isHidden());
        QVERIFY(h.control("ImStop")->isHidden());
        QVERIFY(h.prompts.shown.isEmpty());
        QCOMPARE(h.tray.calls.size(), 1);
        QCOMPARE(h.tray.calls.first().op, QStringLiteral("add"));
        QCOMPARE(h.tray.calls.first().picture, 0);
        QCOMPARE(h.tray.calls.first().text, QStringLiteral("Powerlog"));
        QVERIFY(h.presenter->findChild<QTimer*>(QStringLiteral("Tupd"))->isActive());
        QVERIFY(!h.poller.clock().isActive());
        // Start-up opens no connection.
        QCOMPARE(h.simulator.connectionCount(), 0);
    }

    void everyControlExists()
    {
        WindowHarness h;
        h.load();
        QStringList names = {"ImRec", "ImStop", "ImReload", "ImTool", "Igraf", "Idel",  "Pmod",
                             "StBar", "Shbar",  "Pgraph",   "Lload",  "Shi_0", "Image1"};
        for (int i = 0; i < 4; ++i)
            names << QStringLiteral("Lb_%1").arg(i);
        for (int i = 0; i <= 10; ++i)
            names << QStringLiteral("Lbt_%1").arg(i);
        for (int i = 0; i < 8; ++i)
            names << QStringLiteral("Iload_%1").arg(i);
        for (const QString& name : names)
            QVERIFY2(h.control(name), qPrintable(name));
        // Each timer lives with the part that runs it: the light in the window, the keep-alive in
        // the station, the balloons and the update check with the tray icon.
        QVERIFY(h.window->findChild<QTimer*>(QStringLiteral("Tcol")));
        QVERIFY(h.station.findChild<QTimer*>(QStringLiteral("Tst")));
        for (const char* timer : {"Tpop", "Tupd"})
            QVERIFY2(h.presenter->findChild<QTimer*>(QLatin1String(timer)), timer);
        QCOMPARE(h.poller.clock().objectName(), QStringLiteral("Tclk"));
        QCOMPARE(h.window->loadIcons().scrollTimer()->objectName(), QStringLiteral("Tscor"));
    }

    void startUpModes_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("autoStart");
        QTest::addColumn<QString>("recAuto");
        QTest::addColumn<bool>("autoMode");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("keepAlive");
        QTest::addColumn<QString>("panel2");

        QTest::newRow("manual") << "0"
                                << "0"
                                << "0" << false << false << false << "Manuale";
        QTest::newRow("automatic") << "0"
                                   << "1"
                                   << "0" << true << false << false << "Automatico";
        QTest::newRow("recording starts polling") << "0"
                                                  << "0"
                                                  << "1" << true << true << false << "Automatico";
        QTest::newRow("automatic and recording") << "0"
                                                 << "1"
                                                 << "1" << true << true << false << "Automatico";
        QTest::newRow("ST interface ignores auto")
            << "1"
            << "1"
            << "0" << false << false << true << "ST Interface";
        QTest::newRow("ST interface records without polling")
            << "1"
            << "1"
            << "1" << false << true << true << "ST Interface";
        QTest::newRow("interface 2 is not ST") << "2"
                                               << "0"
                                               << "0" << false << false << false << "Manuale";
    }

    void startUpModes()
    {
        QFETCH(QString, interface);
        QFETCH(QString, autoStart);
        QFETCH(QString, recAuto);
        QFETCH(bool, autoMode);
        QFETCH(bool, recording);
        QFETCH(bool, keepAlive);
        QFETCH(QString, panel2);

        WindowHarness h({{"Option/Interface", interface},
                         {"Start/Auto", autoStart},
                         {"Start/RecAuto", recAuto}});
        MainWindow& w = h.load();
        QCOMPARE(h.station.isAutomatic(), autoMode);
        QCOMPARE(h.poller.clock().isActive(), autoMode);
        QCOMPARE(h.poller.clock().interval(), 1000);
        QCOMPARE(h.station.isRecording(), recording);
        QCOMPARE(h.control("ImStop")->isHidden(), !recording);
        QCOMPARE(h.control("ImRec")->isHidden(), recording);
        QCOMPARE(h.station.findChild<QTimer*>(QStringLiteral("Tst"))->isActive(), keepAlive);
        QCOMPARE(w.panelText(2), panel2);
        if (autoMode) {
            QVERIFY(h.poller.isFirstRequestDue());
            QCOMPARE(h.poller.ticks(), 0);
        }
    }

    void startsHiddenOnlyWithATray_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("trayAvailable");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("minimized with tray") << true << true << true;
        QTest::newRow("minimized without tray") << true << false << false;
        QTest::newRow("normal") << false << true << false;
    }

    void startsHiddenOnlyWithATray()
    {
        QFETCH(bool, minimized);
        QFETCH(bool, trayAvailable);
        QFETCH(bool, hidden);
        QCOMPARE(MainWindow::startsHidden(minimized, trayAvailable), hidden);
    }

    void placedAtTheBottomRight()
    {
        WindowHarness h;
        MainWindow& w = h.load();
        const QRect screen = w.screen()->geometry();
        const QRect frame = w.frameGeometry();
        QCOMPARE(frame.right(), screen.right());
        QCOMPARE(frame.bottom(), screen.bottom() - 450 / 15);
    }

    void loadNamesBecomeTooltips()
    {
        WindowHarness h;
        h.writeLoadIni("[priority]\n1=Forno\n3=Boiler\n8=Garage\n[other]\n2=Wrong\n");
        h.load();
        const QStringList expected = {"Forno", "", "Boiler", "", "", "", "", "Garage"};
        QCOMPARE(h.station.loadNames(), expected);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(h.control(QStringLiteral("Iload_%1").arg(i))->toolTip(), expected.at(i));
    }

    void setLanguage()
    {
        WindowHarness h({{"Start/Auto", "1"}});
        MainWindow& w = h.load();
        QCOMPARE(w.panelText(2), QStringLiteral("Automatico"));

        w.setLanguage(QStringLiteral("eng"));
        QCOMPARE(text(h, "Lbt_4"), QStringLiteral("Line power"));
        QCOMPARE(h.control("ImStop")->toolTip(), QStringLiteral("Stop"));
        QCOMPARE(w.panelText(2), QStringLiteral("Automatic"));
        QCOMPARE(w.panelText(1), QString());
        QCOMPARE(h.texts(Text::NoConnection), QStringLiteral("Connection not aviable"));

        // Codes are case-sensitive: "ENG" changes no text but still rewrites the panels.
        w.setLanguage(QStringLiteral("ita"));
        w.setLanguage(QStringLiteral("ENG"));
        QCOMPARE(text(h, "Lbt_4"), QStringLiteral("Linea"));
        QCOMPARE(w.panelText(2), QStringLiteral("Automatico"));
    }

    void unknownStoredLanguageKeepsDesignTexts()
    {
        WindowHarness h({{"Option/Language", "ENG"}});
        MainWindow& w = h.load();
        QCOMPARE(text(h, "Lbt_0"), QStringLiteral("Tensione"));
        QCOMPARE(h.control("ImRec")->toolTip(), QStringLiteral("Record"));
        QCOMPARE(w.panelText(2), QString());
        QVERIFY(h.texts(Text::NoConnection).isEmpty());
    }

    void loadIconTooltipsDoNotFollowTheLanguage()
    {
        WindowHarness h;
        h.writeLoadIni("[priority]\n1=Forno\n");
        MainWindow& w = h.load();
        w.setLanguage(QStringLiteral("eng"));
        QCOMPARE(h.control("Iload_0")->toolTip(), QStringLiteral("Forno"));
    }

    void missingDatabaseIsReportedAndStartUpGoesOn()
    {
        WindowHarness h({}, false);
        MainWindow& w = h.load();
        QTRY_COMPARE(h.prompts.shown.size(), 1);
        QCOMPARE(h.prompts.shown.first().title, QStringLiteral("Errore connessione DB"));
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
    }

    void unloadShutsDownInOrder()
    {
        WindowHarness h({{"Start/Auto", "1"}});
        MainWindow& w = h.load();
        w.showAbout(false);
        QVERIFY(w.findChild<QWidget*>(QStringLiteral("frmAbout")));
        h.station.shutdown();
        QVERIFY(h.station.isClosing());
        QVERIFY(!h.poller.clock().isActive());
        QCOMPARE(h.tray.calls.last().op, QStringLiteral("delete"));
        QTRY_VERIFY(!w.findChild<QWidget*>(QStringLiteral("frmAbout")));
        h.station.shutdown(); // a second call does no harm
    }

    void closingTheWindowEndsTheProgram()
    {
        WindowHarness h;
        MainWindow& w = h.load();
        w.show();
        QSignalSpy closed(&h.station, &Station::shutDown);
        QVERIFY(w.close());
        QCOMPARE(closed.size(), 1);
        QVERIFY(h.station.isClosing());
        QCOMPARE(h.tray.calls.last().op, QStringLiteral("delete"));
    }

    void labelsOpenTheAboutWindow_data()
    {
        QTest::addColumn<QString>("label");
        QTest::newRow("the link") << "Lbt_10";
        QTest::newRow("a readout's caption") << "Lbt_0";
        QTest::newRow("a value") << "Lbt_7";
    }

    void labelsOpenTheAboutWindow()
    {
        QFETCH(QString, label);
        WindowHarness h;
        MainWindow& w = h.load();
        h.click(label);
        auto* about = w.findChild<QWidget*>(QStringLiteral("frmAbout"));
        QVERIFY(about);
        QVERIFY(about->isVisible());
        QCOMPARE(about->windowModality(), Qt::ApplicationModal);
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
