// The history of an energy meter fetched through the real command and monitor sessions from a
// simulated gateway on 127.0.0.1 with the meter "51" and a fixed clock, and stored in a file.

#include "acquisition/databasewriter.h"
#include "acquisition/meterhistory.h"
#include "gateway/commandsession.h"
#include "gateway/meterframes.h"
#include "gateway/monitorsession.h"
#include "simulator/gatewaysimulator.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "support/timings.h"
#include "support/writersettle.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;
using namespace powerlog::test;

namespace {

const QString kWhere = QStringLiteral("51");
// Today in the tests: 10 hours of it are over.
const QDateTime kNow(QDate(2026, 12, 5), QTime(10, 16, 26));
const QDate kToday = kNow.date();

sim::Options meterOptions()
{
    sim::Options options;
    options.meters = {1};
    return options;
}

// Every day of the fetched year but `missing` (today is never complete).
QSet<QDate> allDaysBut(const QList<QDate>& missing)
{
    QSet<QDate> days;
    for (int i = 1; i < MeterHistoryFetcher::kDays; ++i)
        days.insert(kToday.addDays(-i));
    for (const QDate& date : missing)
        days.remove(date);
    return days;
}

struct HistoryRig
{
    HistoryRig()
    {
        EnergyDatabase::createEmpty(dir.filePath(EnergyDatabase::kFileName));
        simulator.setClock([] { return kNow; });
        simulator.listen(0);
        command.setPeer(QStringLiteral("127.0.0.1"), simulator.port());
        monitor.setPeer(QStringLiteral("127.0.0.1"), simulator.port());
        monitor.open();
        fetcher.setEventWaitMs(3000 * kSlowdown);
        QObject::connect(&fetcher, &MeterHistoryFetcher::historyStored,
                         [this](const MeterHistory& history) { stored.append(history); });
        QObject::connect(&fetcher, &MeterHistoryFetcher::finished,
                         [this](bool ok) { results.append(ok); });
    }

    bool monitorOpen()
    {
        return QTest::qWaitFor([this] { return monitor.isConnected(); }, 5000 * kSlowdown);
    }

    bool fetch(int timeoutMs = 60000 * kSlowdown)
    {
        results.clear();
        fetcher.start();
        return QTest::qWaitFor([this] { return !results.isEmpty(); }, timeoutMs) && settle(writer);
    }

    // The hours of a day as the gateway answers them on the command session: hour -> Wh.
    QMap<int, qint64> gatewayHours(const QDate& date)
    {
        QMap<int, qint64> hours;
        const QMetaObject::Connection c = QObject::connect(
            &command, &CommandSession::frameReceived, [&hours](const QString& frame) {
                const auto value = meterframes::parseMeterValue(frame);
                if (value && value->kind == meterframes::MeterValue::Kind::HourOfDay)
                    hours.insert(value->hour, value->value);
            });
        bool done = false;
        command.send(meterframes::hourlyHistoryRequest(kWhere, date.month(), date.day()),
                     [&done](bool) { done = true; });
        const bool answered = QTest::qWaitFor([&done] { return done; }, 5000 * kSlowdown);
        QObject::disconnect(c);
        if (!answered)
            hours.clear();
        return hours;
    }

    // Hour -> Wh stored for a day.
    QMap<int, qint64> storedHours(const QDate& date) const
    {
        SqlFile sql(file());
        QSqlQuery query(sql.db());
        query.prepare(QStringLiteral("SELECT Hour, WattSeconds FROM EnergyMeterHour "
                                     "WHERE Hour LIKE ?"));
        query.addBindValue(date.toString(Qt::ISODate) + QLatin1Char('%'));
        query.exec();
        QMap<int, qint64> hours;
        while (query.next())
            hours.insert(query.value(0).toString().mid(11, 2).toInt(),
                         qRound64(query.value(1).toDouble() / 3600.0));
        return hours;
    }

    int count(const QString& table) const
    {
        return SqlFile(file()).value(QStringLiteral("SELECT count(*) FROM ") + table).toInt();
    }

    // How many times each day was handed to the writer with hours.
    QMap<QDate, int> daysStoredWithHours() const
    {
        QMap<QDate, int> days;
        for (const MeterHistory& history : stored) {
            QSet<QDate> inThis;
            for (const MeterHistory::Hour& hour : history.hours)
                inThis.insert(hour.date);
            for (const QDate& date : inThis)
                ++days[date];
        }
        return days;
    }

    // The hourly requests the gateway received, either form, as "M/D".
    QStringList askedDays(bool commandForm) const
    {
        QStringList days;
        for (const QString& frame : simulator.receivedFrames()) {
            const QString prefix =
                commandForm ? QStringLiteral("*18*57#") : QStringLiteral("*#18*51*511#");
            if (!frame.startsWith(prefix))
                continue;
            QStringList parts = frame.mid(prefix.size()).split(QLatin1Char('#'));
            parts[1] = parts[1].section(QLatin1Char('*'), 0, 0);
            days.append(parts[0] + QLatin1Char('/') + parts[1]);
        }
        return days;
    }

    QString file() const { return dir.filePath(EnergyDatabase::kFileName); }

    QTemporaryDir dir;
    FixedClock clock{kNow};
    sim::GatewaySimulator simulator{meterOptions()};
    CommandSession command{fastTimings()};
    MonitorSession monitor{command, fastTimings()};
    DatabaseWriter writer{dir.path()};
    MeterHistoryFetcher fetcher{kWhere, command, monitor, writer, clock};
    QList<MeterHistory> stored;
    QList<bool> results;
};

QString monthDay(const QDate& date)
{
    return QStringLiteral("%1/%2").arg(date.month()).arg(date.day());
}

} // namespace

class TestMeterHistory : public QObject
{
    Q_OBJECT

private slots:
    void wholeFetchStoresTheYearsHoursAndDays()
    {
        HistoryRig rig;
        QVERIFY(rig.monitorOpen());
        QVERIFY(rig.fetch());
        QCOMPARE(rig.results, QList<bool>{true});

        // 364 whole days and today's 10 hours over; the day totals of the 364 days and of
        // 2025 up to the first day fetched by the hour (1 January to 5 December).
        QCOMPARE(rig.count(QStringLiteral("EnergyMeterHour")), 364 * 24 + 10);
        QCOMPARE(rig.count(QStringLiteral("EnergyMeterDay")), 364 + 339);
        QCOMPARE(rig.fetcher.completeDays(), allDaysBut({}));

        for (const QDate& date :
             {kToday, kToday.addDays(-1), QDate(2026, 2, 28), kToday.addDays(-364)}) {
            const QMap<int, qint64> expected = rig.gatewayHours(date);
            QVERIFY(!expected.isEmpty());
            QCOMPARE(rig.storedHours(date), expected);
        }
        // The days before them have their totals: March 2025's add up to what the gateway
        // gives for that month.
        qint64 march = -1;
        const QMetaObject::Connection c = QObject::connect(
            &rig.command, &CommandSession::frameReceived, [&march](const QString& frame) {
                const auto value = meterframes::parseMeterValue(frame);
                if (value && value->kind == meterframes::MeterValue::Kind::MonthOfYear)
                    march = value->value;
            });
        rig.command.send(meterframes::monthOfYearRequest(kWhere, 25, 3));
        QTRY_VERIFY(march > 0);
        QObject::disconnect(c);
        SqlFile sql(rig.file());
        QCOMPARE(qRound64(sql.value(QStringLiteral("SELECT sum(WattSeconds) FROM EnergyMeterDay "
                                                   "WHERE Day LIKE '2025-03-%'"))
                              .toDouble() /
                          3600.0),
                 march);
        // Today's total is not kept while the day runs.
        QVERIFY(!sql.value(QStringLiteral("SELECT 1 FROM EnergyMeterDay WHERE Day = '%1'")
                               .arg(kToday.toString(Qt::ISODate)))
                     .isValid());
    }

    void daysHeldCompleteAreNotAskedAgain()
    {
        HistoryRig rig;
        QVERIFY(rig.monitorOpen());
        const QList<QDate> missing{kToday.addDays(-3), kToday.addDays(-200)};
        rig.fetcher.setCompleteDays(allDaysBut(missing));
        QVERIFY(rig.fetch());

        QCOMPARE(rig.askedDays(false),
                 (QStringList{monthDay(kToday), monthDay(missing[0]), monthDay(missing[1])}));
        QCOMPARE(rig.daysStoredWithHours().keys(), (QList<QDate>{missing[1], missing[0], kToday}));
        QCOMPARE(rig.count(QStringLiteral("EnergyMeterHour")), 2 * 24 + 10);

        // Once they are held, only today is asked again.
        rig.simulator.clearReceivedFrames();
        rig.stored.clear();
        QVERIFY(rig.fetch());
        QCOMPARE(rig.askedDays(false), QStringList{monthDay(kToday)});
        QCOMPARE(rig.daysStoredWithHours().keys(), QList<QDate>{kToday});
    }

    void framesTwiceOrOutOfOrderAreStoredOnce()
    {
        HistoryRig rig;
        QVERIFY(rig.monitorOpen());
        const QDate day = kToday.addDays(-40);
        const QMap<int, qint64> expected = rig.gatewayHours(day);
        QCOMPARE(expected.size(), 24);

        // As the gateway receives the request, the same frames reach the monitor session
        // backwards, twice; the command session brings them in order.
        QByteArray backwards;
        qint64 total = 0;
        for (auto it = expected.cend(); it != expected.cbegin();) {
            --it;
            backwards += QStringLiteral("*#18*51*511#%1#%2*%3*%4##")
                             .arg(day.month())
                             .arg(day.day())
                             .arg(it.key() + 1)
                             .arg(it.value())
                             .toLatin1();
            total += it.value();
        }
        backwards.prepend(QStringLiteral("*#18*51*511#%1#%2*25*%3##")
                              .arg(day.month())
                              .arg(day.day())
                              .arg(total)
                              .toLatin1());
        // And a frame of another meter for the same day.
        backwards += QStringLiteral("*#18*52*511#%1#%2*1*999999##")
                         .arg(day.month())
                         .arg(day.day())
                         .toLatin1();
        QObject::connect(
            &rig.simulator, &sim::GatewaySimulator::frameReceived,
            [&rig, day, backwards](const QString& frame) {
                if (frame == meterframes::hourlyHistoryRequest(kWhere, day.month(), day.day())) {
                    rig.simulator.pushToEventSessions(backwards + backwards);
                }
            });
        rig.fetcher.setCompleteDays(allDaysBut({day}));
        QVERIFY(rig.fetch());

        QCOMPARE(rig.daysStoredWithHours().value(day), 1);
        int hoursOfDay = 0;
        for (const MeterHistory& history : rig.stored) {
            for (const MeterHistory::Hour& hour : history.hours)
                hoursOfDay += hour.date == day ? 1 : 0;
        }
        QCOMPARE(hoursOfDay, 24);
        QCOMPARE(rig.storedHours(day), expected);
    }

    void aStopInTheMiddleLeavesNoDayUnasked()
    {
        HistoryRig rig;
        QVERIFY(rig.monitorOpen());
        QList<QDate> missing;
        for (int i = 1; i <= 12; ++i)
            missing.append(kToday.addDays(-i * 7));
        rig.fetcher.setCompleteDays(allDaysBut(missing));
        // Stops as soon as the third day is handed on, with the fourth request on its way.
        bool stopped = false;
        QObject::connect(&rig.fetcher, &MeterHistoryFetcher::historyStored,
                         [&rig, &stopped](const MeterHistory&) {
                             if (rig.stored.size() == 3) {
                                 QTimer::singleShot(0, &rig.fetcher, [&rig, &stopped] {
                                     rig.fetcher.stop();
                                     stopped = true;
                                 });
                             }
                         });
        rig.fetcher.start();
        QVERIFY(QTest::qWaitFor([&stopped] { return stopped; }, 20000 * kSlowdown));
        QVERIFY(!rig.fetcher.isRunning());
        QTest::qWait(200); // the answer on its way when it stopped comes, and is dropped
        QCOMPARE(rig.stored.size(), 3);

        QVERIFY(rig.fetch());
        QCOMPARE(rig.results, QList<bool>{true});
        QList<QDate> expected = missing;
        expected.append(kToday);
        std::sort(expected.begin(), expected.end());
        const QMap<QDate, int> days = rig.daysStoredWithHours();
        QCOMPARE(days.keys(), expected);
        for (const QDate& date : expected) {
            // Today's hours are asked on every run: one store per run that reached it.
            if (date != kToday)
                QCOMPARE(days.value(date), 1);
            QCOMPARE(rig.storedHours(date).size(), date == kToday ? 10 : 24);
        }
        QCOMPARE(rig.fetcher.completeDays(), allDaysBut({}));
    }

    void theCommandFormWhenTheRequestIsRefused()
    {
        HistoryRig rig;
        QVERIFY(rig.monitorOpen());
        // The gateway refuses the hourly request, and only that.
        QObject::connect(&rig.simulator, &sim::GatewaySimulator::frameReceived,
                         [&rig](const QString& frame) {
                             sim::Faults faults;
                             faults.nackAll = frame.startsWith(QStringLiteral("*#18*51*511#"));
                             rig.simulator.setFaults(faults);
                         });
        const QList<QDate> missing{kToday.addDays(-1), kToday.addDays(-300)};
        rig.fetcher.setCompleteDays(allDaysBut(missing));
        QVERIFY(rig.fetch());
        QCOMPARE(rig.results, QList<bool>{true});

        // Refused for the first day (the session itself sends it a few times), then the command
        // form for every day.
        QStringList refused = rig.askedDays(false);
        refused.removeDuplicates();
        QCOMPARE(refused, QStringList{monthDay(kToday)});
        QCOMPARE(rig.askedDays(true),
                 (QStringList{monthDay(kToday), monthDay(missing[0]), monthDay(missing[1])}));
        QCOMPARE(rig.storedHours(kToday).size(), 10);
        for (const QDate& date : missing)
            QCOMPARE(rig.storedHours(date).size(), 24);
        QCOMPARE(rig.daysStoredWithHours().keys(), (QList<QDate>{missing[1], missing[0], kToday}));
    }

    void aGatewayThatRefusesEveryFormEndsTheRun()
    {
        HistoryRig rig;
        QVERIFY(rig.monitorOpen());
        QObject::connect(&rig.simulator, &sim::GatewaySimulator::frameReceived,
                         [&rig](const QString& frame) {
                             sim::Faults faults;
                             faults.nackAll = frame.startsWith(QStringLiteral("*#18*")) ||
                                              frame.startsWith(QStringLiteral("*18*"));
                             rig.simulator.setFaults(faults);
                         });
        QVERIFY(rig.fetch());
        QCOMPARE(rig.results, QList<bool>{false});
        QVERIFY(rig.stored.isEmpty());
        QVERIFY(!rig.fetcher.isRunning());
        // Three days in a row refused in both forms, and nothing further asked.
        QStringList asked = rig.askedDays(true);
        asked.removeDuplicates();
        QCOMPARE(asked, (QStringList{monthDay(kToday), monthDay(kToday.addDays(-1)),
                                     monthDay(kToday.addDays(-2))}));
    }
};

QTEST_GUILESS_MAIN(TestMeterHistory)
#include "test_meterhistory.moc"
