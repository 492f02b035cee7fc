#pragma once

#include "acquisition/reading.h"
#include "app/language.h"
#include "app/tray.h"
#include "app/updatecheck.h"
#include "controller/station.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <optional>

namespace powerlog {

class Desktop;
class Prompts;
class Texts;

// What the tray presenter works with.
struct TrayPresenterServices
{
    Station& station;
    Texts& texts;
    Tray& tray;
    Desktop& desktop;
    Prompts& prompts;
    // The version file the update check asks, once per run; empty: no check.
    QUrl updateUrl = {};
    // How long after start-up the update check runs.
    int updateDelayMs = 1000;
};

// The notification-area icon as the station's state shows it: its picture, its popup menu, the
// balloons (the first reading, the detail shown on a click, the gateway lost and found, the
// update announcement) and the manual. Window actions go out as signals.
class TrayPresenter : public QObject
{
    Q_OBJECT
public:
    static constexpr int kBalloonMs = 10000;

    // Menu entries by id, as the popup menu reports them.
    enum MenuId {
        MenuOpen = 1,
        MenuRefresh = 2,
        MenuOptions = 3,
        MenuAbout = 5,
        MenuHelp = 6,
        MenuExit = 7, // without an update
        MenuDownload = 8,
        MenuExitAfterUpdate = 10, // with the download entry and its separators before it
    };

    explicit TrayPresenter(TrayPresenterServices services, QObject* parent = nullptr);
    ~TrayPresenter() override;

    // Shows the icon and arms the update check.
    void start();

    // The menu's entries for the present language, interface and update state.
    QList<TrayMenuEntry> menuEntries() const;
    // The text of the balloon a click on the icon shows.
    QString detailText() const;
    // The icon's tooltip: the program's name and today's energy.
    QString tooltip() const;
    bool isUpdateAvailable() const { return m_update.has_value(); }
    // Opens the user manual with the desktop, or says why it could not.
    void openHelp();

public slots:
    // The texts changed language: the menu follows at once.
    void refreshMenu();
    // Today's energy, the prices or the language changed.
    void refreshTooltip();

signals:
    void openRequested();
    void optionsRequested();
    void aboutRequested();
    void exitRequested();
    // The once-a-run update check has its answer.
    void updateChecked(powerlog::UpdateOutcome outcome);

private slots:
    void menuChosen(int id);
    void showDetail();
    void balloonClicked();
    void openFromIcon();
    void showReading(const powerlog::Reading& reading);
    void showNotice(powerlog::Notice notice);
    void clearBalloon();
    void checkForUpdate();
    void announceUpdate(powerlog::UpdateOutcome outcome, const powerlog::UpdateInfo& info);
    void removeIcon();

private:
    enum class Balloon { None, Reading, Detail, Notice, Update };

    void showBalloon(const QString& text, Balloon kind);
    QString readingLines(const Reading& reading) const;
    QString caption(Text id) const;
    QString todayLine() const;

    TrayPresenterServices m_services;
    QTimer m_balloonTimer;
    QTimer m_updateTimer;
    UpdateChecker m_updateChecker;
    std::optional<Reading> m_lastReading;
    std::optional<UpdateInfo> m_update;
    Balloon m_balloon = Balloon::None;
    bool m_readingBalloonShown = false;
    bool m_shown = false;
    QString m_tooltip;
};

class MainWindow;

// The tray's requests go to the window, and the menu follows the window's language.
void connectTrayToWindow(TrayPresenter& presenter, MainWindow& window);

} // namespace powerlog
