#include "gateway/openpassword.h"

#include <QRandomGenerator>
#include <QTest>

#include <array>
#include <bit>

using powerlog::openPasswordReply;
using powerlog::openPasswordValue;

class TestOpenPassword : public QObject
{
    Q_OBJECT
private slots:
    void knownValues_data();
    void knownValues();
    void rotationsAccumulate();
    void byteOrders_data();
    void byteOrders();
    void replyCleansBuffer_data();
    void replyCleansBuffer();
    void onlyNoncesAreAnswered_data();
    void onlyNoncesAreAnswered();
    void numericPasswords_data();
    void numericPasswords();
};

void TestOpenPassword::knownValues_data()
{
    QTest::addColumn<QString>("nonce");
    QTest::addColumn<quint32>("password");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("empty nonce") << "" << 12345u << 12345u;
    QTest::newRow("zeros") << "0000000000" << 12345u << 12345u;
    QTest::newRow("one nine complements") << "9" << 12345u << ~12345u;
    QTest::newRow("two nines cancel") << "99" << 12345u << 12345u;
    QTest::newRow("nines among zeros") << "09090" << 987654321u << 987654321u;
    // 12345 = 0x00003039 rotated right by 7: 0x72000060.
    QTest::newRow("digit 1") << "1" << 12345u << 0x72000060u;
    // "14": right by 7, then left by 1 = left by 26.
    QTest::newRow("14 on one") << "14" << 1u << (1u << 26);
    QTest::newRow("sum wraps past 32") << "23" << 0x80000001u << std::rotl(0x80000001u, 57 % 32);
    QTest::newRow("all ones complemented") << "9" << 0u << 4294967295u;
    // Worked through digit by digit from the rotation and byte tables.
    QTest::newRow("mixed nonce") << "603356072" << 12345u << 25280520u;
    QTest::newRow("mixed nonce with nine") << "630292165" << 12345u << 4269684735u;
    QTest::newRow("frame markers ignored") << "*#603356072##" << 12345u << 25280520u;
}

void TestOpenPassword::knownValues()
{
    QFETCH(QString, nonce);
    QFETCH(quint32, password);
    QTEST(openPasswordValue(nonce, password), "expected");
}

void TestOpenPassword::rotationsAccumulate()
{
    // Digits 1..6 in any order are one rotation by the sum of their table entries.
    constexpr std::array<int, 7> rotation = {0, 25, 28, 29, 1, 5, 12};
    QRandomGenerator random(20240611);
    for (int round = 0; round < 500; ++round) {
        const quint32 password = random.generate();
        QString nonce;
        int shift = 0;
        const int length = random.bounded(1, 20);
        for (int i = 0; i < length; ++i) {
            const int digit = random.bounded(1, 7);
            nonce.append(QChar(u'0' + digit));
            shift += rotation[digit];
        }
        QCOMPARE(openPasswordValue(nonce, password), std::rotl(password, shift % 32));
    }
}

void TestOpenPassword::byteOrders_data()
{
    QTest::addColumn<QString>("nonce");
    QTest::addColumn<quint32>("expected");

    // Password 0x11223344: b3 = 11, b2 = 22, b1 = 33, b0 = 44.
    QTest::newRow("7: b0 b3 b1 b2") << "7" << 0x44113322u;
    QTest::newRow("8: b1 b0 b2 b3") << "8" << 0x33442211u;
    QTest::newRow("78") << "78" << 0x33221144u;
    QTest::newRow("87") << "87" << 0x11332244u;
    // 0x11223344 rotated left by 28 is 0x41122334; the bytes then move as whole bytes.
    QTest::newRow("27: rotation then 7") << "27" << 0x34412312u;
}

void TestOpenPassword::byteOrders()
{
    QFETCH(QString, nonce);
    QTEST(openPasswordValue(nonce, 0x11223344u), "expected");
}

void TestOpenPassword::replyCleansBuffer_data()
{
    QTest::addColumn<QString>("buffer");
    QTest::addColumn<quint32>("password");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("cleaned");

    QTest::newRow("nonce frame") << "*#603356072##" << 12345u << "*#25280520##"
                                 << "603356072";
    QTest::newRow("nines become zeros") << "*#630292165##" << 12345u << "*#4269684735##"
                                        << "630202165";
    QTest::newRow("all bits set") << "*#9##" << 0u << "*#4294967295##"
                                  << "0";
    QTest::newRow("spaces trimmed with a nine") << " *#19## " << 1u << "*#4261412863##"
                                                << "10";
}

void TestOpenPassword::replyCleansBuffer()
{
    QFETCH(QString, buffer);
    QFETCH(quint32, password);
    QTEST(openPasswordReply(buffer, password), "frame");
    QTEST(buffer, "cleaned");
}

void TestOpenPassword::onlyNoncesAreAnswered_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("reply"); // null: none

    QTest::newRow("nonce") << "*#603356072##"
                           << "*#25280520##";
    QTest::newRow("ack") << "*#*1##" << QString();
    QTest::newRow("HMAC request") << "*98*2##" << QString();
    QTest::newRow("letter in the nonce") << "*#6033a6072##" << QString();
    QTest::newRow("cut nonce") << "*#603356072#" << QString();
}

void TestOpenPassword::onlyNoncesAreAnswered()
{
    QFETCH(QString, frame);
    QFETCH(QString, reply);
    const std::optional<QString> answer =
        powerlog::nonceReply(QLatin1StringView(frame.toLatin1()), 12345u);
    QCOMPARE(answer.has_value(), !reply.isNull());
    if (answer)
        QCOMPARE(*answer, reply);
}

void TestOpenPassword::numericPasswords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value"); // -1: not usable

    QTest::newRow("digits") << "12345" << qint64(12345);
    QTest::newRow("blanks around") << " 12345 " << qint64(12345);
    QTest::newRow("largest") << "4294967295" << qint64(4294967295);
    QTest::newRow("2^32") << "4294967296" << qint64(-1);
    QTest::newRow("letters") << "12a45" << qint64(-1);
    QTest::newRow("sign") << "+12345" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
}

void TestOpenPassword::numericPasswords()
{
    QFETCH(QString, text);
    QFETCH(qint64, value);
    const std::optional<quint32> password = powerlog::numericPassword(text);
    QCOMPARE(password.has_value(), value >= 0);
    if (password)
        QCOMPARE(qint64(*password), value);
}

QTEST_APPLESS_MAIN(TestOpenPassword)

#include "test_openpassword.moc"
