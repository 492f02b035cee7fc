#pragma once

#include "acquisition/energydatabase.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

namespace powerlog {

class Clock;
class CommandSession;
class DatabaseWriter;
class MonitorSession;

namespace meterframes {
struct MeterValue;
}

// Fetches what an energy meter keeps of its past and hands it to the writer, in the background
// and one request at a time, so that live readings keep their turn on the command session.
//
// After start(), every day of the last 365 (today included) that is not held complete is asked
// for its hours, newest first: "*#18*5N*511#M#D##", answered on the command session; when the
// gateway refuses that form, "*18*57#M#D*5N##", answered by monitor events, from then on. Then
// the day totals of the months of this year and of last year that still have days without them
// ("*18*59#M*5N##", "*18*510#M*5N##", answered by monitor events). Each day is stored once;
// stop() drops what is under way and the next start() asks again only what is not held.
class MeterHistoryFetcher : public QObject
{
    Q_OBJECT
public:
    MeterHistoryFetcher(const QString& where, CommandSession& command, MonitorSession& monitor,
                        DatabaseWriter& writer, const Clock& clock, QObject* parent = nullptr);
    ~MeterHistoryFetcher() override;

    // Days whose 24 hours are already in the file; read by the next start(). Days the fetcher
    // stores whole join them by themselves.
    void setCompleteDays(const QSet<QDate>& days);
    QSet<QDate> completeDays() const { return m_complete; }

    // How long to wait for monitor events after a command's ACK when fewer came than expected.
    void setEventWaitMs(int ms) { m_eventWaitMs = ms; }

    // A request refused or unanswered this many times in a row ends the run.
    static constexpr int kMaxFailures = 3;
    static constexpr int kDays = 365;

    void start();
    void stop();
    bool isRunning() const { return m_running; }

signals:
    // A part of the history was handed to the writer.
    void historyStored(const powerlog::MeterHistory& history);
    // The run asked everything it had to, or gave up after kMaxFailures refusals in a row.
    void finished(bool ok);

private:
    enum class Step { None, Hours, ThisYear, LastYear };
    struct DayHours
    {
        QMap<int, qint64> hours; // by hour 0..23
        std::optional<qint64> total;
    };

    void next();
    // Sends one frame of ours; `then` runs with its result unless the run changed meanwhile.
    void send(const QString& frame, std::function<void(bool ok)> then);
    void askDay(const QDate& date);
    void askMonth();
    void planMonths();
    void waitForEvents();
    void takeFrame(const QString& frame);
    void takeValue(const meterframes::MeterValue& value);
    bool dayFull(const QDate& date) const;
    bool monthFull() const;
    void finishDay();
    void finishMonth();
    void failed();
    void store(const MeterHistory& history, const QList<QDate>& complete,
               const QList<QDate>& totals);
    void end(bool ok);
    QDate historyDate(int month, int day) const;
    QList<QDate> monthDays(Step step, int month) const;

    QString m_where;
    int m_meter = 0;
    CommandSession& m_command;
    DatabaseWriter& m_writer;
    const Clock& m_clock;

    QSet<QDate> m_complete;     // days whose 24 hours are held
    QSet<QDate> m_totalsStored; // days whose total was handed to the writer
    bool m_commandForm = false; // the gateway refused the "*#18*…*511#" form
    int m_eventWaitMs = 5000;

    bool m_running = false;
    bool m_outstanding = false; // a frame of ours is with the command session
    quint64 m_run = 0;          // changes on every start and stop: late answers are dropped
    QDate m_today;
    QList<QDate> m_days; // still to ask, newest first
    bool m_monthsPlanned = false;
    QList<QPair<Step, int>> m_months; // still to ask
    int m_failures = 0;

    Step m_step = Step::None; // the request under way
    QDate m_date;             // its day (Hours)
    int m_month = 0;          // its month (ThisYear, LastYear)
    bool m_waitingEvents = false;
    QTimer m_eventWait;

    QMap<QDate, DayHours> m_hours;     // hours received, by day
    QMap<QDate, qint64> m_monthTotals; // day totals of the month under way
};

} // namespace powerlog
