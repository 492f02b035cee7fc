#include "gateway/openhmac.h"

#include <QRegularExpression>
#include <QTest>

using namespace powerlog;
using hmac::Algorithm;

Q_DECLARE_METATYPE(powerlog::hmac::Algorithm)

class TestOpenHmac : public QObject
{
    Q_OBJECT
private slots:
    void hexToDigits_data();
    void hexToDigits();
    void digitsThatAreNotHex_data();
    void digitsThatAreNotHex();
    void knownAnswers_data();
    void knownAnswers();
    void handshakeAnswersRaAndChecksTheProof_data();
    void handshakeAnswersRaAndChecksTheProof();
    void gatewayChoosesTheHash_data();
    void gatewayChoosesTheHash();
    void randomHexIsFreshHex();
    void comparison_data();
    void comparison();
};

void TestOpenHmac::hexToDigits_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("digits");

    QTest::newRow("zero") << "0"
                          << "00";
    QTest::newRow("nine") << "9"
                          << "09";
    QTest::newRow("a") << "a"
                       << "10";
    QTest::newRow("f") << "f"
                       << "15";
    QTest::newRow("every hex digit") << "0123456789abcdef"
                                     << "00010203040506070809101112131415";
    QTest::newRow("empty") << ""
                           << "";
}

void TestOpenHmac::hexToDigits()
{
    QFETCH(QString, hex);
    QFETCH(QString, digits);

    QCOMPARE(hmac::toDigits(hex), digits);
    QCOMPARE(hmac::toDigits(hex.toUpper()), digits);
    QCOMPARE(hmac::fromDigits(digits), std::optional<QString>(hex));
}

void TestOpenHmac::digitsThatAreNotHex_data()
{
    QTest::addColumn<QString>("digits");

    QTest::newRow("odd length") << "101";
    QTest::newRow("pair 16") << "0016";
    QTest::newRow("pair 99") << "9900";
    QTest::newRow("not a digit") << "1a";
    QTest::newRow("frame markers") << "*#1015##";
}

void TestOpenHmac::digitsThatAreNotHex()
{
    QFETCH(QString, digits);
    QCOMPARE(hmac::fromDigits(digits), std::nullopt);
}

void TestOpenHmac::knownAnswers_data()
{
    QTest::addColumn<Algorithm>("algorithm");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("ra");
    QTest::addColumn<QString>("rb");
    QTest::addColumn<QString>("kab");
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QString>("clientDigits");

    // Computed apart from this code, with Python's hashlib:
    //   kab = H(password.encode()).hexdigest()
    //   client = H((ra + rb + "736F70653E" + "636F70653E" + kab).encode()).hexdigest()
    //   gateway = H((ra + rb + kab).encode()).hexdigest()
    //   clientDigits = "".join("%02d" % int(c, 16) for c in client)
    // with H = hashlib.sha256 or hashlib.sha1; Ra and Rb are sha256 hex digests of "ra-<hash>"
    // and "rb-<hash>", cut to the hash's length.
    const QString ra256 =
        QStringLiteral("57198cf130548ca71353c4bd8b8bbd43cb2d4e6be00609ff30e7154edfce6cb4");
    const QString rb256 =
        QStringLiteral("cfc64c1affd87db043dd438baf355b813c5c37625f78838f9511995c71b02c36");
    const QString ra1 = QStringLiteral("762b4dd8dc80a3872e0126426f1f21cb445ac985");
    const QString rb1 = QStringLiteral("5f79985e8d88c238002fb4644ef0e29dea8f84e2");

    QTest::newRow("SHA-256, digits")
        << Algorithm::Sha256 << "12345" << ra256 << rb256
        << "5994471abb01112afcc18159f6cc74b4f511b99806da59b3caf5a9c173cacfc5"
        << "8cf26224b1079cafbc70e6aac7cc616516b89c88fc6f217bd91bf8ce0ade2741"
        << "2f8bb778babdfa1fc56ac55294a69d8fbc037e3ce2d0af45ab06528a91f26cee"
        << "081215020602020411010007091210151112070014061010120712120601060501061108091208081512"
           "06150201071113090111150812140010131402070401";
    QTest::newRow("SHA-256, letters and digits")
        << Algorithm::Sha256 << "Powerlog2024" << ra256 << rb256
        << "b5426024d582d1c55f7d2405b1edfdc91c54a20dab8f34c05c5ad8b2482ea739"
        << "969b6d12c16f85724c3cee368e7a29e1956e46774bf3d0f66c7130ac2f9e96aa"
        << "119f1c056f80e8d449a61e29b250a6c2f7102786f843bad102b5496af4139346"
        << "090609110613010212010615080507020412031214140306081407100209140109050614040607070411"
           "15031300150606120701030010120215091409061010";
    QTest::newRow("SHA-1, digits")
        << Algorithm::Sha1 << "12345" << ra1 << rb1 << "8cb2237d0679ca88db6464eac60da96345513964"
        << "e0de8806efa72af78e24e0765986b919503a087d"
        << "00e892162d64c6b1a88a02d532244cc054982c92"
        << "14001314080800061415100702101507081402041400070605090806110901090500031000080713";
    QTest::newRow("SHA-1, letters and digits")
        << Algorithm::Sha1 << "Powerlog2024" << ra1 << rb1
        << "fb6bf07f145055a4e19a451186d80155625ba9ae"
        << "cab24e436e2e973d1b4706d6c100ecdeb59a550a"
        << "af1763625b8996c62281459fc436456519bbc0f2"
        << "12101102041404030614021409070313011104070006130612010000141213141105091005050010";
}

void TestOpenHmac::knownAnswers()
{
    QFETCH(Algorithm, algorithm);
    QFETCH(QString, password);
    QFETCH(QString, ra);
    QFETCH(QString, rb);
    QFETCH(QString, client);
    QFETCH(QString, clientDigits);

    QTEST(hmac::hashHex(algorithm, password.toUtf8()), "kab");
    QCOMPARE(hmac::clientDigest(algorithm, ra, rb, password), client);
    QTEST(hmac::gatewayDigest(algorithm, ra, rb, password), "gateway");
    QCOMPARE(client.size(), hmac::hexLength(algorithm));
    QCOMPARE(hmac::replyFrame(rb, client), QStringLiteral("*#") + hmac::toDigits(rb) +
                                               QLatin1Char('*') + clientDigits +
                                               QStringLiteral("##"));
}

void TestOpenHmac::handshakeAnswersRaAndChecksTheProof_data()
{
    knownAnswers_data();
}

void TestOpenHmac::handshakeAnswersRaAndChecksTheProof()
{
    QFETCH(Algorithm, algorithm);
    QFETCH(QString, password);
    QFETCH(QString, ra);
    QFETCH(QString, rb);
    QFETCH(QString, gateway);
    QFETCH(QString, clientDigits);
    const auto nonce = [](const QString& hex) {
        return (QStringLiteral("*#") + hmac::toDigits(hex) + QStringLiteral("##")).toLatin1();
    };
    QString wrongProof = gateway;
    wrongProof[0] = wrongProof[0] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');

    hmac::Handshake handshake(algorithm, password);
    QVERIFY(!handshake.confirms(QLatin1StringView(nonce(gateway)))); // no Ra answered yet
    // Only a nonce with a Ra of the hash's length is answered.
    QCOMPARE(handshake.answerRa(QLatin1StringView(nonce(ra.chopped(1))), rb), std::nullopt);
    QCOMPARE(handshake.answerRa(QLatin1StringView(hmac::kSha256Request.toLatin1()), rb),
             std::nullopt);
    QCOMPARE(handshake.answerRa(QLatin1StringView(nonce(ra)), rb),
             QStringLiteral("*#") + hmac::toDigits(rb) + QLatin1Char('*') + clientDigits +
                 QStringLiteral("##"));

    QVERIFY(handshake.confirms(QLatin1StringView(nonce(gateway))));
    QVERIFY(!handshake.confirms(QLatin1StringView(nonce(wrongProof))));
    QVERIFY(!handshake.confirms(QLatin1StringView(nonce(gateway.chopped(1)))));
    QVERIFY(!handshake.confirms(QLatin1StringView("*#*1##")));
}

void TestOpenHmac::gatewayChoosesTheHash_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("hmac");
    QTest::addColumn<Algorithm>("algorithm");

    QTest::newRow("SHA-256") << "*98*2##" << true << Algorithm::Sha256;
    QTest::newRow("SHA-1") << "*98*1##" << true << Algorithm::Sha1;
    QTest::newRow("other digit") << "*98*3##" << false << Algorithm::Sha256;
    QTest::newRow("ACK") << "*#*1##" << false << Algorithm::Sha256;
    QTest::newRow("numeric nonce") << "*#603356072##" << false << Algorithm::Sha256;
}

void TestOpenHmac::gatewayChoosesTheHash()
{
    QFETCH(QString, frame);
    QFETCH(bool, hmac);
    QFETCH(Algorithm, algorithm);

    const QByteArray latin1 = frame.toLatin1();
    const std::optional<Algorithm> chosen = hmac::requestedAlgorithm(QLatin1StringView(latin1));
    QCOMPARE(chosen.has_value(), hmac);
    if (hmac)
        QCOMPARE(*chosen, algorithm);
}

void TestOpenHmac::randomHexIsFreshHex()
{
    static const QRegularExpression lowerHex(QStringLiteral("^[0-9a-f]{64}$"));
    const QString first = hmac::randomHex(64);
    const QString second = hmac::randomHex(64);
    QVERIFY2(lowerHex.match(first).hasMatch(), qPrintable(first));
    QVERIFY2(lowerHex.match(second).hasMatch(), qPrintable(second));
    QVERIFY(first != second); // 2^-256 chance of a false alarm
    QCOMPARE(hmac::randomHex(40).size(), 40);
}

void TestOpenHmac::comparison_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("equal");

    QTest::newRow("same") << "0a1b"
                          << "0a1b" << true;
    QTest::newRow("last differs") << "0a1b"
                                  << "0a1c" << false;
    QTest::newRow("first differs") << "1a1b"
                                   << "0a1b" << false;
    QTest::newRow("prefix") << "0a1"
                            << "0a1b" << false;
    QTest::newRow("both empty") << ""
                                << "" << true;
}

void TestOpenHmac::comparison()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QTEST(hmac::equalInConstantTime(a, b), "equal");
    QTEST(hmac::equalInConstantTime(b, a), "equal");
}

QTEST_APPLESS_MAIN(TestOpenHmac)
#include "test_openhmac.moc"
