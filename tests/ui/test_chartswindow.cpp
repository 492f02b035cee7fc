#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "ui/charts/chartswindow.h"
#include "ui/charts/chartview.h"
#include "ui/charts/energyview.h"
#include "windowharness.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace powerlog;
using powerlog::test::FixedClock;
using powerlog::test::RecordingFileDialogs;
using powerlog::test::RecordingPrompts;
using powerlog::test::SqlFile;

namespace {

// Readings at 10:00 and 10:00:30 of each day, W as given.
const QList<QPair<QString, int>> kFixture{
    {"2025-03-05", 400},
    {"2025-11-20", 600},
    {"2026-01-11", 3000},
    {"2026-11-01", 200},
};

// Readings 10 s apart, `count` of them from `from` (yyyy-MM-dd HH:mm:ss), all of `watts`:
// the file's trigger accounts their energy hour by hour.
bool insertReadings(const SqlFile& sql, const QString& from, int count, int watts)
{
    return sql.exec(
        QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
            "INSERT INTO Energy SELECT 230, 1, %2, i, "
            "strftime('%Y-%m-%d %H:%M:%S', '%3', '+' || (i * 10) || ' seconds') FROM n")
            .arg(count - 1)
            .arg(watts)
            .arg(from));
}

// The energy fixture. Monday 2 November 2026: 10:00 to 11:00 at 1200 W (1.2 kWh in F1),
// 20:00 to 20:30 at 600 W (0.3 kWh in F2), 23:00 to 23:15 at 400 W (0.1 kWh in F3): 1.6 kWh
// over 6300 s. Sunday 1 November, a holiday: 10:00 to 10:30 at 2000 W (1 kWh in F3).
const QDate kEnergyDay(2026, 11, 2);
struct ReadingRun
{
    const char* from;
    int count;
    int watts;
};
constexpr ReadingRun kEnergyRuns[] = {{"2026-11-01 10:00:00", 181, 2000},
                                      {"2026-11-02 10:00:00", 361, 1200},
                                      {"2026-11-02 20:00:00", 181, 600},
                                      {"2026-11-02 23:00:00", 91, 400}};

// The rows of a bar's column, at its middle, in a band's colour.
int bandRows(const QImage& image, const EnergyLayout& layout, int index, TariffBand band)
{
    const qreal ratio = image.devicePixelRatio();
    const int x = int(layout.column(index).center().x() * ratio);
    int rows = 0;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixelColor(x, y) == energyBandColour(band))
            ++rows;
    }
    return rows;
}

QStringList items(const QComboBox* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

} // namespace

class TestChartsWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void openingShowsTheLatestRecordedDay();
    void listsStandSideBySide();
    void emptyTableShowsNoData();
    void chartTypesChangeListsAndSeries();
    void anotherYearRefillsTheMonthsAndForgetsTheMonth();
    void formerMonthChartsAgainAfterTheAnnualChart_data();
    void formerMonthChartsAgainAfterTheAnnualChart();
    void typingIntoListsChangesNothing();
    void failingChartIsReportedFailingListsAreNot();
    void languageRenamesWithoutLosingTheSelection();
    void chartSavesAsPng();
    void mainWindowOpensTheCharts();
    void energyViewReadsTheChosenPeriod_data();
    void energyViewReadsTheChosenPeriod();
    void newerEnergyRequestWins();
    void switchingBackShowsThePowerChartUnchanged();
    void energySummaryFollowsPricesAndLanguage();
    void energyToolTipOfABar();
    void recordedHoursAreDrawnAsTheirKwh();
    void energyPictureSavesAsPng();
    void failingEnergyReadIsReported();

private:
    QString dbFile() const { return QDir(m_dir->path()).filePath(EnergyDatabase::kFileName); }
    ChartsWindow& open(const QString& language = QStringLiteral("ita"));
    // Opens on the energy fixture and shows the energy of its last day.
    ChartsWindow& openEnergy(const QString& language = QStringLiteral("ita"));
    ChartsWindow& show(const QString& language);
    void setPrices(double f1, double f2, double f3);
    template <typename T> T* control(const QString& name) const
    {
        return m_window->findChild<T*>(name);
    }
    QComboBox* list(const QString& name) const { return control<QComboBox>(name); }
    QString label(const QString& name) const { return control<QLabel>(name)->text(); }
    bool settled() const { return !m_window->isBusy(); }
    bool readsAnswered();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DatabaseReader> m_reader;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<Settings> m_settings;
    FixedClock m_clock;
    RecordingPrompts m_prompts;
    RecordingFileDialogs m_files;
    std::unique_ptr<ChartsWindow> m_window;
};

void TestChartsWindow::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
}

void TestChartsWindow::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestChartsWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(dbFile(), &error), qPrintable(error));
    m_reader = std::make_unique<DatabaseReader>(m_dir->path());
    m_store = std::make_unique<SettingsStore>(
        QDir(m_dir->path()).filePath(QStringLiteral("settings.ini")));
    m_settings = std::make_unique<Settings>(*m_store);
    QVERIFY(m_settings->set(Setting::Currency, QStringLiteral("€")));
    m_clock.time = QDateTime(QDate(2026, 12, 5), QTime(10, 16, 26));
    m_prompts.shown.clear();
    m_files.asked.clear();
    m_files.answers.clear();
}

void TestChartsWindow::cleanup()
{
    m_window.reset();
    m_reader.reset();
    m_settings.reset();
    m_store.reset();
}

ChartsWindow& TestChartsWindow::open(const QString& language)
{
    SqlFile sql(dbFile());
    for (const auto& [day, w] : kFixture) {
        for (const QString& time : {QStringLiteral("10:00:00"), QStringLiteral("10:00:30")})
            sql.exec(QStringLiteral("INSERT INTO Energy VALUES (230, 1, %1, 0, '%2 %3')")
                         .arg(w)
                         .arg(day, time));
    }
    return show(language);
}

ChartsWindow& TestChartsWindow::show(const QString& language)
{
    m_window = std::make_unique<ChartsWindow>(ChartWindowServices{
        language, 1, *m_reader, m_prompts, m_files, m_settings.get(), &m_clock});
    m_window->show();
    return *m_window;
}

ChartsWindow& TestChartsWindow::openEnergy(const QString& language)
{
    {
        SqlFile sql(dbFile());
        for (const ReadingRun& run : kEnergyRuns) {
            if (!insertReadings(sql, QLatin1String(run.from), run.count, run.watts))
                qFatal("cannot write the energy fixture");
        }
    }
    ChartsWindow& window = show(language);
    QSignalSpy shown(&window, &ChartsWindow::chartShown);
    QSignalSpy energy(&window, &ChartsWindow::energyShown);
    if (!QTest::qWaitFor([&] { return shown.size() == 1; }, 10000))
        qFatal("the charts window did not open");
    window.findChild<QComboBox*>(QStringLiteral("Cview"))->setCurrentIndex(1);
    if (!QTest::qWaitFor([&] { return energy.size() == 1; }, 10000))
        qFatal("the energy chart was not shown");
    return window;
}

void TestChartsWindow::setPrices(double f1, double f2, double f3)
{
    QVERIFY(m_settings->set(Setting::PriceF1, f1));
    QVERIFY(m_settings->set(Setting::PriceF2, f2));
    QVERIFY(m_settings->set(Setting::PriceF3, f3));
}

// Waits until every read asked for so far has been answered to the window: the reader runs
// reads in turn, and answers reach this thread in the order they were sent.
bool TestChartsWindow::readsAnswered()
{
    auto answered = std::make_shared<bool>(false);
    m_reader->read([this, answered](QSqlDatabase, const QString&, const ReadTicket&) {
        QMetaObject::invokeMethod(
            this, [answered] { *answered = true; }, Qt::QueuedConnection);
    });
    return QTest::qWaitFor([answered] { return *answered; }, 10000);
}

// However the lists grow to fit their texts, each follows the one before at the designed
// distance, captions above their lists.
void TestChartsWindow::listsStandSideBySide()
{
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    // The first pair whose distance is not the designed one, or nothing.
    const auto misplaced = [this] {
        const QStringList names{"Ctipo", "Cyear", "Cmonth", "Cday", "Cview"};
        const QList<int> gaps{14, 4, 4, 14}; // from one list's right edge to the next list
        for (qsizetype i = 0; i + 1 < names.size(); ++i) {
            const QRect left = list(names[i])->geometry();
            const QRect right = list(names[i + 1])->geometry();
            if (right.x() - (left.x() + left.width()) != gaps[i])
                return QStringLiteral("%1 ends at %2, %3 starts at %4")
                    .arg(names[i])
                    .arg(left.x() + left.width())
                    .arg(names[i + 1])
                    .arg(right.x());
        }
        return QString();
    };
    // The lists size themselves a moment after their contents change.
    QTest::qWait(100);
    QTRY_VERIFY2(misplaced().isEmpty(), qPrintable(misplaced()));
    QCOMPARE(control<QLabel>("Lb_4")->x(), list("Cview")->x());
}

void TestChartsWindow::openingShowsTheLatestRecordedDay()
{
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    QVERIFY(settled());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Grafico"));
    QCOMPARE(label("Lpe"), QStringLiteral("Dati DB:   05 March 2025  -  01 November 2026"));
    QCOMPARE(items(list("Cyear")), QStringList({"2025", "2026"}));
    QCOMPARE(list("Cyear")->currentText(), QStringLiteral("2026"));
    QCOMPARE(items(list("Cmonth")), QStringList({"Gennaio", "Novembre"}));
    QCOMPARE(list("Cmonth")->currentText(), QStringLiteral("Novembre"));
    QCOMPARE(items(list("Cday")), QStringList({"1"}));
    QCOMPARE(list("Cday")->currentText(), QStringLiteral("1"));
    QCOMPARE(list("Ctipo")->currentIndex(), 0);
    QCOMPARE(label("Lb_4"), QStringLiteral("Mostra"));
    QCOMPARE(items(list("Cview")), QStringList({"Potenza", "Energia"}));
    QCOMPARE(list("Cview")->currentIndex(), 0);
    QVERIFY(m_window->chartView().isVisible());
    QVERIFY(!m_window->energyView().isVisible());
    QVERIFY(!control<QLabel>("Lenergy")->isVisible());

    const ChartSeries& series = m_window->series();
    QCOMPARE(series.type, ChartType::Daily);
    QCOMPARE(series.first, QDate(2026, 11, 1));
    QCOMPARE(series.avg[21], 200.0f);
    QCOMPARE(m_window->chartView().series(), series);
    QCOMPARE(label("Lmed"), QStringLiteral("Potenza media: 200W"));
    QCOMPARE(label("Lmax"), QStringLiteral("Potenza massima: 200W"));
    QVERIFY(m_prompts.shown.isEmpty());
}

void TestChartsWindow::emptyTableShowsNoData()
{
    show(QStringLiteral("eng"));
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);
    QCOMPARE(label("Lpe"), QStringLiteral("DB data:    No data"));
    for (const char* name : {"Cyear", "Cmonth", "Cday"})
        QCOMPARE(list(name)->count(), 0);
    QCOMPARE(m_window->series().groupCount(), 0);
    QCOMPARE(label("Lmed"), QStringLiteral("Average power: 0W"));
    QVERIFY(m_prompts.shown.isEmpty());
}

void TestChartsWindow::chartTypesChangeListsAndSeries()
{
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);

    list("Ctipo")->setCurrentIndex(1);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 10000);
    QVERIFY(!list("Cday")->isEnabled());
    QCOMPARE(list("Cday")->currentIndex(), -1);
    QCOMPARE(m_window->series().type, ChartType::Monthly);
    QCOMPARE(m_window->series().first, QDate(2026, 11, 1));
    QCOMPARE(m_window->series().groupCount(), 30);

    list("Ctipo")->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 3, 10000);
    QVERIFY(!list("Cmonth")->isEnabled());
    QCOMPARE(list("Cmonth")->currentIndex(), -1);
    QCOMPARE(list("Cday")->count(), 0);
    QCOMPARE(m_window->series().first, QDate(2026, 1, 1));
    QCOMPARE(m_window->series().avg[1], 1600.0f); // 2026: 3000 and 200
    QCOMPARE(label("Lmax"), QStringLiteral("Potenza massima: 3000W"));

    // The year list drives the yearly chart.
    list("Cyear")->setCurrentIndex(0);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 4, 10000);
    QCOMPARE(m_window->series().first, QDate(2025, 1, 1));
    QCOMPARE(m_window->series().avg[2], 1600.0f);

    // Back to daily: no day is chosen, so only the empty chart is drawn.
    list("Ctipo")->setCurrentIndex(0);
    QVERIFY(list("Cday")->isEnabled());
    QCOMPARE(m_window->series().groupCount(), 0);
    QCOMPARE(m_window->chartView().series().groupCount(), 0);
}

// The annual chart clears the month; choosing the month chosen before it works as any other.
void TestChartsWindow::formerMonthChartsAgainAfterTheAnnualChart_data()
{
    QTest::addColumn<int>("typeIndex");
    QTest::newRow("back to monthly") << 1;
    QTest::newRow("back to daily") << 0;
}

void TestChartsWindow::formerMonthChartsAgainAfterTheAnnualChart()
{
    QFETCH(int, typeIndex);
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    QCOMPARE(list("Cmonth")->currentText(), QStringLiteral("Novembre"));

    list("Ctipo")->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 10000);
    QCOMPARE(list("Cmonth")->currentIndex(), -1);
    list("Ctipo")->setCurrentIndex(typeIndex);
    QVERIFY(list("Cmonth")->isEnabled());
    QCOMPARE(list("Cday")->count(), 0);

    list("Cmonth")->setCurrentIndex(items(list("Cmonth")).indexOf(QStringLiteral("Novembre")));
    QTRY_COMPARE_WITH_TIMEOUT(items(list("Cday")), QStringList({"1"}), 10000);
    if (typeIndex == 0) {
        // The daily chart waits for a day.
        QCOMPARE(shown.size(), 2);
        list("Cday")->setCurrentIndex(0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 3, 10000);
    QCOMPARE(m_window->series().type, typeIndex == 0 ? ChartType::Daily : ChartType::Monthly);
    QCOMPARE(m_window->series().first, QDate(2026, 11, 1));
    QCOMPARE(label("Lmax"), QStringLiteral("Potenza massima: 200W"));
}

// Choosing the month of the same name in another year charts that year's month.
void TestChartsWindow::anotherYearRefillsTheMonthsAndForgetsTheMonth()
{
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    list("Ctipo")->setCurrentIndex(1);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 10000);

    list("Cyear")->setCurrentIndex(0);
    QTRY_COMPARE_WITH_TIMEOUT(items(list("Cmonth")), QStringList({"Marzo", "Novembre"}), 10000);
    QCOMPARE(list("Cmonth")->currentIndex(), -1);
    QCOMPARE(list("Cday")->count(), 0);

    list("Cmonth")->setCurrentIndex(1);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 3, 10000);
    QCOMPARE(m_window->series().first, QDate(2025, 11, 1));
    QCOMPARE(m_window->series().avg[20], 600.0f);
    QTRY_COMPARE_WITH_TIMEOUT(items(list("Cday")), QStringList({"20"}), 10000);
}

void TestChartsWindow::typingIntoListsChangesNothing()
{
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    for (const char* name : {"Ctipo", "Cyear", "Cmonth", "Cday"}) {
        QComboBox* combo = list(name);
        const int before = combo->currentIndex();
        QTest::keyClicks(combo, QStringLiteral("2025GMa1"));
        QCOMPARE(combo->currentIndex(), before);
    }
    QVERIFY(settled());
    QVERIFY(readsAnswered());
    QCOMPARE(shown.size(), 1);
}

void TestChartsWindow::failingChartIsReportedFailingListsAreNot()
{
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    QVERIFY(QFile::remove(dbFile()));

    list("Cyear")->setCurrentIndex(0); // the month list cannot be read: nothing is said
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);
    QVERIFY(readsAnswered());
    QVERIFY(m_prompts.shown.isEmpty());
    QCOMPARE(list("Cmonth")->count(), 0);

    list("Ctipo")->setCurrentIndex(2); // the yearly chart cannot be read: that is reported
    QTRY_COMPARE_WITH_TIMEOUT(m_prompts.shown.size(), 1, 10000);
    QCOMPARE(m_prompts.shown[0].icon, RecordingPrompts::Icon::Critical);
    QVERIFY2(m_prompts.shown[0].text.startsWith(QStringLiteral("File not found")),
             qPrintable(m_prompts.shown[0].text));
    QCOMPARE(m_window->series().groupCount(), 31);
    QCOMPARE(m_window->series().maxPower, qint64(0));
}

void TestChartsWindow::languageRenamesWithoutLosingTheSelection()
{
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    m_window->setLanguage(QStringLiteral("eng"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Chart"));
    QCOMPARE(items(list("Ctipo")), QStringList({"Daily", "Monthly", "Annual"}));
    QCOMPARE(items(list("Cmonth")), QStringList({"January", "November"}));
    QCOMPARE(list("Cmonth")->currentText(), QStringLiteral("November"));
    QCOMPARE(list("Cday")->currentText(), QStringLiteral("1"));
    QCOMPARE(label("Lb_0"), QStringLiteral("Visualization"));
    QCOMPARE(label("Lpe"), QStringLiteral("DB data:   05 March 2025  -  01 November 2026"));
    QCOMPARE(label("Lmed"), QStringLiteral("Average power: 200W"));
    m_window->setLanguage(QStringLiteral("fra"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Chart"));
    QCOMPARE(shown.size(), 1);
}

void TestChartsWindow::chartSavesAsPng()
{
    QSignalSpy shown(&open(QStringLiteral("eng")), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    auto* save = m_window->findChild<QAction*>(QStringLiteral("SaveImage"));
    QVERIFY(save);
    QCOMPARE(save->text(), QStringLiteral("Save as PNG..."));

    const QString target = QDir(m_dir->path()).filePath(QStringLiteral("november"));
    m_files.answers.enqueue(target);
    save->trigger();
    QCOMPARE(m_files.asked.size(), 1);
    QCOMPARE(m_files.asked[0].title, QStringLiteral("Save chart"));
    QVERIFY(m_files.asked[0].suggested.endsWith(QStringLiteral("powerlog-2026-11-01.png")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(target + QStringLiteral(".png")), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(QImageReader(target + QStringLiteral(".png")).size(), QSize(826, 376),
                              10000);

    // A cancelled dialog writes nothing; an unwritable target is reported.
    save->trigger();
    m_files.answers.enqueue(QDir(m_dir->path()).filePath(QStringLiteral("no/such/folder/x.png")));
    save->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_prompts.shown.size(), 1, 10000);
    QVERIFY(m_prompts.shown[0].text.startsWith(QStringLiteral("Cannot save ")));
}

void TestChartsWindow::mainWindowOpensTheCharts()
{
    powerlog::test::WindowHarness harness;
    MainWindow& main = harness.load();
    QVERIFY(!main.chartsWindow());
    auto* chartsButton = main.findChild<QToolButton*>(QStringLiteral("Igraf"));
    QVERIFY(chartsButton);
    QTest::mouseClick(chartsButton, Qt::LeftButton);
    QVERIFY(main.chartsWindow());
    QVERIFY(main.chartsWindow()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!main.chartsWindow()->isBusy(), 10000);
    ChartsWindow* first = main.chartsWindow();
    QTest::mouseClick(chartsButton,
                      Qt::LeftButton); // a second click brings the same window forward
    QCOMPARE(main.chartsWindow(), first);
    main.setLanguage(QStringLiteral("eng"));
    QCOMPARE(first->windowTitle(), QStringLiteral("Chart"));
    first->close();
    QTRY_VERIFY_WITH_TIMEOUT(!main.chartsWindow(), 10000);
}

void TestChartsWindow::energyViewReadsTheChosenPeriod_data()
{
    QTest::addColumn<int>("typeIndex");
    QTest::addColumn<EnergyPeriod>("period");
    QTest::addColumn<QDate>("first");
    QTest::addColumn<int>("groups");
    QTest::addColumn<int>("index");
    QTest::addColumn<EnergyFigures>("figures");

    EnergyFigures hour;
    hour.add(TariffBand::F1, 1200.0 * 3600, 3600);
    EnergyFigures day;
    day.add(TariffBand::F1, 1200.0 * 3600, 3600);
    day.add(TariffBand::F2, 600.0 * 1800, 1800);
    day.add(TariffBand::F3, 400.0 * 900, 900);
    EnergyFigures month = day;
    month.add(TariffBand::F3, 2000.0 * 1800, 1800);
    QTest::newRow("daily: the day's hours")
        << 0 << EnergyPeriod::Daily << kEnergyDay << 24 << 10 << hour;
    QTest::newRow("monthly: the month's days")
        << 1 << EnergyPeriod::Monthly << QDate(2026, 11, 1) << 30 << 1 << day;
    QTest::newRow("yearly: the year's months")
        << 2 << EnergyPeriod::Yearly << QDate(2026, 1, 1) << 12 << 10 << month;
}

void TestChartsWindow::energyViewReadsTheChosenPeriod()
{
    QFETCH(int, typeIndex);
    QFETCH(EnergyPeriod, period);
    QFETCH(QDate, first);
    QFETCH(int, groups);
    QFETCH(int, index);
    QFETCH(EnergyFigures, figures);
    openEnergy();
    QSignalSpy energy(m_window.get(), &ChartsWindow::energyShown);
    QSignalSpy power(m_window.get(), &ChartsWindow::chartShown);
    if (typeIndex != 0) {
        list("Ctipo")->setCurrentIndex(typeIndex);
        QTRY_COMPARE_WITH_TIMEOUT(energy.size(), 1, 10000);
    }
    const EnergyTable& table = m_window->energyTable();
    QCOMPARE(table.period, period);
    QCOMPARE(table.first, first);
    QCOMPARE(table.groups.size(), groups);
    QCOMPARE(table.groups[index], figures);
    QCOMPARE(m_window->energyView().chart().table, table);
    QVERIFY(m_window->energyView().isVisible());
    QVERIFY(!m_window->chartView().isVisible());
    QVERIFY(control<QLabel>("Lenergy")->isVisible());
    QVERIFY(!control<QLabel>("Lmed")->isVisible());
    QVERIFY(!control<QLabel>("Lmax")->isVisible());
    // The power chart is not read while it is not shown.
    QVERIFY(readsAnswered());
    QCOMPARE(power.size(), 0);
    QVERIFY(settled());
}

// Of two requests in a row only the second is answered.
void TestChartsWindow::newerEnergyRequestWins()
{
    openEnergy();
    QSignalSpy energy(m_window.get(), &ChartsWindow::energyShown);
    list("Ctipo")->setCurrentIndex(1);
    list("Ctipo")->setCurrentIndex(2);
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);
    QVERIFY(readsAnswered());
    QCOMPARE(energy.size(), 1);
    QCOMPARE(m_window->energyTable().period, EnergyPeriod::Yearly);
}

void TestChartsWindow::switchingBackShowsThePowerChartUnchanged()
{
    QSignalSpy shown(&open(), &ChartsWindow::chartShown);
    QSignalSpy energy(m_window.get(), &ChartsWindow::energyShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    const ChartSeries series = m_window->series();
    const QImage picture = m_window->chartView().renderImage();
    const QString average = label("Lmed");

    list("Cview")->setCurrentIndex(1);
    QTRY_COMPARE_WITH_TIMEOUT(energy.size(), 1, 10000);
    QCOMPARE(m_window->energyTable().first, QDate(2026, 11, 1));
    list("Cview")->setCurrentIndex(0);
    QVERIFY(m_window->chartView().isVisible());
    QVERIFY(!m_window->energyView().isVisible());
    QVERIFY(control<QLabel>("Lmed")->isVisible());
    QVERIFY(!control<QLabel>("Lenergy")->isVisible());
    QCOMPARE(m_window->chartView().series(), series);
    QCOMPARE(m_window->chartView().renderImage(), picture);
    QCOMPARE(label("Lmed"), average);
    QVERIFY(settled());
    QVERIFY(readsAnswered());
    QCOMPARE(shown.size(), 1); // drawn from memory

    // A period chosen in the energy view is read for the power view when it comes back, and
    // the energy view, holding it already, does not read it again.
    list("Cview")->setCurrentIndex(1);
    QVERIFY(settled());
    list("Ctipo")->setCurrentIndex(1);
    QTRY_COMPARE_WITH_TIMEOUT(energy.size(), 2, 10000);
    QCOMPARE(m_window->energyTable().period, EnergyPeriod::Monthly);
    list("Cview")->setCurrentIndex(0);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 10000);
    QCOMPARE(m_window->series().type, ChartType::Monthly);
    QCOMPARE(m_window->series().first, QDate(2026, 11, 1));
    list("Cview")->setCurrentIndex(1);
    QVERIFY(settled());
    QVERIFY(readsAnswered());
    QCOMPARE(energy.size(), 2);
}

void TestChartsWindow::energySummaryFollowsPricesAndLanguage()
{
    // Late on the day: the readings of 23:00 to 23:15 are its last; 6300 s of 83700 so far.
    m_clock.time = QDateTime(kEnergyDay, QTime(23, 15));
    openEnergy();
    QSignalSpy energy(m_window.get(), &ChartsWindow::energyShown);
    QCOMPARE(label("Lenergy"), QStringLiteral("Energia: 1,60 kWh · registrato l'8 % del tempo"));

    setPrices(0.30, 0.20, 0.10);
    QCOMPARE(label("Lenergy"),
             QStringLiteral("Energia: 1,60 kWh · Costo: 0,43 € · registrato l'8 % del tempo"));
    QVERIFY(m_settings->set(Setting::Currency, QStringLiteral("EUR")));
    QCOMPARE(label("Lenergy"),
             QStringLiteral("Energia: 1,60 kWh · Costo: 0,43 EUR · registrato l'8 % del tempo"));

    m_clock.time = QDateTime(kEnergyDay.addDays(1), QTime(0, 0));
    m_window->setLanguage(QStringLiteral("eng"));
    QCOMPARE(label("Lenergy"),
             QStringLiteral("Energy: 1.60 kWh · Cost: EUR 0.43 · recorded 7 % of the time"));
    QCOMPARE(items(list("Cview")), QStringList({"Power", "Energy"}));
    QCOMPARE(list("Cview")->currentIndex(), 1);
    QCOMPARE(label("Lb_4"), QStringLiteral("Show"));

    setPrices(0, 0, 0);
    QCOMPARE(label("Lenergy"), QStringLiteral("Energy: 1.60 kWh · recorded 7 % of the time"));
    // Nothing of this asked the database again.
    QVERIFY(readsAnswered());
    QCOMPARE(energy.size(), 0);
}

void TestChartsWindow::energyToolTipOfABar()
{
    setPrices(0.30, 0.20, 0.10);
    openEnergy(QStringLiteral("eng"));
    const EnergyView& view = m_window->energyView();
    const EnergyLayout layout = view.chartLayout();
    QCOMPARE(view.toolTipAt(layout.column(10).center().toPoint()),
             QStringLiteral("10:00 - 11:00\nEnergy: 1.20 kWh\nF1: 1.20 kWh\nF2: 0.00 kWh\n"
                            "F3: 0.00 kWh\nCost: € 0.36\nrecorded 100 % of the time"));
    QCOMPARE(view.toolTipAt(layout.column(20).center().toPoint()),
             QStringLiteral("20:00 - 21:00\nEnergy: 0.30 kWh\nF1: 0.00 kWh\nF2: 0.30 kWh\n"
                            "F3: 0.00 kWh\nCost: € 0.06\nrecorded 50 % of the time"));
    // A price set later shows in the next tooltip.
    QVERIFY(m_settings->set(Setting::PriceF3, 1.0));
    QCOMPARE(view.toolTipAt(layout.column(23).center().toPoint()),
             QStringLiteral("23:00 - 24:00\nEnergy: 0.10 kWh\nF1: 0.00 kWh\nF2: 0.00 kWh\n"
                            "F3: 0.10 kWh\nCost: € 0.10\nrecorded 25 % of the time"));
}

// End to end: readings written to the file are read back through the hour table and drawn as
// bars as tall as their kWh.
void TestChartsWindow::recordedHoursAreDrawnAsTheirKwh()
{
    openEnergy();
    QCOMPARE(m_window->energyTable().first, kEnergyDay);
    QCOMPARE(m_window->energyTable().groups[10].kwh(TariffBand::F1), 1.2);
    EnergyView& view = m_window->energyView();
    const QImage image = view.grab().toImage();
    const EnergyLayout layout = view.chartLayout();
    const double kwhPerRow =
        layout.scale().ceiling() / (layout.plot().height() * image.devicePixelRatio());

    struct Hour
    {
        int index;
        TariffBand band;
        double kwh;
    };
    for (const Hour& hour : {Hour{10, TariffBand::F1, 1.2}, Hour{20, TariffBand::F2, 0.3},
                             Hour{23, TariffBand::F3, 0.1}}) {
        const double drawn = bandRows(image, layout, hour.index, hour.band) * kwhPerRow;
        QVERIFY2(std::abs(drawn - hour.kwh) <= kwhPerRow * image.devicePixelRatio(),
                 qPrintable(QStringLiteral("hour %1: %2 kWh drawn").arg(hour.index).arg(drawn)));
        for (TariffBand other : {TariffBand::F1, TariffBand::F2, TariffBand::F3}) {
            if (other != hour.band)
                QCOMPARE(bandRows(image, layout, hour.index, other), 0);
        }
    }
    for (TariffBand band : {TariffBand::F1, TariffBand::F2, TariffBand::F3})
        QCOMPARE(bandRows(image, layout, 9, band), 0);
}

void TestChartsWindow::energyPictureSavesAsPng()
{
    openEnergy(QStringLiteral("eng"));
    auto* save = m_window->findChild<QAction*>(QStringLiteral("SaveImage"));
    QVERIFY(m_window->energyView().actions().contains(save));
    const QString target = QDir(m_dir->path()).filePath(QStringLiteral("energy"));
    m_files.answers.enqueue(target);
    save->trigger();
    QCOMPARE(m_files.asked.size(), 1);
    QCOMPARE(m_files.asked[0].title, QStringLiteral("Save chart"));
    QVERIFY(m_files.asked[0].suggested.endsWith(QStringLiteral("powerlog-energy-2026-11-02.png")));
    const QString file = target + QStringLiteral(".png");
    QTRY_COMPARE_WITH_TIMEOUT(QImageReader(file).size(), QSize(826, 376), 10000);

    // The picture is the energy chart: hour 10's bar in F1's colour.
    const QImage picture(file);
    const EnergyLayout layout(QSizeF(826, 376), m_window->energyView().chart());
    QCOMPARE(picture.pixelColor(layout.segment(10, TariffBand::F1).center().toPoint()),
             energyBandColour(TariffBand::F1));
    QCOMPARE(picture, m_window->energyView().renderImage().convertToFormat(picture.format()));
}

void TestChartsWindow::failingEnergyReadIsReported()
{
    QSignalSpy shown(&open(QStringLiteral("eng")), &ChartsWindow::chartShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    QVERIFY(QFile::remove(dbFile()));
    list("Cview")->setCurrentIndex(1);
    QTRY_COMPARE_WITH_TIMEOUT(m_prompts.shown.size(), 1, 10000);
    QCOMPARE(m_prompts.shown[0].icon, RecordingPrompts::Icon::Critical);
    QVERIFY2(m_prompts.shown[0].text.startsWith(QStringLiteral("File not found")),
             qPrintable(m_prompts.shown[0].text));
    QVERIFY(settled());
    QCOMPARE(m_window->energyTable().first, QDate(2026, 11, 1));
    QCOMPARE(m_window->energyTable().total(), EnergyFigures{});
    QCOMPARE(label("Lenergy"), QStringLiteral("Energy: 0.00 kWh · recorded 0 % of the time"));
}

QTEST_MAIN(TestChartsWindow)
#include "test_chartswindow.moc"
