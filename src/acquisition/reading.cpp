#include "acquisition/reading.h"

#include "app/language.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <limits>

namespace powerlog {

std::optional<qint16> powerValue(const QString& w)
{
    bool ok = false;
    const int value = w.trimmed().toInt(&ok);
    if (!ok || value < std::numeric_limits<qint16>::min() ||
        value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(value);
}

std::optional<double> energyValue(const QString& e)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(e.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

int trayLevel(int power, int linePower)
{
    // Banker's rounding, as the level steps were always computed.
    const double level = std::nearbyint(8.0 / linePower * power) + 1;
    return static_cast<int>(std::clamp(level, 1.0, 9.0));
}

QString balloonText(const SharedTexts& t, const ReadingTexts& r)
{
    return t.tensionPrefix + r.V + QStringLiteral("V - ") + t.currentPrefix + r.A +
           QStringLiteral("A") + kCrLf + t.powerPrefix + r.W + QStringLiteral("W - ") +
           t.energyPrefix + r.E;
}

QString detailText(const SharedTexts& t, const ReadingTexts& r, const QString& maxCaption,
                   const QString& maxValue, const QString& averageCaption,
                   const QString& averageValue)
{
    return balloonText(t, r) + kCrLf + maxCaption + QLatin1Char(' ') + maxValue +
           QStringLiteral(" - ") + averageCaption + QLatin1Char(' ') + averageValue + kCrLf +
           kCrLf + t.trayHint;
}

} // namespace powerlog
