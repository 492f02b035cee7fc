#include "ui/common/energytext.h"

#include "app/language.h"

namespace powerlog {

QLocale localeOfLanguage(const QString& code)
{
    return languageColumn(code) == kItalian ? QLocale(QLocale::Italian, QLocale::Italy)
                                            : QLocale(QLocale::English, QLocale::UnitedKingdom);
}

QString kwhText(double kwh, const QString& languageCode, int decimals)
{
    return localeOfLanguage(languageCode).toString(kwh, 'f', decimals) + QStringLiteral(" kWh");
}

QString moneyText(double amount, const QString& currency, const QString& languageCode)
{
    return textFor(Text::Money, languageCode)
        .arg(localeOfLanguage(languageCode).toString(amount, 'f', 2), currency);
}

} // namespace powerlog
