#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace powerlog {

// One entry of the icon's popup menu. A choice comes back as Tray::menuChosen(id).
struct TrayMenuEntry
{
    int id = 0;
    QString text; // empty for a separator
    bool separator = false;
    bool enabled = true;
    bool isDefault = false; // shown bold: what a double click does

    bool operator==(const TrayMenuEntry&) const = default;
};

// The notification-area icon. Pictures are indices: 0 no link, 1 to 9 power level, 10 busy.
class Tray : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isAvailable() const = 0;
    virtual void showIcon(int picture, const QString& tooltip) = 0;
    virtual void setPicture(int picture, const QString& tooltip) = 0;
    virtual void removeIcon() = 0;
    virtual void showBalloon(int picture, const QString& text, const QString& title) = 0;
    virtual void clearBalloon(int picture) = 0;
    // The popup menu the icon opens on a right click, replacing the previous one.
    virtual void setMenu(const QList<TrayMenuEntry>& entries) = 0;

signals:
    void leftClicked();
    void doubleClicked();
    void menuRequested();
    void balloonClicked();
    void menuChosen(int id);
};

} // namespace powerlog
