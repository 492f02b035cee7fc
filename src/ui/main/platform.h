#pragma once

#include "app/desktop.h"
#include "app/prompts.h"
#include "app/tray.h"

#include <memory>

class QSystemTrayIcon;
class QWidget;

namespace powerlog {

// Real message boxes, owned by the window that is active when they show. Messages do not wait
// for their OK; questions do, since their caller needs the answer.
class MessageBoxPrompts final : public Prompts
{
public:
    void message(const QString& title, const QString& text, Icon icon) override;
    bool askYesNo(const QString& title, const QString& text) override;
};

class SystemDesktop final : public Desktop
{
public:
    void open(const QUrl& target) override;
};

// The notification-area icon on QSystemTrayIcon.
class SystemTray final : public Tray
{
    Q_OBJECT
public:
    explicit SystemTray(QObject* parent = nullptr);
    ~SystemTray() override;

    bool isAvailable() const override;
    void TrayAdd(int picture, const QString& tooltip) override;
    void TrayModify(int picture, const QString& tooltip) override;
    void TrayDelete() override;
    void TrayBalloon(int picture, const QString& text, const QString& title) override;
    void TrayBalloonClear(int picture) override;

private:
    std::unique_ptr<QSystemTrayIcon> m_icon;
    bool m_balloonShown = false;
};

} // namespace powerlog
