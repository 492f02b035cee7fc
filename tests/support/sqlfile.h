#pragma once

// A connection of the test's own to a database file, for looking at what the program wrote
// (or for spoiling the file on purpose), closed and removed when it goes out of scope.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <atomic>

namespace powerlog::test {

class SqlFile
{
public:
    explicit SqlFile(const QString& path)
        : m_name(QStringLiteral("test-sqlfile-%1").arg(++counter()))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        db.open();
    }
    ~SqlFile()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    SqlFile(const SqlFile&) = delete;
    SqlFile& operator=(const SqlFile&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    // The first column of the first row, or an invalid value.
    QVariant value(const QString& sql) const
    {
        QSqlQuery query(db());
        return query.exec(sql) && query.next() ? query.value(0) : QVariant();
    }
    int rows() const
    {
        const QVariant n = value(QStringLiteral("SELECT count(*) FROM Energy"));
        return n.isValid() ? n.toInt() : -1;
    }
    bool exec(const QString& sql) const { return QSqlQuery(db()).exec(sql); }

private:
    static std::atomic<int>& counter()
    {
        static std::atomic<int> n{0};
        return n;
    }

    QString m_name;
};

// What `PRAGMA integrity_check` says of the file: "ok" when it is whole.
inline QString integrity(const QString& path)
{
    return SqlFile(path).value(QStringLiteral("PRAGMA integrity_check")).toString();
}

// Slots of the half-hour summary that differ from a recomputation from Energy.
inline int summaryDifferences(const QString& path)
{
    const QString recomputed = QStringLiteral(
        "SELECT substr(Data, 1, 14) || CASE WHEN substr(Data, 15, 2) < '30' THEN '00' ELSE "
        "'30' END, count(*), sum(W), max(W) FROM Energy WHERE W IS NOT NULL GROUP BY 1");
    const QString stored = QStringLiteral("SELECT Slot, Samples, SumW, MaxW FROM EnergyHalfHour");
    SqlFile sql(path);
    return sql.value(QStringLiteral("SELECT count(*) FROM (%1 EXCEPT %2)").arg(recomputed, stored))
               .toInt() +
           sql.value(QStringLiteral("SELECT count(*) FROM (%2 EXCEPT %1)").arg(recomputed, stored))
               .toInt();
}

// Writes a file with only the Energy table, as written by hand or by another program: `rows`
// readings one every 10 s from `from` (yyyy-MM-dd), V 230, A 2, W cycling 0..2999, e the count.
inline bool writeEnergyOnlyFile(const QString& path, int rows, const QString& from)
{
    SqlFile sql(path);
    return sql.exec(QStringLiteral(
               "CREATE TABLE Energy (V REAL, a REAL, W INTEGER, e REAL, Data TEXT)")) &&
           sql.exec(
               QStringLiteral(
                   "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                   "INSERT INTO Energy SELECT 230, 2, i % 3000, i, "
                   "strftime('%Y-%m-%d %H:%M:%S', '%2', '+' || (i * 10) || ' seconds') "
                   "FROM n")
                   .arg(rows - 1)
                   .arg(from));
}

} // namespace powerlog::test
