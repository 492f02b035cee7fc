#pragma once

#include <QSqlDatabase>
#include <QString>
#include <functional>

namespace powerlog {

class Clock;
class Prompts;

// The energy database "DbEnergy.mdb" in the program's folder: one SQLite connection, the
// table Energy (V, a, W, e, Data), insertion of readings, clearing and compaction.
class EnergyDatabase
{
public:
    static inline const QString kFileName = QStringLiteral("DbEnergy.mdb");
    static inline const QString kTempName = QStringLiteral("temp.mdb");
    static inline const QString kBackupName = QStringLiteral("DbEnergy.bak");

    enum class InsertResult { Written, NoConnection, Refused };

    EnergyDatabase(const QString& folder, Prompts& prompts, const Clock& clock);
    ~EnergyDatabase();

    EnergyDatabase(const EnergyDatabase&) = delete;
    EnergyDatabase& operator=(const EnergyDatabase&) = delete;

    // Writes a new empty database with the table and its indexes. Used by the build.
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

    // The open connection, for the readers of the table (charts, export).
    QSqlDatabase connection() const;

private:
    QString m_folder;
    QString m_connectionName;
    Prompts& m_prompts;
    const Clock& m_clock;
    std::function<void(bool)> m_busy;
};

} // namespace powerlog
