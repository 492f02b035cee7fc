#include "acquisition/exportformat.h"

#include <QTime>
#include <charconv>
#include <cmath>

namespace powerlog {

namespace {

// Stands in for the seconds while a minute's time is formatted; no locale writes it.
constexpr QChar kSecondsMarker(0x0001);

// Largest magnitude written by the fast paths: whole numbers below it are exact in a double, and
// shortest fixed notation below it has no digits beyond the shortest ones.
constexpr double kFastLimit = 1e15;

// A Qt date or time format cut into its pieces: quoted text as written (quotes included), and
// runs of one repeated character outside quotes.
QStringList formatRuns(const QString& format)
{
    QStringList runs;
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format.at(i);
        qsizetype end = i + 1;
        if (c == QLatin1Char('\'')) {
            while (end < format.size()) {
                if (format.at(end) == QLatin1Char('\'')) {
                    // '' inside quotes is a quote of the text.
                    if (end + 1 < format.size() && format.at(end + 1) == QLatin1Char('\'')) {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
        } else {
            while (end < format.size() && format.at(end) == c)
                ++end;
        }
        runs << format.mid(i, end - i);
        i = end;
    }
    return runs;
}

bool isRunOf(const QString& run, QChar c)
{
    return !run.isEmpty() && run.at(0) == c;
}

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// "yyyy-MM-dd HH:mm:ss", the only form the program writes into Data.
bool isOwnForm(QStringView data)
{
    if (data.size() != 19)
        return false;
    for (qsizetype i = 0; i < 19; ++i) {
        const QChar c = data.at(i);
        switch (i) {
        case 4:
        case 7:
            if (c != QLatin1Char('-'))
                return false;
            break;
        case 10:
            if (c != QLatin1Char(' '))
                return false;
            break;
        case 13:
        case 16:
            if (c != QLatin1Char(':'))
                return false;
            break;
        default:
            if (!isDigit(c))
                return false;
        }
    }
    return true;
}

int twoDigits(QStringView data, qsizetype at)
{
    return (data.at(at).unicode() - '0') * 10 + (data.at(at + 1).unicode() - '0');
}

} // namespace

QString exportDateFormat(const QLocale& locale)
{
    QString format;
    for (const QString& run : formatRuns(locale.dateFormat(QLocale::ShortFormat)))
        format += run == QStringLiteral("yy") ? QStringLiteral("yyyy") : run;
    return format;
}

QString exportTimeFormat(const QLocale& locale)
{
    QString format;
    for (const QString& run : formatRuns(locale.timeFormat(QLocale::LongFormat))) {
        if (!isRunOf(run, QLatin1Char('t')))
            format += run;
    }
    // A zone written in brackets leaves them empty.
    format.remove(QStringLiteral("()"));
    return format.trimmed();
}

QString exportDateTimeFormat(const QLocale& locale)
{
    return exportDateFormat(locale) + QLatin1Char(' ') + exportTimeFormat(locale);
}

ExportFormat::ExportFormat(const QLocale& locale, char separator)
    : m_locale(locale), m_separator(separator), m_dateFormat(exportDateFormat(locale)),
      m_timeFormat(exportTimeFormat(locale)), m_decimalPoint(utf8(locale.decimalPoint())),
      m_minus(utf8(locale.negativeSign())), m_minutes(24 * 60)
{
    m_locale.setNumberOptions(QLocale::OmitGroupSeparator);

    const QString zero = locale.zeroDigit();
    if (zero != QStringLiteral("0")) {
        const char32_t first = zero.toUcs4().value(0);
        for (int d = 0; d < 10; ++d) {
            const char32_t digit = first + char32_t(d);
            m_digits[std::size_t(d)] = QString::fromUcs4(&digit, 1).toUtf8();
        }
    }

    // The seconds are written into a minute's time at the place of their one field; a format
    // with none, or several, is formatted whole for every row.
    int secondsFields = 0;
    for (const QString& run : formatRuns(m_timeFormat)) {
        if (isRunOf(run, QLatin1Char('s')) && run.size() <= 2) {
            ++secondsFields;
            m_secondsFormat = run;
            m_splitTimeFormat += QLatin1Char('\'') + kSecondsMarker + QLatin1Char('\'');
        } else {
            m_splitTimeFormat += run;
        }
    }
    if (secondsFields != 1)
        m_secondsFormat.clear();
    if (!m_secondsFormat.isEmpty()) {
        for (int s = 0; s < 60; ++s)
            m_seconds[std::size_t(s)] = utf8(m_locale.toString(QTime(0, 0, s), m_secondsFormat));
    }
    m_field.reserve(256);
}

QByteArray ExportFormat::headingLine(const QStringList& headings) const
{
    QByteArray line;
    for (qsizetype i = 0; i < headings.size(); ++i) {
        if (i > 0)
            line += m_separator;
        appendText(line, headings.at(i));
    }
    return line + kLineEnd;
}

void ExportFormat::appendRow(QByteArray& out, const std::array<QVariant, kColumns>& row)
{
    for (int column = 0; column < kColumns; ++column) {
        if (column > 0)
            out += m_separator;
        const QVariant& value = row[std::size_t(column)];
        if (column == kColumns - 1 && value.typeId() == QMetaType::QString)
            appendDateTime(out, value.toString());
        else
            appendValue(out, value);
    }
    out += kLineEnd;
}

void ExportFormat::appendValue(QByteArray& out, const QVariant& value) const
{
    switch (value.typeId()) {
    case QMetaType::Double:
        appendNumber(out, value.toDouble());
        return;
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt:
        appendInteger(out, value.toLongLong());
        return;
    case QMetaType::QByteArray: {
        // A reading that was no number, kept as its UTF-8 bytes.
        const QByteArray bytes = value.toByteArray();
        appendText(out, QString::fromUtf8(bytes));
        return;
    }
    default:
        if (value.isNull())
            return;
        appendText(out, value.toString());
    }
}

void ExportFormat::appendNumber(QByteArray& out, double value) const
{
    if (!std::isfinite(value) || std::fabs(value) >= kFastLimit) {
        appendField(out, utf8(m_locale.toString(value, 'f', QLocale::FloatingPointShortest)));
        return;
    }
    if (value == std::trunc(value)) {
        // Also writes -0 as 0, as QLocale does.
        appendInteger(out, static_cast<qint64>(value));
        return;
    }
    char ascii[64];
    const std::to_chars_result written =
        std::to_chars(ascii, ascii + sizeof ascii, value, std::chars_format::fixed);
    m_field.clear();
    appendLocalized(m_field, ascii, written.ptr - ascii);
    appendField(out, m_field);
}

void ExportFormat::appendInteger(QByteArray& out, qint64 value) const
{
    char ascii[32];
    const std::to_chars_result written = std::to_chars(ascii, ascii + sizeof ascii, value);
    m_field.clear();
    appendLocalized(m_field, ascii, written.ptr - ascii);
    appendField(out, m_field);
}

// ASCII digits, '-' and '.' in the locale's own signs.
void ExportFormat::appendLocalized(QByteArray& field, const char* ascii, qsizetype size) const
{
    for (qsizetype i = 0; i < size; ++i) {
        const char c = ascii[i];
        if (c == '-')
            field += m_minus;
        else if (c == '.')
            field += m_decimalPoint;
        else if (!m_digits[0].isEmpty() && c >= '0' && c <= '9')
            field += m_digits[std::size_t(c - '0')];
        else
            field += c;
    }
}

void ExportFormat::appendText(QByteArray& out, QStringView text) const
{
    appendField(out, text.toUtf8());
}

void ExportFormat::appendDateTime(QByteArray& out, QStringView data)
{
    if (!isOwnForm(data)) {
        appendText(out, data);
        return;
    }
    const QStringView day = data.left(10);
    if (m_dayKey.size() != 10 || QLatin1StringView(m_dayKey) != day) {
        const QDate date(data.left(4).toInt(), twoDigits(data, 5), twoDigits(data, 8));
        const QTime time(twoDigits(data, 11), twoDigits(data, 14), twoDigits(data, 17));
        if (!date.isValid() || !time.isValid()) {
            appendText(out, data);
            return;
        }
        m_dayKey = day.toLatin1();
        m_dayText = utf8(m_locale.toString(date, m_dateFormat));
    }
    const int hour = twoDigits(data, 11);
    const int minuteOfHour = twoDigits(data, 14);
    const int second = twoDigits(data, 17);
    if (hour > 23 || minuteOfHour > 59 || second > 59) {
        appendText(out, data);
        return;
    }

    m_field.clear();
    m_field += m_dayText;
    m_field += ' ';
    if (m_secondsFormat.isEmpty()) {
        m_field += utf8(m_locale.toString(QTime(hour, minuteOfHour, second), m_timeFormat));
    } else {
        const MinuteText& text = minute(hour * 60 + minuteOfHour);
        m_field += text.before;
        m_field += m_seconds[std::size_t(second)];
        m_field += text.after;
    }
    appendField(out, m_field);
}

const ExportFormat::MinuteText& ExportFormat::minute(int minuteOfDay)
{
    MinuteText& text = m_minutes[std::size_t(minuteOfDay)];
    if (!text.ready) {
        const QString time =
            m_locale.toString(QTime(minuteOfDay / 60, minuteOfDay % 60), m_splitTimeFormat);
        const qsizetype marker = time.indexOf(kSecondsMarker);
        text.before = utf8(time.left(marker));
        text.after = utf8(time.mid(marker + 1));
        text.ready = true;
    }
    return text;
}

// A field with the separator, a quote or a line break in it goes between quotes, its quotes
// doubled; any other field is written as it is.
void ExportFormat::appendField(QByteArray& out, const QByteArray& field) const
{
    bool quote = false;
    for (const char c : field) {
        if (c == m_separator || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace powerlog
