#include "acquisition/sqliteconnection.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QUrl>
#include <atomic>

namespace powerlog {

namespace {

QString modeText(SqliteMode mode)
{
    switch (mode) {
    case SqliteMode::ReadOnly:
        return QStringLiteral("ro");
    case SqliteMode::ReadWrite:
        return QStringLiteral("rw");
    case SqliteMode::ReadWriteCreate:
        return QStringLiteral("rwc");
    }
    return QStringLiteral("ro");
}

} // namespace

QString sqlErrorText(const QSqlError& error)
{
    const QString text = error.databaseText();
    return text.isEmpty() ? error.text() : text;
}

QSqlDatabase openSqlite(const QString& name, const QString& file, SqliteMode mode, QString* error)
{
    QSqlDatabase db = QSqlDatabase::contains(name)
                          ? QSqlDatabase::database(name, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    const QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    db.setDatabaseName(url.toString(QUrl::FullyEncoded) + QStringLiteral("?mode=") +
                       modeText(mode));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    if (db.open())
        return db;
    *error = sqlErrorText(db.lastError());
    return {};
}

QString uniqueConnectionName(const QString& prefix)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("%1-%2").arg(prefix).arg(++counter);
}

bool execSql(const QSqlDatabase& db, const QString& sql, QString* error)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    *error = sqlErrorText(query.lastError());
    return false;
}

bool execSqlAll(const QSqlDatabase& db, const QStringList& statements, QString* error)
{
    for (const QString& sql : statements) {
        if (!execSql(db, sql, error))
            return false;
    }
    return true;
}

bool execTransaction(QSqlDatabase db, const QStringList& statements, QString* error)
{
    if (!db.transaction()) {
        *error = sqlErrorText(db.lastError());
        return false;
    }
    if (!execSqlAll(db, statements, error)) {
        db.rollback();
        return false;
    }
    if (db.commit())
        return true;
    *error = sqlErrorText(db.lastError());
    db.rollback();
    return false;
}

SqliteConnection::SqliteConnection(const QString& name, const QString& file, SqliteMode mode)
    : m_name(name)
{
    m_opened = openSqlite(m_name, file, mode, &m_openError).isValid();
}

SqliteConnection::~SqliteConnection()
{
    QSqlDatabase::database(m_name, false).close();
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase SqliteConnection::db() const
{
    return QSqlDatabase::database(m_name, false);
}

bool SqliteConnection::opened(QString* error) const
{
    if (!m_opened && error)
        *error = m_openError;
    return m_opened;
}

} // namespace powerlog
