#include "energycommand.h"

#include "readaccess.h"

#include "acquisition/energyaccounts.h"
#include "acquisition/energydatabase.h"
#include "acquisition/sqliteconnection.h"

#include <QDir>
#include <algorithm>
#include <optional>

namespace powerlog::cli {

namespace {

struct PeriodName
{
    const char* name;
    EnergyPeriod period;
};

constexpr PeriodName kPeriodNames[] = {
    {"daily", EnergyPeriod::Daily},
    {"monthly", EnergyPeriod::Monthly},
    {"yearly", EnergyPeriod::Yearly},
};

std::optional<EnergyPeriod> periodNamed(const QString& name)
{
    for (const PeriodName& each : kPeriodNames) {
        if (name == QLatin1String(each.name))
            return each.period;
    }
    return std::nullopt;
}

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
    if (invocation.arguments.size() != 2) {
        invocation.err << kProgramName
                       << ": energy takes a period (daily, monthly or yearly) and a date "
                          "(YYYY-MM-DD)"
                       << Qt::endl;
        return kExitUsage;
    }
    const std::optional<EnergyPeriod> period = periodNamed(invocation.arguments.at(0));
    if (!period) {
        invocation.err << kProgramName << ": unknown period '" << invocation.arguments.at(0)
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
    const SqliteConnection connection(QStringLiteral("powerlog-cli-energy"), file,
                                      SqliteMode::ReadOnly);
    QString openError;
    if (!isUsableDatabase(connection, &openError)) {
        invocation.err << kProgramName << ": cannot open " << file << ": " << openError << Qt::endl;
        return kExitNoDatabase;
    }
    ReadError error;
    const std::optional<EnergyTable> table =
        EnergyQueries(connection.db()).table(*period, date, &error);
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
                           "tariff band (read-only): group,kwh,f1_kwh,f2_kwh,f3_kwh,cost\n"
                           "lines, then total,..."),
            {},
            runEnergy};
}

} // namespace powerlog::cli
