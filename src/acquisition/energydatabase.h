#pragma once

#include <QDate>
#include <QList>
#include <QMetaType>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <functional>
#include <memory>

namespace powerlog {

struct Reading;

// What an energy meter reported of its past: energy per hour and per day, in Wh.
struct MeterHistory
{
    struct Hour
    {
        QDate date;
        int hour = 0; // 0..23
        qint64 wattHours = 0;
    };
    struct Day
    {
        QDate date;
        qint64 wattHours = 0;
    };
    QList<Hour> hours;
    QList<Day> days;
};

// What became of one database operation. The database shows nothing itself: the caller
// decides whether and how to tell the user.
struct DatabaseResult
{
    enum class Kind {
        Ok,
        NoConnection, // the file could not be opened, or cannot take rows for now (busy,
                      // locked, full, failing to write)
        Failed,       // the statement or step was refused
    };

    Kind kind = Kind::Ok;
    QString error; // the driver's text or our own description (English); empty when Ok
    // A long job (the summaries' build, a compaction) was stopped before its end and left the
    // file as it was; the next open builds the summaries again.
    bool interrupted = false;

    bool ok() const { return kind == Kind::Ok; }
    bool operator==(const DatabaseResult&) const = default;
};

// The energy database "DbEnergy.mdb" in the program's folder: one SQLite connection, the
// table Energy (V, a, W, e, Data), insertion of readings, clearing and compaction.
//
// Besides Energy the file holds EnergyHalfHour and EnergyDay, one row per half hour and per day
// with the count, sum and maximum of W, kept up to date by a trigger on every insert, so that
// monthly and yearly charts never scan the full table.
//
// The layout and the upgrade of older files are in energyschema.h, the file work of a
// compaction in energycompaction.h.
class EnergyDatabase
{
public:
    static inline const QString kFileName = QStringLiteral("DbEnergy.mdb");
    static inline const QString kTempName = QStringLiteral("temp.mdb");
    static inline const QString kBackupName = QStringLiteral("DbEnergy.bak");
    // Left beside the file by a compaction stopped in its middle: the writer's next open
    // compacts again.
    static inline const QString kCompactionPendingName = QStringLiteral("DbEnergy.compact");

    // Data is written with this pattern (local time), so text order is time order.
    static inline const QString kDataFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    // Half-hour slots: 'yyyy-MM-dd HH:00' or 'yyyy-MM-dd HH:30'.
    static inline const QString kRollupTable = QStringLiteral("EnergyHalfHour");
    // Days: 'yyyy-MM-dd', with the same count, sum and maximum.
    static inline const QString kDayTable = QStringLiteral("EnergyDay");
    // Fills both summaries on every insert. A file without it has summaries that are not
    // complete (their building was stopped): readers must count from Energy instead.
    static inline const QString kSummaryTrigger = QStringLiteral("EnergySummariesOnInsert");
    // The energy accounts: watt-seconds and seconds covered per hour ('yyyy-MM-dd HH:00'),
    // kept by their own trigger; without it the table is not complete (energyhours.h).
    static inline const QString kHourTable = QStringLiteral("EnergyHour");
    static inline const QString kHourTrigger = QStringLiteral("EnergyHourOnInsert");
    // An energy meter's own history: the hours and the day totals it reported. They stand in
    // for what the readings give (energyaccounts.h).
    static inline const QString kMeterHourTable = QStringLiteral("EnergyMeterHour");
    static inline const QString kMeterDayTable = QStringLiteral("EnergyMeterDay");

    // Renames a file, replacing one of the new name; false on failure. Replaceable so that
    // tests can make one step fail.
    using RenameFunction = std::function<bool(const QString& from, const QString& to)>;

    explicit EnergyDatabase(const QString& folder);
    ~EnergyDatabase();

    EnergyDatabase(const EnergyDatabase&) = delete;
    EnergyDatabase& operator=(const EnergyDatabase&) = delete;

    // Writes a new empty database with the table and its indexes. Used by the build.
    // Refuses to touch an existing file.
    static bool createEmpty(const QString& path, QString* error = nullptr);

    QString path() const;
    bool isOpen() const;

    // Called with 0..100 while the summary tables of a file are built. Returning false stops
    // the building: the file opens without them (rows still go into Energy) and the next open
    // starts the building over.
    using Progress = std::function<bool(int percent)>;

    // Opens the existing file (Ok at once when it is open); never creates it. NoConnection
    // when the file is missing or is not a database with an Energy table. A file that lacks
    // the summary tables gets them built first, which takes a while on a large file.
    DatabaseResult open(const Progress& progress = {});
    void close();

    // One row for a recordable reading, dated with the reading's own time; opens the file
    // first if needed. NoConnection: the file could not be opened (recording may go on and
    // try again). Failed: the row was refused, or the reading has no power or energy number.
    DatabaseResult insert(const Reading& reading);

    // Deletes every row of Energy, of both summaries, of the hour table and of the meter's
    // history in one transaction; opens the file first if needed.
    DatabaseResult clear();

    // Keeps what a meter reported of its past, replacing what was kept for the same hours and
    // days, in one transaction; opens the file first if needed.
    DatabaseResult storeMeterHistory(const MeterHistory& history);

    // Shrinks the open connection's page cache to what appending needs: the right-hand edge
    // of the table, its index and the two summaries. SQLite's default of 2 MiB would fill,
    // row after row, with pages written once and never read again, and the program's memory
    // would grow for days. Call after the open; the next open has the default again.
    static constexpr int kRecordingCacheKiB = 256;
    void useRecordingCache();

    // Compacts into "temp.mdb" and keeps the previous file as "DbEnergy.bak". Closes the
    // connection to do so; the next operation reopens it. The copy is written at the lowest
    // priority; a false answer of `keepGoing`, asked now and then, stops it: the file stays as
    // it was, the result is Failed and interrupted, and compactionPending() tells until a
    // compaction ends otherwise.
    DatabaseResult compact(const std::function<bool()>& keepGoing = {});
    bool compactionPending() const;

    // The renames of a compaction go through this function (rename(2) by default).
    void setRenameFunction(RenameFunction rename);

    // The open connection, for the readers of the table (charts, export). Readers should not
    // keep the handle beyond their query: a compaction closes the connection.
    QSqlDatabase connection() const;

private:
    bool openConnection(const Progress& progress, bool* stopped, QString* error);

    QString m_folder;
    QString m_connectionName;
    RenameFunction m_rename;
    std::unique_ptr<QSqlQuery> m_insert; // the insert, prepared on the open connection
};

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::DatabaseResult)
