#include "app/language.h"

#include <QTest>

using namespace powerlog;

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void italianAndEnglish()
    {
        Texts texts;
        QVERIFY(texts.apply(QStringLiteral("ita")));
        QCOMPARE(texts(Text::NoConnection), QStringLiteral("Connesisone non disponibile"));
        QCOMPARE(texts(Text::AutomaticMode), QStringLiteral("Automatico"));
        QCOMPARE(texts.trayDetail(),
                 QStringLiteral("Nessuna lettura effettuata.\r\n\r\n"
                                "Clicca con il destro per aprire il men\u00f9"));
        QCOMPARE(texts.passwordMissing(),
                 QStringLiteral("Attenzione\r\nE' richiesta la password per la connessione"));

        QVERIFY(texts.apply(QStringLiteral("eng")));
        QCOMPARE(texts(Text::NoAck), QStringLiteral("Not recived ACK after 3 Attemps."));
        QCOMPARE(texts(Text::Connected), QStringLiteral("Connected "));
        QCOMPARE(texts(Text::LastRead), QStringLiteral("Last read"));
        QCOMPARE(texts(Text::MenuExit), QStringLiteral("Exit"));
        QCOMPARE(texts.passwordMissing(),
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
        Texts texts;
        QVERIFY(!texts.apply(code));
        QVERIFY(texts(Text::ManualMode).isEmpty());

        texts.apply(QStringLiteral("eng"));
        QVERIFY(!texts.apply(code));
        QCOMPARE(texts(Text::ManualMode), QStringLiteral("Manual"));
    }

    // Windows with a language of their own (about, database questions) fall back to English.
    void textForFallsBackToEnglish()
    {
        QCOMPARE(textFor(Text::ClearDatabaseQuestion, QStringLiteral("ita")),
                 QStringLiteral("Eliminare tutti i dati presenti nel DB ?"));
        QCOMPARE(textFor(Text::ClearDatabaseQuestion, QStringLiteral("ENG")),
                 QStringLiteral("Clear all data in the database ?"));
        QCOMPARE(textFor(Text::DatabaseConnectionError, QStringLiteral("eng")),
                 QStringLiteral("Errore connessione DB"));
    }

    // The Italian article follows the spoken number: a vowel (uno, otto, undici, ottanta...)
    // takes l', zero lo, every other number il.
    void percentInSentence_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("italian");
        QTest::addColumn<QString>("english");
        QTest::newRow("0") << 0 << "lo 0 %"
                           << "0 %";
        QTest::newRow("1") << 1 << "l'1 %"
                           << "1 %";
        QTest::newRow("7") << 7 << "il 7 %"
                           << "7 %";
        QTest::newRow("8") << 8 << "l'8 %"
                           << "8 %";
        QTest::newRow("11") << 11 << "l'11 %"
                            << "11 %";
        QTest::newRow("18") << 18 << "il 18 %"
                            << "18 %";
        QTest::newRow("80") << 80 << "l'80 %"
                            << "80 %";
        QTest::newRow("89") << 89 << "l'89 %"
                            << "89 %";
        QTest::newRow("90") << 90 << "il 90 %"
                            << "90 %";
        QTest::newRow("100") << 100 << "il 100 %"
                             << "100 %";
    }

    void percentInSentence()
    {
        QFETCH(int, percent);
        QFETCH(QString, italian);
        QFETCH(QString, english);
        QCOMPARE(powerlog::percentInSentence(percent, kItalian), italian);
        QCOMPARE(powerlog::percentInSentence(percent, kEnglish), english);
    }

    // Every text exists in every language; a missing row would show a blank to somebody.
    void everyTextInEveryLanguage()
    {
        for (int id = 0; id < int(Text::Count); ++id) {
            for (int column = 0; column < kLanguageCount; ++column)
                QVERIFY2(!textIn(Text(id), column).isEmpty(), qPrintable(QString::number(id)));
        }
    }
};

QTEST_GUILESS_MAIN(TestLanguage)
#include "test_language.moc"
