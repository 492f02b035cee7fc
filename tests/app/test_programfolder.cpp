#include "app/programfolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;

// Which folder holds the user's database, and what the first start puts there.
class TestProgramFolder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

    QString path(const QString& name) const { return m_root.filePath(name); }

    static void writeFile(const QString& file, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    }

    static QByteArray readFile(const QString& file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // A portable folder (its own database), an installed prefix (the empty database only
        // under share/powerlog) and a bare folder.
        writeFile(path(QStringLiteral("portable/DbEnergy.mdb")), "portable");
        writeFile(path(QStringLiteral("prefix/share/powerlog/DbEnergy.mdb")), "empty");
        writeFile(path(QStringLiteral("prefix/share/powerlog/load.ini")), "[priority]\n1=Oven\n");
        QVERIFY(QDir().mkpath(path(QStringLiteral("prefix/bin"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("bare"))));
    }

    void choice_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("executable");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<FolderSource>("source");

        const QString user = QStringLiteral("user");
        QTest::newRow("writable build folder")
            << ""
            << ""
            << "bare" << true << "bare" << FolderSource::ExecutableFolder;
        QTest::newRow("read-only program folder")
            << ""
            << ""
            << "bare" << false << user << FolderSource::UserData;
        QTest::newRow("installed, writable by root")
            << ""
            << ""
            << "prefix/bin" << true << user << FolderSource::UserData;
        QTest::newRow("installed, read-only")
            << ""
            << ""
            << "prefix/bin" << false << user << FolderSource::UserData;
        QTest::newRow("portable folder with its own database")
            << ""
            << ""
            << "portable" << true << "portable" << FolderSource::ExecutableFolder;
        QTest::newRow("POWERLOG_HOME over an installed copy")
            << ""
            << "home"
            << "prefix/bin" << false << "home" << FolderSource::Environment;
        QTest::newRow("POWERLOG_HOME over a portable one")
            << ""
            << "home"
            << "portable" << true << "home" << FolderSource::Environment;
        QTest::newRow("--folder over POWERLOG_HOME")
            << "given"
            << "home"
            << "prefix/bin" << false << "given" << FolderSource::CommandLine;
    }

    void choice()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, environment);
        QFETCH(QString, executable);
        QFETCH(bool, writable);
        QFETCH(QString, expected);
        QFETCH(FolderSource, source);

        FolderCandidates candidates;
        candidates.commandLine = commandLine.isEmpty() ? QString() : path(commandLine);
        candidates.environment = environment.isEmpty() ? QString() : path(environment);
        candidates.executableFolder = path(executable);
        candidates.executableFolderWritable = writable;
        candidates.installedDataFolder = installedDataFolder(path(executable));
        candidates.userDataFolder = path(QStringLiteral("user"));

        const ProgramFolder chosen = chooseProgramFolder(candidates);
        QCOMPARE(chosen.path, QDir(path(expected)).absolutePath());
        QCOMPARE(chosen.source, source);
    }

    void installedDataFolderIsBesideBin()
    {
        QCOMPARE(installedDataFolder(path(QStringLiteral("prefix/bin"))),
                 QDir(path(QStringLiteral("prefix/share/powerlog"))).absolutePath());
        QVERIFY(installedDataFolder(path(QStringLiteral("bare"))).isEmpty());
    }

    void systemCandidatesFollowTheEnvironment()
    {
        const QByteArray oldHome = qgetenv("POWERLOG_HOME");
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        qputenv("POWERLOG_HOME", path(QStringLiteral("home")).toUtf8());
        qputenv("XDG_DATA_HOME", path(QStringLiteral("xdg")).toUtf8());
        const FolderCandidates candidates = systemFolderCandidates(QString());
        qputenv("POWERLOG_HOME", oldHome);
        qputenv("XDG_DATA_HOME", oldData);

        QCOMPARE(candidates.environment, path(QStringLiteral("home")));
        QCOMPARE(candidates.userDataFolder, path(QStringLiteral("xdg/Powerlog")));
        QCOMPARE(candidates.executableFolder, QCoreApplication::applicationDirPath());
    }

    void firstStartSeedsAndSecondLeavesTheUsersData()
    {
        const QString user = path(QStringLiteral("seeded/Powerlog"));
        const QString installed = path(QStringLiteral("prefix/share/powerlog"));
        QFile::setPermissions(installed + QStringLiteral("/DbEnergy.mdb"), QFile::ReadOwner);

        QString error;
        QVERIFY2(seedUserDataFolder(user, installed, &error), qPrintable(error));
        QCOMPARE(readFile(user + QStringLiteral("/DbEnergy.mdb")), QByteArray("empty"));
        QCOMPARE(readFile(user + QStringLiteral("/load.ini")), QByteArray("[priority]\n1=Oven\n"));
        QVERIFY(QFile::permissions(user + QStringLiteral("/DbEnergy.mdb")) & QFile::WriteOwner);

        // The user records and renames a load; the next start must keep both.
        writeFile(user + QStringLiteral("/DbEnergy.mdb"), "readings");
        writeFile(user + QStringLiteral("/load.ini"), "[priority]\n1=Forno\n");
        QVERIFY2(seedUserDataFolder(user, installed, &error), qPrintable(error));
        QCOMPARE(readFile(user + QStringLiteral("/DbEnergy.mdb")), QByteArray("readings"));
        QCOMPARE(readFile(user + QStringLiteral("/load.ini")), QByteArray("[priority]\n1=Forno\n"));
    }

    void seedingWithoutAnInstalledDatabaseSaysSo()
    {
        const QString user = path(QStringLiteral("unseeded/Powerlog"));
        QString error;
        QVERIFY(!seedUserDataFolder(user, path(QStringLiteral("bare")), &error));
        QVERIFY(error.contains(QStringLiteral("DbEnergy.mdb")));
        QVERIFY(QDir(user).exists()); // made, so the caller can put an empty database there
    }

    void seedingIntoAFolderThatCannotBeMadeFails()
    {
        writeFile(path(QStringLiteral("afile")), "x");
        QString error;
        QVERIFY(!seedUserDataFolder(path(QStringLiteral("afile/Powerlog")),
                                    path(QStringLiteral("prefix/share/powerlog")), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "test_programfolder.moc"
