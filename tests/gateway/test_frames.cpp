#include "gateway/frames.h"

#include <QRegularExpression>
#include <QTest>

using namespace powerlog::frames;
using Kind = Measurement::Kind;

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void builders();
    void ackNackAndPasswordRequest_data();
    void ackNackAndPasswordRequest();
    void parseMeasurement_data();
    void parseMeasurement();
    void parseMeasurementSurvivesHostileInput_data();
    void parseMeasurementSurvivesHostileInput();
    void splitLoadEvents_data();
    void splitLoadEvents();
    void splitLoadEventsStopsAtBadPiece_data();
    void splitLoadEventsStopsAtBadPiece();
};

void TestFrames::builders()
{
    QCOMPARE(passwordReplyFrame(0), QStringLiteral("*#0##"));
    QCOMPARE(passwordReplyFrame(25280520), QStringLiteral("*#25280520##"));
    QCOMPARE(passwordReplyFrame(4294967295u), QStringLiteral("*#4294967295##"));
    QCOMPARE(loadCommandFrame(1), QStringLiteral("*3*2*#1##"));
    QCOMPARE(loadCommandFrame(8), QStringLiteral("*3*2*#8##"));
}

void TestFrames::ackNackAndPasswordRequest_data()
{
    QTest::addColumn<QString>("buffer");
    QTest::addColumn<bool>("ack");
    QTest::addColumn<bool>("nack");
    QTest::addColumn<bool>("passwordRequest");

    QTest::newRow("ack") << "*#*1##" << true << false << true;
    QTest::newRow("ack inside other text")
        << "*#3*10*0*230*2*460*1234##*#*1##*3*1*#2##" << true << false << true;
    QTest::newRow("ack with one hash") << "*#*1#" << false << false << true;
    QTest::newRow("nack") << "*#*0##" << false << true << true;
    QTest::newRow("nonce") << "*#603356072##" << false << false << true;
    QTest::newRow("cut nonce") << "*#6033560" << false << false << false;
    QTest::newRow("empty") << "" << false << false << false;
    QTest::newRow("hash without star") << "12##" << false << false << false;
}

void TestFrames::ackNackAndPasswordRequest()
{
    QFETCH(QString, buffer);
    QTEST(IsAck(buffer), "ack");
    QTEST(IsNack(buffer), "nack");
    QTEST(IsPasswordRequest(buffer), "passwordRequest");
}

void TestFrames::parseMeasurement_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<Measurement>("expected");

    const Measurement none;
    QTest::newRow("full") << "*#3*10*0*230*2*460*1234##"
                          << Measurement{Kind::Full, "230", "2", "460", "1234"};
    QTest::newRow("full with decimals")
        << "*#3*10*0*229*2.3*527*98765##" << Measurement{Kind::Full, "229", "2.3", "527", "98765"};
    QTest::newRow("ack behind reply")
        << "*#3*10*0*230*2*460*1234##*#*1##" << Measurement{Kind::Full, "230", "2", "460", "1234"};
    QTest::newRow("other where") << "*#3*11*0*230*2*460*1234##"
                                 << Measurement{Kind::Full, "230", "2", "460", "1234"};
    QTest::newRow("dimension with leading zero")
        << "*#3*10*00*230*2*460*1234##" << Measurement{Kind::Full, "230", "2", "460", "1234"};
    QTest::newRow("power only") << "*#3*10*3*575##"
                                << Measurement{Kind::PowerOnly, {}, {}, "575", {}};
    QTest::newRow("empty") << "" << none;
    QTest::newRow("cut reply") << "*#3*10*0*230*2" << none;
    QTest::newRow("three values") << "*#3*10*0*230*2*460" << none;
    QTest::newRow("ack before reply") << "*#*1##*#3*10*0*230*2*460*1234##" << none;
    QTest::newRow("bare ack") << "*#*1##" << none;
    QTest::newRow("other who") << "*#4*10*0*230*2*460*1234##" << none;
    QTest::newRow("other dimension") << "*#3*10*1*230*2*460*1234##" << none;
    QTest::newRow("dimension 30") << "*#3*10*30*230*2*460*1234##" << none;
    QTest::newRow("dimension not a number") << "*#3*10*x*230*2*460*1234##" << none;
    QTest::newRow("dimension empty") << "*#3*10**230*2*460*1234##" << none;
    QTest::newRow("dimension signed") << "*#3*10*-0*230*2*460*1234##" << none;
    QTest::newRow("text before reply")
        << "x*#3*10*0*230*2*460*1234##" << Measurement{Kind::Full, "230", "2", "460", "1234"};
}

void TestFrames::parseMeasurement()
{
    QFETCH(QString, chunk);
    QTEST(ParseMeasurement(chunk), "expected");
}

void TestFrames::parseMeasurementSurvivesHostileInput_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<int>("kind");

    const QString endlessDigits(100000, QLatin1Char('7'));
    const QString endlessZeros(100000, QLatin1Char('0'));
    QTest::newRow("endless dimension")
        << "*#3*10*" + endlessDigits + "*1*2*3*4##" << int(Kind::None);
    QTest::newRow("endless zero dimension")
        << "*#3*10*" + endlessZeros + "*1*2*3*4##" << int(Kind::Full);
    QTest::newRow("endless value") << "*#3*10*3*" + endlessDigits + "##" << int(Kind::PowerOnly);
    QTest::newRow("nul bytes") << QString::fromLatin1("*#3*10*\0*1*2*3*4##", 18) << int(Kind::None);
    QTest::newRow("non-ascii digit")
        << QString::fromUtf8("*#3*10*\u0660*1*2*3*4##") << int(Kind::None);
    QTest::newRow("only stars") << QString(5000, QLatin1Char('*')) << int(Kind::None);
    QTest::newRow("only hashes") << QString(5000, QLatin1Char('#')) << int(Kind::None);
}

void TestFrames::parseMeasurementSurvivesHostileInput()
{
    QFETCH(QString, chunk);
    QTEST(int(ParseMeasurement(chunk).kind), "kind");
}

using Events = QList<LoadEvent>;

void TestFrames::splitLoadEvents_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<Events>("expected");

    QTest::newRow("two events") << "*3*0*#4##*3*1*#5##"
                                << Events{{3, QLatin1Char('0')}, {4, QLatin1Char('1')}};
    QTest::newRow("three in order")
        << "*3*2*#1##*3*3*#8##*3*1*#1##"
        << Events{{0, QLatin1Char('2')}, {7, QLatin1Char('3')}, {0, QLatin1Char('1')}};
    QTest::newRow("position 9 ignored") << "*3*0*#9##" << Events{};
    QTest::newRow("trailing cut frame ignored")
        << "*3*0*#4##*3*1*#5" << Events{{3, QLatin1Char('0')}};
    QTest::newRow("no terminator at all") << "*3*0*#4" << Events{};
    QTest::newRow("other frames skipped")
        << "*#*1##*1*1*12##*3*0*#2##*#3*10*0*1*2*3*4##" << Events{{1, QLatin1Char('0')}};
    QTest::newRow("state digit beyond 3 passed on") << "*3*7*#2##" << Events{{1, QLatin1Char('7')}};
    QTest::newRow("longer where") << "*3*0*#12##" << Events{{0, QLatin1Char('0')}};
    QTest::newRow("empty") << "" << Events{};
}

void TestFrames::splitLoadEvents()
{
    QFETCH(QString, chunk);
    const LoadEventBatch batch = SplitLoadEvents(chunk);
    QVERIFY2(!batch.failed, qPrintable(batch.error));
    QTEST(batch.events, "expected");
}

void TestFrames::splitLoadEventsStopsAtBadPiece_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<Events>("kept");
    QTest::addColumn<QString>("errorHolds");

    QTest::newRow("position 0") << "*3*0*#0##" << Events{} << "'0'";
    QTest::newRow("position letter") << "*3*0*#x##" << Events{} << "'x'";
    QTest::newRow("state letter") << "*3*a*#2##" << Events{} << "'a'";
    QTest::newRow("too short") << "*3*1##" << Events{} << "*3*1";
    QTest::newRow("events before error kept")
        << "*3*0*#4##*3*1*#0##*3*1*#5##" << Events{{3, QLatin1Char('0')}} << "'0'";
    QTest::newRow("non-ascii position")
        << QString::fromUtf8("*3*0*#\u0661##") << Events{} << "position";
}

void TestFrames::splitLoadEventsStopsAtBadPiece()
{
    QFETCH(QString, chunk);
    QFETCH(QString, errorHolds);
    const LoadEventBatch batch = SplitLoadEvents(chunk);
    QVERIFY(batch.failed);
    QTEST(batch.events, "kept");
    // "<number> - <description>"
    QVERIFY2(batch.error.contains(QRegularExpression(QStringLiteral("^\\d+ - \\S"))),
             qPrintable(batch.error));
    QVERIFY2(batch.error.contains(errorHolds), qPrintable(batch.error));
}

QTEST_APPLESS_MAIN(TestFrames)
#include "test_frames.moc"
