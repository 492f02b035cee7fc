#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <optional>

namespace powerlog {

// One measurement of the load-control central unit (or of an energy meter, which measures power
// and energy only): the four values as the texts received, the numbers the graph, the tray and
// the database need, and when it arrived.
struct Reading
{
    enum class Kind {
        Full,      // "*#3*<where>*0*V*A*W*E##": tension, current, power and energy
        PowerOnly, // "*#3*<where>*3*W##": the power alone
    };

    Kind kind = Kind::Full;
    QString V;
    QString A;
    QString W;
    QString E;
    std::optional<qint16> power;  // W as a signed 16-bit whole number
    std::optional<double> energy; // E as a finite number
    QDateTime time;
    // False for a meter that measures neither tension nor current: V and A stay empty and are
    // stored as NULL.
    bool lineMeasured = true;

    // A full reading whose power and energy are numbers: one row of the energy table.
    bool isRecordable() const { return kind == Kind::Full && power && energy; }

    bool operator==(const Reading&) const = default;
};

// The reading a whole frame carries, or nothing for a frame that is not a measurement reply.
std::optional<Reading> readingFromFrame(const QString& frame, const QDateTime& time);

// W as the signed 16-bit whole number the graph, the tray and the database need; nothing for
// text that is not such a number (the readout still shows it).
std::optional<qint16> powerValue(const QString& w);
// A decimal value as the central unit writes it: '.' as decimal point whatever the user's
// locale, no group separators, finite. Used for E, and for V and A when they are stored.
std::optional<double> decimalValue(const QString& text);
inline std::optional<double> energyValue(const QString& e)
{
    return decimalValue(e);
}

// Tray picture 1..9 for a power: 1 idle, 9 at or above the line power.
int trayLevel(int power, int linePower);
// The tray's other pictures: no link to the gateway, a reading requested.
inline constexpr int kTrayNoLink = 0;
inline constexpr int kTrayBusy = 10;

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::Reading)
