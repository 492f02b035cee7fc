#include "app/config.h"
#include "app/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;

class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString storePath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }

    QString writeIni(const QByteArray& content)
    {
        const QString path = m_dir.filePath(QStringLiteral("load.ini"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(content);
        return path;
    }

private slots:
    void cleanup() { QFile::remove(storePath()); }

    void emptyStoreGivesDefaults()
    {
        SettingsStore store(storePath());
        const Config c = loadConfig(store);
        QCOMPARE(c.ServerAddress, QStringLiteral("192.168.1.35"));
        QCOMPARE(c.ServerPort, QStringLiteral("20000"));
        QCOMPARE(c.portNumber(), quint16(20000));
        QVERIFY(!c.StInterface);
        QCOMPARE(c.LinePowerIndex, 1);
        QCOMPARE(linePowerWatts(c.LinePowerIndex), 3000);
        QCOMPARE(c.RefreshSeconds, 30);
        QCOMPARE(c.LostFrameSwitch, quint8(1));
        QCOMPARE(c.LanguageCode, QStringLiteral("ita"));
        QVERIFY(!c.Minimized);
        QVERIFY(!c.AutoStart);
        QVERIFY(!c.RecAuto);
        QVERIFY(c.ServerPassword.isEmpty());
        QCOMPARE(store.value(QStringLiteral("Option"), QStringLiteral("Missing"),
                                  QStringLiteral("fallback")),
                 QStringLiteral("fallback"));
    }

    void savedSettingsSurviveARestart()
    {
        {
            SettingsStore store(storePath());
            store.setValue(key::kOption, key::kServerIp, QStringLiteral("gateway.local"));
            store.setValue(key::kTimer, key::kRefresh, QStringLiteral("3600"));
            store.setValue(key::kWatt, key::kLine, QStringLiteral("4"));
        }
        SettingsStore reopened(storePath());
        QCOMPARE(reopened.value(key::kOption, key::kServerIp, QString()),
                 QStringLiteral("gateway.local"));
        const Config c = loadConfig(reopened);
        QCOMPARE(c.RefreshSeconds, 3600);
        QCOMPARE(linePowerWatts(c.LinePowerIndex), 9000);
    }

    void readingRules_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");

        QTest::newRow("minimized 1") << "Option"
                                     << "Minimized"
                                     << "1"
                                     << "Minimized"
                                     << "1";
        QTest::newRow("minimized 2 is not set") << "Option"
                                                << "Minimized"
                                                << "2"
                                                << "Minimized"
                                                << "0";
        QTest::newRow("minimized letters") << "Option"
                                           << "Minimized"
                                           << "yes"
                                           << "Minimized"
                                           << "0";
        QTest::newRow("interface 1") << "Option"
                                     << "Interface"
                                     << "1"
                                     << "StInterface"
                                     << "1";
        QTest::newRow("auto -1 is not set") << "Start"
                                            << "Auto"
                                            << "-1"
                                            << "AutoStart"
                                            << "0";
        QTest::newRow("recauto 1") << "Start"
                                   << "RecAuto"
                                   << "1"
                                   << "RecAuto"
                                   << "1";
        QTest::newRow("line 4") << "Watt"
                                << "line"
                                << "4"
                                << "LinePowerIndex"
                                << "4";
        QTest::newRow("line out of range") << "Watt"
                                           << "line"
                                           << "7"
                                           << "LinePowerIndex"
                                           << "1";
        QTest::newRow("line letters") << "Watt"
                                      << "line"
                                      << "abc"
                                      << "LinePowerIndex"
                                      << "1";
        QTest::newRow("refresh listed") << "Timer"
                                        << "Agg"
                                        << "600"
                                        << "RefreshSeconds"
                                        << "600";
        QTest::newRow("refresh not listed") << "Timer"
                                            << "Agg"
                                            << "45"
                                            << "RefreshSeconds"
                                            << "30";
        QTest::newRow("refresh letters") << "Timer"
                                         << "Agg"
                                         << "x"
                                         << "RefreshSeconds"
                                         << "30";
        QTest::newRow("lost 0") << "Frame"
                                << "Lost"
                                << "0"
                                << "LostFrameSwitch"
                                << "0";
        QTest::newRow("lost out of range") << "Frame"
                                           << "Lost"
                                           << "9"
                                           << "LostFrameSwitch"
                                           << "1";
        QTest::newRow("port letters") << "Option"
                                      << "ServerPORT"
                                      << "http"
                                      << "ServerPort"
                                      << "20000";
        QTest::newRow("port too large") << "Option"
                                        << "ServerPORT"
                                        << "70000"
                                        << "ServerPort"
                                        << "20000";
        QTest::newRow("port kept") << "Option"
                                   << "ServerPORT"
                                   << "20001"
                                   << "ServerPort"
                                   << "20001";
        QTest::newRow("language kept as stored") << "Option"
                                                 << "Language"
                                                 << "ENG"
                                                 << "LanguageCode"
                                                 << "ENG";
    }

    void readingRules()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, field);
        QFETCH(QString, expected);

        SettingsStore store(storePath());
        store.setValue(section, key, stored);
        const Config c = loadConfig(store);
        const QHash<QString, QString> fields = {
            {"Minimized", QString::number(c.Minimized)},
            {"StInterface", QString::number(c.StInterface)},
            {"AutoStart", QString::number(c.AutoStart)},
            {"RecAuto", QString::number(c.RecAuto)},
            {"LinePowerIndex", QString::number(c.LinePowerIndex)},
            {"RefreshSeconds", QString::number(c.RefreshSeconds)},
            {"LostFrameSwitch", QString::number(c.LostFrameSwitch)},
            {"ServerPort", c.ServerPort},
            {"LanguageCode", c.LanguageCode},
        };
        QCOMPARE(fields.value(field), expected);
    }

    void linePower_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("watts");
        QTest::newRow("0") << 0 << 1500;
        QTest::newRow("1") << 1 << 3000;
        QTest::newRow("2") << 2 << 4500;
        QTest::newRow("3") << 3 << 6000;
        QTest::newRow("4 is 9000, not 7500") << 4 << 9000;
    }

    void linePower()
    {
        QFETCH(int, index);
        QFETCH(int, watts);
        QCOMPARE(linePowerWatts(index), watts);
    }

    void iniValues_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QByteArray hundred(100, 'x');
        QTest::newRow("plain") << QByteArray("[priority]\n1=Forno\n") << "1"
                               << "Forno";
        QTest::newRow("blanks around") << QByteArray("[priority]\n 2 =  Lavatrice  \n") << "2"
                                       << "Lavatrice";
        QTest::newRow("section case") << QByteArray("[PRIORITY]\n3=Boiler\n") << "3"
                                      << "Boiler";
        QTest::newRow("missing key") << QByteArray("[priority]\n1=Forno\n") << "4"
                                     << "";
        QTest::newRow("other section ignored")
            << QByteArray("[other]\n5=Wrong\n[priority]\n6=Right\n") << "5"
            << "";
        QTest::newRow("later section wins for its keys")
            << QByteArray("[other]\n6=Wrong\n[priority]\n6=Right\n") << "6"
            << "Right";
        QTest::newRow("value cut to 79") << QByteArray("[priority]\n7=" + hundred + "\n") << "7"
                                         << QString(79, QLatin1Char('x'));
        QTest::newRow("windows line ends") << QByteArray("[priority]\r\n8=Stufa\r\n") << "8"
                                           << "Stufa";
        QTest::newRow("comment lines") << QByteArray("[priority]\n;1=Old\n1=New\n") << "1"
                                       << "New";
    }

    void iniValues()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(readIniValue(QStringLiteral("priority"), key, writeIni(content)), expected);
    }

    void missingIniFileReadsEmpty()
    {
        QCOMPARE(readIniValue(QStringLiteral("priority"), QStringLiteral("1"),
                              m_dir.filePath(QStringLiteral("absent.ini"))),
                 QString());
    }

    void passwordScrambleFormat()
    {
        for (int k = 0; k <= 8; ++k) {
            const QString stored = scramblePassword(QStringLiteral("12345"), k);
            QCOMPARE(stored.size(), 1 + 3 * 5);
            QCOMPARE(stored.at(0).digitValue(), k);
            QCOMPARE(stored.mid(1, 3).toInt(), '1' + k);
            QCOMPARE(unscramblePassword(stored), std::optional<QString>(QStringLiteral("12345")));
        }
        QCOMPARE(scramblePassword(QString(), 6), QStringLiteral("6"));
        QCOMPARE(unscramblePassword(QStringLiteral("6")), std::optional<QString>(QString()));
        const QString random = scramblePassword(QStringLiteral("987"));
        QCOMPARE(random.size(), 10);
        QCOMPARE(unscramblePassword(random), std::optional<QString>(QStringLiteral("987")));
    }

    void malformedStoredPassword_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("empty") << "";
        QTest::newRow("letters") << "3abc";
        QTest::newRow("k of 9") << "9057";
        QTest::newRow("incomplete group") << "10495";
        QTest::newRow("below k") << "5001";
    }

    void malformedStoredPassword()
    {
        QFETCH(QString, stored);
        QCOMPARE(unscramblePassword(stored), std::nullopt);
        SettingsStore store(storePath());
        store.setValue(key::kOption, key::kServerPassword, stored);
        QCOMPARE(loadConfig(store).ServerPassword, QString());
    }

    void startUpRestoresThePassword()
    {
        SettingsStore store(storePath());
        store.setValue(key::kOption, key::kServerPassword, scramblePassword("12345678", 4));
        QCOMPARE(loadConfig(store).ServerPassword, QStringLiteral("12345678"));
    }

    // The file holds the gateway's password: nobody but its owner may read it, from the first
    // write on, and a file made readable by others meanwhile is closed again.
    void fileIsForItsOwnerOnly()
    {
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        const QString path = m_dir.filePath(QStringLiteral("new/folder/settings.ini"));
        {
            SettingsStore store(path);
            QVERIFY(
                store.setValue(key::kOption, key::kServerPassword, scramblePassword("1234", 2)));
        }
        QCOMPARE(QFile::permissions(path) & others, QFile::Permissions());
        QVERIFY(QFile::permissions(path) & QFile::ReadOwner);

        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOther));
        SettingsStore reopened(path);
        QCOMPARE(QFile::permissions(path) & others, QFile::Permissions());
        QVERIFY(reopened.setValue(key::kOption, key::kLanguage, QStringLiteral("eng")));
        QCOMPARE(QFile::permissions(path) & others, QFile::Permissions());
        QCOMPARE(loadConfig(reopened).ServerPassword, QStringLiteral("1234"));
    }

    // A comma makes QSettings read a list; a value edited by hand still reads as its text, also
    // after the program has saved something else.
    void valueWithACommaReadsAsWritten()
    {
        QFile file(storePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Option]\nServerIP=host,name\nLanguage=eng\n[Watt]\nline = 2, 3 ,4\n");
        file.close();
        SettingsStore store(storePath());
        QCOMPARE(store.value(key::kOption, key::kServerIp, QString()),
                 QStringLiteral("host,name"));
        QCOMPARE(store.value(key::kWatt, key::kLine, QString()), QStringLiteral("2, 3 ,4"));
        QVERIFY(store.setValue(key::kOption, key::kServerPort, QStringLiteral("20001")));

        SettingsStore reopened(storePath());
        QCOMPARE(loadConfig(reopened).ServerAddress, QStringLiteral("host,name"));
        QCOMPARE(reopened.value(key::kWatt, key::kLine, QString()), QStringLiteral("2, 3 ,4"));
        QCOMPARE(reopened.value(key::kOption, key::kServerPort, QString()),
                 QStringLiteral("20001"));
    }

    // A store whose folder cannot be made says so, keeps nothing it could not write, and a save
    // after the fault has gone is judged on its own.
    void failedSaveIsReported()
    {
        const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        SettingsStore store(blocker + QStringLiteral("/settings.ini"));
        QVERIFY(!store.setValue(key::kOption, key::kServerIp, QStringLiteral("10.0.0.9")));
        QCOMPARE(store.value(key::kOption, key::kServerIp, QStringLiteral("default")),
                 QStringLiteral("default"));
        QVERIFY(!store.setValue(key::kOption, key::kServerIp, QStringLiteral("10.0.0.9")));

        QVERIFY(QFile::remove(blocker));
        QVERIFY(store.setValue(key::kOption, key::kServerIp, QStringLiteral("10.0.0.10")));
        QCOMPARE(SettingsStore(blocker + QStringLiteral("/settings.ini"))
                     .value(key::kOption, key::kServerIp, QString()),
                 QStringLiteral("10.0.0.10"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
