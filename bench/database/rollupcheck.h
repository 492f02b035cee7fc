#pragma once

#include <QString>
#include <optional>

namespace powerlog::bench {

// What a file's first open leaves behind: the text of the summary table, its trigger and the
// index, and totals of the summary. Two files built from the same rows by the same statements
// give equal summaries, which tells that the baseline did the same work as the program.
struct RollupSummary
{
    QString schema;
    QString journalMode;
    qint64 halfHours = 0;
    qint64 samples = 0;
    qint64 sumW = 0;
    qint64 maxW = 0;

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
// then the index, the summary table, one INSERT ... SELECT ... GROUP BY over the whole table
// and the trigger, in one transaction. Built as the program's own functions wrote them.
QString singleTransactionRebuild();

} // namespace powerlog::bench
