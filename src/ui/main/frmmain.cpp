#include "ui/main/frmmain.h"

#include "acquisition/databasewriter.h"
#include "acquisition/livegraph.h"
#include "acquisition/loadstate.h"
#include "acquisition/meter.h"
#include "acquisition/poller.h"
#include "acquisition/reading.h"
#include "app/config.h"
#include "app/desktop.h"
#include "app/language.h"
#include "app/programfolder.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "app/singleinstance.h"
#include "app/tray.h"
#include "app/version.h"
#include "gateway/commandsession.h"
#include "gateway/frames.h"
#include "gateway/monitorsession.h"
#include "ui/about/aboutwindow.h"
#include "ui/charts/chartswindow.h"
#include "ui/common/databaseprompts.h"
#include "ui/main/activitylight.h"
#include "ui/main/artwork.h"
#include "ui/main/linkstatustext.h"
#include "ui/main/loadicons.h"
#include "ui/main/mainwindowtexts.h"
#include "ui/main/panelwidgets.h"
#include "ui/main/placement.h"
#include "ui/options/optionswindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolButton>
#include <QToolTip>
#include <utility>

namespace powerlog {

namespace {

const QString kTrayTooltip = QStringLiteral("Powerlog");
constexpr int kTwipsPerPixel = 15;
constexpr int kBottomMarginTwips = 450;
const QColor kLinkGrey(112, 112, 112);
const QColor kLinkHover(192, 192, 0);
const QColor kCaptionColour(184, 196, 208);
const QColor kValueColour(240, 244, 248);

QString sevenSegmentFamily()
{
    static const QString family = [] {
        const int id =
            QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/DSEG7Classic-Bold.ttf"));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QStringLiteral("Monospace") : families.first();
    }();
    return family;
}

// Local time in the user's long format, without a time-zone name.
QString localTime(const QTime& time)
{
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale().toString(time, format.trimmed());
}

QString localDateTime(const QDateTime& when)
{
    return QLocale().toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           localTime(when.time());
}

// Long values (the energy counter grows for years) shrink the digits rather than lose them.
void fitReadout(QLabel* readout, const QString& text)
{
    if (readout->text() == text)
        return;
    QFont font = readout->font();
    font.setPointSizeF(13);
    const int room = readout->contentsRect().width() - 6;
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    readout->setFont(font);
    readout->setText(text);
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QRect& geometry,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    return label;
}

PanelLabel* makePanel(QWidget* parent, const QString& name, const QRect& geometry,
                      const QColor& fill, const QColor& border, const QColor& text,
                      Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* label = new PanelLabel(fill, border, text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// Colours set through the palette, not a style sheet: a style sheet would reach the label's
// tooltip too and paint it in the same light colour on the tooltip's pale background.
void paintText(QLabel* label, const QColor& colour, qreal pointSize, bool bold = false)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    label->setFont(font);
}

QToolButton* makeButton(QWidget* parent, const QString& name, Button art, int x, int y)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(buttonIcon(art));
    button->setIconSize(QSize(20, 20));
    button->setAutoRaise(true);
    button->setGeometry(x, y, 28, 28);
    return button;
}

// "Tension 230V - Current 2A" CR LF "Power 460W - Energy 1234": the reading balloon, and the
// head of the detail text.
QString readingLines(const Texts& t, const Reading& r)
{
    return t(Text::TensionPrefix) + r.V + QStringLiteral("V - ") + t(Text::CurrentPrefix) + r.A +
           QStringLiteral("A") + kCrLf + t(Text::PowerPrefix) + r.W + QStringLiteral("W - ") +
           t(Text::EnergyPrefix) + r.E;
}

QTimer* makeTimer(QObject* parent, const QString& name)
{
    auto* timer = new QTimer(parent);
    timer->setObjectName(name);
    return timer;
}

} // namespace

FrmMain::FrmMain(MainWindowServices services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)),
      m_loadIcons(new LoadIcons(m_services.loads, this)), m_light(new ActivityLight(this)),
      m_tpop(makeTimer(this, QStringLiteral("Tpop"))),
      m_tst(makeTimer(this, QStringLiteral("Tst"))),
      m_tupd(makeTimer(this, QStringLiteral("Tupd"))),
      m_updateChecker(new UpdateChecker(m_services.updateUrl, versionString(), this))
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowIcon(appIcon());
    new BottomRightPlacer(*this, kBottomMarginTwips / kTwipsPerPixel);
    connect(m_tpop, &QTimer::timeout, this, &FrmMain::Tpop_Timer);
    connect(m_tst, &QTimer::timeout, this, &FrmMain::Tst_Timer);
    connect(m_tupd, &QTimer::timeout, this, &FrmMain::Tupd_Timer);
    connect(m_updateChecker, &UpdateChecker::finished, this, &FrmMain::onUpdateChecked);

    buildControls();
    wireModels();
    wireSessions();
    wireTray();
}

FrmMain::~FrmMain()
{
    Form_Unload();
}

void FrmMain::buildControls()
{
    setFixedSize(340, 244);
    setMouseTracking(false);

    m_image1 = new Backdrop(QColor(0x2b, 0x34, 0x40), QColor(0x17, 0x1c, 0x23), this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setGeometry(rect());
    m_image1->setMouseTracking(true);
    m_image1->installEventFilter(this);

    const QString family = sevenSegmentFamily();
    for (int i = 0; i < 4; ++i) {
        const int x = 8 + i * 82;
        m_lbt[i] =
            makeLabel(this, QStringLiteral("Lbt_%1").arg(i), QRect(x, 4, 78, 16), Qt::AlignCenter);
        paintText(m_lbt[i], kCaptionColour, 8);
        m_lb[i] = makePanel(this, QStringLiteral("Lb_%1").arg(i), QRect(x, 20, 78, 30),
                            QColor(0x0b, 0x0f, 0x0c), QColor(0x3a, 0x4a, 0x3e),
                            QColor(0x62, 0xff, 0x8a), Qt::AlignRight | Qt::AlignVCenter);
        QFont digits(family);
        digits.setPointSizeF(13);
        m_lb[i]->setFont(digits);
    }

    m_pgraph = new PowerGraphView(
        m_services.meter.liveGraph(), [this] { return m_services.settings.linePowerWatts(); },
        this);
    m_pgraph->setObjectName(QStringLiteral("Pgraph"));
    m_pgraph->move(8, 58);
    m_pgraph->setMouseTracking(true);
    m_pgraph->installEventFilter(this);

    // Line power, maximum and average: caption on the left, value on the right.
    for (int row = 0; row < 3; ++row) {
        const int y = 60 + row * 21;
        m_lbt[4 + row] =
            makeLabel(this, QStringLiteral("Lbt_%1").arg(4 + row), QRect(214, y, 68, 18));
        paintText(m_lbt[4 + row], kCaptionColour, 7.5);
        m_lbt[7 + row] = makeLabel(this, QStringLiteral("Lbt_%1").arg(7 + row),
                                   QRect(282, y, 52, 18), Qt::AlignRight | Qt::AlignVCenter);
        paintText(m_lbt[7 + row], kValueColour, 8, true);
    }

    for (int i = 0; i < 8; ++i) {
        m_iload[i] = makeLabel(this, QStringLiteral("Iload_%1").arg(i),
                               QRect(8 + i * 26, 130, 24, 24), Qt::AlignCenter);
        m_iload[i]->setMouseTracking(true);
        m_iload[i]->installEventFilter(this);
        refreshLoadIcon(i);
    }
    m_shi = new LightShape(this);
    m_shi->setObjectName(QStringLiteral("Shi_0"));
    m_shi->setGeometry(224, 135, 14, 14);

    m_pmod = new ModeBox([this] { return m_stBar->panelText(2); }, this);
    m_pmod->setObjectName(QStringLiteral("Pmod"));
    m_pmod->setGeometry(246, 131, 88, 22);
    QPalette modePalette = m_pmod->palette();
    modePalette.setColor(QPalette::Button, QColor(16, 21, 27));
    modePalette.setColor(QPalette::ButtonText, QColor(223, 230, 238));
    m_pmod->setPalette(modePalette);
    connect(m_pmod, &ModeBox::clicked, this, &FrmMain::Pmod_Click);

    m_lload = makePanel(this, QStringLiteral("Lload"), QRect(8, 158, 326, 20),
                        QColor(0x10, 0x15, 0x1b), QColor(), Qt::white);
    m_lload->setMouseTracking(true);
    m_lload->installEventFilter(this);

    m_imRec = makeButton(this, QStringLiteral("ImRec"), Button::Record, 8, 184);
    m_imStop = makeButton(this, QStringLiteral("ImStop"), Button::Stop, 8, 184);
    m_imStop->hide();
    m_imReload = makeButton(this, QStringLiteral("ImReload"), Button::Refresh, 40, 184);
    m_imTool = makeButton(this, QStringLiteral("ImTool"), Button::Options, 72, 184);
    m_igraf = makeButton(this, QStringLiteral("Igraf"), Button::Charts, 104, 184);
    m_igraf->setToolTip(QStringLiteral("Grafici / Charts"));
    m_idel = makeButton(this, QStringLiteral("Idel"), Button::Clear, 136, 184);
    m_idel->setToolTip(QStringLiteral("Reset"));
    connect(m_imRec, &QToolButton::clicked, this, &FrmMain::ImRec_Click);
    connect(m_imStop, &QToolButton::clicked, this, &FrmMain::ImStop_Click);
    connect(m_imReload, &QToolButton::clicked, this, &FrmMain::ImReload_Click);
    connect(m_imTool, &QToolButton::clicked, this, &FrmMain::ImTool_Click);
    connect(m_igraf, &QToolButton::clicked, this, &FrmMain::Igraf_Click);
    connect(m_idel, &QToolButton::clicked, this, &FrmMain::Idel_Click);

    m_lbt[10] = makeLabel(this, QStringLiteral("Lbt_10"), QRect(280, 190, 54, 18),
                          Qt::AlignRight | Qt::AlignVCenter);
    m_lbt[10]->setText(QStringLiteral("About"));
    m_lbt[10]->setCursor(Qt::PointingHandCursor);
    for (int i = 0; i <= 10; ++i) {
        m_lbt[i]->setMouseTracking(true);
        m_lbt[i]->installEventFilter(this);
    }
    QPalette linkPalette = m_lbt[10]->palette();
    linkPalette.setColor(QPalette::WindowText, kLinkGrey);
    m_lbt[10]->setPalette(linkPalette);

    m_shbar = new BarShape(this);
    m_shbar->setObjectName(QStringLiteral("Shbar"));
    m_shbar->setGeometry(9, 216, 0, 4);

    m_stBar = new StatusPanels(this);
    m_stBar->setObjectName(QStringLiteral("StBar"));
    m_stBar->setGeometry(0, 222, 340, 22);
    m_stBar->setColours(QColor(0x22, 0x2a, 0x33), QColor(0xdf, 0xe6, 0xee));
    for (auto* panel : m_stBar->findChildren<QLabel*>())
        panel->installEventFilter(this);
    connect(m_stBar, &StatusPanels::panelClicked, this, &FrmMain::StBar_PanelClick);

    applyMainWindowDesignTexts(*this);
}

void FrmMain::wireModels()
{
    connect(m_loadIcons, &LoadIcons::iconChanged, this, &FrmMain::refreshLoadIcon);
    connect(m_loadIcons, &LoadIcons::bannerChanged, m_lload, &QLabel::setText);
    connect(m_light, &ActivityLight::colourChanged, this,
            [this](int red, int green, int blue) { m_shi->setColour(QColor(red, green, blue)); });

    Meter& meter = m_services.meter;
    connect(&meter, &Meter::readingArrived, this, &FrmMain::showReading);
    connect(&meter, &Meter::recordingChanged, this, &FrmMain::showRecording);
    connect(&meter, &Meter::recordFailed, this, &FrmMain::showDatabaseProblem);

    DatabaseWriter& database = m_services.database;
    connect(&database, &DatabaseWriter::opened, this, &FrmMain::showDatabaseProblem);
    connect(&database, &DatabaseWriter::progress, this, [this](int percent) {
        if (m_databaseBusy)
            setPanel(1, m_services.texts(Text::PreparingDatabase).arg(percent));
    });
    connect(&database, &DatabaseWriter::busyChanged, this, [this](bool busy) {
        m_databaseBusy = busy;
        if (busy)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QApplication::restoreOverrideCursor();
    });

    Poller& poller = m_services.poller;
    connect(&poller, &Poller::ticked, this, &FrmMain::flashActivityLight);
    connect(&poller, &Poller::requestSent, this, [this] { setTrayIcon(kTrayBusy); });
    connect(&poller, &Poller::progressChanged, this, &FrmMain::setProgressTwips);
    connect(&poller, &Poller::firstRequestFinished, this, [this](bool acknowledged) {
        setPanel(2, m_services.texts(acknowledged ? Text::AutomaticMode : Text::ManualMode));
    });
    connect(&poller, &Poller::lostRequestsFallback, this, [this] {
        setPanel(2, m_services.texts(Text::ManualMode));
        setTrayIcon(kTrayNoLink);
        setRecording(false);
    });
}

void FrmMain::wireSessions()
{
    CommandSession& command = m_services.command;
    MonitorSession& monitor = m_services.monitor;
    connect(&command, &CommandSession::linkStateChanged, this,
            [this](LinkState state, const QString& detail) {
                onLinkState(int(LinkChannel::Command), state, detail);
            });
    connect(&monitor, &MonitorSession::linkStateChanged, this,
            [this](LinkState state, const QString& detail) {
                onLinkState(int(LinkChannel::Monitor), state, detail);
            });
    connect(&command, &CommandSession::frameReceived, &m_services.meter, &Meter::takeFrame);

    connect(&monitor, &MonitorSession::loadEvent, &m_services.loads, &LoadStates::applyLoadEvent);
    // Events may be missed until the session is back; its refresh brings every state again.
    connect(&monitor, &MonitorSession::closed, &m_services.loads, &LoadStates::markUnknown);
    connect(&monitor, &MonitorSession::opened, this, [this] { m_passwordRefusalShown = false; });
    connect(&monitor, &MonitorSession::loadEventsHandled, m_loadIcons,
            &LoadIcons::loadEventsHandled);
    connect(&monitor, &MonitorSession::loadEventError, this,
            [this](const frames::LoadEventError& error) {
                m_services.prompts.message(QString(), loadEventErrorText(m_services.texts, error),
                                           Prompts::Icon::Critical);
            });
}

void FrmMain::onLinkState(int channel, LinkState state, const QString& detail)
{
    const auto link = LinkChannel(channel);
    if (link == LinkChannel::Command && state == LinkState::PasswordMissing)
        m_services.prompts.message(QString(), m_services.texts.passwordMissing(),
                                   Prompts::Icon::Exclamation);
    // Nothing tries a refused password again (gateways lock out after a few failures): the
    // user hears of it once, until a session opens again.
    if (state == LinkState::PasswordRefused && !std::exchange(m_passwordRefusalShown, true))
        m_services.prompts.message(QString(), m_services.texts.passwordMissing(),
                                   Prompts::Icon::Exclamation);
    if (link == LinkChannel::Command && state == LinkState::FrameAcknowledged)
        m_passwordRefusalShown = false;
    if (isLinkDown(state))
        setTrayIcon(kTrayNoLink);
    setPanel(1, linkStatusText(m_services.texts, link, state, detail));

    if (link == LinkChannel::Command && state == LinkState::NoConnection) {
        // No connection: recording stops. The ST interface keeps reconnecting on its own, so
        // its mode stays; polling falls back to manual.
        setRecording(false);
        if (!m_services.settings.isOn(Setting::StInterface)) {
            m_services.poller.fallBackToManual();
            setPanel(2, m_services.texts(Text::ManualMode));
        }
    }
    if (link == LinkChannel::Command && state == LinkState::PasswordRefused) {
        // As without a connection, but the ST interface stops reconnecting too.
        setRecording(false);
        m_tst->stop();
        if (!m_services.settings.isOn(Setting::StInterface)) {
            m_services.poller.fallBackToManual();
            setPanel(2, m_services.texts(Text::ManualMode));
        }
    }
}

void FrmMain::wireTray()
{
    Tray& tray = m_services.tray;
    connect(&tray, &Tray::leftClicked, this, [this] {
        m_updateBalloonShown = false;
        m_services.tray.showBalloon(m_trayIconIndex, m_detailText, kTrayTooltip);
        m_tpop->start(10000);
    });
    connect(&tray, &Tray::menuChosen, this, &FrmMain::trayMenuChosen);
    connect(&tray, &Tray::balloonClicked, this, [this] {
        if (m_updateBalloonShown)
            m_services.desktop.open(m_downloadUrl);
        m_updateBalloonShown = false;
    });
    connect(&tray, &Tray::menuRequested, this, &FrmMain::refreshTrayMenu);
    connect(&tray, &Tray::doubleClicked, this, [this] {
        m_services.tray.clearBalloon(m_trayIconIndex);
        m_tpop->stop();
        showNormal();
        activateWindow();
    });
}

QString FrmMain::versionString()
{
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
}

bool FrmMain::Form_Load()
{
    setWindowTitle(QStringLiteral("Powerlog  V.") + VersionText());
    setProgressTwips(0);

    if (m_services.instance && !m_services.instance->acquire()) {
        setWindowTitle(QString());
        Form_Unload();
        return false;
    }

    Settings& settings = m_services.settings;
    const RunOverrides& run = m_services.overrides;
    if (run.serverAddress)
        settings.overrideForThisRun(Setting::ServerAddress, *run.serverAddress);
    if (run.serverPort)
        settings.overrideForThisRun(Setting::ServerPort, *run.serverPort);
    if (run.serverPassword)
        settings.overrideForThisRun(Setting::ServerPassword, *run.serverPassword);
    if (run.refreshSeconds)
        settings.overrideForThisRun(Setting::RefreshSeconds, *run.refreshSeconds);
    // What runs follows every later change of the settings.
    connect(&settings, &Settings::changed, this, &FrmMain::settingChanged);

    SetLanguage(settings.text(Setting::LanguageCode));

    m_services.command.setPeer(settings.text(Setting::ServerAddress), settings.port());
    m_services.command.setPassword(settings.text(Setting::ServerPassword));
    m_services.command.setStInterface(settings.isOn(Setting::StInterface));
    m_services.monitor.setPeer(settings.text(Setting::ServerAddress), settings.port());
    m_services.monitor.setPassword(settings.text(Setting::ServerPassword));
    m_services.poller.setRefreshSeconds(settings.number(Setting::RefreshSeconds));
    m_services.poller.setLostFrameSwitch(settings.isOn(Setting::LostFrameSwitch));

    for (auto* readout : m_lb)
        fitReadout(readout, QStringLiteral("0"));
    m_detailText = m_services.texts.trayDetail();
    setPanel(1, m_services.texts(Text::NoReading));

    // Opens in the background: a file without its summary tables takes a while to prepare,
    // and the window shows meanwhile.
    m_services.database.open();

    placeBottomRight();
    m_imRec->show();

    m_trayIconIndex = kTrayNoLink;
    m_services.tray.showIcon(kTrayNoLink, kTrayTooltip);
    refreshTrayMenu();

    if (settings.isOn(Setting::StInterface)) {
        setPanel(2, QStringLiteral("ST Interface"));
        m_tst->start(1000);
    } else if (settings.isOn(Setting::StartAutomatic) || run.startAutomatic) {
        startAutomaticMode();
    } else {
        setPanel(2, m_services.texts(Text::ManualMode));
    }

    if (settings.isOn(Setting::StartRecording) || run.startRecording) {
        setRecording(true);
        if (!AutoMode() && !settings.isOn(Setting::StInterface))
            startAutomaticMode();
    }

    m_lbt[7]->setText(QString::number(settings.linePowerWatts()) + QStringLiteral("W"));
    showStatistics();

    m_tupd->start(1000);

    readLoadNames();
    // A window that starts hidden gets no hide event; its banner must not scroll either.
    m_loadIcons->setShown(isVisible());
    return true;
}

void FrmMain::readLoadNames()
{
    if (m_services.overrides.loadNames) {
        m_loadNames = *m_services.overrides.loadNames;
    } else {
        const QString ini = QDir(m_services.programFolder).filePath(kLoadIniName);
        m_loadNames.clear();
        for (int k = 1; k <= LoadStates::kLoadCount; ++k)
            m_loadNames << readIniValue(QStringLiteral("priority"), QString::number(k), ini);
    }
    while (m_loadNames.size() < LoadStates::kLoadCount)
        m_loadNames << QString();
    for (int i = 0; i < LoadStates::kLoadCount; ++i)
        m_iload[i]->setToolTip(m_loadNames.at(i));
    m_services.loads.setLoadNames(m_loadNames);
}

void FrmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_closing = true;
    m_services.command.setClosing();
    m_services.monitor.setClosing();
    if (m_options)
        m_options->close();
    if (m_about)
        m_about->close();
    if (m_charts)
        m_charts->close();
    m_services.poller.stopAutomaticMode();
    m_tpop->stop();
    m_tst->stop();
    m_tupd->stop();
    m_services.tray.removeIcon();
    m_services.database.close();
    emit closed();
}

void FrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_loadIcons->setShown(true);
}

void FrmMain::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_loadIcons->setShown(false);
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void FrmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Minimising hides the window into the notification area, when there is one to come back
    // from; without it the window minimises as usual.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        m_services.tray.isAvailable() && !m_closing) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    }
}

void FrmMain::placeBottomRight()
{
    powerlog::placeBottomRight(*this, kBottomMarginTwips / kTwipsPerPixel);
}

void FrmMain::SetLanguage(const QString& code)
{
    if (m_services.texts.apply(code))
        applyMainWindowCaptions(*this, code);
    if (m_charts)
        m_charts->setLanguage(code);
    refreshTrayMenu();
    setPanel(2, m_services.texts(AutoMode() ? Text::AutomaticMode : Text::ManualMode));
    setPanel(1, QString());
}

bool FrmMain::AutoMode() const
{
    return m_services.poller.AutoMode();
}

bool FrmMain::Recording() const
{
    return m_services.meter.isRecording();
}

QString FrmMain::panelText(int panel) const
{
    return m_stBar->panelText(panel);
}

void FrmMain::setPanel(int panel, const QString& text)
{
    m_stBar->setPanelText(panel, text);
    if (panel == 2)
        m_pmod->update();
}

void FrmMain::setProgressTwips(int twips)
{
    m_shbar->resize(twips / kTwipsPerPixel, m_shbar->height());
}

void FrmMain::setTrayIcon(int index)
{
    m_trayIconIndex = index;
    m_services.tray.setPicture(index, kTrayTooltip);
}

void FrmMain::setRecording(bool recording)
{
    m_services.meter.setRecording(recording);
    showRecording(recording);
}

void FrmMain::showRecording(bool recording)
{
    m_imRec->setVisible(!recording);
    m_imStop->setVisible(recording);
}

void FrmMain::startAutomaticMode()
{
    m_services.poller.startAutomaticMode();
    setPanel(2, m_services.texts(Text::AutomaticMode));
}

void FrmMain::stopAutomaticMode()
{
    m_services.poller.stopAutomaticMode();
    setPanel(2, m_services.texts(Text::ManualMode));
    setRecording(false);
    setProgressTwips(0);
}

void FrmMain::ImRec_Click()
{
    setRecording(true);
    if (!AutoMode() && !m_services.settings.isOn(Setting::StInterface))
        startAutomaticMode();
}

void FrmMain::ImStop_Click()
{
    setRecording(false);
}

void FrmMain::ImReload_Click()
{
    setTrayIcon(kTrayBusy);
    m_services.monitor.StartMonitor();
    m_services.command.setNoAckWait(false);
    QPointer<FrmMain> self(this);
    m_services.command.SendTCP(frames::kMeasurementRequest, [self](bool) {
        if (self)
            self->flashActivityLight();
    });
}

void FrmMain::ImTool_Click()
{
    showOptions(true);
}

void FrmMain::showOptions(bool modal)
{
    if (!m_options) {
        auto* options = new OptionsWindow(
            {m_services.settings, m_services.prompts, m_services.database, m_services.meter,
             m_services.programFolder, m_services.reader, m_services.files},
            this);
        options->setAttribute(Qt::WA_DeleteOnClose);
        m_options = options;
        wireOptions(*options);
    }
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

OptionsWindow* FrmMain::optionsWindow() const
{
    return m_options.data();
}

void FrmMain::wireOptions(OptionsWindow& options)
{
    connect(&options, &OptionsWindow::languageApplied, this, &FrmMain::SetLanguage);
    connect(&options, &OptionsWindow::closed, this, &FrmMain::optionsClosed);
}

// The options window changes the settings; what runs is told here.
void FrmMain::settingChanged(Setting setting)
{
    const Settings& settings = m_services.settings;
    switch (setting) {
    case Setting::ServerAddress:
    case Setting::ServerPort:
    case Setting::ServerPassword:
        // The sessions use them from their next connection.
        m_services.command.setPeer(settings.text(Setting::ServerAddress), settings.port());
        m_services.command.setPassword(settings.text(Setting::ServerPassword));
        m_services.monitor.setPeer(settings.text(Setting::ServerAddress), settings.port());
        m_services.monitor.setPassword(settings.text(Setting::ServerPassword));
        break;
    case Setting::StInterface:
        // The command session's connection closes and opens again as the new kind.
        m_services.command.setStInterface(settings.isOn(Setting::StInterface));
        m_services.command.closeConnection();
        break;
    case Setting::LinePowerIndex:
        m_lbt[7]->setText(QString::number(settings.linePowerWatts()) + QStringLiteral("W"));
        m_pgraph->update();
        break;
    case Setting::RefreshSeconds:
        m_services.poller.setRefreshSeconds(settings.number(Setting::RefreshSeconds));
        break;
    case Setting::LostFrameSwitch:
        m_services.poller.setLostFrameSwitch(settings.isOn(Setting::LostFrameSwitch));
        break;
    case Setting::LanguageCode:
        SetLanguage(settings.text(Setting::LanguageCode));
        break;
    case Setting::StartMinimized:
    case Setting::StartAutomatic:
    case Setting::StartRecording:
        break; // for the next start
    }
}

// The interface chosen takes effect when the window closes: the ST interface's readings come
// unasked, kept alive by Tst; polling stops (recording goes on). Back from the ST interface,
// the mode shown is the one the window is in.
void FrmMain::optionsClosed()
{
    if (m_closing)
        return;
    if (m_services.settings.isOn(Setting::StInterface)) {
        m_services.poller.stopAutomaticMode();
        setProgressTwips(0);
        setPanel(2, QStringLiteral("ST Interface"));
        m_tst->setInterval(1000);
        m_tst->start();
    } else if (panelText(2) == QStringLiteral("ST Interface")) {
        setPanel(2, m_services.texts(AutoMode() ? Text::AutomaticMode : Text::ManualMode));
    } else {
        m_pmod->update();
    }
    refreshTrayMenu();
}

namespace {

enum TrayMenuId {
    kMenuOpen = 1,
    kMenuRefresh = 2,
    kMenuOptions = 3,
    kMenuAbout = 5,
    kMenuHelp = 6,
    kMenuDownload = 8,
    kMenuExit = 7,            // without an update
    kMenuExitAfterUpdate = 10 // with the download entry and its separators before it
};

} // namespace

QList<TrayMenuEntry> FrmMain::trayMenuEntries() const
{
    const Texts& text = m_services.texts;
    const auto separator = [](int id) { return TrayMenuEntry{id, {}, true, false, false}; };
    QList<TrayMenuEntry> entries{
        {kMenuOpen, text(Text::MenuOpen), false, true, true},
        {kMenuRefresh, text(Text::MenuRefresh), false,
         !m_services.settings.isOn(Setting::StInterface), false},
        {kMenuOptions, text(Text::MenuOptions), false, true, false},
        separator(4),
        {kMenuAbout, text(Text::MenuAbout), false, true, false},
        {kMenuHelp, text(Text::MenuHelp), false, true, false},
    };
    if (m_updateAvailable) {
        entries << separator(7)
                << TrayMenuEntry{kMenuDownload, text(Text::DownloadNewVersion), false, true, false}
                << separator(9)
                << TrayMenuEntry{kMenuExitAfterUpdate, text(Text::MenuExit), false, true, false};
    } else {
        entries << TrayMenuEntry{kMenuExit, text(Text::MenuExit), false, true, false};
    }
    return entries;
}

void FrmMain::refreshTrayMenu()
{
    if (!m_unloaded)
        m_services.tray.setMenu(trayMenuEntries());
}

void FrmMain::trayMenuChosen(int id)
{
    const bool exit = id == (m_updateAvailable ? kMenuExitAfterUpdate : kMenuExit);
    if (exit) {
        close();
        return;
    }
    switch (id) {
    case kMenuOpen:
        showNormal();
        activateWindow();
        break;
    case kMenuRefresh: {
        if (m_services.settings.isOn(Setting::StInterface))
            break; // greyed: a stale menu cannot send it either
        // The next full reading shows its balloon again.
        m_balloonShown = false;
        m_services.command.setNoAckWait(false);
        QPointer<FrmMain> self(this);
        m_services.command.SendTCP(frames::kMeasurementRequest, [self](bool) {
            if (self)
                self->flashActivityLight();
        });
        break;
    }
    case kMenuOptions:
        showOptions(false);
        break;
    case kMenuAbout:
        showAbout(false);
        break;
    case kMenuHelp:
        openHelp();
        break;
    case kMenuDownload:
        if (m_updateAvailable)
            m_services.desktop.open(m_downloadUrl);
        break;
    default:
        break;
    }
}

// Once per run, a second after start-up: is there a newer version?
void FrmMain::Tupd_Timer()
{
    m_tupd->stop();
    m_updateChecker->check();
}

void FrmMain::onUpdateChecked(UpdateOutcome outcome, const UpdateInfo& info)
{
    if (outcome != UpdateOutcome::Newer || m_unloaded)
        return;
    const Texts& text = m_services.texts;
    const QString crlf = QStringLiteral("\r\n");
    const QString announcement =
        text(Text::UpdateAvailable) + QStringLiteral(" : ") + info.serverVersion + crlf +
        text(Text::CurrentVersion) + QLatin1Char(' ') + VersionText() + QStringLiteral(" --> ") +
        text(Text::ServerVersion) + QLatin1Char(' ') + info.serverVersion + crlf +
        text(Text::DownloadNewVersion) + QLatin1Char(' ') + info.downloadUrl.toString();
    m_downloadUrl = info.downloadUrl;
    m_services.tray.showBalloon(m_trayIconIndex, announcement, kTrayTooltip);
    m_updateBalloonShown = true;
    m_updateAvailable = true;
    m_tpop->start(10000);
    refreshTrayMenu();
}

void FrmMain::openHelp()
{
    // The manual is delivered beside the program; a program folder chosen elsewhere (the demo's,
    // a --folder) falls back to the executable's own.
    const QString name = QStringLiteral("Powerlog.pdf");
    QStringList places{QDir(m_services.programFolder).filePath(name)};
    const QString besideProgram = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    if (!places.contains(besideProgram))
        places << besideProgram;
    // An installed copy keeps it with its other shared files.
    const QString installed = installedDataFolder(QCoreApplication::applicationDirPath());
    if (!installed.isEmpty())
        places << QDir(installed).filePath(name);
    for (const QString& place : places) {
        if (QFileInfo(place).isFile()) {
            m_services.desktop.open(QUrl::fromLocalFile(QFileInfo(place).absoluteFilePath()));
            return;
        }
    }
    m_services.prompts.message(
        {}, m_services.texts(Text::HelpMissing).arg(QDir::toNativeSeparators(places.first())),
        Prompts::Icon::Exclamation);
}

ChartsWindow* FrmMain::chartsWindow() const
{
    return m_charts.data();
}

void FrmMain::Igraf_Click()
{
    if (!m_services.reader || !m_services.files)
        return;
    if (!m_charts) {
        auto* charts = new ChartsWindow({m_services.settings.text(Setting::LanguageCode),
                                    m_services.settings.number(Setting::LinePowerIndex),
                                    *m_services.reader, m_services.prompts, *m_services.files},
                                   this);
        charts->setAttribute(Qt::WA_DeleteOnClose);
        m_charts = charts;
    }
    m_charts->show();
    m_charts->raise();
    m_charts->activateWindow();
}

void FrmMain::Idel_Click()
{
    LiveGraphModel& graph = m_services.meter.liveGraph();
    graph.clearDrawing();
    graph.clearStatistics();
    showStatistics();
    m_pgraph->showCleared();
}

void FrmMain::Lbt_Click(int)
{
    showAbout(true);
}

void FrmMain::showAbout(bool modal)
{
    if (!m_about) {
        auto* about = new AboutWindow(m_services.settings.text(Setting::LanguageCode), VersionText(),
                                   m_services.desktop, this);
        about->setAttribute(Qt::WA_DeleteOnClose);
        m_about = about;
    }
    m_about->setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
    m_about->show();
    m_about->raise();
}

void FrmMain::Lbt_MouseMove(int index)
{
    if (index != 10)
        return;
    QPalette p = m_lbt[10]->palette();
    p.setColor(QPalette::WindowText, kLinkHover);
    m_lbt[10]->setPalette(p);
}

void FrmMain::Form_MouseMove()
{
    m_loadIcons->EndLoadHover();
    QPalette p = m_lbt[10]->palette();
    p.setColor(QPalette::WindowText, kLinkGrey);
    m_lbt[10]->setPalette(p);
}

void FrmMain::Pmod_Click()
{
    if (m_services.settings.isOn(Setting::StInterface))
        return;
    if (AutoMode())
        stopAutomaticMode();
    else
        startAutomaticMode();
}

void FrmMain::StBar_PanelClick(int panel)
{
    if (panel == 2)
        Pmod_Click();
}

void FrmMain::Iload_Click(int index)
{
    if (m_services.monitor.isConnected())
        m_services.command.SendTCP(frames::loadCommandFrame(index + 1));
    else
        m_services.monitor.StartMonitor();
}

void FrmMain::refreshLoadIcon(int index)
{
    m_iload[index]->setPixmap(loadPicture(m_loadIcons->picture(index), 24, devicePixelRatioF()));
}

void FrmMain::flashActivityLight()
{
    // Nobody sees the light of a hidden window: its animation would only cost wakeups.
    if (isVisible())
        m_light->start();
}

void FrmMain::showReading(const Reading& reading)
{
    if (reading.kind == Reading::Kind::PowerOnly) {
        fitReadout(m_lb[2], reading.W);
        return;
    }
    fitReadout(m_lb[0], reading.V);
    fitReadout(m_lb[1], reading.A);
    fitReadout(m_lb[2], reading.W);
    fitReadout(m_lb[3], reading.E);

    // Values that are not numbers still show; the tray and the graph need numbers.
    if (reading.power)
        TrayUpdate(reading);
    setPanel(1,
             m_services.texts(Text::LastRead) + QLatin1Char(' ') + localTime(reading.time.time()));
    if (reading.power) {
        showStatistics();
        m_pgraph->update();
    }

    m_detailText = readingLines(m_services.texts, reading) + kCrLf + m_lbt[5]->text() +
                   QLatin1Char(' ') + m_lbt[8]->text() + QStringLiteral(" - ") + m_lbt[6]->text() +
                   QLatin1Char(' ') + m_lbt[9]->text() + kCrLf + kCrLf +
                   m_services.texts(Text::TrayHint);
}

void FrmMain::showStatistics()
{
    const LiveGraphModel& graph = m_services.meter.liveGraph();
    m_lbt[8]->setText(graph.maxPowerText());
    m_lbt[9]->setText(graph.averageText());
    m_lbt[8]->setToolTip(graph.maxPowerTime().isValid() ? localDateTime(graph.maxPowerTime())
                                                        : QString());
}

void FrmMain::TrayUpdate(const Reading& reading)
{
    setTrayIcon(trayLevel(*reading.power, m_services.settings.linePowerWatts()));
    if (m_balloonShown)
        return;
    const QString text = readingLines(m_services.texts, reading);
    m_services.tray.showBalloon(m_trayIconIndex, text, kTrayTooltip);
    m_balloonShown = true;
    m_tpop->start(10000);
}

void FrmMain::showDatabaseProblem(const DatabaseResult& result)
{
    showDatabaseResult(m_services.prompts, result);
}

void FrmMain::Tpop_Timer()
{
    m_services.tray.clearBalloon(m_trayIconIndex);
    m_updateBalloonShown = false;
    m_tpop->stop();
}

void FrmMain::Tst_Timer()
{
    if (!m_services.settings.isOn(Setting::StInterface)) {
        m_tst->stop();
        return;
    }
    m_tst->setInterval(5000);
    if (!m_services.command.isConnected())
        m_services.command.SendTCP(QString());
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool click = m_clicks.isClick(watched, event);
    if (type == QEvent::ToolTip) {
        // A load's name shows above its icon: the banner beneath already shows it too.
        for (int i = 0; i < LoadStates::kLoadCount; ++i) {
            if (watched == m_iload[i]) {
                const QString name = m_iload[i]->toolTip();
                const QPoint above = m_iload[i]->mapToGlobal(QPoint(0, -m_iload[i]->height()));
                if (name.isEmpty())
                    QToolTip::hideText();
                else
                    QToolTip::showText(above, name, m_iload[i]);
                return true;
            }
        }
        return QWidget::eventFilter(watched, event);
    }
    if (type != QEvent::MouseMove && !click)
        return QWidget::eventFilter(watched, event);

    if (watched == m_image1) {
        if (!click)
            Form_MouseMove();
        return false;
    }
    if (watched == m_lload || watched == m_pgraph || (watched->parent() == m_stBar && !click)) {
        if (!click)
            m_loadIcons->EndLoadHover();
        return false;
    }
    for (int i = 0; i < LoadStates::kLoadCount; ++i) {
        if (watched == m_iload[i]) {
            if (click)
                Iload_Click(i);
            else
                m_loadIcons->Iload_MouseMove(i);
            return true;
        }
    }
    for (int i = 0; i <= 10; ++i) {
        if (watched == m_lbt[i]) {
            if (click)
                Lbt_Click(i);
            else
                Lbt_MouseMove(i);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace powerlog
