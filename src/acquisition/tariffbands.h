#pragma once

#include <QDate>
#include <QMetaType>
#include <QString>

#include <array>
#include <optional>

namespace powerlog {

class Settings;

// The Italian time-of-use bands that electricity is priced by.
enum class TariffBand {
    F1, // working days, 08:00 to 19:00
    F2, // working days 07:00 to 08:00 and 19:00 to 23:00, Saturdays 07:00 to 23:00
    F3, // nights, Sundays and national holidays
};

inline constexpr int kTariffBandCount = 3;

constexpr int bandIndex(TariffBand band)
{
    return int(band);
}

// The Sunday of Easter in the Gregorian calendar.
QDate easterSunday(int year);

// 1 and 6 January, Easter Monday, 25 April, 1 May, 2 June, 15 August, 1 November, 8, 25 and
// 26 December.
bool isNationalHoliday(const QDate& date);

// The band of the hour that starts at `hour` (0..23) of `date`.
TariffBand tariffBand(const QDate& date, int hour);

// A price per kWh for each band, in the order F1, F2, F3. A single price is the three set
// equal; the two-band tariff F1/F23 has F2 equal to F3.
struct TariffPrices
{
    std::array<double, kTariffBandCount> perKwh{};

    // Whether any price is set; without one no cost is shown.
    bool isSet() const { return perKwh[0] > 0 || perKwh[1] > 0 || perKwh[2] > 0; }
    double of(TariffBand band) const { return perKwh[std::size_t(bandIndex(band))]; }

    bool operator==(const TariffPrices&) const = default;
};

// The prices of the settings PriceF1, PriceF2 and PriceF3.
TariffPrices tariffPrices(const Settings& settings);

// How the bands are priced: one price for all of them, one for F1 and one for F2 and F3
// together, or one for each.
enum class TariffKind {
    SinglePrice,
    TwoBands,
    ThreeBands,
};

// How many prices a kind sets: 1, 2 or 3.
constexpr int priceCount(TariffKind kind)
{
    return int(kind) + 1;
}

// The kind the prices are of: all three equal is a single price, F2 equal to F3 two bands.
TariffKind tariffKind(const TariffPrices& prices);

// The prices made to follow `kind`: a single price is F1's in every band, two bands give F3
// the price of F2.
TariffPrices pricedAs(const TariffPrices& prices, TariffKind kind);

// A price per kWh as a user types it: a dot or a comma before the decimals, blanks around it;
// an empty text is no price (0). Nothing when it is not a price the settings take (letters,
// below 0, above 1000).
std::optional<double> typedPrice(const QString& text);

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::TariffPrices)
