#pragma once

#include <QLocale>
#include <QString>

namespace powerlog {

// Numbers of energy and money as the language writes them: "3,456 kWh" and "1,23 €" in
// Italian, "3.456 kWh" and "€1.23" in English.
QLocale localeOfLanguage(const QString& code);
QString kwhText(double kwh, const QString& languageCode);
QString costText(double cost, const QString& currency, const QString& languageCode);

} // namespace powerlog
