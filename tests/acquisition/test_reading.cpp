#include "acquisition/reading.h"
#include "app/config.h"

#include <QLocale>
#include <QTest>

using namespace powerlog;

class TestReading : public QObject
{
    Q_OBJECT

private slots:
    void trayLevel_data()
    {
        QTest::addColumn<int>("power");
        QTest::addColumn<int>("lineIndex");
        QTest::addColumn<int>("level");
        QTest::newRow("no power is idle") << 0 << 1 << 1;
        QTest::newRow("line power is full") << 3000 << 1 << 9;
        QTest::newRow("half of 3000 W: round(4) + 1") << 1500 << 1 << 5;
        QTest::newRow("2.5 steps round down to even") << 1875 << 3 << 3; // 6000 W line
        QTest::newRow("3.5 steps round up to even") << 2625 << 3 << 5;
        QTest::newRow("over the line is capped") << 20000 << 1 << 9;
        QTest::newRow("9000 W line") << 4500 << 4 << 5;
        QTest::newRow("power fed back stays idle") << -800 << 1 << 1;
    }

    void trayLevel()
    {
        QFETCH(int, power);
        QFETCH(int, lineIndex);
        QFETCH(int, level);
        QCOMPARE(powerlog::trayLevel(power, linePowerWatts(lineIndex)), level);
    }

    void powerValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("watts");
        QTest::newRow("plain") << "460" << true << 460;
        QTest::newRow("largest") << "32767" << true << 32767;
        QTest::newRow("beyond 16 bits") << "32768" << false << 0;
        QTest::newRow("negative") << "-120" << true << -120;
        QTest::newRow("decimal") << "460.5" << false << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
    }

    void powerValues()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, watts);
        const auto value = powerValue(text);
        QCOMPARE(value.has_value(), valid);
        if (valid)
            QCOMPARE(int(*value), watts);
    }

    void readingFromFrame_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<int>("kind");          // -1: not a reading
        QTest::addColumn<QStringList>("texts"); // V, A, W, E

        const int full = int(Reading::Kind::Full);
        const int powerOnly = int(Reading::Kind::PowerOnly);
        const QStringList values{"230", "2", "460", "1234"};
        QTest::newRow("full") << "*#3*10*0*230*2*460*1234##" << full << values;
        QTest::newRow("full with decimals")
            << "*#3*10*0*229*2.3*527*98765##" << full << QStringList{"229", "2.3", "527", "98765"};
        QTest::newRow("other where") << "*#3*11*0*230*2*460*1234##" << full << values;
        QTest::newRow("dimension with leading zero")
            << "*#3*10*00*230*2*460*1234##" << full << values;
        QTest::newRow("power only")
            << "*#3*10*3*575##" << powerOnly << QStringList{"", "", "575", ""};
        QTest::newRow("texts kept as received")
            << "*#3*10*0*2 3*x*4x0*1.5e3##" << full << QStringList{"2 3", "x", "4x0", "1.5e3"};
        QTest::newRow("text before the frame") << "x*#3*10*0*230*2*460*1234##" << full << values;
        QTest::newRow("empty") << "" << -1 << QStringList();
        QTest::newRow("cut reply") << "*#3*10*0*230*2" << -1 << QStringList();
        QTest::newRow("three values") << "*#3*10*0*230*2*460" << -1 << QStringList();
        QTest::newRow("bare ack") << "*#*1##" << -1 << QStringList();
        QTest::newRow("load event") << "*3*0*#4##" << -1 << QStringList();
        QTest::newRow("other who") << "*#4*10*0*230*2*460*1234##" << -1 << QStringList();
        QTest::newRow("other dimension") << "*#3*10*1*230*2*460*1234##" << -1 << QStringList();
        QTest::newRow("dimension 30") << "*#3*10*30*230*2*460*1234##" << -1 << QStringList();
        QTest::newRow("dimension not a number")
            << "*#3*10*x*230*2*460*1234##" << -1 << QStringList();
        QTest::newRow("dimension empty") << "*#3*10**230*2*460*1234##" << -1 << QStringList();
        QTest::newRow("dimension signed") << "*#3*10*-0*230*2*460*1234##" << -1 << QStringList();

        const QString endlessDigits(100000, QLatin1Char('7'));
        const QString endlessZeros(100000, QLatin1Char('0'));
        QTest::newRow("endless dimension")
            << "*#3*10*" + endlessDigits + "*1*2*3*4##" << -1 << QStringList();
        QTest::newRow("endless zero dimension")
            << "*#3*10*" + endlessZeros + "*1*2*3*4##" << full << QStringList{"1", "2", "3", "4"};
        QTest::newRow("endless value") << "*#3*10*3*" + endlessDigits + "##" << powerOnly
                                       << QStringList{"", "", endlessDigits, ""};
        QTest::newRow("nul bytes")
            << QString::fromLatin1("*#3*10*\0*1*2*3*4##", 18) << -1 << QStringList();
        QTest::newRow("non-ascii digit")
            << QString::fromUtf8("*#3*10*\u0660*1*2*3*4##") << -1 << QStringList();
        QTest::newRow("only stars") << QString(5000, QLatin1Char('*')) << -1 << QStringList();
        QTest::newRow("only hashes") << QString(5000, QLatin1Char('#')) << -1 << QStringList();
    }

    void readingFromFrame()
    {
        QFETCH(QString, frame);
        QFETCH(int, kind);
        QFETCH(QStringList, texts);
        const QDateTime at(QDate(2026, 12, 5), QTime(10, 16, 26));
        const auto reading = powerlog::readingFromFrame(frame, at);
        QCOMPARE(reading.has_value(), kind >= 0);
        if (!reading)
            return;
        QCOMPARE(int(reading->kind), kind);
        QCOMPARE((QStringList{reading->V, reading->A, reading->W, reading->E}), texts);
        QCOMPARE(reading->power, powerValue(reading->W));
        QCOMPARE(reading->energy,
                 kind == int(Reading::Kind::Full) ? energyValue(reading->E) : std::nullopt);
        QCOMPARE(reading->time, at);
    }

    // The central unit writes plain decimals: no group separators in any locale, and nothing
    // that does not make a finite number.
    void decimalValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("whole") << "1234" << true << 1234.0;
        QTest::newRow("decimal point") << "229.5" << true << 229.5;
        QTest::newRow("blanks around") << " 12 " << true << 12.0;
        QTest::newRow("group separator") << "1,234" << false << 0.0;
        QTest::newRow("decimal comma") << "1234,5" << false << 0.0;
        QTest::newRow("overflow") << "1e999" << false << 0.0;
        QTest::newRow("negative overflow") << "-1e999" << false << 0.0;
        QTest::newRow("not a number") << "nan" << false << 0.0;
        QTest::newRow("infinity") << "inf" << false << 0.0;
        QTest::newRow("empty") << "" << false << 0.0;
    }

    void decimalValues()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Italian, QLocale::Italy),
                                      QLocale(QLocale::English, QLocale::UnitedStates)}) {
            QLocale::setDefault(locale);
            const auto parsed = decimalValue(text);
            QCOMPARE(parsed.has_value(), valid);
            if (valid)
                QCOMPARE(*parsed, value);
        }
        QLocale::setDefault(QLocale::c());
    }

    void energyIgnoresTheUsersLocale()
    {
        QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
        QCOMPARE(energyValue(QStringLiteral("1234.5")), std::optional<double>(1234.5));
        QCOMPARE(energyValue(QStringLiteral("1234,5")), std::nullopt);
        QCOMPARE(energyValue(QStringLiteral("nan")), std::nullopt);
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_GUILESS_MAIN(TestReading)
#include "test_reading.moc"
