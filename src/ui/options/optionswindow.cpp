#include "ui/options/optionswindow.h"

#include "ui/options/metersourcegroup.h"

#include "acquisition/databasewriter.h"
#include "acquisition/meter.h"
#include "acquisition/tariffbands.h"
#include "app/config.h"
#include "app/language.h"
#include "app/prompts.h"
#include "ui/common/artwork.h"
#include "ui/common/controls.h"
#include "ui/common/databaseprompts.h"
#include "ui/common/energytext.h"
#include "ui/common/placement.h"
#include "ui/export/exportwindow.h"
#include "ui/options/mqttgroup.h"

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
#include <algorithm>
#include <array>
#include <utility>

namespace powerlog {

namespace {

constexpr int kBottomMarginPixels = 30; // 450 twips

// The tariff group: the kind's list on top, then four columns, each a label over a field: the
// prices of F1, F2 and F3, then the currency. The list, and the label of a single price, span
// the three price columns.
constexpr int kTariffTitleTop = 330;
constexpr int kSourceTitleTop = 436;
constexpr QRect kTariffGroup(8, 350, 336, 76);
constexpr int kTariffColumnLeft = 10;
constexpr int kTariffColumnStep = 82;
constexpr int kTariffColumnWidth = 76;
constexpr int kCurrencyColumn = kTariffBandCount;
constexpr int kTariffListTop = 2;
constexpr int kTariffLabelTop = 28;
constexpr int kTariffLabelHeight = 18;
constexpr int kTariffFieldTop = 46;
constexpr int kTariffFieldHeight = 22;

// Columns `first` to `last` of the tariff group, from `top` down `height` pixels.
QRect tariffColumns(int first, int last, int top, int height)
{
    const int left = kTariffColumnLeft + first * kTariffColumnStep;
    const int right = kTariffColumnLeft + last * kTariffColumnStep + kTariffColumnWidth;
    return {left, top, right - left, height};
}

constexpr std::array<Setting, kTariffBandCount> kPriceSettings{Setting::PriceF1, Setting::PriceF2,
                                                               Setting::PriceF3};
// In the order of TariffKind.
constexpr std::array<Text, 3> kTariffKindTexts{
    Text::OptionsTariffSingle, Text::OptionsTariffTwoBands, Text::OptionsTariffThreeBands};

const QStringList kInterfaces{QStringLiteral("BT Gateway"), QStringLiteral("ST ModBus")};
const QStringList kLinePowers{QStringLiteral("1500 W"), QStringLiteral("3000 W"),
                              QStringLiteral("4500 W"), QStringLiteral("6000 W"),
                              QStringLiteral("9000 W")};
// In the order of the refresh interval's choices.
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

QComboBox* makeList(QWidget* parent, const QString& name, const QRect& geometry,
                    const QStringList& entries)
{
    auto* list = placeControl<QComboBox>(parent, name, geometry);
    list->setEditable(false);
    list->addItems(entries);
    return list;
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

OptionsWindow::OptionsWindow(OptionsWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(std::move(services))
{
    setObjectName(QStringLiteral("FrmOpt"));
    new BottomRightPlacer(*this, kBottomMarginPixels);
    buildControls();
    connect(&m_services.settings, &Settings::changed, this, &OptionsWindow::settingChanged);
    connect(&m_services.meter, &Meter::recordingChanged, this, &OptionsWindow::showDatabaseButtons);
    connect(&m_services.database, &DatabaseWriter::busyChanged, this, [this](bool busy) {
        m_databaseBusy = busy;
        showDatabaseButtons();
    });
}

OptionsWindow::~OptionsWindow() = default;

void OptionsWindow::buildControls()
{
    // The MQTT group makes a column of its own on the right.
    setFixedSize(352 + 344, 598);
    m_mqttGroup = new MqttGroup(
        m_services.settings,
        [this](Setting setting, const QVariant& value) { store(setting, value); }, this);
    m_mqttGroup->setGeometry(352, 8, 336, MqttGroup::kHeight);
    // The sections added later keep the later numbers: the tariff's, then the source's.
    const std::array<int, 5> sectionTops{8, 146, 542, kTariffTitleTop, kSourceTitleTop};
    const std::array<Button, 5> sectionPictures{Button::Refresh, Button::Options, Button::Charts,
                                                Button::Tariff, Button::Refresh};
    std::array<QLabel*, 5> sectionTitles{};
    for (int i = 0; i < int(sectionTops.size()); ++i) {
        QLabel* picture =
            makeLabel(this, QStringLiteral("ImgIco_%1").arg(i), QRect(8, sectionTops[i], 18, 18));
        picture->setPixmap(buttonIcon(sectionPictures[i]).pixmap(QSize(16, 16)));
        sectionTitles[i] =
            makeLabel(this, QStringLiteral("Lbc_%1").arg(i), QRect(30, sectionTops[i], 300, 18));
        QFont bold = sectionTitles[i]->font();
        bold.setBold(true);
        sectionTitles[i]->setFont(bold);
    }
    m_connectionTitle = sectionTitles[0];
    m_programTitle = sectionTitles[1];
    m_databaseTitle = sectionTitles[2];
    m_tariffTitle = sectionTitles[3];
    m_sourceTitle = sectionTitles[4];

    // Connection.
    m_addressLabel = makeLabel(this, QStringLiteral("Lb_2"), QRect(18, 32, 142, 22));
    m_addressField =
        placeControl<QLineEdit>(this, QStringLiteral("TxtIPws"), QRect(162, 32, 178, 22));
    m_portLabel = makeLabel(this, QStringLiteral("Lb_3"), QRect(18, 58, 142, 22));
    m_portField =
        placeControl<QLineEdit>(this, QStringLiteral("TxtPortaws"), QRect(162, 58, 70, 22));
    // Typed digits are filtered by key; pasted text by the validator.
    m_portField->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_portField));
    m_passwordLabel = makeLabel(this, QStringLiteral("LbPwd"), QRect(18, 84, 142, 22));
    m_passwordLabel->setText(QStringLiteral("Password"));
    m_passwordField =
        placeControl<QLineEdit>(this, QStringLiteral("TxtPwd"), QRect(162, 84, 178, 22));
    auto* stars = new StarPasswordStyle;
    stars->setParent(this);
    m_passwordField->setStyle(stars);
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_interfaceLabel = makeLabel(this, QStringLiteral("Lb_4"), QRect(18, 112, 142, 22));
    m_interfaceList = makeList(this, QStringLiteral("Cinterf"), QRect(162, 112, 130, 22), {});
    for (QLineEdit* field : {m_addressField, m_portField, m_passwordField})
        field->installEventFilter(this);

    // Program.
    m_linePowerLabel = makeLabel(this, QStringLiteral("Lb_0"), QRect(18, 170, 142, 22));
    m_linePowerList = makeList(this, QStringLiteral("Cpot"), QRect(162, 170, 100, 22), {});
    m_refreshLabel = makeLabel(this, QStringLiteral("Lb_1"), QRect(18, 196, 142, 22));
    m_refreshList = makeList(this, QStringLiteral("Cagg"), QRect(162, 196, 100, 22), {});
    for (QComboBox* list : {m_interfaceList, m_linePowerList, m_refreshList})
        list->installEventFilter(this);
    m_italianFlag = new QToolButton(this);
    m_italianFlag->setObjectName(QStringLiteral("ImIT"));
    m_englishFlag = new QToolButton(this);
    m_englishFlag->setObjectName(QStringLiteral("ImEN"));
    m_italianFlag->setGeometry(272, 169, 32, 24);
    m_englishFlag->setGeometry(308, 169, 32, 24);
    for (auto [button, flag] :
         {std::pair{m_italianFlag, Flag::Italian}, {m_englishFlag, Flag::British}}) {
        button->setIcon(flagIcon(flag));
        button->setIconSize(QSize(24, 16));
        button->setAutoRaise(true);
    }
    m_automaticStartBox =
        placeControl<QCheckBox>(this, QStringLiteral("CstAut"), QRect(18, 224, 322, 20));
    m_startMinimizedBox =
        placeControl<QCheckBox>(this, QStringLiteral("CStmin"), QRect(18, 244, 322, 20));
    m_lostFrameBox =
        placeControl<QCheckBox>(this, QStringLiteral("ChLost"), QRect(18, 264, 322, 20));
    m_startRecordingBox =
        placeControl<QCheckBox>(this, QStringLiteral("CStRec"), QRect(18, 284, 322, 20));
    m_startWithSystemBox =
        placeControl<QCheckBox>(this, QStringLiteral("CStSys"), QRect(18, 304, 322, 20));

    // Tariff.
    // Below its title, as the other sections' controls: a frame of its own, without a border.
    m_tariffGroup = placeControl<QWidget>(this, QStringLiteral("Ftariff"), kTariffGroup);
    m_tariffKindList =
        makeList(m_tariffGroup, QStringLiteral("Ctariff"),
                 tariffColumns(0, kTariffBandCount - 1, kTariffListTop, kTariffFieldHeight),
                 QStringList(int(kTariffKindTexts.size()), QString()));
    m_tariffKindList->installEventFilter(this);
    for (int band = 0; band < kTariffBandCount; ++band) {
        const QString number = QString::number(band + 1);
        m_priceLabels[band] =
            makeLabel(m_tariffGroup, QStringLiteral("Lbprice") + number,
                      tariffColumns(band, band, kTariffLabelTop, kTariffLabelHeight));
        m_priceFields[band] =
            placeControl<QLineEdit>(m_tariffGroup, QStringLiteral("Tprice") + number,
                                    tariffColumns(band, band, kTariffFieldTop, kTariffFieldHeight));
        m_priceFields[band]->installEventFilter(this);
    }
    m_currencyLabel = makeLabel(
        m_tariffGroup, QStringLiteral("Lbcurrency"),
        tariffColumns(kCurrencyColumn, kCurrencyColumn, kTariffLabelTop, kTariffLabelHeight));
    m_currencyField = placeControl<QLineEdit>(
        m_tariffGroup, QStringLiteral("Tcurrency"),
        tariffColumns(kCurrencyColumn, kCurrencyColumn, kTariffFieldTop, kTariffFieldHeight));
    m_currencyField->installEventFilter(this);

    // Source of the readings.
    m_sourceGroup = new MeterSourceGroup(
        m_services.settings, m_services.meterFinder,
        [this](Setting setting, const QVariant& value) { store(setting, value); }, this);
    m_sourceGroup->setGeometry(8, kSourceTitleTop + 20, 336, MeterSourceGroup::kHeight);

    // Database.
    m_clearButton =
        placeControl<QPushButton>(this, QStringLiteral("CclearDB"), QRect(18, 564, 100, 26));
    m_compactButton =
        placeControl<QPushButton>(this, QStringLiteral("CcompDB"), QRect(129, 564, 100, 26));
    m_exportButton =
        placeControl<QPushButton>(this, QStringLiteral("Cexport"), QRect(240, 564, 100, 26));

    connect(m_interfaceList, &QComboBox::currentIndexChanged, this,
            &OptionsWindow::interfaceChosen);
    connect(m_linePowerList, &QComboBox::currentIndexChanged, this,
            &OptionsWindow::linePowerChosen);
    connect(m_refreshList, &QComboBox::currentIndexChanged, this,
            &OptionsWindow::refreshIntervalChosen);
    connect(m_automaticStartBox, &QCheckBox::clicked, this, &OptionsWindow::automaticStartChosen);
    connect(m_startMinimizedBox, &QCheckBox::clicked, this, &OptionsWindow::startMinimizedChosen);
    connect(m_startRecordingBox, &QCheckBox::clicked, this, &OptionsWindow::startRecordingChosen);
    connect(m_lostFrameBox, &QCheckBox::clicked, this, &OptionsWindow::lostFrameSwitchChosen);
    connect(m_startWithSystemBox, &QCheckBox::clicked, this, &OptionsWindow::startWithSystemChosen);
    connect(m_tariffKindList, &QComboBox::currentIndexChanged, this,
            &OptionsWindow::tariffKindChosen);
    connect(m_italianFlag, &QToolButton::clicked, this, &OptionsWindow::italianChosen);
    connect(m_englishFlag, &QToolButton::clicked, this, &OptionsWindow::englishChosen);
    connect(m_clearButton, &QPushButton::clicked, this, &OptionsWindow::clearDatabase);
    connect(m_compactButton, &QPushButton::clicked, this, &OptionsWindow::compactDatabase);
    connect(m_exportButton, &QPushButton::clicked, this, &OptionsWindow::openExport);
}

// The window shows what is in effect. Filling it applies nothing and stores nothing: opening
// and closing it leaves the settings as they were (the demo's gateway, for one, is never
// stored).
void OptionsWindow::loadSettings()
{
    const Settings& settings = m_services.settings;
    setLanguage(settings.text(Setting::LanguageCode));

    const QSignalBlocker interfaceBlocker(m_interfaceList);
    m_interfaceList->addItems(kInterfaces);
    m_appliedInterface = settings.isOn(Setting::StInterface) ? 1 : 0;
    showInterface(m_appliedInterface == 1);
    m_interfaceList->setCurrentIndex(m_appliedInterface);

    const QSignalBlocker linePowerBlocker(m_linePowerList);
    m_linePowerList->addItems(kLinePowers);
    m_linePowerList->setCurrentIndex(settings.number(Setting::LinePowerIndex));

    const QSignalBlocker refreshBlocker(m_refreshList);
    const QList<int>& refreshChoices = settingSpec(Setting::RefreshSeconds).choices;
    Q_ASSERT(refreshChoices.size() == kRefreshEntries.size());
    m_refreshList->addItems(kRefreshEntries);
    m_refreshList->setCurrentIndex(
        int(refreshChoices.indexOf(settings.number(Setting::RefreshSeconds))));

    m_addressField->setText(settings.text(Setting::ServerAddress));
    m_portField->setText(settings.text(Setting::ServerPort));
    m_acceptedAddress = m_addressField->text();
    m_passwordField->setText(settings.text(Setting::ServerPassword));

    m_automaticStartBox->setChecked(settings.isOn(Setting::StartAutomatic));
    m_startMinimizedBox->setChecked(settings.isOn(Setting::StartMinimized));
    m_startRecordingBox->setChecked(settings.isOn(Setting::StartRecording));
    m_lostFrameBox->setChecked(settings.isOn(Setting::LostFrameSwitch));
    m_startWithSystemBox->setChecked(m_services.autostart.isEnabled());

    const QSignalBlocker tariffKindBlocker(m_tariffKindList);
    m_tariffKind = tariffKind(tariffPrices(settings));
    m_tariffKindList->setCurrentIndex(int(m_tariffKind));
    showTariffKind();
    for (int band = 0; band < kTariffBandCount; ++band)
        showPrice(band);
    m_currencyField->setText(settings.text(Setting::Currency));
    m_currencyField->setPlaceholderText(Settings::localeCurrency());
    m_sourceGroup->loadSettings();
    m_mqttGroup->load();

    showDatabaseButtons();
    placeBottomRight(*this, kBottomMarginPixels);
}

void OptionsWindow::setLanguage(const QString& code)
{
    showCaptions(code);
    emit languageApplied(code);
}

void OptionsWindow::showCaptions(const QString& code)
{
    if (!languageColumn(code))
        return;
    m_languageCode = code;
    const auto text = [&code](Text id) { return textFor(id, code); };
    setWindowTitle(text(Text::OptionsCaption));
    m_connectionTitle->setText(text(Text::OptionsConnection));
    m_programTitle->setText(text(Text::OptionsProgram));
    m_databaseTitle->setText(text(Text::OptionsDatabase));
    m_addressLabel->setText(text(Text::OptionsAddress));
    m_portLabel->setText(text(Text::OptionsPort));
    m_interfaceLabel->setText(text(Text::OptionsInterface));
    m_linePowerLabel->setText(text(Text::OptionsLinePower));
    m_refreshLabel->setText(text(Text::OptionsRefresh));
    m_automaticStartBox->setText(text(Text::OptionsAutoStart));
    m_startMinimizedBox->setText(text(Text::OptionsStartMinimized));
    m_lostFrameBox->setText(text(Text::OptionsLostFrames));
    m_startRecordingBox->setText(text(Text::OptionsStartRecording));
    m_startWithSystemBox->setText(text(Text::OptionsStartWithSystem));
    m_clearButton->setText(text(Text::OptionsClearDb));
    m_compactButton->setText(text(Text::OptionsCompactDb));
    m_exportButton->setText(text(Text::OptionsExportDb));
    m_passwordLabel->setText(text(Text::OptionsPassword));
    m_tariffTitle->setText(text(Text::OptionsTariff));
    for (int kind = 0; kind < int(kTariffKindTexts.size()); ++kind)
        m_tariffKindList->setItemText(kind, text(kTariffKindTexts[kind]));
    m_currencyLabel->setText(text(Text::OptionsCurrency));
    m_sourceTitle->setText(text(Text::OptionsSource));
    m_sourceGroup->setLanguage(code);
    m_mqttGroup->setLanguage(code);
    showTariffKind();
    for (int band = 0; band < kTariffBandCount; ++band)
        showPrice(band);
    // The flag of the language in use cannot be clicked.
    m_italianFlag->setEnabled(code != QStringLiteral("ita"));
    m_englishFlag->setEnabled(code != QStringLiteral("eng"));
}

void OptionsWindow::settingChanged(Setting setting)
{
    if (setting == Setting::LanguageCode)
        showCaptions(m_services.settings.text(Setting::LanguageCode));
}

void OptionsWindow::showInterface(bool stInterface)
{
    // The ST interface sends readings unasked: no refresh, no lost frames, no polling at start.
    m_refreshList->setEnabled(!stInterface);
    m_lostFrameBox->setEnabled(!stInterface);
    m_automaticStartBox->setEnabled(!stInterface);
}

// Only the fields of the kind's prices show. A single price is labelled as such and takes the
// room of the band columns it stands for.
void OptionsWindow::showTariffKind()
{
    const int shown = priceCount(m_tariffKind);
    for (int band = 0; band < kTariffBandCount; ++band) {
        m_priceLabels[band]->setVisible(band < shown);
        m_priceFields[band]->setVisible(band < shown);
    }
    const QRect firstLabel = tariffColumns(0, 0, kTariffLabelTop, kTariffLabelHeight);
    switch (m_tariffKind) {
    case TariffKind::SinglePrice:
        m_priceLabels[0]->setGeometry(
            tariffColumns(0, kTariffBandCount - 1, kTariffLabelTop, kTariffLabelHeight));
        m_priceLabels[0]->setText(textFor(Text::OptionsPricePerKwh, m_languageCode));
        break;
    case TariffKind::TwoBands:
        m_priceLabels[0]->setGeometry(firstLabel);
        m_priceLabels[0]->setText(QStringLiteral("F1"));
        m_priceLabels[1]->setText(QStringLiteral("F23"));
        break;
    case TariffKind::ThreeBands:
        m_priceLabels[0]->setGeometry(firstLabel);
        m_priceLabels[0]->setText(QStringLiteral("F1"));
        m_priceLabels[1]->setText(QStringLiteral("F2"));
        m_priceLabels[2]->setText(QStringLiteral("F3"));
        break;
    }
}

// The price in force of the field's band, written with a dot.
// In the language's own decimals ("0,25" in Italian), without grouping; both separators are
// taken back when typed.
void OptionsWindow::showPrice(int field)
{
    QLocale locale = localeOfLanguage(m_languageCode);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_priceFields[field]->setText(locale.toString(m_services.settings.price(kPriceSettings[field]),
                                                  'g', QLocale::FloatingPointShortest));
}

void OptionsWindow::showDatabaseButtons()
{
    const bool free = !m_services.meter.isRecording() && !m_databaseBusy;
    m_clearButton->setEnabled(free);
    m_compactButton->setEnabled(free);
}

// A value the store cannot keep holds for this run all the same; the user hears of it once
// per opening of the window.
void OptionsWindow::store(Setting setting, const QVariant& value)
{
    Settings& settings = m_services.settings;
    if (settings.set(setting, value) || !Settings::isValid(setting, value))
        return;
    settings.overrideForThisRun(setting, value);
    if (std::exchange(m_toldNotSaved, true))
        return;
    m_services.prompts.message({},
                               textFor(Text::SettingsNotSaved, m_languageCode)
                                   .arg(QDir::toNativeSeparators(settings.fileName())),
                               Prompts::Icon::Exclamation);
}

void OptionsWindow::applyAddress()
{
    const std::optional<QString> accepted = acceptedServerAddress(m_addressField->text());
    if (!accepted) {
        m_addressField->setText(m_acceptedAddress);
        return;
    }
    if (m_addressField->text() != *accepted)
        m_addressField->setText(*accepted);
    m_acceptedAddress = *accepted;
    if (*accepted != m_services.settings.text(Setting::ServerAddress))
        store(Setting::ServerAddress, *accepted);
}

void OptionsWindow::applyPort()
{
    const Settings& settings = m_services.settings;
    // A port no connection can use goes back to the one in effect.
    if (!isUsablePort(m_portField->text())) {
        m_portField->setText(settings.text(Setting::ServerPort));
        return;
    }
    if (m_portField->text() == settings.text(Setting::ServerPort))
        return;
    store(Setting::ServerPort, m_portField->text());
    // As the number it is ("020001" is port 20001).
    m_portField->setText(settings.text(Setting::ServerPort));
}

void OptionsWindow::applyPassword()
{
    const Settings& settings = m_services.settings;
    const QString typed = m_passwordField->text();
    if (typed == settings.text(Setting::ServerPassword))
        return;
    // Its stored form keeps 8 bits of each character: a password beyond them cannot be kept.
    if (!Settings::isValid(Setting::ServerPassword, typed)) {
        m_passwordField->setText(settings.text(Setting::ServerPassword));
        return;
    }
    store(Setting::ServerPassword, typed);
}

// Stores the prices that differ from those in force.
void OptionsWindow::storePrices(const TariffPrices& prices)
{
    for (int band = 0; band < kTariffBandCount; ++band) {
        const Setting setting = kPriceSettings[band];
        const double price = prices.perKwh[band];
        if (price != m_services.settings.price(setting))
            store(setting, price);
    }
}

// The field's price sets the bands the kind gives it: a single price all three, F23 both F2
// and F3. A text that is no price goes back to the price in force.
void OptionsWindow::applyPrice(int field)
{
    if (const std::optional<double> typed = typedPrice(m_priceFields[field]->text())) {
        TariffPrices prices = tariffPrices(m_services.settings);
        prices.perKwh[field] = *typed;
        storePrices(pricedAs(prices, m_tariffKind));
    }
    showPrice(field);
    // The hidden fields follow the bands the shown ones set.
    for (int band = priceCount(m_tariffKind); band < kTariffBandCount; ++band)
        showPrice(band);
}

void OptionsWindow::applyCurrency()
{
    const QString typed = m_currencyField->text().trimmed();
    if (m_currencyField->text() != typed)
        m_currencyField->setText(typed);
    if (typed != m_services.settings.text(Setting::Currency).trimmed())
        store(Setting::Currency, typed);
}

// The prices follow the new kind at once: a single price sets every band to the price shown,
// two bands give F3 the price of F2.
void OptionsWindow::tariffKindChosen(int position)
{
    if (position < 0 || position >= int(kTariffKindTexts.size()) || position == int(m_tariffKind))
        return;
    // A price typed and not yet applied counts in the kind it was typed in.
    for (int field = 0; field < priceCount(m_tariffKind); ++field)
        applyPrice(field);
    m_tariffKind = TariffKind(position);
    storePrices(pricedAs(tariffPrices(m_services.settings), m_tariffKind));
    showTariffKind();
    for (int band = 0; band < kTariffBandCount; ++band)
        showPrice(band);
}

void OptionsWindow::interfaceChosen(int position)
{
    if (position < 0 || position == m_appliedInterface)
        return;
    m_appliedInterface = position;
    const bool stInterface = position != 0;
    showInterface(stInterface);
    store(Setting::StInterface, stInterface);
}

void OptionsWindow::linePowerChosen(int position)
{
    if (position >= 0)
        store(Setting::LinePowerIndex, position);
}

void OptionsWindow::refreshIntervalChosen(int position)
{
    const QList<int>& choices = settingSpec(Setting::RefreshSeconds).choices;
    if (position >= 0 && position < choices.size())
        store(Setting::RefreshSeconds, choices.at(position));
}

void OptionsWindow::automaticStartChosen(bool on)
{
    store(Setting::StartAutomatic, on);
}

void OptionsWindow::startMinimizedChosen(bool on)
{
    store(Setting::StartMinimized, on);
}

void OptionsWindow::startRecordingChosen(bool on)
{
    store(Setting::StartRecording, on);
}

void OptionsWindow::lostFrameSwitchChosen(bool on)
{
    store(Setting::LostFrameSwitch, on);
}

// The autostart entry is the setting: the box shows whether it is there.
void OptionsWindow::startWithSystemChosen(bool on)
{
    QString error;
    if (m_services.autostart.setEnabled(on, &error))
        return;
    m_startWithSystemBox->setChecked(m_services.autostart.isEnabled());
    m_services.prompts.message(
        {}, textFor(Text::OptionsStartWithSystemFailed, m_languageCode).arg(error),
        Prompts::Icon::Exclamation);
}

void OptionsWindow::italianChosen()
{
    store(Setting::LanguageCode, QStringLiteral("ita"));
}

void OptionsWindow::englishChosen()
{
    store(Setting::LanguageCode, QStringLiteral("eng"));
}

void OptionsWindow::clearDatabase()
{
    powerlog::clearDatabase(m_services.database, m_services.prompts, m_languageCode);
}

void OptionsWindow::compactDatabase()
{
    powerlog::compactDatabase(m_services.database, m_services.prompts, m_languageCode);
}

void OptionsWindow::openExport()
{
    if (!m_services.reader || !m_services.files)
        return;
    if (!m_exportWindow) {
        auto* window =
            new ExportWindow({m_services.settings.text(Setting::LanguageCode),
                              m_services.programFolder, *m_services.reader, m_services.prompts,
                              *m_services.files, tariffPrices(m_services.settings)},
                             this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowModality(Qt::ApplicationModal);
        m_exportWindow = window;
    }
    m_exportWindow->show();
    m_exportWindow->raise();
    m_exportWindow->activateWindow();
}

ExportWindow* OptionsWindow::exportWindow() const
{
    return m_exportWindow.data();
}

// A value typed into a field that still has the focus is applied as the window closes. Once.
void OptionsWindow::applyTextFields()
{
    if (m_fieldsApplied || !m_loaded)
        return;
    m_fieldsApplied = true;
    if (m_exportWindow)
        m_exportWindow->close();
    applyAddress();
    applyPort();
    applyPassword();
    for (int field = 0; field < priceCount(m_tariffKind); ++field)
        applyPrice(field);
    applyCurrency();
    m_sourceGroup->applyWhere();
    m_mqttGroup->applyTextFields();
}

// Loaded when first shown, once whoever opened it listens to what it does.
void OptionsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        loadSettings();
    }
}

void OptionsWindow::closeEvent(QCloseEvent* event)
{
    applyTextFields();
    QWidget::closeEvent(event);
    emit closed();
}

bool OptionsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // The lists change only by choosing an entry (the arrow keys still move it).
        if (qobject_cast<QComboBox*>(watched) && typesCharacter(key))
            return true;
        // The port takes digits; backspace and the other editing keys still work.
        if (watched == m_portField && typesCharacter(key) && !typesDigit(key))
            return true;
    } else if (event->type() == QEvent::FocusOut) {
        // The focus moving to another control of the window, not the window losing it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            !m_fieldsApplied) {
            if (watched == m_addressField)
                applyAddress();
            else if (watched == m_portField)
                applyPort();
            else if (watched == m_passwordField)
                applyPassword();
            else if (watched == m_currencyField)
                applyCurrency();
            else if (const auto field = std::ranges::find(m_priceFields, watched);
                     field != m_priceFields.end())
                applyPrice(int(field - m_priceFields.begin()));
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace powerlog
