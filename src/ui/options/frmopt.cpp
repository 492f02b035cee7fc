#include "ui/options/frmopt.h"

#include "acquisition/databasewriter.h"
#include "acquisition/meter.h"
#include "app/config.h"
#include "app/language.h"
#include "app/prompts.h"
#include "app/settingsstore.h"
#include "ui/common/controls.h"
#include "ui/common/databaseprompts.h"
#include "ui/export/exportwindow.h"
#include "ui/main/artwork.h"
#include "ui/main/placement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>

namespace powerlog {

namespace {

constexpr int kBottomMarginPixels = 30; // 450 twips

const QStringList kInterfaces{QStringLiteral("BT Gateway"), QStringLiteral("ST ModBus")};
const QStringList kLinePowers{QStringLiteral("1500 W"), QStringLiteral("3000 W"),
                              QStringLiteral("4500 W"), QStringLiteral("6000 W"),
                              QStringLiteral("9000 W")};
// In the order of kRefreshChoices.
const QStringList kRefreshEntries{QStringLiteral("10 Sec."), QStringLiteral("30 Sec."),
                                  QStringLiteral("1 Min."),  QStringLiteral("10 Min."),
                                  QStringLiteral("30 Min."), QStringLiteral("1 H.")};

// Every character of the password shows as '*', whatever the style's own choice.
class StarPasswordStyle final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

void drawItalianFlag(QPainter& p, const QRectF& r)
{
    const qreal third = r.width() / 3;
    p.fillRect(QRectF(r.left(), r.top(), third, r.height()), QColor(0, 146, 70));
    p.fillRect(QRectF(r.left() + third, r.top(), third, r.height()), Qt::white);
    p.fillRect(QRectF(r.left() + 2 * third, r.top(), third, r.height()), QColor(206, 43, 55));
}

void drawBritishFlag(QPainter& p, const QRectF& r)
{
    p.fillRect(r, QColor(1, 33, 105));
    p.save();
    p.setClipRect(r);
    const qreal unit = r.height() / 30;
    QPen white(Qt::white, 6 * unit);
    p.setPen(white);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.bottomLeft(), r.topRight());
    QPen red(QColor(200, 16, 46), 2 * unit);
    p.setPen(red);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.bottomLeft(), r.topRight());
    const QPointF centre = r.center();
    p.fillRect(QRectF(centre.x() - 5 * unit, r.top(), 10 * unit, r.height()), Qt::white);
    p.fillRect(QRectF(r.left(), centre.y() - 5 * unit, r.width(), 10 * unit), Qt::white);
    p.fillRect(QRectF(centre.x() - 3 * unit, r.top(), 6 * unit, r.height()), red.color());
    p.fillRect(QRectF(r.left(), centre.y() - 3 * unit, r.width(), 6 * unit), red.color());
    p.restore();
}

// A flag 24 x 16 at the usual sizes, drawn sharp for twice the pixels too; the disabled flag
// (the language in use) is greyed by QIcon.
QIcon flagIcon(bool italian)
{
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(QSize(24, 16) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(0.5, 0.5, 23, 15);
        if (italian)
            drawItalianFlag(painter, area);
        else
            drawBritishFlag(painter, area);
        painter.setPen(QColor(120, 120, 120));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(area);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QComboBox* makeList(QWidget* parent, const QString& name, const QRect& geometry,
                    const QStringList& entries)
{
    auto* list = placeControl<QComboBox>(parent, name, geometry);
    list->setEditable(false);
    list->addItems(entries);
    return list;
}

QString switchText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// A key that types a character, as opposed to moving, deleting or confirming.
bool typesCharacter(const QKeyEvent* key)
{
    return !key->text().isEmpty() && key->text().at(0).isPrint();
}

bool typesDigit(const QKeyEvent* key)
{
    const QString text = key->text();
    return text.size() == 1 && text.at(0) >= u'0' && text.at(0) <= u'9';
}

} // namespace

FrmOpt::FrmOpt(OptionsWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(std::move(services))
{
    setObjectName(QStringLiteral("FrmOpt"));
    new BottomRightPlacer(*this, kBottomMarginPixels);
    buildControls();
    connect(&m_services.meter, &Meter::recordingChanged, this, &FrmOpt::showDatabaseButtons);
    connect(&m_services.database, &DatabaseWriter::busyChanged, this, [this](bool busy) {
        m_databaseBusy = busy;
        showDatabaseButtons();
    });
}

FrmOpt::~FrmOpt() = default;

void FrmOpt::buildControls()
{
    setFixedSize(352, 384);
    const std::array<int, 3> sectionTops{8, 146, 328};
    const std::array<Button, 3> sectionPictures{Button::Refresh, Button::Options, Button::Charts};
    for (int i = 0; i < 3; ++i) {
        m_imgIco[i] =
            makeLabel(this, QStringLiteral("ImgIco_%1").arg(i), QRect(8, sectionTops[i], 18, 18));
        m_imgIco[i]->setPixmap(buttonIcon(sectionPictures[i]).pixmap(QSize(16, 16)));
        m_lbc[i] =
            makeLabel(this, QStringLiteral("Lbc_%1").arg(i), QRect(30, sectionTops[i], 300, 18));
        QFont bold = m_lbc[i]->font();
        bold.setBold(true);
        m_lbc[i]->setFont(bold);
    }

    // Connection.
    m_lb[2] = makeLabel(this, QStringLiteral("Lb_2"), QRect(18, 32, 142, 22));
    m_txtIPws = placeControl<QLineEdit>(this, QStringLiteral("TxtIPws"), QRect(162, 32, 178, 22));
    m_lb[3] = makeLabel(this, QStringLiteral("Lb_3"), QRect(18, 58, 142, 22));
    m_txtPortaws =
        placeControl<QLineEdit>(this, QStringLiteral("TxtPortaws"), QRect(162, 58, 70, 22));
    // Typed digits are filtered by key; pasted text by the validator.
    m_txtPortaws->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]*")), m_txtPortaws));
    m_lbPwd = makeLabel(this, QStringLiteral("LbPwd"), QRect(18, 84, 142, 22));
    m_lbPwd->setText(QStringLiteral("Password"));
    m_txtPwd = placeControl<QLineEdit>(this, QStringLiteral("TxtPwd"), QRect(162, 84, 178, 22));
    auto* stars = new StarPasswordStyle;
    stars->setParent(this);
    m_txtPwd->setStyle(stars);
    m_txtPwd->setEchoMode(QLineEdit::Password);
    m_lb[4] = makeLabel(this, QStringLiteral("Lb_4"), QRect(18, 112, 142, 22));
    m_cinterf = makeList(this, QStringLiteral("Cinterf"), QRect(162, 112, 130, 22), {});
    for (QLineEdit* field : {m_txtIPws, m_txtPortaws, m_txtPwd})
        field->installEventFilter(this);

    // Program.
    m_lb[0] = makeLabel(this, QStringLiteral("Lb_0"), QRect(18, 170, 142, 22));
    m_cpot = makeList(this, QStringLiteral("Cpot"), QRect(162, 170, 100, 22), {});
    m_lb[1] = makeLabel(this, QStringLiteral("Lb_1"), QRect(18, 196, 142, 22));
    m_cagg = makeList(this, QStringLiteral("Cagg"), QRect(162, 196, 100, 22), {});
    for (QComboBox* list : {m_cinterf, m_cpot, m_cagg})
        list->installEventFilter(this);
    m_imIT = new QToolButton(this);
    m_imIT->setObjectName(QStringLiteral("ImIT"));
    m_imEN = new QToolButton(this);
    m_imEN->setObjectName(QStringLiteral("ImEN"));
    m_imIT->setGeometry(272, 169, 32, 24);
    m_imEN->setGeometry(308, 169, 32, 24);
    for (auto [flag, italian] : {std::pair{m_imIT, true}, {m_imEN, false}}) {
        flag->setIcon(flagIcon(italian));
        flag->setIconSize(QSize(24, 16));
        flag->setAutoRaise(true);
    }
    m_cstAut = placeControl<QCheckBox>(this, QStringLiteral("CstAut"), QRect(18, 224, 322, 20));
    m_cstmin = placeControl<QCheckBox>(this, QStringLiteral("CStmin"), QRect(18, 244, 322, 20));
    m_chLost = placeControl<QCheckBox>(this, QStringLiteral("ChLost"), QRect(18, 264, 322, 20));
    m_cstRec = placeControl<QCheckBox>(this, QStringLiteral("CStRec"), QRect(18, 284, 322, 20));
    m_cstSys = placeControl<QCheckBox>(this, QStringLiteral("CStSys"), QRect(18, 304, 322, 20));

    // Database.
    m_cclearDB =
        placeControl<QPushButton>(this, QStringLiteral("CclearDB"), QRect(18, 350, 100, 26));
    m_ccompDB =
        placeControl<QPushButton>(this, QStringLiteral("CcompDB"), QRect(129, 350, 100, 26));
    m_cexport =
        placeControl<QPushButton>(this, QStringLiteral("Cexport"), QRect(240, 350, 100, 26));

    connect(m_cinterf, &QComboBox::currentIndexChanged, this, &FrmOpt::Cinterf_Click);
    connect(m_cpot, &QComboBox::currentIndexChanged, this, &FrmOpt::Cpot_Click);
    connect(m_cagg, &QComboBox::currentIndexChanged, this, &FrmOpt::Cagg_Click);
    connect(m_cstAut, &QCheckBox::clicked, this, &FrmOpt::CstAut_Click);
    connect(m_cstmin, &QCheckBox::clicked, this, &FrmOpt::CStmin_Click);
    connect(m_cstRec, &QCheckBox::clicked, this, &FrmOpt::CStRec_Click);
    connect(m_chLost, &QCheckBox::clicked, this, &FrmOpt::ChLost_Click);
    connect(m_cstSys, &QCheckBox::clicked, this, &FrmOpt::CStSys_Click);
    connect(m_imIT, &QToolButton::clicked, this, &FrmOpt::ImIT_Click);
    connect(m_imEN, &QToolButton::clicked, this, &FrmOpt::ImEN_Click);
    connect(m_cclearDB, &QPushButton::clicked, this, &FrmOpt::CclearDB_Click);
    connect(m_ccompDB, &QPushButton::clicked, this, &FrmOpt::CcompDB_Click);
    connect(m_cexport, &QPushButton::clicked, this, &FrmOpt::Cexport_Click);
}

// The window shows what is in effect. Filling it applies nothing and stores nothing: opening
// and closing it leaves the settings as they were (the demo's gateway, for one, is never
// stored).
void FrmOpt::Form_Load()
{
    const Config& config = m_services.config;
    const SettingsStore& store = m_services.settings;
    SetLanguage(config.LanguageCode);

    const QSignalBlocker interfaceBlocker(m_cinterf);
    m_cinterf->addItems(kInterfaces);
    m_storedInterface =
        isSwitchSet(store.value(key::kOption, key::kInterface, QStringLiteral("0"))) ? 1 : 0;
    m_services.config.StInterface = m_storedInterface == 1;
    showInterface(m_services.config.StInterface);
    m_cinterf->setCurrentIndex(m_storedInterface);

    const QSignalBlocker linePowerBlocker(m_cpot);
    m_cpot->addItems(kLinePowers);
    m_cpot->setCurrentIndex(config.LinePowerIndex);

    const QSignalBlocker refreshBlocker(m_cagg);
    m_cagg->addItems(kRefreshEntries);
    const auto* refresh = std::ranges::find(kRefreshChoices, config.RefreshSeconds);
    m_cagg->setCurrentIndex(refresh == std::end(kRefreshChoices)
                                ? -1
                                : int(std::distance(std::begin(kRefreshChoices), refresh)));

    m_txtIPws->setText(config.ServerAddress);
    m_txtPortaws->setText(config.ServerPort);
    m_previousAddress = m_txtIPws->text();
    m_txtPwd->setText(config.ServerPassword);

    const auto stored = [&store](const QString& section, const QString& name,
                                 const char* defaultValue) {
        return isSwitchSet(store.value(section, name, QString::fromLatin1(defaultValue)));
    };
    m_cstAut->setChecked(stored(key::kStart, key::kAuto, "0"));
    m_cstmin->setChecked(stored(key::kOption, key::kMinimized, "0"));
    m_cstRec->setChecked(stored(key::kStart, key::kRecAuto, "0"));
    m_chLost->setChecked(stored(key::kFrame, key::kLost, "1"));
    m_cstSys->setChecked(m_services.autostart.isEnabled());

    showDatabaseButtons();
    placeBottomRight(*this, kBottomMarginPixels);
}

void FrmOpt::SetLanguage(const QString& code)
{
    if (languageColumn(code)) {
        m_languageCode = code;
        const auto text = [&code](Text id) { return textFor(id, code); };
        setWindowTitle(text(Text::OptionsCaption));
        m_lbc[0]->setText(text(Text::OptionsConnection));
        m_lbc[1]->setText(text(Text::OptionsProgram));
        m_lbc[2]->setText(text(Text::OptionsDatabase));
        m_lb[2]->setText(text(Text::OptionsAddress));
        m_lb[3]->setText(text(Text::OptionsPort));
        m_lb[4]->setText(text(Text::OptionsInterface));
        m_lb[0]->setText(text(Text::OptionsLinePower));
        m_lb[1]->setText(text(Text::OptionsRefresh));
        m_cstAut->setText(text(Text::OptionsAutoStart));
        m_cstmin->setText(text(Text::OptionsStartMinimized));
        m_chLost->setText(text(Text::OptionsLostFrames));
        m_cstRec->setText(text(Text::OptionsStartRecording));
        m_cstSys->setText(text(Text::OptionsStartWithSystem));
        m_cclearDB->setText(text(Text::OptionsClearDb));
        m_ccompDB->setText(text(Text::OptionsCompactDb));
        m_cexport->setText(text(Text::OptionsExportDb));
        m_lbPwd->setText(text(Text::OptionsPassword));
        // The flag of the language in use cannot be clicked.
        m_imIT->setEnabled(code != QStringLiteral("ita"));
        m_imEN->setEnabled(code != QStringLiteral("eng"));
    }
    emit languageApplied(code);
}

void FrmOpt::showInterface(bool stInterface)
{
    // The ST interface sends readings unasked: no refresh, no lost frames, no polling at start.
    m_cagg->setEnabled(!stInterface);
    m_chLost->setEnabled(!stInterface);
    m_cstAut->setEnabled(!stInterface);
}

void FrmOpt::showDatabaseButtons()
{
    const bool free = !m_services.meter.isRecording() && !m_databaseBusy;
    m_cclearDB->setEnabled(free);
    m_ccompDB->setEnabled(free);
}

void FrmOpt::save(const QString& section, const QString& name, const QString& value)
{
    if (m_services.settings.setValue(section, name, value) || m_toldNotSaved)
        return;
    // Once per opening of the window: the change is in effect, but only until the program ends.
    m_toldNotSaved = true;
    m_services.prompts.message({},
                               textFor(Text::SettingsNotSaved, m_languageCode)
                                   .arg(QDir::toNativeSeparators(m_services.settings.fileName())),
                               Prompts::Icon::Exclamation);
}

void FrmOpt::TxtIPws_Validate()
{
    const std::optional<QString> accepted = acceptedServerAddress(m_txtIPws->text());
    if (!accepted) {
        m_txtIPws->setText(m_previousAddress);
        return;
    }
    if (m_txtIPws->text() != *accepted)
        m_txtIPws->setText(*accepted);
    m_previousAddress = *accepted;
    if (*accepted == m_services.config.ServerAddress)
        return;
    m_services.config.ServerAddress = *accepted;
    save(key::kOption, key::kServerIp, *accepted);
    emit gatewayChanged();
}

void FrmOpt::TxtPortaws_Validate()
{
    const QString typed = m_txtPortaws->text();
    // A port no connection can use goes back to the one in effect.
    if (!isUsablePort(typed)) {
        m_txtPortaws->setText(m_services.config.ServerPort);
        return;
    }
    if (typed == m_services.config.ServerPort)
        return;
    m_services.config.ServerPort = typed;
    save(key::kOption, key::kServerPort, typed);
    emit gatewayChanged();
}

void FrmOpt::TxtPwd_Validate()
{
    const QString typed = m_txtPwd->text();
    if (typed == m_services.config.ServerPassword)
        return;
    m_services.config.ServerPassword = typed;
    save(key::kOption, key::kServerPassword, scramblePassword(typed));
    emit gatewayChanged();
}

void FrmOpt::Cinterf_Click()
{
    const int position = m_cinterf->currentIndex();
    if (position < 0 || position == m_storedInterface)
        return;
    m_storedInterface = position;
    m_services.config.StInterface = position != 0;
    showInterface(m_services.config.StInterface);
    emit interfaceChanged(m_services.config.StInterface);
    save(key::kOption, key::kInterface, QString::number(position));
}

void FrmOpt::Cpot_Click()
{
    const int position = m_cpot->currentIndex();
    if (position < 0)
        return;
    save(key::kWatt, key::kLine, QString::number(position));
    m_services.config.LinePowerIndex = position;
    emit linePowerChanged(position);
}

void FrmOpt::Cagg_Click()
{
    const int position = m_cagg->currentIndex();
    if (position < 0 || position >= int(std::size(kRefreshChoices)))
        return;
    const int seconds = kRefreshChoices[position];
    m_services.config.RefreshSeconds = seconds;
    save(key::kTimer, key::kRefresh, QString::number(seconds));
    emit refreshChanged(seconds);
}

void FrmOpt::CstAut_Click()
{
    save(key::kStart, key::kAuto, switchText(m_cstAut->isChecked()));
}

void FrmOpt::CStmin_Click()
{
    save(key::kOption, key::kMinimized, switchText(m_cstmin->isChecked()));
}

void FrmOpt::CStRec_Click()
{
    save(key::kStart, key::kRecAuto, switchText(m_cstRec->isChecked()));
}

// The autostart entry is the setting: the box shows whether it is there.
void FrmOpt::CStSys_Click()
{
    QString error;
    if (m_services.autostart.setEnabled(m_cstSys->isChecked(), &error))
        return;
    m_cstSys->setChecked(m_services.autostart.isEnabled());
    m_services.prompts.message(
        {}, textFor(Text::OptionsStartWithSystemFailed, m_languageCode).arg(error),
        Prompts::Icon::Exclamation);
}

void FrmOpt::ChLost_Click()
{
    const bool on = m_chLost->isChecked();
    save(key::kFrame, key::kLost, switchText(on));
    m_services.config.LostFrameSwitch = on ? 1 : 0;
    emit lostFrameSwitchChanged(m_services.config.LostFrameSwitch);
}

void FrmOpt::ImIT_Click()
{
    m_services.config.LanguageCode = QStringLiteral("ita");
    SetLanguage(m_services.config.LanguageCode);
    save(key::kOption, key::kLanguage, m_services.config.LanguageCode);
}

void FrmOpt::ImEN_Click()
{
    m_services.config.LanguageCode = QStringLiteral("eng");
    SetLanguage(m_services.config.LanguageCode);
    save(key::kOption, key::kLanguage, m_services.config.LanguageCode);
}

void FrmOpt::CclearDB_Click()
{
    clearDatabase(m_services.database, m_services.prompts, m_languageCode);
}

void FrmOpt::CcompDB_Click()
{
    compactDatabase(m_services.database, m_services.prompts, m_languageCode);
}

void FrmOpt::Cexport_Click()
{
    if (!m_services.reader || !m_services.files)
        return;
    if (!m_export) {
        auto* window = new ExportWindow({m_services.config.LanguageCode, m_services.programFolder,
                                         *m_services.reader, m_services.prompts, *m_services.files},
                                        this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowModality(Qt::ApplicationModal);
        m_export = window;
    }
    m_export->show();
    m_export->raise();
    m_export->activateWindow();
}

ExportWindow* FrmOpt::exportWindow() const
{
    return m_export.data();
}

void FrmOpt::Form_Unload()
{
    if (m_unloaded || !m_loaded)
        return;
    m_unloaded = true;
    if (m_export)
        m_export->close();
    TxtIPws_Validate();
    TxtPortaws_Validate();
    TxtPwd_Validate();
}

// Loaded when first shown, once whoever opened it listens to what it does.
void FrmOpt::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void FrmOpt::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    QWidget::closeEvent(event);
    emit closed();
}

bool FrmOpt::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // The lists change only by choosing an entry (the arrow keys still move it).
        if (qobject_cast<QComboBox*>(watched) && typesCharacter(key))
            return true;
        // The port takes digits; backspace and the other editing keys still work.
        if (watched == m_txtPortaws && typesCharacter(key) && !typesDigit(key))
            return true;
    } else if (event->type() == QEvent::FocusOut) {
        // The focus moving to another control of the window, not the window losing it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            !m_unloaded) {
            if (watched == m_txtIPws)
                TxtIPws_Validate();
            else if (watched == m_txtPortaws)
                TxtPortaws_Validate();
            else if (watched == m_txtPwd)
                TxtPwd_Validate();
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace powerlog
