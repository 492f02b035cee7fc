#pragma once

#include "app/config.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>

class QToolButton;

namespace powerlog {

class ActivityLight;
class BarShape;
class Clock;
class CommandSession;
class Desktop;
class EnergyDatabase;
class LightShape;
class LiveGraphModel;
class LoadStateModel;
class ModeBox;
class MonitorSession;
class Poller;
class PowerGraphView;
class Prompts;
class SettingsStore;
class SingleInstance;
class StatusPanels;
class Tray;
struct SharedTexts;

// What this run changes without touching the stored settings (the demo uses it).
struct RunOverrides
{
    std::optional<QString> serverAddress;
    std::optional<quint16> serverPort;
    std::optional<QString> serverPassword;
    std::optional<int> refreshSeconds;
    bool startAutomatic = false;
};

// Everything the main window works with, built by the program's start-up code.
struct MainWindowServices
{
    SettingsStore& settings;
    SharedTexts& texts;
    Prompts& prompts;
    Desktop& desktop;
    Tray& tray;
    const Clock& clock;
    CommandSession& command;
    MonitorSession& monitor;
    EnergyDatabase& database;
    QString programFolder;
    SingleInstance* instance = nullptr; // no check when null
    RunOverrides overrides = {};
};

// The main window: readouts, live graph, load icons, buttons and the status bar. It shows the
// state the models hold and forwards clicks; polling, sessions, the database and the models do
// the work.
class FrmMain : public QWidget
{
    Q_OBJECT
public:
    explicit FrmMain(MainWindowServices services, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The window starts hidden only when asked to and when the notification area exists to
    // bring it back from; otherwise nobody could reach the running program.
    static bool startsHidden(const Config& config, bool trayAvailable)
    {
        return config.Minimized && trayAvailable;
    }

    // Start-up. False for a second instance: the window must not show, the program ends.
    bool Form_Load();
    // Shutdown in order; safe to call more than once.
    void Form_Unload();

    void SetLanguage(const QString& code);

    // Handlers of the window's controls.
    void ImRec_Click();
    void ImStop_Click();
    void ImReload_Click();
    void ImTool_Click();
    void Igraf_Click();
    void Idel_Click();
    void Lbt_Click(int index);
    void Lbt_MouseMove(int index);
    void Pmod_Click();
    void StBar_PanelClick(int panel);
    void Form_MouseMove();
    void Iload_Click(int index);

    // A complete frame from the command session that may be a measurement reply.
    void ParseMeasurement(const QString& frame);
    void TrayUpdate(qint16 power);

    // Automatic mode on and off, with the status bar, buttons and mode box.
    void startAutomaticMode();
    void stopAutomaticMode();

    // State the tests and the other windows read.
    const Config& config() const { return m_config; }
    Config& config() { return m_config; }
    bool Recording() const { return m_recording; }
    bool AutoMode() const;
    int TrayIconIndex() const { return m_trayIconIndex; }
    const QStringList& LoadNames() const { return m_loadNames; }
    QString VersionText() const { return versionString(); }
    static QString versionString();
    QString detailText() const { return m_detailText; }
    Poller& poller() { return *m_poller; }
    LoadStateModel& loadState() { return *m_loadState; }
    LiveGraphModel& liveGraph() { return *m_liveGraph; }
    QString panelText(int panel) const;
    bool isClosing() const { return m_closing; }

    // Opens the about window (modal from the "About" link).
    void showAbout(bool modal);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void wireModels();
    void wireSessions();
    void wireTray();
    void placeBottomRight();
    void setRecordingButtons(bool recording);
    void setTrayIcon(int index);
    void setPanel(int panel, const QString& text);
    void repaintModeBox();
    void setProgressTwips(int twips);
    void refreshLoadIcon(int index);
    void recordReading(qint16 power, double energy);
    void readLoadNames();
    void Tpop_Timer();
    void Tst_Timer();

    MainWindowServices m_services;
    Config m_config;
    bool m_closing = false;
    bool m_unloaded = false;
    bool m_shownOnce = false;
    bool m_recording = false;
    bool m_balloonShown = false;
    bool m_updateBalloonShown = false;
    int m_trayIconIndex = 0;
    QString m_detailText;
    QStringList m_loadNames;

    std::unique_ptr<Poller> m_poller;
    std::unique_ptr<LoadStateModel> m_loadState;
    std::unique_ptr<LiveGraphModel> m_liveGraph;
    std::unique_ptr<ActivityLight> m_light;

    std::array<QLabel*, 4> m_lb{};
    std::array<QLabel*, 11> m_lbt{};
    std::array<QLabel*, 8> m_iload{};
    QToolButton* m_imRec = nullptr;
    QToolButton* m_imStop = nullptr;
    QToolButton* m_imReload = nullptr;
    QToolButton* m_imTool = nullptr;
    QToolButton* m_igraf = nullptr;
    QToolButton* m_idel = nullptr;
    ModeBox* m_pmod = nullptr;
    StatusPanels* m_stBar = nullptr;
    BarShape* m_shbar = nullptr;
    PowerGraphView* m_pgraph = nullptr;
    QLabel* m_lload = nullptr;
    LightShape* m_shi = nullptr;
    QWidget* m_image1 = nullptr;
    QTimer m_tpop;
    QTimer m_tst;
    QTimer m_tupd;
    QPointer<QWidget> m_about;
};

} // namespace powerlog
