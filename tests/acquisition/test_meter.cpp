// The meter below the window: whole frames from the real command session against a simulated
// gateway on 127.0.0.1, turned into readings, the live graph and rows of the energy table,
// with no window at all.

#include "acquisition/databasewriter.h"
#include "acquisition/meter.h"
#include "gateway/commandsession.h"
#include "gateway/frames.h"
#include "simulator/gatewaysimulator.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "support/timings.h"
#include "support/writersettle.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;
using namespace powerlog::test;

namespace {

struct MeterRig
{
    MeterRig()
    {
        EnergyDatabase::createEmpty(dir.filePath(EnergyDatabase::kFileName));
        simulator.listen(0);
        command.setPeer(QStringLiteral("127.0.0.1"), simulator.port());
        QObject::connect(&command, &CommandSession::frameReceived, &meter, &Meter::takeFrame);
    }

    // Asks the gateway for a reading, as the refresh button does.
    void requestReading() { command.send(frames::kMeasurementRequest); }

    QString file() const { return dir.filePath(EnergyDatabase::kFileName); }

    bool settle() { return powerlog::test::settle(database); }

    int rows()
    {
        settle();
        return SqlFile(file()).rows();
    }

    QTemporaryDir dir;
    FixedClock clock;
    sim::GatewaySimulator simulator;
    CommandSession command{fastTimings()};
    DatabaseWriter database{dir.path()};
    Meter meter{database, clock};
};

} // namespace

class TestMeter : public QObject
{
    Q_OBJECT

private slots:
    void recordsASimulatorReadingWithoutAWindow()
    {
        MeterRig rig;
        rig.simulator.setReading(QStringLiteral("231"), QStringLiteral("4"), QStringLiteral("925"),
                                 QStringLiteral("1500.5"));
        rig.meter.setRecording(true);
        QSignalSpy readings(&rig.meter, &Meter::readingArrived);

        rig.requestReading();
        QTRY_COMPARE(readings.count(), 1);
        const auto reading = readings.first().first().value<Reading>();
        QCOMPARE(reading.V, QStringLiteral("231"));
        QCOMPARE(reading.power, std::optional<qint16>(925));
        QCOMPARE(reading.energy, std::optional<double>(1500.5));
        QCOMPARE(reading.time, rig.clock.time);
        QCOMPARE(rig.meter.liveGraph().history(LiveGraphModel::kNewest), qint16(925));

        QVERIFY(rig.settle());
        SqlFile file(rig.file());
        QSqlQuery row(file.db());
        QVERIFY(row.exec(QStringLiteral("SELECT V, a, W, e, Data FROM Energy")));
        QVERIFY(row.next());
        QCOMPARE(row.value(0).toDouble(), 231.0);
        QCOMPARE(row.value(1).toDouble(), 4.0);
        QCOMPARE(row.value(2).toInt(), 925);
        QCOMPARE(row.value(3).toDouble(), 1500.5);
        QCOMPARE(row.value(4).toString(), QStringLiteral("2026-12-05 10:16:26"));
        QVERIFY(!row.next());
    }

    // Only full readings whose power and energy are numbers become rows, and only while
    // recording is on; every reading still reaches the window.
    void recordsOnlyRecordableReadingsWhileRecording_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("plotted");
        QTest::addColumn<int>("rows");
        QTest::newRow("full, recording") << "*#3*10*0*230*2*460*1234##" << true << true << 1;
        QTest::newRow("full, not recording") << "*#3*10*0*230*2*460*1234##" << false << true << 0;
        QTest::newRow("power only") << "*#3*10*3*575##" << true << false << 0;
        QTest::newRow("power not a number") << "*#3*10*0*230*2*4x0*1234##" << true << false << 0;
        QTest::newRow("energy with a group separator")
            << "*#3*10*0*230*2*460*1,234##" << true << true << 0;
    }

    void recordsOnlyRecordableReadingsWhileRecording()
    {
        QFETCH(QString, frame);
        QFETCH(bool, recording);
        QFETCH(bool, plotted);
        QFETCH(int, rows);
        MeterRig rig;
        rig.meter.setRecording(recording);
        QSignalSpy readings(&rig.meter, &Meter::readingArrived);
        rig.meter.takeFrame(frame);
        QCOMPARE(readings.count(), 1);
        QCOMPARE(rig.meter.liveGraph().averageCount() > 0, plotted);
        QCOMPARE(rig.rows(), rows);
    }

    void framesThatAreNoReadingsAreIgnored()
    {
        MeterRig rig;
        QSignalSpy readings(&rig.meter, &Meter::readingArrived);
        for (const char* frame : {"*#*1##", "*3*0*#4##", "*#3*10*9*1##", "*#3*10*0*230##"})
            rig.meter.takeFrame(QString::fromLatin1(frame));
        QCOMPARE(readings.count(), 0);
    }

    // A missing file is reported with every reading and recording goes on; the readings are
    // kept and written once the file is back.
    void missingDatabaseKeepsRecording()
    {
        MeterRig rig;
        QFile::remove(rig.file());
        rig.meter.setRecording(true);
        QSignalSpy failed(&rig.meter, &Meter::recordFailed);
        rig.meter.takeFrame(QStringLiteral("*#3*10*0*230*2*460*1234##"));
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().value<DatabaseResult>().kind,
                 DatabaseResult::Kind::NoConnection);
        QVERIFY(rig.meter.isRecording());

        EnergyDatabase::createEmpty(rig.file());
        rig.meter.takeFrame(QStringLiteral("*#3*10*0*230*2*460*1234##"));
        QCOMPARE(rig.rows(), 2);
        QCOMPARE(failed.count(), 1);
    }

    void refusedRowStopsRecording()
    {
        MeterRig rig;
        QVERIFY(SqlFile(rig.file())
                    .exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Energy BEGIN "
                                         "SELECT RAISE(ABORT, 'refused by a test'); END")));
        rig.meter.setRecording(true);
        QSignalSpy failed(&rig.meter, &Meter::recordFailed);
        QSignalSpy recording(&rig.meter, &Meter::recordingChanged);
        rig.meter.takeFrame(QStringLiteral("*#3*10*0*230*2*460*1234##"));
        QTRY_COMPARE(failed.count(), 1);
        const auto result = failed.first().first().value<DatabaseResult>();
        QCOMPARE(result.kind, DatabaseResult::Kind::Failed);
        QVERIFY(result.error.contains(QStringLiteral("refused by a test")));
        QVERIFY(!rig.meter.isRecording());
        QCOMPARE(recording.count(), 1);
        QCOMPARE(recording.first().first().toBool(), false);
    }
};

QTEST_GUILESS_MAIN(TestMeter)
#include "test_meter.moc"
