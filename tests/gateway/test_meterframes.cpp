#include "gateway/meterframes.h"

#include <QTest>

using namespace powerlog::meterframes;
using Kind = MeterValue::Kind;

Q_DECLARE_METATYPE(std::optional<powerlog::meterframes::MeterValue>)

namespace {

MeterValue value(Kind kind, int meter, qint64 amount, int month = 0, int day = 0, int hour = 0,
                 int year = 0)
{
    MeterValue v;
    v.kind = kind;
    v.meter = meter;
    v.value = amount;
    v.month = month;
    v.day = day;
    v.hour = hour;
    v.year = year;
    return v;
}

} // namespace

class TestMeterFrames : public QObject
{
    Q_OBJECT
private slots:
    void meterAddresses_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("number"); // 0: no meter
        QTest::newRow("51") << "51" << 1;
        QTest::newRow("5255") << "5255" << 255;
        QTest::newRow("512") << "512" << 12;
        QTest::newRow("50") << "50" << 0;
        QTest::newRow("5256") << "5256" << 0;
        QTest::newRow("leading zero") << "501" << 0;
        QTest::newRow("an actuator") << "71" << 0;
        QTest::newRow("actuator with its #0") << "71#0" << 0;
        QTest::newRow("5 alone") << "5" << 0;
        QTest::newRow("letters") << "5a" << 0;
        QTest::newRow("empty") << "" << 0;
    }

    void meterAddresses()
    {
        QFETCH(QString, where);
        QFETCH(int, number);
        QCOMPARE(meterNumber(where).value_or(0), number);
    }

    void requests()
    {
        QCOMPARE(powerRequest("51"), QStringLiteral("*#18*51*113##"));
        QCOMPARE(totalizerRequest("52"), QStringLiteral("*#18*52*51##"));
        QCOMPARE(monthToDateRequest("51"), QStringLiteral("*#18*51*53##"));
        QCOMPARE(dayToDateRequest("51"), QStringLiteral("*#18*51*54##"));
        QCOMPARE(monthOfYearRequest("51", 6, 3), QStringLiteral("*#18*51*52#06#3##"));
        QCOMPARE(automaticUpdatesRequest("51", 255), QStringLiteral("*#18*51*#1200#1*255##"));
        QCOMPARE(automaticUpdatesRequest("51", 0), QStringLiteral("*#18*51*#1200#1*0##"));
        QCOMPARE(hourlyHistoryRequest("5255", 12, 31), QStringLiteral("*#18*5255*511#12#31##"));
        QCOMPARE(hourlyHistoryCommand("51", 1, 2), QStringLiteral("*18*57#1#2*51##"));
        QCOMPARE(dayTotalsThisYearCommand("51", 4), QStringLiteral("*18*59#4*51##"));
        QCOMPARE(dayTotalsLastYearCommand("51", 11), QStringLiteral("*18*510#11*51##"));
    }

    void values_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<std::optional<MeterValue>>("expected");
        const auto row = [](const char* name, const char* frame, std::optional<MeterValue> v) {
            QTest::newRow(name) << QString::fromLatin1(frame) << v;
        };
        const std::optional<MeterValue> none;

        row("power", "*#18*51*113*1234##", value(Kind::Power, 1, 1234));
        row("power sent back is negative", "*#18*51*113*-350##", value(Kind::Power, 1, -350));
        row("power zero", "*#18*5255*113*0##", value(Kind::Power, 255, 0));
        row("totalizer", "*#18*51*51*123456789##", value(Kind::Totalizer, 1, 123456789));
        row("month so far", "*#18*51*53*4567##", value(Kind::MonthToDate, 1, 4567));
        row("day so far", "*#18*51*54*890##", value(Kind::DayToDate, 1, 890));
        row("a month of a year", "*#18*51*52#25#11*300000##",
            value(Kind::MonthOfYear, 1, 300000, 11, 0, 0, 2025));
        row("automatic updates", "*#18*51*1200#1*255##", value(Kind::AutomaticUpdates, 1, 255));
        row("automatic updates ended", "*#18*51*1200#1*0##", value(Kind::AutomaticUpdates, 1, 0));
        row("first hour", "*#18*51*511#12#7*1*321##", value(Kind::HourOfDay, 1, 321, 12, 7, 0));
        row("last hour", "*#18*51*511#12#7*24*99##", value(Kind::HourOfDay, 1, 99, 12, 7, 23));
        row("the day's total", "*#18*51*511#12#7*25*9876##",
            value(Kind::DayOfHistory, 1, 9876, 12, 7, 0));
        row("a day of this year", "*#18*51*513#3*31*12000##",
            value(Kind::DayThisYear, 1, 12000, 3, 31));
        row("a day of last year", "*#18*52*514#2*29*11000##",
            value(Kind::DayLastYear, 2, 11000, 2, 29));

        row("a WHERE that is no meter", "*#18*50*113*1234##", none);
        row("an energy actuator", "*#18*71#0*113*1234##", none);
        row("another WHO", "*#3*10*0*230*4*920*152##", none);
        row("a command, not a value", "*18*57#1#2*51##", none);
        row("the request itself", "*#18*51*113##", none);
        row("no end", "*#18*51*113*1234", none);
        row("an unknown dimension", "*#18*51*999*1##", none);
        row("an empty value", "*#18*51*113*##", none);
        row("a value that is no number", "*#18*51*113*12a##", none);
        row("a fraction", "*#18*51*113*12.5##", none);
        row("a second value", "*#18*51*113*12*13##", none);
        row("a negative energy", "*#18*51*51*-5##", none);
        row("sixteen digits", "*#18*51*51*1234567890123456##", none);
        row("month 13", "*#18*51*511#13#7*1*321##", none);
        row("day 32", "*#18*51*513#3*32*1##", none);
        row("hour 0", "*#18*51*511#12#7*0*321##", none);
        row("hour 26", "*#18*51*511#12#7*26*321##", none);
        row("a history without its day", "*#18*51*511#12*1*321##", none);
        row("a history without its energy", "*#18*51*511#12#7*1##", none);
        row("updates over 255 minutes", "*#18*51*1200#1*256##", none);
        row("updates of another kind", "*#18*51*1200#2*10##", none);
        row("a year of three digits", "*#18*51*52#125#11*3##", none);
    }

    void values()
    {
        QFETCH(QString, frame);
        QFETCH(std::optional<MeterValue>, expected);
        QCOMPARE(parseMeterValue(frame), expected);
    }
};

QTEST_GUILESS_MAIN(TestMeterFrames)
#include "test_meterframes.moc"
