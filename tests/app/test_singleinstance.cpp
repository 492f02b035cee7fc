#include "app/singleinstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace powerlog;

namespace {

// What a run killed while listening leaves behind: a socket file nobody listens on.
bool leaveDeadSocket(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof(address.sun_path))
        return false;
    memcpy(address.sun_path, name.constData(), size_t(name.size()) + 1);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (descriptor < 0)
        return false;
    const bool bound =
        ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(descriptor);
    return bound && QFile::exists(path);
}

enum class Leftover { Nothing, PlainFile, DeadSocket };

bool leave(Leftover leftover, const QString& path)
{
    switch (leftover) {
    case Leftover::Nothing:
        return !QFile::exists(path);
    case Leftover::PlainFile: {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("left over") > 0;
    }
    case Leftover::DeadSocket:
        return leaveDeadSocket(path);
    }
    return false;
}

// True when something listens on the local socket `name`.
bool someoneListens(const QString& name)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    return socket.waitForConnected(1000);
}

} // namespace

// Starting the program while it runs leaves exactly one instance.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_runtime;
    QTemporaryDir m_folder;
    QTemporaryDir m_config;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    void start(QProcess& process) const
    {
        process.setProcessEnvironment(environment());
        process.start(QStringLiteral(POWERLOG_BINARY),
                      {QStringLiteral("--folder"), m_folder.path(), QStringLiteral("--settings"),
                       m_config.filePath(QStringLiteral("powerlog.ini"))});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::copy(QStringLiteral(POWERLOG_EMPTY_DB),
                            m_folder.filePath(QStringLiteral("DbEnergy.mdb"))));
        // Nothing may reach out of this machine, even by mistake.
        QFile settings(m_config.filePath(QStringLiteral("powerlog.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[Option]\nServerIP=127.0.0.1\nServerPORT=1\n");
    }

    void lockIsPerProcess()
    {
        SingleInstance first(m_runtime.path() + QStringLiteral("/inproc"));
        QDir().mkpath(m_runtime.path() + QStringLiteral("/inproc"));
        QVERIFY(first.acquire());
        QVERIFY(first.acquire()); // asking again keeps the lock
    }

    void aSecondStartAsksTheFirstToShowItself_data()
    {
        QTest::addColumn<QString>("subfolder");
        QTest::newRow("runtime folder") << QString();
        // Too deep for a socket's path beside the lock: the socket goes to the temporary folder.
        QTest::newRow("deep folder") << QString(120, QLatin1Char('d'));
    }

    void aSecondStartAsksTheFirstToShowItself()
    {
        QFETCH(QString, subfolder);
        QTemporaryDir runtime;
        const QString folder = QDir(runtime.path()).filePath(subfolder);
        QVERIFY(QDir().mkpath(folder));

        SingleInstance first(folder);
        QSignalSpy shown(&first, &SingleInstance::activationRequested);
        QVERIFY(first.acquire());
        QVERIFY(someoneListens(first.serverName()));

        for (int start = 1; start <= 3; ++start) {
            SingleInstance second(folder);
            QVERIFY(!second.acquire());
            QVERIFY(shown.wait(5000));
            QCOMPARE(shown.count(), start); // one request each, none from the first itself
            QVERIFY(first.acquire());       // asking again keeps the lock and sends nothing
        }
    }

    void theSocketIsTheUsersOnly()
    {
        QTemporaryDir runtime;
        SingleInstance first(runtime.path());
        QVERIFY(first.acquire());
        const QString socket = first.serverName();
        QCOMPARE(QFileInfo(socket).dir(), QDir(runtime.path()));
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QVERIFY(QFileInfo::exists(socket));
        QCOMPARE(QFileInfo(socket).permissions() & others, QFile::Permissions());
    }

    // Only a request of ours shows the window; anything else on the socket is dropped.
    void otherTalkOnTheSocketShowsNothing_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("nothing") << QByteArray();
        QTest::newRow("another line") << QByteArray("quit\n");
        QTest::newRow("no line end") << QByteArray(200, 'x');
    }

    void otherTalkOnTheSocketShowsNothing()
    {
        QFETCH(QByteArray, sent);
        QTemporaryDir runtime;
        SingleInstance first(runtime.path());
        QSignalSpy shown(&first, &SingleInstance::activationRequested);
        QVERIFY(first.acquire());

        QLocalSocket stranger;
        stranger.connectToServer(first.serverName());
        QVERIFY(stranger.waitForConnected(1000));
        if (!sent.isEmpty()) {
            stranger.write(sent);
            QVERIFY(stranger.waitForBytesWritten(1000));
            // The first hangs up once it has read what it makes no sense of.
            QTRY_COMPARE(stranger.state(), QLocalSocket::UnconnectedState);
            QCOMPARE(shown.count(), 0);
        }
        stranger.disconnectFromServer();

        // The first still listens, and only the real request that follows shows it.
        SingleInstance second(runtime.path());
        QVERIFY(!second.acquire());
        QVERIFY(shown.wait(5000));
        QCOMPARE(shown.count(), 1);
    }

    // A run that crashed left its socket behind; the next first instance listens all the same.
    void aLeftoverSocketIsTakenOver_data()
    {
        QTest::addColumn<Leftover>("leftover");
        QTest::newRow("dead socket") << Leftover::DeadSocket;
        QTest::newRow("plain file") << Leftover::PlainFile;
    }

    void aLeftoverSocketIsTakenOver()
    {
        QFETCH(Leftover, leftover);
        QTemporaryDir runtime;
        SingleInstance first(runtime.path());
        QVERIFY(leave(leftover, first.serverName()));
        QSignalSpy shown(&first, &SingleInstance::activationRequested);
        QVERIFY(first.acquire());

        SingleInstance second(runtime.path());
        QVERIFY(!second.acquire());
        QVERIFY(shown.wait(5000));
    }

    // The lock is held but nobody answers on the socket (a run that does not listen, or one
    // whose socket is gone): a second start still ends, without waiting long.
    void withNobodyListeningASecondStartEndsQuickly_data()
    {
        QTest::addColumn<Leftover>("leftover");
        QTest::newRow("no socket") << Leftover::Nothing;
        QTest::newRow("dead socket") << Leftover::DeadSocket;
        QTest::newRow("plain file") << Leftover::PlainFile;
    }

    void withNobodyListeningASecondStartEndsQuickly()
    {
        QFETCH(Leftover, leftover);
        QTemporaryDir runtime;
        SingleInstance second(runtime.path());
        QLockFile running(second.lockPath());
        QVERIFY(running.tryLock(0));
        QVERIFY(leave(leftover, second.serverName()));

        QElapsedTimer clock;
        clock.start();
        QVERIFY(!second.acquire());
        QVERIFY2(clock.elapsed() < SingleInstance::kRequestTimeoutMs,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(QFileInfo::exists(second.serverName()) == (leftover != Leftover::Nothing));
    }

    // A first instance too busy to answer holds a second start up for a bounded time at most.
    void aBusyFirstHoldsASecondStartBriefly()
    {
        QTemporaryDir runtime;
        SingleInstance second(runtime.path());
        QLockFile running(second.lockPath());
        QVERIFY(running.tryLock(0));
        QLocalServer busy; // listens, but this thread never gets to accept
        QVERIFY(busy.listen(second.serverName()));

        QElapsedTimer clock;
        clock.start();
        QVERIFY(!second.acquire());
        QVERIFY2(clock.elapsed() < SingleInstance::kRequestTimeoutMs + 500,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(busy.waitForNewConnection(1000)); // the request is there once it looks
        QLocalSocket* request = busy.nextPendingConnection();
        QVERIFY(request);
        QTRY_VERIFY(request->canReadLine());
        QCOMPARE(request->readLine(), QByteArray("show\n"));
    }

    void aSecondProgramStartAsksTheFirstToShowItself()
    {
        SingleInstance first(m_runtime.path());
        QSignalSpy shown(&first, &SingleInstance::activationRequested);
        QVERIFY(first.acquire());

        QProcess second;
        start(second);
        QVERIFY(second.waitForStarted());
        QVERIFY(shown.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardOutput().isEmpty());
        QCOMPARE(shown.count(), 1);
    }

    void secondStartEndsAndFirstStays()
    {
        QProcess first;
        start(first);
        QVERIFY(first.waitForStarted());
        const QString lock = m_runtime.filePath(QStringLiteral("powerlog.lock"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 20000);

        QProcess second;
        start(second);
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardOutput().isEmpty());

        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
    }

    void aCrashedRunDoesNotBlockTheNext()
    {
        const QString lock = m_runtime.filePath(QStringLiteral("powerlog.lock"));
        const QString socket = SingleInstance(m_runtime.path()).serverName();
        QProcess crashed;
        start(crashed);
        QVERIFY(crashed.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(lock), crashed.processId(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(someoneListens(socket), 20000);
        crashed.kill();
        QVERIFY(crashed.waitForFinished(10000));
        QVERIFY(QFile::exists(lock));   // left behind by the crash
        QVERIFY(QFile::exists(socket)); // so is the socket, with nobody listening
        QVERIFY(!someoneListens(socket));

        QProcess next;
        start(next);
        QVERIFY(next.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(lock), next.processId(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(someoneListens(socket), 20000);
        QCOMPARE(next.state(), QProcess::Running);
        next.terminate();
        QVERIFY(next.waitForFinished(10000));
    }

private:
    // The process id written on the first line of the lock file.
    static qint64 lockOwner(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        return file.readLine().trimmed().toLongLong();
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
