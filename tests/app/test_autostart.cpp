#include "app/autostart.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;

// The autostart entry that starts the program with the user's session.
class TestAutostart : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static QString read(const QString& file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
    }

    static QString execLine(const QString& entry)
    {
        for (const QString& line : entry.split(u'\n')) {
            if (line.startsWith(QStringLiteral("Exec=")))
                return line.mid(5);
        }
        return {};
    }

private slots:
    void writtenAndRemoved()
    {
        const QString file = m_dir.filePath(QStringLiteral("config/autostart/powerlog.desktop"));
        const SessionAutostart autostart(file, QStringLiteral("/usr/bin/powerlog"));
        QVERIFY(!autostart.isEnabled());

        QString error;
        QVERIFY2(autostart.setEnabled(true, &error), qPrintable(error));
        QVERIFY(autostart.isEnabled());
        const QString entry = read(file);
        QVERIFY(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
        QCOMPARE(execLine(entry), QStringLiteral("/usr/bin/powerlog"));
        QVERIFY(entry.contains(QStringLiteral("\nType=Application\n")));

        // Turning on again rewrites the same entry.
        QVERIFY(autostart.setEnabled(true, &error));
        QCOMPARE(read(file), entry);

        QVERIFY2(autostart.setEnabled(false, &error), qPrintable(error));
        QVERIFY(!QFile::exists(file));
        QVERIFY(!autostart.isEnabled());
        // Off while already off is no failure.
        QVERIFY(autostart.setEnabled(false, &error));
    }

    void aFolderThatCannotBeMadeIsReported()
    {
        QFile blocker(m_dir.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const SessionAutostart autostart(
            m_dir.filePath(QStringLiteral("blocked/autostart/powerlog.desktop")),
            QStringLiteral("/usr/bin/powerlog"));
        QString error;
        QVERIFY(!autostart.setEnabled(true, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!autostart.isEnabled());
    }

    void programPathIsQuoted_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/powerlog"
                               << "/usr/bin/powerlog";
        QTest::newRow("space") << "/home/ann/My Apps/powerlog"
                               << "\"/home/ann/My Apps/powerlog\"";
        QTest::newRow("dollar") << "/opt/a$b/powerlog"
                                << "\"/opt/a\\\\$b/powerlog\"";
        QTest::newRow("backslash") << "/opt/a\\b/powerlog"
                                   << "\"/opt/a\\\\\\\\b/powerlog\"";
        QTest::newRow("percent") << "/opt/100%/powerlog"
                                 << "/opt/100%%/powerlog";
    }

    void programPathIsQuoted()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(execLine(SessionAutostart::entryText(program)), exec);
    }

    void forThisUserFollowsXdgConfigHome()
    {
        const QByteArray old = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("xdg")).toUtf8());
        const SessionAutostart autostart = SessionAutostart::forThisUser();
        qputenv("XDG_CONFIG_HOME", old);
        QCOMPARE(autostart.entryFile(),
                 m_dir.filePath(QStringLiteral("xdg/autostart/powerlog.desktop")));
    }

    void entryValidates()
    {
        const QString validator =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (Debian: desktop-file-utils)");
        const QString file = m_dir.filePath(QStringLiteral("validate/powerlog.desktop"));
        QString error;
        QVERIFY(SessionAutostart(file, QStringLiteral("/home/ann/My Apps/powerlog"))
                    .setEnabled(true, &error));
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(validator, {file});
        QVERIFY(process.waitForFinished(60000));
        const QByteArray output = process.readAll();
        QVERIFY2(process.exitCode() == 0 && !output.contains("error"), output.constData());
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "test_autostart.moc"
