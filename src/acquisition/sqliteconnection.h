#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

namespace powerlog {

// How a connection may use its file. Through a "file:" URI, ReadWrite forbids SQLite to create
// a missing file, which a plain file name would not.
enum class SqliteMode {
    ReadOnly,        // mode=ro
    ReadWrite,       // mode=rw
    ReadWriteCreate, // mode=rwc
};

// The driver's own words for an error when it has them, else Qt's.
QString sqlErrorText(const QSqlError& error);

// Opens the connection `name` (added when it is not there yet) on `file` in `mode`, waiting up to
// 5 s for a lock. Invalid, with the reason in `error`, when the file does not open. The caller
// closes and removes the connection.
QSqlDatabase openSqlite(const QString& name, const QString& file, SqliteMode mode, QString* error);

// A connection name no other connection of this process uses: `prefix` and a number.
QString uniqueConnectionName(const QString& prefix);

// Runs one statement; false, with the driver's words in `error`, when it is refused.
bool execSql(const QSqlDatabase& db, const QString& sql, QString* error);
// Runs the statements in order, up to the first one refused.
bool execSqlAll(const QSqlDatabase& db, const QStringList& statements, QString* error);
// Runs the statements as one transaction: all of them or none.
bool execTransaction(QSqlDatabase db, const QStringList& statements, QString* error);

// A connection of its own to one file for the length of a scope, removed when it goes out of it.
// It hands out no lasting handle, so the removal never finds the connection in use.
class SqliteConnection
{
public:
    SqliteConnection(const QString& name, const QString& file, SqliteMode mode);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    QSqlDatabase db() const;
    // Whether the file opened; else its reason goes to `error` when given.
    bool opened(QString* error = nullptr) const;

private:
    QString m_name;
    QString m_openError;
    bool m_opened = false;
};

} // namespace powerlog
