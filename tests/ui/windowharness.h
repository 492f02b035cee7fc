#pragma once

// The program's station with its main window and tray presenter, built as the program builds
// them, over recorders, a temporary program folder and settings file, and a simulated gateway
// on 127.0.0.1 with short time limits.

#include "acquisition/energydatabase.h"
#include "app/config.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "app/version.h"
#include "controller/station.h"
#include "simulator/gatewaysimulator.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "support/storedsettings.h"
#include "support/timings.h"
#include "support/writersettle.h"
#include "ui/main/mainwindow.h"
#include "ui/main/traypresenter.h"

#include <QAbstractButton>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace powerlog::test {

struct WindowHarness
{
    QTemporaryDir dir;
    sim::GatewaySimulator simulator;
    SettingsStore store{dir.filePath(QStringLiteral("settings.ini"))};
    bool storeWritten;
    Settings settings{store};
    Texts texts;
    RecordingPrompts prompts;
    RecordingDesktop desktop;
    RecordingTray tray;
    RecordingFileDialogs files;
    FixedClock clock;
    Station station;
    CommandSession& command = station.commandSession();
    MonitorSession& monitor = station.monitorSession();
    DatabaseWriter& database = station.database();
    DatabaseReader& reader = station.reader();
    Meter& meter = station.meter();
    Poller& poller = station.poller();
    LoadStates& loads = station.loads();
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<TrayPresenter> presenter;
    QUrl updateUrl; // none: no update check
    int updateDelayMs = 1000;

    // Settings as "Section/Key" = value; the gateway is always this harness's simulator.
    explicit WindowHarness(const QHash<QString, QString>& stored = {}, bool withDatabase = true,
                           RunOverrides overrides = {})
        : storeWritten(writeStore(stored)),
          station(settings, clock, stationOptions(std::move(overrides)))
    {
        if (withDatabase)
            EnergyDatabase::createEmpty(dir.filePath(EnergyDatabase::kFileName));
    }

    ~WindowHarness()
    {
        if (window)
            station.shutdown();
    }

    StationOptions stationOptions(RunOverrides overrides) const
    {
        StationOptions options;
        options.programFolder = dir.path();
        options.timings = fastTimings();
        options.retryFirstMs = 50;
        options.retryLimitMs = 200;
        options.todayEnergyIntervalMs = 20;
        options.overrides = std::move(overrides);
        return options;
    }

    void writeLoadIni(const QByteArray& content)
    {
        QFile file(dir.filePath(QStringLiteral("load.ini")));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(content);
    }

    // Builds the window and the tray presenter and starts the station, as the program does.
    MainWindow& load()
    {
        window = std::make_unique<MainWindow>(
            MainWindowServices{station, texts, prompts, desktop, tray, &files});
        presenter = std::make_unique<TrayPresenter>(TrayPresenterServices{
            station, texts, tray, desktop, prompts, updateUrl, updateDelayMs});
        connectTrayToWindow(*presenter, *window);
        presenter->start();
        station.start();
        if (!MainWindow::startsHidden(settings.isOn(Setting::StartMinimized), tray.isAvailable()))
            window->show();
        return *window;
    }

    bool settle() { return powerlog::test::settle(database); }
    // Rows of the energy table, once the writer has settled.
    int rows()
    {
        settle();
        return SqlFile(dir.filePath(EnergyDatabase::kFileName)).rows();
    }

    // A frame as the command session hands it on.
    void receive(const QString& frame) { meter.takeFrame(frame); }

    template <typename T = QWidget> T* control(const QString& name) const
    {
        return window->findChild<T*>(name);
    }

    // Clicks a control of the window found by its object name: a button as its click does,
    // anything else with the mouse.
    void click(const QString& name) const
    {
        QWidget* target = control(name);
        QVERIFY2(target, qPrintable(name));
        if (auto* button = qobject_cast<QAbstractButton*>(target))
            button->click();
        else
            QTest::mouseClick(target, Qt::LeftButton);
    }

    // The user chooses menu entry `id` of the notification icon.
    void chooseTrayMenu(int id) { emit tray.menuChosen(id); }

private:
    bool writeStore(const QHash<QString, QString>& stored)
    {
        simulator.listen(0);
        writeStoredSettings(store, simulator.port(), stored);
        return true;
    }
};

} // namespace powerlog::test
