#include "ui/options/mqttgroup.h"

#include "app/config.h"
#include "app/language.h"
#include "ui/common/artwork.h"
#include "ui/common/controls.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <utility>

namespace powerlog {

namespace {

constexpr int kLabelLeft = 10;
constexpr int kLabelWidth = 120;
constexpr int kFieldLeft = 132;
constexpr int kFieldWidth = 200;
constexpr int kRowHeight = 22;

QRect labelAt(int top)
{
    return {kLabelLeft, top, kLabelWidth, kRowHeight};
}

QRect fieldAt(int top, int width = kFieldWidth)
{
    return {kFieldLeft, top, width, kRowHeight};
}

QRect boxAt(int top)
{
    return {kLabelLeft, top, kFieldLeft + kFieldWidth - kLabelLeft, 20};
}

} // namespace

MqttGroup::MqttGroup(const Settings& settings, Store store, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_store(std::move(store))
{
    setObjectName(QStringLiteral("Fmqtt"));
    QLabel* picture = makeLabel(this, QStringLiteral("ImgIcoMqtt"), QRect(0, 0, 18, 18));
    picture->setPixmap(buttonIcon(Button::Refresh).pixmap(QSize(16, 16)));
    m_title = makeLabel(this, QStringLiteral("Lbmqtt"), QRect(22, 0, 300, 18));
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);

    m_hostLabel = makeLabel(this, QStringLiteral("Lbmqtthost"), labelAt(24));
    m_hostField = placeControl<QLineEdit>(this, QStringLiteral("Tmqtthost"), fieldAt(24));
    m_portLabel = makeLabel(this, QStringLiteral("Lbmqttport"), labelAt(50));
    m_portField = placeControl<QLineEdit>(this, QStringLiteral("Tmqttport"), fieldAt(50, 70));
    m_portField->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_portField));
    m_userLabel = makeLabel(this, QStringLiteral("Lbmqttuser"), labelAt(76));
    m_userField = placeControl<QLineEdit>(this, QStringLiteral("Tmqttuser"), fieldAt(76));
    m_passwordLabel = makeLabel(this, QStringLiteral("Lbmqttpwd"), labelAt(102));
    m_passwordField = placeControl<QLineEdit>(this, QStringLiteral("Tmqttpwd"), fieldAt(102));
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_topicLabel = makeLabel(this, QStringLiteral("Lbmqtttopic"), labelAt(128));
    m_topicField = placeControl<QLineEdit>(this, QStringLiteral("Tmqtttopic"), fieldAt(128));
    m_tlsBox = placeControl<QCheckBox>(this, QStringLiteral("Cmqtttls"), boxAt(156));
    m_caFileLabel = makeLabel(this, QStringLiteral("Lbmqttca"), labelAt(180));
    m_caFileField = placeControl<QLineEdit>(this, QStringLiteral("Tmqttca"), fieldAt(180));
    m_discoveryBox = placeControl<QCheckBox>(this, QStringLiteral("Cmqttdisc"), boxAt(208));
    m_commandsBox = placeControl<QCheckBox>(this, QStringLiteral("Cmqttcmd"), boxAt(230));

    for (QLineEdit* field :
         {m_hostField, m_portField, m_userField, m_passwordField, m_topicField, m_caFileField})
        field->installEventFilter(this);
    connect(m_tlsBox, &QCheckBox::clicked, this, [this](bool on) {
        showTls(on);
        m_store(Setting::MqttTls, on);
    });
    connect(m_discoveryBox, &QCheckBox::clicked, this,
            [this](bool on) { m_store(Setting::MqttDiscovery, on); });
    connect(m_commandsBox, &QCheckBox::clicked, this,
            [this](bool on) { m_store(Setting::MqttAllowCommands, on); });
}

MqttGroup::~MqttGroup() = default;

void MqttGroup::load()
{
    m_hostField->setText(m_settings.text(Setting::MqttHost));
    m_portField->setText(m_settings.text(Setting::MqttPort));
    m_userField->setText(m_settings.text(Setting::MqttUser));
    m_passwordField->setText(m_settings.text(Setting::MqttPassword));
    m_topicField->setText(m_settings.text(Setting::MqttTopic));
    m_caFileField->setText(m_settings.text(Setting::MqttCaFile));
    m_tlsBox->setChecked(m_settings.isOn(Setting::MqttTls));
    m_discoveryBox->setChecked(m_settings.isOn(Setting::MqttDiscovery));
    m_commandsBox->setChecked(m_settings.isOn(Setting::MqttAllowCommands));
    showTls(m_tlsBox->isChecked());
}

void MqttGroup::setLanguage(const QString& code)
{
    const auto text = [&code](Text id) { return textFor(id, code); };
    m_title->setText(text(Text::OptionsMqtt));
    m_hostLabel->setText(text(Text::OptionsMqttBroker));
    m_hostField->setPlaceholderText(text(Text::OptionsMqttOff));
    m_portLabel->setText(text(Text::OptionsMqttPort));
    m_userLabel->setText(text(Text::OptionsMqttUser));
    m_passwordLabel->setText(text(Text::OptionsMqttPassword));
    m_topicLabel->setText(text(Text::OptionsMqttTopic));
    m_tlsBox->setText(text(Text::OptionsMqttTls));
    m_caFileLabel->setText(text(Text::OptionsMqttCaFile));
    m_caFileField->setPlaceholderText(text(Text::OptionsMqttSystemCas));
    m_discoveryBox->setText(text(Text::OptionsMqttDiscovery));
    m_commandsBox->setText(text(Text::OptionsMqttCommands));
}

void MqttGroup::applyTextFields()
{
    for (QLineEdit* field :
         {m_hostField, m_portField, m_userField, m_passwordField, m_topicField, m_caFileField})
        apply(field);
}

// The CA file counts only with TLS.
void MqttGroup::showTls(bool on)
{
    m_caFileLabel->setEnabled(on);
    m_caFileField->setEnabled(on);
}

// Stores the field's text when it differs from the value in force; a text the setting does not
// take (a port out of range, a topic with a wildcard) goes back to that value.
void MqttGroup::apply(QLineEdit* field)
{
    Setting setting = Setting::MqttHost;
    QString typed = field->text();
    if (field == m_hostField) {
        typed = typed.trimmed();
    } else if (field == m_portField) {
        setting = Setting::MqttPort;
        if (!isUsablePort(typed))
            typed.clear(); // refused below
    } else if (field == m_userField) {
        setting = Setting::MqttUser;
    } else if (field == m_passwordField) {
        setting = Setting::MqttPassword;
    } else if (field == m_topicField) {
        setting = Setting::MqttTopic;
        typed = typed.trimmed();
    } else if (field == m_caFileField) {
        setting = Setting::MqttCaFile;
        typed = typed.trimmed();
    }
    if (!Settings::isValid(setting, typed)) {
        field->setText(m_settings.text(setting));
        return;
    }
    if (typed != m_settings.text(setting))
        m_store(setting, typed);
    // As it is in force ("01883" is port 1883).
    field->setText(m_settings.text(setting));
}

bool MqttGroup::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        // The focus moving to another control of the window, not the window losing it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            if (auto* field = qobject_cast<QLineEdit*>(watched))
                apply(field);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace powerlog
