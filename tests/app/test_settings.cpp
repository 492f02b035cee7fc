#include "app/config.h"
#include "app/settings.h"
#include "app/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
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
        const Settings c(store);
        QCOMPARE(c.text(Setting::ServerAddress), QStringLiteral("192.168.1.35"));
        QCOMPARE(c.text(Setting::ServerPort), QStringLiteral("20000"));
        QCOMPARE(c.port(), quint16(20000));
        QVERIFY(!c.isOn(Setting::StInterface));
        QCOMPARE(c.number(Setting::LinePowerIndex), 1);
        QCOMPARE(c.linePowerWatts(), 3000);
        QCOMPARE(c.number(Setting::RefreshSeconds), 30);
        QVERIFY(c.isOn(Setting::LostFrameSwitch));
        QCOMPARE(c.text(Setting::LanguageCode), QStringLiteral("ita"));
        QVERIFY(!c.isOn(Setting::StartMinimized));
        QVERIFY(!c.isOn(Setting::StartAutomatic));
        QVERIFY(!c.isOn(Setting::StartRecording));
        QVERIFY(c.text(Setting::ServerPassword).isEmpty());
        // No broker: nothing is published until a host is given.
        QVERIFY(c.text(Setting::MqttHost).isEmpty());
        QCOMPARE(c.number(Setting::MqttPort), 1883);
        QVERIFY(!c.isOn(Setting::MqttTls));
        QCOMPARE(c.text(Setting::MqttTopic), QStringLiteral("powerlog"));
        QVERIFY(c.isOn(Setting::MqttDiscovery));
        QVERIFY(!c.isOn(Setting::MqttAllowCommands));
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
        const Settings c(reopened);
        QCOMPARE(c.number(Setting::RefreshSeconds), 3600);
        QCOMPARE(c.linePowerWatts(), 9000);
    }

    // Stored text -> value in force, for every setting: what the program never stores itself
    // (letters, numbers out of range) reads as the default.
    void readingRules_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<Setting>("setting");
        QTest::addColumn<QVariant>("expected");

        const auto row = [](const char* name, const char* section, const char* key,
                            const QString& stored, Setting setting, const QVariant& expected) {
            QTest::newRow(name) << QString::fromLatin1(section) << QString::fromLatin1(key)
                                << stored << setting << expected;
        };
        row("minimized 1", "Option", "Minimized", "1", Setting::StartMinimized, true);
        row("minimized 0", "Option", "Minimized", "0", Setting::StartMinimized, false);
        row("minimized 2 is not set", "Option", "Minimized", "2", Setting::StartMinimized, false);
        row("minimized letters", "Option", "Minimized", "yes", Setting::StartMinimized, false);
        row("minimized blanks around", "Option", "Minimized", " 1 ", Setting::StartMinimized, true);
        row("interface 1", "Option", "Interface", "1", Setting::StInterface, true);
        row("interface letters", "Option", "Interface", "x", Setting::StInterface, false);
        row("auto -1 is not set", "Start", "Auto", "-1", Setting::StartAutomatic, false);
        row("auto 1", "Start", "Auto", "1", Setting::StartAutomatic, true);
        row("recauto 1", "Start", "RecAuto", "1", Setting::StartRecording, true);
        row("recauto empty", "Start", "RecAuto", "", Setting::StartRecording, false);
        row("line 4", "Watt", "line", "4", Setting::LinePowerIndex, 4);
        row("line 0", "Watt", "line", "0", Setting::LinePowerIndex, 0);
        row("line out of range", "Watt", "line", "7", Setting::LinePowerIndex, 1);
        row("line negative", "Watt", "line", "-1", Setting::LinePowerIndex, 1);
        row("line letters", "Watt", "line", "abc", Setting::LinePowerIndex, 1);
        row("refresh listed", "Timer", "Agg", "600", Setting::RefreshSeconds, 600);
        row("refresh 3600", "Timer", "Agg", "3600", Setting::RefreshSeconds, 3600);
        row("refresh not listed", "Timer", "Agg", "45", Setting::RefreshSeconds, 30);
        row("refresh letters", "Timer", "Agg", "x", Setting::RefreshSeconds, 30);
        row("lost 0", "Frame", "Lost", "0", Setting::LostFrameSwitch, false);
        row("lost 1", "Frame", "Lost", "1", Setting::LostFrameSwitch, true);
        row("lost out of range", "Frame", "Lost", "9", Setting::LostFrameSwitch, true);
        row("lost letters", "Frame", "Lost", "off", Setting::LostFrameSwitch, true);
        row("port letters", "Option", "ServerPORT", "http", Setting::ServerPort, 20000);
        row("port too large", "Option", "ServerPORT", "70000", Setting::ServerPort, 20000);
        row("port zero", "Option", "ServerPORT", "0", Setting::ServerPort, 20000);
        row("port kept", "Option", "ServerPORT", "20001", Setting::ServerPort, 20001);
        row("port highest", "Option", "ServerPORT", "65535", Setting::ServerPort, 65535);
        row("language kept as stored", "Option", "Language", "ENG", Setting::LanguageCode,
            QStringLiteral("ENG"));
        row("language eng", "Option", "Language", "eng", Setting::LanguageCode,
            QStringLiteral("eng"));
        row("address as stored", "Option", "ServerIP", "gw.example", Setting::ServerAddress,
            QStringLiteral("gw.example"));
        row("address empty", "Option", "ServerIP", "", Setting::ServerAddress, QString());
        row("password scrambled", "Option", "ServerPWD", scramblePassword("ab1", 5),
            Setting::ServerPassword, QStringLiteral("ab1"));
        row("password not scrambled", "Option", "ServerPWD", "secret", Setting::ServerPassword,
            QString());
        row("price with a dot", "Tariff", "PriceF1", "0.275", Setting::PriceF1, 0.275);
        row("price whole", "Tariff", "PriceF2", " 1 ", Setting::PriceF2, 1.0);
        row("price with a comma is no price", "Tariff", "PriceF3", "0,2", Setting::PriceF3, 0.0);
        row("negative price", "Tariff", "PriceF1", "-0.1", Setting::PriceF1, 0.0);
        row("price above 1000", "Tariff", "PriceF1", "1000.5", Setting::PriceF1, 0.0);
        row("price letters", "Tariff", "PriceF1", "abc", Setting::PriceF1, 0.0);
        row("currency as stored", "Tariff", "Currency", "EUR", Setting::Currency,
            QStringLiteral("EUR"));
        row("meter source", "Meter", "Source", "meter", Setting::MeterSource,
            QStringLiteral("meter"));
        row("meter address", "Meter", "Where", "5255", Setting::MeterWhere, QStringLiteral("5255"));
        row("broker password scrambled", "Mqtt", "Password", scramblePassword("pw", 2),
            Setting::MqttPassword, QStringLiteral("pw"));
        row("broker password not scrambled", "Mqtt", "Password", "pw", Setting::MqttPassword,
            QString());
        row("broker port letters", "Mqtt", "Port", "mqtt", Setting::MqttPort, 1883);
        row("commands 1", "Mqtt", "AllowCommands", "1", Setting::MqttAllowCommands, true);
        row("commands other than 1", "Mqtt", "AllowCommands", "yes", Setting::MqttAllowCommands,
            false);
    }

    void readingRules()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(Setting, setting);
        QFETCH(QVariant, expected);

        SettingsStore store(storePath());
        store.setValue(section, key, stored);
        const Settings c(store);
        QCOMPARE(c.value(setting), expected);
        QCOMPARE(c.value(setting).typeId(), settingSpec(setting).type);
    }

    // The table holds every setting once, in the order of the enumeration, each default of its
    // own kind and within its own range.
    void tableDescribesEverySetting()
    {
        const QMetaEnum names = QMetaEnum::fromType<Setting>();
        QCOMPARE(settingSpecs().size(), names.keyCount());
        QSet<QString> keys;
        for (int i = 0; i < settingSpecs().size(); ++i) {
            const SettingSpec& entry = settingSpecs().at(i);
            QCOMPARE(int(entry.setting), i);
            QVERIFY(!keys.contains(entry.section + '/' + entry.key));
            keys << entry.section + '/' + entry.key;
            QCOMPARE(entry.defaultValue.typeId(), entry.type);
            if (entry.form != StoredForm::Scrambled)
                QVERIFY2(Settings::isValid(entry.setting, entry.defaultValue), names.valueToKey(i));
        }
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
        QCOMPARE(Settings(store).text(Setting::ServerPassword), QString());
    }

    void startUpRestoresThePassword()
    {
        SettingsStore store(storePath());
        store.setValue(key::kOption, key::kServerPassword, scramblePassword("12345678", 4));
        QCOMPARE(Settings(store).text(Setting::ServerPassword), QStringLiteral("12345678"));
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
        QCOMPARE(Settings(reopened).text(Setting::ServerPassword), QStringLiteral("1234"));
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
        QCOMPARE(store.value(key::kOption, key::kServerIp, QString()), QStringLiteral("host,name"));
        QCOMPARE(store.value(key::kWatt, key::kLine, QString()), QStringLiteral("2, 3 ,4"));
        QVERIFY(store.setValue(key::kOption, key::kServerPort, QStringLiteral("20001")));

        SettingsStore reopened(storePath());
        QCOMPARE(Settings(reopened).text(Setting::ServerAddress), QStringLiteral("host,name"));
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

    // Value -> stored text, and back as the next start reads it.
    void writes_data()
    {
        QTest::addColumn<Setting>("setting");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("storedText");
        QTest::addColumn<QVariant>("inForce");

        const auto row = [](const char* name, Setting setting, const QVariant& value,
                            const char* storedText, const QVariant& inForce) {
            QTest::newRow(name) << setting << value << QString::fromLatin1(storedText) << inForce;
        };
        row("host name", Setting::ServerAddress, QStringLiteral("gw.local"), "gw.local",
            QStringLiteral("gw.local"));
        row("dotted address", Setting::ServerAddress, QStringLiteral("10.0.0.255"), "10.0.0.255",
            QStringLiteral("10.0.0.255"));
        row("port as number", Setting::ServerPort, 20001, "20001", 20001);
        row("port as text", Setting::ServerPort, QStringLiteral("8080"), "8080", 8080);
        row("port as quint16", Setting::ServerPort, QVariant::fromValue(quint16(65535)), "65535",
            65535);
        row("lowest port", Setting::ServerPort, 1, "1", 1);
        row("ST interface", Setting::StInterface, true, "1", true);
        row("BT interface", Setting::StInterface, false, "0", false);
        row("last line power", Setting::LinePowerIndex, 4, "4", 4);
        row("first line power", Setting::LinePowerIndex, 0, "0", 0);
        row("refresh 1 H. stores seconds", Setting::RefreshSeconds, 3600, "3600", 3600);
        row("refresh 10 Sec.", Setting::RefreshSeconds, 10, "10", 10);
        row("lost frames off", Setting::LostFrameSwitch, false, "0", false);
        row("lost frames as number", Setting::LostFrameSwitch, QVariant::fromValue(quint8(1)), "1",
            true);
        row("English", Setting::LanguageCode, QStringLiteral("eng"), "eng", QStringLiteral("eng"));
        row("Italian", Setting::LanguageCode, QStringLiteral("ita"), "ita", QStringLiteral("ita"));
        row("start minimized", Setting::StartMinimized, true, "1", true);
        row("automatic start as 1", Setting::StartAutomatic, 1, "1", true);
        row("recording at start", Setting::StartRecording, true, "1", true);
        row("no recording at start", Setting::StartRecording, false, "0", false);
        row("price as number", Setting::PriceF1, 0.25, "0.25", 0.25);
        row("price as text", Setting::PriceF2, QStringLiteral("0.3"), "0.3", 0.3);
        row("no price", Setting::PriceF3, 0, "0", 0.0);
        row("highest price", Setting::PriceF3, 1000, "1000", 1000.0);
        row("currency", Setting::Currency, QStringLiteral("EUR"), "EUR", QStringLiteral("EUR"));
        row("reading the meter", Setting::MeterSource, QStringLiteral("meter"), "meter",
            QStringLiteral("meter"));
        row("meter 12", Setting::MeterWhere, QStringLiteral("512"), "512", QStringLiteral("512"));
        row("broker", Setting::MqttHost, QStringLiteral("broker.lan"), "broker.lan",
            QStringLiteral("broker.lan"));
        row("TLS port", Setting::MqttPort, 8883, "8883", 8883);
        row("topic of two levels", Setting::MqttTopic, QStringLiteral("home/energy"), "home/energy",
            QStringLiteral("home/energy"));
        row("no discovery", Setting::MqttDiscovery, false, "0", false);
    }

    void writes()
    {
        QFETCH(Setting, setting);
        QFETCH(QVariant, value);
        QFETCH(QString, storedText);
        QFETCH(QVariant, inForce);

        SettingsStore store(storePath());
        Settings settings(store);
        QVERIFY(Settings::isValid(setting, value));
        QVERIFY(settings.set(setting, value));
        const SettingSpec& entry = settingSpec(setting);
        QCOMPARE(store.value(entry.section, entry.key, QStringLiteral("<none>")), storedText);
        QCOMPARE(settings.value(setting), inForce);
        SettingsStore reopened(storePath());
        QCOMPARE(Settings(reopened).value(setting), inForce);
    }

    // The stored password is the digit k, then three digits per character; every save draws
    // a new k. An empty password is the digit alone.
    void passwordIsStoredScrambled_data()
    {
        QTest::addColumn<Setting>("setting");
        QTest::addColumn<QString>("password");
        QTest::newRow("digits") << Setting::ServerPassword << "12345678";
        QTest::newRow("letters") << Setting::ServerPassword << "Secret";
        QTest::newRow("accented letters") << Setting::ServerPassword << QStringLiteral("p\u00e4ss");
        QTest::newRow("empty") << Setting::ServerPassword << "";
        QTest::newRow("the broker's") << Setting::MqttPassword << "Broker!pw";
    }

    void passwordIsStoredScrambled()
    {
        QFETCH(Setting, setting);
        QFETCH(QString, password);
        SettingsStore store(storePath());
        Settings settings(store);
        QVERIFY(settings.set(setting, password));
        const QString stored = setting == Setting::MqttPassword
                                   ? store.value(key::kMqtt, key::kPassword, QString())
                                   : store.value(key::kOption, key::kServerPassword, QString());
        QCOMPARE(stored.size(), 1 + 3 * password.size());
        QVERIFY(stored.at(0).digitValue() >= 0 && stored.at(0).digitValue() <= 8);
        QCOMPARE(unscramblePassword(stored), std::optional<QString>(password));
        QCOMPARE(settings.text(setting), password);
        SettingsStore reopened(storePath());
        QCOMPARE(Settings(reopened).text(setting), password);
    }

    void invalidValuesAreRefused_data()
    {
        QTest::addColumn<Setting>("setting");
        QTest::addColumn<QVariant>("value");

        QTest::newRow("address of three parts")
            << Setting::ServerAddress << QVariant(QStringLiteral("192.168.1"));
        QTest::newRow("address part above 255")
            << Setting::ServerAddress << QVariant(QStringLiteral("192.168.1.300"));
        QTest::newRow("empty address") << Setting::ServerAddress << QVariant(QString());
        QTest::newRow("address as number") << Setting::ServerAddress << QVariant(42);
        QTest::newRow("port 0") << Setting::ServerPort << QVariant(0);
        QTest::newRow("port 65536") << Setting::ServerPort << QVariant(65536);
        QTest::newRow("port letters") << Setting::ServerPort << QVariant(QStringLiteral("http"));
        QTest::newRow("empty port") << Setting::ServerPort << QVariant(QString());
        QTest::newRow("port as bool") << Setting::ServerPort << QVariant(true);
        QTest::newRow("password beyond 8 bits")
            << Setting::ServerPassword << QVariant(QStringLiteral("\u0109iao"));
        QTest::newRow("interface 2") << Setting::StInterface << QVariant(2);
        QTest::newRow("interface as text")
            << Setting::StInterface << QVariant(QStringLiteral("yes"));
        QTest::newRow("line power 5") << Setting::LinePowerIndex << QVariant(5);
        QTest::newRow("line power -1") << Setting::LinePowerIndex << QVariant(-1);
        QTest::newRow("line power fraction") << Setting::LinePowerIndex << QVariant(2.5);
        QTest::newRow("refresh not listed") << Setting::RefreshSeconds << QVariant(45);
        QTest::newRow("refresh as list position") << Setting::RefreshSeconds << QVariant(5);
        QTest::newRow("lost 9") << Setting::LostFrameSwitch << QVariant(9);
        QTest::newRow("language fra") << Setting::LanguageCode << QVariant(QStringLiteral("fra"));
        QTest::newRow("language in capitals")
            << Setting::LanguageCode << QVariant(QStringLiteral("ENG"));
        QTest::newRow("no value") << Setting::StartMinimized << QVariant();
        QTest::newRow("negative price") << Setting::PriceF1 << QVariant(-0.01);
        QTest::newRow("price above 1000") << Setting::PriceF2 << QVariant(1000.01);
        QTest::newRow("price with a comma") << Setting::PriceF3 << QVariant(QStringLiteral("0,2"));
        QTest::newRow("price as bool") << Setting::PriceF1 << QVariant(true);
        QTest::newRow("unknown meter source")
            << Setting::MeterSource << QVariant(QStringLiteral("pulse"));
        QTest::newRow("meter address 50") << Setting::MeterWhere << QVariant(QStringLiteral("50"));
        QTest::newRow("meter address 5256")
            << Setting::MeterWhere << QVariant(QStringLiteral("5256"));
        QTest::newRow("meter address with a zero")
            << Setting::MeterWhere << QVariant(QStringLiteral("501"));
        QTest::newRow("an actuator's address")
            << Setting::MeterWhere << QVariant(QStringLiteral("71"));
        QTest::newRow("empty topic") << Setting::MqttTopic << QVariant(QString());
        QTest::newRow("topic with +") << Setting::MqttTopic << QVariant(QStringLiteral("a/+"));
        QTest::newRow("topic with #") << Setting::MqttTopic << QVariant(QStringLiteral("a/#"));
        QTest::newRow("topic with an empty level")
            << Setting::MqttTopic << QVariant(QStringLiteral("home//energy"));
        QTest::newRow("broker port 0") << Setting::MqttPort << QVariant(0);
    }

    void invalidValuesAreRefused()
    {
        QFETCH(Setting, setting);
        QFETCH(QVariant, value);
        SettingsStore store(storePath());
        Settings settings(store);
        const QVariant before = settings.value(setting);
        QSignalSpy changes(&settings, &Settings::changed);
        QVERIFY(!Settings::isValid(setting, value));
        QVERIFY(!settings.set(setting, value));
        QVERIFY(!QFile::exists(storePath()));
        QCOMPARE(settings.value(setting), before);
        QCOMPARE(changes.size(), 0);
    }

    // changed() tells each change of a value in force once, and nothing else.
    void changeIsSignalledOnceAndOnlyOnChange()
    {
        SettingsStore store(storePath());
        Settings settings(store);
        QSignalSpy changes(&settings, &Settings::changed);

        QVERIFY(settings.set(Setting::RefreshSeconds, 600));
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.at(0).at(0).value<Setting>(), Setting::RefreshSeconds);
        QVERIFY(settings.set(Setting::RefreshSeconds, QStringLiteral("600")));
        QCOMPARE(changes.size(), 1);

        // The default, stored: the value in force stays what it was.
        QVERIFY(settings.set(Setting::LinePowerIndex, 1));
        QCOMPARE(store.value(key::kWatt, key::kLine, QString()), QStringLiteral("1"));
        QCOMPARE(changes.size(), 1);

        // The same password again: stored anew with another digit maybe, but it is no change.
        QVERIFY(settings.set(Setting::ServerPassword, QStringLiteral("abc")));
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.at(1).at(0).value<Setting>(), Setting::ServerPassword);
        QVERIFY(settings.set(Setting::ServerPassword, QStringLiteral("abc")));
        QCOMPARE(changes.size(), 2);

        QVERIFY(settings.set(Setting::LostFrameSwitch, false));
        QVERIFY(settings.set(Setting::LostFrameSwitch, true));
        QCOMPARE(changes.size(), 4);
    }

    // Listeners on another thread, or queued on this one, get the setting too.
    void changeReachesQueuedListeners()
    {
        SettingsStore store(storePath());
        Settings settings(store);
        QList<Setting> heard;
        QObject listener;
        connect(
            &settings, &Settings::changed, &listener,
            [&heard](Setting setting) { heard << setting; }, Qt::QueuedConnection);
        QVERIFY(settings.set(Setting::LanguageCode, QStringLiteral("eng")));
        QVERIFY(heard.isEmpty());
        QTRY_COMPARE(heard, QList<Setting>{Setting::LanguageCode});
    }

    // A value the store cannot keep changes nothing: the next start would not read it.
    void failedWriteChangesNothing_data()
    {
        QTest::addColumn<bool>("readOnlyFile");
        QTest::newRow("read-only file") << true;
        QTest::newRow("folder in the file's place") << false;
    }

    void failedWriteChangesNothing()
    {
        QFETCH(bool, readOnlyFile);
        {
            QFile file(storePath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Timer]\nAgg=60\n");
        }
        SettingsStore store(storePath());
        Settings settings(store);
        settings.overrideForThisRun(Setting::ServerAddress, QStringLiteral("127.0.0.1"));
        if (readOnlyFile) {
            QVERIFY(QFile::setPermissions(storePath(), QFile::ReadOwner));
            if (QFileInfo(storePath()).isWritable())
                QSKIP("this user writes read-only files");
        } else {
            QVERIFY(QFile::remove(storePath()));
            QVERIFY(QDir().mkdir(storePath()));
        }
        QSignalSpy changes(&settings, &Settings::changed);
        QVERIFY(!settings.set(Setting::RefreshSeconds, 3600));
        QVERIFY(!settings.set(Setting::ServerAddress, QStringLiteral("10.0.0.1")));
        QCOMPARE(changes.size(), 0);
        QCOMPARE(settings.number(Setting::RefreshSeconds), 60);
        // The run's override holds on.
        QCOMPARE(settings.text(Setting::ServerAddress), QStringLiteral("127.0.0.1"));
        if (readOnlyFile) {
            QVERIFY(QFile::setPermissions(storePath(), QFile::ReadOwner | QFile::WriteOwner));
            QCOMPARE(Settings(store).number(Setting::RefreshSeconds), 60);
        } else {
            QVERIFY(QDir().rmdir(storePath()));
        }
    }

    // An override holds for this run only: it is never stored, and storing the setting ends it.
    void overrideHoldsForThisRunOnly()
    {
        SettingsStore store(storePath());
        QVERIFY(store.setValue(key::kOption, key::kServerIp, QStringLiteral("gw.home")));
        const QByteArray before = [this] {
            QFile file(storePath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        Settings settings(store);
        QSignalSpy changes(&settings, &Settings::changed);

        settings.overrideForThisRun(Setting::ServerAddress, QStringLiteral("127.0.0.1"));
        settings.overrideForThisRun(Setting::ServerPort, QVariant::fromValue(quint16(40123)));
        settings.overrideForThisRun(Setting::ServerPassword, QStringLiteral("demo2024"));
        settings.overrideForThisRun(Setting::RefreshSeconds, 10);
        QCOMPARE(changes.size(), 4);
        QCOMPARE(settings.text(Setting::ServerAddress), QStringLiteral("127.0.0.1"));
        QCOMPARE(settings.port(), quint16(40123));
        QCOMPARE(settings.text(Setting::ServerPassword), QStringLiteral("demo2024"));
        QCOMPARE(settings.number(Setting::RefreshSeconds), 10);
        {
            QFile file(storePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), before);
        }
        QCOMPARE(Settings(store).text(Setting::ServerAddress), QStringLiteral("gw.home"));

        // The same value again, and a value out of range: no change.
        settings.overrideForThisRun(Setting::RefreshSeconds, 10);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("RefreshSeconds"));
        settings.overrideForThisRun(Setting::RefreshSeconds, 45);
        QVERIFY(!settings.set(Setting::RefreshSeconds, 45));
        QCOMPARE(settings.number(Setting::RefreshSeconds), 10);
        QCOMPARE(changes.size(), 4);

        // Storing the setting ends its override, even with the value the store held already.
        QVERIFY(settings.set(Setting::RefreshSeconds, 30));
        QCOMPARE(settings.number(Setting::RefreshSeconds), 30);
        QCOMPARE(changes.size(), 5);
        QCOMPARE(changes.last().at(0).value<Setting>(), Setting::RefreshSeconds);
        // Storing the overriding value itself ends it silently.
        QVERIFY(settings.set(Setting::ServerAddress, QStringLiteral("127.0.0.1")));
        QCOMPARE(changes.size(), 5);
        QCOMPARE(Settings(store).text(Setting::ServerAddress), QStringLiteral("127.0.0.1"));
        // The other overrides hold.
        QCOMPARE(settings.port(), quint16(40123));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
