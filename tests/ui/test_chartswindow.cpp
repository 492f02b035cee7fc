#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "ui/charts/chartswindow.h"
#include "ui/charts/chartview.h"
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

private:
    QString dbFile() const { return QDir(m_dir->path()).filePath(EnergyDatabase::kFileName); }
    ChartsWindow& open(const QString& language = QStringLiteral("ita"));
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
    m_prompts.shown.clear();
}

void TestChartsWindow::cleanup()
{
    m_window.reset();
    m_reader.reset();
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
    m_window = std::make_unique<ChartsWindow>(
        ChartWindowServices{language, 1, *m_reader, m_prompts, m_files});
    m_window->show();
    return *m_window;
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
    m_window = std::make_unique<ChartsWindow>(
        ChartWindowServices{QStringLiteral("eng"), 1, *m_reader, m_prompts, m_files});
    m_window->show();
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

QTEST_MAIN(TestChartsWindow)
#include "test_chartswindow.moc"
