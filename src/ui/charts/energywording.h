#pragma once

#include "acquisition/energyaccounts.h"
#include "acquisition/tariffbands.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace powerlog {

// How the charts window words the energy of a table, in the window's language: numbers in
// that language's own locale, costs only when a price is set.
struct EnergyWording
{
    QString languageCode; // "ita" or "eng"; any other code words as English
    TariffPrices prices;
    QString currency;

    // The locale of the language's numbers: Italian or British English.
    QLocale locale() const;

    // "12,35 kWh" / "12.35 kWh".
    QString kwh(double value) const;
    // "Costo: 12,34 €" / "Cost: € 12.34".
    QString cost(double amount) const;
    // "registrato l'82 % del tempo" / "recorded 82 % of the time": the share of `elapsed`
    // seconds covered by readings. Empty when no time has elapsed.
    QString coverage(qint64 covered, qint64 elapsed) const;

    // The period's kWh, its cost when a price is set, and how much of the period up to `now`
    // was recorded; an empty table (no period) shows only the kWh.
    QString summary(const EnergyTable& table, const QDateTime& now) const;
    // The group's period, its kWh and those of each band, its cost when a price is set and how
    // much of it up to `now` was recorded. Empty for a group that has not begun and holds
    // nothing.
    QString toolTip(const EnergyTable& table, int index, const QDateTime& now) const;
    // Along the time axis: the hours 0..23, the days 1..31, or the months' short names.
    QStringList groupLabels(const EnergyTable& table) const;
};

// A share as a whole percentage that says "100" only when all is covered and "0" only when
// nothing is.
int coveragePercent(qint64 covered, qint64 elapsed);

} // namespace powerlog
