#pragma once

// A main window wired to recorders, a temporary program folder and settings store, and a
// simulated gateway on 127.0.0.1 with short time limits.

#include "acquisition/databasereader.h"
#include "acquisition/databasewriter.h"
#include "acquisition/loadstate.h"
#include "acquisition/meter.h"
#include "acquisition/poller.h"
#include "app/config.h"
#include "app/language.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "gateway/commandsession.h"
#include "gateway/monitorsession.h"
#include "simulator/gatewaysimulator.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "support/timings.h"
#include "support/writersettle.h"
#include "ui/main/frmmain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace powerlog::test {

struct WindowHarness
{
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath(QStringLiteral("settings.ini"))};
    Texts texts;
    RecordingPrompts prompts;
    RecordingDesktop desktop;
    RecordingTray tray;
    FixedClock clock;
    sim::GatewaySimulator simulator;
    CommandSession command{fastTimings()};
    MonitorSession monitor{command, fastTimings()};
    DatabaseWriter database{dir.path()};
    DatabaseReader reader{dir.path()};
    RecordingFileDialogs files;
    Meter meter{database, clock};
    Poller poller{command, monitor};
    LoadStates loads;
    // The settings in force, read from `settings` once the harness has stored its own.
    std::unique_ptr<Settings> current;
    std::unique_ptr<FrmMain> window;
    QUrl updateUrl; // none: no update check

    // Settings as "Section/Key" = value; the gateway is always this harness's simulator.
    explicit WindowHarness(const QHash<QString, QString>& stored = {}, bool withDatabase = true)
    {
        simulator.listen(0);
        settings.setValue(key::kOption, key::kServerIp, QStringLiteral("127.0.0.1"));
        settings.setValue(key::kOption, key::kServerPort, QString::number(simulator.port()));
        for (auto it = stored.begin(); it != stored.end(); ++it) {
            const QStringList parts = it.key().split(QLatin1Char('/'));
            settings.setValue(parts.at(0), parts.at(1), it.value());
        }
        current = std::make_unique<Settings>(settings);
        if (withDatabase)
            EnergyDatabase::createEmpty(dir.filePath(EnergyDatabase::kFileName));
    }

    ~WindowHarness()
    {
        if (window)
            window->Form_Unload();
    }

    void writeLoadIni(const QByteArray& content)
    {
        QFile file(dir.filePath(QStringLiteral("load.ini")));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(content);
    }

    FrmMain& load()
    {
        window = std::make_unique<FrmMain>(MainWindowServices{*current,
                                                              texts,
                                                              prompts,
                                                              desktop,
                                                              tray,
                                                              command,
                                                              monitor,
                                                              database,
                                                              meter,
                                                              poller,
                                                              loads,
                                                              dir.path(),
                                                              nullptr,
                                                              {},
                                                              &reader,
                                                              &files,
                                                              updateUrl});
        window->Form_Load();
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
};

} // namespace powerlog::test
