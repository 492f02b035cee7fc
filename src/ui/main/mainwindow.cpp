#include "ui/main/mainwindow.h"

#include "acquisition/livegraph.h"
#include "app/language.h"
#include "app/prompts.h"
#include "app/tray.h"
#include "app/version.h"
#include "ui/about/aboutwindow.h"
#include "ui/charts/chartswindow.h"
#include "ui/common/artwork.h"
#include "ui/common/databaseprompts.h"
#include "ui/common/placement.h"
#include "ui/main/activitylight.h"
#include "ui/main/linkstatustext.h"
#include "ui/main/loadicons.h"
#include "ui/main/mainwindowparts.h"
#include "ui/main/mainwindowtexts.h"
#include "ui/main/panelwidgets.h"
#include "ui/options/optionswindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QToolButton>
#include <QToolTip>
#include <utility>

namespace powerlog {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kBottomMarginTwips = 450;
constexpr int kProgressBarWidth = 322; // pixels, when the next request is due
const QColor kLinkGrey(112, 112, 112);
const QColor kLinkHover(192, 192, 0);
const QColor kCaptionColour(184, 196, 208);
const QColor kValueColour(240, 244, 248);
const QColor kReadoutColour(0x62, 0xff, 0x8a);
const QColor kStaleReadoutColour(0x4a, 0x5a, 0x4e);

} // namespace

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QWidget(parent), m_services(services), m_station(services.station),
      m_loadIcons(new LoadIcons(m_station.loads(), this)), m_light(new ActivityLight(this))
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowIcon(appIcon());
    setWindowTitle(QStringLiteral("Powerlog  V.") + versionText());
    new BottomRightPlacer(*this, kBottomMarginTwips / kTwipsPerPixel);

    buildControls();
    connect(m_loadIcons, &LoadIcons::iconChanged, this, &MainWindow::refreshLoadIcon);
    connect(m_loadIcons, &LoadIcons::bannerChanged, m_loadBanner, &QLabel::setText);
    connect(m_light, &ActivityLight::colourChanged, this, [this](int red, int green, int blue) {
        m_activityShape->setColour(QColor(red, green, blue));
    });
    wireStation();

    setLanguage(m_station.settings().text(Setting::LanguageCode));
    for (auto* readout : m_readouts)
        fitReadout(readout, QStringLiteral("0"));
    setPanel(1, m_services.texts(Text::NoReading));
    showMode(m_station.mode());
    showRecording(m_station.isRecording());
    showLinePower();
    showStatistics();
    showLoadToolTips();
    showProgress(0, 1);
    placeBottomRight(*this, kBottomMarginTwips / kTwipsPerPixel);
    // A window that starts hidden gets no hide event; its banner must not scroll either.
    m_loadIcons->setShown(false);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    setFixedSize(340, 244);

    m_backdrop = new Backdrop(QColor(0x2b, 0x34, 0x40), QColor(0x17, 0x1c, 0x23), this);
    m_backdrop->setObjectName(QStringLiteral("Image1"));
    m_backdrop->setGeometry(rect());
    m_backdrop->setMouseTracking(true);
    m_backdrop->installEventFilter(this);

    buildReadouts();

    for (int i = 0; i < LoadStates::kLoadCount; ++i) {
        QLabel* icon = makeAlignedLabel(this, QStringLiteral("Iload_%1").arg(i),
                                        QRect(8 + i * 26, 130, 24, 24), Qt::AlignCenter);
        icon->setMouseTracking(true);
        icon->installEventFilter(this);
        m_loadIconLabels[std::size_t(i)] = icon;
        refreshLoadIcon(i);
    }
    m_activityShape = new LightShape(this);
    m_activityShape->setObjectName(QStringLiteral("Shi_0"));
    m_activityShape->setGeometry(224, 135, 14, 14);

    m_modeBox = new ModeBox([this] { return m_statusBar->panelText(2); }, this);
    m_modeBox->setObjectName(QStringLiteral("Pmod"));
    m_modeBox->setGeometry(246, 131, 88, 22);
    QPalette modePalette = m_modeBox->palette();
    modePalette.setColor(QPalette::Button, QColor(16, 21, 27));
    modePalette.setColor(QPalette::ButtonText, QColor(223, 230, 238));
    m_modeBox->setPalette(modePalette);
    connect(m_modeBox, &ModeBox::clicked, this, &MainWindow::toggleMode);

    m_loadBanner = makePanel(this, QStringLiteral("Lload"), QRect(8, 158, 326, 20),
                             QColor(0x10, 0x15, 0x1b), QColor(), Qt::white);
    m_loadBanner->setMouseTracking(true);
    m_loadBanner->installEventFilter(this);

    buildButtons();

    m_progressBar = new BarShape(this);
    m_progressBar->setObjectName(QStringLiteral("Shbar"));
    m_progressBar->setGeometry(9, 216, 0, 4);

    m_statusBar = new StatusPanels(this);
    m_statusBar->setObjectName(QStringLiteral("StBar"));
    m_statusBar->setGeometry(0, 222, 340, 22);
    m_statusBar->setColours(QColor(0x22, 0x2a, 0x33), QColor(0xdf, 0xe6, 0xee));
    for (auto* panel : m_statusBar->findChildren<QLabel*>())
        panel->installEventFilter(this);
    connect(m_statusBar, &StatusPanels::panelClicked, this, &MainWindow::statusPanelClicked);

    applyMainWindowDesignTexts(*this);
}

void MainWindow::buildReadouts()
{
    const QString family = sevenSegmentFamily();
    for (int i = 0; i < 4; ++i) {
        const int x = 8 + i * 82;
        QLabel* caption = makeAlignedLabel(this, QStringLiteral("Lbt_%1").arg(i),
                                           QRect(x, 4, 78, 16), Qt::AlignCenter);
        paintText(caption, kCaptionColour, 8);
        m_readoutCaptions[std::size_t(i)] = caption;
        QLabel* readout = makePanel(this, QStringLiteral("Lb_%1").arg(i), QRect(x, 20, 78, 30),
                                    QColor(0x0b, 0x0f, 0x0c), QColor(0x3a, 0x4a, 0x3e),
                                    kReadoutColour, Qt::AlignRight | Qt::AlignVCenter);
        QFont digits(family);
        digits.setPointSizeF(13);
        readout->setFont(digits);
        m_readouts[std::size_t(i)] = readout;
    }

    m_powerGraph = new PowerGraphView(
        m_station.meter().liveGraph(), [this] { return m_station.settings().linePowerWatts(); },
        this);
    m_powerGraph->setObjectName(QStringLiteral("Pgraph"));
    m_powerGraph->move(8, 58);
    m_powerGraph->setMouseTracking(true);
    m_powerGraph->installEventFilter(this);

    // Line power, maximum and average: caption on the left, value on the right.
    const auto caption = [this](int index, int row) {
        QLabel* label = makeAlignedLabel(this, QStringLiteral("Lbt_%1").arg(index),
                                         QRect(214, 60 + row * 21, 68, 18));
        paintText(label, kCaptionColour, 7.5);
        return label;
    };
    const auto value = [this](int index, int row) {
        QLabel* label =
            makeAlignedLabel(this, QStringLiteral("Lbt_%1").arg(index),
                             QRect(282, 60 + row * 21, 52, 18), Qt::AlignRight | Qt::AlignVCenter);
        paintText(label, kValueColour, 8, true);
        return label;
    };
    m_linePowerCaption = caption(4, 0);
    m_maxPowerCaption = caption(5, 1);
    m_averageCaption = caption(6, 2);
    m_linePowerValue = value(7, 0);
    m_maxPowerValue = value(8, 1);
    m_averageValue = value(9, 2);
}

void MainWindow::buildButtons()
{
    m_recordButton = makeButton(this, QStringLiteral("ImRec"), Button::Record, 8, 184);
    m_stopButton = makeButton(this, QStringLiteral("ImStop"), Button::Stop, 8, 184);
    m_stopButton->hide();
    m_refreshButton = makeButton(this, QStringLiteral("ImReload"), Button::Refresh, 40, 184);
    m_optionsButton = makeButton(this, QStringLiteral("ImTool"), Button::Options, 72, 184);
    m_chartsButton = makeButton(this, QStringLiteral("Igraf"), Button::Charts, 104, 184);
    m_chartsButton->setToolTip(QStringLiteral("Grafici / Charts"));
    m_clearButton = makeButton(this, QStringLiteral("Idel"), Button::Clear, 136, 184);
    m_clearButton->setToolTip(QStringLiteral("Reset"));
    connect(m_recordButton, &QToolButton::clicked, this, &MainWindow::startRecording);
    connect(m_stopButton, &QToolButton::clicked, this, &MainWindow::stopRecording);
    connect(m_refreshButton, &QToolButton::clicked, this, &MainWindow::refreshNow);
    connect(m_optionsButton, &QToolButton::clicked, this, &MainWindow::openOptions);
    connect(m_chartsButton, &QToolButton::clicked, this, &MainWindow::showCharts);
    connect(m_clearButton, &QToolButton::clicked, this, &MainWindow::clearLiveGraph);

    m_aboutLink = makeAlignedLabel(this, QStringLiteral("Lbt_10"), QRect(280, 190, 54, 18),
                                   Qt::AlignRight | Qt::AlignVCenter);
    m_aboutLink->setText(QStringLiteral("About"));
    m_aboutLink->setCursor(Qt::PointingHandCursor);
    highlightAboutLink(false);
    for (int i = 0; i <= 10; ++i) {
        auto* label = findChild<QLabel*>(QStringLiteral("Lbt_%1").arg(i));
        label->setMouseTracking(true);
        label->installEventFilter(this);
    }
}

void MainWindow::wireStation()
{
    Station& station = m_station;
    connect(&station, &Station::readingArrived, this, &MainWindow::showReading);
    connect(&station, &Station::modeChanged, this, &MainWindow::showMode);
    connect(&station, &Station::recordingChanged, this, &MainWindow::showRecording);
    connect(&station, &Station::recordingElsewhereChanged, this,
            &MainWindow::showRecordingElsewhere);
    connect(&station, &Station::linkStateChanged, this, &MainWindow::showLinkState);
    connect(&station, &Station::staleChanged, this, &MainWindow::showStale);
    connect(&station, &Station::notice, this, &MainWindow::showNotice);
    connect(&station, &Station::databaseProblem, this, &MainWindow::showDatabaseProblem);
    connect(&station, &Station::progressChanged, this, &MainWindow::showProgress);
    connect(&station, &Station::activity, this, &MainWindow::flashActivityLight);
    connect(&station, &Station::loadNamesChanged, this, &MainWindow::showLoadToolTips);
    connect(&station, &Station::loadControlMissingChanged, this, &MainWindow::showLoadToolTips);
    connect(&station, &Station::loadEventsHandled, m_loadIcons, &LoadIcons::loadEventsHandled);
    connect(&station, &Station::loadEventError, this, [this](const frames::LoadEventError& error) {
        m_services.prompts.message(QString(), loadEventErrorText(m_services.texts, error),
                                   Prompts::Icon::Critical);
    });
    connect(&station, &Station::databaseProgress, this, [this](int percent) {
        if (m_databaseBusy)
            setPanel(1, m_services.texts(Text::PreparingDatabase).arg(percent));
    });
    connect(&station, &Station::databaseBusyChanged, this, [this](bool busy) {
        m_databaseBusy = busy;
        if (busy)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QApplication::restoreOverrideCursor();
    });
    connect(&station, &Station::shutDown, this, &MainWindow::closeOtherWindows);
    connect(&station.settings(), &Settings::changed, this, &MainWindow::settingChanged);
}

void MainWindow::settingChanged(Setting setting)
{
    if (setting == Setting::LanguageCode)
        setLanguage(m_station.settings().text(Setting::LanguageCode));
    else if (setting == Setting::LinePowerIndex)
        showLinePower();
}

void MainWindow::setLanguage(const QString& code)
{
    if (m_services.texts.apply(code))
        applyMainWindowCaptions(*this, code);
    if (m_charts)
        m_charts->setLanguage(code);
    showMode(m_station.mode());
    showLoadToolTips();
    setPanel(1, QString());
    showRecordingElsewhere();
    emit languageChanged(code);
}

QString MainWindow::panelText(int panel) const
{
    return m_statusBar->panelText(panel);
}

void MainWindow::setPanel(int panel, const QString& text)
{
    m_statusBar->setPanelText(panel, text);
    if (panel == 2)
        m_modeBox->update();
}

void MainWindow::showMode(WorkingMode mode)
{
    switch (mode) {
    case WorkingMode::StInterface:
        setPanel(2, QStringLiteral("ST Interface"));
        break;
    case WorkingMode::Automatic:
        setPanel(2, m_services.texts(Text::AutomaticMode));
        break;
    case WorkingMode::Manual:
        setPanel(2, m_services.texts(Text::ManualMode));
        break;
    }
}

void MainWindow::showRecording(bool recording)
{
    m_recordButton->setVisible(!recording);
    m_stopButton->setVisible(recording);
}

// While the background recorder writes, the record buttons and the status bar say so; the
// readings still show.
void MainWindow::showRecordingElsewhere()
{
    // Before any language is applied the tooltips hold the design's English texts.
    const int column = m_services.texts.column().value_or(kEnglish);
    const bool elsewhere = m_station.isRecordingElsewhere();
    const QString recorder = textIn(Text::BackgroundRecorderRecording, column);
    const QString panel = textIn(Text::BackgroundRecording, column);
    m_recordButton->setToolTip(elsewhere ? recorder : textIn(Text::RecordTooltip, column));
    m_stopButton->setToolTip(elsewhere ? recorder : textIn(Text::StopTooltip, column));
    if (elsewhere)
        setPanel(1, panel);
    else if (panelText(1) == panel)
        setPanel(1, m_lastReadingTime.isValid()
                        ? textIn(Text::LastRead, column) + QLatin1Char(' ') +
                              localTime(m_lastReadingTime.time())
                        : QString());
}

void MainWindow::showLinkState(LinkChannel channel, LinkState state, const QString& detail)
{
    if (m_station.isRecordingElsewhere() && !isLinkDown(state))
        return;
    setPanel(1, linkStatusText(m_services.texts, channel, state, detail));
}

void MainWindow::showNotice(Notice notice)
{
    // Balloons for the gateway lost and found are the tray's.
    const Texts& texts = m_services.texts;
    if (notice == Notice::PasswordMissing)
        m_services.prompts.message(QString(), texts.passwordMissing(), Prompts::Icon::Exclamation);
    else if (notice == Notice::PasswordRefused)
        m_services.prompts.message(QString(), texts.passwordRefused(), Prompts::Icon::Exclamation);
}

void MainWindow::showDatabaseProblem(const DatabaseResult& result)
{
    showDatabaseResult(m_services.prompts, result);
}

void MainWindow::showProgress(int ticks, int ofTicks)
{
    const int width = ofTicks > 0 ? ticks * kProgressBarWidth / ofTicks : 0;
    m_progressBar->setFilledWidth(width);
}

// Each icon's tooltip is its load's name; while no load-control unit tells the states, it also
// says why they are unknown.
void MainWindow::showLoadToolTips()
{
    const QStringList names = m_station.loadNames();
    const QString why = m_station.isLoadControlMissing()
                            ? m_services.texts(Text::LoadsWithoutControlUnit)
                            : QString();
    for (int i = 0; i < LoadStates::kLoadCount; ++i) {
        QStringList lines{names.value(i), why};
        lines.removeAll(QString());
        m_loadIconLabels[std::size_t(i)]->setToolTip(lines.join(QLatin1Char('\n')));
    }
}

void MainWindow::showLinePower()
{
    m_linePowerValue->setText(QString::number(m_station.settings().linePowerWatts()) +
                              QStringLiteral("W"));
    m_powerGraph->update();
}

void MainWindow::showReading(const Reading& reading)
{
    m_lastReadingTime = reading.time;
    if (!isVisible()) {
        if (reading.kind != Reading::Kind::PowerOnly)
            m_heldReadings.clear();
        else if (!m_heldReadings.isEmpty() &&
                 m_heldReadings.last().kind == Reading::Kind::PowerOnly)
            m_heldReadings.removeLast(); // only the newest power counts
        m_heldReadings.append(reading);
        return;
    }
    if (reading.kind == Reading::Kind::PowerOnly) {
        fitReadout(m_readouts[2], reading.W);
        return;
    }
    fitReadout(m_readouts[0], reading.V);
    fitReadout(m_readouts[1], reading.A);
    fitReadout(m_readouts[2], reading.W);
    fitReadout(m_readouts[3], reading.E);
    if (m_station.isRecordingElsewhere())
        setPanel(1, m_services.texts(Text::BackgroundRecording));
    else
        setPanel(1, m_services.texts(Text::LastRead) + QLatin1Char(' ') +
                        localTime(reading.time.time()));
    // Values that are not numbers still show; the graph needs numbers.
    if (reading.power) {
        showStatistics();
        m_powerGraph->update();
    }
}

// Readouts the gateway no longer confirms turn dim, and say since when they stand.
void MainWindow::showStale(bool stale)
{
    const QString since =
        m_lastReadingTime.isValid() ? localTime(m_lastReadingTime.time()) : QStringLiteral("-");
    for (QLabel* readout : m_readouts) {
        QPalette palette = readout->palette();
        palette.setColor(QPalette::WindowText, stale ? kStaleReadoutColour : kReadoutColour);
        readout->setPalette(palette);
        readout->setToolTip(stale ? m_services.texts(Text::StaleReadings).arg(since) : QString());
    }
}

void MainWindow::showStatistics()
{
    const LiveGraphModel& graph = m_station.meter().liveGraph();
    m_maxPowerValue->setText(graph.maxPowerText());
    m_averageValue->setText(graph.averageText());
    m_maxPowerValue->setToolTip(graph.maxPowerTime().isValid() ? localDateTime(graph.maxPowerTime())
                                                               : QString());
}

void MainWindow::startRecording()
{
    m_station.startRecording();
}

void MainWindow::stopRecording()
{
    m_station.stopRecording();
}

void MainWindow::refreshNow()
{
    m_station.refreshNow();
}

void MainWindow::openOptions()
{
    showOptions(true);
}

void MainWindow::toggleMode()
{
    m_station.toggleAutomaticMode();
}

void MainWindow::statusPanelClicked(int panel)
{
    if (panel == 2)
        m_station.toggleAutomaticMode();
}

void MainWindow::switchLoad(int index)
{
    m_station.switchLoad(index);
}

void MainWindow::clearLiveGraph()
{
    LiveGraphModel& graph = m_station.meter().liveGraph();
    graph.clearDrawing();
    graph.clearStatistics();
    showStatistics();
    m_powerGraph->showCleared();
}

void MainWindow::flashActivityLight()
{
    // Nobody sees the light of a hidden window: its animation would only cost wakeups.
    if (isVisible())
        m_light->start();
}

void MainWindow::refreshLoadIcon(int index)
{
    if (!isVisible()) {
        m_heldLoadIcons.insert(index);
        return;
    }
    m_loadIconLabels[std::size_t(index)]->setPixmap(
        loadPicture(m_loadIcons->picture(index), 24, devicePixelRatioF()));
}

void MainWindow::bringToFront()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::showOptions(bool modal)
{
    if (!m_options) {
        auto* options =
            new OptionsWindow({m_station.settings(), m_services.prompts, m_station.database(),
                               m_station.meter(), m_station.programFolder(), &m_station.reader(),
                               m_services.files, &m_station.meterFinder()},
                              this);
        options->setAttribute(Qt::WA_DeleteOnClose);
        connect(options, &OptionsWindow::languageApplied, this, &MainWindow::setLanguage);
        m_options = options;
    }
    endLoadHover();
    const Qt::WindowModality modality = modal ? Qt::ApplicationModal : Qt::NonModal;
    if (m_options->windowModality() != modality) {
        // A window on screen takes a new modality only when shown again.
        m_options->hide();
        m_options->setWindowModality(modality);
    }
    m_options->show();
    m_options->raise();
    m_options->activateWindow();
}

OptionsWindow* MainWindow::optionsWindow() const
{
    return m_options.data();
}

void MainWindow::showAbout(bool modal)
{
    if (!m_about) {
        auto* about = new AboutWindow(m_station.settings().text(Setting::LanguageCode),
                                      versionText(), m_services.desktop, this);
        about->setAttribute(Qt::WA_DeleteOnClose);
        m_about = about;
    }
    endLoadHover();
    m_about->setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
    m_about->show();
    m_about->raise();
}

void MainWindow::showCharts()
{
    if (!m_services.files)
        return;
    if (!m_charts) {
        auto* charts = new ChartsWindow({m_station.settings().text(Setting::LanguageCode),
                                         m_station.settings().number(Setting::LinePowerIndex),
                                         m_station.reader(), m_services.prompts, *m_services.files,
                                         &m_station.settings(), &m_station.clock()},
                                        this);
        charts->setAttribute(Qt::WA_DeleteOnClose);
        m_charts = charts;
    }
    m_charts->show();
    m_charts->raise();
    m_charts->activateWindow();
}

ChartsWindow* MainWindow::chartsWindow() const
{
    return m_charts.data();
}

void MainWindow::closeOtherWindows()
{
    if (m_options)
        m_options->close();
    if (m_about)
        m_about->close();
    if (m_charts)
        m_charts->close();
}

void MainWindow::highlightAboutLink(bool on)
{
    QPalette palette = m_aboutLink->palette();
    palette.setColor(QPalette::WindowText, on ? kLinkHover : kLinkGrey);
    m_aboutLink->setPalette(palette);
}

void MainWindow::endLoadHover()
{
    m_loadIcons->endHover();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    const QList<Reading> held = std::exchange(m_heldReadings, {});
    for (const Reading& reading : held)
        showReading(reading);
    for (int index : std::exchange(m_heldLoadIcons, {}))
        refreshLoadIcon(index);
    m_loadIcons->setShown(true);
    m_station.setTicksWatched(true);
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_loadIcons->setShown(false);
    m_station.setTicksWatched(false);
    endLoadHover();
}

void MainWindow::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    endLoadHover();
    highlightAboutLink(false);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_station.shutdown();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // A modal window or another program took the focus: the pointer no longer rests here.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        endLoadHover();
    // Minimising hides the window into the notification area, when there is one to come back
    // from; without it the window minimises as usual.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        m_services.tray.isAvailable() && !m_station.isClosing()) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool click = m_clicks.isClick(watched, event);
    const auto* icon = qobject_cast<QLabel*>(watched);
    const auto found = std::find(m_loadIconLabels.begin(), m_loadIconLabels.end(), icon);
    const int load = found == m_loadIconLabels.end() ? -1 : int(found - m_loadIconLabels.begin());

    if (type == QEvent::ToolTip && load >= 0) {
        // A load's name shows above its icon: the banner beneath already shows it too.
        const QString name = icon->toolTip();
        const QPoint above = icon->mapToGlobal(QPoint(0, -icon->height()));
        if (name.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(above, name, const_cast<QLabel*>(icon));
        return true;
    }
    // The pointer left an icon for a control that is no icon: the hover ends.
    if (type == QEvent::Leave && load >= 0) {
        const QWidget* under = QApplication::widgetAt(QCursor::pos());
        if (!under || std::find(m_loadIconLabels.begin(), m_loadIconLabels.end(), under) ==
                          m_loadIconLabels.end())
            endLoadHover();
        return false;
    }
    if (type != QEvent::MouseMove && !click)
        return QWidget::eventFilter(watched, event);

    if (load >= 0) {
        if (click)
            switchLoad(load);
        else
            m_loadIcons->hoverLoad(load);
        return true;
    }
    // Every caption and value label opens the about window, as the link does.
    if (click && watched->objectName().startsWith(QLatin1String("Lbt_"))) {
        showAbout(true);
        return true;
    }
    if (watched == m_aboutLink) {
        highlightAboutLink(true);
        return true;
    }
    if (!click) {
        // Anywhere else on the window: the hover ends and the link dims.
        endLoadHover();
        if (watched == m_backdrop)
            highlightAboutLink(false);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace powerlog
