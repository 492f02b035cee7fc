#include "ui/common/platform.h"

#include "ui/common/artwork.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMenu>
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
    const QString shownTitle = programTitle(title);
    forgetClosedBoxes();
    for (OpenMessage& open : m_open) {
        if (open.title == shownTitle && open.text == text && open.icon == icon) {
            // The same words again: the box already says them, it only counts the repeat.
            ++open.count;
            open.box->setText(text + QStringLiteral("\n(%1%2)").arg(QChar(0x00D7)).arg(open.count));
            return;
        }
    }
    // Shown without a nested event loop: messages come from inside the sessions' and the
    // database's work, which must not be re-entered while the box is up.
    auto* box = new QMessageBox(boxIcon(icon), shownTitle, text, QMessageBox::Ok,
                                QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    m_open.push_back({shownTitle, text, icon, box, 1});
}

// A box counts as open while it is on screen; once closed, the same message opens a new one.
void MessageBoxPrompts::forgetClosedBoxes()
{
    std::erase_if(m_open,
                  [](const OpenMessage& open) { return !open.box || !open.box->isVisible(); });
}

void MessageBoxPrompts::askYesNo(const QString& title, const QString& text,
                                 std::function<void(bool yes)> answer)
{
    auto* box = new QMessageBox(QMessageBox::Question, programTitle(title), text,
                                QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Escape presses No; a box closed from its title bar has no button clicked yet when it
    // finishes, and counts as No too, as it did when the question waited for its box.
    QObject::connect(box, &QMessageBox::finished, box, [box, answer = std::move(answer)] {
        QAbstractButton* clicked = box->clickedButton();
        const bool yes = clicked && box->standardButton(clicked) != QMessageBox::No;
        if (answer)
            answer(yes);
    });
    box->open();
}

void SystemFileDialogs::askSaveFile(const QString& title, const QString& suggested,
                                    const QString& filter,
                                    std::function<void(const QString& path)> chosen)
{
    auto* dialog = new QFileDialog(QApplication::activeWindow(), title, suggested, filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // Callers write to the file chosen without asking again (the export, a chart's image).
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    QObject::connect(
        dialog, &QFileDialog::finished, dialog, [dialog, chosen = std::move(chosen)](int result) {
            const QStringList files = dialog->selectedFiles();
            if (chosen)
                chosen(result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString());
        });
    dialog->open();
}

bool SystemDesktop::open(const QUrl& target)
{
    return QDesktopServices::openUrl(target);
}

SystemTray::SystemTray(QObject* parent)
    : Tray(parent), m_icon(std::make_unique<QSystemTrayIcon>(this))
{
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                m_balloonClicks.noteIconActivated();
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
    connect(m_icon.get(), &QSystemTrayIcon::messageClicked, &m_balloonClicks,
            &BalloonClickFilter::noteMessageClicked);
    connect(&m_balloonClicks, &BalloonClickFilter::balloonClicked, this, &Tray::balloonClicked);
}

SystemTray::~SystemTray() = default;

void SystemTray::setMenu(const QList<TrayMenuEntry>& entries)
{
    if (m_menu && entries == m_entries)
        return;
    m_entries = entries;
    if (!m_menu) {
        m_menu = std::make_unique<QMenu>();
        m_icon->setContextMenu(m_menu.get());
    }
    m_menu->clear();
    for (const TrayMenuEntry& entry : entries) {
        if (entry.separator) {
            m_menu->addSeparator();
            continue;
        }
        QAction* action = m_menu->addAction(entry.text);
        action->setEnabled(entry.enabled);
        if (entry.isDefault) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
            m_menu->setDefaultAction(action);
        }
        const int id = entry.id;
        connect(action, &QAction::triggered, this, [this, id] { emit menuChosen(id); });
    }
}

bool SystemTray::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTray::showIcon(int picture, const QString& tooltip)
{
    setPicture(picture, tooltip);
    m_icon->show();
}

void SystemTray::setPicture(int picture, const QString& tooltip)
{
    showPicture(picture);
    const QString shown = trayTooltip(tooltip);
    if (m_icon->toolTip() != shown)
        m_icon->setToolTip(shown);
}

// Every reading modifies the icon; the desktop redraws it only when the picture changed.
void SystemTray::showPicture(int picture)
{
    if (picture == m_picture)
        return;
    m_picture = picture;
    m_icon->setIcon(trayPicture(picture));
}

void SystemTray::removeIcon()
{
    m_icon->hide();
}

void SystemTray::showBalloon(int picture, const QString& text, const QString& title)
{
    clearBalloon(picture);
    // Balloon texts use CR LF line breaks; the desktop wants plain new lines.
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_icon->showMessage(title.left(63), body.left(255), QSystemTrayIcon::Information, 10000);
    m_balloonShown = true;
}

void SystemTray::clearBalloon(int picture)
{
    showPicture(picture);
    if (m_balloonShown) {
        // Replacing the message with an empty one withdraws it where the desktop allows.
        m_icon->showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 1);
        m_balloonShown = false;
    }
}

} // namespace powerlog
