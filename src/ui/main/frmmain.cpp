#include "ui/main/frmmain.h"

#include "acquisition/activitylight.h"
#include "acquisition/energydatabase.h"
#include "acquisition/livegraph.h"
#include "acquisition/loadstate.h"
#include "acquisition/poller.h"
#include "acquisition/reading.h"
#include "app/clock.h"
#include "app/language.h"
#include "app/programfolder.h"
#include "app/prompts.h"
#include "app/settingsstore.h"
#include "app/singleinstance.h"
#include "app/tray.h"
#include "app/version.h"
#include "gateway/commandsession.h"
#include "gateway/frames.h"
#include "gateway/monitorsession.h"
#include "ui/about/frmabout.h"
#include "ui/main/artwork.h"
#include "ui/main/mainwindowtexts.h"
#include "ui/main/panelwidgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QScreen>
#include <QToolButton>

namespace powerlog {

namespace {

const QString kTrayTooltip = QStringLiteral("Powerlog");
constexpr int kTwipsPerPixel = 15;
constexpr int kBottomMarginTwips = 450;
const QColor kLinkGrey(112, 112, 112);
const QColor kLinkHover(192, 192, 0);

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

} // namespace

FrmMain::FrmMain(MainWindowServices services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services))
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowIcon(appIcon());
    m_poller = std::make_unique<Poller>(m_services.command, m_services.monitor);
    m_loadState = std::make_unique<LoadStateModel>();
    m_liveGraph = std::make_unique<LiveGraphModel>();
    m_light = std::make_unique<ActivityLight>();

    // The models and timers hang under the window so their names can be found like controls.
    for (QObject* part : std::initializer_list<QObject*>{m_poller.get(), m_loadState.get(),
                                                         m_light.get(), &m_tpop, &m_tst, &m_tupd})
        part->setParent(this);
    m_tpop.setObjectName(QStringLiteral("Tpop"));
    m_tst.setObjectName(QStringLiteral("Tst"));
    m_tupd.setObjectName(QStringLiteral("Tupd"));
    connect(&m_tpop, &QTimer::timeout, this, &FrmMain::Tpop_Timer);
    connect(&m_tst, &QTimer::timeout, this, &FrmMain::Tst_Timer);
    // The update check arrives with its own window; until then its timer only ends itself.
    connect(&m_tupd, &QTimer::timeout, &m_tupd, &QTimer::stop);

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

    m_image1 = new QWidget(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setGeometry(rect());
    m_image1->setMouseTracking(true);
    m_image1->installEventFilter(this);
    m_image1->setStyleSheet(QStringLiteral(
        "#Image1 { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2b3440, "
        "stop:1 #171c23); }"));
    m_image1->setAttribute(Qt::WA_StyledBackground);

    const QString captionStyle = QStringLiteral("color: #b8c4d0; font-size: 8pt;");
    const QString family = sevenSegmentFamily();
    for (int i = 0; i < 4; ++i) {
        const int x = 8 + i * 82;
        m_lbt[i] =
            makeLabel(this, QStringLiteral("Lbt_%1").arg(i), QRect(x, 4, 78, 16), Qt::AlignCenter);
        m_lbt[i]->setStyleSheet(captionStyle);
        m_lb[i] = makeLabel(this, QStringLiteral("Lb_%1").arg(i), QRect(x, 20, 78, 30),
                            Qt::AlignRight | Qt::AlignVCenter);
        m_lb[i]->setStyleSheet(QStringLiteral("QLabel { background: #0b0f0c; color: #62ff8a; "
                                              "border: 1px solid #3a4a3e; border-radius: 3px; "
                                              "padding-right: 4px; }"));
        QFont digits(family);
        digits.setPointSizeF(13);
        m_lb[i]->setFont(digits);
    }

    m_pgraph = new PowerGraphView(
        *m_liveGraph, [this] { return LinePower(m_config.LinePowerIndex); }, this);
    m_pgraph->setObjectName(QStringLiteral("Pgraph"));
    m_pgraph->move(8, 58);
    m_pgraph->setMouseTracking(true);
    m_pgraph->installEventFilter(this);

    // Line power, maximum and average: caption on the left, value on the right.
    for (int row = 0; row < 3; ++row) {
        const int y = 60 + row * 21;
        m_lbt[4 + row] =
            makeLabel(this, QStringLiteral("Lbt_%1").arg(4 + row), QRect(216, y, 72, 18));
        m_lbt[4 + row]->setStyleSheet(captionStyle);
        m_lbt[7 + row] = makeLabel(this, QStringLiteral("Lbt_%1").arg(7 + row),
                                   QRect(286, y, 48, 18), Qt::AlignRight | Qt::AlignVCenter);
        m_lbt[7 + row]->setStyleSheet(QStringLiteral("color: #f0f4f8; font-weight: bold;"));
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

    m_lload = makeLabel(this, QStringLiteral("Lload"), QRect(8, 158, 326, 20));
    m_lload->setStyleSheet(QStringLiteral("QLabel { color: white; background: #10151b; "
                                          "border-radius: 3px; padding-left: 4px; }"));
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
    m_stBar->setStyleSheet(QStringLiteral("QLabel { color: #dfe6ee; background: #222a33; }"));
    for (auto* panel : m_stBar->findChildren<QLabel*>())
        panel->installEventFilter(this);
    connect(m_stBar, &StatusPanels::panelClicked, this, &FrmMain::StBar_PanelClick);

    // Hidden picture stores: the pictures the load icons and the tray icon take.
    const struct
    {
        const char* name;
        LoadPicture picture;
    } stores[] = {{"Iold", LoadPicture::Design}, {"Ily", LoadPicture::Highlight},
                  {"Ila", LoadPicture::Forced},  {"Ilr", LoadPicture::Off},
                  {"Ilg", LoadPicture::Other},   {"Ilv", LoadPicture::On}};
    for (const auto& store : stores) {
        auto* image = makeLabel(this, QString::fromLatin1(store.name), QRect(0, 0, 24, 24));
        image->setPixmap(loadPicture(store.picture, 24, devicePixelRatioF()));
        image->hide();
    }
    for (int i = 0; i <= 10; ++i) {
        auto* picture = makeLabel(this, QStringLiteral("PicSt_%1").arg(i), QRect(0, 0, 16, 16));
        picture->setPixmap(trayPicture(i).pixmap(16, 16));
        picture->hide();
    }

    applyMainWindowDesignTexts(*this);
}

void FrmMain::wireModels()
{
    connect(m_loadState.get(), &LoadStateModel::iconChanged, this, &FrmMain::refreshLoadIcon);
    connect(m_loadState.get(), &LoadStateModel::bannerChanged, m_lload, &QLabel::setText);
    connect(m_light.get(), &ActivityLight::colourChanged, this,
            [this](int red, int green, int blue) { m_shi->setColour(QColor(red, green, blue)); });

    connect(m_poller.get(), &Poller::ticked, m_light.get(), &ActivityLight::start);
    connect(m_poller.get(), &Poller::trayIconRequested, this, &FrmMain::setTrayIcon);
    connect(m_poller.get(), &Poller::progressChanged, this, &FrmMain::setProgressTwips);
    connect(m_poller.get(), &Poller::firstRequestFinished, this, [this](bool acknowledged) {
        setPanel(2, acknowledged ? m_services.texts.automaticMode : m_services.texts.manualMode);
        repaintModeBox();
    });
    connect(m_poller.get(), &Poller::lostRequestsFallback, this, [this] {
        setPanel(2, m_services.texts.manualMode);
        setRecordingButtons(false);
        repaintModeBox();
    });
}

void FrmMain::wireSessions()
{
    CommandSession& command = m_services.command;
    MonitorSession& monitor = m_services.monitor;
    connect(&command, &CommandSession::statusText, this,
            [this](const QString& t) { setPanel(1, t); });
    connect(&monitor, &MonitorSession::statusText, this,
            [this](const QString& t) { setPanel(1, t); });
    connect(&command, &CommandSession::trayIconRequested, this, &FrmMain::setTrayIcon);
    connect(&monitor, &MonitorSession::trayIconRequested, this, &FrmMain::setTrayIcon);
    connect(&command, &CommandSession::fallbackToManual, this, [this] {
        if (!m_config.StInterface) {
            stopAutomaticMode();
            return;
        }
        // The ST interface keeps reconnecting on its own: its mode stays, the recording stops.
        setRecordingButtons(false);
    });
    connect(&command, &CommandSession::passwordMissing, this, [this] {
        m_services.prompts.message(QString(), m_services.texts.passwordMissing,
                                   Prompts::Icon::Exclamation);
    });
    connect(&command, &CommandSession::dataArrived, this, [this](const QString& chunk) {
        if (!chunk.isEmpty() && chunk != frames::kAck && chunk != frames::kNack)
            m_poller->resetLostRequests();
    });
    connect(&command, &CommandSession::frameReceived, this, &FrmMain::ParseMeasurement);

    connect(&monitor, &MonitorSession::loadEvent, m_loadState.get(),
            &LoadStateModel::applyLoadEvent);
    connect(&monitor, &MonitorSession::loadEventsHandled, m_loadState.get(),
            &LoadStateModel::loadEventsHandled);
    connect(&monitor, &MonitorSession::loadEventError, this, [this](const QString& message) {
        m_services.prompts.message(QString(), message, Prompts::Icon::Critical);
    });
}

void FrmMain::wireTray()
{
    Tray& tray = m_services.tray;
    connect(&tray, &Tray::leftClicked, this, [this] {
        m_updateBalloonShown = false;
        m_services.tray.TrayBalloon(m_trayIconIndex, m_detailText, kTrayTooltip);
        m_tpop.setInterval(10000);
        m_tpop.start();
    });
    connect(&tray, &Tray::doubleClicked, this, [this] {
        m_services.tray.TrayBalloonClear(m_trayIconIndex);
        m_tpop.stop();
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

    m_config = loadConfig(m_services.settings);
    const RunOverrides& run = m_services.overrides;
    if (run.serverAddress)
        m_config.ServerAddress = *run.serverAddress;
    if (run.serverPort)
        m_config.ServerPort = QString::number(*run.serverPort);
    if (run.serverPassword)
        m_config.ServerPassword = *run.serverPassword;
    if (run.refreshSeconds)
        m_config.RefreshSeconds = *run.refreshSeconds;
    if (run.startAutomatic)
        m_config.AutoStart = true;

    SetLanguage(m_config.LanguageCode);

    m_services.command.setPeer(m_config.ServerAddress, m_config.portNumber());
    m_services.command.setPassword(m_config.ServerPassword);
    m_services.command.setStInterface(m_config.StInterface);
    m_services.monitor.setPeer(m_config.ServerAddress, m_config.portNumber());
    m_services.monitor.setPassword(m_config.ServerPassword);
    m_poller->setRefreshSeconds(m_config.RefreshSeconds);
    m_poller->setLostFrameSwitch(m_config.LostFrameSwitch);

    for (auto* readout : m_lb)
        fitReadout(readout, QStringLiteral("0"));
    m_detailText = m_services.texts.trayDetail;
    setPanel(1, m_services.texts.noReading);

    m_services.database.OpenDatabase();

    placeBottomRight();
    m_imRec->show();

    m_trayIconIndex = 0;
    m_services.tray.TrayAdd(0, kTrayTooltip);

    if (m_config.StInterface) {
        setPanel(2, QStringLiteral("ST Interface"));
        m_tst.setInterval(1000);
        m_tst.start();
    } else if (m_config.AutoStart) {
        startAutomaticMode();
    } else {
        setPanel(2, m_services.texts.manualMode);
    }

    if (m_config.RecAuto) {
        setRecordingButtons(true);
        if (!AutoMode() && !m_config.StInterface)
            startAutomaticMode();
    }

    m_lbt[7]->setText(QString::number(LinePower(m_config.LinePowerIndex)) + QStringLiteral("W"));
    m_lbt[8]->setText(m_liveGraph->maxPowerText());
    m_lbt[9]->setText(m_liveGraph->averageText());

    m_tupd.setInterval(1000);
    m_tupd.start();

    readLoadNames();
    return true;
}

void FrmMain::readLoadNames()
{
    const QString ini = QDir(m_services.programFolder).filePath(kLoadIniName);
    m_loadNames.clear();
    for (int k = 1; k <= 8; ++k) {
        m_loadNames << ReadIniValue(QStringLiteral("priority"), QString::number(k), ini);
        m_iload[k - 1]->setToolTip(m_loadNames.last());
    }
    m_loadState->setLoadNames(m_loadNames);
}

void FrmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_closing = true;
    m_services.command.setClosing();
    m_services.monitor.setClosing();
    if (m_about)
        m_about->close();
    m_poller->Tclk().stop();
    m_tpop.stop();
    m_tst.stop();
    m_tupd.stop();
    m_services.tray.TrayDelete();
    m_services.database.close();
    emit closed();
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

void FrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window manager's frame is known only once the window is on screen: place it again
    // so the frame, not just the panel, sits at the bottom right.
    if (!m_shownOnce) {
        m_shownOnce = true;
        QTimer::singleShot(0, this, &FrmMain::placeBottomRight);
    }
}

void FrmMain::placeBottomRight()
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize frame = frameGeometry().size();
    move(area.x() + area.width() - frame.width(),
         area.y() + area.height() - frame.height() - kBottomMarginTwips / kTwipsPerPixel);
}

void FrmMain::SetLanguage(const QString& code)
{
    if (applySharedTexts(code, m_services.texts))
        applyMainWindowCaptions(*this, code);
    setPanel(2, AutoMode() ? m_services.texts.automaticMode : m_services.texts.manualMode);
    repaintModeBox();
    setPanel(1, QString());
}

bool FrmMain::AutoMode() const
{
    return m_poller->AutoMode();
}

QString FrmMain::panelText(int panel) const
{
    return m_stBar->panelText(panel);
}

void FrmMain::setPanel(int panel, const QString& text)
{
    m_stBar->setPanelText(panel, text);
    if (panel == 2)
        repaintModeBox();
}

void FrmMain::repaintModeBox()
{
    m_pmod->update();
}

void FrmMain::setProgressTwips(int twips)
{
    m_shbar->resize(twips / kTwipsPerPixel, m_shbar->height());
}

void FrmMain::setTrayIcon(int index)
{
    m_trayIconIndex = index;
    m_services.tray.TrayModify(index, kTrayTooltip);
}

void FrmMain::setRecordingButtons(bool recording)
{
    m_recording = recording;
    m_imRec->setVisible(!recording);
    m_imStop->setVisible(recording);
}

void FrmMain::startAutomaticMode()
{
    m_poller->startAutomaticMode();
    setPanel(2, m_services.texts.automaticMode);
    repaintModeBox();
}

void FrmMain::stopAutomaticMode()
{
    m_poller->stopAutomaticMode();
    setPanel(2, m_services.texts.manualMode);
    setRecordingButtons(false);
    setProgressTwips(0);
    repaintModeBox();
}

void FrmMain::ImRec_Click()
{
    setRecordingButtons(true);
    if (!AutoMode() && !m_config.StInterface)
        startAutomaticMode();
}

void FrmMain::ImStop_Click()
{
    setRecordingButtons(false);
}

void FrmMain::ImReload_Click()
{
    setTrayIcon(10);
    m_services.monitor.StartMonitor();
    m_services.command.setNoAckWait(false);
    QPointer<FrmMain> self(this);
    m_services.command.SendTCP(frames::kMeasurementRequest, [self](bool) {
        if (self)
            self->m_light->start();
    });
}

void FrmMain::ImTool_Click()
{
    // The options window arrives with its own issue; the button is there already.
}

void FrmMain::Igraf_Click()
{
    // The charts window arrives with its own issue; the button is there already.
}

void FrmMain::Idel_Click()
{
    m_liveGraph->clearDrawing();
    m_liveGraph->clearStatistics();
    m_lbt[8]->setText(m_liveGraph->maxPowerText());
    m_lbt[9]->setText(m_liveGraph->averageText());
    m_pgraph->update();
}

void FrmMain::Lbt_Click(int)
{
    showAbout(true);
}

void FrmMain::showAbout(bool modal)
{
    if (!m_about) {
        auto* about = new FrmAbout(m_config.LanguageCode, VersionText(), m_services.desktop, this);
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
    m_loadState->EndLoadHover();
    QPalette p = m_lbt[10]->palette();
    p.setColor(QPalette::WindowText, kLinkGrey);
    m_lbt[10]->setPalette(p);
}

void FrmMain::Pmod_Click()
{
    if (m_config.StInterface)
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
    m_iload[index]->setPixmap(loadPicture(m_loadState->picture(index), 24, devicePixelRatioF()));
}

void FrmMain::ParseMeasurement(const QString& frame)
{
    const frames::Measurement m = frames::ParseMeasurement(frame);
    if (m.kind == frames::Measurement::Kind::None)
        return;
    if (m.kind == frames::Measurement::Kind::PowerOnly) {
        fitReadout(m_lb[2], m.W);
        return;
    }

    const ReadingTexts reading{m.V, m.A, m.W, m.E};
    fitReadout(m_lb[0], m.V);
    fitReadout(m_lb[1], m.A);
    fitReadout(m_lb[2], m.W);
    fitReadout(m_lb[3], m.E);

    // Values that are not numbers still show; the tray, the graph and the database need numbers.
    const std::optional<qint16> power = powerValue(m.W);
    if (power)
        TrayUpdate(*power);
    const QDateTime now = m_services.clock.now();
    setPanel(1, m_services.texts.lastRead + QLatin1Char(' ') + localTime(now.time()));
    if (power) {
        const qint16 previousMax = m_liveGraph->maxPower();
        m_liveGraph->PlotPower(*power, now);
        if (m_liveGraph->maxPower() != previousMax)
            m_lbt[8]->setToolTip(localDateTime(m_liveGraph->maxPowerTime()));
        m_lbt[8]->setText(m_liveGraph->maxPowerText());
        m_lbt[9]->setText(m_liveGraph->averageText());
        m_pgraph->update();
    }
    m_detailText = powerlog::detailText(m_services.texts, reading, m_lbt[5]->text(),
                                        m_lbt[8]->text(), m_lbt[6]->text(), m_lbt[9]->text());

    const std::optional<double> energy = energyValue(m.E);
    if (m_recording && power && energy)
        recordReading(*power, *energy);
}

void FrmMain::recordReading(qint16 power, double energy)
{
    const auto result =
        m_services.database.InsertReading(m_lb[0]->text(), m_lb[1]->text(), power, energy);
    if (result == EnergyDatabase::InsertResult::Refused)
        setRecordingButtons(false);
}

void FrmMain::TrayUpdate(qint16 power)
{
    setTrayIcon(trayLevel(power, LinePower(m_config.LinePowerIndex)));
    if (m_balloonShown)
        return;
    const ReadingTexts shown{m_lb[0]->text(), m_lb[1]->text(), m_lb[2]->text(), m_lb[3]->text()};
    m_services.tray.TrayBalloon(m_trayIconIndex, balloonText(m_services.texts, shown),
                                kTrayTooltip);
    m_balloonShown = true;
    m_tpop.setInterval(10000);
    m_tpop.start();
}

void FrmMain::Tpop_Timer()
{
    m_services.tray.TrayBalloonClear(m_trayIconIndex);
    m_updateBalloonShown = false;
    m_tpop.stop();
}

void FrmMain::Tst_Timer()
{
    if (!m_config.StInterface) {
        m_tst.stop();
        return;
    }
    m_tst.setInterval(5000);
    if (!m_services.command.isConnected())
        m_services.command.SendTCP(QString());
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    const bool release = type == QEvent::MouseButtonRelease;

    if (watched == m_image1) {
        if (!release)
            Form_MouseMove();
        return false;
    }
    if (watched == m_lload || watched == m_pgraph || (watched->parent() == m_stBar && !release)) {
        if (!release)
            m_loadState->EndLoadHover();
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (watched == m_iload[i]) {
            if (release)
                Iload_Click(i);
            else
                m_loadState->Iload_MouseMove(i);
            return true;
        }
    }
    for (int i = 0; i <= 10; ++i) {
        if (watched == m_lbt[i]) {
            if (release)
                Lbt_Click(i);
            else
                Lbt_MouseMove(i);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace powerlog
