#pragma once

#include "app/settings.h"
#include "app/tray.h"
#include "app/updatecheck.h"
#include "gateway/linkstate.h"
#include "ui/main/clicktracker.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <array>
#include <optional>

class QToolButton;

namespace powerlog {

class ActivityLight;
class BarShape;
class CommandSession;
class Desktop;
class DatabaseReader;
class ChartsWindow;
class DatabaseWriter;
class FileDialogs;
class LightShape;
class LiveGraphModel;
class LoadIcons;
class LoadStates;
class Meter;
class ModeBox;
class MonitorSession;
class OptionsWindow;
class Poller;
class PowerGraphView;
class Prompts;
class SingleInstance;
class StatusPanels;
class Texts;
class Tray;
struct DatabaseResult;
struct Reading;

// What this run changes without touching the stored settings (the demo uses it).
struct RunOverrides
{
    std::optional<QString> serverAddress;
    std::optional<quint16> serverPort;
    std::optional<QString> serverPassword;
    std::optional<int> refreshSeconds;
    std::optional<QStringList> loadNames;
    bool startAutomatic = false;
    bool startRecording = false;
};

// Everything the main window works with, built by the program's entry.
struct MainWindowServices
{
    Settings& settings;
    Texts& texts;
    Prompts& prompts;
    Desktop& desktop;
    Tray& tray;
    CommandSession& command;
    MonitorSession& monitor;
    DatabaseWriter& database;
    Meter& meter;
    Poller& poller;
    LoadStates& loads;
    QString programFolder;
    SingleInstance* instance = nullptr; // no check when null
    RunOverrides overrides = {};
    // The charts window reads through these; without them it does not open.
    DatabaseReader* reader = nullptr;
    FileDialogs* files = nullptr;
    // The version file the update check asks, once per run; empty: no check.
    QUrl updateUrl = {};
};

// The main window: readouts, live graph, load icons, buttons and the status bar. It shows what
// the meter, the poller, the sessions and the load states report, and forwards clicks.
class FrmMain : public QWidget
{
    Q_OBJECT
public:
    explicit FrmMain(MainWindowServices services, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The window starts hidden only when asked to and when the notification area exists to
    // bring it back from; otherwise nobody could reach the running program.
    static bool startsHidden(bool startMinimized, bool trayAvailable)
    {
        return startMinimized && trayAvailable;
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

    // Automatic mode on and off, with the status bar, buttons and mode box.
    void startAutomaticMode();
    void stopAutomaticMode();

    // State the tests and the other windows read.
    bool Recording() const;
    bool AutoMode() const;
    int TrayIconIndex() const { return m_trayIconIndex; }
    const QStringList& LoadNames() const { return m_loadNames; }
    QString VersionText() const { return versionString(); }
    static QString versionString();
    QString detailText() const { return m_detailText; }
    LoadIcons& loadIcons() { return *m_loadIcons; }
    QString panelText(int panel) const;
    bool isClosing() const { return m_closing; }

    // Opens the about window (modal from the "About" link).
    void showAbout(bool modal);

    // The notification-area menu: its entries for the present language, interface and update
    // state, and the action of each.
    QList<TrayMenuEntry> trayMenuEntries() const;
    void trayMenuChosen(int id);
    // Opens the user manual with the desktop, or says where it was looked for.
    void openHelp();
    bool UpdateAvailable() const { return m_updateAvailable; }
    // The charts window while it is open.
    ChartsWindow* chartsWindow() const;
    // Opens the options window: modal from the options button, not modal from the tray menu.
    void showOptions(bool modal);
    // The options window while it is open.
    OptionsWindow* optionsWindow() const;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void wireModels();
    void wireSessions();
    void wireTray();
    void placeBottomRight();
    void setRecording(bool recording);
    void showRecording(bool recording);
    void setTrayIcon(int index);
    void setPanel(int panel, const QString& text);
    void setProgressTwips(int twips);
    void refreshLoadIcon(int index);
    void readLoadNames();
    void showReading(const Reading& reading);
    void showStatistics();
    void TrayUpdate(const Reading& reading);
    void onLinkState(int channel, LinkState state, const QString& detail);
    void showDatabaseProblem(const DatabaseResult& result);
    void flashActivityLight();
    void Tpop_Timer();
    void Tst_Timer();
    void refreshTrayMenu();
    void Tupd_Timer();
    void onUpdateChecked(UpdateOutcome outcome, const UpdateInfo& info);
    void wireOptions(OptionsWindow& options);
    void settingChanged(Setting setting);
    void optionsClosed();

    MainWindowServices m_services;
    bool m_closing = false;
    bool m_unloaded = false;
    bool m_balloonShown = false;
    bool m_databaseBusy = false;
    bool m_updateBalloonShown = false;
    bool m_updateAvailable = false;
    bool m_passwordRefusalShown = false;
    QUrl m_downloadUrl;
    int m_trayIconIndex = 0;
    QString m_detailText;
    QStringList m_loadNames;

    LoadIcons* m_loadIcons;
    ActivityLight* m_light;
    QTimer* m_tpop;
    QTimer* m_tst;
    QTimer* m_tupd;
    UpdateChecker* m_updateChecker;
    ClickTracker m_clicks;

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
    QPointer<QWidget> m_about;
    QPointer<ChartsWindow> m_charts;
    QPointer<OptionsWindow> m_options;
};

} // namespace powerlog
