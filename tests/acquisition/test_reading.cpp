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
        QCOMPARE(powerlog::trayLevel(power, LinePower(lineIndex)), level);
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
