// The real program, started as a separate process with a program folder, settings file and
// runtime folders of its own, talking to a simulated gateway on 127.0.0.1 only.

#include "simulator/gatewaysimulator.h"
#include "simulator/meterbank.h"
#include "support/toolrun.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kDatabaseName = QStringLiteral("DbEnergy.mdb");

struct EnergyRow
{
    QVariant V, a, W, e, Data;
};

// Reads the table through a connection of our own, closed again before returning, so the
// program's writes are never held up by the test.
QList<EnergyRow> energyRows(const QString& path, QString* integrity = nullptr)
{
    QList<EnergyRow> rows;
    const QString name = QStringLiteral("endtoend-check");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT V, a, W, e, Data FROM Energy ORDER BY rowid"))) {
                while (query.next())
                    rows.append({query.value(0), query.value(1), query.value(2), query.value(3),
                                 query.value(4)});
            }
            if (integrity && query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                *integrity = query.value(0).toString();
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

// One run of the program, isolated from the user's own settings, folders and instance lock.
class ProgramRun
{
public:
    ProgramRun()
    {
        QDir root(dir.path());
        root.mkpath(QStringLiteral("program"));
        root.mkpath(QStringLiteral("config"));
        root.mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner);
    }

    ~ProgramRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QString folder() const { return dir.filePath(QStringLiteral("program")); }
    QString databasePath() const { return QDir(folder()).filePath(kDatabaseName); }
    QString settingsPath() const { return dir.filePath(QStringLiteral("settings.ini")); }

    bool installEmptyDatabase() const
    {
        return QFile::copy(QStringLiteral(POWERLOG_EMPTY_DATABASE), databasePath()) &&
               QFile::setPermissions(databasePath(),
                                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    bool writeSettings(const QByteArray& ini) const
    {
        QFile file(settingsPath());
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(ini) == ini.size();
    }

    void start(const QStringList& extraArguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("POWERLOG_TEST"), QStringLiteral("1"));
        env.remove(QStringLiteral("POWERLOG_HOME"));
        // Nothing in a test run may leave this machine: any web request goes to a dead port.
        for (const char* proxy :
             {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            env.insert(QLatin1String(proxy), QStringLiteral("http://127.0.0.1:9"));
        for (const char* direct : {"no_proxy", "NO_PROXY"})
            env.insert(QLatin1String(direct), QStringLiteral("127.0.0.1,localhost,::1"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(POWERLOG_BINARY),
                      extraArguments + QStringList{QStringLiteral("--folder"), folder(),
                                                   QStringLiteral("--settings"), settingsPath()});
    }

    QTemporaryDir dir;
    QProcess process;
};

QByteArray settingsFor(quint16 port, const QByteArray& more = {})
{
    return "[Option]\nServerIP=127.0.0.1\nServerPORT=" + QByteArray::number(port) + "\n" + more;
}

struct TcpSocketEntry
{
    QString local;
    QString remote;
    bool listening = false;
    qint64 sendQueue = 0;    // written, not yet acknowledged by the other end
    qint64 receiveQueue = 0; // arrived, not yet read by the process
};

// The TCP sockets a process holds, from /proc: addresses as "a.b.c.d:port" or "[v6]:port".
QList<TcpSocketEntry> tcpSocketsOf(qint64 pid)
{
    QSet<QString> inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System)) {
        const QString target = fd.symLinkTarget().section(QLatin1Char('/'), -1);
        if (target.startsWith(QLatin1String("socket:[")))
            inodes.insert(target.mid(8).chopped(1));
    }

    const auto address = [](const QString& hex, bool v6) {
        const QString host = hex.section(QLatin1Char(':'), 0, 0);
        const int port = hex.section(QLatin1Char(':'), 1, 1).toInt(nullptr, 16);
        if (!v6) {
            const quint32 raw = host.toUInt(nullptr, 16); // stored in network order, read LE
            return QStringLiteral("%1.%2.%3.%4:%5")
                .arg(raw & 0xff)
                .arg((raw >> 8) & 0xff)
                .arg((raw >> 16) & 0xff)
                .arg(raw >> 24)
                .arg(port);
        }
        Q_IPV6ADDR bytes{};
        for (int word = 0; word < 4; ++word) {
            const quint32 raw = host.mid(word * 8, 8).toUInt(nullptr, 16);
            for (int b = 0; b < 4; ++b)
                bytes[word * 4 + b] = quint8(raw >> (8 * b));
        }
        return QStringLiteral("[%1]:%2").arg(QHostAddress(bytes).toString()).arg(port);
    };

    QList<TcpSocketEntry> sockets;
    for (const char* table : {"tcp", "tcp6"}) {
        QFile file(QStringLiteral("/proc/%1/net/%2").arg(pid).arg(QLatin1String(table)));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const bool v6 = qstrcmp(table, "tcp6") == 0;
        file.readLine(); // heading
        while (!file.atEnd()) {
            const QStringList fields =
                QString::fromLatin1(file.readLine()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() < 10 || !inodes.contains(fields.at(9)))
                continue;
            const QString queues = fields.at(4); // "tx_queue:rx_queue" in hexadecimal
            sockets.append({address(fields.at(1), v6), address(fields.at(2), v6),
                            fields.at(3) == QLatin1String("0A"),
                            queues.section(QLatin1Char(':'), 0, 0).toLongLong(nullptr, 16),
                            queues.section(QLatin1Char(':'), 1, 1).toLongLong(nullptr, 16)});
        }
    }
    return sockets;
}

bool isLoopback(const QString& endpoint)
{
    const QString host =
        endpoint.section(QLatin1Char(':'), 0, -2).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    return QHostAddress(host).isLoopback();
}

// True once the process has a session connected to a gateway it listens for itself.
bool connectedToOwnGateway(qint64 pid)
{
    const QList<TcpSocketEntry> sockets = tcpSocketsOf(pid);
    for (const TcpSocketEntry& server : sockets) {
        if (!server.listening || !isLoopback(server.local))
            continue;
        for (const TcpSocketEntry& client : sockets) {
            if (!client.listening && client.remote == server.local)
                return true;
        }
    }
    return false;
}

// Bytes that a gateway of this process listening on `port` has written to the process `pid` and
// that `pid` has not read yet, in the queues of either end; -1 when `pid` has no session with it.
qint64 bytesUnreadFromGateway(qint64 pid, quint16 port)
{
    const QString gatewayEnd = QStringLiteral(":%1").arg(port);
    QSet<QString> programEnds;
    qint64 unread = 0;
    for (const TcpSocketEntry& socket : tcpSocketsOf(pid)) {
        if (!socket.listening && socket.remote.endsWith(gatewayEnd)) {
            programEnds.insert(socket.local);
            unread += socket.receiveQueue;
        }
    }
    if (programEnds.isEmpty())
        return -1;
    for (const TcpSocketEntry& socket : tcpSocketsOf(QCoreApplication::applicationPid())) {
        if (!socket.listening && programEnds.contains(socket.remote))
            unread += socket.sendQueue;
    }
    return unread;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordsAReadingFromTheGateway();
    void demoRunsAgainstItsOwnGateway();
    void demoReadsASimulatedMeter();
    void recordsAnEnergyMeterAndItsHistory();
    void terminationWritesEveryQueuedReading();
};

void TestEndToEnd::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(POWERLOG_BINARY)), POWERLOG_BINARY);
    QVERIFY2(QFile::exists(QStringLiteral(POWERLOG_EMPTY_DATABASE)), POWERLOG_EMPTY_DATABASE);
}

void TestEndToEnd::recordsAReadingFromTheGateway()
{
    powerlog::sim::GatewaySimulator gateway;
    QVERIFY(gateway.listen(0));
    gateway.setReading(QStringLiteral("231"), QStringLiteral("4"), QStringLiteral("925"),
                       QStringLiteral("1500.5"));

    ProgramRun run;
    QVERIFY(run.dir.isValid());
    QVERIFY(run.installEmptyDatabase());
    QVERIFY(run.writeSettings(
        settingsFor(gateway.port(), "[Start]\nAuto=1\nRecAuto=1\n[Timer]\nAgg=10\n")));
    run.start();
    QVERIFY2(run.process.waitForStarted(10000), qPrintable(run.process.errorString()));

    // The test's event loop serves the gateway while it waits for the row.
    QTRY_VERIFY_WITH_TIMEOUT(!energyRows(run.databasePath()).isEmpty() ||
                                 run.process.state() == QProcess::NotRunning,
                             30000);
    QCOMPARE(run.process.state(), QProcess::Running);
    const QDateTime now = QDateTime::currentDateTime();

    const EnergyRow row = energyRows(run.databasePath()).first();
    QCOMPARE(row.V.toDouble(), 231.0);
    QCOMPARE(row.a.toDouble(), 4.0);
    QCOMPARE(row.W.toInt(), 925);
    QCOMPARE(row.e.toDouble(), 1500.5);
    const QDateTime recorded =
        QDateTime::fromString(row.Data.toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY2(recorded.isValid(), qPrintable(row.Data.toString()));
    QVERIFY2(qAbs(recorded.secsTo(now)) <= 120, qPrintable(row.Data.toString()));

    const QStringList frames = gateway.receivedFrames();
    for (const char* expected : {"*99*0##", "*99*1##", "*#3*10*0##"})
        QVERIFY2(frames.contains(QLatin1String(expected)), expected);

    run.process.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(run.process.state(), QProcess::NotRunning, 10000);
    if (run.process.exitStatus() == QProcess::NormalExit)
        QCOMPARE(run.process.exitCode(), 0);

    // What was written survives the end of the program.
    QString integrity;
    const QList<EnergyRow> kept = energyRows(run.databasePath(), &integrity);
    QCOMPARE(integrity, QStringLiteral("ok"));
    QVERIFY(!kept.isEmpty());
    QCOMPARE(kept.first().W.toInt(), 925);
    QCOMPARE(kept.first().e.toDouble(), 1500.5);
}

void TestEndToEnd::demoRunsAgainstItsOwnGateway()
{
#ifndef Q_OS_LINUX
    QSKIP("Reads the program's sockets from /proc");
#endif
    // The stored settings point at a listener of ours: the demo must never call it.
    QTcpServer storedPeer;
    QVERIFY(storedPeer.listen(QHostAddress::LocalHost, 0));
    QSignalSpy calls(&storedPeer, &QTcpServer::newConnection);

    ProgramRun run;
    QVERIFY(run.dir.isValid());
    QVERIFY(run.installEmptyDatabase());
    QVERIFY(run.writeSettings(settingsFor(storedPeer.serverPort())));
    run.start({QStringLiteral("--demo")});
    QVERIFY2(run.process.waitForStarted(10000), qPrintable(run.process.errorString()));
    const qint64 pid = run.process.processId();

    QTRY_VERIFY_WITH_TIMEOUT(
        connectedToOwnGateway(pid) || run.process.state() == QProcess::NotRunning, 30000);
    QCOMPARE(run.process.state(), QProcess::Running);
    for (const TcpSocketEntry& socket : tcpSocketsOf(pid)) {
        if (!socket.listening)
            QVERIFY2(isLoopback(socket.remote), qPrintable(socket.remote));
    }
    QCOMPARE(calls.count(), 0);
    QVERIFY(!storedPeer.hasPendingConnections());

    run.process.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(run.process.state(), QProcess::NotRunning, 10000);
    QCOMPARE(calls.count(), 0);
}

// `--demo --meter`: a gateway that refuses every WHO 3 frame and has an energy meter at 51; the
// demo records the meter's power, without tension and current, into its own folder.
void TestEndToEnd::demoReadsASimulatedMeter()
{
    ProgramRun run;
    QVERIFY(run.dir.isValid());
    QVERIFY(run.installEmptyDatabase());
    run.start({QStringLiteral("--demo"), QStringLiteral("--meter")});
    QVERIFY2(run.process.waitForStarted(10000), qPrintable(run.process.errorString()));
    const QString demoDatabase =
        QDir(run.folder()).filePath(QStringLiteral("demo/") + kDatabaseName);
    QTRY_VERIFY_WITH_TIMEOUT(
        !energyRows(demoDatabase).isEmpty() || run.process.state() == QProcess::NotRunning, 30000);
    QCOMPARE(run.process.state(), QProcess::Running);
    const EnergyRow row = energyRows(demoDatabase).first();
    QVERIFY(row.V.isNull());
    QVERIFY(row.a.isNull());
    QVERIFY(row.e.toDouble() > 0);
    run.process.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(run.process.state(), QProcess::NotRunning, 10000);
    QVERIFY(energyRows(run.databasePath()).isEmpty()); // the user's own file is not touched
}

// A gateway without a load-control unit and a meter at 51: in automatic mode with recording on,
// the program records the meter's power with E from its totalizer, stays automatic, and fetches
// the meter's history, so that `powerlog-cli energy daily` for a day three days back gives the
// hours exactly as the meter reported them.
void TestEndToEnd::recordsAnEnergyMeterAndItsHistory()
{
    powerlog::sim::Options options;
    options.meters = {1};
    options.who3 = false;
    powerlog::sim::GatewaySimulator gateway(options);
    QVERIFY(gateway.listen(0));

    ProgramRun run;
    QVERIFY(run.installEmptyDatabase());
    QVERIFY(run.writeSettings(settingsFor(gateway.port(), "[Start]\nAuto=1\nRecAuto=1\n"
                                                          "[Timer]\nAgg=10\n"
                                                          "[Meter]\nSource=meter\nWhere=51\n")));
    run.start();
    QVERIFY2(run.process.waitForStarted(10000), qPrintable(run.process.errorString()));

    const QDate day = QDate::currentDate().addDays(-3);
    const auto hoursHeld = [&run, &day] {
        const QString name = QStringLiteral("endtoend-meter");
        int hours = 0;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(run.databasePath());
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (db.open()) {
                QSqlQuery query(db);
                if (query.exec(QStringLiteral("SELECT count(*) FROM EnergyMeterHour WHERE Hour "
                                              "LIKE '%1%'")
                                   .arg(day.toString(Qt::ISODate))) &&
                    query.next())
                    hours = query.value(0).toInt();
                query.finish();
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(name);
        return hours;
    };
    QTRY_VERIFY_WITH_TIMEOUT(energyRows(run.databasePath()).size() >= 2 ||
                                 run.process.state() == QProcess::NotRunning,
                             120000);
    QCOMPARE(run.process.state(), QProcess::Running);
    QTRY_VERIFY_WITH_TIMEOUT(hoursHeld() == 24 || run.process.state() == QProcess::NotRunning,
                             120000);
    QCOMPARE(run.process.state(), QProcess::Running);
    for (const EnergyRow& row : energyRows(run.databasePath())) {
        QVERIFY(row.V.isNull());
        QVERIFY(row.a.isNull());
        QVERIFY(row.e.toDouble() > 1000); // the totalizer, in kWh
    }
    // Still automatic: the refused WHO 3 frames ended nothing, and the meter is asked.
    gateway.clearReceivedFrames();
    QTRY_VERIFY_WITH_TIMEOUT(gateway.receivedFrames().contains(QStringLiteral("*#18*51*51##")),
                             30000);

    const powerlog::test::ToolRun energy = powerlog::test::runTool(
        QStringLiteral(POWERLOG_CLI),
        {QStringLiteral("--folder"), run.folder(), QStringLiteral("--settings"), run.settingsPath(),
         QStringLiteral("energy"), QStringLiteral("daily"), day.toString(Qt::ISODate)},
        powerlog::test::toolEnvironment());
    QCOMPARE(energy.exitCode, 0);
    const powerlog::sim::MeterBank meter(options.seed);
    QStringList kwh;
    for (const QString& line : energy.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1, 24))
        kwh << line.section(QLatin1Char(','), 1, 1);
    QStringList expected;
    for (int hour = 0; hour < 24; ++hour)
        expected << QString::number(double(meter.hourWh(1, day, hour)) / 1000, 'f', 3);
    QCOMPARE(kwh, expected);

    run.process.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(run.process.state(), QProcess::NotRunning, 10000);
}

// Readings wait in the writer's queue while another program holds the database; a request to
// end the program arrives meanwhile. Every one of them is on disk when the program has ended.
void TestEndToEnd::terminationWritesEveryQueuedReading()
{
#ifndef Q_OS_LINUX
    QSKIP("Reads the program's sockets from /proc");
#endif
    powerlog::sim::GatewaySimulator gateway;
    QVERIFY(gateway.listen(0));
    ProgramRun run;
    QVERIFY(run.installEmptyDatabase());
    // The ST interface records whatever the gateway pushes, so the test decides each reading.
    QVERIFY(run.writeSettings(settingsFor(gateway.port(), "Interface=1\n[Start]\nRecAuto=1\n")));
    run.start();
    QVERIFY2(run.process.waitForStarted(10000), qPrintable(run.process.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(gateway.openEventSessions() >= 1, 20000);
    // The program has opened the database: its connection keeps the WAL file beside it.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(run.databasePath() + QStringLiteral("-wal")) ||
                                 run.process.state() == QProcess::NotRunning,
                             20000);
    QCOMPARE(run.process.state(), QProcess::Running);

    const QString lockName = QStringLiteral("endtoend-lock");
    {
        QSqlDatabase lock = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lockName);
        lock.setDatabaseName(run.databasePath());
        QVERIFY(lock.open());
        QVERIFY(QSqlQuery(lock).exec(QStringLiteral("BEGIN IMMEDIATE")));

        constexpr int kReadings = 20;
        for (int i = 1; i <= kReadings; ++i) {
            gateway.pushToEventSessions(
                QStringLiteral("*#3*10*0*230*4*900*%1##").arg(i).toLatin1());
            QTest::qWait(10);
        }
        // Delivered: the program has read every byte, so the readings wait behind the lock.
        const qint64 pid = run.process.processId();
        QTRY_COMPARE_WITH_TIMEOUT(bytesUnreadFromGateway(pid, gateway.port()), 0, 10000);
        run.process.terminate();
        // The program ends its sessions first, then finishes the writes queued before.
        QTRY_COMPARE_WITH_TIMEOUT(gateway.openEventSessions(), 0, 10000);
        QVERIFY(run.process.state() == QProcess::Running); // still writing, or waiting to
        QVERIFY(QSqlQuery(lock).exec(QStringLiteral("ROLLBACK")));
        lock.close();

        QTRY_COMPARE_WITH_TIMEOUT(run.process.state(), QProcess::NotRunning, 20000);
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 0);

        QString integrity;
        const QList<EnergyRow> rows = energyRows(run.databasePath(), &integrity);
        QCOMPARE(integrity, QStringLiteral("ok"));
        for (const auto& r : rows)
            qInfo() << "row" << r.e;
        QCOMPARE(rows.size(), kReadings);
        for (int i = 0; i < kReadings; ++i)
            QCOMPARE(rows.at(i).e.toInt(), i + 1);
    }
    QSqlDatabase::removeDatabase(lockName);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
