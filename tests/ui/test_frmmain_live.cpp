#include "acquisition/livegraph.h"
#include "acquisition/loadstate.h"
#include "acquisition/poller.h"
#include "ui/main/activitylight.h"
#include "ui/main/graphpainter.h"
#include "ui/main/loadicons.h"
#include "windowharness.h"

#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

using namespace powerlog;
using namespace powerlog::test;

// The main window while it runs: readings, buttons, modes, recording and the load icons.
class TestFrmMainLive : public QObject
{
    Q_OBJECT

    static QString text(const WindowHarness& h, const QString& name)
    {
        return h.control<QLabel>(name)->text();
    }

    static int rowCount(WindowHarness& h) { return h.rows(); }

    static int balloons(const WindowHarness& h)
    {
        int n = 0;
        for (const auto& call : h.tray.calls)
            n += call.op == QLatin1String("balloon");
        return n;
    }

private slots:
    void fullReadingFansOut()
    {
        WindowHarness h({{"Option/Language", "eng"}});
        FrmMain& w = h.load();
        h.receive(QStringLiteral("*#3*10*0*230*2*460*1234##"));

        QCOMPARE(text(h, "Lb_0"), QStringLiteral("230"));
        QCOMPARE(text(h, "Lb_1"), QStringLiteral("2"));
        QCOMPARE(text(h, "Lb_2"), QStringLiteral("460"));
        QCOMPARE(text(h, "Lb_3"), QStringLiteral("1234"));
        QVERIFY(w.panelText(1).startsWith(QStringLiteral("Last read ")));
        QCOMPARE(w.TrayIconIndex(), 2);
        QCOMPARE(text(h, "Lbt_8"), QStringLiteral("460W"));
        QCOMPARE(text(h, "Lbt_9"), QStringLiteral("460W"));
        QVERIFY(h.control("Lbt_8")->toolTip().contains(QStringLiteral("26")));
        QCOMPARE(h.meter.liveGraph().history(99), qint16(460));

        QCOMPARE(balloons(h), 1);
        const auto balloon = h.tray.calls.last();
        QCOMPARE(balloon.title, QStringLiteral("Powerlog"));
        QCOMPARE(balloon.text,
                 QStringLiteral("Tension 230V - Current 2A\r\nPower 460W - Energy 1234"));
        auto* tpop = w.findChild<QTimer*>(QStringLiteral("Tpop"));
        QVERIFY(tpop->isActive());
        QCOMPARE(tpop->interval(), 10000);
        QCOMPARE(w.detailText(),
                 QStringLiteral("Tension 230V - Current 2A\r\nPower 460W - Energy 1234\r\n"
                                "Max Power 460W - Mid Power 460W\r\n\r\n"
                                "Right click to open the men\u00f9"));

        // Later readings change the icon but show no balloon of their own.
        h.receive(QStringLiteral("*#3*10*0*229*13*3000*1240##"));
        QCOMPARE(w.TrayIconIndex(), 9);
        QCOMPARE(balloons(h), 1);
        QCOMPARE(text(h, "Lbt_9"), QStringLiteral("1730W"));
    }

    void powerOnlyReplyChangesOnlyThePower()
    {
        WindowHarness h;
        h.load();
        const auto calls = h.tray.calls.size();
        h.receive(QStringLiteral("*#3*10*3*575##"));
        QCOMPARE(text(h, "Lb_2"), QStringLiteral("575"));
        QCOMPARE(text(h, "Lb_0"), QStringLiteral("0"));
        QCOMPARE(h.tray.calls.size(), calls);
        QCOMPARE(h.meter.liveGraph().history(99), qint16(0));
    }

    void valuesThatAreNotNumbersShowButGoNowhereElse_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("power");
        QTest::newRow("letters") << "*#3*10*0*230*2*abc*1234##"
                                 << "abc";
        QTest::newRow("beyond 16 bits") << "*#3*10*0*230*2*40000*1234##"
                                        << "40000";
        QTest::newRow("decimal power") << "*#3*10*0*230*2*460.5*1234##"
                                       << "460.5";
        QTest::newRow("energy not a number") << "*#3*10*0*230*2*460*x1##"
                                             << "460";
    }

    void valuesThatAreNotNumbersShowButGoNowhereElse()
    {
        QFETCH(QString, frame);
        QFETCH(QString, power);
        WindowHarness h;
        FrmMain& w = h.load();
        w.ImRec_Click();
        h.receive(frame);
        QCOMPARE(text(h, "Lb_2"), power);
        QCOMPARE(rowCount(h), 0);
        QVERIFY(h.prompts.shown.isEmpty());
        QVERIFY(w.Recording());
        if (power != QLatin1String("460"))
            QCOMPARE(h.meter.liveGraph().history(99), qint16(0));
    }

    void recordingWritesEachReading()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        h.receive(QStringLiteral("*#3*10*0*230*4*920*152##"));
        QCOMPARE(rowCount(h), 0);

        w.ImRec_Click();
        QVERIFY(w.Recording());
        QVERIFY(w.AutoMode());
        h.receive(QStringLiteral("*#3*10*0*230*4*920*152.5##"));
        QVERIFY(h.settle());
        SqlFile file(h.dir.filePath(EnergyDatabase::kFileName));
        QSqlQuery q(file.db());
        QVERIFY(q.exec(QStringLiteral("select V, a, W, e, Data from Energy")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toDouble(), 230.0);
        QCOMPARE(q.value(1).toDouble(), 4.0);
        QCOMPARE(q.value(2).toInt(), 920);
        QCOMPARE(q.value(3).toDouble(), 152.5);
        QCOMPARE(q.value(4).toString(), QStringLiteral("2026-12-05 10:16:26"));

        w.ImStop_Click();
        QVERIFY(!w.Recording());
        QVERIFY(w.AutoMode()); // stopping the recording keeps polling
        h.receive(QStringLiteral("*#3*10*0*230*4*920*153##"));
        QCOMPARE(rowCount(h), 1);
    }

    // A file without its summary tables is prepared after the window shows, with the progress
    // in the status bar; a reading taken meanwhile is recorded once the file is ready.
    void largeFileIsPreparedWhileTheWindowRuns()
    {
        WindowHarness h({{"Start/RecAuto", "1"}}, false);
        QVERIFY(writeEnergyOnlyFile(h.dir.filePath(EnergyDatabase::kFileName), 300000,
                                    QStringLiteral("2025-01-01")));
        QSignalSpy opened(&h.database, &DatabaseWriter::opened);
        FrmMain& w = h.load();
        QVERIFY(w.Recording());
        h.receive(QStringLiteral("*#3*10*0*299*4*920*152##"));
        QTRY_VERIFY_WITH_TIMEOUT(
            w.panelText(1).startsWith(QStringLiteral("Preparazione database")) ||
                opened.count() > 0,
            30000);
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 60000);
        QVERIFY(opened.first().first().value<DatabaseResult>().ok());
        // Polling runs too, so the simulator's own readings may have joined it.
        QVERIFY(rowCount(h) >= 300001);
        QCOMPARE(SqlFile(h.dir.filePath(EnergyDatabase::kFileName))
                     .value(QStringLiteral("SELECT count(*) FROM Energy WHERE V = 299"))
                     .toInt(),
                 1);
        QVERIFY(h.prompts.shown.isEmpty());
    }

    // Every reading tells that the file is missing; the readings are kept and written once
    // the file is back.
    void missingDatabaseIsReportedPerReadingAndRecordingGoesOn()
    {
        WindowHarness h({}, false);
        FrmMain& w = h.load();
        QVERIFY(h.settle());
        h.prompts.shown.clear();
        w.ImRec_Click();
        h.receive(QStringLiteral("*#3*10*0*230*4*920*152##"));
        h.receive(QStringLiteral("*#3*10*0*230*4*921*152##"));
        QTRY_COMPARE(h.prompts.shown.size(), 2);
        QCOMPARE(h.prompts.shown.first().title, QStringLiteral("Errore connessione DB"));
        QVERIFY(w.Recording());

        EnergyDatabase::createEmpty(h.dir.filePath(EnergyDatabase::kFileName));
        h.receive(QStringLiteral("*#3*10*0*230*4*922*152##"));
        QCOMPARE(rowCount(h), 3);
        QCOMPARE(h.prompts.shown.size(), 2);
    }

    void modeSwitching()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        w.ImRec_Click();
        QVERIFY(w.AutoMode());
        QCOMPARE(w.panelText(2), QStringLiteral("Automatico"));

        w.StBar_PanelClick(1); // the message panel is no switch
        QVERIFY(w.AutoMode());

        w.Pmod_Click();
        QVERIFY(!w.AutoMode());
        QVERIFY(!w.Recording());
        QVERIFY(!h.poller.Tclk().isActive());
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
        QVERIFY(!h.control("ImRec")->isHidden());

        w.StBar_PanelClick(2);
        QVERIFY(w.AutoMode());
        QVERIFY(h.poller.PollNow());
        QCOMPARE(h.poller.PollTicks(), 0);
        QVERIFY(!w.Recording());
    }

    void stInterfaceIgnoresModeClicks()
    {
        WindowHarness h({{"Option/Interface", "1"}});
        FrmMain& w = h.load();
        w.Pmod_Click();
        w.StBar_PanelClick(2);
        w.ImRec_Click();
        QVERIFY(!w.AutoMode());
        QVERIFY(w.Recording());
        QCOMPARE(w.panelText(2), QStringLiteral("ST Interface"));
    }

    void stInterfaceReceivesPushedReadings()
    {
        WindowHarness h({{"Option/Interface", "1"}, {"Start/RecAuto", "1"}});
        sim::Options options = h.simulator.options();
        options.stPush = true;
        options.stPushIntervalMs = 50;
        h.simulator.setOptions(options);
        h.simulator.setReading("229", "3", "690", "88");
        FrmMain& w = h.load();
        // The keep-alive connects one second after start-up and opens an event session.
        QTRY_COMPARE_WITH_TIMEOUT(text(h, "Lb_2"), QStringLiteral("690"), 5000);
        QVERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*99*1##")));
        QVERIFY(!h.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));
        QTRY_VERIFY(rowCount(h) >= 1);
        QCOMPARE(w.panelText(2), QStringLiteral("ST Interface"));
    }

    void stInterfaceWithoutGatewayStopsRecordingButKeepsItsMode()
    {
        WindowHarness h({{"Option/Interface", "1"}, {"Start/RecAuto", "1"}});
        h.simulator.close();
        FrmMain& w = h.load();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Recording(), 5000);
        QCOMPARE(w.panelText(2), QStringLiteral("ST Interface"));
        QVERIFY(w.findChild<QTimer*>(QStringLiteral("Tst"))->isActive());
    }

    void clearButtonRestartsMaximumAndAverage()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        h.receive(QStringLiteral("*#3*10*0*230*4*2000*1##"));
        h.receive(QStringLiteral("*#3*10*0*230*4*1000*1##"));
        w.Idel_Click();
        QCOMPARE(text(h, "Lbt_8"), QStringLiteral("0W"));
        QCOMPARE(text(h, "Lbt_9"), QStringLiteral("0W"));
        QVERIFY(h.meter.liveGraph().drawingCleared());
        h.receive(QStringLiteral("*#3*10*0*230*4*700*1##"));
        QCOMPARE(text(h, "Lbt_8"), QStringLiteral("700W"));
        QCOMPARE(text(h, "Lbt_9"), QStringLiteral("700W"));
        QCOMPARE(h.meter.liveGraph().history(97), qint16(2000)); // the history survives the clear
    }

    void refreshAsksTheGatewayAndShowsItsReading()
    {
        WindowHarness h;
        h.simulator.setReading("231", "4", "925", "1500.5");
        FrmMain& w = h.load();
        w.show();
        w.ImReload_Click();
        QCOMPARE(w.TrayIconIndex(), 10);
        QTRY_COMPARE(text(h, "Lb_0"), QStringLiteral("231"));
        QCOMPARE(text(h, "Lb_3"), QStringLiteral("1500.5"));
        QTRY_VERIFY(w.findChild<ActivityLight*>()->hasStarted());
        QVERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));
        QTRY_VERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*#3##")));
    }

    // Nobody sees the light of a window hidden in the notification area: it does not animate.
    void hiddenWindowKeepsTheLightStill()
    {
        WindowHarness h;
        h.simulator.setReading("230", "4", "925", "1500.5");
        FrmMain& w = h.load();
        w.ImReload_Click();
        QTRY_COMPARE(text(h, "Lb_0"), QStringLiteral("230"));
        QTest::qWait(50);
        QVERIFY(!w.findChild<ActivityLight*>()->timer()->isActive());
        QVERIFY(!w.findChild<ActivityLight*>()->hasStarted());
    }

    void loadIconClickNeedsTheMonitorSession()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        w.Iload_Click(4);
        QTRY_VERIFY(h.monitor.isConnected());
        QVERIFY(!h.simulator.receivedFrames().contains(QStringLiteral("*3*2*#5##")));

        w.Iload_Click(4);
        QTRY_VERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*3*2*#5##")));
        // The forced load comes back as an event and pins the icon.
        QTRY_COMPARE(w.loadIcons().picture(4), LoadPicture::Forced);
    }

    void loadEventsShowInTheBanner()
    {
        WindowHarness h;
        h.writeLoadIni("[priority]\n1=Forno\n2=Lavatrice\n");
        FrmMain& w = h.load();
        w.Iload_Click(0); // opens the monitor session
        QTRY_VERIFY(h.monitor.isConnected());
        h.simulator.setLoadState(2, 0);
        QTRY_COMPARE(text(h, "Lload"), QStringLiteral("OFF: Lavatrice "));
        QCOMPARE(w.loadIcons().picture(1), LoadPicture::Off);
    }

    void hoverShowsTheNameUntilThePointerLeaves()
    {
        WindowHarness h;
        h.writeLoadIni("[priority]\n1=Forno\n2=Lavatrice\n");
        FrmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseMove(h.control("Iload_1"));
        QTRY_COMPARE(text(h, "Lload"), QStringLiteral("Lavatrice "));
        QCOMPARE(w.loadIcons().picture(1), LoadPicture::Highlight);
        // The readouts do not end a hover; the window background does.
        QTest::mouseMove(h.control("Lb_0"));
        QCOMPARE(text(h, "Lload"), QStringLiteral("Lavatrice "));
        QTest::mouseMove(&w, QPoint(330, 215));
        QTRY_COMPARE(text(h, "Lload"), QString());
        QCOMPARE(w.loadIcons().picture(1), LoadPicture::Design);
    }

    void aboutLinkLightsUpUnderThePointer()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        auto* link = h.control<QLabel>("Lbt_10");
        w.Lbt_MouseMove(10);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(192, 192, 0));
        w.Form_MouseMove();
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(112, 112, 112));
    }

    void minimisingHidesOnlyWithATray_data()
    {
        QTest::addColumn<bool>("trayAvailable");
        QTest::newRow("tray") << true;
        QTest::newRow("no tray") << false;
    }

    void minimisingHidesOnlyWithATray()
    {
        QFETCH(bool, trayAvailable);
        WindowHarness h;
        h.tray.available = trayAvailable;
        FrmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.showMinimized();
        if (trayAvailable)
            QTRY_VERIFY(!w.isVisible());
        else
            QVERIFY(w.isVisible());
    }

    void trayDoubleClickBringsTheWindowBack()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        w.hide();
        emit h.tray.doubleClicked();
        QVERIFY(w.isVisible());
        QCOMPARE(h.tray.calls.last().op, QStringLiteral("balloonClear"));
    }

    void trayClickShowsTheDetails()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        emit h.tray.leftClicked();
        QCOMPARE(h.tray.calls.last().op, QStringLiteral("balloon"));
        QCOMPARE(h.tray.calls.last().text,
                 QStringLiteral("Nessuna lettura effettuata.\r\n\r\n"
                                "Clicca con il destro per aprire il men\u00f9"));
        QVERIFY(w.findChild<QTimer*>(QStringLiteral("Tpop"))->isActive());
    }

    void passwordRequestShowsOneWarning()
    {
        WindowHarness h;
        sim::Options options = h.simulator.options();
        options.password = QStringLiteral("12345");
        h.simulator.setOptions(options);
        FrmMain& w = h.load();
        w.ImReload_Click();
        QTRY_COMPARE(h.prompts.shown.size(), 1);
        QCOMPARE(h.prompts.shown.first().icon, Prompts::Icon::Exclamation);
        QCOMPARE(h.prompts.shown.first().text,
                 QStringLiteral("Attenzione\r\nE' richiesta la password per la connessione"));
        QTRY_COMPARE(w.panelText(1), QStringLiteral("Connesisone non disponibile"));
    }

    void noConnectionFallsBackToManual()
    {
        WindowHarness h({{"Start/RecAuto", "1"}});
        h.simulator.close();
        FrmMain& w = h.load();
        QVERIFY(w.AutoMode());
        h.poller.Tclk().stop();
        h.poller.Tclk_Timer();
        QTRY_VERIFY(!w.AutoMode());
        QVERIFY(!w.Recording());
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
        QCOMPARE(w.TrayIconIndex(), 0);
        // The tick that tried still counts: one tick of thirty on the bar.
        QCOMPARE(h.control("Shbar")->width(), Poller::kBarTwips / 30 / 15);
    }

    // The graph blanked by the clear button comes back with the next repaint, even when no
    // reading arrives for an hour.
    void clearedGraphReturnsAtTheNextRepaint()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        h.receive(QStringLiteral("*#3*10*0*230*4*3000*1##"));
        QWidget* graph = h.control("Pgraph");
        const auto newestBarLit = [graph] {
            const QImage image = graph->grab().toImage();
            // The newest bar's column, near the bottom of the drawing (two pixels per point).
            return image.pixelColor(99 * 2, image.height() - 2) == newestBarColour();
        };
        QTRY_VERIFY(newestBarLit());

        w.Idel_Click();
        QVERIFY(!newestBarLit()); // painted blank once
        QVERIFY(newestBarLit());  // and back at the next painting
    }

    // A click is the left button pressed and released on the same control.
    void onlyALeftClickOnTheControlCounts()
    {
        WindowHarness h;
        FrmMain& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* link = h.control("Lbt_10");
        auto* load = h.control("Iload_3");

        QTest::mouseClick(link, Qt::RightButton);
        QVERIFY(!w.findChild<QWidget*>(QStringLiteral("frmAbout")));
        // Pressed on the load icon, slipped off it before the release.
        QTest::mousePress(load, Qt::LeftButton);
        QTest::mouseRelease(load, Qt::LeftButton, {}, QPoint(-40, 10));
        QTest::mouseClick(load, Qt::RightButton);
        QTest::qWait(100);
        QCOMPARE(h.simulator.connectionCount(), 0); // no monitor start, no load command

        QTest::mouseClick(load, Qt::LeftButton);
        QTRY_VERIFY(h.monitor.isConnected());
        QTest::mouseClick(link, Qt::LeftButton);
        QVERIFY(w.findChild<QWidget*>(QStringLiteral("frmAbout")));
    }

    // The demo names its loads without touching the user's load.ini.
    void loadNamesGivenForThisRunWinOverLoadIni()
    {
        WindowHarness h;
        h.writeLoadIni("[priority]\n1=Forno\n");
        RunOverrides run;
        run.loadNames = QStringList{"Fridge", "Oven"};
        h.window = std::make_unique<FrmMain>(MainWindowServices{
            *h.current, h.texts, h.prompts, h.desktop, h.tray, h.command, h.monitor, h.database,
            h.meter, h.poller, h.loads, h.dir.path(), nullptr, run});
        FrmMain* w = h.window.get();
        w->Form_Load();
        QCOMPARE(w->LoadNames().mid(0, 2), (QStringList{"Fridge", "Oven"}));
        QCOMPARE(h.control("Iload_1")->toolTip(), QStringLiteral("Oven"));
        h.loads.applyLoadEvent(1, u'0');
        w->loadIcons().loadEventsHandled();
        QCOMPARE(text(h, "Lload"), QStringLiteral("OFF: Oven "));
    }

    // The value labels take their colours from the palette: a style sheet would reach their
    // tooltips too and paint light text on the tooltip's light background.
    void maximumTooltipUsesTheTooltipColours()
    {
        WindowHarness h;
        h.load();
        h.receive(QStringLiteral("*#3*10*0*230*4*900*1##"));
        auto* maximum = h.control<QLabel>("Lbt_8");
        QVERIFY(!maximum->toolTip().isEmpty());
        QVERIFY(maximum->styleSheet().isEmpty());
        for (QWidget* parent = maximum->parentWidget(); parent; parent = parent->parentWidget())
            QVERIFY(parent->styleSheet().isEmpty());
    }

    // A refused password is said once, and automatic mode ends without the command session
    // offering it again: gateways lock out after a few refusals.
    void refusedPasswordIsToldOnce()
    {
        WindowHarness h(
            {{"Start/Auto", "1"},
             {"Option/ServerPWD", scramblePassword(QStringLiteral("Powerlog2025"), 3)}});
        sim::Options options = h.simulator.options();
        options.auth = sim::Auth::HmacSha256;
        options.password = QStringLiteral("Powerlog2024");
        h.simulator.setOptions(options);
        FrmMain& w = h.load();
        h.poller.Tclk().stop();
        h.poller.Tclk_Timer();

        QTRY_VERIFY(!w.AutoMode());
        QCOMPARE(w.panelText(1), QStringLiteral("Password rifiutata dal gateway (Monitor)"));
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
        QCOMPARE(w.TrayIconIndex(), 0);
        QCOMPARE(h.prompts.texts(),
                 QStringList{"Attenzione\r\nE' richiesta la password per la connessione"});
        QCOMPARE(h.prompts.shown.first().icon, Prompts::Icon::Exclamation);
        QCOMPARE(h.simulator.refusedPasswords(), 1);
        QVERIFY(!h.monitor.isReopenScheduled());

        // The user asks again: both sessions try, the message does not come back.
        QSignalSpy monitorStates(&h.monitor, &MonitorSession::linkStateChanged);
        QSignalSpy commandStates(&h.command, &CommandSession::linkStateChanged);
        const auto refusals = [&] {
            int n = 0;
            for (const QSignalSpy* spy : {&monitorStates, &commandStates}) {
                for (const auto& args : *spy)
                    n += args.at(0).value<LinkState>() == LinkState::PasswordRefused;
            }
            return n;
        };
        w.ImReload_Click();
        QTRY_COMPARE(refusals(), 2);
        QCOMPARE(h.simulator.refusedPasswords(), 3);
        QVERIFY(w.panelText(1).startsWith(QStringLiteral("Password rifiutata dal gateway")));
        QCOMPARE(h.prompts.shown.size(), 1);
    }

    // The gateway recycles the event session: the icons show Unknown until it is back and has
    // asked for the states again.
    void loadIconsShowUnknownWhileTheMonitorIsDown()
    {
        WindowHarness h({{"Start/Auto", "1"}});
        sim::Options options = h.simulator.options();
        options.linePowerWatts = 1'000'000; // the household sheds nothing by itself
        h.simulator.setOptions(options);
        FrmMain& w = h.load();
        h.simulator.setLoadState(2, 0);
        h.poller.Tclk().stop();
        h.poller.Tclk_Timer();
        const auto pictures = [&w] {
            QList<LoadPicture> list;
            for (int i = 0; i < LoadStates::kLoadCount; ++i)
                list << w.loadIcons().picture(i);
            return list;
        };
        using P = LoadPicture;
        const QList<P> known{P::On, P::Off, P::On, P::On, P::On, P::On, P::On, P::On};
        QTRY_COMPARE(pictures(), known);
        QList<P> shownWhileDown;
        connect(&h.monitor, &MonitorSession::closed, this,
                [&] { QTimer::singleShot(0, this, [&] { shownWhileDown = pictures(); }); });

        h.simulator.recycleEventSessions();

        QTRY_COMPARE(shownWhileDown, QList<P>(LoadStates::kLoadCount, P::Unknown));
        QTRY_COMPARE(pictures(), known);
        QCOMPARE(h.simulator.receivedFrames().count(QStringLiteral("*#3##")), 2);
        QVERIFY(w.AutoMode());
    }

    // The automatic start opens the monitor session and asks for the load states before the
    // first measurement request goes out.
    void automaticStartAsksForLoadStatesFirst()
    {
        WindowHarness h({{"Start/Auto", "1"}});
        h.load();
        h.poller.Tclk().stop();
        h.poller.Tclk_Timer();
        QTRY_VERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));
        const QStringList frames = h.simulator.receivedFrames();
        QVERIFY(frames.contains(QStringLiteral("*#3##")));
        QVERIFY(frames.indexOf(QStringLiteral("*99*1##")) <
                frames.indexOf(QStringLiteral("*#3##")));
        QVERIFY(frames.indexOf(QStringLiteral("*#3##")) <
                frames.indexOf(QStringLiteral("*#3*10*0##")));
    }
};

QTEST_MAIN(TestFrmMainLive)
#include "test_frmmain_live.moc"
