// The export's lines on arbitrary values. The first byte picks the locale and the separator;
// then come up to eight rows of five values (a kind byte, then the value's bytes).
//  - every line ends with one CR LF and holds no other line break outside quotes;
//  - a small CSV reader reads it back into five fields, quoting being needed exactly where a
//    field holds the separator, a quote or a line break;
//  - texts read back as they were, NULL as an empty field, numbers as the locale writes them
//    (without group separators; finite ones read back the same), and Data in the program's
//    form as the locale's own date and time text.

#include "fuzzsupport.h"

#include "acquisition/exportformat.h"

#include <QDateTime>
#include <array>
#include <cmath>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>

using namespace powerlog;

namespace {

constexpr char kSeparators[] = {',', ';', '\t', ' '};

const QList<QLocale>& locales()
{
    static const QList<QLocale> list{
        QLocale::c(),
        QLocale(QLocale::Italian, QLocale::Italy),
        QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::German, QLocale::Germany),
        QLocale(QLocale::French, QLocale::Switzerland),
        QLocale(QLocale::Arabic, QLocale::Egypt), // digits and signs beyond ASCII
        QLocale(QLocale::Persian, QLocale::Iran),
        QLocale(QLocale::Bulgarian, QLocale::Bulgaria),
    };
    return list;
}

// Reads one line (without its CR LF) into fields; nothing when it is not well-formed CSV.
std::optional<QList<QByteArray>> readCsvLine(QByteArrayView line, char separator,
                                             QList<bool>* quoted)
{
    QList<QByteArray> fields;
    qsizetype at = 0;
    while (true) {
        QByteArray field;
        const bool inQuotes = at < line.size() && line[at] == '"';
        if (inQuotes) {
            ++at;
            while (true) {
                if (at >= line.size())
                    return std::nullopt; // no closing quote
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += line[at++];
            }
            if (at < line.size() && line[at] != separator)
                return std::nullopt; // text after the closing quote
        } else {
            while (at < line.size() && line[at] != separator) {
                const char c = line[at++];
                if (c == '"' || c == '\r' || c == '\n')
                    return std::nullopt;
                field += c;
            }
        }
        fields << field;
        *quoted << inQuotes;
        if (at >= line.size())
            return fields;
        ++at; // the separator
    }
}

bool needsQuotes(const QByteArray& field, char separator)
{
    return field.contains(separator) || field.contains('"') || field.contains('\r') ||
           field.contains('\n');
}

struct Value
{
    ExportValue value;
    QByteArray text; // owns what value.text points to
};

Value decodeValue(FuzzedDataProvider& input, bool dataColumn)
{
    Value v;
    switch (input.ConsumeIntegralInRange(0, dataColumn ? 4 : 3)) {
    case 0:
        v.value = ExportValue::null();
        break;
    case 1:
        v.value = ExportValue::whole(input.ConsumeIntegral<qint64>());
        break;
    case 2: {
        double number = 0;
        if (input.ConsumeBool()) {
            const auto bits = input.ConsumeIntegral<quint64>();
            std::memcpy(&number, &bits, sizeof number);
        } else {
            number = input.ConsumeIntegralInRange(-100000000, 100000000) / 1000.0;
        }
        v.value = ExportValue::number(number);
        break;
    }
    case 3:
        v.text = QByteArray::fromStdString(input.ConsumeRandomLengthString(24));
        v.value = ExportValue::utf8(v.text);
        break;
    default: { // Data as the program writes it, not always a real date or time
        const auto digits = [&](int count) {
            QByteArray text;
            for (int i = 0; i < count; ++i)
                text += char('0' + input.ConsumeIntegralInRange(0, 9));
            return text;
        };
        v.text = digits(4) + '-' + digits(2) + '-' + digits(2) + ' ' + digits(2) + ':' + digits(2) +
                 ':' + digits(2);
        v.value = ExportValue::utf8(v.text);
        break;
    }
    }
    return v;
}

void checkField(const QByteArray& field, const ExportValue& value, bool dataColumn,
                const QLocale& locale)
{
    switch (value.kind) {
    case ExportValue::Kind::Null:
        FUZZ_CHECK(field.isEmpty());
        return;
    case ExportValue::Kind::Integer: {
        // The quick writer's text is the locale's own.
        const QString expected = locale.toString(value.integer);
        FUZZ_CHECK_DETAIL(field == expected.toUtf8(),
                          QString::fromUtf8(field) + QStringLiteral(" for ") + expected);
        return;
    }
    case ExportValue::Kind::Real: {
        const QString expected = locale.toString(value.real, 'f', QLocale::FloatingPointShortest);
        FUZZ_CHECK_DETAIL(field == expected.toUtf8(), QString::fromUtf8(field.toPercentEncoding()) +
                                                          QStringLiteral(" for ") + expected);
        // Read back, a finite number is the same number.
        bool ok = false;
        if (std::isfinite(value.real) && locale.decimalPoint() == QStringLiteral(".") &&
            locale.negativeSign() == QStringLiteral("-"))
            FUZZ_CHECK(locale.toDouble(expected, &ok) == value.real && ok);
        return;
    }
    case ExportValue::Kind::Text:
        break;
    }
    const QByteArray text = value.text.toByteArray();
    // Explicit formats: ISO dates take 24:00:00 as the end of a day, which Data never holds.
    const QDate date =
        QDate::fromString(QString::fromLatin1(text.left(10)), QStringLiteral("yyyy-MM-dd"));
    const QTime time =
        QTime::fromString(QString::fromLatin1(text.mid(11)), QStringLiteral("HH:mm:ss"));
    if (dataColumn && text.size() == 19 && text.at(10) == ' ' && date.isValid() && time.isValid()) {
        const QString expected =
            locale.toString(QDateTime(date, time), exportDateTimeFormat(locale));
        FUZZ_CHECK_DETAIL(field == expected.toUtf8(),
                          QString::fromUtf8(field) + QStringLiteral(" for ") + expected);
        return;
    }
    FUZZ_CHECK_DETAIL(field == text, QString::fromUtf8(field));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    QLocale locale = locales().at(data[0] % locales().size());
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const char separator = kSeparators[(data[0] / locales().size()) % std::size(kSeparators)];
    FuzzedDataProvider input(data + 1, size - 1);

    // One writer per locale and separator for the whole run, as an export keeps one for all its
    // rows: its caches of days and minutes then see rows of many inputs, and it is dear to make.
    static std::map<std::pair<QString, char>, ExportFormat> writers;
    ExportFormat& format =
        writers.try_emplace({locale.name(), separator}, locale, separator).first->second;
    QByteArray out;
    for (int row = 0; row < 8 && input.remaining_bytes() > 0; ++row) {
        std::array<Value, ExportFormat::kColumns> values;
        std::array<ExportValue, ExportFormat::kColumns> rowValues;
        for (int column = 0; column < ExportFormat::kColumns; ++column) {
            values[std::size_t(column)] = decodeValue(input, column == ExportFormat::kColumns - 1);
            rowValues[std::size_t(column)] = values[std::size_t(column)].value;
        }
        out.clear();
        format.appendRow(out, rowValues);

        FUZZ_CHECK(out.endsWith(ExportFormat::kLineEnd));
        const QByteArrayView line = QByteArrayView(out).chopped(2);
        QList<bool> quoted;
        const std::optional<QList<QByteArray>> fields = readCsvLine(line, separator, &quoted);
        FUZZ_CHECK_DETAIL(fields.has_value(), QString::fromUtf8(out));
        FUZZ_CHECK_DETAIL(fields->size() == ExportFormat::kColumns, QString::fromUtf8(out));
        for (int column = 0; column < ExportFormat::kColumns; ++column) {
            const QByteArray& field = fields->at(column);
            FUZZ_CHECK(quoted.at(column) == needsQuotes(field, separator));
            checkField(field, rowValues[std::size_t(column)], column == ExportFormat::kColumns - 1,
                       locale);
        }
    }

    const QStringList headings{QStringLiteral("V"), QStringLiteral("a;b"),
                               QStringLiteral("say \"W\""), QStringLiteral("e\te"),
                               QStringLiteral("Data ora")};
    const QByteArray heading = format.headingLine(headings);
    QList<bool> quoted;
    const auto fields = readCsvLine(QByteArrayView(heading).chopped(2), separator, &quoted);
    FUZZ_CHECK(heading.endsWith(ExportFormat::kLineEnd) && fields && fields->size() == 5);
    for (int i = 0; i < 5; ++i)
        FUZZ_CHECK(fields->at(i) == headings.at(i).toUtf8());
    return 0;
}
