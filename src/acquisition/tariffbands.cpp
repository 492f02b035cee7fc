#include "acquisition/tariffbands.h"

#include "app/settings.h"

#include <QLocale>

namespace powerlog {

QDate easterSunday(int year)
{
    // The anonymous Gregorian algorithm (Meeus/Jones/Butcher).
    const int a = year % 19;
    const int b = year / 100;
    const int c = year % 100;
    const int d = b / 4;
    const int e = b % 4;
    const int f = (b + 8) / 25;
    const int g = (b - f + 1) / 3;
    const int h = (19 * a + b - d - g + 15) % 30;
    const int i = c / 4;
    const int k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7;
    const int m = (a + 11 * h + 22 * l) / 451;
    const int month = (h + l - 7 * m + 114) / 31;
    const int day = (h + l - 7 * m + 114) % 31 + 1;
    return QDate(year, month, day);
}

bool isNationalHoliday(const QDate& date)
{
    struct MonthDay
    {
        int month;
        int day;
    };
    static constexpr MonthDay kFixed[] = {{1, 1},  {1, 6},  {4, 25}, {5, 1},   {6, 2},
                                          {8, 15}, {11, 1}, {12, 8}, {12, 25}, {12, 26}};
    for (const MonthDay& each : kFixed) {
        if (date.month() == each.month && date.day() == each.day)
            return true;
    }
    return date == easterSunday(date.year()).addDays(1);
}

TariffBand tariffBand(const QDate& date, int hour)
{
    const int weekday = date.dayOfWeek(); // 1 Monday .. 7 Sunday
    if (weekday == 7 || isNationalHoliday(date))
        return TariffBand::F3;
    if (weekday == 6)
        return hour >= 7 && hour < 23 ? TariffBand::F2 : TariffBand::F3;
    if (hour >= 8 && hour < 19)
        return TariffBand::F1;
    if (hour == 7 || (hour >= 19 && hour < 23))
        return TariffBand::F2;
    return TariffBand::F3;
}

TariffPrices tariffPrices(const Settings& settings)
{
    return {{settings.price(Setting::PriceF1), settings.price(Setting::PriceF2),
             settings.price(Setting::PriceF3)}};
}

TariffKind tariffKind(const TariffPrices& prices)
{
    const auto& [f1, f2, f3] = prices.perKwh;
    if (f2 != f3)
        return TariffKind::ThreeBands;
    return f1 == f2 ? TariffKind::SinglePrice : TariffKind::TwoBands;
}

TariffPrices pricedAs(const TariffPrices& prices, TariffKind kind)
{
    TariffPrices priced = prices;
    auto& [f1, f2, f3] = priced.perKwh;
    switch (kind) {
    case TariffKind::SinglePrice:
        f2 = f3 = f1;
        break;
    case TariffKind::TwoBands:
        f3 = f2;
        break;
    case TariffKind::ThreeBands:
        break;
    }
    return priced;
}

std::optional<double> typedPrice(const QString& text)
{
    QString number = text.trimmed();
    if (number.isEmpty())
        return 0.0;
    number.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    // Adding 0 turns a typed "-0" into 0.
    const double price = QLocale::c().toDouble(number, &ok) + 0.0;
    if (!ok || !Settings::isValid(Setting::PriceF1, price))
        return std::nullopt;
    return price;
}

} // namespace powerlog
