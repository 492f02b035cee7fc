#include "acquisition/exportformat.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTest>

using namespace powerlog;

namespace {

QLocale italian()
{
    return QLocale(QLocale::Italian, QLocale::Italy);
}

QLocale american()
{
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

// Every locale Qt knows, once each.
QList<QLocale> allLocales()
{
    QList<QLocale> locales;
    QStringList seen;
    for (const QLocale& locale : QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript,
                                                          QLocale::AnyTerritory)) {
        if (!seen.contains(locale.name())) {
            seen << locale.name();
            locales << locale;
        }
    }
    return locales;
}

// The reference: what QLocale writes for a number, without group separators.
QByteArray qtNumber(QLocale locale, double value)
{
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', QLocale::FloatingPointShortest).toUtf8();
}

QByteArray number(const QLocale& locale, double value)
{
    QByteArray out;
    ExportFormat(locale, '\t').appendNumber(out, value);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(powerlog::ExportValue)

class TestExportFormat : public QObject
{
    Q_OBJECT
private slots:
    void dateTimeFormOfTheUsersLocale_data();
    void dateTimeFormOfTheUsersLocale();
    void numbersAreWrittenAsQLocaleWritesThemInEveryLocale();
    void fixedDecimals_data();
    void fixedDecimals();
    void fixedDecimalsInEveryLocale();
    void datesAndTimesAreWrittenAsQLocaleWritesThemInEveryLocale();
    void fieldsHoldingTheSeparatorAreQuoted_data();
    void fieldsHoldingTheSeparatorAreQuoted();
    void rowsOfEveryKindOfValue();
    void headingsAreFieldsToo();
};

void TestExportFormat::dateTimeFormOfTheUsersLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("form");
    // Two-digit years become four; the time zone is left out, brackets and all.
    QTest::newRow("Italian") << italian() << QStringLiteral("dd/MM/yyyy HH:mm:ss");
    QTest::newRow("American") << american() << QStringLiteral("M/d/yyyy h:mm:ss AP");
    QTest::newRow("British") << QLocale(QLocale::English, QLocale::UnitedKingdom)
                             << QStringLiteral("dd/MM/yyyy HH:mm:ss");
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany)
                            << QStringLiteral("dd.MM.yyyy HH:mm:ss");
    QTest::newRow("Persian") << QLocale(QLocale::Persian, QLocale::Iran)
                             << QStringLiteral("yyyy/M/d H:mm:ss");
}

void TestExportFormat::dateTimeFormOfTheUsersLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, form);
    QCOMPARE(exportDateTimeFormat(locale), form);
}

void TestExportFormat::numbersAreWrittenAsQLocaleWritesThemInEveryLocale()
{
    QList<double> values{
        0.0, -0.0, 1.0, -15.0, 229.6, 0.1 + 0.2, 1.25e-7, 1234567.5, 1e15, -1e15 + 0.5, 1e300,
        123456789.125, -0.5, 4503599627370495.5,
        // Fixed notation longer than a quick write's buffer: hundreds of zeros after the point.
        1e-100, -1.4249914579614907e-310, 5e-324};
    QRandomGenerator random(20261205);
    for (int i = 0; i < 100; ++i)
        values << (random.generateDouble() - 0.5) * std::pow(10.0, random.bounded(-8, 17));
    for (const QLocale& locale : allLocales()) {
        for (const double value : values)
            QCOMPARE(number(locale, value), qtNumber(locale, value));
        for (const qint64 whole : {qint64(0), qint64(-32768), qint64(32767), qint64(1) << 40}) {
            QByteArray out;
            ExportFormat(locale, '\t').appendInteger(out, whole);
            QLocale plain = locale;
            plain.setNumberOptions(QLocale::OmitGroupSeparator);
            QCOMPARE(out, plain.toString(whole).toUtf8());
        }
    }
}

void TestExportFormat::fixedDecimals_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("rounded") << american() << 0.15 / 3.6 << 3 << QByteArray("0.042");
    QTest::newRow("zeros kept") << italian() << 0.05 << 3 << QByteArray("0,050");
    QTest::newRow("whole") << american() << 2.0 << 2 << QByteArray("2.00");
    QTest::newRow("no group separator") << italian() << 1234.5678 << 3 << QByteArray("1234,568");
    QTest::newRow("negative") << italian() << -1.5 << 2 << QByteArray("-1,50");
    QTest::newRow("half away from zero") << american() << -7.125 << 2 << QByteArray("-7.13");
    QTest::newRow("negative, rounds to zero") << american() << -0.0004 << 3 << QByteArray("0.000");
    QTest::newRow("minus zero") << american() << -0.0 << 2 << QByteArray("0.00");
    QTest::newRow("beyond the quick write")
        << american() << 1e16 << 2 << QByteArray("10000000000000000.00");
}

// Numbers with a fixed count of decimals, as the hourly energy writes them: as QLocale writes
// them, except that no value is written as a negative zero.
void TestExportFormat::fixedDecimals()
{
    QFETCH(QLocale, locale);
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QByteArray, written);
    QByteArray out;
    ExportFormat(locale, '\t').appendFixed(out, value, decimals);
    QCOMPARE(out, written);
}

void TestExportFormat::fixedDecimalsInEveryLocale()
{
    for (const QLocale& locale : allLocales()) {
        QLocale plain = locale;
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        for (const double value : {0.0416667, 1234.5678, -7.125, 0.0}) {
            for (const int decimals : {2, 3}) {
                QByteArray field;
                ExportFormat(locale, '\t').appendFixed(field, value, decimals);
                QCOMPARE(field, plain.toString(value, 'f', decimals).toUtf8());
            }
        }
    }
}

void TestExportFormat::datesAndTimesAreWrittenAsQLocaleWritesThemInEveryLocale()
{
    // Several minutes of several days, each twice, so that the kept days and minutes are used.
    const QList<QDateTime> moments{
        {QDate(2026, 12, 5), QTime(0, 0, 0)},    {QDate(2026, 12, 5), QTime(0, 0, 9)},
        {QDate(2026, 12, 5), QTime(10, 16, 26)}, {QDate(2026, 12, 5), QTime(12, 0, 0)},
        {QDate(2026, 12, 5), QTime(13, 5, 59)},  {QDate(2026, 12, 6), QTime(23, 59, 59)},
        {QDate(2000, 1, 1), QTime(9, 9, 9)},     {QDate(2026, 12, 5), QTime(10, 16, 27)},
    };
    for (const QLocale& locale : allLocales()) {
        ExportFormat format(locale, '\t');
        const QString form = exportDateTimeFormat(locale);
        for (int pass = 0; pass < 2; ++pass) {
            for (const QDateTime& moment : moments) {
                QByteArray out;
                format.appendDateTime(
                    out, moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8());
                QCOMPARE(out, locale.toString(moment, form).toUtf8());
            }
        }
    }
}

void TestExportFormat::fieldsHoldingTheSeparatorAreQuoted_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<char>("separator");
    QTest::addColumn<ExportValue>("value");
    QTest::addColumn<QByteArray>("field");

    QTest::newRow("decimal comma, comma")
        << italian() << ',' << ExportValue::number(229.5) << QByteArray("\"229,5\"");
    QTest::newRow("decimal comma, semicolon")
        << italian() << ';' << ExportValue::number(229.5) << QByteArray("229,5");
    QTest::newRow("decimal point, comma")
        << american() << ',' << ExportValue::number(229.5) << QByteArray("229.5");
    QTest::newRow("whole number, comma")
        << italian() << ',' << ExportValue::whole(-15) << QByteArray("-15");
    QTest::newRow("date and time, space")
        << italian() << ' ' << ExportValue::utf8("2026-12-05 10:16:26")
        << QByteArray("\"05/12/2026 10:16:26\"");
    QTest::newRow("date and time, tab")
        << italian() << '\t' << ExportValue::utf8("2026-12-05 10:16:26")
        << QByteArray("05/12/2026 10:16:26");
    QTest::newRow("quotes doubled")
        << american() << ';' << ExportValue::utf8("2\"3") << QByteArray("\"2\"\"3\"");
    QTest::newRow("line break") << american() << ';' << ExportValue::utf8("2\r\n3")
                                << QByteArray("\"2\r\n3\"");
}

void TestExportFormat::fieldsHoldingTheSeparatorAreQuoted()
{
    QFETCH(QLocale, locale);
    QFETCH(char, separator);
    QFETCH(ExportValue, value);
    QFETCH(QByteArray, field);
    // The value stands in the last column, where a text in the program's form is a moment.
    QByteArray line;
    ExportFormat(locale, separator).appendRow(line, {{{}, {}, {}, {}, value}});
    const QByteArray empty(4, separator);
    QCOMPARE(line, empty + field + "\r\n");
}

void TestExportFormat::rowsOfEveryKindOfValue()
{
    ExportFormat format(italian(), ';');
    QByteArray out;
    // A reading as the program records it; then tension and current that were no number, a
    // missing power, and a time written by another program.
    format.appendRow(out, {ExportValue::number(230.5), ExportValue::number(1.25),
                           ExportValue::whole(920), ExportValue::number(1234567.0),
                           ExportValue::utf8("2026-12-05 10:16:26")});
    format.appendRow(out,
                     {ExportValue::utf8("abc"), ExportValue::utf8("1e999"), ExportValue::null(),
                      ExportValue::number(0), ExportValue::utf8("05/12/2026 10.16")});
    QCOMPARE(out, QByteArray("230,5;1,25;920;1234567;05/12/2026 10:16:26\r\n"
                             "abc;1e999;;0;05/12/2026 10.16\r\n"));
}

void TestExportFormat::headingsAreFieldsToo()
{
    const QStringList headings{"Tension (V)", "Current (A)", "Power (W)", "Energy", "Date"};
    QCOMPARE(ExportFormat(american(), ',').headingLine(headings),
             QByteArray("Tension (V),Current (A),Power (W),Energy,Date\r\n"));
    // With blanks between the fields, a heading with a blank in it would make two columns.
    QCOMPARE(ExportFormat(american(), ' ').headingLine(headings),
             QByteArray("\"Tension (V)\" \"Current (A)\" \"Power (W)\" Energy Date\r\n"));
}

QTEST_GUILESS_MAIN(TestExportFormat)
#include "test_exportformat.moc"
