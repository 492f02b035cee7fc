#pragma once

#include "app/settings.h"

#include <QString>
#include <QVariant>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace powerlog {

// The options window's group of the MQTT broker readings are published to for Home Assistant:
// broker and port, user and password, topic, TLS and its CA file, discovery and load commands.
// As the rest of the window, every change is stored at once through `store`; text fields apply
// their text when they lose the focus and when the window closes (applyTextFields).
class MqttGroup : public QWidget
{
    Q_OBJECT
public:
    using Store = std::function<void(Setting, const QVariant&)>;

    MqttGroup(const Settings& settings, Store store, QWidget* parent = nullptr);
    ~MqttGroup() override;

    // The group's height: the window places it by its width and this.
    static constexpr int kHeight = 256;

    // Shows the settings in force; stores nothing.
    void load();
    void setLanguage(const QString& code);
    void applyTextFields();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply(QLineEdit* field);
    void showTls(bool on);

    const Settings& m_settings;
    Store m_store;

    QLabel* m_title = nullptr;
    QLabel* m_hostLabel = nullptr;
    QLabel* m_portLabel = nullptr;
    QLabel* m_userLabel = nullptr;
    QLabel* m_passwordLabel = nullptr;
    QLabel* m_topicLabel = nullptr;
    QLabel* m_caFileLabel = nullptr;
    QLineEdit* m_hostField = nullptr;
    QLineEdit* m_portField = nullptr;
    QLineEdit* m_userField = nullptr;
    QLineEdit* m_passwordField = nullptr;
    QLineEdit* m_topicField = nullptr;
    QLineEdit* m_caFileField = nullptr;
    QCheckBox* m_tlsBox = nullptr;
    QCheckBox* m_discoveryBox = nullptr;
    QCheckBox* m_commandsBox = nullptr;
};

} // namespace powerlog
