#include "ui/common/energytext.h"

#include "app/language.h"

namespace powerlog {

QLocale localeOfLanguage(const QString& code)
{
    return languageColumn(code) == kItalian ? QLocale(QLocale::Italian, QLocale::Italy)
                                            : QLocale(QLocale::English, QLocale::UnitedStates);
}

QString kwhText(double kwh, const QString& languageCode)
{
    return localeOfLanguage(languageCode).toString(kwh, 'f', 3) + QStringLiteral(" kWh");
}

QString costText(double cost, const QString& currency, const QString& languageCode)
{
    return localeOfLanguage(languageCode).toCurrencyString(cost, currency, 2);
}

} // namespace powerlog
