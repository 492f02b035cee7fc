#include "acquisition/sqliteconnection.h"

#include <QFileInfo>
#include <QUrl>

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
