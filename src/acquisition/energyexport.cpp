#include "acquisition/energyexport.h"

#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "acquisition/exportformat.h"

#include <QElapsedTimer>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace powerlog {

namespace {

// Data in the program's own text form; other rows cannot be placed in a period.
const QString kOwnForm =
    QStringLiteral("Data GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'");

constexpr qsizetype kWriteChunk = 256 * 1024;
constexpr int kRowsBetweenClockLooks = 1024;
constexpr qint64 kProgressEveryMs = 50;

QString describe(const QSqlError& error)
{
    const QString text = error.databaseText();
    return text.isEmpty() ? error.text() : text;
}

QString dataText(const QDateTime& moment)
{
    return moment.toString(EnergyDatabase::kDataFormat);
}

ExportResult failure(ExportResult::Kind kind, const QString& error, qint64 rows = 0)
{
    return {kind, error, rows};
}

// How far the export has come, 0..1000: by row number for the whole table (rows come in
// recording order), by time for a period (rows come in time order).
class ProgressMeter
{
public:
    ProgressMeter(const QSqlDatabase& db, const ExportRequest& request)
    {
        if (request.period) {
            m_from = request.period->first;
            m_to = request.period->second;
            return;
        }
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("SELECT max(rowid) FROM Energy")) && query.next())
            m_lastRow = query.value(0).toLongLong();
    }

    int permille(const QSqlQuery& row) const
    {
        double done = 0;
        if (m_from.isValid()) {
            const QDateTime at =
                QDateTime::fromString(row.value(5).toString(), EnergyDatabase::kDataFormat);
            const qint64 span = m_from.secsTo(m_to);
            done = span > 0 && at.isValid() ? double(m_from.secsTo(at)) / double(span) : 0;
        } else if (m_lastRow > 0) {
            done = row.value(0).toDouble() / double(m_lastRow);
        }
        return int(std::clamp(done, 0.0, 1.0) * 1000);
    }

private:
    QDateTime m_from;
    QDateTime m_to;
    qint64 m_lastRow = 0;
};

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

ExportResult exportEnergy(const QSqlDatabase& db, const ExportRequest& request,
                          const ReadTicket* ticket,
                          const std::function<void(int permille)>& progress)
{
    const auto cancelled = [ticket] { return ticket && ticket->isCancelled(); };
    if (cancelled())
        return failure(ExportResult::Kind::Cancelled, {});

    const ProgressMeter meter(db, request);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString columns = QStringLiteral("SELECT rowid, V, a, W, e, Data FROM Energy");
    // The bounds travel as values, never inside the statement's text.
    const bool prepared =
        request.period
            ? query.prepare(columns + QStringLiteral(" WHERE Data >= ? AND Data <= ? AND ") +
                            kOwnForm)
            : query.prepare(columns);
    if (request.period) {
        query.addBindValue(dataText(request.period->first));
        query.addBindValue(dataText(request.period->second));
    }
    if (!prepared || !query.exec())
        return failure(ExportResult::Kind::ReadFailed, describe(query.lastError()));

    QSaveFile file(request.path);
    if (!file.open(QIODevice::WriteOnly))
        return failure(ExportResult::Kind::WriteFailed, file.errorString());

    ExportFormat format(request.locale, separatorChar(request.separator));
    QByteArray chunk = format.headingLine(request.headings);
    chunk.reserve(kWriteChunk + 4096);
    const auto writeChunk = [&file, &chunk] {
        const bool written = file.write(chunk) == chunk.size();
        chunk.clear();
        return written;
    };

    QElapsedTimer sinceProgress;
    sinceProgress.start();
    if (progress)
        progress(0);
    std::array<QVariant, ExportFormat::kColumns> row;
    qint64 rows = 0;
    while (query.next()) {
        if (cancelled()) {
            file.cancelWriting();
            return failure(ExportResult::Kind::Cancelled, {}, rows);
        }
        for (int column = 0; column < ExportFormat::kColumns; ++column)
            row[std::size_t(column)] = query.value(column + 1);
        format.appendRow(chunk, row);
        ++rows;
        if (chunk.size() >= kWriteChunk && !writeChunk())
            return failure(ExportResult::Kind::WriteFailed, file.errorString(), rows);
        if (rows % kRowsBetweenClockLooks == 0 && progress &&
            sinceProgress.elapsed() >= kProgressEveryMs) {
            progress(meter.permille(query));
            sinceProgress.restart();
        }
    }
    if (query.lastError().isValid())
        return failure(ExportResult::Kind::ReadFailed, describe(query.lastError()), rows);
    if (cancelled()) {
        file.cancelWriting();
        return failure(ExportResult::Kind::Cancelled, {}, rows);
    }
    if (!writeChunk() || !file.commit())
        return failure(ExportResult::Kind::WriteFailed, file.errorString(), rows);
    if (progress)
        progress(1000);
    return {ExportResult::Kind::Ok, {}, rows};
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
    void rangeRead(const powerlog::RecordedMoments& range, bool ok, const QString& error);
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
                emit answers->rangeRead({}, false, openError);
                return;
            }
            QString error;
            const std::optional<RecordedMoments> range = recordedMoments(db, &error);
            emit answers->rangeRead(range.value_or(RecordedMoments{}), range.has_value(), error);
        });
}

void ExportSource::start(const ExportRequest& request)
{
    cancel();
    m_running = true;
    const quint64 generation = ++m_generation;
    m_ticket = m_reader.read([answers = m_answers, request, generation](QSqlDatabase db,
                                                                        const QString& openError,
                                                                        const ReadTicket& ticket) {
        if (!db.isValid()) {
            emit answers->finished(generation, {ExportResult::Kind::NoConnection, openError, 0});
            return;
        }
        emit answers->finished(generation,
                               exportEnergy(db, request, &ticket, [&answers, generation](int p) {
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
