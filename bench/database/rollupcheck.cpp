#include "rollupcheck.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <atomic>

namespace powerlog::bench {

namespace {

const QString kTrigger = QStringLiteral("EnergyHalfHourOnInsert");

QString rowCondition(const QString& row)
{
    return QStringLiteral("%1W IS NOT NULL AND %1Data GLOB "
                          "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'")
        .arg(row);
}

QString slotOf(const QString& data)
{
    return QStringLiteral("substr(%1, 1, 14) || CASE WHEN substr(%1, 15, 2) < '30' "
                          "THEN '00' ELSE '30' END")
        .arg(data);
}

QString slotUpsert()
{
    return QStringLiteral("ON CONFLICT (Slot) DO UPDATE SET Samples = Samples + excluded.Samples, "
                          "SumW = SumW + excluded.SumW, MaxW = max(MaxW, excluded.MaxW)");
}

// A connection of its own to one file for the length of a scope.
class ScopedConnection
{
public:
    explicit ScopedConnection(const QString& file)
        : m_name(QStringLiteral("bench-check-%1").arg(++s_counter))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        db.open();
    }
    ~ScopedConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    ScopedConnection(const ScopedConnection&) = delete;
    ScopedConnection& operator=(const ScopedConnection&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    static inline std::atomic<int> s_counter{0};
    QString m_name;
};

} // namespace

QString RollupSummary::describe() const
{
    return QStringLiteral("%1 half hours, %2 samples, sum W %3, max W %4, journal %5")
        .arg(halfHours)
        .arg(samples)
        .arg(sumW)
        .arg(maxW)
        .arg(journalMode);
}

std::optional<RollupSummary> summarize(const QString& file, QString* error)
{
    if (!QFileInfo(file).isFile()) {
        *error = QStringLiteral("%1 is missing").arg(file);
        return {};
    }
    ScopedConnection connection(file);
    QSqlQuery query(connection.db());
    RollupSummary summary;
    if (!query.exec(QStringLiteral("SELECT group_concat(sql, ';\n') FROM (SELECT sql FROM "
                                   "sqlite_master WHERE name IN ('EnergyHalfHour', '%1', "
                                   "'EnergyByData') ORDER BY name)")
                        .arg(kTrigger)) ||
        !query.next()) {
        *error = query.lastError().text();
        return {};
    }
    summary.schema = query.value(0).toString();
    if (!query.exec(QStringLiteral("PRAGMA journal_mode")) || !query.next()) {
        *error = query.lastError().text();
        return {};
    }
    summary.journalMode = query.value(0).toString();
    if (!query.exec(QStringLiteral(
            "SELECT count(*), sum(Samples), sum(SumW), max(MaxW) FROM EnergyHalfHour")) ||
        !query.next()) {
        *error = query.lastError().text();
        return {};
    }
    summary.halfHours = query.value(0).toLongLong();
    summary.samples = query.value(1).toLongLong();
    summary.sumW = query.value(2).toLongLong();
    summary.maxW = query.value(3).toLongLong();
    return summary;
}

qint64 energyRows(const QString& file)
{
    ScopedConnection connection(file);
    QSqlQuery query(connection.db());
    if (!query.exec(QStringLiteral("SELECT max(rowid) FROM Energy")) || !query.next())
        return 0;
    return query.value(0).toLongLong();
}

qint64 summarySamplesFrom(const QString& file, const QString& firstSlot)
{
    ScopedConnection connection(file);
    QSqlQuery query(connection.db());
    query.prepare(QStringLiteral("SELECT total(Samples) FROM EnergyHalfHour WHERE Slot >= ?"));
    query.addBindValue(firstSlot);
    if (!query.exec() || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

QString singleTransactionRebuild()
{
    const QStringList statements{
        QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("PRAGMA synchronous=FULL"),
        QStringLiteral("BEGIN"),
        QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(kTrigger),
        QStringLiteral("DROP TABLE IF EXISTS EnergyHalfHour"),
        QStringLiteral("CREATE TABLE EnergyHalfHour (Slot TEXT PRIMARY KEY, "
                       "Samples INTEGER NOT NULL, SumW INTEGER NOT NULL, MaxW INTEGER NOT NULL) "
                       "WITHOUT ROWID"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS EnergyByData ON Energy (Data)"),
        QStringLiteral("INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) "
                       "SELECT %1, count(*), sum(W), max(W) FROM Energy WHERE %2 GROUP BY 1 ")
                .arg(slotOf(QStringLiteral("Data")), rowCondition({})) +
            slotUpsert(),
        QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON Energy WHEN %2 BEGIN "
                       "INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) "
                       "VALUES (%3, 1, NEW.W, NEW.W) %4; END")
            .arg(kTrigger, rowCondition(QStringLiteral("NEW.")), slotOf(QStringLiteral("NEW.Data")),
                 slotUpsert()),
        QStringLiteral("COMMIT"),
    };
    return statements.join(QStringLiteral(";\n")) + QStringLiteral(";\n");
}

} // namespace powerlog::bench
