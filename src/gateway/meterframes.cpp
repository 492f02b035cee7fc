#include "gateway/meterframes.h"

#include <QStringList>

namespace powerlog::meterframes {

namespace {

const QString kValuePrefix = QStringLiteral("*#18*");
const QString kEnd = QStringLiteral("##");

// Energy counters and powers have at most this many digits: beyond, the frame is garbage.
constexpr int kMostDigits = 15;

// A whole number of digits only (a leading '-' when `negative` is allowed), within
// [lowest, highest].
std::optional<qint64> number(const QString& text, qint64 lowest, qint64 highest,
                             bool negative = false)
{
    const bool minus = negative && text.startsWith(QLatin1Char('-'));
    const QString digits = minus ? text.mid(1) : text;
    if (digits.isEmpty() || digits.size() > kMostDigits)
        return std::nullopt;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const qint64 value = minus ? -digits.toLongLong() : digits.toLongLong();
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

constexpr qint64 kLargest = 999'999'999'999'999;

QString request(const QString& where, const QString& dimension)
{
    return kValuePrefix + where + QLatin1Char('*') + dimension + kEnd;
}

} // namespace

std::optional<int> meterNumber(const QString& where)
{
    if (!where.startsWith(QLatin1Char('5')) || where.size() < 2 || where.at(1) == QLatin1Char('0'))
        return std::nullopt;
    const std::optional<qint64> n = number(where.mid(1), 1, 255);
    return n ? std::optional<int>(int(*n)) : std::nullopt;
}

QString powerRequest(const QString& where)
{
    return request(where, QStringLiteral("113"));
}

QString totalizerRequest(const QString& where)
{
    return request(where, QStringLiteral("51"));
}

QString monthToDateRequest(const QString& where)
{
    return request(where, QStringLiteral("53"));
}

QString dayToDateRequest(const QString& where)
{
    return request(where, QStringLiteral("54"));
}

QString monthOfYearRequest(const QString& where, int year, int month)
{
    return request(where, QStringLiteral("52#%1#%2").arg(year, 2, 10, QLatin1Char('0')).arg(month));
}

QString automaticUpdatesRequest(const QString& where, int minutes)
{
    return request(where, QStringLiteral("#1200#1*%1").arg(minutes));
}

QString hourlyHistoryRequest(const QString& where, int month, int day)
{
    return request(where, QStringLiteral("511#%1#%2").arg(month).arg(day));
}

QString hourlyHistoryCommand(const QString& where, int month, int day)
{
    return QStringLiteral("*18*57#%1#%2*%3##").arg(month).arg(day).arg(where);
}

QString dayTotalsThisYearCommand(const QString& where, int month)
{
    return QStringLiteral("*18*59#%1*%2##").arg(month).arg(where);
}

QString dayTotalsLastYearCommand(const QString& where, int month)
{
    return QStringLiteral("*18*510#%1*%2##").arg(month).arg(where);
}

std::optional<MeterValue> parseMeterValue(const QString& frame)
{
    if (!frame.startsWith(kValuePrefix) || !frame.endsWith(kEnd) ||
        frame.size() <= kValuePrefix.size() + kEnd.size())
        return std::nullopt;
    // WHERE * DIMENSION[#PARAMETER...] * VALUE [* VALUE]
    const QStringList fields =
        frame.mid(kValuePrefix.size(), frame.size() - kValuePrefix.size() - kEnd.size())
            .split(QLatin1Char('*'));
    if (fields.size() < 3)
        return std::nullopt;
    const std::optional<int> meter = meterNumber(fields.at(0));
    if (!meter)
        return std::nullopt;
    const QStringList dimension = fields.at(1).split(QLatin1Char('#'));
    const QString& name = dimension.constFirst();
    const QStringList values = fields.mid(2);

    MeterValue result;
    result.meter = *meter;
    const auto single = [&](MeterValue::Kind kind, qint64 lowest,
                            bool negative) -> std::optional<MeterValue> {
        if (dimension.size() != 1 || values.size() != 1)
            return std::nullopt;
        const std::optional<qint64> value = number(values.at(0), lowest, kLargest, negative);
        if (!value)
            return std::nullopt;
        result.kind = kind;
        result.value = *value;
        return result;
    };
    const auto parameter = [&](int index, qint64 lowest, qint64 highest) {
        return number(dimension.value(index), lowest, highest);
    };

    if (name == QLatin1String("113"))
        return single(MeterValue::Kind::Power, -kLargest, true);
    if (name == QLatin1String("51"))
        return single(MeterValue::Kind::Totalizer, 0, false);
    if (name == QLatin1String("53"))
        return single(MeterValue::Kind::MonthToDate, 0, false);
    if (name == QLatin1String("54"))
        return single(MeterValue::Kind::DayToDate, 0, false);
    if (name == QLatin1String("52")) {
        const auto year = parameter(1, 0, 99);
        const auto month = parameter(2, 1, 12);
        const auto wh = number(values.value(0), 0, kLargest);
        if (dimension.size() != 3 || values.size() != 1 || !year || !month || !wh)
            return std::nullopt;
        result.kind = MeterValue::Kind::MonthOfYear;
        result.year = 2000 + int(*year);
        result.month = int(*month);
        result.value = *wh;
        return result;
    }
    if (name == QLatin1String("1200")) {
        const auto minutes = number(values.value(0), 0, 255);
        if (dimension.size() != 2 || dimension.at(1) != QLatin1String("1") || values.size() != 1 ||
            !minutes)
            return std::nullopt;
        result.kind = MeterValue::Kind::AutomaticUpdates;
        result.value = *minutes;
        return result;
    }
    if (name == QLatin1String("511")) {
        const auto month = parameter(1, 1, 12);
        const auto day = parameter(2, 1, 31);
        const auto n = number(values.value(0), 1, 25);
        const auto wh = number(values.value(1), 0, kLargest);
        if (dimension.size() != 3 || values.size() != 2 || !month || !day || !n || !wh)
            return std::nullopt;
        result.kind = *n == 25 ? MeterValue::Kind::DayOfHistory : MeterValue::Kind::HourOfDay;
        result.month = int(*month);
        result.day = int(*day);
        result.hour = *n == 25 ? 0 : int(*n) - 1;
        result.value = *wh;
        return result;
    }
    if (name == QLatin1String("513") || name == QLatin1String("514")) {
        const auto month = parameter(1, 1, 12);
        const auto day = number(values.value(0), 1, 31);
        const auto wh = number(values.value(1), 0, kLargest);
        if (dimension.size() != 2 || values.size() != 2 || !month || !day || !wh)
            return std::nullopt;
        result.kind = name == QLatin1String("513") ? MeterValue::Kind::DayThisYear
                                                   : MeterValue::Kind::DayLastYear;
        result.month = int(*month);
        result.day = int(*day);
        result.value = *wh;
        return result;
    }
    return std::nullopt;
}

} // namespace powerlog::meterframes
