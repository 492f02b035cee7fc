#pragma once

#include <QLocale>
#include <QString>

namespace powerlog {

// Energy and money as the language writes them: "3,46 kWh" and "1,23 €" in Italian,
// "3.46 kWh" and "€ 1.23" in English. Any code but "ita" writes English.
QLocale localeOfLanguage(const QString& code);
QString kwhText(double kwh, const QString& languageCode, int decimals = 2);
QString moneyText(double amount, const QString& currency, const QString& languageCode);

} // namespace powerlog
