#pragma once

#include <QDate>
#include <QMetaType>

#include <array>

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

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::TariffPrices)
