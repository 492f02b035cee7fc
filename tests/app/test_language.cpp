#include "app/language.h"

#include <QTest>

using namespace powerlog;

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void italianAndEnglish()
    {
        SharedTexts texts;
        QVERIFY(applySharedTexts(QStringLiteral("ita"), texts));
        QCOMPARE(texts.noConnection, QStringLiteral("Connesisone non disponibile"));
        QCOMPARE(texts.automaticMode, QStringLiteral("Automatico"));
        QCOMPARE(texts.trayDetail, QStringLiteral("Nessuna lettura effettuata.\r\n\r\n"
                                                  "Clicca con il destro per aprire il men\u00f9"));
        QCOMPARE(texts.passwordMissing,
                 QStringLiteral("Attenzione\r\nE' richiesta la password per la connessione"));

        QVERIFY(applySharedTexts(QStringLiteral("eng"), texts));
        QCOMPARE(texts.noAck, QStringLiteral("Not recived ACK after 3 Attemps."));
        QCOMPARE(texts.connected, QStringLiteral("Connected "));
        QCOMPARE(texts.lastRead, QStringLiteral("Last read"));
        QCOMPARE(texts.menuExit, QStringLiteral("Exit"));
        QCOMPARE(texts.passwordMissing,
                 QStringLiteral("Warning\r\nPassword needed for the connection"));
    }

    void otherCodesChangeNothing_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("capitals") << "ENG";
        QTest::newRow("unknown") << "deu";
        QTest::newRow("empty") << "";
    }

    void otherCodesChangeNothing()
    {
        QFETCH(QString, code);
        SharedTexts texts;
        QVERIFY(!applySharedTexts(code, texts));
        QVERIFY(texts.manualMode.isEmpty());

        applySharedTexts(QStringLiteral("eng"), texts);
        QVERIFY(!applySharedTexts(code, texts));
        QCOMPARE(texts.manualMode, QStringLiteral("Manual"));
    }
};

QTEST_GUILESS_MAIN(TestLanguage)
#include "test_language.moc"
