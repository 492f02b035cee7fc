#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>
#include <vector>

namespace powerlog {

// The date and time form of an export in `locale`: the short date with the year in full (a
// two-digit year would lose the century), one blank, and the long time without its time zone.
// The period pickers of the export window show the same form.
QString exportDateTimeFormat(const QLocale& locale);
QString exportDateFormat(const QLocale& locale);
QString exportTimeFormat(const QLocale& locale);

// One value of the energy table as the database holds it. Texts are UTF-8 and are not owned:
// they must outlive the call that takes them.
struct ExportValue
{
    enum class Kind { Null, Integer, Real, Text };

    Kind kind = Kind::Null;
    qint64 integer = 0;
    double real = 0;
    QByteArrayView text;

    static ExportValue null() { return {}; }
    static ExportValue whole(qint64 value) { return {Kind::Integer, value, 0, {}}; }
    static ExportValue number(double value) { return {Kind::Real, 0, value, {}}; }
    static ExportValue utf8(QByteArrayView value) { return {Kind::Text, 0, 0, value}; }
};

// One line of an export file, in UTF-8, ended by CR LF: the values of the energy table joined
// by the separator, numbers with the regional decimal separator and no group separators, the
// time of the reading in exportDateTimeFormat(). A field that holds the separator, a double
// quote or a line break is quoted as CSV does (double quotes, inner quotes doubled); every other
// field is written as it is.
//
// Built for tens of millions of rows: numbers are written without going through QLocale for
// each value, and dates and times are formatted once per day and once per minute of the day.
class ExportFormat
{
public:
    static constexpr int kColumns = 5; // V, a, W, e, Data

    ExportFormat(const QLocale& locale, char separator);

    char separator() const { return m_separator; }

    // The heading line, the headings treated as any other field.
    QByteArray headingLine(const QStringList& headings) const;

    // Appends the line of one row. A number is written as a number, the last column's text in
    // the form "yyyy-MM-dd HH:mm:ss" as a date and time; any other text (a reading that was no
    // number, a Data in another form) as it is, and NULL as an empty field.
    void appendRow(QByteArray& out, const std::array<ExportValue, kColumns>& row);

    // The pieces of a line.
    void appendNumber(QByteArray& out, double value) const;
    void appendInteger(QByteArray& out, qint64 value) const;
    // `decimals` digits after the decimal separator, always written, halves rounded away from
    // zero, and never a minus before a value that rounds to zero.
    void appendFixed(QByteArray& out, double value, int decimals) const;
    void appendText(QByteArray& out, QByteArrayView utf8) const;
    void appendDateTime(QByteArray& out, QByteArrayView data);

    static inline const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

private:
    struct MinuteText
    {
        QByteArray before; // the time up to its seconds
        QByteArray after;  // the rest after the seconds
        bool ready = false;
    };

    void appendField(QByteArray& out, QByteArrayView field) const;
    void appendLocalized(QByteArray& field, const char* ascii, qsizetype size) const;
    void appendValue(QByteArray& out, const ExportValue& value) const;
    const MinuteText& minute(int minuteOfDay);

    QLocale m_locale;
    char m_separator;
    QString m_dateFormat;
    QString m_timeFormat;
    QString m_splitTimeFormat; // the time format with its seconds replaced by a marker
    QString m_secondsFormat;   // "ss" or "s"; empty when the time cannot be split there
    QByteArray m_decimalPoint;
    QByteArray m_minus;
    std::array<QByteArray, 10> m_digits; // empty when the locale writes ASCII digits
    std::array<QByteArray, 60> m_seconds;
    std::vector<MinuteText> m_minutes;
    QByteArray m_dayKey; // "yyyy-MM-dd" of the last date written
    QByteArray m_dayText;
    mutable QByteArray m_field; // scratch space, reused for every field
};

} // namespace powerlog
