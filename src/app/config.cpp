#include "app/config.h"

#include <QRandomGenerator>
#include <QStringList>
#include <algorithm>

namespace powerlog {

namespace {

bool isAllDigits(const QString& text)
{
    return !text.isEmpty() &&
           std::ranges::all_of(text, [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The value of a text of digits, read without overflow: anything above `limit` is limit + 1.
int digitsValue(const QString& digits, int limit)
{
    qint64 value = 0;
    for (const QChar c : digits) {
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit)
            return limit + 1;
    }
    return int(value);
}

} // namespace

std::optional<QString> acceptedServerAddress(const QString& typed)
{
    if (typed.isEmpty())
        return std::nullopt;
    const QChar first = typed.at(0);
    if (first < u'0' || first > u'9')
        return typed;
    QStringList parts = typed.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    for (QString& part : parts) {
        if (!isAllDigits(part))
            return std::nullopt;
        if (digitsValue(part, 255) > 255)
            part = QStringLiteral("255");
    }
    return parts.join(QLatin1Char('.'));
}

bool isUsablePort(const QString& typed)
{
    if (!isAllDigits(typed))
        return false;
    const int port = digitsValue(typed, 65535);
    return port >= 1 && port <= 65535;
}

std::optional<int> storedWholeNumber(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

bool isSwitchSet(const QString& stored)
{
    return storedWholeNumber(stored) == 1;
}

int linePowerWatts(int linePowerIndex)
{
    const int watts = (linePowerIndex + 1) * 1500;
    return watts == 7500 ? 9000 : watts;
}

QString scramblePassword(const QString& password, int k)
{
    QString stored = QString::number(k);
    for (const QChar ch : password) {
        const int code = (ch.unicode() & 0xFF) + k;
        stored += QStringLiteral("%1").arg(code, 3, 10, QLatin1Char('0'));
    }
    return stored;
}

QString scramblePassword(const QString& password)
{
    return scramblePassword(password, static_cast<int>(QRandomGenerator::global()->bounded(9)));
}

std::optional<QString> unscramblePassword(const QString& stored)
{
    if (stored.isEmpty() || (stored.size() - 1) % 3 != 0)
        return std::nullopt;
    for (const QChar ch : stored) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return std::nullopt;
    }
    const int k = stored.at(0).digitValue();
    if (k > 8)
        return std::nullopt;
    QString password;
    for (qsizetype at = 1; at < stored.size(); at += 3) {
        const int code = stored.mid(at, 3).toInt() - k;
        if (code < 0 || code > 255)
            return std::nullopt;
        password += QChar(code);
    }
    return password;
}

} // namespace powerlog
