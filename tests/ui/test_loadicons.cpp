#include "acquisition/loadstate.h"
#include "ui/main/loadicons.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace powerlog;

Q_DECLARE_METATYPE(powerlog::LoadPicture)

namespace {

// The loads' states and the window's view of them, driven together as the main window does.
struct Loads
{
    LoadStates states;
    LoadIcons icons{states};

    void setLoadNames(const QStringList& names) { states.setLoadNames(names); }
    void applyLoadEvent(int index, QChar state) { states.applyLoadEvent(index, state); }
    QString offName(int index) const { return states.offName(index); }
    bool isPinned(int index) const { return states.isPinned(index); }

    void loadEventsHandled() { icons.loadEventsHandled(); }
    void hoverLoad(int index) { icons.hoverLoad(index); }
    void endHover() { icons.endHover(); }
    void showOffLoads() { icons.showOffLoads(); }
    void scrollBanner() { icons.scrollBanner(); }
    LoadPicture picture(int index) const { return icons.picture(index); }
    LoadPicture savedPicture() const { return icons.savedPicture(); }
    QString banner() const { return icons.banner(); }
    int hoverIndex() const { return icons.hoverIndex(); }
    bool hoverShown() const { return icons.hoverShown(); }
    const QTimer* scrollTimer() const { return icons.scrollTimer(); }
};

const QStringList kNames = {"Oven",   "Washer", "Dryer",   "Dishwasher",
                            "Heater", "Boiler", "Charger", "Pump"};

struct Event
{
    int index;
    char state;
};

void apply(Loads& model, std::initializer_list<Event> events)
{
    for (const auto& e : events)
        model.applyLoadEvent(e.index, QChar::fromLatin1(e.state));
    model.loadEventsHandled();
}

} // namespace

class TestLoadIcons : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        model = std::make_unique<Loads>();
        model->setLoadNames(kNames);
    }

    void startsWithDesignPictures()
    {
        for (int i = 0; i < LoadStates::kLoadCount; ++i) {
            QCOMPARE(model->picture(i), LoadPicture::Design);
            QCOMPARE(model->offName(i), QString());
            QVERIFY(!model->isPinned(i));
        }
        QCOMPARE(model->banner(), QString());
        QCOMPARE(model->hoverIndex(), 0);
        QVERIFY(!model->hoverShown());
        QCOMPARE(model->scrollTimer()->objectName(), QStringLiteral("Tscor"));
        QVERIFY(!model->scrollTimer()->isActive());
    }

    void offThenOn()
    {
        QSignalSpy icons(&model->icons, &LoadIcons::iconChanged);
        apply(*model, {{3, '0'}});
        QCOMPARE(model->picture(3), LoadPicture::Off);
        QCOMPARE(model->offName(3), QStringLiteral("Dishwasher"));
        QCOMPARE(model->banner(), QStringLiteral("OFF: Dishwasher "));
        QCOMPARE(icons.size(), 1);
        QCOMPARE(icons.at(0).at(0).toInt(), 3);

        apply(*model, {{3, '1'}});
        QCOMPARE(model->picture(3), LoadPicture::On);
        QCOMPARE(model->offName(3), QString());
        // Every load is back on: the banner no longer names one as off.
        QCOMPARE(model->banner(), QString());
    }

    void stateSequence_data()
    {
        QTest::addColumn<QByteArray>("states");
        QTest::addColumn<QList<LoadPicture>>("pictures");
        QTest::addColumn<QList<bool>>("pinned");

        using P = LoadPicture;
        QTest::newRow("forced holds against on")
            << QByteArray("21") << QList<P>{P::Forced, P::Forced} << QList<bool>{true, true};
        QTest::newRow("other releases forced")
            << QByteArray("2131") << QList<P>{P::Forced, P::Forced, P::Other, P::On}
            << QList<bool>{true, true, false, false};
        QTest::newRow("off releases forced")
            << QByteArray("201") << QList<P>{P::Forced, P::Off, P::On}
            << QList<bool>{true, false, false};
        QTest::newRow("unknown states change nothing")
            << QByteArray("09a") << QList<P>{P::Off, P::Off, P::Off}
            << QList<bool>{false, false, false};
        QTest::newRow("unknown state keeps the pin")
            << QByteArray("241") << QList<P>{P::Forced, P::Forced, P::Forced}
            << QList<bool>{true, true, true};
    }
    void stateSequence()
    {
        QFETCH(QByteArray, states);
        QFETCH(QList<LoadPicture>, pictures);
        QFETCH(QList<bool>, pinned);
        for (qsizetype k = 0; k < states.size(); ++k) {
            model->applyLoadEvent(1, QChar::fromLatin1(states[k]));
            QCOMPARE(model->picture(1), pictures[k]);
            QCOMPARE(model->isPinned(1), pinned[k]);
        }
        for (int other : {0, 2})
            QCOMPARE(model->picture(other), LoadPicture::Design);
    }

    void switchedOffList_data()
    {
        QTest::addColumn<char>("before");
        QTest::addColumn<char>("event");
        QTest::addColumn<bool>("listed");

        QTest::newRow("off lists") << '1' << '0' << true;
        QTest::newRow("on removes") << '0' << '1' << false;
        QTest::newRow("forced removes") << '0' << '2' << false;
        QTest::newRow("other keeps it listed") << '0' << '3' << true;
        QTest::newRow("other does not list") << '1' << '3' << false;
    }
    void switchedOffList()
    {
        QFETCH(char, before);
        QFETCH(char, event);
        QFETCH(bool, listed);
        model->applyLoadEvent(5, QChar::fromLatin1(before));
        model->applyLoadEvent(5, QChar::fromLatin1(event));
        QCOMPARE(model->offName(5), listed ? QStringLiteral("Boiler") : QString());
    }

    void eventsApplyInOrder()
    {
        apply(*model, {{4, '0'}, {1, '0'}, {4, '1'}});
        QCOMPARE(model->picture(4), LoadPicture::On);
        QCOMPARE(model->picture(1), LoadPicture::Off);
        QCOMPARE(model->banner(), QStringLiteral("OFF: Washer "));

        apply(*model, {{6, '0'}, {0, '0'}, {4, '0'}});
        QCOMPARE(model->banner(), QStringLiteral("OFF: Oven Washer Heater Charger "));
    }

    // The monitor session went down: what was known shows Unknown; what never was stays as
    // designed. The next events bring the states back, a forced load's pin included.
    void downMonitorMakesKnownStatesUnknown()
    {
        apply(*model, {{0, '1'}, {2, '0'}, {4, '2'}});
        QSignalSpy icons(&model->icons, &LoadIcons::iconChanged);

        model->states.markUnknown();

        using P = LoadPicture;
        QList<P> pictures;
        for (int i = 0; i < LoadStates::kLoadCount; ++i)
            pictures << model->picture(i);
        QCOMPARE(pictures, (QList<P>{P::Unknown, P::Design, P::Unknown, P::Design, P::Unknown,
                                     P::Design, P::Design, P::Design}));
        QCOMPARE(icons.size(), 3);
        QVERIFY(!model->isPinned(4));
        QCOMPARE(model->banner(), QStringLiteral("OFF: Dryer ")); // the last known list

        model->states.markUnknown(); // already unknown: nothing changes
        QCOMPARE(icons.size(), 3);

        apply(*model, {{0, '1'}, {2, '1'}, {4, '1'}});
        QCOMPARE(model->picture(0), P::On);
        QCOMPARE(model->picture(2), P::On);
        QCOMPARE(model->picture(4), P::On); // no longer held by the old pin
        QCOMPARE(model->offName(2), QString());
    }

    void eventsOutsideTheLoadsAreIgnored()
    {
        QSignalSpy icons(&model->icons, &LoadIcons::iconChanged);
        apply(*model, {{-1, '0'}, {8, '0'}});
        QCOMPARE(icons.size(), 0);
        QCOMPARE(model->banner(), QString());
    }

    void longListScrolls_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("scrolls");

        // "OFF: " + name + " " is 20 characters with a 14-character name.
        QTest::newRow("20 characters") << QStringList{"Fourteen chars"} << false;
        QTest::newRow("21 characters") << QStringList{"Fifteen chars!!"} << true;
        QTest::newRow("two names, 21 characters") << QStringList{"Sixsix", "Eighteig"} << true;
    }
    void longListScrolls()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, scrolls);
        model->setLoadNames(names);
        for (int i = 0; i < names.size(); ++i)
            model->applyLoadEvent(i, u'0');
        model->loadEventsHandled();
        QCOMPARE(model->scrollTimer()->isActive(), scrolls);
        if (scrolls)
            QCOMPARE(model->scrollTimer()->interval(), LoadIcons::kOffListScrollMs);
    }

    void shortListStopsScrolling()
    {
        model->setLoadNames({"A very long load name", "Pump"});
        apply(*model, {{0, '0'}});
        QVERIFY(model->scrollTimer()->isActive());
        apply(*model, {{0, '1'}, {1, '0'}});
        QCOMPARE(model->banner(), QStringLiteral("OFF: Pump "));
        QVERIFY(!model->scrollTimer()->isActive());
    }

    void hoverMovesBetweenIcons()
    {
        apply(*model, {{3, '0'}, {4, '2'}});
        model->hoverLoad(3);
        QCOMPARE(model->picture(3), LoadPicture::Highlight);
        QCOMPARE(model->banner(), QStringLiteral("Dishwasher "));
        QCOMPARE(model->hoverIndex(), 4);

        model->hoverLoad(4);
        QCOMPARE(model->picture(3), LoadPicture::Off);
        QCOMPARE(model->picture(4), LoadPicture::Highlight);
        QCOMPARE(model->savedPicture(), LoadPicture::Forced);
        QCOMPARE(model->banner(), QStringLiteral("Heater "));
        QCOMPARE(model->hoverIndex(), 5);
        QVERIFY(model->hoverShown());
    }

    void hoverOnTheSameIconChangesNothing()
    {
        model->hoverLoad(2);
        QSignalSpy icons(&model->icons, &LoadIcons::iconChanged);
        QSignalSpy banner(&model->icons, &LoadIcons::bannerChanged);
        model->hoverLoad(2);
        QCOMPARE(icons.size(), 0);
        QCOMPARE(banner.size(), 0);
        QCOMPARE(model->savedPicture(), LoadPicture::Design);
    }

    void longHoveredNameScrolls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("scrolls");

        QTest::newRow("20 characters and the blank") << QString(20, 'x') << true;
        QTest::newRow("19 characters and the blank") << QString(19, 'x') << false;
    }
    void longHoveredNameScrolls()
    {
        QFETCH(QString, name);
        QFETCH(bool, scrolls);
        // A scrolling list beforehand: the hover stops it.
        model->setLoadNames({"A very long load name", name});
        apply(*model, {{0, '0'}});
        model->hoverLoad(1);
        QCOMPARE(model->banner(), name + ' ');
        QCOMPARE(model->scrollTimer()->isActive(), scrolls);
        if (scrolls)
            QCOMPARE(model->scrollTimer()->interval(), LoadIcons::kHoverScrollMs);
    }

    void endHoverWithNothingOffLeavesTheBannerEmpty()
    {
        model->setLoadNames({QString(25, 'x')});
        model->hoverLoad(0);
        QVERIFY(model->scrollTimer()->isActive());
        model->endHover();
        QCOMPARE(model->banner(), QString());
        QCOMPARE(model->picture(0), LoadPicture::Design);
        QCOMPARE(model->hoverIndex(), 0);
        QVERIFY(!model->hoverShown());
        QVERIFY(!model->scrollTimer()->isActive());
    }

    void endHoverShowsTheSwitchedOffLoads()
    {
        apply(*model, {{1, '0'}, {6, '1'}});
        model->hoverLoad(6);
        model->endHover();
        QCOMPARE(model->picture(6), LoadPicture::On);
        QCOMPARE(model->banner(), QStringLiteral("OFF: Washer "));
    }

    void eventForTheHoveredLoad()
    {
        model->hoverLoad(2);
        QSignalSpy icons(&model->icons, &LoadIcons::iconChanged);
        apply(*model, {{2, '0'}});
        QCOMPARE(icons.size(), 1);
        QCOMPARE(model->picture(2), LoadPicture::Off);
        QCOMPARE(model->savedPicture(), LoadPicture::Off);
        QCOMPARE(model->hoverIndex(), 0);
        QCOMPARE(model->banner(), QStringLiteral("Dryer "));

        model->endHover();
        QCOMPARE(model->picture(2), LoadPicture::Off);
        QCOMPARE(model->banner(), QStringLiteral("OFF: Dryer "));

        model->hoverLoad(2);
        QCOMPARE(model->picture(2), LoadPicture::Highlight);
    }

    void onEventForAHoveredForcedLoadKeepsTheHover()
    {
        // The icon of a forced load ignores "on"; the hover must still end on the forced
        // picture instead of leaving the highlight behind.
        apply(*model, {{3, '2'}});
        model->hoverLoad(3);
        apply(*model, {{3, '1'}});
        QCOMPARE(model->picture(3), LoadPicture::Highlight);
        QCOMPARE(model->hoverIndex(), 4);
        model->endHover();
        QCOMPARE(model->picture(3), LoadPicture::Forced);
    }

    void eventForAnotherLoadDuringHover()
    {
        model->hoverLoad(2);
        apply(*model, {{5, '0'}});
        QCOMPARE(model->picture(5), LoadPicture::Off);
        QCOMPARE(model->picture(2), LoadPicture::Highlight);
        QCOMPARE(model->banner(), QStringLiteral("Dryer "));
        model->endHover();
        QCOMPARE(model->picture(2), LoadPicture::Design);
        QCOMPARE(model->banner(), QStringLiteral("OFF: Boiler "));
    }

    void endHoverWithoutHoverDoesNothing()
    {
        apply(*model, {{0, '0'}});
        model->scrollBanner();
        QSignalSpy banner(&model->icons, &LoadIcons::bannerChanged);
        model->endHover();
        QCOMPARE(banner.size(), 0);
        QCOMPARE(model->banner(), QStringLiteral("FF: Oven O"));
    }

    void scrollingRotatesLeft()
    {
        apply(*model, {{0, '0'}});
        QSignalSpy banner(&model->icons, &LoadIcons::bannerChanged);
        model->scrollBanner();
        QCOMPARE(model->banner(), QStringLiteral("FF: Oven O"));
        QCOMPARE(banner.size(), 1);
        QCOMPARE(banner.at(0).at(0).toString(), QStringLiteral("FF: Oven O"));
        for (int i = 1; i < 10; ++i)
            model->scrollBanner();
        QCOMPARE(model->banner(), QStringLiteral("OFF: Oven "));
    }

    void scrollingAnEmptyBannerIsHarmless()
    {
        QSignalSpy banner(&model->icons, &LoadIcons::bannerChanged);
        model->scrollBanner();
        QCOMPARE(model->banner(), QString());
        QCOMPARE(banner.size(), 0);
    }

private:
    std::unique_ptr<Loads> model;

    // A hidden window's banner stands still and scrolls on where it was once shown again.
    void hiddenBannerDoesNotScroll()
    {
        model->setLoadNames({"A very long load name", "Pump"});
        apply(*model, {{0, '0'}});
        QVERIFY(model->scrollTimer()->isActive());
        model->icons.setShown(false);
        QVERIFY(!model->scrollTimer()->isActive());
        apply(*model, {{1, '0'}}); // a new list while hidden does not start it either
        QVERIFY(!model->scrollTimer()->isActive());
        model->icons.setShown(true);
        QVERIFY(model->scrollTimer()->isActive());
        QCOMPARE(model->scrollTimer()->interval(), LoadIcons::kOffListScrollMs);
    }
};

QTEST_GUILESS_MAIN(TestLoadIcons)
#include "test_loadicons.moc"
