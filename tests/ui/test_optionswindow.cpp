#include "acquisition/meterfinder.h"
#include "acquisition/poller.h"
#include "ui/charts/chartswindow.h"
#include "ui/export/exportwindow.h"
#include "ui/options/optionswindow.h"
#include "windowharness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace powerlog;
using namespace powerlog::test;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Prices of F1, F2 and F3 as the settings file holds them; none when empty.
QHash<QString, QString> withPrices(const QStringList& prices)
{
    QHash<QString, QString> stored;
    for (qsizetype band = 0; band < prices.size(); ++band)
        stored.insert(QStringLiteral("Tariff/PriceF%1").arg(band + 1), prices.at(band));
    return stored;
}

// The band a price field shows: "Tprice2" is F2.
int bandOf(const QString& field)
{
    return field.back().digitValue() - 1;
}

} // namespace

class TestOptionsWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

    // The options window of a loaded main window, as its button opens it, shown and active so
    // that the focus moves between its fields as a user moves it.
    static OptionsWindow& open(WindowHarness& h)
    {
        MainWindow& main = h.load();
        main.show();
        h.click("ImTool");
        OptionsWindow* options = main.optionsWindow();
        options->activateWindow();
        if (!QTest::qWaitForWindowActive(options, 10000))
            qWarning("the options window did not become active");
        return *options;
    }

    template <typename T = QWidget> static T* control(OptionsWindow& options, const QString& name)
    {
        return options.findChild<T*>(name);
    }

    static QString stored(WindowHarness& h, const QString& section, const QString& name)
    {
        return h.store.value(section, name, QStringLiteral("<none>"));
    }

    static QStringList storedPrices(WindowHarness& h)
    {
        return {stored(h, key::kTariff, key::kPriceF1), stored(h, key::kTariff, key::kPriceF2),
                stored(h, key::kTariff, key::kPriceF3)};
    }

    // Prices as the Italian window writes them: a comma for the decimals.
    static QString inItalian(QString price)
    {
        return price.replace(QLatin1Char('.'), QLatin1Char(','));
    }
    static QStringList inItalian(QStringList prices)
    {
        for (QString& price : prices)
            price = inItalian(price);
        return prices;
    }

    // The price fields shown, in order.
    static QStringList shownPrices(OptionsWindow& options)
    {
        QStringList shown;
        for (const char* name : {"Tprice1", "Tprice2", "Tprice3"}) {
            if (control(options, name)->isVisible())
                shown << control<QLineEdit>(options, name)->text();
        }
        return shown;
    }

    static QStringList shownPriceLabels(OptionsWindow& options)
    {
        QStringList shown;
        for (const char* name : {"Lbprice1", "Lbprice2", "Lbprice3"}) {
            if (control(options, name)->isVisible())
                shown << control<QLabel>(options, name)->text();
        }
        return shown;
    }

    // A click where a check box takes it: on its box, at the left.
    static void click(QWidget* control)
    {
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(8, control->height() / 2));
    }

    // Types into a field that has the focus, then moves the focus on as the Tab key does.
    static void typeAndLeave(OptionsWindow& options, const QString& field, const QString& text)
    {
        auto* edit = control<QLineEdit>(options, field);
        edit->setFocus(Qt::TabFocusReason);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
        control(options, QStringLiteral("Cinterf"))->setFocus(Qt::TabFocusReason);
    }

private slots:
    void initTestCase()
    {
        // The window's focus moves only within an active window.
        QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
        // The autostart entry goes to a folder of the test's own, never the user's.
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    }

    void startWithTheSystemWritesAndRemovesTheEntry()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        auto* box = control<QCheckBox>(options, "CStSys");
        QCOMPARE(box->text(), QStringLiteral("Avvia con il sistema"));
        QVERIFY(!box->isChecked());
        const QString entry = m_config.filePath(QStringLiteral("autostart/powerlog.desktop"));

        click(box);
        QVERIFY(box->isChecked());
        QVERIFY(fileBytes(entry).contains(
            "\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n"));
        // A new window shows the entry that is there.
        const QPointer<OptionsWindow> first(&options);
        options.close();
        QTRY_VERIFY(!first);
        OptionsWindow& again = open(h);
        QVERIFY(control<QCheckBox>(again, "CStSys")->isChecked());

        click(control<QCheckBox>(again, "CStSys"));
        QVERIFY(!QFile::exists(entry));
        QVERIFY(h.prompts.shown.isEmpty());
    }

    void startWithTheSystemThatCannotBeWrittenIsTold()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        // The autostart folder's place is taken by a file.
        const QString folder = m_config.filePath(QStringLiteral("autostart"));
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        auto* box = control<QCheckBox>(options, "CStSys");
        click(box);
        QVERIFY(!box->isChecked());
        QCOMPARE(h.prompts.shown.size(), 1);
        QCOMPARE(h.prompts.shown.first().icon, Prompts::Icon::Exclamation);
        QVERIFY(h.prompts.shown.first().text.startsWith(
            QStringLiteral("Impossibile cambiare l'avvio con il sistema: ")));
        QVERIFY(QFile::remove(folder));
    }

    void opensModallyWithWhatIsInEffect()
    {
        WindowHarness h({{"Watt/line", "4"},
                         {"Timer/Agg", "600"},
                         {"Frame/Lost", "0"},
                         {"Start/Auto", "1"},
                         {"Option/Minimized", "1"}});
        OptionsWindow& options = open(h);
        QVERIFY(options.isVisible());
        QCOMPARE(options.windowModality(), Qt::ApplicationModal);
        QCOMPARE(options.windowTitle(), QStringLiteral("Opzioni"));
        QCOMPARE(control<QLineEdit>(options, "TxtIPws")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(control<QLineEdit>(options, "TxtPortaws")->text(),
                 QString::number(h.simulator.port()));
        QCOMPARE(control<QComboBox>(options, "Cinterf")->currentText(),
                 QStringLiteral("BT Gateway"));
        QCOMPARE(control<QComboBox>(options, "Cpot")->currentText(), QStringLiteral("9000 W"));
        QCOMPARE(control<QComboBox>(options, "Cagg")->currentText(), QStringLiteral("10 Min."));
        QVERIFY(control<QCheckBox>(options, "CstAut")->isChecked());
        QVERIFY(control<QCheckBox>(options, "CStmin")->isChecked());
        QVERIFY(!control<QCheckBox>(options, "CStRec")->isChecked());
        QVERIFY(!control<QCheckBox>(options, "ChLost")->isChecked());
        QVERIFY(!control<QToolButton>(options, "ImIT")->isEnabled());
        QVERIFY(control<QToolButton>(options, "ImEN")->isEnabled());
        // Applying the window's language empties the main window's message panel.
        QCOMPARE(h.window->panelText(1), QString());
    }

    // The tray menu's entry opens the same window without blocking the others; the options
    // button then makes it modal.
    void trayOpensItWithoutBlocking()
    {
        WindowHarness h;
        MainWindow& main = h.load();
        main.show();
        main.showOptions(false);
        OptionsWindow* options = main.optionsWindow();
        QVERIFY(options && options->isVisible());
        QCOMPARE(options->windowModality(), Qt::NonModal);
        h.click("ImTool");
        QCOMPARE(main.optionsWindow(), options);
        QVERIFY(options->isVisible());
        QCOMPARE(options->windowModality(), Qt::ApplicationModal);
    }

    void openingAndClosingStoresNothing()
    {
        WindowHarness h({{"Option/ServerPWD", scramblePassword("4321", 3)},
                         {"Tariff/PriceF1", "0.3"},
                         {"Tariff/PriceF2", "0.20"},
                         {"Tariff/PriceF3", "0.1"},
                         {"Tariff/Currency", "USD"}});
        const QByteArray before = fileBytes(h.store.fileName());
        OptionsWindow& options = open(h);
        options.close();
        QCOMPARE(fileBytes(h.store.fileName()), before);
        QTRY_VERIFY(!h.window->optionsWindow());
    }

    void addressIsCheckedWhenLeft_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("saved");

        QTest::newRow("part above 255") << "192.168.1.300"
                                        << "192.168.1.255"
                                        << "192.168.1.255";
        QTest::newRow("every part above 255") << "999.0300.1.2"
                                              << "255.255.1.2"
                                              << "255.255.1.2";
        QTest::newRow("three parts") << "192.168.1"
                                     << "127.0.0.1"
                                     << "127.0.0.1";
        QTest::newRow("five parts") << "10.0.0.1.5"
                                    << "127.0.0.1"
                                    << "127.0.0.1";
        QTest::newRow("letter after a digit") << "1a.2.3.4"
                                              << "127.0.0.1"
                                              << "127.0.0.1";
        QTest::newRow("empty part") << "10..0.1"
                                    << "127.0.0.1"
                                    << "127.0.0.1";
        QTest::newRow("host name") << "gateway.home"
                                   << "gateway.home"
                                   << "gateway.home";
        QTest::newRow("host name, any dots") << "my-gw"
                                             << "my-gw"
                                             << "my-gw";
        QTest::newRow("empty") << ""
                               << "127.0.0.1"
                               << "127.0.0.1";
        QTest::newRow("plain address") << "192.168.1.35"
                                       << "192.168.1.35"
                                       << "192.168.1.35";
    }

    void addressIsCheckedWhenLeft()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, saved);
        WindowHarness h;
        OptionsWindow& options = open(h);
        QSignalSpy gateway(&h.settings, &Settings::changed);
        typeAndLeave(options, "TxtIPws", typed);
        QCOMPARE(control<QLineEdit>(options, "TxtIPws")->text(), shown);
        QCOMPARE(stored(h, key::kOption, key::kServerIp), saved);
        QCOMPARE(h.settings.text(Setting::ServerAddress), saved);
        QCOMPARE(gateway.size(), saved == QStringLiteral("127.0.0.1") ? 0 : 1);
        if (!gateway.isEmpty())
            QCOMPARE(gateway.first().first().value<Setting>(), Setting::ServerAddress);
        // A rejected address is followed by the one accepted before it.
        typeAndLeave(options, "TxtIPws", "1.2.3");
        QCOMPARE(control<QLineEdit>(options, "TxtIPws")->text(), saved);
    }

    void portKeepsToDigitsAndBounds_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");

        QTest::newRow("letters dropped") << "2a0b0c01"
                                         << "20001";
        QTest::newRow("highest") << "65535"
                                 << "65535";
        QTest::newRow("lowest") << "1"
                                << "1";
        QTest::newRow("zero") << "0"
                              << "";
        QTest::newRow("above the highest") << "99999"
                                           << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void portKeepsToDigitsAndBounds()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        WindowHarness h;
        const QString before = QString::number(h.simulator.port());
        OptionsWindow& options = open(h);
        typeAndLeave(options, "TxtPortaws", typed);
        const QString expected = kept.isEmpty() ? before : kept;
        QCOMPARE(control<QLineEdit>(options, "TxtPortaws")->text(), expected);
        QCOMPARE(stored(h, key::kOption, key::kServerPort), expected);
        QCOMPARE(h.settings.text(Setting::ServerPort), expected);
    }

    void backspaceStillEditsThePort()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        auto* port = control<QLineEdit>(options, "TxtPortaws");
        port->setFocus(Qt::TabFocusReason);
        port->end(false);
        QTest::keyClick(port, Qt::Key_Backspace);
        QCOMPARE(port->text(), QString::number(h.simulator.port()).chopped(1));
    }

    void passwordShowsStarsAndIsStoredScrambled()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        typeAndLeave(options, "TxtPwd", "12345678");
        QCOMPARE(control<QLineEdit>(options, "TxtPwd")->displayText(), QString(8, u'*'));
        const QString scrambled = stored(h, key::kOption, key::kServerPassword);
        QCOMPARE(scrambled.size(), 1 + 3 * 8);
        QCOMPARE(unscramblePassword(scrambled), QStringLiteral("12345678"));
        QCOMPARE(h.settings.text(Setting::ServerPassword), QStringLiteral("12345678"));
    }

    // The stored form keeps 8 bits of each character: a password beyond them is not taken.
    void passwordBeyondEightBitsIsRefused()
    {
        WindowHarness h({{"Option/ServerPWD", scramblePassword("4321", 3)}});
        OptionsWindow& options = open(h);
        auto* password = control<QLineEdit>(options, "TxtPwd");
        password->setFocus(Qt::TabFocusReason);
        password->setText(QStringLiteral("\u0109iao"));
        control(options, QStringLiteral("Cinterf"))->setFocus(Qt::TabFocusReason);
        QCOMPARE(password->text(), QStringLiteral("4321"));
        QCOMPARE(stored(h, key::kOption, key::kServerPassword), scramblePassword("4321", 3));
        QCOMPARE(h.settings.text(Setting::ServerPassword), QStringLiteral("4321"));
        QVERIFY(h.prompts.shown.isEmpty());
    }

    // What this run overrides (the demo's gateway and refresh) shows in the window; opening
    // and closing it stores none of it.
    void overridesShowButAreNeverStored()
    {
        WindowHarness h;
        h.settings.overrideForThisRun(Setting::ServerPassword, QStringLiteral("demo2024"));
        h.settings.overrideForThisRun(Setting::RefreshSeconds, 10);
        const QByteArray before = fileBytes(h.store.fileName());
        OptionsWindow& options = open(h);
        QCOMPARE(control<QLineEdit>(options, "TxtPwd")->text(), QStringLiteral("demo2024"));
        QCOMPARE(control<QComboBox>(options, "Cagg")->currentText(), QStringLiteral("10 Sec."));
        control<QLineEdit>(options, "TxtPwd")->setFocus(Qt::TabFocusReason);
        options.close();
        QCOMPARE(fileBytes(h.store.fileName()), before);
        QCOMPARE(h.settings.text(Setting::ServerPassword), QStringLiteral("demo2024"));
    }

    void closingAppliesTheFieldWithTheFocus()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        auto* address = control<QLineEdit>(options, "TxtIPws");
        address->setFocus(Qt::TabFocusReason);
        address->setText(QStringLiteral("10.1.1.400"));
        options.close();
        QCOMPARE(stored(h, key::kOption, key::kServerIp), QStringLiteral("10.1.1.255"));
        QCOMPARE(h.settings.text(Setting::ServerAddress), QStringLiteral("10.1.1.255"));
    }

    void typedPricesAreStored_data()
    {
        QTest::addColumn<int>("kind"); // position in the tariff kind list
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("saved"); // F1, F2, F3

        QTest::newRow("single, dot") << 0 << "Tprice1"
                                     << "0.25" << QStringList{"0.25", "0.25", "0.25"};
        QTest::newRow("single, comma and blanks")
            << 0 << "Tprice1"
            << " 0,275 " << QStringList{"0.275", "0.275", "0.275"};
        QTest::newRow("single, empty is no price") << 0 << "Tprice1"
                                                   << "" << QStringList{"0", "0", "0"};
        QTest::newRow("single, highest") << 0 << "Tprice1"
                                         << "1000" << QStringList{"1000", "1000", "1000"};
        QTest::newRow("two bands, F1 with a comma") << 1 << "Tprice1"
                                                    << "0,31" << QStringList{"0.31", "0.2", "0.2"};
        QTest::newRow("two bands, F23 with a dot") << 1 << "Tprice2"
                                                   << "0.15" << QStringList{"0.2", "0.15", "0.15"};
        QTest::newRow("three bands, F1 whole") << 2 << "Tprice1"
                                               << "1" << QStringList{"1", "0.2", "0.2"};
        QTest::newRow("three bands, F2 with a comma")
            << 2 << "Tprice2"
            << "0,18" << QStringList{"0.2", "0.18", "0.2"};
        QTest::newRow("three bands, F3 with a dot") << 2 << "Tprice3"
                                                    << "0.09" << QStringList{"0.2", "0.2", "0.09"};
    }

    void typedPricesAreStored()
    {
        QFETCH(int, kind);
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QStringList, saved);
        WindowHarness h(withPrices({"0.2", "0.2", "0.2"}));
        OptionsWindow& options = open(h);
        control<QComboBox>(options, "Ctariff")->setCurrentIndex(kind);
        typeAndLeave(options, field, typed);
        QCOMPARE(storedPrices(h), saved);
        // The field shows the price in force, in the language's decimals.
        QCOMPARE(control<QLineEdit>(options, field)->text(), inItalian(saved.at(bandOf(field))));
        // What is stored is what the next start reads.
        options.close();
        SettingsStore reopened(h.store.fileName());
        const Settings restarted(reopened);
        for (const Setting setting : {Setting::PriceF1, Setting::PriceF2, Setting::PriceF3})
            QCOMPARE(restarted.price(setting), h.settings.price(setting));
    }

    // Each language writes the prices with its own decimals, and a change of language writes
    // them anew; what is stored keeps the dot.
    void pricesShowInTheLanguagesDecimals()
    {
        WindowHarness h(withPrices({"0.25", "1000", "0.125"}));
        OptionsWindow& options = open(h);
        QCOMPARE(shownPrices(options), QStringList({"0,25", "1000", "0,125"}));
        options.setLanguage(QStringLiteral("eng"));
        QCOMPARE(shownPrices(options), QStringList({"0.25", "1000", "0.125"}));
        QCOMPARE(storedPrices(h), QStringList({"0.25", "1000", "0.125"}));
    }

    void priceThatIsNoPriceIsRefused_data()
    {
        QTest::addColumn<QString>("typed");

        QTest::newRow("letters") << "abc";
        QTest::newRow("letter after the digits") << "0.2x";
        QTest::newRow("negative") << "-0,1";
        QTest::newRow("above 1000") << "1000,01";
        QTest::newRow("comma and dot") << "0,1.5";
    }

    void priceThatIsNoPriceIsRefused()
    {
        QFETCH(QString, typed);
        WindowHarness h(withPrices({"0.3", "0.1", "0.1"}));
        OptionsWindow& options = open(h);
        const QByteArray before = fileBytes(h.store.fileName());
        QSignalSpy changes(&h.settings, &Settings::changed);
        typeAndLeave(options, "Tprice2", typed);
        QCOMPARE(shownPrices(options), QStringList({"0,3", "0,1"}));
        QCOMPARE(fileBytes(h.store.fileName()), before);
        QVERIFY(changes.isEmpty());
        QVERIFY(h.prompts.shown.isEmpty());
    }

    void kindShownFollowsStoredPrices_data()
    {
        QTest::addColumn<QStringList>("prices"); // F1, F2, F3 as stored; none when empty
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QStringList>("shown");

        QTest::newRow("none stored")
            << QStringList() << 0 << QStringList{"Prezzo per kWh"} << QStringList{"0"};
        QTest::newRow("all equal") << QStringList{"0.25", "0.25", "0.25"} << 0
                                   << QStringList{"Prezzo per kWh"} << QStringList{"0.25"};
        QTest::newRow("F2 equal to F3") << QStringList{"0.3", "0.2", "0.2"} << 1
                                        << QStringList{"F1", "F23"} << QStringList{"0.3", "0.2"};
        QTest::newRow("F1 equal to F2")
            << QStringList{"0.2", "0.2", "0.1"} << 2 << QStringList{"F1", "F2", "F3"}
            << QStringList{"0.2", "0.2", "0.1"};
        QTest::newRow("F1 equal to F3")
            << QStringList{"0.2", "0.3", "0.2"} << 2 << QStringList{"F1", "F2", "F3"}
            << QStringList{"0.2", "0.3", "0.2"};
        QTest::newRow("all different")
            << QStringList{"0.3", "0.2", "0.1"} << 2 << QStringList{"F1", "F2", "F3"}
            << QStringList{"0.3", "0.2", "0.1"};
        QTest::newRow("F1 free, the others equal")
            << QStringList{"0", "0.15", "0.15"} << 1 << QStringList{"F1", "F23"}
            << QStringList{"0", "0.15"};
    }

    void kindShownFollowsStoredPrices()
    {
        QFETCH(QStringList, prices);
        QFETCH(int, kind);
        QFETCH(QStringList, labels);
        QFETCH(QStringList, shown);
        WindowHarness h(withPrices(prices));
        OptionsWindow& options = open(h);
        QCOMPARE(control<QComboBox>(options, "Ctariff")->currentIndex(), kind);
        QCOMPARE(shownPriceLabels(options), labels);
        QCOMPARE(shownPrices(options), inItalian(shown));
    }

    void changingTheKindWritesAtOnce_data()
    {
        QTest::addColumn<QStringList>("prices"); // F1, F2, F3 as stored
        QTest::addColumn<QString>("typed");      // into the first field, not left
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("saved");

        QTest::newRow("three bands to two") << QStringList{"0.3", "0.2", "0.1"} << QString() << 1
                                            << QStringList{"0.3", "0.2", "0.2"};
        QTest::newRow("three bands to single") << QStringList{"0.3", "0.2", "0.1"} << QString() << 0
                                               << QStringList{"0.3", "0.3", "0.3"};
        QTest::newRow("two bands to single") << QStringList{"0.3", "0.1", "0.1"} << QString() << 0
                                             << QStringList{"0.3", "0.3", "0.3"};
        QTest::newRow("two bands to three") << QStringList{"0.3", "0.1", "0.1"} << QString() << 2
                                            << QStringList{"0.3", "0.1", "0.1"};
        QTest::newRow("single to two bands") << QStringList{"0.3", "0.3", "0.3"} << QString() << 1
                                             << QStringList{"0.3", "0.3", "0.3"};
        // What was typed counts in the kind it was typed in.
        QTest::newRow("single price typed, then three bands")
            << QStringList{"0.3", "0.3", "0.3"} << "0,4" << 2 << QStringList{"0.4", "0.4", "0.4"};
        QTest::newRow("F1 typed, then single")
            << QStringList{"0.3", "0.2", "0.1"} << "0.5" << 0 << QStringList{"0.5", "0.5", "0.5"};
    }

    void changingTheKindWritesAtOnce()
    {
        QFETCH(QStringList, prices);
        QFETCH(QString, typed);
        QFETCH(int, kind);
        QFETCH(QStringList, saved);
        WindowHarness h(withPrices(prices));
        OptionsWindow& options = open(h);
        if (!typed.isEmpty()) {
            auto* first = control<QLineEdit>(options, "Tprice1");
            first->setFocus(Qt::TabFocusReason);
            first->selectAll();
            QTest::keyClicks(first, typed);
        }
        control<QComboBox>(options, "Ctariff")->setCurrentIndex(kind);
        QCOMPARE(storedPrices(h), saved);
        QCOMPARE(shownPrices(options), inItalian(saved.first(kind + 1)));
        QCOMPARE(h.settings.price(Setting::PriceF3), saved.at(2).toDouble());
    }

    void currencyIsStored_data()
    {
        QTest::addColumn<QString>("before"); // as stored; none when null
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");

        QTest::newRow("emptied") << "USD"
                                 << ""
                                 << "";
        QTest::newRow("a symbol") << QString() << "$"
                                  << "$";
        QTest::newRow("blanks around") << QString() << " CHF "
                                       << "CHF";
    }

    void currencyIsStored()
    {
        QFETCH(QString, before);
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QHash<QString, QString> stored;
        if (!before.isNull())
            stored.insert(QStringLiteral("Tariff/Currency"), before);
        WindowHarness h(stored);
        OptionsWindow& options = open(h);
        auto* currency = control<QLineEdit>(options, "Tcurrency");
        QCOMPARE(currency->text(), before);
        // An empty field stands for the locale's currency.
        QCOMPARE(currency->placeholderText(), Settings::localeCurrency());
        typeAndLeave(options, "Tcurrency", typed);
        QCOMPARE(TestOptionsWindow::stored(h, key::kTariff, key::kCurrency), saved);
        QCOMPARE(currency->text(), saved);
        QCOMPARE(h.settings.currency(), saved.isEmpty() ? Settings::localeCurrency() : saved);
    }

    void closingAppliesTheTariffFieldWithTheFocus_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("saved");

        QTest::newRow("price") << "Tprice1"
                               << "0,22"
                               << "PriceF3"
                               << "0.22";
        QTest::newRow("currency") << "Tcurrency"
                                  << " kr "
                                  << "Currency"
                                  << "kr";
    }

    void closingAppliesTheTariffFieldWithTheFocus()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        QFETCH(QString, saved);
        WindowHarness h;
        OptionsWindow& options = open(h);
        auto* edit = control<QLineEdit>(options, field);
        edit->setFocus(Qt::TabFocusReason);
        edit->setText(typed);
        options.close();
        QCOMPARE(stored(h, key::kTariff, key), saved);
    }

    void tariffGroupInEachLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<QString>("singlePrice");
        QTest::addColumn<QString>("currency");

        QTest::newRow("Italian") << "ita"
                                 << "Tariffa"
                                 << QStringList{"Prezzo unico", "Due fasce (F1, F23)",
                                                "Tre fasce (F1, F2, F3)"}
                                 << "Prezzo per kWh"
                                 << "Valuta";
        QTest::newRow("English") << "eng"
                                 << "Tariff"
                                 << QStringList{"Single price", "Two bands (F1, F23)",
                                                "Three bands (F1, F2, F3)"}
                                 << "Price per kWh"
                                 << "Currency";
    }

    void tariffGroupInEachLanguage()
    {
        QFETCH(QString, code);
        QFETCH(QString, title);
        QFETCH(QStringList, kinds);
        QFETCH(QString, singlePrice);
        QFETCH(QString, currency);
        WindowHarness h({{"Option/Language", code}});
        OptionsWindow& options = open(h);
        auto* list = control<QComboBox>(options, "Ctariff");
        QCOMPARE(control<QLabel>(options, "Lbc_3")->text(), title);
        QStringList entries;
        for (int i = 0; i < list->count(); ++i)
            entries << list->itemText(i);
        QCOMPARE(entries, kinds);
        QCOMPARE(shownPriceLabels(options), QStringList{singlePrice});
        QCOMPARE(control<QLabel>(options, "Lbcurrency")->text(), currency);
    }

    // Every kind in every language: the group's controls show their whole text, lie within the
    // group's frame apart from each other, and the group within the window apart from the rest.
    void tariffGroupFits_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("kind");
        for (const char* code : {"ita", "eng"}) {
            for (int kind = 0; kind < 3; ++kind)
                QTest::addRow("%s, kind %d", code, kind) << QString::fromLatin1(code) << kind;
        }
    }

    void tariffGroupFits()
    {
        QFETCH(QString, code);
        QFETCH(int, kind);
        WindowHarness h({{"Option/Language", code}});
        OptionsWindow& options = open(h);
        auto* group = control<QWidget>(options, "Ftariff");
        control<QComboBox>(options, "Ctariff")->setCurrentIndex(kind);

        QVERIFY(options.rect().contains(group->geometry()));
        for (QWidget* other : options.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other != group && other->isVisible())
                QVERIFY2(!other->geometry().intersects(group->geometry()),
                         qPrintable(other->objectName()));
        }
        const QList<QWidget*> inside = group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* control : inside) {
            if (!control->isVisible())
                continue;
            const QString name = control->objectName();
            QVERIFY2(group->contentsRect().contains(control->geometry()), qPrintable(name));
            if (auto* label = qobject_cast<QLabel*>(control))
                QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                         qPrintable(name));
            if (auto* list = qobject_cast<QComboBox*>(control))
                QVERIFY2(list->sizeHint().width() <= list->width(), qPrintable(name));
            for (QWidget* other : inside) {
                if (other != control && other->isVisible())
                    QVERIFY2(!control->geometry().intersects(other->geometry()),
                             qPrintable(name + u' ' + other->objectName()));
            }
        }
    }

    void controlsStoreTheirText_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("choice"); // list entry, or -1 for a click
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");

        QTest::newRow("line power 9000 W") << "Cpot" << 4 << "Watt"
                                           << "line"
                                           << "4";
        QTest::newRow("line power 1500 W") << "Cpot" << 0 << "Watt"
                                           << "line"
                                           << "0";
        QTest::newRow("refresh 1 H.") << "Cagg" << 5 << "Timer"
                                      << "Agg"
                                      << "3600";
        QTest::newRow("refresh 10 Sec.") << "Cagg" << 0 << "Timer"
                                         << "Agg"
                                         << "10";
        QTest::newRow("ST ModBus") << "Cinterf" << 1 << "Option"
                                   << "Interface"
                                   << "1";
        QTest::newRow("automatic start") << "CstAut" << -1 << "Start"
                                         << "Auto"
                                         << "1";
        QTest::newRow("start minimized") << "CStmin" << -1 << "Option"
                                         << "Minimized"
                                         << "1";
        QTest::newRow("start recording") << "CStRec" << -1 << "Start"
                                         << "RecAuto"
                                         << "1";
        QTest::newRow("lost frames off") << "ChLost" << -1 << "Frame"
                                         << "Lost"
                                         << "0";
        QTest::newRow("English") << "ImEN" << -1 << "Option"
                                 << "Language"
                                 << "eng";
        QTest::newRow("MQTT over TLS") << "Cmqtttls" << -1 << "Mqtt"
                                       << "Tls"
                                       << "1";
        QTest::newRow("no Home Assistant discovery") << "Cmqttdisc" << -1 << "Mqtt"
                                                     << "Discovery"
                                                     << "0";
        QTest::newRow("load commands from MQTT") << "Cmqttcmd" << -1 << "Mqtt"
                                                 << "AllowCommands"
                                                 << "1";
    }

    void controlsStoreTheirText()
    {
        QFETCH(QString, control);
        QFETCH(int, choice);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, text);
        WindowHarness h;
        OptionsWindow& options = open(h);
        if (choice >= 0)
            TestOptionsWindow::control<QComboBox>(options, control)->setCurrentIndex(choice);
        else
            click(TestOptionsWindow::control(options, control));
        QCOMPARE(stored(h, section, key), text);
        // What is stored is what the next start reads.
        options.close();
        SettingsStore reopened(h.store.fileName());
        const Settings restarted(reopened);
        const Settings& running = h.settings;
        for (const Setting setting :
             {Setting::LinePowerIndex, Setting::RefreshSeconds, Setting::StInterface,
              Setting::LostFrameSwitch, Setting::LanguageCode, Setting::StartAutomatic,
              Setting::StartMinimized, Setting::StartRecording, Setting::MqttTls,
              Setting::MqttDiscovery, Setting::MqttAllowCommands})
            QCOMPARE(restarted.value(setting), running.value(setting));
    }

    void mqttFieldsStoreTheirText_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text"); // stored
        QTest::addColumn<QString>("shown");

        QTest::newRow("broker") << "Tmqtthost"
                                << " broker.lan "
                                << "Host"
                                << "broker.lan"
                                << "broker.lan";
        QTest::newRow("port") << "Tmqttport"
                              << "08883"
                              << "Port"
                              << "8883"
                              << "8883";
        QTest::newRow("port out of range") << "Tmqttport"
                                           << "70000"
                                           << "Port"
                                           << "<none>"
                                           << "1883";
        QTest::newRow("user") << "Tmqttuser"
                              << "homeassistant"
                              << "User"
                              << "homeassistant"
                              << "homeassistant";
        QTest::newRow("topic") << "Tmqtttopic"
                               << "home/power"
                               << "Topic"
                               << "home/power"
                               << "home/power";
        QTest::newRow("topic with a wildcard") << "Tmqtttopic"
                                               << "home/#"
                                               << "Topic"
                                               << "<none>"
                                               << "powerlog";
        QTest::newRow("CA file") << "Tmqttca"
                                 << "/etc/ssl/ha-ca.pem"
                                 << "CaFile"
                                 << "/etc/ssl/ha-ca.pem"
                                 << "/etc/ssl/ha-ca.pem";
    }

    void mqttFieldsStoreTheirText()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        WindowHarness h({{"Mqtt/Tls", "1"}});
        OptionsWindow& options = open(h);
        typeAndLeave(options, field, typed);
        QTEST(stored(h, key::kMqtt, key), "text");
        QTEST(control<QLineEdit>(options, field)->text(), "shown");
    }

    // Stored scrambled as the gateway's password is.
    void mqttPasswordIsStoredScrambled()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        typeAndLeave(options, "Tmqttpwd", "Broker!pw");
        QCOMPARE(control<QLineEdit>(options, "Tmqttpwd")->echoMode(), QLineEdit::Password);
        const QString scrambled = stored(h, key::kMqtt, key::kPassword);
        QCOMPARE(scrambled.size(), 1 + 3 * 9);
        QCOMPARE(unscramblePassword(scrambled), QStringLiteral("Broker!pw"));
        QCOMPARE(h.settings.text(Setting::MqttPassword), QStringLiteral("Broker!pw"));
    }

    // The CA file counts only with TLS: its field is open only then.
    void mqttCaFileFollowsTls()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        auto* caFile = control<QLineEdit>(options, "Tmqttca");
        QVERIFY(!caFile->isEnabled());
        click(control(options, "Cmqtttls"));
        QVERIFY(caFile->isEnabled());
        QVERIFY(h.settings.isOn(Setting::MqttTls));
    }

    void mqttGroupInEachLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("broker");
        QTest::addColumn<QString>("commands");
        QTest::newRow("Italian") << "ita"
                                 << "Broker"
                                 << "Accetta comandi per i carichi";
        QTest::newRow("English") << "eng"
                                 << "Broker"
                                 << "Accept load commands";
    }

    // In each language the group's texts show whole, within the group, the group within the
    // window and apart from the other controls.
    void mqttGroupInEachLanguage()
    {
        QFETCH(QString, code);
        WindowHarness h({{"Option/Language", code}});
        OptionsWindow& options = open(h);
        QCOMPARE(control<QLabel>(options, "Lbmqtt")->text(),
                 QStringLiteral("Home Assistant (MQTT)"));
        QTEST(control<QLabel>(options, "Lbmqtthost")->text(), "broker");
        QTEST(control<QCheckBox>(options, "Cmqttcmd")->text(), "commands");

        auto* group = control<QWidget>(options, "Fmqtt");
        QVERIFY(options.rect().contains(group->geometry()));
        for (QWidget* other : options.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other != group && other->isVisible() && other->isWidgetType() && !other->isWindow())
                QVERIFY2(!other->geometry().intersects(group->geometry()),
                         qPrintable(other->objectName()));
        }
        const QList<QWidget*> inside = group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* control : inside) {
            const QString name = control->objectName();
            QVERIFY2(group->rect().contains(control->geometry()), qPrintable(name));
            if (auto* label = qobject_cast<QLabel*>(control))
                QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                         qPrintable(name));
            if (auto* box = qobject_cast<QCheckBox*>(control))
                QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(name));
            for (QWidget* other : inside) {
                if (other != control)
                    QVERIFY2(!control->geometry().intersects(other->geometry()),
                             qPrintable(name + u' ' + other->objectName()));
            }
        }
    }

    void changesReachTheRunningProgram()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        control<QComboBox>(options, "Cpot")->setCurrentIndex(4);
        QCOMPARE(h.control<QLabel>("Lbt_7")->text(), QStringLiteral("9000W"));
        control<QComboBox>(options, "Cagg")->setCurrentIndex(5);
        QCOMPARE(h.poller.refreshSeconds(), 3600);
        QCOMPARE(h.settings.number(Setting::RefreshSeconds), 3600);
        click(control(options, "ChLost"));
        QCOMPARE(h.settings.isOn(Setting::LostFrameSwitch), false);
    }

    void listsTakeNoTypedCharacters()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        auto* refresh = control<QComboBox>(options, "Cagg");
        refresh->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(refresh, QStringLiteral("13"));
        QCOMPARE(refresh->currentText(), QStringLiteral("30 Sec."));
        QCOMPARE(stored(h, key::kTimer, key::kRefresh), QStringLiteral("<none>"));
    }

    void languageSwitchReachesEveryOpenWindow()
    {
        WindowHarness h({{"Start/Auto", "1"}});
        MainWindow& main = h.load();
        main.show();
        h.click("Igraf");
        QCOMPARE(main.chartsWindow()->windowTitle(), QStringLiteral("Grafico"));
        h.click("ImTool");
        OptionsWindow& options = *main.optionsWindow();
        QCOMPARE(main.panelText(2), QStringLiteral("Automatico"));

        click(control(options, "ImEN"));
        QCOMPARE(options.windowTitle(), QStringLiteral("Options"));
        QCOMPARE(control<QLabel>(options, "Lbc_0")->text(), QStringLiteral("Connection options"));
        QCOMPARE(control<QPushButton>(options, "Cexport")->text(), QStringLiteral("Export DB"));
        QVERIFY(control<QToolButton>(options, "ImIT")->isEnabled());
        QVERIFY(!control<QToolButton>(options, "ImEN")->isEnabled());
        QCOMPARE(main.panelText(2), QStringLiteral("Automatic"));
        QCOMPARE(h.control("ImTool")->toolTip(), QStringLiteral("Options"));
        QCOMPARE(h.control<QLabel>("Lbt_0")->text(), QStringLiteral("Tension"));
        QCOMPARE(main.chartsWindow()->windowTitle(), QStringLiteral("Chart"));
        QCOMPARE(stored(h, key::kOption, key::kLanguage), QStringLiteral("eng"));

        click(control(options, "ImIT"));
        QCOMPARE(main.panelText(2), QStringLiteral("Automatico"));
        QCOMPARE(control<QLabel>(options, "Lb_2")->text(), QStringLiteral("Indirizzo IP WS"));
    }

    // The language may change elsewhere than at the flags: the open window follows.
    void languageSetElsewhereRelabelsTheWindow()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        QVERIFY(h.settings.set(Setting::LanguageCode, QStringLiteral("eng")));
        QCOMPARE(options.windowTitle(), QStringLiteral("Options"));
        QCOMPARE(control<QLabel>(options, "Lb_0")->text(), QStringLiteral("Line power"));
        QCOMPARE(control<QLabel>(options, "Lbc_3")->text(), QStringLiteral("Tariff"));
        QCOMPARE(control<QLabel>(options, "Lbprice1")->text(), QStringLiteral("Price per kWh"));
        QVERIFY(control<QToolButton>(options, "ImIT")->isEnabled());
        QVERIFY(!control<QToolButton>(options, "ImEN")->isEnabled());
        QCOMPARE(h.control("ImTool")->toolTip(), QStringLiteral("Options"));
    }

    void interfaceChangeClosesTheCommandSession()
    {
        WindowHarness h;
        MainWindow& main = h.load();
        main.show();
        h.click("ImReload");
        QTRY_COMPARE_WITH_TIMEOUT(h.simulator.openCommandSessions(), 1, 10000);
        QVERIFY(h.command.isConnected());

        h.click("ImTool");
        OptionsWindow& options = *main.optionsWindow();
        auto* interfaces = control<QComboBox>(options, "Cinterf");
        interfaces->setCurrentIndex(1);
        QVERIFY(!h.command.isConnected());
        QTRY_COMPARE_WITH_TIMEOUT(h.simulator.openCommandSessions(), 0, 10000);
        QVERIFY(h.settings.isOn(Setting::StInterface));
        QCOMPARE(stored(h, key::kOption, key::kInterface), QStringLiteral("1"));
        for (const char* name : {"Cagg", "ChLost", "CstAut"})
            QVERIFY2(!control(options, name)->isEnabled(), name);

        // Choosing it again does nothing.
        QVERIFY(h.store.setValue(key::kOption, key::kInterface, QStringLiteral("x")));
        interfaces->setCurrentIndex(1);
        QCOMPARE(stored(h, key::kOption, key::kInterface), QStringLiteral("x"));

        // Once the window closes the program works with the ST interface: the keep-alive opens
        // the command connection as an event session.
        const int eventSessions = h.simulator.openEventSessions();
        options.close();
        QCOMPARE(main.panelText(2), QStringLiteral("ST Interface"));
        QVERIFY(!h.station.isAutomatic());
        QVERIFY(h.station.findChild<QTimer*>(QStringLiteral("Tst"))->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(h.simulator.openEventSessions(), eventSessions + 1, 15000);
    }

    void clearAndCompactWaitWhileRecording()
    {
        WindowHarness h({{"Start/RecAuto", "1"}});
        OptionsWindow& options = open(h);
        QVERIFY(h.station.isRecording());
        QVERIFY(!control(options, "CclearDB")->isEnabled());
        QVERIFY(!control(options, "CcompDB")->isEnabled());
        QVERIFY(control(options, "Cexport")->isEnabled());
        h.click("ImStop");
        QVERIFY(control(options, "CclearDB")->isEnabled());
        QVERIFY(control(options, "CcompDB")->isEnabled());
    }

    void clearingAsksInTheWindowsLanguage()
    {
        WindowHarness h({{"Option/Language", "eng"}});
        OptionsWindow& options = open(h);
        SqlFile(h.dir.filePath(EnergyDatabase::kFileName))
            .exec(QStringLiteral(
                "INSERT INTO Energy VALUES (230, 1, 100, 5, '2026-12-05 10:00:00')"));
        h.prompts.answers << true << true;
        QTest::mouseClick(control(options, "CclearDB"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(h.prompts.texts().size(), 3, 20000);
        QCOMPARE(h.prompts.texts(),
                 QStringList({"Clear all data in the database ?",
                              "Table cleared.\r\nDo you want compact the database ?",
                              "Database has been compacted"}));
        QCOMPARE(h.rows(), 0);
    }

    void failedSaveIsToldOnce()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        // The settings file can no longer be written: its place is taken by a folder.
        QVERIFY(QFile::remove(h.store.fileName()));
        QVERIFY(QDir().mkdir(h.store.fileName()));
        control<QComboBox>(options, "Cpot")->setCurrentIndex(4);
        control<QComboBox>(options, "Cagg")->setCurrentIndex(0);
        QCOMPARE(h.prompts.shown.size(), 1);
        QCOMPARE(h.prompts.shown.first().icon, Prompts::Icon::Exclamation);
        QVERIFY(h.prompts.shown.first().text.startsWith(
            QStringLiteral("Impossibile salvare le impostazioni in ")));
        QVERIFY(
            h.prompts.shown.first().text.contains(QDir::toNativeSeparators(h.store.fileName())));
        // The change is in effect for this run all the same.
        QCOMPARE(h.settings.number(Setting::RefreshSeconds), 10);
        QCOMPARE(h.poller.refreshSeconds(), 10);
        QCOMPARE(h.control<QLabel>("Lbt_7")->text(), QStringLiteral("9000W"));
    }

    void exportButtonOpensTheExportWindowModally()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        QTest::mouseClick(control(options, "Cexport"), Qt::LeftButton);
        ExportWindow* exporter = options.exportWindow();
        QVERIFY(exporter && exporter->isVisible());
        QCOMPARE(exporter->windowModality(), Qt::ApplicationModal);
        QCOMPARE(exporter->windowTitle(), QStringLiteral("Esporta"));
        // Closing the main window closes both.
        h.window->close();
        QTRY_VERIFY(!h.window->optionsWindow());
    }

    // The export window costs the hourly energy at the prices of the settings.
    void exportWindowCostsAtTheStoredPrices()
    {
        WindowHarness h({{QStringLiteral("Tariff/PriceF2"), QStringLiteral("0.27")}});
        // Monday 7 December 2026, 19:00 to 19:05 at 2400 W: 0.200 kWh in band F2.
        QVERIFY(SqlFile(h.dir.filePath(EnergyDatabase::kFileName))
                    .exec(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES "
                                         "(230, 10.4, 2400, 1, '2026-12-07 19:00:00'), "
                                         "(230, 0, 0, 2, '2026-12-07 19:05:00')")));
        OptionsWindow& options = open(h);
        QTest::mouseClick(control(options, "Cexport"), Qt::LeftButton);
        ExportWindow* exporter = options.exportWindow();
        QVERIFY(exporter);
        exporter->findChild<QComboBox*>(QStringLiteral("Ckind"))->setCurrentIndex(1);
        exporter->findChild<QRadioButton*>(QStringLiteral("Opcsv_1"))->click();
        QSignalSpy finished(exporter, &ExportWindow::exportFinished);
        const QString path = h.dir.filePath(QStringLiteral("hours.csv"));
        h.files.answers.enqueue(path);
        QTest::mouseClick(exporter->findChild<QPushButton*>(QStringLiteral("Cexport")),
                          Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        const QList<QByteArray> lines = fileBytes(path).split('\n');
        QCOMPARE(lines.size(), 3);
        const QByteArray cost = QLocale().toString(0.054, 'f', 2).toUtf8();
        QVERIFY2(lines.at(1).startsWith("2026-12-07 19:00;") &&
                     lines.at(1).endsWith(";" + cost + "\r"),
                 lines.at(1).constData());
    }

    void meterAddressIsStoredOrPutBack_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved"); // as stored; <none> when nothing is

        QTest::newRow("another meter") << "5255"
                                       << "5255";
        QTest::newRow("the one in force") << "51"
                                          << "<none>";
        QTest::newRow("no meter number") << "50"
                                         << "<none>";
        QTest::newRow("past 255") << "5256"
                                  << "<none>";
        QTest::newRow("another kind of address") << "71"
                                                 << "<none>";
        QTest::newRow("empty") << ""
                               << "<none>";
    }

    // An address is kept when it is a meter's; anything else goes back to the one in force.
    void meterAddressIsStoredOrPutBack()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        WindowHarness h;
        OptionsWindow& options = open(h);
        auto* where = control<QComboBox>(options, "Cwhere");
        QCOMPARE(where->currentText(), QStringLiteral("51"));
        where->lineEdit()->setFocus(Qt::TabFocusReason);
        where->lineEdit()->selectAll();
        QTest::keyClick(where->lineEdit(), Qt::Key_Delete);
        QTest::keyClicks(where->lineEdit(), typed);
        control(options, QStringLiteral("Cinterf"))->setFocus(Qt::TabFocusReason);
        QCOMPARE(stored(h, QStringLiteral("Meter"), QStringLiteral("Where")), saved);
        QCOMPARE(where->currentText(), saved == QLatin1String("<none>") ? "51" : saved);
    }

    // The source applies at once: the station reads the meter, and back.
    void sourceListAppliesAtOnce()
    {
        WindowHarness h;
        OptionsWindow& options = open(h);
        auto* source = control<QComboBox>(options, "Csource");
        QCOMPARE(source->currentIndex(), 0);
        QCOMPARE(source->itemText(1), QStringLiteral("Misuratore di energia (WHO 18)"));
        source->setCurrentIndex(1);
        QCOMPARE(stored(h, QStringLiteral("Meter"), QStringLiteral("Source")), "meter");
        QVERIFY(h.station.meterFeed());
        source->setCurrentIndex(0);
        QCOMPARE(stored(h, QStringLiteral("Meter"), QStringLiteral("Source")), "central");
        QVERIFY(!h.station.meterFeed());
    }

    // The search lists the meters that answer, in the window's language, and one chosen from
    // the list becomes the address.
    void findMetersListsThoseThatAnswer()
    {
        WindowHarness h({{"Option/Language", "eng"}});
        sim::Options gateway = h.simulator.options();
        gateway.meters = {3, 1};
        gateway.who3 = false;
        h.simulator.setOptions(gateway);
        h.station.meterFinder().setIntervalMs(1);
        h.station.meterFinder().setLastAnswerWaitMs(300);
        OptionsWindow& options = open(h);
        auto* find = control<QPushButton>(options, "Cfind");
        auto* status = control<QLabel>(options, "Lfind");
        QCOMPARE(find->text(), QStringLiteral("Find meters"));
        QVERIFY(status->text().isEmpty());

        QSignalSpy finished(&h.station.meterFinder(), &MeterFinder::finished);
        find->click();
        QVERIFY(!find->isEnabled());
        QVERIFY(status->text().startsWith(QStringLiteral("Searching: ")));
        QVERIFY(finished.wait(30000));
        QVERIFY(find->isEnabled());
        static const QRegularExpression found(
            QStringLiteral("^Found: 51 \\(\\d+ W\\), 53 \\(\\d+ W\\)$"));
        QVERIFY2(found.match(status->text()).hasMatch(), qPrintable(status->text()));

        auto* where = control<QComboBox>(options, "Cwhere");
        QCOMPARE(where->count(), 2);
        QCOMPARE(where->itemText(1), QStringLiteral("53"));
        where->setCurrentIndex(1);
        emit where->activated(1);
        QCOMPARE(stored(h, QStringLiteral("Meter"), QStringLiteral("Where")), "53");
    }

    void findMetersSaysWhenNoneAnswers()
    {
        WindowHarness h;
        h.station.meterFinder().setIntervalMs(1);
        h.station.meterFinder().setLastAnswerWaitMs(300);
        OptionsWindow& options = open(h);
        QSignalSpy finished(&h.station.meterFinder(), &MeterFinder::finished);
        control<QPushButton>(options, "Cfind")->click();
        QVERIFY(finished.wait(30000));
        QCOMPARE(control<QLabel>(options, "Lfind")->text(),
                 QStringLiteral("Nessun misuratore ha risposto"));
        QCOMPARE(control<QComboBox>(options, "Cwhere")->count(), 0);
        QCOMPARE(control<QComboBox>(options, "Cwhere")->currentText(), QStringLiteral("51"));
    }
};

QTEST_MAIN(TestOptionsWindow)
#include "test_optionswindow.moc"
