#include "ui/main/traypresenter.h"

#include "acquisition/livegraph.h"
#include "app/desktop.h"
#include "app/language.h"
#include "app/programfolder.h"
#include "app/prompts.h"
#include "app/version.h"
#include "ui/common/energytext.h"
#include "ui/main/mainwindow.h"
#include "ui/main/mainwindowparts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace powerlog {

namespace {

const QString kProgramName = QStringLiteral("Powerlog");

} // namespace

TrayPresenter::TrayPresenter(TrayPresenterServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services)), m_balloonTimer(this), m_updateTimer(this),
      m_updateChecker(m_services.updateUrl, versionText())
{
    m_balloonTimer.setObjectName(QStringLiteral("Tpop"));
    m_balloonTimer.setSingleShot(true);
    connect(&m_balloonTimer, &QTimer::timeout, this, &TrayPresenter::clearBalloon);
    m_updateTimer.setObjectName(QStringLiteral("Tupd"));
    m_updateTimer.setSingleShot(true);
    connect(&m_updateTimer, &QTimer::timeout, this, &TrayPresenter::checkForUpdate);
    connect(&m_updateChecker, &UpdateChecker::finished, this, &TrayPresenter::announceUpdate);

    Tray& tray = m_services.tray;
    connect(&tray, &Tray::leftClicked, this, &TrayPresenter::showDetail);
    connect(&tray, &Tray::menuChosen, this, &TrayPresenter::menuChosen);
    connect(&tray, &Tray::balloonClicked, this, &TrayPresenter::balloonClicked);
    connect(&tray, &Tray::menuRequested, this, &TrayPresenter::refreshMenu);
    connect(&tray, &Tray::doubleClicked, this, &TrayPresenter::openFromIcon);

    Station& station = m_services.station;
    connect(&station, &Station::trayLevelChanged, this, [this](int level) {
        if (m_shown)
            m_services.tray.setPicture(level, m_tooltip);
    });
    connect(&station.todayEnergy(), &TodayEnergy::changed, this, &TrayPresenter::refreshTooltip);
    station.todayEnergy().setWanted(true);
    connect(&station, &Station::readingArrived, this, &TrayPresenter::showReading);
    connect(&station, &Station::notice, this, &TrayPresenter::showNotice);
    connect(&station, &Station::shutDown, this, &TrayPresenter::removeIcon);
    // "Refresh data" follows the interface at once, whichever window changed it.
    connect(&station.settings(), &Settings::changed, this, [this](Setting setting) {
        if (setting == Setting::StInterface)
            refreshMenu();
        if (setting >= Setting::PriceF1 && setting <= Setting::Currency)
            refreshTooltip();
    });
    m_tooltip = tooltip();
}

TrayPresenter::~TrayPresenter() = default;

void TrayPresenter::start()
{
    m_shown = true;
    m_tooltip = tooltip();
    m_services.tray.showIcon(m_services.station.trayLevel(), m_tooltip);
    refreshMenu();
    m_updateTimer.start(m_services.updateDelayMs);
}

void TrayPresenter::removeIcon()
{
    m_balloonTimer.stop();
    m_updateTimer.stop();
    if (!std::exchange(m_shown, false))
        return;
    m_services.tray.removeIcon();
}

QList<TrayMenuEntry> TrayPresenter::menuEntries() const
{
    const Texts& text = m_services.texts;
    const bool stInterface = m_services.station.isStInterface();
    const auto separator = [](int id) { return TrayMenuEntry{id, {}, true, false, false}; };
    QList<TrayMenuEntry> entries{
        {MenuOpen, text(Text::MenuOpen), false, true, true},
        {MenuRefresh, text(Text::MenuRefresh), false, !stInterface, false},
        {MenuOptions, text(Text::MenuOptions), false, true, false},
        separator(4),
        {MenuAbout, text(Text::MenuAbout), false, true, false},
        {MenuHelp, text(Text::MenuHelp), false, true, false},
    };
    if (m_update) {
        entries << separator(7)
                << TrayMenuEntry{MenuDownload, text(Text::DownloadNewVersion), false, true, false}
                << separator(9)
                << TrayMenuEntry{MenuExitAfterUpdate, text(Text::MenuExit), false, true, false};
    } else {
        entries << TrayMenuEntry{MenuExit, text(Text::MenuExit), false, true, false};
    }
    return entries;
}

void TrayPresenter::refreshMenu()
{
    if (m_shown)
        m_services.tray.setMenu(menuEntries());
}

void TrayPresenter::menuChosen(int id)
{
    if (id == (m_update ? MenuExitAfterUpdate : MenuExit)) {
        emit exitRequested();
        return;
    }
    switch (id) {
    case MenuOpen:
        emit openRequested();
        break;
    case MenuRefresh:
        if (m_services.station.isStInterface())
            break; // greyed: a stale menu cannot send it either
        // The next full reading shows its balloon again.
        m_readingBalloonShown = false;
        m_services.station.refreshNow();
        break;
    case MenuOptions:
        emit optionsRequested();
        break;
    case MenuAbout:
        emit aboutRequested();
        break;
    case MenuHelp:
        openHelp();
        break;
    case MenuDownload:
        if (m_update)
            m_services.desktop.open(m_update->downloadUrl);
        break;
    default:
        break;
    }
}

QString TrayPresenter::caption(Text id) const
{
    // Before a language is known the window shows its design captions, which are Italian.
    const Texts& texts = m_services.texts;
    return texts.column() ? texts(id) : textIn(id, kItalian);
}

// "Tension 230V - Current 2A" CR LF "Power 460W - Energy 1234": the reading balloon, and the
// head of the detail text.
QString TrayPresenter::readingLines(const Reading& r) const
{
    const Texts& t = m_services.texts;
    // A value not measured shows as a dash, without its unit.
    const auto value = [](const QString& text, const char* unit) {
        return text.isEmpty() ? shownValue(text) : text + QLatin1String(unit);
    };
    return t(Text::TensionPrefix) + value(r.V, "V") + QStringLiteral(" - ") +
           t(Text::CurrentPrefix) + value(r.A, "A") + kCrLf + t(Text::PowerPrefix) +
           value(r.W, "W") + QStringLiteral(" - ") + t(Text::EnergyPrefix) + r.E;
}

// Built when it shows, so that it speaks the language in force and the statistics of now.
QString TrayPresenter::detailText() const
{
    const QString today = todayLine();
    if (!m_lastReading) {
        return today.isEmpty() ? m_services.texts.trayDetail()
                               : m_services.texts(Text::NoReading) + kCrLf + today + kCrLf + kCrLf +
                                     m_services.texts(Text::TrayHint);
    }
    const LiveGraphModel& graph = m_services.station.meter().liveGraph();
    return readingLines(*m_lastReading) + kCrLf + caption(Text::MaxPowerCaption) +
           QLatin1Char(' ') + graph.maxPowerText() + QStringLiteral(" - ") +
           caption(Text::MidPowerCaption) + QLatin1Char(' ') + graph.averageText() +
           (today.isEmpty() ? QString() : kCrLf + today) + kCrLf + kCrLf +
           m_services.texts(Text::TrayHint);
}

// "Today: 3.46 kWh - € 1.23" (the cost only with prices set); empty until today's energy is
// known.
QString TrayPresenter::todayLine() const
{
    const std::optional<EnergyFigures>& today = m_services.station.todayEnergy().figures();
    const std::optional<int> column = m_services.texts.column();
    if (!today || !column)
        return {};
    const QString language = QString::fromLatin1(kLanguageCodes[*column]);
    QString line = m_services.texts(Text::TodayEnergy).arg(kwhText(today->kwh(), language));
    const Settings& settings = m_services.station.settings();
    const TariffPrices prices = tariffPrices(settings);
    if (prices.isSet())
        line +=
            QStringLiteral(" - ") + moneyText(today->cost(prices), settings.currency(), language);
    return line;
}

QString TrayPresenter::tooltip() const
{
    const QString today = todayLine();
    return today.isEmpty() ? kProgramName : kProgramName + QLatin1Char('\n') + today;
}

// The tooltip changes only when its text does.
void TrayPresenter::refreshTooltip()
{
    const QString text = tooltip();
    if (text == m_tooltip)
        return;
    m_tooltip = text;
    if (m_shown)
        m_services.tray.setPicture(m_services.station.trayLevel(), m_tooltip);
}

void TrayPresenter::showBalloon(const QString& text, Balloon kind)
{
    m_services.tray.showBalloon(m_services.station.trayLevel(), text, kProgramName);
    m_balloon = kind;
    m_balloonTimer.start(kBalloonMs);
}

void TrayPresenter::clearBalloon()
{
    m_balloonTimer.stop();
    if (m_shown)
        m_services.tray.clearBalloon(m_services.station.trayLevel());
    m_balloon = Balloon::None;
}

void TrayPresenter::showDetail()
{
    showBalloon(detailText(), Balloon::Detail);
}

void TrayPresenter::balloonClicked()
{
    // Only the announcement's own balloon leads to the download page.
    if (m_balloon == Balloon::Update && m_update)
        m_services.desktop.open(m_update->downloadUrl);
    m_balloon = Balloon::None;
}

void TrayPresenter::openFromIcon()
{
    clearBalloon();
    emit openRequested();
}

void TrayPresenter::showReading(const Reading& reading)
{
    if (reading.kind != Reading::Kind::Full)
        return;
    m_lastReading = reading;
    // Values that are not numbers still show in the window; the balloon needs a power.
    if (!reading.power || m_readingBalloonShown)
        return;
    m_readingBalloonShown = true;
    showBalloon(readingLines(reading), Balloon::Reading);
}

void TrayPresenter::showNotice(Notice notice)
{
    switch (notice) {
    case Notice::GatewayLostWhileRecording:
        showBalloon(m_services.texts(Text::GatewayLostWhileRecording), Balloon::Notice);
        break;
    case Notice::GatewayLost:
        showBalloon(m_services.texts(Text::GatewayLost), Balloon::Notice);
        break;
    case Notice::GatewayBack:
        showBalloon(m_services.texts(Text::GatewayBack), Balloon::Notice);
        break;
    default:
        break; // the window says these in a message box
    }
}

// Once per run, shortly after start-up: is there a newer version?
void TrayPresenter::checkForUpdate()
{
    m_updateChecker.check();
}

void TrayPresenter::announceUpdate(UpdateOutcome outcome, const UpdateInfo& info)
{
    emit updateChecked(outcome);
    if (outcome != UpdateOutcome::Newer || !m_shown)
        return;
    const Texts& text = m_services.texts;
    const QString announcement =
        text(Text::UpdateAvailable) + QStringLiteral(" : ") + info.serverVersion + kCrLf +
        text(Text::CurrentVersion) + QLatin1Char(' ') + versionText() + QStringLiteral(" --> ") +
        text(Text::ServerVersion) + QLatin1Char(' ') + info.serverVersion + kCrLf +
        text(Text::DownloadNewVersion) + QLatin1Char(' ') + info.downloadUrl.toString();
    m_update = info;
    showBalloon(announcement, Balloon::Update);
    refreshMenu();
}

void TrayPresenter::openHelp()
{
    // The manual is delivered beside the program; a program folder chosen elsewhere (the demo's,
    // a --folder) falls back to the executable's own.
    const QString name = QStringLiteral("Powerlog.pdf");
    QStringList places{QDir(m_services.station.programFolder()).filePath(name)};
    const QString besideProgram = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    if (!places.contains(besideProgram))
        places << besideProgram;
    // An installed copy keeps it with its other shared files.
    const QString installed = installedDataFolder(QCoreApplication::applicationDirPath());
    if (!installed.isEmpty())
        places << QDir(installed).filePath(name);
    for (const QString& place : places) {
        if (!QFileInfo(place).isFile())
            continue;
        const QString path = QFileInfo(place).absoluteFilePath();
        // No program for PDF files: say where the manual is, to open by other means.
        if (!m_services.desktop.open(QUrl::fromLocalFile(path)))
            m_services.prompts.message(
                {}, m_services.texts(Text::HelpNotOpened).arg(QDir::toNativeSeparators(path)),
                Prompts::Icon::Exclamation);
        return;
    }
    m_services.prompts.message(
        {}, m_services.texts(Text::HelpMissing).arg(QDir::toNativeSeparators(places.first())),
        Prompts::Icon::Exclamation);
}

void connectTrayToWindow(TrayPresenter& presenter, MainWindow& window)
{
    QObject::connect(&window, &MainWindow::languageChanged, &presenter,
                     &TrayPresenter::refreshMenu);
    QObject::connect(&window, &MainWindow::languageChanged, &presenter,
                     &TrayPresenter::refreshTooltip);
    QObject::connect(&presenter, &TrayPresenter::openRequested, &window, &MainWindow::bringToFront);
    QObject::connect(&presenter, &TrayPresenter::optionsRequested, &window,
                     [&window] { window.showOptions(false); });
    QObject::connect(&presenter, &TrayPresenter::aboutRequested, &window,
                     [&window] { window.showAbout(false); });
    QObject::connect(&presenter, &TrayPresenter::exitRequested, &window, &QWidget::close);
}

} // namespace powerlog
