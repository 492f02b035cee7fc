#include "meterbank.h"

#include "gateway/frames.h"
#include "gateway/meterframes.h"
#include "householdprofile.h"

#include <QRegularExpression>
#include <cmath>

namespace powerlog::sim {

namespace {

constexpr int kMostMinutes = 255;

// A well-mixed 64-bit value of the inputs (SplitMix64 over them in turn).
quint64 mix(quint64 state, quint64 value)
{
    quint64 z = state + value + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

QString where(int meter)
{
    return QStringLiteral("5%1").arg(meter);
}

// The most recent day M/D that is not after today: this year's, or else last year's.
std::optional<QDate> latestDay(int month, int day, QDate today)
{
    const QDate thisYear(today.year(), month, day);
    if (thisYear.isValid() && thisYear <= today)
        return thisYear;
    const QDate lastYear(today.year() - 1, month, day);
    if (lastYear.isValid())
        return lastYear;
    return std::nullopt;
}

} // namespace

MeterBank::MeterBank(quint32 seed) : m_seed(seed) {}

void MeterBank::setMeters(const QList<int>& numbers)
{
    m_meters.clear();
    for (const int n : numbers) {
        if (n >= 1 && n <= 255 && !m_meters.contains(n))
            m_meters.append(n);
    }
}

double MeterBank::scale(int meter)
{
    return 1.0 / (1 + (meter - 1) % 4);
}

int MeterBank::powerWatts(int meter, int householdWatts) const
{
    return int(std::lround(householdWatts * scale(meter)));
}

QDate MeterBank::installed(const QDateTime& now)
{
    return QDate(now.date().year() - 2, 1, 1);
}

qint64 MeterBank::hourWh(int meter, QDate date, int hour) const
{
    const quint64 h =
        mix(mix(mix(m_seed, quint64(meter)), quint64(date.toJulianDay())), quint64(hour));
    // From 75 % to 125 % of the household's typical draw at the middle of the hour.
    const double spread = 0.75 + 0.5 * double(h >> 11) / double(1ull << 53);
    return std::llround(HouseholdProfile::typicalWatts(hour + 0.5) * scale(meter) * spread);
}

qint64 MeterBank::dayWh(int meter, QDate date) const
{
    qint64 sum = 0;
    for (int hour = 0; hour < 24; ++hour)
        sum += hourWh(meter, date, hour);
    return sum;
}

qint64 MeterBank::dayToNowWh(int meter, QDate date, const QDateTime& now) const
{
    const QDate today = now.date();
    if (date < installed(now) || date > today)
        return 0;
    if (date < today)
        return dayWh(meter, date);
    const QTime time = now.time();
    qint64 sum = 0;
    for (int hour = 0; hour < time.hour(); ++hour)
        sum += hourWh(meter, date, hour);
    const int seconds = time.minute() * 60 + time.second();
    return sum + hourWh(meter, date, time.hour()) * seconds / 3600;
}

qint64 MeterBank::monthToNowWh(int meter, int year, int month, const QDateTime& now) const
{
    const QDate first(year, month, 1);
    if (!first.isValid())
        return 0;
    qint64 sum = 0;
    for (QDate day = first; day.month() == month && day <= now.date(); day = day.addDays(1))
        sum += dayToNowWh(meter, day, now);
    return sum;
}

qint64 MeterBank::totalWh(int meter, const QDateTime& now) const
{
    qint64 sum = 0;
    for (QDate day = installed(now); day <= now.date(); day = day.addDays(1))
        sum += dayToNowWh(meter, day, now);
    return sum;
}

QString MeterBank::powerFrame(int meter, int watts)
{
    return QStringLiteral("*#18*%1*113*%2##").arg(where(meter)).arg(watts);
}

QString MeterBank::updatesFrame(int meter, int minutes)
{
    return QStringLiteral("*#18*%1*1200#1*%2##").arg(where(meter)).arg(minutes);
}

// The hours of a day, then its total; of today only the hours already over.
QStringList MeterBank::hourFrames(int meter, QDate date, const QDateTime& now) const
{
    const QString prefix =
        QStringLiteral("*#18*%1*511#%2#%3*").arg(where(meter)).arg(date.month()).arg(date.day());
    const int hours = date == now.date() ? now.time().hour() : 24;
    const bool counted = date >= installed(now);
    QStringList frames;
    qint64 total = 0;
    for (int hour = 0; hour < hours; ++hour) {
        const qint64 wh = counted ? hourWh(meter, date, hour) : 0;
        total += wh;
        frames << prefix + QStringLiteral("%1*%2##").arg(hour + 1).arg(wh);
    }
    frames << prefix + QStringLiteral("25*%1##").arg(total);
    return frames;
}

std::optional<MeterBank::Answer> MeterBank::answer(const QString& frame, const QDateTime& now,
                                                   int householdWatts) const
{
    static const QRegularExpression request(QStringLiteral("^\\*#18\\*(\\d+)\\*(.+)##$"));
    static const QRegularExpression command(
        QStringLiteral("^\\*18\\*(57#(\\d+)#(\\d+)|59#(\\d+)|510#(\\d+))\\*(\\d+)##$"));
    static const QRegularExpression monthOfYear(QStringLiteral("^52#(\\d\\d)#(\\d{1,2})$"));
    static const QRegularExpression updates(QStringLiteral("^#1200#1\\*(\\d{1,3})$"));
    static const QRegularExpression hoursOfDay(QStringLiteral("^511#(\\d{1,2})#(\\d{1,2})$"));

    if (!frame.startsWith(QLatin1String("*#18*")) && !frame.startsWith(QLatin1String("*18*")))
        return std::nullopt;
    Answer a;
    a.reply = {frames::kNack};
    const QDate today = now.date();

    if (const auto match = command.match(frame); match.hasMatch()) {
        const std::optional<int> meter = meterframes::meterNumber(match.captured(6));
        if (!meter || !has(*meter))
            return a;
        a.meter = *meter;
        const QString kind = match.captured(1);
        if (kind.startsWith(QLatin1String("57#"))) {
            const auto date =
                latestDay(match.captured(2).toInt(), match.captured(3).toInt(), today);
            if (!date)
                return a;
            a.events = hourFrames(*meter, *date, now);
        } else {
            const bool thisYear = kind.startsWith(QLatin1String("59#"));
            const int month = (thisYear ? match.captured(4) : match.captured(5)).toInt();
            const QDate first(today.year() - (thisYear ? 0 : 1), month, 1);
            if (!first.isValid())
                return a;
            for (QDate day = first; day.month() == month && day < today; day = day.addDays(1)) {
                a.events << QStringLiteral("*#18*%1*%2#%3*%4*%5##")
                                .arg(where(*meter),
                                     thisYear ? QStringLiteral("513") : QStringLiteral("514"))
                                .arg(month)
                                .arg(day.day())
                                .arg(dayToNowWh(*meter, day, now));
            }
        }
        a.reply = {frames::kAck};
        return a;
    }

    const auto match = request.match(frame);
    if (!match.hasMatch())
        return a;
    const std::optional<int> meter = meterframes::meterNumber(match.captured(1));
    if (!meter || !has(*meter))
        return a;
    a.meter = *meter;
    const QString dimension = match.captured(2);
    const QString valuePrefix = QStringLiteral("*#18*%1*%2*").arg(match.captured(1), dimension);
    const auto value = [&](qint64 v) {
        return QStringList{valuePrefix + QString::number(v) + QStringLiteral("##"), frames::kAck};
    };

    if (dimension == QLatin1String("113")) {
        a.reply = value(powerWatts(*meter, householdWatts));
    } else if (dimension == QLatin1String("51")) {
        a.reply = value(totalWh(*meter, now));
    } else if (dimension == QLatin1String("53")) {
        a.reply = value(monthToNowWh(*meter, today.year(), today.month(), now));
    } else if (dimension == QLatin1String("54")) {
        a.reply = value(dayToNowWh(*meter, today, now));
    } else if (const auto m = monthOfYear.match(dimension); m.hasMatch()) {
        const int month = m.captured(2).toInt();
        if (month >= 1 && month <= 12)
            a.reply = value(monthToNowWh(*meter, 2000 + m.captured(1).toInt(), month, now));
    } else if (const auto m = updates.match(dimension); m.hasMatch()) {
        const int minutes = m.captured(1).toInt();
        if (minutes <= kMostMinutes) {
            a.updatesMinutes = minutes;
            a.reply = {frames::kAck};
        }
    } else if (const auto m = hoursOfDay.match(dimension); m.hasMatch()) {
        if (const auto date = latestDay(m.captured(1).toInt(), m.captured(2).toInt(), today)) {
            a.reply = hourFrames(*meter, *date, now);
            a.reply << frames::kAck;
        }
    }
    return a;
}

} // namespace powerlog::sim
