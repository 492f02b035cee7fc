#include "acquisition/energyhours.h"

#include "acquisition/energyaccounts.h"
#include "acquisition/energydatabase.h"

#include <QLocale>

namespace powerlog::energyhours {

namespace {

// Rows that take part: a power value and a Data in our own text form (as in the summaries).
QString readingCondition(const QString& row)
{
    return QStringLiteral("%1W IS NOT NULL AND %1Data GLOB "
                          "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'")
        .arg(row);
}

// Seconds since 1970 of a Data, the local time taken as it is written; NULL when it is no time.
QString secondsOf(const QString& data)
{
    return QStringLiteral("CAST(strftime('%s', %1) AS INTEGER)").arg(data);
}

// A Data as a time, taken as written: no daylight-saving rule moves it.
QDateTime timeOf(const QString& data)
{
    return QDateTime(QDate::fromString(data.left(10), Qt::ISODate),
                     QTime::fromString(data.mid(11, 8), QStringLiteral("HH:mm:ss")), Qt::UTC);
}

QString quoted(const QString& text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) +
           QLatin1Char('\'');
}

// Hour, WattSeconds, Seconds per hour of `pairs`, a query of (sign, t0, w0, t1): each pair with
// 0 < t1 - t0 <= the longest step, spread over [t0, t1) and cut at the hours, counted `sign`
// times. A pair spans at most two hours.
QString sharesOf(const QString& pairs)
{
    return QStringLiteral("SELECT strftime('%Y-%m-%d %H:00', hs, 'unixepoch') AS Hour, "
                          "sum(sign * w0 * len) AS WattSeconds, sum(sign * len) AS Seconds FROM ("
                          "SELECT sign, w0, hs, min(t1, hs + 3600) - max(t0, hs) AS len FROM ("
                          "SELECT sign, w0, t0, t1, t0 - t0 % 3600 + 3600 * k AS hs "
                          "FROM (%1) AS pairs, (SELECT 0 AS k UNION ALL SELECT 1) AS parts "
                          "WHERE t1 - t0 BETWEEN 1 AND %2)) "
                          "WHERE len > 0 GROUP BY hs")
        .arg(pairs)
        .arg(kLongestReadingStep);
}

// Each reading with Data in [from, to) and the time of the reading after it. The readings up
// to the longest step past `to` are looked at too; a reading whose next one lies further has a
// gap after it anyway.
QString pairsStarting(const QString& from, const QString& to)
{
    const QDateTime end = timeOf(to);
    const QString lookAhead = end.isValid() ? dataText(end.addSecs(kLongestReadingStep + 1)) : to;
    return QStringLiteral("SELECT 1 AS sign, t0, w0, t1 FROM ("
                          "SELECT Data, %1 AS t0, W AS w0, "
                          "lead(%1) OVER (ORDER BY Data, rowid) AS t1 "
                          "FROM Energy WHERE %2 AND Data >= %3 AND Data < %4) "
                          "WHERE Data < %5")
        .arg(secondsOf(QStringLiteral("Data")), readingCondition({}), quoted(from),
             quoted(lookAhead), quoted(to));
}

QString upsert()
{
    return QStringLiteral(" ON CONFLICT (Hour) DO UPDATE SET "
                          "WattSeconds = WattSeconds + excluded.WattSeconds, "
                          "Seconds = Seconds + excluded.Seconds");
}

} // namespace

QString tableStatement()
{
    return QStringLiteral(
               "CREATE TABLE IF NOT EXISTS %1 (Hour TEXT PRIMARY KEY, WattSeconds REAL NOT NULL, "
               "Seconds INTEGER NOT NULL) WITHOUT ROWID")
        .arg(EnergyDatabase::kHourTable);
}

QStringList meterTableStatements()
{
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (Hour TEXT PRIMARY KEY, "
                           "WattSeconds REAL NOT NULL) WITHOUT ROWID")
                .arg(EnergyDatabase::kMeterHourTable),
            QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (Day TEXT PRIMARY KEY, "
                           "WattSeconds REAL NOT NULL) WITHOUT ROWID")
                .arg(EnergyDatabase::kMeterDayTable)};
}

QString fillStatement(const QString& from, const QString& to)
{
    return QStringLiteral("INSERT INTO %1 (Hour, WattSeconds, Seconds) ")
               .arg(EnergyDatabase::kHourTable) +
           sharesOf(pairsStarting(from, to)) + upsert();
}

QString triggerStatement()
{
    // The readings before and after the new one in the order of Data, then of insertion.
    const QString columns =
        QStringLiteral("%1 AS t, W AS w").arg(secondsOf(QStringLiteral("Data")));
    const QString before = QStringLiteral("SELECT %1 FROM Energy WHERE Data <= NEW.Data AND "
                                          "NOT (Data = NEW.Data AND rowid >= NEW.rowid) AND %2 "
                                          "ORDER BY Data DESC, rowid DESC LIMIT 1")
                               .arg(columns, readingCondition({}));
    const QString after = QStringLiteral("SELECT %1 FROM Energy WHERE Data >= NEW.Data AND "
                                         "NOT (Data = NEW.Data AND rowid <= NEW.rowid) AND %2 "
                                         "ORDER BY Data, rowid LIMIT 1")
                              .arg(columns, readingCondition({}));
    const QString now =
        QStringLiteral("(SELECT %1 AS t)").arg(secondsOf(QStringLiteral("NEW.Data")));
    const QString pairs =
        QStringLiteral(
            "SELECT -1 AS sign, p.t AS t0, p.w AS w0, s.t AS t1 FROM (%1) AS p, (%2) AS s "
            "UNION ALL SELECT 1, p.t, p.w, n.t FROM (%1) AS p, %3 AS n "
            "UNION ALL SELECT 1, n.t, NEW.W, s.t FROM %3 AS n, (%2) AS s")
            .arg(before, after, now);
    return QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON Energy WHEN %2 BEGIN "
                          "INSERT INTO %3 (Hour, WattSeconds, Seconds) %4%5; END")
        .arg(EnergyDatabase::kHourTrigger, readingCondition(QStringLiteral("NEW.")),
             EnergyDatabase::kHourTable, sharesOf(pairs), upsert());
}

QString countStatement(const QString& from, const QString& to)
{
    // Pairs that start up to the longest step before `from` reach into its first hour.
    const QDateTime start = timeOf(from);
    const QString lookBack = start.isValid() ? dataText(start.addSecs(-kLongestReadingStep)) : from;
    return QStringLiteral("SELECT Hour, WattSeconds, Seconds FROM (%1) "
                          "WHERE Hour >= %2 AND Hour < %3 ORDER BY Hour")
        .arg(sharesOf(pairsStarting(lookBack, to)), quoted(from.left(13) + QStringLiteral(":00")),
             quoted(to.left(13) + QStringLiteral(":00")));
}

QString dataText(const QDateTime& time)
{
    return QLocale::c().toString(time, EnergyDatabase::kDataFormat);
}

} // namespace powerlog::energyhours
