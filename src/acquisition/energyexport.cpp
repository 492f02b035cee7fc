#include "acquisition/energyexport.h"

#include "acquisition/databasereader.h"
#include "acquisition/energyaccounts.h"
#include "acquisition/energydatabase.h"
#include "acquisition/exportformat.h"
#include "acquisition/sqliteconnection.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <algorithm>
#include <memory>
#include <sqlite3.h>

namespace powerlog {

namespace {

// Data in the program's own text form; other rows cannot be placed in a period.
const QString kOwnForm =
    QStringLiteral("Data GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'");

constexpr qsizetype kWriteChunk = 256 * 1024;
constexpr int kRowsBetweenClockLooks = 1024;
constexpr qint64 kProgressEveryMs = 50;
constexpr int kBusyTimeoutMs = 5000;

QString describe(const QSqlError& error)
{
    const QString text = error.databaseText();
    return text.isEmpty() ? error.text() : text;
}

ExportResult failure(ExportResult::Kind kind, const QString& error, qint64 rows = 0)
{
    return {kind, error, rows};
}

struct CloseConnection
{
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement
{
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

QString errorOf(sqlite3* db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// The export reads with SQLite's own interface on a read-only connection of its own: going
// through QSqlQuery costs a QVariant for every value and an UTF-16 copy of every text, more than
// the whole export may take per row.
Connection openReadOnly(const QString& file, QString* error)
{
    if (!QFileInfo(file).isFile()) {
        *error = QStringLiteral("File not found: %1").arg(QDir::toNativeSeparators(file));
        return {};
    }
    const QByteArray uri = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath())
                               .toString(QUrl::FullyEncoded)
                               .toUtf8() +
                           "?mode=ro";
    sqlite3* handle = nullptr;
    const int opened =
        // Used by one thread only: no locking on every call.
        sqlite3_open_v2(uri.constData(), &handle,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection db(handle);
    if (opened != SQLITE_OK) {
        *error = handle ? errorOf(handle) : QString::fromUtf8(sqlite3_errstr(opened));
        return {};
    }
    sqlite3_busy_timeout(handle, kBusyTimeoutMs);
    return db;
}

Statement prepare(sqlite3* db, const QByteArray& sql)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &statement, nullptr);
    return Statement(statement);
}

QByteArrayView textOf(sqlite3_stmt* statement, int column)
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return QByteArrayView(bytes, sqlite3_column_bytes(statement, column));
}

ExportValue valueOf(sqlite3_stmt* statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return ExportValue::whole(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return ExportValue::number(sqlite3_column_double(statement, column));
    case SQLITE_TEXT:
    case SQLITE_BLOB: // a reading that was no number, kept as its UTF-8 bytes
        return ExportValue::utf8(textOf(statement, column));
    default:
        return ExportValue::null();
    }
}

// How far the export has come, 0..1000: by row number for the whole table (rows come in
// recording order), by time for a period (rows come in time order).
class ProgressMeter
{
public:
    ProgressMeter(sqlite3* db, const ExportRequest& request)
    {
        if (request.period) {
            m_from = request.period->first;
            m_to = request.period->second;
            return;
        }
        const Statement last = prepare(db, "SELECT max(rowid) FROM Energy");
        if (last && sqlite3_step(last.get()) == SQLITE_ROW)
            m_lastRow = sqlite3_column_int64(last.get(), 0);
    }

    // `statement` stands on a row of rowid, V, a, W, e, Data.
    int permille(sqlite3_stmt* statement) const
    {
        double done = 0;
        if (m_from.isValid()) {
            const QDateTime at = QDateTime::fromString(QString::fromUtf8(textOf(statement, 5)),
                                                       EnergyDatabase::kDataFormat);
            const qint64 span = m_from.secsTo(m_to);
            done = span > 0 && at.isValid() ? double(m_from.secsTo(at)) / double(span) : 0;
        } else if (m_lastRow > 0) {
            done = double(sqlite3_column_int64(statement, 0)) / double(m_lastRow);
        }
        return int(std::clamp(done, 0.0, 1.0) * 1000);
    }

private:
    QDateTime m_from;
    QDateTime m_to;
    qint64 m_lastRow = 0;
};

// How a step of an export's rows ended.
enum class RowStep { Appended, Done, Failed };

// The part every export shares: the heading line, then the rows `nextRow(chunk, &error)`
// appends one at a time, written in chunks to `request.path` under a temporary name that the
// file takes only when complete. `permille()` says how far the rows have come.
template <typename NextRow, typename Permille>
ExportResult writeExport(const ExportRequest& request, const QByteArray& headingLine,
                         const ReadTicket* ticket,
                         const std::function<void(int permille)>& progress, NextRow&& nextRow,
                         Permille&& permille)
{
    QSaveFile file(request.path);
    if (!file.open(QIODevice::WriteOnly))
        return failure(ExportResult::Kind::WriteFailed, file.errorString());

    QByteArray chunk = headingLine;
    chunk.reserve(kWriteChunk + 4096);
    const auto writeChunk = [&file, &chunk] {
        const bool written = file.write(chunk) == chunk.size();
        chunk.resize(0); // keeps the buffer for the next chunk
        return written;
    };
    const auto cancel = [&file, ticket] {
        if (!ticket || !ticket->isCancelled())
            return false;
        file.cancelWriting();
        return true;
    };

    QElapsedTimer sinceProgress;
    sinceProgress.start();
    if (progress)
        progress(0);
    qint64 written = 0;
    QString readError;
    RowStep step = RowStep::Appended;
    while ((step = nextRow(chunk, &readError)) == RowStep::Appended) {
        if (cancel())
            return failure(ExportResult::Kind::Cancelled, {}, written);
        ++written;
        if (chunk.size() >= kWriteChunk && !writeChunk())
            return failure(ExportResult::Kind::WriteFailed, file.errorString(), written);
        if (written % kRowsBetweenClockLooks == 0 && progress &&
            sinceProgress.elapsed() >= kProgressEveryMs) {
            progress(permille());
            sinceProgress.restart();
        }
    }
    if (step == RowStep::Failed)
        return failure(ExportResult::Kind::ReadFailed, readError, written);
    if (cancel())
        return failure(ExportResult::Kind::Cancelled, {}, written);
    if (!writeChunk() || !file.commit())
        return failure(ExportResult::Kind::WriteFailed, file.errorString(), written);
    if (progress)
        progress(1000);
    return {ExportResult::Kind::Ok, {}, written};
}

ExportResult exportReadings(const QString& databaseFile, const ExportRequest& request,
                            const ReadTicket* ticket,
                            const std::function<void(int permille)>& progress)
{
    if (ticket && ticket->isCancelled())
        return failure(ExportResult::Kind::Cancelled, {});

    QString openError;
    const Connection db = openReadOnly(databaseFile, &openError);
    if (!db)
        return failure(ExportResult::Kind::NoConnection, openError);

    const ProgressMeter meter(db.get(), request);
    QByteArray sql = "SELECT rowid, V, a, W, e, Data FROM Energy";
    if (request.period)
        sql += " WHERE Data >= ?1 AND Data <= ?2 AND " + kOwnForm.toUtf8();
    const Statement rows = prepare(db.get(), sql);
    if (!rows)
        return failure(ExportResult::Kind::ReadFailed, errorOf(db.get()));
    // The bounds travel as values, never inside the statement's text.
    if (request.period) {
        for (const auto& [index, moment] :
             {std::pair{1, request.period->first}, {2, request.period->second}}) {
            const QByteArray bound = moment.toString(EnergyDatabase::kDataFormat).toUtf8();
            sqlite3_bind_text(rows.get(), index, bound.constData(), int(bound.size()),
                              SQLITE_TRANSIENT);
        }
    }

    ExportFormat format(request.locale, separatorChar(request.separator));
    std::array<ExportValue, ExportFormat::kColumns> row;
    return writeExport(
        request, format.headingLine(request.headings), ticket, progress,
        [&](QByteArray& chunk, QString* error) {
            const int step = sqlite3_step(rows.get());
            if (step == SQLITE_DONE)
                return RowStep::Done;
            if (step != SQLITE_ROW) {
                *error = errorOf(db.get());
                return RowStep::Failed;
            }
            for (int column = 0; column < ExportFormat::kColumns; ++column)
                row[std::size_t(column)] = valueOf(rows.get(), column + 1);
            format.appendRow(chunk, row);
            return RowStep::Appended;
        },
        [&meter, &rows] { return meter.permille(rows.get()); });
}

// A number for each hour of the calendar, counted on from the hour before it.
qint64 hourNumber(const QDate& date, int hour)
{
    return date.toJulianDay() * 24 + hour;
}

// The hours of the request that hold anything, in time order; nullopt with the engine's words
// in `error` when they cannot be read, or with no words when the ticket was cancelled.
std::optional<QList<HourEnergy>> hoursToExport(const QSqlDatabase& db, const ExportRequest& request,
                                               const ReadTicket* ticket, QString* error)
{
    QDate from;
    QDate to;
    if (request.period) {
        from = request.period->first.date();
        to = request.period->second.date();
    } else {
        const std::optional<RecordedMoments> range = recordedMoments(db, error);
        if (!range)
            return std::nullopt;
        if (range->isEmpty())
            return QList<HourEnergy>{};
        from = range->first.date();
        to = range->last.date();
    }
    ReadError readError;
    std::optional<QList<HourEnergy>> hours = EnergyQueries(db).hours(from, to, &readError, ticket);
    if (!hours) {
        *error = readError.description;
        return std::nullopt;
    }
    if (request.period) {
        const qint64 first = hourNumber(from, request.period->first.time().hour());
        const qint64 last = hourNumber(to, request.period->second.time().hour());
        hours->removeIf([first, last](const HourEnergy& each) {
            const qint64 number = hourNumber(each.date, each.hour);
            return number < first || number > last;
        });
    }
    return hours;
}

void appendHour(ExportFormat& format, QByteArray& out, const HourEnergy& hour,
                const TariffPrices& prices)
{
    const QString start = QStringLiteral("%1 %2:00")
                              .arg(hour.date.toString(Qt::ISODate))
                              .arg(hour.hour, 2, 10, QLatin1Char('0'));
    format.appendText(out, start.toUtf8());
    const EnergyFigures& figures = hour.figures;
    for (const double kwh : {figures.kwh(), figures.kwh(TariffBand::F1),
                             figures.kwh(TariffBand::F2), figures.kwh(TariffBand::F3)}) {
        out += format.separator();
        format.appendFixed(out, kwh, 3);
    }
    out += format.separator();
    format.appendFixed(out, figures.cost(prices), 2);
    out += ExportFormat::kLineEnd;
}

ExportResult exportHours(const QString& databaseFile, const ExportRequest& request,
                         const ReadTicket* ticket,
                         const std::function<void(int permille)>& progress)
{
    const auto cancelled = [ticket] { return ticket && ticket->isCancelled(); };
    if (cancelled())
        return failure(ExportResult::Kind::Cancelled, {});
    if (!QFileInfo(databaseFile).isFile()) {
        return failure(
            ExportResult::Kind::NoConnection,
            QStringLiteral("File not found: %1").arg(QDir::toNativeSeparators(databaseFile)));
    }

    std::optional<QList<HourEnergy>> hours;
    QString error;
    {
        const SqliteConnection connection(uniqueConnectionName(QStringLiteral("powerlog-export")),
                                          databaseFile, SqliteMode::ReadOnly);
        if (!connection.opened(&error))
            return failure(ExportResult::Kind::NoConnection, error);
        hours = hoursToExport(connection.db(), request, ticket, &error);
    }
    if (!hours && cancelled())
        return failure(ExportResult::Kind::Cancelled, {});
    if (!hours)
        return failure(ExportResult::Kind::ReadFailed, error);

    ExportFormat format(request.locale, separatorChar(request.separator));
    qsizetype next = 0;
    return writeExport(
        request, format.headingLine(request.headings), ticket, progress,
        [&](QByteArray& chunk, QString*) {
            if (next == hours->size())
                return RowStep::Done;
            appendHour(format, chunk, hours->at(next++), request.prices);
            return RowStep::Appended;
        },
        [&next, &hours] { return int(next * 1000 / hours->size()); });
}

} // namespace

char separatorChar(ExportSeparator separator)
{
    switch (separator) {
    case ExportSeparator::Comma:
        return ',';
    case ExportSeparator::Semicolon:
        return ';';
    case ExportSeparator::Tab:
        return '\t';
    case ExportSeparator::Space:
        return ' ';
    }
    return ',';
}

ExportResult exportEnergy(const QString& databaseFile, const ExportRequest& request,
                          const ReadTicket* ticket,
                          const std::function<void(int permille)>& progress)
{
    switch (request.kind) {
    case ExportKind::Readings:
        return exportReadings(databaseFile, request, ticket, progress);
    case ExportKind::HourlyEnergy:
        return exportHours(databaseFile, request, ticket, progress);
    }
    return failure(ExportResult::Kind::ReadFailed, QStringLiteral("Unknown kind of export"));
}

std::optional<RecordedMoments> recordedMoments(const QSqlDatabase& db, QString* error)
{
    // Two single-aggregate statements, so that each walks the index on Data from one end.
    RecordedMoments range;
    for (const auto& [function, moment] :
         {std::pair{QStringLiteral("min"), &range.first}, {QStringLiteral("max"), &range.last}}) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(
                QStringLiteral("SELECT %1(Data) FROM Energy WHERE %2").arg(function, kOwnForm))) {
            *error = describe(query.lastError());
            return std::nullopt;
        }
        if (query.next() && !query.value(0).isNull())
            *moment = QDateTime::fromString(query.value(0).toString().left(19),
                                            EnergyDatabase::kDataFormat);
    }
    if (range.isEmpty())
        return RecordedMoments{};
    return range;
}

// Emits the answers from the reader's thread; queued connections carry them to the source.
// Shared with the jobs still waiting, so it outlives a source destroyed before they run.
class ExportSource::Answers : public QObject
{
    Q_OBJECT
signals:
    void rangeRead(const powerlog::RecordedMoments& range, const powerlog::ExportResult& outcome);
    void progress(quint64 generation, int permille);
    void finished(quint64 generation, const powerlog::ExportResult& result);
};

ExportSource::ExportSource(DatabaseReader& reader, QObject* parent)
    : QObject(parent), m_reader(reader), m_answers(std::make_shared<Answers>())
{
    connect(m_answers.get(), &Answers::rangeRead, this, &ExportSource::rangeRead,
            Qt::QueuedConnection);
    connect(
        m_answers.get(), &Answers::progress, this,
        [this](quint64 generation, int permille) {
            if (m_running && generation == m_generation)
                emit progress(permille);
        },
        Qt::QueuedConnection);
    connect(
        m_answers.get(), &Answers::finished, this,
        [this](quint64 generation, const ExportResult& result) {
            if (generation != m_generation)
                return;
            m_running = false;
            m_ticket.reset();
            emit finished(result);
        },
        Qt::QueuedConnection);
}

ExportSource::~ExportSource()
{
    cancel();
    // Jobs that still hold the answers emit into nothing from now on.
    m_answers->disconnect();
}

void ExportSource::requestRange()
{
    m_reader.read(
        [answers = m_answers](QSqlDatabase db, const QString& openError, const ReadTicket&) {
            if (!db.isValid()) {
                emit answers->rangeRead({}, {ExportResult::Kind::NoConnection, openError, 0});
                return;
            }
            QString error;
            const std::optional<RecordedMoments> range = recordedMoments(db, &error);
            if (range)
                emit answers->rangeRead(*range, {});
            else
                emit answers->rangeRead({}, {ExportResult::Kind::ReadFailed, error, 0});
        });
}

void ExportSource::start(const ExportRequest& request)
{
    cancel();
    m_running = true;
    const quint64 generation = ++m_generation;
    // The job reads through a connection of its own (see exportEnergy); the reader's thread
    // keeps it in order with the other reads and off the window's thread.
    m_ticket = m_reader.read([answers = m_answers, request, generation, file = m_reader.path()](
                                 QSqlDatabase, const QString&, const ReadTicket& ticket) {
        emit answers->finished(generation,
                               exportEnergy(file, request, &ticket, [&answers, generation](int p) {
                                   emit answers->progress(generation, p);
                               }));
    });
}

void ExportSource::cancel()
{
    if (m_ticket)
        m_ticket->cancel();
}

} // namespace powerlog

#include "energyexport.moc"
