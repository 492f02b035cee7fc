#include "acquisition/exportformat.h"

#include <QTime>
#include <charconv>
#include <cmath>
#include <system_error>

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

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "yyyy-MM-dd HH:mm:ss", the only form the program writes into Data.
bool isOwnForm(QByteArrayView data)
{
    if (data.size() != 19)
        return false;
    for (qsizetype i = 0; i < 19; ++i) {
        const char c = data[i];
        switch (i) {
        case 4:
        case 7:
            if (c != '-')
                return false;
            break;
        case 10:
            if (c != ' ')
                return false;
            break;
        case 13:
        case 16:
            if (c != ':')
                return false;
            break;
        default:
            if (!isDigit(c))
                return false;
        }
    }
    return true;
}

int twoDigits(QByteArrayView data, qsizetype at)
{
    return (data[at] - '0') * 10 + (data[at + 1] - '0');
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
        appendText(line, headings.at(i).toUtf8());
    }
    return line + kLineEnd;
}

void ExportFormat::appendRow(QByteArray& out, const std::array<ExportValue, kColumns>& row)
{
    for (int column = 0; column < kColumns; ++column) {
        if (column > 0)
            out += m_separator;
        const ExportValue& value = row[std::size_t(column)];
        if (column == kColumns - 1 && value.kind == ExportValue::Kind::Text)
            appendDateTime(out, value.text);
        else
            appendValue(out, value);
    }
    out += kLineEnd;
}

void ExportFormat::appendValue(QByteArray& out, const ExportValue& value) const
{
    switch (value.kind) {
    case ExportValue::Kind::Null:
        return;
    case ExportValue::Kind::Integer:
        appendInteger(out, value.integer);
        return;
    case ExportValue::Kind::Real:
        appendNumber(out, value.real);
        return;
    case ExportValue::Kind::Text:
        appendText(out, value.text);
        return;
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
    if (written.ec != std::errc()) {
        // Tiny magnitudes (1e-100) need up to hundreds of zeros after the point: left to the
        // locale, as they are rare.
        appendField(out, utf8(m_locale.toString(value, 'f', QLocale::FloatingPointShortest)));
        return;
    }
    m_field.resize(0); // keeps the buffer; clear() would free it
    appendLocalized(m_field, ascii, written.ptr - ascii);
    appendField(out, m_field);
}

void ExportFormat::appendInteger(QByteArray& out, qint64 value) const
{
    char ascii[32];
    const std::to_chars_result written = std::to_chars(ascii, ascii + sizeof ascii, value);
    m_field.resize(0); // keeps the buffer; clear() would free it
    appendLocalized(m_field, ascii, written.ptr - ascii);
    appendField(out, m_field);
}

void ExportFormat::appendFixed(QByteArray& out, double value, int decimals) const
{
    // Through QLocale, which rounds halves away from zero as QString::number does: few values
    // are written this way, and each the same as the program writes it elsewhere.
    QString text = m_locale.toString(value, 'f', decimals);
    const QString minus = m_locale.negativeSign();
    if (text.startsWith(minus)) {
        const QString zero = m_locale.zeroDigit();
        const QString point = m_locale.decimalPoint();
        QString rest = text.mid(minus.size());
        rest.remove(zero);
        rest.remove(point);
        if (rest.isEmpty())
            text = m_locale.toString(0.0, 'f', decimals);
    }
    appendField(out, utf8(text));
}

// ASCII digits, '-' and '.' in the locale's own signs; runs of characters the locale writes as
// they are go in at once.
void ExportFormat::appendLocalized(QByteArray& field, const char* ascii, qsizetype size) const
{
    const bool asciiDigits = m_digits[0].isEmpty();
    qsizetype plain = 0; // start of the run not yet appended
    for (qsizetype i = 0; i < size; ++i) {
        const char c = ascii[i];
        const QByteArray* sign = nullptr;
        if (c == '-')
            sign = &m_minus;
        else if (c == '.')
            sign = &m_decimalPoint;
        else if (!asciiDigits)
            sign = &m_digits[std::size_t(c - '0')];
        if (!sign || (sign->size() == 1 && sign->at(0) == c))
            continue;
        field.append(ascii + plain, i - plain);
        field += *sign;
        plain = i + 1;
    }
    field.append(ascii + plain, size - plain);
}

void ExportFormat::appendText(QByteArray& out, QByteArrayView utf8) const
{
    appendField(out, utf8);
}

void ExportFormat::appendDateTime(QByteArray& out, QByteArrayView data)
{
    if (!isOwnForm(data)) {
        appendText(out, data);
        return;
    }
    const QByteArrayView day = data.first(10);
    if (m_dayKey != day) {
        const QDate date(twoDigits(data, 0) * 100 + twoDigits(data, 2), twoDigits(data, 5),
                         twoDigits(data, 8));
        const QTime time(twoDigits(data, 11), twoDigits(data, 14), twoDigits(data, 17));
        if (!date.isValid() || !time.isValid()) {
            appendText(out, data);
            return;
        }
        m_dayKey = day.toByteArray();
        m_dayText = utf8(m_locale.toString(date, m_dateFormat));
    }
    const int hour = twoDigits(data, 11);
    const int minuteOfHour = twoDigits(data, 14);
    const int second = twoDigits(data, 17);
    if (hour > 23 || minuteOfHour > 59 || second > 59) {
        appendText(out, data);
        return;
    }

    m_field.resize(0); // keeps the buffer; clear() would free it
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
void ExportFormat::appendField(QByteArray& out, QByteArrayView field) const
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
    qsizetype plain = 0;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '"') {
            out.append(field.sliced(plain, i + 1 - plain));
            plain = i; // the quote again, doubled
        }
    }
    out.append(field.sliced(plain));
    out += '"';
}

} // namespace powerlog
