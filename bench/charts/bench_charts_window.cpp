// The charts window on ten years of readings: from show() until its first chart is drawn.
// Each run builds a reader and a window of its own on the folder given (a prepared database,
// as bench_charts leaves it), shows the window offscreen, waits for the chart of the latest
// recorded day and paints it. Figures go to standard output as name=value lines
// (bench/charts.sh collects them).
//
//   bench_charts_window --folder DIR [--runs R]

#include "acquisition/databasereader.h"
#include "app/filedialogs.h"
#include "app/prompts.h"
#include "ui/charts/chartswindow.h"
#include "ui/charts/chartview.h"

#include <QApplication>
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
    }
    if (prompts.failed || openings.empty())
        return 1;
    std::printf("window_opening_ms=%.3f\n", median(openings));
    std::printf("window_opening_max_ms=%.3f\n",
                *std::max_element(openings.begin(), openings.end()));
    std::printf("window_opening_day=%s\n", qPrintable(shownDay.toString(Qt::ISODate)));
    return 0;
}
