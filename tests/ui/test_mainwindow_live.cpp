#include "acquisition/livegraph.h"
#include "acquisition/loadstate.h"
#include "acquisition/poller.h"
#include "ui/main/activitylight.h"
#include "ui/main/graphpainter.h"
#include "ui/main/loadicons.h"
#include "windowharness.h"

#include <QLabel>
#include <QLockFile>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

using namespace powerlog;
using namespace powerlog::test;

// The main window while it runs: readings, buttons, modes, recording and the load icons.
class TestMainWindowLive : public QObject
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
        MainWindow& w = h.load();
        h.receive(QStringLiteral("*#3*10*0*230*2*460*1234##"));

        QCOMPARE(text(h, "Lb_0"), QStringLiteral("230"));
        QCOMPARE(text(h, "Lb_1"), QStringLiteral("2"));
        QCOMPARE(text(h, "Lb_2"), QStringLiteral("460"));
        QCOMPARE(text(h, "Lb_3"), QStringLiteral("1234"));
        QVERIFY(w.panelText(1).startsWith(QStringLiteral("Last read ")));
        QCOMPARE(h.station.trayLevel(), 2);
        QCOMPARE(text(h, "Lbt_8"), QStringLiteral("460W"));
        QCOMPARE(text(h, "Lbt_9"), QStringLiteral("460W"));
        QVERIFY(h.control("Lbt_8")->toolTip().contains(QStringLiteral("26")));
        QCOMPARE(h.meter.liveGraph().history(99), qint16(460));

        QCOMPARE(balloons(h), 1);
        const auto balloon = h.tray.calls.last();
        QCOMPARE(balloon.title, QStringLiteral("Powerlog"));
        QCOMPARE(balloon.text,
                 QStringLiteral("Tension 230V - Current 2A\r\nPower 460W - Energy 1234"));
        auto* tpop = h.presenter->findChild<QTimer*>(QStringLiteral("Tpop"));
        QVERIFY(tpop->isActive());
        QCOMPARE(tpop->interval(), 10000);
        QCOMPARE(h.presenter->detailText(),
                 QStringLiteral("Tension 230V - Current 2A\r\nPower 460W - Energy 1234\r\n"
                                "Max Power 460W - Mid Power 460W\r\n\r\n"
                                "Right click to open the men\u00f9"));

        // Later readings change the icon but show no balloon of their own.
        h.receive(QStringLiteral("*#3*10*0*229*13*3000*1240##"));
        QCOMPARE(h.station.trayLevel(), 9);
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
        h.load();
        h.click("ImRec");
        h.receive(frame);
        QCOMPARE(text(h, "Lb_2"), power);
        QCOMPARE(rowCount(h), 0);
        QVERIFY(h.prompts.shown.isEmpty());
        QVERIFY(h.station.isRecording());
        if (power != QLatin1String("460"))
            QCOMPARE(h.meter.liveGraph().history(99), qint16(0));
    }

    // Values not measured show as a dash in the readouts and in the balloon, without a unit.
    void valuesNotMeasuredShowAsADash()
    {
        WindowHarness h;
        h.load();
        h.receive(QStringLiteral("*#3*10*0***920*152##"));
        QCOMPARE(text(h, "Lb_0"), QStringLiteral("\u2014"));
        QCOMPARE(text(h, "Lb_1"), QStringLiteral("\u2014"));
        QCOMPARE(text(h, "Lb_2"), QStringLiteral("920"));
        QVERIFY(h.tray.calls.last().text.startsWith(
            QStringLiteral("Tensione \u2014 - Corrente \u2014\r\nPotenza 920W - Energia 152")));
    }

    void recordingWritesEachReading()
    {
        WindowHarness h;
        h.load();
        h.receive(QStringLiteral("*#3*10*0*230*4*920*152##"));
        QCOMPARE(rowCount(h), 0);

        h.click("ImRec");
        QVERIFY(h.station.isRecording());
        QVERIFY(h.station.isAutomatic());
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

        h.click("ImStop");
        QVERIFY(!h.station.isRecording());
        QVERIFY(h.station.isAutomatic()); // stopping the recording keeps polling
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
        MainWindow& w = h.load();
        QVERIFY(h.station.isRecording());
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
        h.load();
        QVERIFY(h.settle());
        h.prompts.shown.clear();
        h.click("ImRec");
        h.receive(QStringLiteral("*#3*10*0*230*4*920*152##"));
        h.receive(QStringLiteral("*#3*10*0*230*4*921*152##"));
        QTRY_COMPARE(h.prompts.shown.size(), 2);
        QCOMPARE(h.prompts.shown.first().title, QStringLiteral("Errore connessione DB"));
        QVERIFY(h.station.isRecording());

        EnergyDatabase::createEmpty(h.dir.filePath(EnergyDatabase::kFileName));
        h.receive(QStringLiteral("*#3*10*0*230*4*922*152##"));
        QCOMPARE(rowCount(h), 3);
        QCOMPARE(h.prompts.shown.size(), 2);
    }

    void modeSwitching()
    {
        WindowHarness h;
        MainWindow& w = h.load();
        h.click("ImRec");
        QVERIFY(h.station.isAutomatic());
        QCOMPARE(w.panelText(2), QStringLiteral("Automatico"));

        h.click("StBar_panel1"); // the message panel is no switch
        QVERIFY(h.station.isAutomatic());

        h.click("Pmod");
        QVERIFY(!h.station.isAutomatic());
        QVERIFY(!h.station.isRecording());
        QVERIFY(!h.poller.clock().isActive());
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
        QVERIFY(!h.control("ImRec")->isHidden());

        h.click("StBar_panel2");
        QVERIFY(h.station.isAutomatic());
        QVERIFY(h.poller.isFirstRequestDue());
        QCOMPARE(h.poller.ticks(), 0);
        QVERIFY(!h.station.isRecording());
    }

    void stInterfaceIgnoresModeClicks()
    {
        WindowHarness h({{"Option/Interface", "1"}});
        MainWindow& w = h.load();
        h.click("Pmod");
        h.click("StBar_panel2");
        h.click("ImRec");
        QVERIFY(!h.station.isAutomatic());
        QVERIFY(h.station.isRecording());
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
        MainWindow& w = h.load();
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
        MainWindow& w = h.load();
        QTRY_VERIFY_WITH_TIMEOUT(!h.station.isRecording(), 5000);
        QCOMPARE(w.panelText(2), QStringLiteral("ST Interface"));
        QVERIFY(h.station.findChild<QTimer*>(QStringLiteral("Tst"))->isActive());
    }

    void clearButtonRestartsMaximumAndAverage()
    {
        WindowHarness h;
        h.load();
        h.receive(QStringLiteral("*#3*10*0*230*4*2000*1##"));
        h.receive(QStringLiteral("*#3*10*0*230*4*1000*1##"));
        h.click("Idel");
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
        MainWindow& w = h.load();
        w.show();
        h.click("ImReload");
        QCOMPARE(h.station.trayLevel(), 10);
        QTRY_COMPARE(text(h, "Lb_0"), QStringLiteral("231"));
        QCOMPARE(text(h, "Lb_3"), QStringLiteral("1500.5"));
        QTRY_VERIFY(w.findChild<ActivityLight*>()->hasStarted());
        QVERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));
        QTRY_VERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*#3##")));
    }

    // Nobody sees a window hidden in the notification area: its light does not animate, and
    // its readouts and load pictures wait for it to show, then show the newest values.
    void hiddenWindowKeepsStillUntilShown()
    {
        WindowHarness h;
        h.simulator.setReading("230", "4", "925", "1500.5");
        MainWindow& w = h.load();
        w.hide();
        QSignalSpy readings(&h.station, &Station::readingArrived);
        h.click("ImReload");
        QTRY_COMPARE(readings.size(), 1);
        h.receive(QStringLiteral("*#3*10*0*231*5*1100*1501##"));
        h.receive(QStringLiteral("*#3*10*3*575##"));
        h.receive(QStringLiteral("*#3*10*3*576##"));
        h.loads.applyLoadEvent(4, u'1');
        QTest::qWait(50);
        QVERIFY(!w.findChild<ActivityLight*>()->timer()->isActive());
        QVERIFY(!w.findChild<ActivityLight*>()->hasStarted());
        QCOMPARE(text(h, "Lb_0"), QStringLiteral("0"));
        const qint64 blank = h.control<QLabel>("Iload_4")->pixmap().cacheKey();

        w.show();
        QCOMPARE(text(h, "Lb_0"), QStringLiteral("231"));
        QCOMPARE(text(h, "Lb_2"), QStringLiteral("576"));
        QCOMPARE(text(h, "Lb_3"), QStringLiteral("1501"));
        QVERIFY(h.control<QLabel>("Iload_4")->pixmap().cacheKey() != blank);
    }

    void loadIconClickNeedsTheMonitorSession()
    {
        WindowHarness h;
        MainWindow& w = h.load();
        h.click("Iload_4");
        QTRY_VERIFY(h.monitor.isConnected());
        QVERIFY(!h.simulator.receivedFrames().contains(QStringLiteral("*3*2*#5##")));

        h.click("Iload_4");
        QTRY_VERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*3*2*#5##")));
        // The forced load comes back as an event and pins the icon.
        QTRY_COMPARE(w.loadIcons().picture(4), LoadPicture::Forced);
    }

    void loadEventsShowInTheBanner()
    {
        WindowHarness h;
        h.writeLoadIni("[priority]\n1=Forno\n2=Lavatrice\n");
        MainWindow& w = h.load();
        h.click("Iload_0"); // opens the monitor session
        QTRY_VERIFY(h.monitor.isConnected());
        h.simulator.setLoadState(2, 0);
        QTRY_COMPARE(text(h, "Lload"), QStringLiteral("OFF: Lavatrice "));
        QCOMPARE(w.loadIcons().picture(1), LoadPicture::Off);
    }

    void hoverShowsTheNameUntilThePointerLeaves()
    {
        WindowHarness h;
        h.writeLoadIni("[priority]\n1=Forno\n2=Lavatrice\n");
        MainWindow& w = h.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseMove(h.control("Iload_1"));
        QTRY_COMPARE(text(h, "Lload"), QStringLiteral("Lavatrice "));
        QCOMPARE(w.loadIcons().picture(1), LoadPicture::Highlight);
        QTest::mouseMove(&w, QPoint(330, 215)); // the window's background
        QTRY_COMPARE(text(h, "Lload"), QString());
        QCOMPARE(w.loadIcons().picture(1), LoadPicture::Design);
    }

    // Whatever the pointer leaves the icon for, or a modal window taking the pointer's place,
    // the hovered load's name goes.
    void hoverEndsWhenThePointerGoesToAnotherControlOrAModalWindowOpens()
    {
        WindowHarness h;
        h.writeLoadIni("[priority]\n1=Forno\n2=Lavatrice\n");
        MainWindow& w = h.load();
        h.loads.applyLoadEvent(0, u'0');
        w.loadIcons().loadEventsHandled();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseMove(h.control("Iload_1"));
        QTRY_COMPARE(text(h, "Lload"), QStringLiteral("Lavatrice "));
        QTest::mouseMove(h.control("Lb_0"));
        QTRY_COMPARE(text(h, "Lload"), QStringLiteral("OFF: Forno "));
        QCOMPARE(w.loadIcons().picture(1), LoadPicture::Design);

        QTest::mouseMove(h.control("Iload_1"));
        QTRY_COMPARE(text(h, "Lload"), QStringLiteral("Lavatrice "));
        w.showAbout(true);
        QTRY_COMPARE(text(h, "Lload"), QStringLiteral("OFF: Forno "));
        QCOMPARE(w.loadIcons().picture(1), LoadPicture::Design);
    }

    void aboutLinkLightsUpUnderThePointer()
    {
        WindowHarness h;
        MainWindow& w = h.load();
        auto* link = h.control<QLabel>("Lbt_10");
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseMove(link);
        QTRY_COMPARE(link->palette().color(QPalette::WindowText), QColor(192, 192, 0));
        QTest::mouseMove(&w, QPoint(330, 215)); // the window's background
        QTRY_COMPARE(link->palette().color(QPalette::WindowText), QColor(112, 112, 112));
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
        MainWindow& w = h.load();
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
        MainWindow& w = h.load();
        w.hide();
        emit h.tray.doubleClicked();
        QVERIFY(w.isVisible());
        QCOMPARE(h.tray.calls.last().op, QStringLiteral("balloonClear"));
    }

    void trayClickShowsTheDetails()
    {
        WindowHarness h;
        h.load();
        emit h.tray.leftClicked();
        QCOMPARE(h.tray.calls.last().op, QStringLiteral("balloon"));
        QCOMPARE(h.tray.calls.last().text,
                 QStringLiteral("Nessuna lettura effettuata.\r\n\r\n"
                                "Clicca con il destro per aprire il men\u00f9"));
        QVERIFY(h.presenter->findChild<QTimer*>(QStringLiteral("Tpop"))->isActive());
    }

    // Today's energy, and its cost once prices are set, in the icon's tooltip and in the detail;
    // the tooltip is set again only when its text changes.
    void todayEnergyShowsInTheTooltipAndTheDetail()
    {
        WindowHarness h;
        h.load();
        h.click("ImRec");
        h.receive(QStringLiteral("*#3*10*0*230*4*18000*152##"));
        h.clock.time = h.clock.time.addSecs(10);
        h.receive(QStringLiteral("*#3*10*0*230*4*0*152##"));
        QVERIFY(h.settle());
        // 18000 W for 10 s on a Saturday morning: 0.05 kWh in F2.
        const QString withoutCost = QStringLiteral("Powerlog\nOggi: 0,05 kWh");
        QTRY_COMPARE(h.presenter->tooltip(), withoutCost);
        QCOMPARE(h.tray.calls.last().text, withoutCost);

        QVERIFY(h.settings.set(Setting::PriceF2, 0.4));
        QVERIFY(h.settings.set(Setting::Currency, QStringLiteral("EUR")));
        QCOMPARE(h.tray.calls.last().text, QStringLiteral("Powerlog\nOggi: 0,05 kWh - 0,02 EUR"));
        const qsizetype calls = h.tray.calls.size();
        QVERIFY(h.settings.set(Setting::PriceF1, 0.3)); // no F1 energy: the same text
        QCOMPARE(h.tray.calls.size(), calls);

        emit h.tray.leftClicked();
        QVERIFY(h.tray.calls.last().text.contains(
            QStringLiteral("\r\nOggi: 0,05 kWh - 0,02 EUR\r\n\r\n")));
    }

    // Without recording, today is still today: after midnight the next reading brings the new
    // day's figures, whoever writes them.
    void todayEnergyFollowsTheDateWithoutRecording()
    {
        WindowHarness h;
        {
            SqlFile file(h.dir.filePath(EnergyDatabase::kFileName));
            QVERIFY(file.exec(QStringLiteral("INSERT INTO Energy VALUES (230, 4, 36000, 1, "
                                             "'2026-12-05 09:00:00'), (230, 4, 0, 1, "
                                             "'2026-12-05 09:00:10')")));
        }
        h.load();
        QTRY_COMPARE(h.presenter->tooltip(), QStringLiteral("Powerlog\nOggi: 0,10 kWh"));

        h.clock.time = QDateTime(QDate(2026, 12, 6), QTime(0, 0, 30));
        QTest::qWait(30); // the reads' shortest interval in the harness
        h.receive(QStringLiteral("*#3*10*0*230*4*920*152##"));
        QVERIFY(!h.station.isRecording());
        QTRY_COMPARE(h.presenter->tooltip(), QStringLiteral("Powerlog\nOggi: 0,00 kWh"));
    }

    void passwordRequestShowsOneWarning()
    {
        WindowHarness h;
        sim::Options options = h.simulator.options();
        options.password = QStringLiteral("12345");
        h.simulator.setOptions(options);
        MainWindow& w = h.load();
        h.click("ImReload");
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
        MainWindow& w = h.load();
        QVERIFY(h.station.isAutomatic());
        h.poller.clock().stop();
        h.poller.tick();
        QTRY_VERIFY(!h.station.isAutomatic());
        QVERIFY(!h.station.isRecording());
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
        QCOMPARE(h.station.trayLevel(), 0);
        // The tick that tried still counts: one tick of thirty on the bar.
        QCOMPARE(h.control("Shbar")->width(), 322 / 30); // the full bar is 322 pixels
    }

    // The gateway goes away while recording: the readouts turn dim and say since when they
    // stand, a balloon says that recording stopped and why; when the gateway answers again,
    // recording is back and a balloon says so.
    void lostGatewayShowsStaleReadoutsAndBalloons()
    {
        WindowHarness h({{"Start/RecAuto", "1"}});
        h.simulator.setReading("231", "4", "925", "1500.5");
        MainWindow& w = h.load();
        h.poller.clock().stop();
        h.poller.tick();
        QTRY_COMPARE(text(h, "Lb_0"), QStringLiteral("231"));
        const QColor live = h.control("Lb_0")->palette().color(QPalette::WindowText);
        const quint16 port = h.simulator.port();

        h.simulator.close();
        h.command.closeConnection();
        for (int i = 0; i < 30; ++i)
            h.poller.tick();
        const auto lastBalloon = [&h] {
            QString last;
            for (const auto& call : h.tray.calls) {
                if (call.op == QLatin1String("balloon"))
                    last = call.text;
            }
            return last;
        };
        QTRY_COMPARE(lastBalloon(), QStringLiteral("Il gateway non risponde: registrazione "
                                                   "interrotta. Nuovi tentativi in corso."));
        QVERIFY(h.control("ImRec")->isVisibleTo(&w));
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
        QCOMPARE(text(h, "Lb_0"), QStringLiteral("231")); // still shown, but dimmed
        QVERIFY(h.control("Lb_0")->palette().color(QPalette::WindowText) != live);
        QVERIFY(h.control("Lb_0")->toolTip().contains(QStringLiteral("il gateway non risponde")));

        QVERIFY(h.simulator.listen(port));
        QTRY_COMPARE_WITH_TIMEOUT(
            lastBalloon(), QStringLiteral("Il gateway risponde di nuovo: letture riprese."), 5000);
        QVERIFY(h.station.isRecording());
        QVERIFY(h.control("ImStop")->isVisibleTo(&w));
        QTRY_COMPARE(w.panelText(2), QStringLiteral("Automatico"));
        QCOMPARE(h.control("Lb_0")->palette().color(QPalette::WindowText), live);
        QVERIFY(h.control("Lb_0")->toolTip().isEmpty());
    }

    // The graph blanked by the clear button comes back with the next repaint, even when no
    // reading arrives for an hour.
    void clearedGraphReturnsAtTheNextRepaint()
    {
        WindowHarness h;
        MainWindow& w = h.load();
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

        h.click("Idel");
        QVERIFY(!newestBarLit()); // painted blank once
        QVERIFY(newestBarLit());  // and back at the next painting
    }

    // A click is the left button pressed and released on the same control.
    void onlyALeftClickOnTheControlCounts()
    {
        WindowHarness h;
        MainWindow& w = h.load();
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
        RunOverrides run;
        run.loadNames = QStringList{"Fridge", "Oven"};
        WindowHarness h({}, true, run);
        h.writeLoadIni("[priority]\n1=Forno\n");
        MainWindow& w = h.load();
        QCOMPARE(h.station.loadNames().mid(0, 2), (QStringList{"Fridge", "Oven"}));
        QCOMPARE(h.control("Iload_1")->toolTip(), QStringLiteral("Oven"));
        h.loads.applyLoadEvent(1, u'0');
        w.loadIcons().loadEventsHandled();
        QCOMPARE(text(h, "Lload"), QStringLiteral("OFF: Oven "));
    }

    // With readings from an energy meter and no load-control unit, each load icon says why its
    // state is unknown, in the window's language; a load event ends that.
    void loadIconsSayWhyTheyAreUnknownWithAMeter()
    {
        WindowHarness h({{"Meter/Source", "meter"}, {"Option/Language", "ita"}});
        sim::Options options = h.simulator.options();
        options.meters = {1};
        options.who3 = false;
        h.simulator.setOptions(options);
        h.writeLoadIni("[priority]\n1=Forno\n");
        h.load();
        QVERIFY(h.station.isLoadControlMissing());
        QCOMPARE(h.control("Iload_0")->toolTip(),
                 QStringLiteral("Forno\nStato sconosciuto: le letture vengono dal misuratore di "
                                "energia e nessuna centrale carichi ha risposto"));
        QCOMPARE(h.control("Iload_1")->toolTip(),
                 QStringLiteral("Stato sconosciuto: le letture vengono dal misuratore di energia "
                                "e nessuna centrale carichi ha risposto"));
        QVERIFY(h.settings.set(Setting::LanguageCode, QStringLiteral("eng")));
        QCOMPARE(h.control("Iload_0")->toolTip(),
                 QStringLiteral("Forno\nState unknown: readings come from the energy meter and no "
                                "load-control unit answered"));

        h.loads.applyLoadEvent(0, u'1');
        emit h.monitor.loadEvent(0, u'1');
        QCOMPARE(h.control("Iload_0")->toolTip(), QStringLiteral("Forno"));
        QVERIFY(h.control("Iload_1")->toolTip().isEmpty());
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
        MainWindow& w = h.load();
        h.poller.clock().stop();
        h.poller.tick();

        QTRY_VERIFY(!h.station.isAutomatic());
        QCOMPARE(w.panelText(1), QStringLiteral("Password rifiutata dal gateway (Monitor)"));
        QCOMPARE(w.panelText(2), QStringLiteral("Manuale"));
        QCOMPARE(h.station.trayLevel(), 0);
        // The message says what the status bar says: refused, not missing.
        QCOMPARE(h.prompts.texts(),
                 QStringList{"Attenzione\r\nIl gateway ha rifiutato la password"});
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
        h.click("ImReload");
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
        MainWindow& w = h.load();
        h.simulator.setLoadState(2, 0);
        h.poller.clock().stop();
        h.poller.tick();
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
        QVERIFY(h.station.isAutomatic());
    }

    // The automatic start opens the monitor session and asks for the load states before the
    // first measurement request goes out.
    void automaticStartAsksForLoadStatesFirst()
    {
        WindowHarness h({{"Start/Auto", "1"}});
        h.load();
        h.poller.clock().stop();
        h.poller.tick();
        QTRY_VERIFY(h.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));
        const QStringList frames = h.simulator.receivedFrames();
        QVERIFY(frames.contains(QStringLiteral("*#3##")));
        QVERIFY(frames.indexOf(QStringLiteral("*99*1##")) <
                frames.indexOf(QStringLiteral("*#3##")));
        QVERIFY(frames.indexOf(QStringLiteral("*#3##")) <
                frames.indexOf(QStringLiteral("*#3*10*0##")));
    }

    void backgroundRecorderIsShownWhileItRecords_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("told");
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("recordTooltip");
        QTest::newRow("English") << "eng"
                                 << "The background recorder is recording"
                                 << "Recording in the background"
                                 << "Record";
        QTest::newRow("Italian") << "ita"
                                 << "Il registratore in background sta registrando"
                                 << "Registrazione in background"
                                 << "Registra";
    }

    // The background recorder holds the database's lock: the window shows the readings and
    // records none of them, and says who records; once the lock is free, it records again at
    // its next reading.
    void backgroundRecorderIsShownWhileItRecords()
    {
        QFETCH(QString, language);
        QFETCH(QString, told);
        QFETCH(QString, panel);
        QFETCH(QString, recordTooltip);
        WindowHarness h({{"Option/Language", language}});
        MainWindow& w = h.load();
        QLockFile recorder(h.dir.filePath(QStringLiteral("DbEnergy.mdb.lock")));
        QVERIFY(recorder.tryLock(0));

        h.click("ImRec");
        h.receive(QStringLiteral("*#3*10*0*230*2*460*1234##"));
        QCOMPARE(text(h, "Lb_2"), QStringLiteral("460"));
        QCOMPARE(rowCount(h), 0);
        QVERIFY(h.station.isRecording());
        QCOMPARE(h.control("ImStop")->toolTip(), told);
        QCOMPARE(h.control("ImRec")->toolTip(), told);
        QCOMPARE(w.panelText(1), panel);

        recorder.unlock();
        h.receive(QStringLiteral("*#3*10*0*230*2*470*1235##"));
        QCOMPARE(rowCount(h), 1);
        QCOMPARE(h.control("ImRec")->toolTip(), recordTooltip);
        QVERIFY2(w.panelText(1) != panel, qPrintable(w.panelText(1)));
    }
};

QTEST_MAIN(TestMainWindowLive)
#include "test_mainwindow_live.moc"
