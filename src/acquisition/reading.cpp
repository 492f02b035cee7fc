#include "acquisition/reading.h"

#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

namespace powerlog {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The dimension field compared as a number: decimal digits only, any length (leading zeros do
// not change the value). -1 for anything else, the value for 0..9, 10 for every larger value,
// which is all the dimension test needs.
int smallNumber(const QString& field)
{
    if (field.isEmpty())
        return -1;
    int value = 0;
    for (QChar c : field) {
        if (!isAsciiDigit(c))
            return -1;
        if (value > 0 || c != QLatin1Char('0'))
            value = value == 0 ? c.unicode() - '0' : 10;
    }
    return value;
}

QString withoutTerminators(QString text)
{
    return text.remove(QStringLiteral("##"));
}

} // namespace

std::optional<Reading> readingFromFrame(const QString& frame, const QDateTime& time)
{
    const QStringList fields = frame.split(QLatin1Char('*'));
    if (fields.size() < 5 || fields.at(1) != QStringLiteral("#3"))
        return std::nullopt;

    Reading reading;
    reading.time = time;
    switch (smallNumber(fields.at(3))) {
    case 0:
        if (fields.size() < 8)
            return std::nullopt;
        reading.kind = Reading::Kind::Full;
        reading.V = fields.at(4);
        reading.A = fields.at(5);
        reading.W = fields.at(6);
        reading.E = withoutTerminators(fields.at(7));
        reading.energy = energyValue(reading.E);
        break;
    case 3:
        reading.kind = Reading::Kind::PowerOnly;
        reading.W = withoutTerminators(fields.at(4));
        break;
    default:
        return std::nullopt;
    }
    reading.power = powerValue(reading.W);
    return reading;
}

std::optional<qint16> powerValue(const QString& w)
{
    bool ok = false;
    const int value = w.trimmed().toInt(&ok);
    if (!ok || value < std::numeric_limits<qint16>::min() ||
        value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(value);
}

std::optional<double> decimalValue(const QString& text)
{
    // "1,234" is never a thousand: the central unit writes no group separators.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = c.toDouble(text.trimmed(), &ok);
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

} // namespace powerlog
