#pragma once

// Test stand-ins for the platform seams: they record what the program asked for and answer
// questions from a script, so no test waits on a dialog or touches the desktop.

#include "app/clock.h"
#include "app/desktop.h"
#include "app/filedialogs.h"
#include "app/prompts.h"
#include "app/tray.h"

#include <QList>
#include <QQueue>
#include <QStringList>

namespace powerlog::test {

class RecordingPrompts final : public Prompts
{
public:
    struct Shown
    {
        QString title;
        QString text;
        Icon icon;
        bool question = false;
    };

    void message(const QString& title, const QString& text, Icon icon) override
    {
        shown.append({title, text, icon, false});
    }
    // Answers at once, from the queue.
    void askYesNo(const QString& title, const QString& text,
                  std::function<void(bool yes)> answer) override
    {
        shown.append({title, text, Icon::Question, true});
        const bool yes = answers.isEmpty() ? true : answers.dequeue();
        if (answer)
            answer(yes);
    }

    QStringList texts() const
    {
        QStringList list;
        for (const auto& s : shown)
            list << s.text;
        return list;
    }

    QList<Shown> shown;
    QQueue<bool> answers; // Yes = true; an empty queue answers Yes
};

// Records every save question and answers from `answers` (an empty queue cancels).
class RecordingFileDialogs final : public FileDialogs
{
public:
    struct Asked
    {
        QString title;
        QString suggested;
        QString filter;
    };

    void askSaveFile(const QString& title, const QString& suggested, const QString& filter,
                     std::function<void(const QString& path)> chosen) override
    {
        asked.append({title, suggested, filter});
        chosen(answers.isEmpty() ? QString() : answers.dequeue());
    }

    QList<Asked> asked;
    QQueue<QString> answers;
};

// Records every address it is asked to open and answers with `result`.
class RecordingDesktop final : public Desktop
{
public:
    bool open(const QUrl& target) override
    {
        opened.append(target);
        return result;
    }
    QList<QUrl> opened;
    bool result = true; // false: the desktop could not open it
};

class FixedClock final : public Clock
{
public:
    explicit FixedClock(QDateTime t = QDateTime(QDate(2026, 12, 5), QTime(10, 16, 26)))
        : time(std::move(t))
    {
    }
    QDateTime now() const override { return time; }
    QDateTime time;
};

class RecordingTray final : public Tray
{
public:
    struct Call
    {
        QString op;
        int picture = -1;
        QString text;
        QString title;
    };

    bool isAvailable() const override { return available; }
    void showIcon(int picture, const QString& tooltip) override
    {
        present = true;
        calls.append({QStringLiteral("add"), picture, tooltip, {}});
    }
    void setPicture(int picture, const QString& tooltip) override
    {
        calls.append({QStringLiteral("modify"), picture, tooltip, {}});
    }
    void removeIcon() override
    {
        present = false;
        calls.append({QStringLiteral("delete"), -1, {}, {}});
    }
    void showBalloon(int picture, const QString& text, const QString& title) override
    {
        calls.append({QStringLiteral("balloon"), picture, text, title});
    }
    void clearBalloon(int picture) override
    {
        calls.append({QStringLiteral("balloonClear"), picture, {}, {}});
    }

    void setMenu(const QList<TrayMenuEntry>& entries) override { menu = entries; }

    int lastPicture() const { return calls.isEmpty() ? -1 : calls.last().picture; }
    // The texts of the menu in order, "-" for a separator.
    QStringList menuTexts() const
    {
        QStringList texts;
        for (const TrayMenuEntry& entry : menu)
            texts << (entry.separator ? QStringLiteral("-") : entry.text);
        return texts;
    }

    QList<TrayMenuEntry> menu;
    bool available = true;
    bool present = false;
    QList<Call> calls;
};

} // namespace powerlog::test
