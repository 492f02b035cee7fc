#pragma once

#include "acquisition/chartseries.h"

#include <QDate>
#include <QList>
#include <QWidget>
#include <array>
#include <optional>

class QAction;
class QComboBox;
class QLabel;

namespace powerlog {

class ChartSource;
class ChartView;
class DatabaseReader;
class FileDialogs;
class Prompts;
struct ReadError;
struct RecordedRange;

// What the charts window works with.
struct ChartWindowServices
{
    QString languageCode;
    int linePowerIndex = 1;
    DatabaseReader& reader;
    Prompts& prompts;
    FileDialogs& files;
};

// The charts window: a daily, monthly or yearly chart of the recorded power, chosen with four
// lists. It opens on the latest recorded day. Every read runs on the database reader's thread;
// the window shows the answers as they come and never waits for them.
class FrmGraf : public QWidget
{
    Q_OBJECT
public:
    explicit FrmGraf(ChartWindowServices services, QWidget* parent = nullptr);
    ~FrmGraf() override;

    // Texts and lists in the language of `code` ("ita" or "eng"); any other code changes
    // nothing. Selections are kept.
    void SetLanguage(const QString& code);

    // Handlers of the lists (raised by the user and by code that sets a selection).
    void Ctipo_Click();
    void Cyear_Click();
    void Cmonth_Click();
    void Cday_Click();

    // Computes the chart of `type` for the period that holds `date` and draws it when ready.
    void BuildChart(ChartType type, const QDate& date);

    // State the tests read.
    const ChartSeries& series() const { return m_series; }
    const ChartScale& scale() const { return m_scale; }
    ChartView& chartView() const { return *m_picGra; }
    // True while a chart or the opening sequence waits for the database.
    bool isBusy() const;

signals:
    // A chart has been drawn from the database's answer (tests and benchmarks wait on it).
    void chartShown();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Form_Unload();
    void buildControls();
    void fitLists();
    void wireSource();
    void onRangeRead(const RecordedRange& range, bool ok);
    void onMonthsRead(int year, const QList<int>& months, bool ok);
    void onDaysRead(int year, int month, const QList<int>& days, bool ok);
    void onChartRead(const ChartSeries& series);
    void onChartFailed(const ReadError& error);
    void showSeries(const ChartSeries& series);
    void showSummary();
    void saveImage();
    QString toolTipFor(const ChartSeries& series, int group) const;
    QString monthName(int month) const;
    ChartType selectedType() const;
    std::optional<int> selectedYear() const;
    std::optional<int> selectedMonth() const;
    std::optional<QDate> selectedDay() const;

    ChartWindowServices m_services;
    ChartSource* m_source;
    QString m_languageCode;
    ChartScale m_scale;
    ChartSeries m_series;
    QList<int> m_monthNumbers;
    QString m_dbDataPrefix;
    QString m_avgPowerPrefix;
    QString m_maxPowerPrefix;
    QString m_periodText; // the recorded period after the prefix, empty until it is known
    QString m_lastYearText;
    QString m_lastMonthText;
    std::optional<QDate> m_openingDay; // the day the opening sequence is heading for
    bool m_loaded = false;
    bool m_chartPending = false;

    std::array<QLabel*, 4> m_lb{};
    QComboBox* m_ctipo = nullptr;
    QComboBox* m_cyear = nullptr;
    QComboBox* m_cmonth = nullptr;
    QComboBox* m_cday = nullptr;
    QLabel* m_lpe = nullptr;
    ChartView* m_picGra = nullptr;
    QLabel* m_imed = nullptr;
    QLabel* m_lmed = nullptr;
    QLabel* m_imax = nullptr;
    QLabel* m_lmax = nullptr;
    QAction* m_saveImage = nullptr;
};

} // namespace powerlog
