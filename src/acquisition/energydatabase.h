#pragma once

#include <QSqlDatabase>
#include <QString>
#include <functional>

namespace powerlog {

class Clock;
class Prompts;

// The energy database "DbEnergy.mdb" in the program's folder: one SQLite connection, the
// table Energy (V, a, W, e, Data), insertion of readings, clearing and compaction.
//
// Besides Energy the file holds EnergyHalfHour, one row per half hour with the count, sum and
// maximum of W, kept up to date by a trigger on every insert, so that monthly and yearly
// charts never scan the full table.
class EnergyDatabase
{
public:
    static inline const QString kFileName = QStringLiteral("DbEnergy.mdb");
    static inline const QString kTempName = QStringLiteral("temp.mdb");
    static inline const QString kBackupName = QStringLiteral("DbEnergy.bak");

    // Data is written with this pattern (local time), so text order is time order.
    static inline const QString kDataFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    // Half-hour slots: 'yyyy-MM-dd HH:00' or 'yyyy-MM-dd HH:30'.
    static inline const QString kRollupTable = QStringLiteral("EnergyHalfHour");

    enum class InsertResult { Written, NoConnection, Refused };

    // Renames a file; false on failure. Replaceable so that tests can make one step fail.
    using RenameFunction = std::function<bool(const QString& from, const QString& to)>;

    EnergyDatabase(const QString& folder, Prompts& prompts, const Clock& clock);
    ~EnergyDatabase();

    EnergyDatabase(const EnergyDatabase&) = delete;
    EnergyDatabase& operator=(const EnergyDatabase&) = delete;

    // Writes a new empty database with the table and its indexes. Used by the build.
    // Refuses to touch an existing file.
    static bool createEmpty(const QString& path, QString* error = nullptr);

    QString path() const;
    bool isOpen() const;

    // Opens the existing file; never creates it. On failure shows "Errore connessione DB".
    bool OpenDatabase();
    void close();

    // One row with the current local date and time. NoConnection: the file could not be
    // opened (message shown, recording goes on). Refused: the insert failed (message shown,
    // the caller stops recording).
    InsertResult InsertReading(const QString& v, const QString& a, qint16 w, double e);

    // Asks before deleting every row, then offers compaction. Texts in `languageCode`.
    void ClearDatabase(const QString& languageCode);
    // Compacts into "temp.mdb", keeps the previous file as "DbEnergy.bak".
    bool CompactEnergyDatabase(const QString& languageCode);

    // Shown while a compaction runs (the busy pointer in the program).
    void setBusyIndicator(std::function<void(bool busy)> indicator);

    // The renames of a compaction go through this function (QFile::rename by default).
    void setRenameFunction(RenameFunction rename);

    // The open connection, for the readers of the table (charts, export). Readers should not
    // keep the handle beyond their query: a compaction closes the connection.
    QSqlDatabase connection() const;

private:
    bool openConnection(QString* error);
    bool compactFiles(QString* error);
    bool deleteAllRows(QString* error);
    void setBusy(bool busy) const;

    QString m_folder;
    QString m_connectionName;
    Prompts& m_prompts;
    const Clock& m_clock;
    std::function<void(bool)> m_busy;
    RenameFunction m_rename;
};

} // namespace powerlog
