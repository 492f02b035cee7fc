#include "gateway/frameassembler.h"

#include <QTest>

using powerlog::FrameAssembler;

namespace {

// The frames one feed hands out, in order.
QStringList feed(FrameAssembler& assembler, const QByteArray& bytes)
{
    QStringList frames;
    assembler.feed(bytes, [&frames](QLatin1StringView frame) {
        frames << QString(frame);
        return true;
    });
    return frames;
}

} // namespace

class TestFrameAssembler : public QObject
{
    Q_OBJECT
private slots:
    void cutsStream_data();
    void cutsStream();
    void keepsUnfinishedTail();
    void anyByteIsAccepted();
    void floodWithoutTerminatorStaysBounded_data();
    void floodWithoutTerminatorStaysBounded();
    void clearDropsPending();
    void stoppingDropsTheRest_data();
    void stoppingDropsTheRest();
};

void TestFrameAssembler::cutsStream_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("frames");

    using Chunks = QList<QByteArray>;
    const QString reply = QStringLiteral("*#3*10*0*230*2*460*1234##");
    QTest::newRow("whole frame") << Chunks{"*#*1##"} << QStringList{"*#*1##"};
    QTest::newRow("reply split across chunks")
        << Chunks{"*#3*10*0*2", "30*2*460*12", "34#", "#"} << QStringList{reply};
    QTest::newRow("several frames in one chunk")
        << Chunks{"*#*1##*3*0*#4##*3*1*#5##"} << QStringList{"*#*1##", "*3*0*#4##", "*3*1*#5##"};
    QTest::newRow("reply behind ack")
        << Chunks{"*#*1##*#3*10*0*230*2*460*1234##"} << QStringList{"*#*1##", reply};
    QTest::newRow("ack behind reply")
        << Chunks{reply.toLatin1() + "*#*1##"} << QStringList{reply, "*#*1##"};
    QTest::newRow("garbage between frames") << Chunks{"*#*1##xx\x01*#*0##", "\xff\xfe*3*0*#2##"}
                                            << QStringList{"*#*1##", "*#*0##", "*3*0*#2##"};
    QTest::newRow("garbage inside a cut frame")
        << Chunks{"*#3*10*0*23", QByteArray("\0\x01", 2), "*#*1##"} << QStringList{"*#*1##"};
    QTest::newRow("junk before first frame")
        << Chunks{"hello ", "world*#*1##"} << QStringList{"*#*1##"};
    QTest::newRow("terminator split")
        << Chunks{"*#*1#", "#*#*0#", "#"} << QStringList{"*#*1##", "*#*0##"};
    QTest::newRow("lone hashes between frames")
        << Chunks{"*#*1#####*#*0##"} << QStringList{"*#*1##", "*#*0##"};
}

void TestFrameAssembler::cutsStream()
{
    QFETCH(QList<QByteArray>, chunks);
    FrameAssembler assembler;
    QStringList frames;
    for (const QByteArray& chunk : chunks)
        frames += feed(assembler, chunk);
    QTEST(frames, "frames");
    QVERIFY(assembler.pending().isEmpty());
}

void TestFrameAssembler::keepsUnfinishedTail()
{
    FrameAssembler assembler;
    QCOMPARE(feed(assembler, "*#*1##*#3*10*0*23"), QStringList{"*#*1##"});
    QCOMPARE(assembler.pending(), QStringLiteral("*#3*10*0*23"));
}

void TestFrameAssembler::anyByteIsAccepted()
{
    FrameAssembler assembler;
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));
    for (int round = 0; round < 100; ++round)
        feed(assembler, everyByte);
    QCOMPARE(feed(assembler, "*#*1##"), QStringList{"*#*1##"});
}

void TestFrameAssembler::floodWithoutTerminatorStaysBounded_data()
{
    QTest::addColumn<QByteArray>("flood");
    QTest::newRow("one endless frame") << QByteArray("*") + QByteArray(4000, '1');
    QTest::newRow("endless stars") << QByteArray(4000, '*');
    QTest::newRow("endless junk") << QByteArray(4000, 'x');
}

void TestFrameAssembler::floodWithoutTerminatorStaysBounded()
{
    QFETCH(QByteArray, flood);
    FrameAssembler assembler;
    for (int round = 0; round < 100; ++round) {
        QVERIFY(feed(assembler, flood).isEmpty());
        QVERIFY(assembler.pending().size() <= FrameAssembler::kLimit);
    }
    // A real frame still gets through once the peer comes to its senses (the flood's tail is
    // dropped by the junk in front of the frame).
    QCOMPARE(feed(assembler, " *#*1##"), QStringList{"*#*1##"});
}

void TestFrameAssembler::clearDropsPending()
{
    FrameAssembler assembler;
    feed(assembler, "*#3*10");
    assembler.clear();
    QVERIFY(assembler.pending().isEmpty());
    QCOMPARE(feed(assembler, "*0*1*2*3*4##"), QStringList{"*0*1*2*3*4##"});
}

void TestFrameAssembler::stoppingDropsTheRest_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("frame inside the feed") << QByteArray() << QByteArray("*#*1##*#*0##*3*1*#");
    QTest::newRow("frame begun in an earlier feed")
        << QByteArray("*#*") << QByteArray("1##*#*0##*3*1*#");
}

void TestFrameAssembler::stoppingDropsTheRest()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, bytes);
    FrameAssembler assembler;
    QVERIFY(feed(assembler, before).isEmpty());

    // The sink stops at the first frame: it is handed out before the rest is even looked at.
    QStringList frames;
    const bool whole = assembler.feed(bytes, [&](QLatin1StringView frame) {
        frames << QString(frame);
        return false;
    });
    QVERIFY(!whole);
    QCOMPARE(frames, QStringList{"*#*1##"});
    // Nothing of the stopped feed lingers: the next frame starts clean.
    QVERIFY(assembler.pending().isEmpty());
    QCOMPARE(feed(assembler, "5##*#*1##"), QStringList{"*#*1##"});
}

QTEST_APPLESS_MAIN(TestFrameAssembler)
#include "test_frameassembler.moc"
