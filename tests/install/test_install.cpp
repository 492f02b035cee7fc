// The installed program: laid out by `cmake --install` into a temporary prefix, made read-only as
// a system install is, and started from there with a home folder of the test's own.

#include "simulator/gatewaysimulator.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

int energyRowCount(const QString& path)
{
    int count = -1;
    const QString name = QStringLiteral("install-check");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (QFile::exists(path) && db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT COUNT(*) FROM Energy")) && query.next())
                count = query.value(0).toInt();
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return count;
}

// Every file and folder below root loses its write permissions.
void makeReadOnly(const QString& root)
{
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    QStringList entries{root};
    while (it.hasNext())
        entries << it.next();
    for (const QString& entry : entries)
        QFile::setPermissions(entry,
                              QFile::permissions(entry) & ~(QFile::WriteOwner | QFile::WriteGroup |
                                                            QFile::WriteOther | QFile::WriteUser));
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString prefix() const { return m_dir.filePath(QStringLiteral("prefix")); }
    QString home() const { return m_dir.filePath(QStringLiteral("home")); }
    QString userData() const { return home() + QStringLiteral("/.local/share/Powerlog"); }
    QString installed(const QString& relative) const { return prefix() + '/' + relative; }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "POWERLOG_HOME"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("POWERLOG_TEST"), QStringLiteral("1"));
        // Nothing may leave this machine: no update check.
        env.insert(QStringLiteral("POWERLOG_UPDATE_URL"), QString());
        return env;
    }

    static QByteArray run(const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                          int* exitCode = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(120000))
            process.kill();
        if (exitCode)
            *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return process.readAll();
    }

    static QString tool(const char* name)
    {
        return QStandardPaths::findExecutable(QLatin1String(name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(home()));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("runtime"))));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        int code = -1;
        const QByteArray output =
            run(QStringLiteral(POWERLOG_CMAKE),
                {QStringLiteral("--install"), QStringLiteral(POWERLOG_BUILD_DIR),
                 QStringLiteral("--prefix"), prefix()},
                QProcessEnvironment::systemEnvironment(), &code);
        QVERIFY2(code == 0, output.constData());
        makeReadOnly(prefix());
    }

    void layout_data()
    {
        QTest::addColumn<QString>("file");
        for (const char* file :
             {"bin/powerlog", "bin/powerlogd", "bin/powerlog-cli", "bin/powerlog-gateway-sim",
              "share/powerlog/DbEnergy.mdb", "share/powerlog/load.ini",
              "share/powerlog/Powerlog.pdf", "share/applications/powerlog.desktop",
              "share/icons/hicolor/scalable/apps/powerlog.svg",
              "share/icons/hicolor/16x16/apps/powerlog.png",
              "share/icons/hicolor/48x48/apps/powerlog.png",
              "share/icons/hicolor/256x256/apps/powerlog.png", "share/man/man1/powerlog.1.gz",
              "share/man/man1/powerlog-cli.1.gz", "share/man/man1/powerlogd.1.gz",
              "lib/systemd/user/powerlogd.service", "lib/systemd/system/powerlogd-system.service",
              "share/doc/powerlog/copyright"})
            QTest::newRow(file) << QString::fromLatin1(file);
        QTest::newRow("metainfo") << QStringLiteral("share/metainfo/%1.metainfo.xml")
                                         .arg(QStringLiteral(POWERLOG_APPSTREAM_ID));
    }

    void layout()
    {
        QFETCH(QString, file);
        QVERIFY2(QFileInfo(installed(file)).isFile(), qPrintable(file));
        QVERIFY(QFileInfo(installed(file)).size() > 0);
    }

    void iconsHaveTheirSize()
    {
        for (int size : {16, 32, 128, 256}) {
            QFile icon(
                installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/powerlog.png").arg(size)));
            QVERIFY(icon.open(QIODevice::ReadOnly));
            // A PNG file: the signature, then the header chunk with width and height.
            const QByteArray head = icon.read(24);
            QCOMPARE(head.left(8), QByteArray("\x89PNG\r\n\x1a\n"));
            QCOMPARE(head.mid(12, 4), QByteArray("IHDR"));
            QCOMPARE(qFromBigEndian<quint32>(head.constData() + 16), quint32(size));
            QCOMPARE(qFromBigEndian<quint32>(head.constData() + 20), quint32(size));
        }
    }

    void versionNamesTheUserDataFolder()
    {
        int code = -1;
        const QByteArray output = run(installed(QStringLiteral("bin/powerlog")),
                                      {QStringLiteral("--version")}, environment(), &code);
        QCOMPARE(code, 0);
        QVERIFY2(output.startsWith("Powerlog "), output.constData());
        QVERIFY2(output.contains(QDir::toNativeSeparators(userData()).toUtf8()),
                 output.constData());
        QVERIFY(!QFile::exists(userData())); // telling is not starting
    }

    void recordsIntoTheUserDataFolder()
    {
        powerlog::sim::GatewaySimulator gateway;
        QVERIFY(gateway.listen(0));
        const QString settings = m_dir.filePath(QStringLiteral("settings.ini"));
        {
            QFile file(settings);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(
                "[Option]\nServerIP=127.0.0.1\nServerPORT=" + QByteArray::number(gateway.port()) +
                "\n[Start]\nAuto=1\nRecAuto=1\n[Timer]\nAgg=10\n");
        }
        QProcess program;
        program.setProcessEnvironment(environment());
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(installed(QStringLiteral("bin/powerlog")),
                      {QStringLiteral("--settings"), settings});
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));

        const QString database = userData() + QStringLiteral("/DbEnergy.mdb");
        QTRY_VERIFY_WITH_TIMEOUT(
            energyRowCount(database) > 0 || program.state() == QProcess::NotRunning, 60000);
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(QFile::exists(userData() + QStringLiteral("/load.ini")));
        QVERIFY(!QFile::exists(installed(QStringLiteral("bin/DbEnergy.mdb"))));
        QCOMPARE(energyRowCount(installed(QStringLiteral("share/powerlog/DbEnergy.mdb"))), 0);

        program.terminate();
        QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 20000);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    void serviceUnitsVerify_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<bool>("user");
        QTest::newRow("user") << QStringLiteral("lib/systemd/user/powerlogd.service") << true;
        QTest::newRow("system") << QStringLiteral("lib/systemd/system/powerlogd-system.service")
                                << false;
    }

    // The units as installed, their sandbox included, pass systemd's own check. They name
    // powerlogd alone, which systemd looks for in /usr/bin and /usr/local/bin; here it is the
    // installed copy of this prefix.
    void serviceUnitsVerify()
    {
        QFETCH(QString, unit);
        QFETCH(bool, user);
        QFile installedUnit(installed(unit));
        QVERIFY(installedUnit.open(QIODevice::ReadOnly));
        QByteArray text = installedUnit.readAll();
        for (const char* needed :
             {"ExecStart=powerlogd\n", "NoNewPrivileges=yes", "ProtectSystem=strict",
              "PrivateTmp=yes", "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX"})
            QVERIFY2(text.contains(needed), needed);
        QVERIFY(text.contains(user ? "ReadWritePaths=" : "StateDirectory="));

        const QString analyze = tool("systemd-analyze");
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed");
        text.replace("ExecStart=powerlogd",
                     "ExecStart=" + installed(QStringLiteral("bin/powerlogd")).toUtf8());
        const QString units = m_dir.filePath(QStringLiteral("units"));
        QVERIFY(QDir().mkpath(units));
        const QString copy = QDir(units).filePath(QFileInfo(unit).fileName());
        {
            QFile file(copy);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text);
        }
        QStringList arguments{QStringLiteral("--man=no")};
        if (user)
            arguments << QStringLiteral("--user");
        arguments << QStringLiteral("verify") << copy;
        int code = -1;
        const QByteArray output = run(analyze, arguments, environment(), &code);
        QVERIFY2(code == 0, output.constData());
        QVERIFY2(output.trimmed().isEmpty(), output.constData());
    }

    void recorderVersionNamesTheUserDataFolder()
    {
        int code = -1;
        const QByteArray output = run(installed(QStringLiteral("bin/powerlogd")),
                                      {QStringLiteral("--version")}, environment(), &code);
        QCOMPARE(code, 0);
        QVERIFY2(output.startsWith("powerlogd "), output.constData());
        QVERIFY2(output.contains(QDir::toNativeSeparators(userData()).toUtf8()),
                 output.constData());
    }

    void desktopEntryValidates()
    {
        const QString validator = tool("desktop-file-validate");
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (Debian: desktop-file-utils)");
        int code = -1;
        const QByteArray output =
            run(validator, {installed(QStringLiteral("share/applications/powerlog.desktop"))},
                QProcessEnvironment::systemEnvironment(), &code);
        QVERIFY2(code == 0, output.constData());
        QVERIFY2(!output.contains("error"), output.constData());
    }

    void metainfoValidates()
    {
        const QString validator = tool("appstreamcli");
        if (validator.isEmpty())
            QSKIP("appstreamcli is not installed (Debian: appstream)");
        int code = -1;
        const QByteArray output = run(validator,
                                      {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                       installed(QStringLiteral("share/metainfo/%1.metainfo.xml")
                                                     .arg(QStringLiteral(POWERLOG_APPSTREAM_ID)))},
                                      QProcessEnvironment::systemEnvironment(), &code);
        QVERIFY2(code == 0, output.constData());
    }

    void debianPackageHasNoLintianErrors()
    {
        if (tool("dpkg-deb").isEmpty() || tool("dpkg-shlibdeps").isEmpty())
            QSKIP("dpkg-dev is not installed");
        const QString packages = m_dir.filePath(QStringLiteral("packages"));
        int code = -1;
        QByteArray output = run(
            QStringLiteral(POWERLOG_CPACK),
            {QStringLiteral("--config"), QStringLiteral(POWERLOG_BUILD_DIR "/CPackConfig.cmake"),
             QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), packages},
            QProcessEnvironment::systemEnvironment(), &code);
        QVERIFY2(code == 0, output.constData());
        const QStringList debs =
            QDir(packages).entryList({QStringLiteral("powerlog_*.deb")}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        const QString deb = QDir(packages).filePath(debs.constFirst());

        // The Qt libraries come from the shared-library scan; the plugins are named by hand.
        const QByteArray depends =
            run(tool("dpkg-deb"), {QStringLiteral("--field"), deb, QStringLiteral("Depends")});
        for (const char* package :
             {"libqt6core6", "libqt6widgets6", "libqt6sql6-sqlite", "qt6-qpa-plugins"})
            QVERIFY2(depends.contains(package), depends.constData());
        // The background recorder and its units are shipped.
        const QByteArray contents = run(tool("dpkg-deb"), {QStringLiteral("--contents"), deb});
        for (const char* file : {"./usr/bin/powerlogd", "./usr/lib/systemd/user/powerlogd.service",
                                 "./usr/lib/systemd/system/powerlogd-system.service",
                                 "./usr/share/man/man1/powerlogd.1.gz"})
            QVERIFY2(contents.contains(file), contents.constData());

        if (tool("lintian").isEmpty())
            QSKIP("lintian is not installed");
        output = run(tool("lintian"), {deb}, QProcessEnvironment::systemEnvironment(), &code);
        for (const QByteArray& line : output.split('\n'))
            QVERIFY2(!line.startsWith("E:"), output.constData());
    }

    void cleanupTestCase()
    {
        // QTemporaryDir cannot remove what it may not write.
        QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString entry = it.next();
            QFile::setPermissions(entry, QFile::permissions(entry) | QFile::WriteOwner);
        }
        QFile::setPermissions(prefix(), QFile::permissions(prefix()) | QFile::WriteOwner);
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
