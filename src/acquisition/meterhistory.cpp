#include "acquisition/meterhistory.h"

#include "acquisition/databasewriter.h"
#include "app/clock.h"
#include "gateway/commandsession.h"
#include "gateway/meterframes.h"
#include "gateway/monitorsession.h"

#include <QPointer>

namespace powerlog {

using meterframes::MeterValue;

MeterHistoryFetcher::MeterHistoryFetcher(const QString& where, CommandSession& command,
                                         MonitorSession& monitor, DatabaseWriter& writer,
                                         const Clock& clock, QObject* parent)
    : QObject(parent), m_where(where), m_meter(meterframes::meterNumber(where).value_or(0)),
      m_command(command), m_writer(writer), m_clock(clock)
{
    m_eventWait.setSingleShot(true);
    connect(&m_eventWait, &QTimer::timeout, this, [this] {
        if (m_step == Step::Hours)
            finishDay();
        else if (m_step != Step::None)
            finishMonth();
    });
    connect(&command, &CommandSession::frameReceived, this, &MeterHistoryFetcher::takeFrame);
    connect(&monitor, &MonitorSession::frameReceived, this, &MeterHistoryFetcher::takeFrame);
}

MeterHistoryFetcher::~MeterHistoryFetcher() = default;

void MeterHistoryFetcher::setCompleteDays(const QSet<QDate>& days)
{
    m_complete = days;
}

void MeterHistoryFetcher::start()
{
    stop();
    if (m_meter == 0)
        return;
    m_running = true;
    m_today = m_clock.now().date();
    for (int i = 0; i < kDays; ++i) {
        const QDate date = m_today.addDays(-i);
        if (!m_complete.contains(date))
            m_days.append(date);
    }
    next();
}

void MeterHistoryFetcher::stop()
{
    ++m_run;
    m_running = false;
    m_days.clear();
    m_monthsPlanned = false;
    m_months.clear();
    m_failures = 0;
    m_step = Step::None;
    m_waitingEvents = false;
    m_eventWait.stop();
    m_hours.clear();
    m_monthTotals.clear();
}

void MeterHistoryFetcher::next()
{
    // A frame of an earlier run still with the session goes first: its answer comes before
    // anything sent now, and only one of ours is ever waiting.
    if (!m_running || m_outstanding || m_step != Step::None)
        return;
    if (!m_days.isEmpty()) {
        askDay(m_days.first());
        return;
    }
    if (!m_monthsPlanned) {
        planMonths();
        m_monthsPlanned = true;
    }
    if (!m_months.isEmpty()) {
        askMonth();
        return;
    }
    end(true);
}

void MeterHistoryFetcher::send(const QString& frame, std::function<void(bool ok)> then)
{
    m_outstanding = true;
    const quint64 run = m_run;
    const QPointer<MeterHistoryFetcher> alive(this);
    m_command.send(frame, [this, alive, run, then = std::move(then)](bool ok) {
        if (!alive)
            return;
        m_outstanding = false;
        if (run != m_run)
            next();
        else
            then(ok);
    });
}

void MeterHistoryFetcher::askDay(const QDate& date)
{
    m_step = Step::Hours;
    m_date = date;
    const auto byCommand = [this] {
        send(meterframes::hourlyHistoryCommand(m_where, m_date.month(), m_date.day()),
             [this](bool ok) {
                 if (!ok)
                     failed();
                 else if (dayFull(m_date))
                     finishDay();
                 else
                     waitForEvents();
             });
    };
    if (m_commandForm) {
        byCommand();
        return;
    }
    send(meterframes::hourlyHistoryRequest(m_where, date.month(), date.day()),
         [this, byCommand](bool ok) {
             if (ok) {
                 finishDay(); // the hours came before the ACK, on the same session
                 return;
             }
             m_commandForm = true;
             byCommand();
         });
}

void MeterHistoryFetcher::planMonths()
{
    const auto plan = [this](Step step, int month) {
        for (const QDate& date : monthDays(step, month)) {
            if (!m_complete.contains(date) && !m_totalsStored.contains(date)) {
                m_months.append({step, month});
                return;
            }
        }
    };
    for (int month = m_today.month(); month >= 1; --month)
        plan(Step::ThisYear, month);
    for (int month = 12; month >= 1; --month)
        plan(Step::LastYear, month);
}

void MeterHistoryFetcher::askMonth()
{
    m_step = m_months.first().first;
    m_month = m_months.first().second;
    m_monthTotals.clear();
    const QString frame = m_step == Step::ThisYear
                              ? meterframes::dayTotalsThisYearCommand(m_where, m_month)
                              : meterframes::dayTotalsLastYearCommand(m_where, m_month);
    send(frame, [this](bool ok) {
        if (!ok)
            failed();
        else if (monthFull())
            finishMonth();
        else
            waitForEvents();
    });
}

void MeterHistoryFetcher::waitForEvents()
{
    m_waitingEvents = true;
    m_eventWait.start(m_eventWaitMs);
}

void MeterHistoryFetcher::takeFrame(const QString& frame)
{
    if (!m_running)
        return;
    const std::optional<MeterValue> value = meterframes::parseMeterValue(frame);
    if (value && value->meter == m_meter)
        takeValue(*value);
}

void MeterHistoryFetcher::takeValue(const MeterValue& value)
{
    switch (value.kind) {
    case MeterValue::Kind::HourOfDay:
    case MeterValue::Kind::DayOfHistory: {
        const QDate date = historyDate(value.month, value.day);
        if (!date.isValid() || m_complete.contains(date))
            return;
        DayHours& day = m_hours[date];
        if (value.kind == MeterValue::Kind::HourOfDay)
            day.hours.insert(value.hour, value.value);
        else
            day.total = value.value;
        if (m_waitingEvents && m_step == Step::Hours && date == m_date && dayFull(date))
            finishDay();
        return;
    }
    case MeterValue::Kind::DayThisYear:
    case MeterValue::Kind::DayLastYear: {
        const Step step =
            value.kind == MeterValue::Kind::DayThisYear ? Step::ThisYear : Step::LastYear;
        if (step != m_step || value.month != m_month)
            return;
        const int year = m_today.year() - (step == Step::LastYear ? 1 : 0);
        const QDate date(year, value.month, value.day);
        if (!date.isValid() || date >= m_today)
            return;
        m_monthTotals.insert(date, value.value);
        if (m_waitingEvents && monthFull())
            finishMonth();
        return;
    }
    default:
        return;
    }
}

bool MeterHistoryFetcher::dayFull(const QDate& date) const
{
    const auto it = m_hours.constFind(date);
    if (it == m_hours.cend() || !it->total)
        return false;
    // Today has only the hours already over; the total ends them.
    return it->hours.size() == 24 || date == m_today;
}

bool MeterHistoryFetcher::monthFull() const
{
    return m_monthTotals.size() >= monthDays(m_step, m_month).size();
}

void MeterHistoryFetcher::finishDay()
{
    m_eventWait.stop();
    m_waitingEvents = false;
    m_step = Step::None;
    m_days.removeOne(m_date);
    const DayHours day = m_hours.take(m_date);
    if (day.hours.isEmpty() && !day.total) {
        failed();
        return;
    }
    m_failures = 0;
    MeterHistory history;
    for (auto it = day.hours.cbegin(); it != day.hours.cend(); ++it)
        history.hours.append({m_date, it.key(), it.value()});
    QList<QDate> complete;
    if (day.hours.size() == 24)
        complete.append(m_date);
    QList<QDate> totals;
    // Today's total only counts the hours over so far: the day totals come once it has ended.
    if (day.total && m_date != m_today && !m_totalsStored.contains(m_date)) {
        history.days.append({m_date, *day.total});
        totals.append(m_date);
    }
    store(history, complete, totals);
    next();
}

void MeterHistoryFetcher::finishMonth()
{
    m_eventWait.stop();
    m_waitingEvents = false;
    m_step = Step::None;
    if (!m_months.isEmpty())
        m_months.removeFirst();
    const QMap<QDate, qint64> received = std::exchange(m_monthTotals, {});
    if (received.isEmpty()) {
        failed();
        return;
    }
    m_failures = 0;
    MeterHistory history;
    QList<QDate> totals;
    for (auto it = received.cbegin(); it != received.cend(); ++it) {
        if (m_complete.contains(it.key()) || m_totalsStored.contains(it.key()))
            continue;
        history.days.append({it.key(), it.value()});
        totals.append(it.key());
    }
    store(history, {}, totals);
    next();
}

void MeterHistoryFetcher::failed()
{
    // The request was refused or went unanswered: what it was for waits for the next start.
    if (m_step == Step::Hours) {
        m_hours.remove(m_date);
        m_days.removeOne(m_date);
    } else if (m_step != Step::None && !m_months.isEmpty()) {
        m_months.removeFirst();
        m_monthTotals.clear();
    }
    m_eventWait.stop();
    m_waitingEvents = false;
    m_step = Step::None;
    if (++m_failures >= kMaxFailures)
        end(false);
    else
        next();
}

void MeterHistoryFetcher::store(const MeterHistory& history, const QList<QDate>& complete,
                                const QList<QDate>& totals)
{
    if (history.hours.isEmpty() && history.days.isEmpty())
        return;
    // Counted as held at once, so that a stop and start before the write ends asks none again;
    // a write that fails gives them back.
    for (const QDate& date : complete)
        m_complete.insert(date);
    for (const QDate& date : totals)
        m_totalsStored.insert(date);
    const QPointer<MeterHistoryFetcher> alive(this);
    m_writer.storeMeterHistory(history, [this, alive, complete, totals](const DatabaseResult& r) {
        if (!alive || r.ok())
            return;
        for (const QDate& date : complete)
            m_complete.remove(date);
        for (const QDate& date : totals)
            m_totalsStored.remove(date);
    });
    emit historyStored(history);
}

void MeterHistoryFetcher::end(bool ok)
{
    m_running = false;
    m_step = Step::None;
    emit finished(ok);
}

QDate MeterHistoryFetcher::historyDate(int month, int day) const
{
    // The gateway answers the latest month and day not after today.
    QDate date(m_today.year(), month, day);
    if (!date.isValid() || date > m_today)
        date = QDate(m_today.year() - 1, month, day);
    if (!date.isValid() || date <= m_today.addDays(-kDays))
        return {};
    return date;
}

QList<QDate> MeterHistoryFetcher::monthDays(Step step, int month) const
{
    const int year = m_today.year() - (step == Step::LastYear ? 1 : 0);
    QList<QDate> days;
    for (QDate date(year, month, 1); date.isValid() && date.month() == month && date < m_today;
         date = date.addDays(1))
        days.append(date);
    return days;
}

} // namespace powerlog
