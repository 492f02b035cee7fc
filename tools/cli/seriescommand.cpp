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

struct ChartName
{
    const char* name;
    ChartType type;
};

constexpr ChartName kChartNames[] = {
    {"daily", ChartType::Daily},
    {"monthly", ChartType::Monthly},
    {"yearly", ChartType::Yearly},
};

std::optional<ChartType> chartTypeNamed(const QString& name)
{
    for (const ChartName& each : kChartNames) {
        if (name == QLatin1String(each.name))
            return each.type;
    }
    return std::nullopt;
}

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
    if (invocation.arguments.size() != 2) {
        invocation.err << kProgramName
                       << ": series takes a chart type (daily, monthly or yearly) and a date "
                          "(YYYY-MM-DD)"
                       << Qt::endl;
        return kExitUsage;
    }
    const std::optional<ChartType> type = chartTypeNamed(invocation.arguments.at(0));
    if (!type) {
        invocation.err << kProgramName << ": unknown chart type '" << invocation.arguments.at(0)
                       << "' (daily, monthly or yearly)" << Qt::endl;
        return kExitUsage;
    }
    const QDate date = dayFromText(invocation.arguments.at(1));
    if (!date.isValid()) {
        invocation.err << kProgramName << ": not a date in the form YYYY-MM-DD: '"
                       << invocation.arguments.at(1) << "'" << Qt::endl;
        return kExitUsage;
    }

    const QString file = QDir(invocation.folder).filePath(EnergyDatabase::kFileName);
    if (!databaseFileExists(invocation, file))
        return kExitNoDatabase;
    // A read-only connection of the command's own, as the charts window reads: nothing in the
    // file changes, and a file without the summary tables is read from Energy alone.
    const SqliteConnection connection(QStringLiteral("powerlog-cli-series"), file,
                                      SqliteMode::ReadOnly);
    QString openError;
    if (!isUsableDatabase(connection, &openError)) {
        invocation.err << kProgramName << ": cannot open " << file << ": " << openError << Qt::endl;
        return kExitNoDatabase;
    }
    ReadError error;
    const std::optional<ChartSeries> series =
        ChartQueries(connection.db()).series(*type, date, &error);
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
            QStringLiteral("print the chart holding the date (read-only):\n"
                           "group,avg,max lines, then chart_avg=N,chart_max=M"),
            {},
            runSeries};
}

} // namespace powerlog::cli
