#pragma once

#include "app/balloonclickfilter.h"
#include "app/desktop.h"
#include "app/filedialogs.h"
#include "app/prompts.h"
#include "app/tray.h"

#include <QPointer>
#include <memory>
#include <vector>

class QMenu;
class QMessageBox;
class QSystemTrayIcon;
class QWidget;

namespace powerlog {

// Real message boxes, owned by the window that is active when they show. Nothing waits for
// them: messages are shown and left to the user, questions answer through their callback.
//
// A message already on screen (same title, text and icon) is not shown again: its box counts
// the repeats on a last line "(×N)", so a fault that repeats with every reading leaves one box
// instead of thousands. Once that box is closed, the next such message opens a new one.
class MessageBoxPrompts final : public Prompts
{
public:
    void message(const QString& title, const QString& text, Icon icon) override;
    void askYesNo(const QString& title, const QString& text,
                  std::function<void(bool yes)> answer) override;

private:
    struct OpenMessage
    {
        QString title;
        QString text;
        Icon icon;
        QPointer<QMessageBox> box;
        int count;
    };

    void forgetClosedBoxes();

    std::vector<OpenMessage> m_open;
};

class SystemFileDialogs final : public FileDialogs
{
public:
    void askSaveFile(const QString& title, const QString& suggested, const QString& filter,
                     std::function<void(const QString& path)> chosen) override;
};

class SystemDesktop final : public Desktop
{
public:
    bool open(const QUrl& target) override;
};

// The notification-area icon on QSystemTrayIcon. A press on the icon while a balloon shows is
// the icon's only, though Qt reports it as a click on the balloon too (see BalloonClickFilter).
class SystemTray final : public Tray
{
    Q_OBJECT
public:
    explicit SystemTray(QObject* parent = nullptr);
    ~SystemTray() override;

    bool isAvailable() const override;
    void showIcon(int picture, const QString& tooltip) override;
    void setPicture(int picture, const QString& tooltip) override;
    void removeIcon() override;
    void showBalloon(int picture, const QString& text, const QString& title) override;
    void clearBalloon(int picture) override;
    void setMenu(const QList<TrayMenuEntry>& entries) override;

private:
    void showPicture(int picture);

    std::unique_ptr<QMenu> m_menu; // outlives the icon that shows it
    BalloonClickFilter m_balloonClicks;
    std::unique_ptr<QSystemTrayIcon> m_icon; // a child as well, so that findChild finds it
    QList<TrayMenuEntry> m_entries;
    int m_picture = -1;
    bool m_balloonShown = false;
};

} // namespace powerlog
