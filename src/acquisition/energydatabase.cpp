#include "energydatabase.h"

#include "acquisition/reading.h"
#include "acquisition/sqliteconnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace powerlog {

namespace {

// Fills both summary tables. Files of earlier versions had a trigger of another name that
// filled EnergyHalfHour alone; its absence tells that EnergyDay must be added.
const QString kSummaryTrigger = EnergyDatabase::kSummaryTrigger;
const QString kHalfHourTrigger = QStringLiteral("EnergyHalfHourOnInsert");

// Rows that can be placed in a half hour: a power value and a Data in our own text form.
QString rollupCondition(const QString& row)
{
    return QStringLiteral("%1W IS NOT NULL AND %1Data GLOB "
                          "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'")
        .arg(row);
}

// 'yyyy-MM-dd HH:mm:ss' -> 'yyyy-MM-dd HH:00' or 'yyyy-MM-dd HH:30'.
QString slotOf(const QString& data)
{
    return QStringLiteral("substr(%1, 1, 14) || CASE WHEN substr(%1, 15, 2) < '30' "
                          "THEN '00' ELSE '30' END")
        .arg(data);
}

QStringList energyTableStatements()
{
    return {QStringLiteral("CREATE TABLE Energy (V REAL, a REAL, W INTEGER, e REAL, Data TEXT)")};
}

QString upsert(const QString& key)
{
    return QStringLiteral("ON CONFLICT (%1) DO UPDATE SET Samples = Samples + excluded.Samples, "
                          "SumW = SumW + excluded.SumW, MaxW = max(MaxW, excluded.MaxW)")
        .arg(key);
}

QString slotUpsert()
{
    return upsert(QStringLiteral("Slot"));
}

QString dayTableStatement()
{
    return QStringLiteral("CREATE TABLE EnergyDay (Day TEXT PRIMARY KEY, "
                          "Samples INTEGER NOT NULL, SumW INTEGER NOT NULL, MaxW INTEGER NOT NULL) "
                          "WITHOUT ROWID");
}

// EnergyDay from EnergyHalfHour: a day is the sum of its 48 half hours.
QString dayFillStatement()
{
    return QStringLiteral("INSERT INTO EnergyDay (Day, Samples, SumW, MaxW) "
                          "SELECT substr(Slot, 1, 10), sum(Samples), sum(SumW), max(MaxW) "
                          "FROM EnergyHalfHour GROUP BY 1 ") +
           upsert(QStringLiteral("Day"));
}

// Drops the rollup and makes it anew, empty; the index on Data comes with it.
QStringList rollupResetStatements()
{
    return {
        QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(kSummaryTrigger),
        QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(kHalfHourTrigger),
        QStringLiteral("DROP TABLE IF EXISTS EnergyHalfHour"),
        QStringLiteral("DROP TABLE IF EXISTS EnergyDay"),
        QStringLiteral("CREATE TABLE EnergyHalfHour (Slot TEXT PRIMARY KEY, "
                       "Samples INTEGER NOT NULL, SumW INTEGER NOT NULL, MaxW INTEGER NOT NULL) "
                       "WITHOUT ROWID"),
        dayTableStatement(),
    };
}

QString indexStatement()
{
    return QStringLiteral("CREATE INDEX IF NOT EXISTS EnergyByData ON Energy (Data)");
}

// Adds the rows of Energy in `range` (an SQL condition, or empty for all) to the rollup.
QString rollupFillStatement(const QString& range)
{
    return QStringLiteral("INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) "
                          "SELECT %1, count(*), sum(W), max(W) FROM Energy WHERE %2%3 GROUP BY 1 ")
               .arg(slotOf(QStringLiteral("Data")), rollupCondition({}),
                    range.isEmpty() ? QString() : QStringLiteral(" AND ") + range) +
           slotUpsert();
}

QString triggerStatement()
{
    return QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON Energy WHEN %2 BEGIN "
                          "INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) "
                          "VALUES (%3, 1, NEW.W, NEW.W) %4; "
                          "INSERT INTO EnergyDay (Day, Samples, SumW, MaxW) "
                          "VALUES (substr(NEW.Data, 1, 10), 1, NEW.W, NEW.W) %5; END")
        .arg(kSummaryTrigger, rollupCondition(QStringLiteral("NEW.")),
             slotOf(QStringLiteral("NEW.Data")), slotUpsert(), upsert(QStringLiteral("Day")));
}

// A file whose EnergyHalfHour is complete but that lacks EnergyDay (written by an earlier
// version) gets it from the half hours: quick, as it never reads Energy.
QStringList dayMigrationStatements()
{
    return {QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(kHalfHourTrigger),
            QStringLiteral("DROP TABLE IF EXISTS EnergyDay"), dayTableStatement(),
            dayFillStatement(), triggerStatement()};
}

// The whole rollup in one go, for a new file.
QStringList rollupStatements()
{
    return rollupResetStatements() + QStringList{indexStatement(), rollupFillStatement({}),
                                                 dayFillStatement(), triggerStatement()};
}

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("powerlog-energy-%1").arg(++counter);
}

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

bool exec(const QSqlDatabase& db, const QString& sql, QString* error)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    *error = sqlErrorText(query.lastError());
    return false;
}

bool execAll(const QSqlDatabase& db, const QStringList& statements, QString* error)
{
    for (const QString& sql : statements) {
        if (!exec(db, sql, error))
            return false;
    }
    return true;
}

// Runs the statements as one transaction: all of them or none.
bool execTransaction(QSqlDatabase db, const QStringList& statements, QString* error)
{
    if (!db.transaction()) {
        *error = sqlErrorText(db.lastError());
        return false;
    }
    if (!execAll(db, statements, error)) {
        db.rollback();
        return false;
    }
    if (db.commit())
        return true;
    *error = sqlErrorText(db.lastError());
    db.rollback();
    return false;
}

bool insertRow(const QSqlDatabase& db, const QVariantList& values, QString* error)
{
    QSqlQuery query(db);
    if (query.prepare(
            QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES (?, ?, ?, ?, ?)"))) {
        for (const QVariant& value : values)
            query.addBindValue(value);
        if (query.exec())
            return true;
    }
    *error = sqlErrorText(query.lastError());
    return false;
}

bool countIs(const QSqlDatabase& db, const QString& sql, int expected, bool* matches,
             QString* error)
{
    QSqlQuery query(db);
    if (!query.exec(sql) || !query.next()) {
        *error = sqlErrorText(query.lastError());
        return false;
    }
    *matches = query.value(0).toInt() == expected;
    return true;
}

bool hasEnergyTable(const QSqlDatabase& db, bool* found, QString* error)
{
    return countIs(db,
                   QStringLiteral("SELECT count(*) FROM sqlite_master "
                                  "WHERE type = 'table' AND name = 'Energy' COLLATE NOCASE"),
                   1, found, error);
}

bool hasRollup(const QSqlDatabase& db, bool* found, QString* error)
{
    return countIs(db,
                   QStringLiteral("SELECT count(*) FROM sqlite_master WHERE "
                                  "(type = 'table' AND name IN ('EnergyHalfHour', 'EnergyDay') "
                                  "COLLATE NOCASE) "
                                  "OR (type = 'trigger' AND name = '%1' COLLATE NOCASE)")
                       .arg(kSummaryTrigger),
                   3, found, error);
}

// The complete half-hour summary of an earlier version: its table and its trigger.
bool hasHalfHourRollupOnly(const QSqlDatabase& db, bool* found, QString* error)
{
    return countIs(db,
                   QStringLiteral("SELECT count(*) FROM sqlite_master WHERE "
                                  "(type = 'table' AND name = 'EnergyHalfHour' COLLATE NOCASE) "
                                  "OR (type = 'trigger' AND name = '%1' COLLATE NOCASE)")
                       .arg(kHalfHourTrigger),
                   2, found, error);
}

// Rows of Energy added to the rollup per transaction while it is rebuilt.
constexpr qint64 kRebuildChunkRows = 1000000;
// What SQLite leaves of a WAL file after a checkpoint, at most.
constexpr qint64 kJournalSizeLimit = 64LL * 1024 * 1024;

bool largestRowid(const QSqlDatabase& db, qint64* rowid)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT max(rowid) FROM Energy")) || !query.next())
        return false; // a table without rowids
    *rowid = query.value(0).toLongLong();
    return true;
}

// Builds the index and the rollup of a file that lacks them (written by hand or by another
// program). The work runs in a rollback journal, so the file grows in place instead of
// through a WAL as large as the index, and the rollup is filled one chunk of rows per
// transaction. A stop between chunks leaves the trigger missing, so the next open starts over;
// `stopped` then tells the caller that nothing failed.
bool rebuildRollup(const QSqlDatabase& db, const EnergyDatabase::Progress& progress, bool* stopped,
                   QString* error)
{
    const auto report = [&progress, stopped](int percent) {
        *stopped = progress && !progress(percent);
        return !*stopped;
    };
    // Only possible while no other connection has the file open; WAL with a checkpoint after
    // every chunk serves otherwise.
    exec(db, QStringLiteral("PRAGMA journal_mode=DELETE"), error);
    const auto checkpoint = [&db, error] {
        return exec(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), error);
    };

    if (!execTransaction(db, rollupResetStatements(), error) || !report(1))
        return false;
    if (!exec(db, indexStatement(), error) || !checkpoint() || !report(40))
        return false;

    qint64 last = 0;
    if (!largestRowid(db, &last)) {
        if (!execTransaction(db, {rollupFillStatement({})}, error))
            return false;
    } else {
        for (qint64 from = 1; from <= last; from += kRebuildChunkRows) {
            const QString range = QStringLiteral("rowid BETWEEN %1 AND %2")
                                      .arg(from)
                                      .arg(from + kRebuildChunkRows - 1);
            if (!execTransaction(db, {rollupFillStatement(range)}, error) || !checkpoint())
                return false;
            if (!report(40 + int(59 * std::min(last, from + kRebuildChunkRows) / last)))
                return false;
        }
    }
    return execTransaction(db, {dayFillStatement(), triggerStatement()}, error) && report(100);
}

// Checks the file and sets the connection up: WAL with a full sync at every commit, so a crash
// or a power cut keeps every row whose insert returned; the rollup is added when missing.
bool prepareConnection(QSqlDatabase& db, const EnergyDatabase::Progress& progress, QString* error)
{
    bool found = false;
    if (!hasEnergyTable(db, &found, error))
        return false;
    if (!found) {
        *error = QStringLiteral("The database holds no table Energy.");
        return false;
    }
    if (!exec(db, QStringLiteral("PRAGMA journal_size_limit=%1").arg(kJournalSizeLimit), error))
        return false;
    if (!hasRollup(db, &found, error))
        return false;
    bool halfHoursOnly = false;
    if (!found && !hasHalfHourRollupOnly(db, &halfHoursOnly, error))
        return false;
    if (halfHoursOnly) {
        if (!execTransaction(db, dayMigrationStatements(), error))
            return false;
        found = true;
    }
    bool stopped = false;
    if (!found && !rebuildRollup(db, progress, &stopped, error) && !stopped)
        return false;
    return execAll(
        db, {QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=FULL")},
        error);
}

// True for a text that SQLite reads as a numeric literal: blanks around an optional sign,
// digits with an optional decimal point, an optional exponent. REAL column affinity converts
// such a text into a number even when the number overflows ("1e999" becomes Inf).
bool isNumericLiteral(const QString& text)
{
    // Without Unicode properties \s and \d are ASCII, as in SQLite.
    static const QRegularExpression literal(
        QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$)"));
    return literal.match(text).hasMatch();
}

// A tension or current text is stored as a number when it is a finite one as the central unit
// writes it. Anything else is kept as the text received: as TEXT, or as a BLOB of its UTF-8
// bytes when the column's affinity would still turn it into a number, since affinity leaves
// blobs alone.
QVariant storedValue(const QString& text)
{
    if (const std::optional<double> number = decimalValue(text))
        return *number;
    if (isNumericLiteral(text))
        return text.toUtf8();
    return text;
}

QStringList sideFiles(const QString& file)
{
    return {file + QStringLiteral("-wal"), file + QStringLiteral("-shm"),
            file + QStringLiteral("-journal")};
}

bool removeFile(const QString& file, QString* error)
{
    QFile f(file);
    if (!f.exists() || f.remove())
        return true;
    *error = QStringLiteral("Cannot delete %1: %2").arg(nativePath(file), f.errorString());
    return false;
}

bool removeWithSideFiles(const QString& file, QString* error)
{
    for (const QString& each : QStringList{file} + sideFiles(file)) {
        if (!removeFile(each, error))
            return false;
    }
    return true;
}

bool writeSchema(const QString& path, QString* error)
{
    SqliteConnection work(nextConnectionName(), path, SqliteMode::ReadWriteCreate);
    return work.opened(error) &&
           exec(work.db(), QStringLiteral("PRAGMA journal_mode=WAL"), error) &&
           execTransaction(work.db(), energyTableStatements() + rollupStatements(), error);
}

// VACUUM INTO writes a rollback-journal file; it is switched to WAL before it replaces the
// database, so that every file we leave behind has the same form.
bool vacuumInto(const QString& source, const QString& target, QString* error)
{
    {
        SqliteConnection work(nextConnectionName(), source, SqliteMode::ReadWrite);
        if (!work.opened(error))
            return false;
        QSqlQuery query(work.db());
        query.prepare(QStringLiteral("VACUUM INTO ?"));
        query.addBindValue(QFileInfo(target).absoluteFilePath());
        if (!query.exec()) {
            *error = sqlErrorText(query.lastError());
            return false;
        }
    }
    SqliteConnection copy(nextConnectionName(), target, SqliteMode::ReadWrite);
    return copy.opened(error) && exec(copy.db(), QStringLiteral("PRAGMA journal_mode=WAL"), error);
}

DatabaseResult succeeded()
{
    return {};
}

DatabaseResult noConnection(const QString& error)
{
    return {DatabaseResult::Kind::NoConnection, error};
}

DatabaseResult failed(const QString& error)
{
    return {DatabaseResult::Kind::Failed, error};
}

} // namespace

EnergyDatabase::EnergyDatabase(const QString& folder)
    : m_folder(folder), m_connectionName(nextConnectionName()),
      m_rename([](const QString& from, const QString& to) {
          // Replaces `to` in one step, unlike QFile::rename, which refuses an existing name.
          return std::rename(QFile::encodeName(from).constData(),
                             QFile::encodeName(to).constData()) == 0;
      })
{
}

EnergyDatabase::~EnergyDatabase()
{
    close();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

bool EnergyDatabase::createEmpty(const QString& path, QString* error)
{
    QString description;
    bool written = false;
    if (QFileInfo::exists(path)) {
        description = QStringLiteral("%1 already exists.").arg(nativePath(path));
    } else {
        written = writeSchema(path, &description);
        QString ignored;
        if (!written)
            removeWithSideFiles(path, &ignored);
    }
    if (error)
        *error = description;
    return written;
}

QString EnergyDatabase::path() const
{
    return QDir(m_folder).filePath(kFileName);
}

bool EnergyDatabase::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) &&
           QSqlDatabase::database(m_connectionName, false).isOpen();
}

DatabaseResult EnergyDatabase::OpenDatabase(const Progress& progress)
{
    if (isOpen())
        return succeeded();
    QString error;
    if (openConnection(progress, &error))
        return succeeded();
    return noConnection(error);
}

bool EnergyDatabase::openConnection(const Progress& progress, QString* error)
{
    const QString file = path();
    if (!QFileInfo(file).isFile()) {
        *error = QStringLiteral("File not found: %1").arg(nativePath(file));
        return false;
    }
    // mode=rw: a file removed meanwhile is not made anew, empty.
    QSqlDatabase db = openSqlite(m_connectionName, file, SqliteMode::ReadWrite, error);
    if (!db.isValid())
        return false;
    if (prepareConnection(db, progress, error))
        return true;
    db.close();
    return false;
}

void EnergyDatabase::close()
{
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::database(m_connectionName, false).close();
}

void EnergyDatabase::useRecordingCache()
{
    if (isOpen())
        QSqlQuery(connection())
            .exec(QStringLiteral("PRAGMA cache_size=-%1").arg(kRecordingCacheKiB));
}

DatabaseResult EnergyDatabase::InsertReading(const Reading& reading)
{
    if (!reading.power || !reading.energy)
        return failed(QStringLiteral("The reading has no power or energy number to record."));
    const DatabaseResult opened = OpenDatabase();
    if (!opened.ok())
        return opened;

    const QVariantList values{storedValue(reading.V), storedValue(reading.A), int(*reading.power),
                              *reading.energy, QLocale::c().toString(reading.time, kDataFormat)};
    QString error;
    if (insertRow(connection(), values, &error))
        return succeeded();
    return failed(error);
}

DatabaseResult EnergyDatabase::ClearAllRows()
{
    const DatabaseResult opened = OpenDatabase();
    if (!opened.ok())
        return opened;
    QString error;
    if (execTransaction(connection(),
                        {QStringLiteral("DELETE FROM Energy"),
                         QStringLiteral("DELETE FROM %1").arg(kRollupTable),
                         QStringLiteral("DELETE FROM %1").arg(kDayTable)},
                        &error))
        return succeeded();
    return failed(error);
}

DatabaseResult EnergyDatabase::CompactEnergyDatabase()
{
    QString error;
    if (compactFiles(&error))
        return succeeded();
    return failed(error);
}

bool EnergyDatabase::compactFiles(QString* error)
{
    const QDir folder(m_folder);
    const QString database = path();
    const QString temp = folder.filePath(kTempName);
    const QString backup = folder.filePath(kBackupName);

    // Fold the WAL into the file so that the file alone is the whole database while it is
    // renamed; closing the last connection then removes the -wal and -shm files.
    if (isOpen() && !exec(connection(), QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), error))
        return false;
    close();

    if (!QFileInfo(database).isFile()) {
        *error = QStringLiteral("File not found: %1").arg(nativePath(database));
        return false;
    }
    if (!removeWithSideFiles(temp, error))
        return false;
    if (!vacuumInto(database, temp, error)) {
        QString ignored;
        removeWithSideFiles(temp, &ignored);
        return false;
    }
    // A -wal left beside the file means another program still has it open; its frames would
    // be replayed into the compacted copy once that takes the name.
    if (QFileInfo::exists(database + QStringLiteral("-wal"))) {
        *error = QStringLiteral("%1 is in use by another program.").arg(nativePath(database));
        QString ignored;
        removeWithSideFiles(temp, &ignored);
        return false;
    }
    if (!removeFile(backup, error))
        return false;
    // The previous file keeps its name until the compacted copy takes it over in one step, so
    // that the program ended at any moment (a crash, a kill, a power cut) leaves a database
    // under its name. The backup is a second name of the previous file.
    if (::link(QFile::encodeName(database).constData(), QFile::encodeName(backup).constData()) ==
        0) {
        if (m_rename(temp, database))
            return true;
        QString ignored;
        removeFile(backup, &ignored);
        *error = QStringLiteral("Cannot rename %1 to %2. The previous database has been restored.")
                     .arg(nativePath(temp), kFileName);
        return false;
    }
    // A file system without hard links (FAT, some network folders): the previous file moves
    // aside first, and for that moment the name is free.
    if (!m_rename(database, backup)) {
        *error = QStringLiteral("Cannot rename %1 to %2.").arg(nativePath(database), kBackupName);
        return false;
    }
    if (!m_rename(temp, database)) {
        // Never leave the program without its database: the previous file goes back.
        const bool restored = m_rename(backup, database);
        *error = QStringLiteral("Cannot rename %1 to %2. %3")
                     .arg(nativePath(temp), kFileName,
                          restored ? QStringLiteral("The previous database has been restored.")
                                   : QStringLiteral("The previous database is in %1.")
                                         .arg(nativePath(backup)));
        return false;
    }
    return true;
}

void EnergyDatabase::setRenameFunction(RenameFunction rename)
{
    m_rename = std::move(rename);
}

QSqlDatabase EnergyDatabase::connection() const
{
    if (!QSqlDatabase::contains(m_connectionName))
        return {};
    return QSqlDatabase::database(m_connectionName, false);
}

} // namespace powerlog
