#pragma once

#include <QString>
#include <optional>

namespace powerlog::bench {

// Totals of one summary table: its rows, and the count, sum and maximum of W they hold.
struct SummaryTotals
{
    qint64 rows = 0;
    qint64 samples = 0;
    qint64 sumW = 0;
    qint64 maxW = 0;

    bool operator==(const SummaryTotals&) const = default;
    QString describe(const QString& rowsName) const;
};

// What a file's first open leaves behind: the text of the summary tables, their trigger and the
// index, and totals of both summaries. Two files built from the same rows by the same statements
// give equal summaries, which tells that the baseline did the same work as the program.
struct RollupSummary
{
    QString schema;
    QString journalMode;
    SummaryTotals halfHours;
    SummaryTotals days;

    bool operator==(const RollupSummary&) const = default;
    QString describe() const;
};

// Reads the summary of `file`; nothing (and a reason in `error`) when it cannot.
std::optional<RollupSummary> summarize(const QString& file, QString* error);

// The rows of Energy in `file` (its largest rowid: the generated files have no gaps).
qint64 energyRows(const QString& file);

// The readings counted in the summary from the half hour `firstSlot` on.
qint64 summarySamplesFrom(const QString& file, const QString& firstSlot);

// The statements a first open ran before it built the summary in chunks: WAL with a full sync,
// then the index, the summary tables, one INSERT ... SELECT ... GROUP BY over the whole table
// into the half hours, the days from the half hours and the trigger, and the hour table in one
// INSERT ... SELECT over the whole table with its trigger, in one transaction. Built as the
// program's own functions write them.
QString singleTransactionRebuild();

} // namespace powerlog::bench
