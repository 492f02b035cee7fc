#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace powerlog {

// The SQL of the hour table EnergyHour: one row per hour ('yyyy-MM-dd HH:00') with the
// watt-seconds of the readings and the seconds they cover (see energyaccounts.h for the rule).
// The same statements fill it as readings arrive (a trigger), build it from Energy for a file
// of an earlier version, and count hours straight from Energy when the table is not complete.
namespace energyhours {

// The table, empty, when it is not there yet.
QString tableStatement();

// A meter's own history, when its tables are not there yet: EnergyMeterHour (Hour
// 'yyyy-MM-dd HH:00', WattSeconds) with the hours the meter reported, and EnergyMeterDay (Day
// 'yyyy-MM-dd', WattSeconds) with the day totals it reported.
QStringList meterTableStatements();

// Adds to every hour what the readings with Data in [from, to) contribute as the first reading
// of their pair. Run for consecutive ranges, it fills the table once for every pair.
QString fillStatement(const QString& from, const QString& to);

// Keeps the table up to date on every insert into Energy, wherever the insert comes from: it
// takes away the pair the new reading splits and adds the two pairs it makes.
QString triggerStatement();

// Hour, WattSeconds, Seconds of the hours in [from, to), counted from Energy alone, in order.
QString countStatement(const QString& from, const QString& to);

// Data of a time, as the readings carry it. Give times in UTC, so that adding seconds to them
// follows the written clock.
QString dataText(const QDateTime& time);

} // namespace energyhours

} // namespace powerlog
