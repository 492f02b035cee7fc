#include "energycommand.h"

#include "readaccess.h"

#include "acquisition/energyaccounts.h"
#include "acquisition/energydatabase.h"
#include "acquisition/sqliteconnection.h"

#include <algorithm>
#include <optional>

namespace powerlog::cli {

namespace {

// Fixed decimals with a dot; never "-0.000".
QString decimals(double value, int digits)
{
    QString text = QString::number(value, 'f', digits);
    const bool zero = std::ranges::all_of(
        text.mid(1), [](QChar c) { return c == QLatin1Char('0') || c == QLatin1Char('.'); });
    if (text.startsWith(QLatin1Char('-')) && zero)
        text.remove(0, 1);
    return text;
}

void printLine(QTextStream& out, const QString& group, const EnergyFigures& figures,
               const TariffPrices& prices)
{
    out << group << ',' << decimals(figures.kwh(), 3) << ','
        << decimals(figures.kwh(TariffBand::F1), 3) << ','
        << decimals(figures.kwh(TariffBand::F2), 3) << ','
        << decimals(figures.kwh(TariffBand::F3), 3) << ',' << decimals(figures.cost(prices), 2)
        << '\n';
}

int runEnergy(const Invocation& invocation)
{
    const std::optional<PeriodArguments> arguments =
        periodArguments(invocation, QStringLiteral("a period"));
    if (!arguments)
        return kExitUsage;
    std::unique_ptr<SqliteConnection> connection =
        openReadOnly(invocation, QStringLiteral("powerlog-cli-energy"));
    if (!connection)
        return kExitNoDatabase;
    if (!ensureSummaryTables(invocation, connection, QStringLiteral("powerlog-cli-energy")))
        return kExitNoDatabase;
    constexpr EnergyPeriod kPeriods[] = {EnergyPeriod::Daily, EnergyPeriod::Monthly,
                                         EnergyPeriod::Yearly};
    ReadError error;
    const std::optional<EnergyTable> table =
        EnergyQueries(connection->db()).table(kPeriods[arguments->period], arguments->date, &error);
    if (!table) {
        invocation.err << kProgramName << ": cannot read the energy: " << error.description
                       << Qt::endl;
        return kExitFault;
    }

    const TariffPrices prices = settingsPrices(invocation);

    invocation.out << "group,kwh,f1_kwh,f2_kwh,f3_kwh,cost\n";
    for (int index = 0; index < table->groups.size(); ++index) {
        printLine(invocation.out, QString::number(table->firstGroupNumber() + index),
                  table->groups.at(index), prices);
    }
    printLine(invocation.out, QStringLiteral("total"), table->total(), prices);
    return kExitOk;
}

} // namespace

Command energyCommand()
{
    return {QStringLiteral("energy"),
            QStringLiteral("daily|monthly|yearly YYYY-MM-DD"),
            QStringLiteral("print the kWh and cost of the period holding the date, by\n"
                           "tariff band: group,kwh,f1_kwh,f2_kwh,f3_kwh,cost lines, then\n"
                           "total,... (missing summary tables are built first when the\n"
                           "file can be written)"),
            {},
            runEnergy};
}

} // namespace powerlog::cli
