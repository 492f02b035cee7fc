#include "ui/charts/energywording.h"

#include "app/language.h"
#include "ui/common/energytext.h"

#include <algorithm>

namespace powerlog {

namespace {

const QString kSeparator = QStringLiteral(" \u00b7 ");

constexpr TariffBand kBands[] = {TariffBand::F1, TariffBand::F2, TariffBand::F3};

QString bandName(TariffBand band)
{
    return QStringLiteral("F%1").arg(bandIndex(band) + 1);
}

QString monthName(int month, const QString& code)
{
    return textFor(static_cast<Text>(static_cast<int>(Text::MonthName1) + month - 1), code);
}

} // namespace

int coveragePercent(qint64 covered, qint64 elapsed)
{
    if (elapsed <= 0 || covered <= 0)
        return 0;
    if (covered >= elapsed)
        return 100;
    return std::clamp(qRound(100.0 * double(covered) / double(elapsed)), 1, 99);
}

QLocale EnergyWording::locale() const
{
    return localeOfLanguage(languageCode);
}

QString EnergyWording::kwh(double value) const
{
    return kwhText(value, languageCode);
}

QString EnergyWording::cost(double amount) const
{
    return textFor(Text::ChartCost, languageCode).arg(moneyText(amount, currency, languageCode));
}

QString EnergyWording::coverage(qint64 covered, qint64 elapsed) const
{
    if (elapsed <= 0)
        return {};
    const int column = languageColumn(languageCode).value_or(kEnglish);
    return textIn(Text::ChartCoverage, column)
        .arg(percentInSentence(coveragePercent(covered, elapsed), column));
}

QString EnergyWording::summary(const EnergyTable& table, const QDateTime& now) const
{
    const EnergyFigures total = table.total();
    QStringList parts{textFor(Text::ChartEnergyPrefix, languageCode) + kwh(total.kwh())};
    if (!table.first.isValid())
        return parts.constFirst();
    if (prices.isSet())
        parts << cost(total.cost(prices));
    const QString recorded = coverage(total.coveredSeconds, table.periodSecondsBefore(now));
    if (!recorded.isEmpty())
        parts << recorded;
    return parts.join(kSeparator);
}

QString EnergyWording::toolTip(const EnergyTable& table, int index, const QDateTime& now) const
{
    if (!table.first.isValid() || index < 0 || index >= table.groups.size())
        return {};
    const EnergyFigures& figures = table.groups.at(index);
    const qint64 elapsed = table.groupSecondsBefore(index, now);
    if (elapsed <= 0 && figures.coveredSeconds <= 0 && figures.kwh() <= 0)
        return {};

    QString period;
    switch (table.period) {
    case EnergyPeriod::Daily:
        period = QStringLiteral("%1:00 - %2:00")
                     .arg(index, 2, 10, QLatin1Char('0'))
                     .arg(index + 1, 2, 10, QLatin1Char('0'));
        break;
    case EnergyPeriod::Monthly: {
        const QDate day = table.first.addDays(index);
        period = QStringLiteral("%1 %2 %3")
                     .arg(day.day())
                     .arg(monthName(day.month(), languageCode))
                     .arg(day.year());
        break;
    }
    case EnergyPeriod::Yearly: {
        const QDate month = table.first.addMonths(index);
        period = monthName(month.month(), languageCode) + QLatin1Char(' ') +
                 QString::number(month.year());
        break;
    }
    }

    QStringList lines{period, textFor(Text::ChartEnergyPrefix, languageCode) + kwh(figures.kwh())};
    for (TariffBand band : kBands)
        lines << bandName(band) + QStringLiteral(": ") + kwh(figures.kwh(band));
    if (figures.estimatedWattSeconds > 0)
        lines << textFor(Text::ChartEstimatedBands, languageCode);
    if (prices.isSet())
        lines << cost(figures.cost(prices));
    const QString recorded = coverage(figures.coveredSeconds, elapsed);
    if (!recorded.isEmpty())
        lines << recorded;
    return lines.join(QLatin1Char('\n'));
}

QStringList EnergyWording::groupLabels(const EnergyTable& table) const
{
    QStringList labels;
    for (int index = 0; index < table.groups.size(); ++index) {
        if (table.period == EnergyPeriod::Yearly)
            labels << monthName(table.first.addMonths(index).month(), languageCode).left(3);
        else
            labels << QString::number(table.firstGroupNumber() + index);
    }
    return labels;
}

} // namespace powerlog
