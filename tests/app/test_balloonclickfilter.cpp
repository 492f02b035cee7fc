#include "app/balloonclickfilter.h"

#include <QSignalSpy>
#include <QTest>

using namespace powerlog;

// Only a click on the balloon itself opens what the balloon announces; a click on the icon
// while the balloon shows is the icon's.
class TestBalloonClickFilter : public QObject
{
    Q_OBJECT

private slots:
    void balloonClicksAreToldFromIconClicks_data()
    {
        // What the tray reports, one event of the window system after another, separated by
        // "|": "m" messageClicked, "a" activated.
        QTest::addColumn<QString>("reported");
        QTest::addColumn<int>("balloonClicks");
        QTest::newRow("click on the balloon") << "m" << 1;
        QTest::newRow("press on the icon while the balloon shows") << "ma" << 0;
        QTest::newRow("activation reported first") << "am" << 0;
        QTest::newRow("click on the icon, no balloon") << "a" << 0;
        QTest::newRow("icon, then balloon") << "a|m" << 1;
        QTest::newRow("balloon, then icon") << "m|a" << 1;
        QTest::newRow("icon over the balloon, then the next balloon") << "ma|m" << 1;
        QTest::newRow("two balloons clicked") << "m|m" << 2;
        QTest::newRow("double click on the icon over the balloon") << "ma|a" << 0;
    }

    void balloonClicksAreToldFromIconClicks()
    {
        QFETCH(QString, reported);
        QFETCH(int, balloonClicks);
        BalloonClickFilter filter;
        QSignalSpy clicked(&filter, &BalloonClickFilter::balloonClicked);
        for (const QString& event : reported.split(QLatin1Char('|'))) {
            const qsizetype before = clicked.count();
            for (const QChar signal : event) {
                if (signal == QLatin1Char('m'))
                    filter.noteMessageClicked();
                else
                    filter.noteIconActivated();
            }
            QCOMPARE(clicked.count(), before);    // nothing is decided while the event is handled
            QCoreApplication::sendPostedEvents(); // the event loop's next turn
        }
        QCOMPARE(clicked.count(), balloonClicks);
    }
};

QTEST_GUILESS_MAIN(TestBalloonClickFilter)
#include "test_balloonclickfilter.moc"
