#pragma once

#include <QObject>
#include <QString>

namespace powerlog {

// The notification-area icon. Pictures are indices: 0 no link, 1 to 9 power level, 10 busy.
class Tray : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isAvailable() const = 0;
    virtual void TrayAdd(int picture, const QString& tooltip) = 0;
    virtual void TrayModify(int picture, const QString& tooltip) = 0;
    virtual void TrayDelete() = 0;
    virtual void TrayBalloon(int picture, const QString& text, const QString& title) = 0;
    virtual void TrayBalloonClear(int picture) = 0;

signals:
    void leftClicked();
    void doubleClicked();
    void menuRequested();
    void balloonClicked();
};

} // namespace powerlog
