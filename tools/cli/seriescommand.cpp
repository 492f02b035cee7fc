#include "seriescommand.h"

#include "readaccess.h"

#include "acquisition/chartqueries.h"
#include "acquisition/energydatabase.h"
#include "acquisition/sqliteconnection.h"

#include <QDir>
#include <QSqlQuery>
#include <QVariant>
#include <charconv>
#include <optional>

namespace powerlog::cli {

namespace {

// The shortest text that reads back as the same float, with a dot in every locale.
QString floatText(float value)
{
    char text[64];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, written.ptr - text);
}

void print(QTextStream& out, const ChartSeries& series)
{
    out << "group,avg,max\n";
    for (int group = 1; group <= series.groupCount(); ++group) {
        out << group << ',' << floatText(series.avg[std::size_t(group)]) << ','
            << qint64(series.max[std::size_t(group)]) << '\n';
    }
    out << "chart_avg=" << series.avgPower << ",chart_max=" << series.maxPower << '\n';
}

int runSeries(const Invocation& invocation)
{
    const std::optional<PeriodArguments> arguments =
        periodArguments(invocation, QStringLiteral("a chart type"));
    if (!arguments)
        return kExitUsage;
    // A read-only connection of the command's own, as the charts window reads. A file without
    // the summary tables gets them first when it can be written; else it is read from Energy
    // alone, the same charts, slowly.
    const QString name = QStringLiteral("powerlog-cli-series");
    std::unique_ptr<SqliteConnection> connection = openReadOnly(invocation, name);
    if (!connection)
        return kExitNoDatabase;
    if (!ensureSummaryTables(invocation, connection, name))
        return kExitNoDatabase;
    constexpr ChartType kTypes[] = {ChartType::Daily, ChartType::Monthly, ChartType::Yearly};
    ReadError error;
    const std::optional<ChartSeries> series =
        ChartQueries(connection->db()).series(kTypes[arguments->period], arguments->date, &error);
    if (!series) {
        invocation.err << kProgramName << ": cannot read the chart: " << error.description
                       << Qt::endl;
        return kExitFault;
    }
    print(invocation.out, *series);
    return kExitOk;
}

} // namespace

Command seriesCommand()
{
    return {QStringLiteral("series"),
            QStringLiteral("daily|monthly|yearly YYYY-MM-DD"),
            QStringLiteral("print the chart holding the date: group,avg,max lines,\n"
                           "then chart_avg=N,chart_max=M (missing summary tables are\n"
                           "built first when the file can be written)"),
            {},
            runSeries};
}

} // namespace powerlog::cli
