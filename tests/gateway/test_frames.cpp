#include "gateway/frames.h"

#include <QTest>

using namespace powerlog::frames;

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void builders();
    void classify_data();
    void classify();
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

void TestFrames::classify_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<FrameKind>("kind");

    QTest::newRow("ack") << "*#*1##" << FrameKind::Ack;
    QTest::newRow("nack") << "*#*0##" << FrameKind::Nack;
    QTest::newRow("nonce") << "*#603356072##" << FrameKind::Nonce;
    QTest::newRow("one-digit nonce") << "*#9##" << FrameKind::Nonce;
    // Only a whole frame that is exactly the answer counts.
    QTest::newRow("ack inside other text")
        << "*#3*10*0*230*2*460*1234##*#*1##*3*1*#2##" << FrameKind::Other;
    QTest::newRow("ack with one hash") << "*#*1#" << FrameKind::Other;
    QTest::newRow("cut nonce") << "*#6033560" << FrameKind::Other;
    QTest::newRow("empty") << "" << FrameKind::Other;
    QTest::newRow("hash without star") << "12##" << FrameKind::Other;
    // Other "*#" frames are not nonces, however they end.
    QTest::newRow("measurement reply") << "*#3*10*0*230*2*460*1234##" << FrameKind::Other;
    QTest::newRow("no digits") << "*###" << FrameKind::Other;
    QTest::newRow("letter among digits") << "*#6033a6072##" << FrameKind::Other;
    QTest::newRow("non-ascii digit") << QString::fromUtf8("*#\u0661##") << FrameKind::Other;
}

void TestFrames::classify()
{
    QFETCH(QString, frame);
    const QByteArray bytes = frame.toLatin1();
    QTEST(classifyFrame(QLatin1StringView(bytes)), "kind");
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
    const LoadEventBatch batch = powerlog::frames::splitLoadEvents(chunk);
    QVERIFY2(!batch.error, qPrintable(batch.error ? batch.error->piece : QString()));
    QTEST(batch.events, "expected");
}

void TestFrames::splitLoadEventsStopsAtBadPiece_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<Events>("kept");
    QTest::addColumn<LoadEventError>("error");

    using Kind = LoadEventError::Kind;
    QTest::newRow("position 0") << "*3*0*#0##" << Events{}
                                << LoadEventError{Kind::PositionZero, "*3*0*#0", u'0'};
    QTest::newRow("position letter")
        << "*3*0*#x##" << Events{} << LoadEventError{Kind::BadPosition, "*3*0*#x", u'x'};
    QTest::newRow("state letter") << "*3*a*#2##" << Events{}
                                  << LoadEventError{Kind::BadState, "*3*a*#2", u'a'};
    QTest::newRow("too short") << "*3*1##" << Events{}
                               << LoadEventError{Kind::TooShort, "*3*1", QChar()};
    QTest::newRow("events before error kept")
        << "*3*0*#4##*3*1*#0##*3*1*#5##" << Events{{3, QLatin1Char('0')}}
        << LoadEventError{Kind::PositionZero, "*3*1*#0", u'0'};
    QTest::newRow("non-ascii position")
        << QString::fromUtf8("*3*0*#\u0661##") << Events{}
        << LoadEventError{Kind::BadPosition, QString::fromUtf8("*3*0*#\u0661"), QChar(0x0661)};
}

void TestFrames::splitLoadEventsStopsAtBadPiece()
{
    QFETCH(QString, chunk);
    const LoadEventBatch batch = powerlog::frames::splitLoadEvents(chunk);
    QVERIFY(batch.error);
    QTEST(batch.events, "kept");
    QTEST(*batch.error, "error");
}

QTEST_APPLESS_MAIN(TestFrames)
#include "test_frames.moc"
