#include "ui/main/platform.h"

#include "ui/main/artwork.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QSystemTrayIcon>

namespace powerlog {

namespace {

QString programTitle(const QString& title)
{
    return title.isEmpty() ? QApplication::applicationName() : title;
}

QMessageBox::Icon boxIcon(Prompts::Icon icon)
{
    switch (icon) {
    case Prompts::Icon::Information:
        return QMessageBox::Information;
    case Prompts::Icon::Exclamation:
        return QMessageBox::Warning;
    case Prompts::Icon::Critical:
        return QMessageBox::Critical;
    case Prompts::Icon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// Tooltips are limited to 127 characters; leading and trailing blanks are not shown.
QString trayTooltip(const QString& text)
{
    return text.trimmed().left(127);
}

} // namespace

void MessageBoxPrompts::message(const QString& title, const QString& text, Icon icon)
{
    // Shown without a nested event loop: messages come from inside the sessions' and the
    // database's work, which must not be re-entered while the box is up.
    auto* box = new QMessageBox(boxIcon(icon), programTitle(title), text, QMessageBox::Ok,
                                QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

bool MessageBoxPrompts::askYesNo(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, programTitle(title), text,
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    return box.exec() != QMessageBox::No;
}

void SystemDesktop::open(const QUrl& target)
{
    QDesktopServices::openUrl(target);
}

SystemTray::SystemTray(QObject* parent) : Tray(parent), m_icon(new QSystemTrayIcon)
{
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    emit leftClicked();
                    break;
                case QSystemTrayIcon::DoubleClick:
                    emit doubleClicked();
                    break;
                case QSystemTrayIcon::Context:
                    emit menuRequested();
                    break;
                default:
                    break;
                }
            });
    connect(m_icon.get(), &QSystemTrayIcon::messageClicked, this, &Tray::balloonClicked);
}

SystemTray::~SystemTray() = default;

bool SystemTray::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTray::TrayAdd(int picture, const QString& tooltip)
{
    m_icon->setIcon(trayPicture(picture));
    m_icon->setToolTip(trayTooltip(tooltip));
    m_icon->show();
}

void SystemTray::TrayModify(int picture, const QString& tooltip)
{
    m_icon->setIcon(trayPicture(picture));
    m_icon->setToolTip(trayTooltip(tooltip));
}

void SystemTray::TrayDelete()
{
    m_icon->hide();
}

void SystemTray::TrayBalloon(int picture, const QString& text, const QString& title)
{
    TrayBalloonClear(picture);
    // Balloon texts use CR LF line breaks; the desktop wants plain new lines.
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_icon->showMessage(title.left(63), body.left(255), QSystemTrayIcon::Information, 10000);
    m_balloonShown = true;
}

void SystemTray::TrayBalloonClear(int picture)
{
    m_icon->setIcon(trayPicture(picture));
    if (m_balloonShown) {
        // Replacing the message with an empty one withdraws it where the desktop allows.
        m_icon->showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 1);
        m_balloonShown = false;
    }
}

} // namespace powerlog
