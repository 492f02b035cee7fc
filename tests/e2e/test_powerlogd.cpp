// powerlogd, the background recorder, started as its own process with no display, a program
// folder and a settings file of its own, talking to simulated gateways on 127.0.0.1 only.

#include "app/settings.h"
#include "app/settingsstore.h"
#include "simulator/gatewaysimulator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace powerlog;

namespace {

const QString kDatabaseName = QStringLiteral("DbEnergy.mdb");

// The value of the first column of `sql` on the file, read through a connection of our own
// that is closed again, so the recorder's writes are never held up; invalid when it cannot be
// read.
QVariant valueOf(const QString& path, const QString& sql)
{
    QVariant value;
    const QString name = QStringLiteral("powerlogd-check");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                value = query.value(0);
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

int countOf(const QString& path, const QString& sql)
{
    const QVariant value = valueOf(path, sql);
    return value.isValid() ? value.toInt() : -1;
}

int rowsWithPower(const QString& path, int watts)
{
    return countOf(path, QStringLiteral("SELECT count(*) FROM Energy WHERE W = %1").arg(watts));
}

// A folder with the empty database and a settings file, shared by one or more recorders.
struct Place
{
    Place()
    {
        QDir(dir.path()).mkpath(QStringLiteral("program"));
        QFile::copy(QStringLiteral(POWERLOG_EMPTY_DATABASE), databasePath());
        QFile::setPermissions(databasePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    QString folder() const { return dir.filePath(QStringLiteral("program")); }
    QString databasePath() const { return QDir(folder()).filePath(kDatabaseName); }
    QString settingsPath(const QString& name = QStringLiteral("settings.ini")) const
    {
        return dir.filePath(name);
    }

    // Settings pointing at the gateway on `port`, plus `more` lines of the INI file.
    QString writeSettings(quint16 port, const QByteArray& more = {},
                          const QString& name = QStringLiteral("settings.ini")) const
    {
        QFile file(settingsPath(name));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write("[Option]\nServerIP=127.0.0.1\nServerPORT=" + QByteArray::number(port) +
                   "\n[Timer]\nAgg=10\n" + more);
        return settingsPath(name);
    }

    QTemporaryDir dir;
};

// One run of powerlogd: no display, no session bus, its standard error kept.
class Recorder
{
public:
    explicit Recorder(const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "POWERLOG_HOME",
                                 "DBUS_SESSION_BUS_ADDRESS"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        process.setProcessEnvironment(env);
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { err += QString::fromUtf8(process.readAllStandardError()); });
        process.start(QStringLiteral(POWERLOGD_BINARY), arguments);
    }
    ~Recorder()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QStringList lines()
    {
        err += QString::fromUtf8(process.readAllStandardError());
        return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    bool said(const QString& part) { return lines().filter(part).size() > 0; }
    bool running() const { return process.state() == QProcess::Running; }
    void signal(int number) const { ::kill(pid_t(process.processId()), number); }
    // The exit code once it ended by itself; -1 otherwise.
    int exitCode() const
    {
        return process.state() == QProcess::NotRunning &&
                       process.exitStatus() == QProcess::NormalExit
                   ? process.exitCode()
                   : -1;
    }

    QTemporaryDir home;
    QProcess process;
    QString err;
};

QStringList recordArguments(const Place& place, const QString& settings)
{
    return {QStringLiteral("--folder"), place.folder(), QStringLiteral("--settings"), settings};
}

} // namespace

class TestPowerlogd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void linksNeitherGuiNorWidgets();
    void recordsWithoutADisplay();
    void signalsStopItWithEveryReadingWritten_data();
    void signalsStopItWithEveryReadingWritten();
    void refusedPasswordIsToldOnceAndEndsTheRun();
    void checkExitCodes_data();
    void checkExitCodes();
    void secondRecorderWaitsAndTakesOverAStaleLock();
    void windowProgramBesideTheRecorderRecordsNothing();
};

void TestPowerlogd::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(POWERLOGD_BINARY)), POWERLOGD_BINARY);
}

// The recorder must run where there is no display at all: no Qt Gui, no Qt Widgets.
void TestPowerlogd::linksNeitherGuiNorWidgets()
{
    const QString ldd = QStandardPaths::findExecutable(QStringLiteral("ldd"));
    if (ldd.isEmpty())
        QSKIP("ldd is not installed");
    QProcess tool;
    tool.start(ldd, {QStringLiteral(POWERLOGD_BINARY)});
    QVERIFY(tool.waitForFinished(30000));
    const QByteArray libraries = tool.readAllStandardOutput();
    QVERIFY2(libraries.contains("libQt6Core"), libraries.constData());
    QVERIFY2(!libraries.contains("libQt6Widgets"), libraries.constData());
    QVERIFY2(!libraries.contains("libQt6Gui"), libraries.constData());
}

void TestPowerlogd::recordsWithoutADisplay()
{
    sim::GatewaySimulator gateway;
    QVERIFY(gateway.listen(0));
    gateway.setReading(QStringLiteral("231"), QStringLiteral("4"), QStringLiteral("925"),
                       QStringLiteral("1500.5"));
    Place place;
    // The window program's start switches are off: the recorder records all the same.
    Recorder recorder(recordArguments(
        place, place.writeSettings(gateway.port(), "[Start]\nAuto=0\nRecAuto=0\n")));
    QVERIFY2(recorder.process.waitForStarted(10000), qPrintable(recorder.process.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(rowsWithPower(place.databasePath(), 925) > 0 || !recorder.running(),
                             30000);
    QVERIFY2(recorder.running(), qPrintable(recorder.lines().join(QLatin1Char('\n'))));

    recorder.signal(SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.running(), 20000);
    QCOMPARE(recorder.exitCode(), 0);
    const QStringList lines = recorder.lines();
    const QString text = lines.join(QLatin1Char('\n'));
    QVERIFY2(lines.first().startsWith(QStringLiteral("recording into ")), qPrintable(text));
    QVERIFY2(recorder.said(
                 QStringLiteral("connected to the gateway at 127.0.0.1:%1").arg(gateway.port())),
             qPrintable(text));
    QVERIFY2(recorder.said(QStringLiteral("stopping on signal SIGTERM")), qPrintable(text));
    QCOMPARE(lines.last(), QStringLiteral("stopped: every reading written"));
    // Quiet: a handful of lines, none per reading.
    QVERIFY2(lines.size() < 12, qPrintable(text));
    QCOMPARE(valueOf(place.databasePath(), QStringLiteral("PRAGMA integrity_check")).toString(),
             QStringLiteral("ok"));
}

void TestPowerlogd::signalsStopItWithEveryReadingWritten_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("name");
    QTest::newRow("SIGTERM") << int(SIGTERM) << QStringLiteral("SIGTERM");
    QTest::newRow("SIGINT") << int(SIGINT) << QStringLiteral("SIGINT");
    QTest::newRow("SIGHUP") << int(SIGHUP) << QStringLiteral("SIGHUP");
}

// The ST interface records whatever the gateway pushes, so the test decides each reading; the
// signal comes as soon as the recorder has read them all.
void TestPowerlogd::signalsStopItWithEveryReadingWritten()
{
    QFETCH(int, signal);
    QFETCH(QString, name);
    sim::GatewaySimulator gateway;
    QVERIFY(gateway.listen(0));
    Place place;
    Recorder recorder(
        recordArguments(place, place.writeSettings(gateway.port(), "[Option]\nInterface=1\n")));
    QVERIFY2(recorder.process.waitForStarted(10000), qPrintable(recorder.process.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(gateway.openEventSessions() >= 1 || !recorder.running(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.said(QStringLiteral("database open")) || !recorder.running(),
                             20000);
    QVERIFY(recorder.running());

    constexpr int kReadings = 30;
    for (int i = 1; i <= kReadings; ++i)
        gateway.pushToEventSessions(QStringLiteral("*#3*10*0*230*4*777*%1##").arg(i).toLatin1());
    // Each reading is taken once the recorder has read its bytes; some may wait in its queue.
    QTRY_VERIFY_WITH_TIMEOUT(rowsWithPower(place.databasePath(), 777) > 0, 20000);
    recorder.signal(signal);
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.running(), 20000);
    QCOMPARE(recorder.exitCode(), 0);
    QVERIFY(recorder.said(QStringLiteral("stopping on signal ") + name));
    QCOMPARE(recorder.lines().last(), QStringLiteral("stopped: every reading written"));
    QCOMPARE(rowsWithPower(place.databasePath(), 777), kReadings);
}

// A wrong password: said once, never offered again, and the run ends with its own exit code so
// that the service manager shows it and does not start the recorder again.
void TestPowerlogd::refusedPasswordIsToldOnceAndEndsTheRun()
{
    sim::Options options;
    options.password = QStringLiteral("right2024");
    options.auth = sim::Auth::HmacSha256;
    sim::GatewaySimulator gateway(options);
    QVERIFY(gateway.listen(0));
    Place place;
    const QString settingsFile = place.writeSettings(gateway.port());
    {
        SettingsStore store(settingsFile);
        Settings settings(store);
        QVERIFY(settings.set(Setting::ServerPassword, QStringLiteral("wrong2024")));
    }
    Recorder recorder(recordArguments(place, settingsFile));
    QVERIFY2(recorder.process.waitForStarted(10000), qPrintable(recorder.process.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.running(), 30000);
    const QStringList lines = recorder.lines();
    QCOMPARE(recorder.exitCode(), 3);
    QCOMPARE(lines.filter(QStringLiteral("the gateway refused the password")).size(), 1);
    QCOMPARE(countOf(place.databasePath(), QStringLiteral("SELECT count(*) FROM Energy")), 0);
}

void TestPowerlogd::checkExitCodes_data()
{
    QTest::addColumn<QByteArray>("settings"); // more lines of the settings file
    QTest::addColumn<QByteArray>("database"); // "empty", "missing" or the file's bytes
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // on stdout or stderr

    QTest::newRow("all well") << QByteArray() << QByteArray("empty") << QStringList() << 0
                              << "settings_check=ok";
    QTest::newRow("port not a number")
        << QByteArray("[Option]\nServerPORT=twenty\n") << QByteArray("empty") << QStringList() << 1
        << "Option/ServerPORT: \"twenty\" is not a valid value";
    QTest::newRow("refresh out of its choices")
        << QByteArray("[Timer]\nAgg=7\n") << QByteArray("empty") << QStringList() << 1
        << "Timer/Agg";
    QTest::newRow("no database") << QByteArray() << QByteArray("missing") << QStringList() << 2
                                 << "file not found";
    QTest::newRow("not a database")
        << QByteArray() << QByteArray(4096, 'x') << QStringList() << 2 << "cannot open";
    QTest::newRow("settings file missing")
        << QByteArray() << QByteArray("empty")
        << QStringList{QStringLiteral("--settings"), QStringLiteral("/nonexistent.ini")} << 1
        << "settings file not found";
    QTest::newRow("unknown option")
        << QByteArray() << QByteArray("empty") << QStringList{QStringLiteral("--frobnicate")} << 64
        << "Unknown option";
}

void TestPowerlogd::checkExitCodes()
{
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, database);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    Place place;
    const QString settingsFile = place.writeSettings(20000, settings);
    if (database == "missing") {
        QVERIFY(QFile::remove(place.databasePath()));
    } else if (database != "empty") {
        QFile file(place.databasePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(database);
    }
    QStringList arguments = recordArguments(place, settingsFile);
    arguments << QStringLiteral("--check") << extra;
    Recorder check(arguments);
    QVERIFY(check.process.waitForFinished(60000));
    const QString out = QString::fromUtf8(check.process.readAllStandardOutput());
    const QString all = out + check.lines().join(QLatin1Char('\n'));
    QVERIFY2(all.contains(said), qPrintable(all));
    QCOMPARE(check.exitCode(), exitCode);
    if (exitCode == 0) {
        for (const char* line :
             {"gateway=127.0.0.1:20000", "rows=0", "integrity=ok", "summary=ok", "recorder=none"})
            QVERIFY2(out.contains(QLatin1String(line)), qPrintable(out));
    }
}

// Two recorders on one database, each with a gateway of its own told apart by its power: the
// second gets readings and records none while the first runs; the first is killed, leaving its
// lock behind, and the second takes over at its next reading.
void TestPowerlogd::secondRecorderWaitsAndTakesOverAStaleLock()
{
    sim::GatewaySimulator first;
    QVERIFY(first.listen(0));
    first.setReading(QStringLiteral("231"), QStringLiteral("4"), QStringLiteral("925"),
                     QStringLiteral("10"));
    sim::GatewaySimulator second;
    QVERIFY(second.listen(0));
    second.setReading(QStringLiteral("229"), QStringLiteral("1"), QStringLiteral("111"),
                      QStringLiteral("20"));
    Place place;
    Recorder recorder(recordArguments(place, place.writeSettings(first.port(), {}, "first.ini")));
    QVERIFY2(recorder.process.waitForStarted(10000), qPrintable(recorder.process.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(rowsWithPower(place.databasePath(), 925) > 0 || !recorder.running(),
                             30000);
    QVERIFY(recorder.running());
    QVERIFY(QFile::exists(place.databasePath() + QStringLiteral(".lock")));

    Recorder waiting(recordArguments(place, place.writeSettings(second.port(), {}, "second.ini")));
    QVERIFY2(waiting.process.waitForStarted(10000), qPrintable(waiting.process.errorString()));
    // It finds the lock held as it starts, and reads without recording.
    const QString told =
        QStringLiteral("another process (%1) records into").arg(recorder.process.processId());
    QTRY_VERIFY_WITH_TIMEOUT(waiting.said(told) || !waiting.running(), 30000);
    QVERIFY2(waiting.running(), qPrintable(waiting.lines().join(QLatin1Char('\n'))));
    QTRY_VERIFY_WITH_TIMEOUT(second.receivedFrames().contains(QStringLiteral("*#3*10*0##")), 30000);
    QCOMPARE(rowsWithPower(place.databasePath(), 111), 0);

    recorder.process.kill(); // no chance to release the lock
    QVERIFY(recorder.process.waitForFinished(10000));
    QVERIFY(QFile::exists(place.databasePath() + QStringLiteral(".lock")));
    QTRY_VERIFY_WITH_TIMEOUT(rowsWithPower(place.databasePath(), 111) > 0 || !waiting.running(),
                             40000);
    QVERIFY(waiting.running());
    QVERIFY(waiting.said(QStringLiteral("recording into ")));

    waiting.signal(SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!waiting.running(), 20000);
    QCOMPARE(waiting.exitCode(), 0);
    QVERIFY(!QFile::exists(place.databasePath() + QStringLiteral(".lock")));
}

// The window program started beside a running recorder, each with a gateway of its own: the
// window asks its gateway and records nothing; once the recorder has stopped, the window records
// from its next reading.
void TestPowerlogd::windowProgramBesideTheRecorderRecordsNothing()
{
    sim::GatewaySimulator recorderGateway;
    QVERIFY(recorderGateway.listen(0));
    recorderGateway.setReading(QStringLiteral("231"), QStringLiteral("4"), QStringLiteral("925"),
                               QStringLiteral("10"));
    sim::GatewaySimulator windowGateway;
    QVERIFY(windowGateway.listen(0));
    windowGateway.setReading(QStringLiteral("229"), QStringLiteral("1"), QStringLiteral("111"),
                             QStringLiteral("20"));
    Place place;
    Recorder recorder(
        recordArguments(place, place.writeSettings(recorderGateway.port(), {}, "recorder.ini")));
    QVERIFY2(recorder.process.waitForStarted(10000), qPrintable(recorder.process.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(rowsWithPower(place.databasePath(), 925) > 0 || !recorder.running(),
                             30000);
    QVERIFY(recorder.running());

    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), runtime.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("POWERLOG_TEST"), QStringLiteral("1"));
    env.remove(QStringLiteral("POWERLOG_HOME"));
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(
        QStringLiteral(POWERLOG_BINARY),
        recordArguments(place, place.writeSettings(windowGateway.port(),
                                                   "[Start]\nAuto=1\nRecAuto=1\n", "window.ini")));
    QVERIFY2(window.waitForStarted(10000), qPrintable(window.errorString()));
    const auto asked = [&windowGateway] {
        return windowGateway.receivedFrames().count(QStringLiteral("*#3*10*0##"));
    };
    // Asked twice: its first reading was in long before, and would be on disk had it been
    // recorded.
    QTRY_VERIFY_WITH_TIMEOUT(asked() >= 2 || window.state() == QProcess::NotRunning, 40000);
    QCOMPARE(window.state(), QProcess::Running);
    QCOMPARE(rowsWithPower(place.databasePath(), 111), 0);

    recorder.signal(SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.running(), 20000);
    QCOMPARE(recorder.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rowsWithPower(place.databasePath(), 111) > 0 ||
                                 window.state() == QProcess::NotRunning,
                             40000);
    QCOMPARE(window.state(), QProcess::Running);
    window.terminate();
    QVERIFY(window.waitForFinished(20000));
    QCOMPARE(window.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestPowerlogd)
#include "test_powerlogd.moc"
