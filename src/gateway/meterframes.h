#pragma once

#include <QMetaType>
#include <QString>
#include <optional>

namespace powerlog::meterframes {

// The frames of WHO 18 energy meters (energy management central units, pulse counters, power
// meters) at WHERE "5N", N 1..255: the requests the program sends and the values they answer.

// N of a meter's WHERE "5N" (1..255); nothing for any other text ("50", "5256", "71", "051").
std::optional<int> meterNumber(const QString& where);

// Requests on the command session, answered by their value frame then ACK, or by NACK.
QString powerRequest(const QString& where);       // *#18*5N*113##: active power in W
QString totalizerRequest(const QString& where);   // *#18*5N*51##: energy since installed, in Wh
QString monthToDateRequest(const QString& where); // *#18*5N*53##: this month's Wh so far
QString dayToDateRequest(const QString& where);   // *#18*5N*54##: today's Wh so far
// *#18*5N*52#YY#M##: the Wh of month `month` (1..12) of year 2000 + `year` (0..99).
QString monthOfYearRequest(const QString& where, int year, int month);
// *#18*5N*#1200#1*MIN##: power pushed on the monitor session for `minutes` (1..255; 0 stops).
QString automaticUpdatesRequest(const QString& where, int minutes);
// *#18*5N*511#M#D##: the hours of one day, answered on the command session.
QString hourlyHistoryRequest(const QString& where, int month, int day);
// *18*57#M#D*5N##: the same as a command, answered by ACK with the hours as monitor events.
QString hourlyHistoryCommand(const QString& where, int month, int day);
// *18*59#M*5N## and *18*510#M*5N##: the day totals of month M of this year and of last year,
// answered by ACK with the days as monitor events.
QString dayTotalsThisYearCommand(const QString& where, int month);
QString dayTotalsLastYearCommand(const QString& where, int month);

// One value frame of a meter, as either session brings it.
struct MeterValue
{
    enum class Kind {
        Power,            // *#18*5N*113*W##: W, may be negative (energy sent back)
        Totalizer,        // *#18*5N*51*Wh##
        MonthToDate,      // *#18*5N*53*Wh##
        DayToDate,        // *#18*5N*54*Wh##
        MonthOfYear,      // *#18*5N*52#YY#M*Wh##: `year` 2000 + YY, `month`
        AutomaticUpdates, // *#18*5N*1200#1*MIN##: the minutes the updates still run
        HourOfDay,        // *#18*5N*511#M#D*n*Wh##, n 1..24: the hour n - 1 (`hour` 0..23)
        DayOfHistory,     // *#18*5N*511#M#D*25*Wh##: the day's total
        DayThisYear,      // *#18*5N*513#M*d*Wh##
        DayLastYear,      // *#18*5N*514#M*d*Wh##
    };

    Kind kind = Kind::Power;
    int meter = 0;    // N of the WHERE 5N
    qint64 value = 0; // W, Wh or minutes
    int year = 0;     // MonthOfYear only
    int month = 0;    // MonthOfYear, HourOfDay, DayOfHistory, DayThisYear, DayLastYear
    int day = 0;      // HourOfDay, DayOfHistory, DayThisYear, DayLastYear
    int hour = 0;     // HourOfDay

    bool operator==(const MeterValue&) const = default;
};

// What a frame says, or nothing when it is no WHO 18 value frame the program takes: another
// WHO, a WHERE that is no meter, a missing or extra field, a number that is not one or out of
// range (a month past 12, an hour past 25, a negative energy, more than 15 digits).
std::optional<MeterValue> parseMeterValue(const QString& frame);

} // namespace powerlog::meterframes

Q_DECLARE_METATYPE(powerlog::meterframes::MeterValue)
