#pragma once

#include "acquisition/reading.h"
#include "controller/station.h"
#include "ui/common/clicktracker.h"

#include <QLabel>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <array>

class QToolButton;

namespace powerlog {

class ActivityLight;
class AboutWindow;
class BarShape;
class ChartsWindow;
class Desktop;
class FileDialogs;
class LightShape;
class LoadIcons;
class ModeBox;
class OptionsWindow;
class PowerGraphView;
class Prompts;
class StatusPanels;
class Texts;
class Tray;
struct DatabaseResult;

// Everything the main window works with, built by the program's entry.
struct MainWindowServices
{
    Station& station;
    Texts& texts;
    Prompts& prompts;
    Desktop& desktop;
    Tray& tray; // minimising hides the window only when the notification area exists
    // The charts and export windows save through these; without them they do not open.
    FileDialogs* files = nullptr;
};

// The main window: readouts, live graph, load icons, buttons and the status bar. It shows what
// the station reports and forwards the user's clicks to it; it decides nothing about the link,
// the mode or the recording.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window starts hidden only when asked to and when the notification area exists to
    // bring it back from; otherwise nobody could reach the running program.
    static bool startsHidden(bool minimized, bool trayAvailable)
    {
        return minimized && trayAvailable;
    }

    // Captions in the language of `code`; an unknown code keeps them but rewrites the panels.
    void setLanguage(const QString& code);
    QString panelText(int panel) const;
    LoadIcons& loadIcons() { return *m_loadIcons; }

    // Shows the window from the notification area or a second start, in front.
    void bringToFront();
    // The options window: modal from the options button, not modal from the tray menu.
    void showOptions(bool modal);
    // The about window: modal from the "About" link, not modal from the tray menu.
    void showAbout(bool modal);
    void showCharts();
    ChartsWindow* chartsWindow() const;
    OptionsWindow* optionsWindow() const;

signals:
    // The texts now speak `code`: the tray's menu and balloons follow.
    void languageChanged(const QString& code);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void startRecording();
    void stopRecording();
    void refreshNow();
    void openOptions();
    void clearLiveGraph();
    void toggleMode();
    void statusPanelClicked(int panel);
    void switchLoad(int index);
    void showReading(const powerlog::Reading& reading);
    void showMode(powerlog::WorkingMode mode);
    void showRecording(bool recording);
    void showRecordingElsewhere();
    void showLinkState(powerlog::LinkChannel channel, powerlog::LinkState state,
                       const QString& detail);
    void showStale(bool stale);
    void showNotice(powerlog::Notice notice);
    void showDatabaseProblem(const powerlog::DatabaseResult& result);
    void showProgress(int ticks, int ofTicks);
    void showLoadToolTips();
    void showLinePower();
    void settingChanged(powerlog::Setting setting);
    void flashActivityLight();
    void closeOtherWindows();

private:
    void buildControls();
    void buildReadouts();
    void buildButtons();
    void wireStation();
    void setPanel(int panel, const QString& text);
    void showStatistics();
    void refreshLoadIcon(int index);
    void highlightAboutLink(bool on);
    void endLoadHover();

    MainWindowServices m_services;
    Station& m_station;
    ClickTracker m_clicks;
    bool m_databaseBusy = false;
    QDateTime m_lastReadingTime;
    // While the window is hidden nobody sees its readouts and load pictures: the newest
    // reading (and the power-only readings after it) and the loads that changed wait for
    // the window to show.
    QList<Reading> m_heldReadings;
    QSet<int> m_heldLoadIcons;

    LoadIcons* m_loadIcons;
    ActivityLight* m_light;

    // Readouts of the last reading and their captions.
    std::array<QLabel*, 4> m_readouts{};        // tension, current, power, energy
    std::array<QLabel*, 4> m_readoutCaptions{}; // their captions
    QLabel* m_linePowerCaption = nullptr;
    QLabel* m_maxPowerCaption = nullptr;
    QLabel* m_averageCaption = nullptr;
    QLabel* m_linePowerValue = nullptr;
    QLabel* m_maxPowerValue = nullptr;
    QLabel* m_averageValue = nullptr;
    QLabel* m_aboutLink = nullptr;
    std::array<QLabel*, 8> m_loadIconLabels{};
    QToolButton* m_recordButton = nullptr;
    QToolButton* m_stopButton = nullptr;
    QToolButton* m_refreshButton = nullptr;
    QToolButton* m_optionsButton = nullptr;
    QToolButton* m_chartsButton = nullptr;
    QToolButton* m_clearButton = nullptr;
    ModeBox* m_modeBox = nullptr;
    StatusPanels* m_statusBar = nullptr;
    BarShape* m_progressBar = nullptr;
    PowerGraphView* m_powerGraph = nullptr;
    QLabel* m_loadBanner = nullptr;
    LightShape* m_activityShape = nullptr;
    QWidget* m_backdrop = nullptr;
    QPointer<AboutWindow> m_about;
    QPointer<ChartsWindow> m_charts;
    QPointer<OptionsWindow> m_options;
};

} // namespace powerlog
