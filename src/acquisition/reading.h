#pragma once

#include <QString>
#include <optional>

namespace powerlog {

struct SharedTexts;

// The four values of a full reading, as the central unit sent them.
struct ReadingTexts
{
    QString V;
    QString A;
    QString W;
    QString E;
};

// W as the signed 16-bit whole number the graph, the tray and the database need; nothing for
// text that is not such a number (the readout still shows it).
std::optional<qint16> powerValue(const QString& w);
// E as a number (the central unit writes a '.' decimal point, whatever the user's locale).
std::optional<double> energyValue(const QString& e);

// Tray picture 1..9 for a power: 1 idle, 9 at or above the line power.
int trayLevel(int power, int linePower);

// "Tension 230V - Current 2A" CRLF "Power 460W - Energy 1234"
QString balloonText(const SharedTexts& texts, const ReadingTexts& r);
// The balloon text, then the maximum and average lines and the right-click hint.
QString detailText(const SharedTexts& texts, const ReadingTexts& r, const QString& maxCaption,
                   const QString& maxValue, const QString& averageCaption,
                   const QString& averageValue);

} // namespace powerlog
