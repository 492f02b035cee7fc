// The charts window on ten years of readings: from show() until its first chart is drawn, then
// from each choice of the energy view (the view itself on the daily chart, then the monthly and
// the yearly chart) until that energy chart is drawn. Each run builds a reader and a window of
// its own on the folder given (a prepared database, as bench_charts leaves it), shows the window
// offscreen, waits for the chart of the latest recorded day and paints it. Figures go to
// standard output as name=value lines (bench/charts.sh collects them).
//
//   bench_charts_window --folder DIR [--runs R]

#include "acquisition/databasereader.h"
#include "app/filedialogs.h"
#include "app/prompts.h"
#include "ui/charts/chartswindow.h"
#include "ui/charts/chartview.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace powerlog;

namespace {

// The benchmark answers nothing and shows nothing.
class SilentPrompts final : public Prompts
{
public:
    void message(const QString&, const QString& text, Icon) override
    {
        std::fprintf(stderr, "bench_charts_window: message: %s\n", qPrintable(text));
        failed = true;
    }
    void askYesNo(const QString&, const QString&, std::function<void(bool)> answer) override
    {
        answer(false);
    }
    bool failed = false;
};

class NoFileDialogs final : public FileDialogs
{
public:
    void askSaveFile(const QString&, const QString&, const QString&,
                     std::function<void(const QString&)> chosen) override
    {
        chosen({});
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("Program folder."),
                                    QStringLiteral("dir"));
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Openings."),
                                  QStringLiteral("n"), QStringLiteral("3"));
    parser.addOptions({folder, runs});
    parser.process(app);
    if (!parser.isSet(folder)) {
        std::fprintf(stderr, "usage: bench_charts_window --folder DIR [--runs R]\n");
        return 2;
    }

    SilentPrompts prompts;
    NoFileDialogs files;
    std::vector<double> openings;
    // From the choice to the energy chart drawn: daily (the view chosen), monthly, yearly.
    std::vector<double> energyChoices[3];
    const int total = std::max(1, parser.value(runs).toInt());
    QDate shownDay;
    for (int run = 0; run < total && !prompts.failed; ++run) {
        DatabaseReader reader(parser.value(folder));
        ChartsWindow window({QStringLiteral("eng"), 1, reader, prompts, files});
        QElapsedTimer clock;
        bool drawn = false;
        QObject::connect(&window, &ChartsWindow::chartShown, &window, [&] {
            window.chartView().repaint(); // the chart on screen, not only in memory
            openings.push_back(clock.nsecsElapsed() / 1e6);
            shownDay = window.series().first;
            drawn = true;
            QCoreApplication::exit(0);
        });
        // The window goes idle without a chart when the folder holds no readings.
        QTimer idle;
        QObject::connect(&idle, &QTimer::timeout, &window, [&] {
            if (!window.isBusy() && !drawn)
                QCoreApplication::exit(1);
        });
        idle.start(100);
        QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(1); });
        clock.start();
        window.show();
        if (app.exec() != 0 || !drawn) {
            std::fprintf(stderr, "bench_charts_window: no chart (no readings in the folder, or "
                                 "none within a minute)\n");
            return 1;
        }

        // The energy view, then the other two periods, each choice as the user makes it.
        auto* view = window.findChild<QComboBox*>(QStringLiteral("Cview"));
        auto* type = window.findChild<QComboBox*>(QStringLiteral("Ctipo"));
        auto* energy = window.findChild<QWidget*>(QStringLiteral("PicEnergy"));
        if (!view || !type || !energy) {
            std::fprintf(stderr, "bench_charts_window: no energy view in the window\n");
            return 1;
        }
        int choice = 0;
        QObject::connect(&window, &ChartsWindow::energyShown, &window, [&] {
            energy->repaint();
            energyChoices[choice].push_back(clock.nsecsElapsed() / 1e6);
            QCoreApplication::exit(0);
        });
        const std::function<void()> choose[3] = {[&] { view->setCurrentIndex(1); },
                                                 [&] { type->setCurrentIndex(1); },
                                                 [&] { type->setCurrentIndex(2); }};
        for (choice = 0; choice < 3; ++choice) {
            QTimer::singleShot(0, &window, [&] {
                clock.restart();
                choose[choice]();
            });
            if (app.exec() != 0 || int(energyChoices[choice].size()) != run + 1) {
                std::fprintf(stderr, "bench_charts_window: no energy chart within a minute\n");
                return 1;
            }
        }
    }
    if (prompts.failed || openings.empty())
        return 1;
    std::printf("window_opening_ms=%.3f\n", median(openings));
    std::printf("window_opening_max_ms=%.3f\n",
                *std::max_element(openings.begin(), openings.end()));
    std::printf("window_opening_day=%s\n", qPrintable(shownDay.toString(Qt::ISODate)));
    const char* const periods[] = {"daily", "monthly", "yearly"};
    for (int choice = 0; choice < 3; ++choice) {
        std::printf("window_energy_%s_ms=%.3f\n", periods[choice], median(energyChoices[choice]));
        std::printf("window_energy_%s_max_ms=%.3f\n", periods[choice],
                    *std::max_element(energyChoices[choice].begin(), energyChoices[choice].end()));
    }
    return 0;
}
