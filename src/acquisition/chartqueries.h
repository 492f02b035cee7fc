#pragma once

#include "acquisition/chartseries.h"

#include <QDate>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <memory>
#include <optional>

namespace powerlog {

class DatabaseReader;
class ReadTicket;

// Why a read failed: the engine's error number (may be empty) and its description.
struct ReadError
{
    QString number;
    QString description;

    bool operator==(const ReadError&) const = default;
};

// The days of the first and the last reading, or of an energy meter's history when it reaches
// further; invalid dates when there is none.
struct RecordedRange
{
    QDate first;
    QDate last;

    bool isEmpty() const { return !first.isValid() || !last.isValid(); }

    bool operator==(const RecordedRange&) const = default;
};

// The charts' reads of the energy database. Months, days and years come from the day summary
// (EnergyDay); a daily chart reads the day's rows of Energy through the index on Data. A file
// without the summary (its first open was stopped) is read from Energy alone: slower, same
// numbers. Rows whose Data is not in the program's own text form take part in nothing.
class ChartQueries
{
public:
    explicit ChartQueries(QSqlDatabase db) : m_db(std::move(db)) {}

    // An empty range when the table holds no readings; nullopt when it could not be read.
    std::optional<RecordedRange> recordedRange(ReadError* error) const;
    // Months (1..12) and days (1..31) that hold readings or a meter's history, ascending.
    std::optional<QList<int>> monthsWithReadings(int year, ReadError* error) const;
    std::optional<QList<int>> daysWithReadings(int year, int month, ReadError* error) const;
    // The chart of `type` for the period that contains `date`. A cancelled ticket stops a
    // long read: the result is then nullopt with an empty error.
    std::optional<ChartSeries> series(ChartType type, const QDate& date, ReadError* error,
                                      const ReadTicket* ticket = nullptr) const;

private:
    bool hasAll(const QList<QPair<QString, QString>>& objects, ReadError* error, bool* found) const;
    bool hasDaySummary(ReadError* error, bool* found) const;
    bool hasMeterHistory(ReadError* error, bool* found) const;
    std::optional<QList<int>> partsWithReadings(int position, const QDate& from, const QDate& to,
                                                ReadError* error) const;

    QSqlDatabase m_db;
};

// The charts window's reads, off its thread. Each request's answer comes back as a signal on
// the requester's thread. A newer chart request cancels an older one, whose answer never
// arrives; month and day lists carry the period they were asked for, so the caller can drop
// answers that no longer match its selection.
class ChartSource : public QObject
{
    Q_OBJECT
public:
    explicit ChartSource(DatabaseReader& reader, QObject* parent = nullptr);
    ~ChartSource() override;

    void requestRange();
    void requestMonths(int year);
    void requestDays(int year, int month);
    void requestChart(ChartType type, const QDate& date);
    // Forgets the chart still being computed.
    void cancelChart();

signals:
    // `ok` is false when the range could not be read; an empty range means no readings.
    void rangeRead(const powerlog::RecordedRange& range, bool ok);
    // `ok` is false when the list could not be read.
    void monthsRead(int year, const QList<int>& months, bool ok);
    void daysRead(int year, int month, const QList<int>& days, bool ok);
    void chartRead(const powerlog::ChartSeries& series);
    void chartFailed(const powerlog::ReadError& error);

private:
    class Answers;

    DatabaseReader& m_reader;
    std::shared_ptr<Answers> m_answers;
    std::shared_ptr<ReadTicket> m_chartTicket;
    quint64 m_chartGeneration = 0;
};

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::ReadError)
Q_DECLARE_METATYPE(powerlog::RecordedRange)
