#include "app/singleinstance.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;

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
        QProcess crashed;
        start(crashed);
        QVERIFY(crashed.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(lock), crashed.processId(), 20000);
        crashed.kill();
        QVERIFY(crashed.waitForFinished(10000));
        QVERIFY(QFile::exists(lock)); // left behind by the crash

        QProcess next;
        start(next);
        QVERIFY(next.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(lock), next.processId(), 20000);
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
