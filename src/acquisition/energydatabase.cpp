#include "energydatabase.h"

#include "acquisition/energycompaction.h"
#include "acquisition/energyschema.h"
#include "acquisition/lowpriority.h"
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
#include <optional>

namespace powerlog {

namespace {

// Whether SQLite's error says that the file cannot take a row now (busy or locked by another
// program, out of memory or room, failing to write), as opposed to refusing this row.
bool isFileUnusable(const QSqlError& error)
{
    bool number = false;
    const int code = error.nativeErrorCode().toInt(&number) & 0xff;
    if (!number)
        return false;
    constexpr int kBusy = 5, kLocked = 6, kNoMemory = 7, kReadOnly = 8, kIoError = 10, kFull = 13,
                  kCantOpen = 14, kProtocol = 15;
    return code == kBusy || code == kLocked || code == kNoMemory || code == kReadOnly ||
           code == kIoError || code == kFull || code == kCantOpen || code == kProtocol;
}

bool insertRow(QSqlQuery& query, const QVariantList& values, QString* error, bool* fileUnusable)
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    const bool inserted = query.exec();
    // Reset, so the statement holds nothing of the file until the next row.
    query.finish();
    if (inserted)
        return true;
    *error = sqlErrorText(query.lastError());
    *fileUnusable = isFileUnusable(query.lastError());
    return false;
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
    : m_folder(folder), m_connectionName(uniqueConnectionName(QStringLiteral("powerlog-energy"))),
      m_rename(replaceFile)
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
        description = QStringLiteral("%1 already exists.").arg(QDir::toNativeSeparators(path));
    } else {
        written = writeEnergySchema(path, &description);
        QString ignored;
        if (!written)
            removeDatabaseFiles(path, &ignored);
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

DatabaseResult EnergyDatabase::open(const Progress& progress)
{
    if (isOpen())
        return succeeded();
    QString error;
    bool stopped = false;
    if (!openConnection(progress, &stopped, &error))
        return noConnection(error);
    DatabaseResult result = succeeded();
    result.interrupted = stopped;
    return result;
}

bool EnergyDatabase::openConnection(const Progress& progress, bool* stopped, QString* error)
{
    const QString file = path();
    if (!QFileInfo(file).isFile()) {
        *error = QStringLiteral("File not found: %1").arg(QDir::toNativeSeparators(file));
        return false;
    }
    // mode=rw: a file removed meanwhile is not made anew, empty.
    QSqlDatabase db = openSqlite(m_connectionName, file, SqliteMode::ReadWrite, error);
    if (!db.isValid())
        return false;
    if (prepareEnergyConnection(db, progress, stopped, error))
        return true;
    db.close();
    return false;
}

void EnergyDatabase::close()
{
    m_insert.reset();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::database(m_connectionName, false).close();
}

void EnergyDatabase::useRecordingCache()
{
    if (isOpen())
        QSqlQuery(connection())
            .exec(QStringLiteral("PRAGMA cache_size=-%1").arg(kRecordingCacheKiB));
}

DatabaseResult EnergyDatabase::insert(const Reading& reading)
{
    if (!reading.power || !reading.energy)
        return failed(QStringLiteral("The reading has no power or energy number to record."));
    const DatabaseResult opened = open();
    if (!opened.ok())
        return opened;

    const QVariant none(QMetaType::fromType<double>());
    const QVariantList values{reading.lineMeasured ? storedValue(reading.V) : none,
                              reading.lineMeasured ? storedValue(reading.A) : none,
                              int(*reading.power), *reading.energy,
                              QLocale::c().toString(reading.time, kDataFormat)};
    QString error;
    bool fileUnusable = false;
    // Prepared once per connection: the statement compiles the table's triggers with it.
    if (!m_insert) {
        auto query = std::make_unique<QSqlQuery>(connection());
        if (!query->prepare(
                QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES (?, ?, ?, ?, ?)"))) {
            error = sqlErrorText(query->lastError());
            return isFileUnusable(query->lastError()) ? noConnection(error) : failed(error);
        }
        m_insert = std::move(query);
    }
    if (insertRow(*m_insert, values, &error, &fileUnusable))
        return succeeded();
    // A file that cannot take rows for now is as good as absent: the reading waits for it.
    return fileUnusable ? noConnection(error) : failed(error);
}

DatabaseResult EnergyDatabase::clear()
{
    const DatabaseResult opened = open();
    if (!opened.ok())
        return opened;
    QString error;
    if (execTransaction(connection(),
                        {QStringLiteral("DELETE FROM Energy"),
                         QStringLiteral("DELETE FROM %1").arg(kRollupTable),
                         QStringLiteral("DELETE FROM %1").arg(kDayTable),
                         QStringLiteral("DELETE FROM %1").arg(kHourTable),
                         QStringLiteral("DELETE FROM %1").arg(kMeterHourTable),
                         QStringLiteral("DELETE FROM %1").arg(kMeterDayTable)},
                        &error))
        return succeeded();
    return failed(error);
}

DatabaseResult EnergyDatabase::storeMeterHistory(const MeterHistory& history)
{
    const DatabaseResult opened = open();
    if (!opened.ok())
        return opened;
    QSqlDatabase db = connection();
    if (!db.transaction())
        return failed(sqlErrorText(db.lastError()));
    const auto store = [&db](const QString& table, const QString& key, const QString& text,
                             qint64 wattHours) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO %1 (%2, WattSeconds) VALUES (?, ?)")
                          .arg(table, key));
        query.addBindValue(text);
        query.addBindValue(double(wattHours) * 3600.0);
        return query.exec() ? QString() : sqlErrorText(query.lastError());
    };
    QString error;
    for (const MeterHistory::Hour& hour : history.hours) {
        if (error.isEmpty())
            error = store(kMeterHourTable, QStringLiteral("Hour"),
                          QString::asprintf("%04d-%02d-%02d %02d:00", hour.date.year(),
                                            hour.date.month(), hour.date.day(), hour.hour),
                          hour.wattHours);
    }
    for (const MeterHistory::Day& day : history.days) {
        if (error.isEmpty())
            error = store(kMeterDayTable, QStringLiteral("Day"), day.date.toString(Qt::ISODate),
                          day.wattHours);
    }
    if (!error.isEmpty()) {
        db.rollback();
        return failed(error);
    }
    if (!db.commit())
        return failed(sqlErrorText(db.lastError()));
    return succeeded();
}

DatabaseResult EnergyDatabase::compact(const std::function<bool()>& keepGoing)
{
    QString error;
    // Fold the WAL into the file so that the file alone is the whole database while it is
    // renamed; closing the last connection then removes the -wal and -shm files.
    if (isOpen() &&
        !execSql(connection(), QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), &error))
        return failed(error);
    close();
    bool compacted = false;
    bool stopped = false;
    runAtLowestPriority(
        [&] { compacted = compactEnergyFile(m_folder, m_rename, &error, keepGoing, &stopped); });
    // Only a stopped compaction is done again: a failing one would fail at every start.
    const QString pending = QDir(m_folder).filePath(kCompactionPendingName);
    if (stopped)
        QFile(pending).open(QIODevice::WriteOnly);
    else
        QFile::remove(pending);
    if (compacted)
        return succeeded();
    DatabaseResult result = failed(error);
    result.interrupted = stopped;
    return result;
}

bool EnergyDatabase::compactionPending() const
{
    return QFileInfo::exists(QDir(m_folder).filePath(kCompactionPendingName));
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
