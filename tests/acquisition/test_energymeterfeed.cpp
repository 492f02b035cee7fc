// Live readings from a WHO 18 energy meter: its frames turned into readings or refused, the
// requests the poller sends through it, and its automatic power updates kept running against a
// simulated gateway on 127.0.0.1.

#include "acquisition/energymeterfeed.h"
#include "gateway/commandsession.h"
#include "simulator/gatewaysimulator.h"
#include "support/recorders.h"
#include "support/timings.h"

#include <QSignalSpy>
#include <QTest>

using namespace powerlog;
using namespace powerlog::test;

namespace {

const QString kAutomaticUpdates = QStringLiteral("*#18*51*#1200#1*1##");

sim::Options meterGateway()
{
    sim::Options options;
    options.meters = {1, 2}; // at 51 and 52
    options.meterMinuteMs = 200;
    options.who3 = false;
    return options;
}

struct FeedRig
{
    FeedRig()
    {
        simulator.listen(0);
        command.setPeer(QStringLiteral("127.0.0.1"), simulator.port());
        QObject::connect(&command, &CommandSession::frameReceived, &feed,
                         &EnergyMeterFeed::takeFrame);
        feed.setWhere(QStringLiteral("51"));
    }

    qsizetype received(const QString& frame) const
    {
        return simulator.receivedFrames().count(frame);
    }

    FixedClock clock;
    sim::GatewaySimulator simulator{meterGateway()};
    CommandSession command{fastTimings()};
    // A minute of 200 ms: the updates last 200 ms and are renewed after 160.
    EnergyMeterFeed feed{command, clock, MeterFeedTimings{1, 200, 80}};
};

} // namespace

class TestEnergyMeterFeed : public QObject
{
    Q_OBJECT

private slots:
    void framesBecomeReadings_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<int>("power");

        QTest::newRow("power") << "*#18*51*113*925##" << true << 925;
        QTest::newRow("no power") << "*#18*51*113*0##" << true << 0;
        QTest::newRow("energy sent back") << "*#18*51*113*-350##" << true << -350;
        QTest::newRow("largest power") << "*#18*51*113*32767##" << true << 32767;
        QTest::newRow("power out of range") << "*#18*51*113*32768##" << false << 0;
        QTest::newRow("sent back out of range") << "*#18*51*113*-32769##" << false << 0;
        QTest::newRow("another meter") << "*#18*52*113*925##" << false << 0;
        QTest::newRow("no meter address") << "*#18*71*113*925##" << false << 0;
        QTest::newRow("value missing") << "*#18*51*113##" << false << 0;
        QTest::newRow("empty value") << "*#18*51*113*##" << false << 0;
        QTest::newRow("extra field") << "*#18*51*113*925*1##" << false << 0;
        QTest::newRow("not a number") << "*#18*51*113*9x5##" << false << 0;
        QTest::newRow("totalizer") << "*#18*51*51*1500500##" << false << 0;
        QTest::newRow("updates running") << "*#18*51*1200#1*10##" << false << 0;
        QTest::newRow("central unit") << "*#3*10*0*231*4*925*1500.5##" << false << 0;
    }

    void framesBecomeReadings()
    {
        QFETCH(QString, frame);
        QFETCH(bool, taken);
        const QDateTime time(QDate(2026, 12, 5), QTime(10, 16, 26));
        const std::optional<Reading> reading =
            meterReading(frame, QStringLiteral("51"), 1'500'500, time);
        QCOMPARE(reading.has_value(), taken);
        if (!taken)
            return;
        QFETCH(int, power);
        QCOMPARE(reading->power, std::optional<qint16>(qint16(power)));
        QCOMPARE(reading->W, QString::number(power));
        QCOMPARE(reading->kind, Reading::Kind::Full);
        QVERIFY(!reading->lineMeasured);
        QVERIFY(reading->V.isEmpty());
        QVERIFY(reading->A.isEmpty());
        QCOMPARE(reading->E, QStringLiteral("1500.500")); // kWh
        QCOMPARE(reading->energy, std::optional<double>(1500.5));
        QCOMPARE(reading->time, time);
        QVERIFY(reading->isRecordable());
    }

    // Before the meter's totalizer is known the power still shows, but nothing is recorded.
    void powerBeforeTheTotalizerIsNotRecordable()
    {
        const std::optional<Reading> reading = meterReading(
            QStringLiteral("*#18*51*113*925##"), QStringLiteral("51"), std::nullopt, QDateTime());
        QVERIFY(reading);
        QVERIFY(reading->E.isEmpty());
        QVERIFY(!reading->energy);
        QVERIFY(!reading->isRecordable());
    }

    // The feed keeps the latest totalizer of its own meter and ignores every other meter's.
    void keepsTheLatestTotalizerOfItsMeter()
    {
        FeedRig rig;
        QSignalSpy readings(&rig.feed, &EnergyMeterFeed::readingArrived);
        rig.feed.takeFrame(QStringLiteral("*#18*51*51*1000##"));
        rig.feed.takeFrame(QStringLiteral("*#18*51*51*2500##"));
        rig.feed.takeFrame(QStringLiteral("*#18*52*51*9999##"));
        rig.feed.takeFrame(QStringLiteral("*#18*52*113*700##"));
        QCOMPARE(rig.feed.totalizerWh(), std::optional<qint64>(2500));
        QCOMPARE(readings.size(), 0);
        rig.feed.takeUpdate(QStringLiteral("*#18*51*113*640##"));
        QCOMPARE(readings.size(), 1);
        const auto reading = readings.first().first().value<Reading>();
        QCOMPARE(reading.E, QStringLiteral("2.500"));
        QCOMPARE(reading.time, rig.clock.time);
        // Another meter: its totalizer is not this one's.
        rig.feed.setWhere(QStringLiteral("52"));
        QVERIFY(!rig.feed.totalizerWh());
    }

    // A request asks the totalizer, then the power; the periodic one leaves the power out when
    // the meter pushed one since the previous request.
    void requestsAskThePowerUnlessAnUpdateCame()
    {
        FeedRig rig;
        QSignalSpy readings(&rig.feed, &EnergyMeterFeed::readingArrived);
        bool answered = false;
        rig.feed.request(CommandSession::AckPolicy::WaitForAck, [&](bool ok) { answered = ok; });
        QTRY_VERIFY(answered);
        QTRY_COMPARE(readings.size(), 1);
        QVERIFY(rig.feed.totalizerWh().has_value());
        const auto reading = readings.first().first().value<Reading>();
        QVERIFY(reading.isRecordable());
        QCOMPARE(reading.energy, std::optional<double>(*rig.feed.totalizerWh() / 1000.0));

        rig.feed.takeUpdate(QStringLiteral("*#18*51*113*640##"));
        rig.simulator.clearReceivedFrames();
        rig.feed.request(CommandSession::AckPolicy::NoAckWait, {},
                         EnergyMeterFeed::Ask::UnlessUpdated);
        QTRY_COMPARE(rig.received(QStringLiteral("*#18*51*51##")), 1);
        QCOMPARE(rig.received(QStringLiteral("*#18*51*113##")), 0);

        // No update since: the power is asked again.
        rig.feed.request(CommandSession::AckPolicy::NoAckWait, {},
                         EnergyMeterFeed::Ask::UnlessUpdated);
        QTRY_COMPARE(rig.received(QStringLiteral("*#18*51*113##")), 1);
    }

    // The updates are asked for their time and again before it runs out, so the meter keeps
    // pushing; once off they are stopped at once and no longer renewed.
    void automaticUpdatesAreRenewedBeforeTheyLapse()
    {
        FeedRig rig;
        QCOMPARE(rig.feed.renewalTimer().isActive(), false);
        rig.feed.setUpdating(true, false); // waits for the monitor session's open
        QVERIFY(!rig.feed.renewalTimer().isActive());
        rig.feed.renewUpdates();
        QCOMPARE(rig.feed.renewalTimer().interval(), 160);
        QTRY_COMPARE(rig.simulator.metersUpdating(), QList<int>{1});
        QTRY_VERIFY_WITH_TIMEOUT(rig.received(kAutomaticUpdates) >= 4, 5000);
        // Renewed at 80 % of their time, the updates never ran out meanwhile.
        QCOMPARE(rig.simulator.metersUpdating(), QList<int>{1});

        rig.feed.setUpdating(false);
        QVERIFY(!rig.feed.renewalTimer().isActive());
        QTRY_VERIFY(rig.simulator.receivedFrames().contains(QStringLiteral("*#18*51*#1200#1*0##")));
        QTRY_VERIFY(rig.simulator.metersUpdating().isEmpty());
        const qsizetype asked = rig.received(kAutomaticUpdates);
        rig.feed.renewUpdates(); // off: nothing is asked
        QTest::qWait(50);
        QCOMPARE(rig.received(kAutomaticUpdates), asked);
    }
};

QTEST_GUILESS_MAIN(TestEnergyMeterFeed)
#include "test_energymeterfeed.moc"
