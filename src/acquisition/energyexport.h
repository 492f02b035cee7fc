#pragma once

#include "acquisition/tariffbands.h"

#include <QDateTime>
#include <QLocale>
#include <QMetaType>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace powerlog {

class DatabaseReader;
class ReadTicket;

// The export's separators, in the order the export window offers them.
enum class ExportSeparator { Comma, Semicolon, Tab, Space };
char separatorChar(ExportSeparator separator);

// What an export writes: the readings as recorded, or the energy of each hour.
enum class ExportKind {
    // One line per reading: tension, current, power, energy, date and time.
    Readings,
    // One line per hour that holds any energy or coverage: the hour ("yyyy-MM-dd HH:00"), its
    // kWh, its kWh in bands F1, F2 and F3 (three decimals) and its cost (two decimals).
    HourlyEnergy,
};

// What to export and where: the whole table, or a period from `from` to `to`, both included
// (local time, to the second). For the hourly energy the period takes the hours from the one
// that holds `from` to the one that holds `to`, and the whole table the days from the first
// reading's to the last one's.
struct ExportRequest
{
    QString path;
    ExportSeparator separator = ExportSeparator::Comma;
    QStringList headings; // the column headings: five for the readings, six for the hours
    QLocale locale;       // numbers, dates and times are written in its form
    std::optional<std::pair<QDateTime, QDateTime>> period;
    ExportKind kind = ExportKind::Readings;
    TariffPrices prices = {}; // what the hours cost; with none set every cost is 0
};

struct ExportResult
{
    enum class Kind {
        Ok,
        NoConnection, // the database could not be opened
        ReadFailed,   // the rows could not be read
        WriteFailed,  // the file could not be written
        Cancelled,
    };

    Kind kind = Kind::Ok;
    QString error; // the description of a failure (English, from the engine or the system)
    qint64 rows = 0;

    bool ok() const { return kind == Kind::Ok; }
};

// The moments of the first and the last reading; invalid when there is none.
struct RecordedMoments
{
    QDateTime first;
    QDateTime last;

    bool isEmpty() const { return !first.isValid() || !last.isValid(); }
};

// Writes the export of `request.kind` from the database file `databaseFile` to `request.path`.
// The file is written under a temporary name in the same folder and takes its name only when
// complete, so a cancelled or failed export leaves no file, and an older file of that name stays
// as it was. A period with nothing in it gives a file with the heading line alone.
//
// Readings are streamed: one row is held at a time, whatever the size of the table. They come in
// the order the database returns them: recording order for the whole table, time order for a
// period. Hours come in time order, read from the energy accounts (see energyaccounts.h) before
// the file is opened; `rows` counts them.
//
// Reads on a read-only connection of its own and runs on the caller's thread: call it where
// waiting on the disk does no harm. `progress` gets 0..1000 now and then (at most 20 times a
// second); a cancelled ticket stops the export between two rows.
ExportResult exportEnergy(const QString& databaseFile, const ExportRequest& request,
                          const ReadTicket* ticket = nullptr,
                          const std::function<void(int permille)>& progress = {});

// The first and the last reading's moments; nullopt, with the engine's description in `error`,
// when they cannot be read.
std::optional<RecordedMoments> recordedMoments(const QSqlDatabase& db, QString* error);

// The export window's work, on the database reader's thread. Answers come back as signals on
// the thread that made the source.
class ExportSource : public QObject
{
    Q_OBJECT
public:
    explicit ExportSource(DatabaseReader& reader, QObject* parent = nullptr);
    ~ExportSource() override;

    void requestRange();
    void start(const ExportRequest& request);
    // Stops the export under way; finished() still comes, with Cancelled unless the export
    // had already ended. A new start() cancels the one before, whose answers never come.
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    // `outcome` is Ok, NoConnection (the file could not be opened) or ReadFailed, with the
    // error's description.
    void rangeRead(const powerlog::RecordedMoments& range, const powerlog::ExportResult& outcome);
    void progress(int permille);
    void finished(const powerlog::ExportResult& result);

private:
    class Answers;

    DatabaseReader& m_reader;
    std::shared_ptr<Answers> m_answers;
    std::shared_ptr<ReadTicket> m_ticket;
    quint64 m_generation = 0;
    bool m_running = false;
};

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::ExportResult)
Q_DECLARE_METATYPE(powerlog::RecordedMoments)
