#pragma once

#include "acquisition/chartseries.h"
#include "acquisition/energyaccounts.h"
#include "ui/charts/energywording.h"

#include <QDate>
#include <QList>
#include <QWidget>
#include <optional>

class QAction;
class QComboBox;
class QLabel;

namespace powerlog {

class ChartSource;
class ChartView;
class Clock;
class DatabaseReader;
class EnergySource;
class EnergyView;
class FileDialogs;
class Prompts;
class Settings;
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
    // The tariff prices and the currency of the energy's cost, followed as they change;
    // without them no cost is shown.
    const Settings* settings = nullptr;
    // The time that tells how much of an unfinished period has elapsed; the system's without
    // one.
    const Clock* clock = nullptr;
};

// The charts window: a daily, monthly or yearly chart of the recorded power or of the energy
// used, chosen with four lists and a fifth that picks power or energy. It opens on the latest
// recorded day. Every read runs on the database reader's thread; the window shows the answers
// as they come and never waits for them.
class ChartsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ChartsWindow(ChartWindowServices services, QWidget* parent = nullptr);
    ~ChartsWindow() override;

    // Texts and lists in the language of `code` ("ita" or "eng"); any other code changes
    // nothing. Selections are kept.
    void setLanguage(const QString& code);

    // State the tests read.
    const ChartSeries& series() const { return m_series; }
    const ChartScale& scale() const { return m_scale; }
    ChartView& chartView() const { return *m_chartView; }
    const EnergyTable& energyTable() const { return m_table; }
    EnergyView& energyView() const { return *m_energyView; }
    // True while a chart or the opening sequence waits for the database.
    bool isBusy() const;

signals:
    // A chart has been drawn from the database's answer (tests and benchmarks wait on it).
    void chartShown();
    // The same for the energy chart.
    void energyShown();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // The lists' selections, chosen by the user or set from code.
    void chartTypeChosen();
    void chartKindChosen();
    void yearChosen();
    void monthChosen();
    void dayChosen();

    // The database's answers.
    void showRecordedRange(const powerlog::RecordedRange& range, bool ok);
    void fillMonths(int year, const QList<int>& months, bool ok);
    void fillDays(int year, int month, const QList<int>& days, bool ok);
    void showChart(const powerlog::ChartSeries& series);
    void reportChartFailure(const powerlog::ReadError& error);
    void showEnergy(const powerlog::EnergyTable& table);
    void reportEnergyFailure(const powerlog::ReadError& error);

    void saveImage();

private:
    // What the chart shows.
    enum class Kind { Power, Energy };
    // The period the lists chose: the chart type and its date, invalid when the lists do not
    // give a whole period.
    struct Period
    {
        ChartType type = ChartType::Daily;
        QDate date;
        bool operator==(const Period&) const = default;
    };

    void beginOpening();
    void resetForNextOpening();
    void buildControls();
    void fitLists();
    void wireSource();
    // Asks for the chart of `type` over the period that holds `date`; it is drawn when read.
    void buildChart(ChartType type, const QDate& date);
    // Starts the shown chart over for a period: empty at once, then drawn when read (when
    // `date` is valid).
    void startChart(ChartType type, const QDate& date);
    void cancelCharts();
    void showSeries(const ChartSeries& series);
    void showTable();
    void showSummary();
    void reportFailure(const ReadError& error);
    Kind selectedKind() const;
    EnergyWording wording() const;
    QDateTime now() const;
    QString toolTipFor(const ChartSeries& series, int group) const;
    QString monthName(int month) const;
    ChartType selectedType() const;
    std::optional<int> selectedYear() const;
    std::optional<int> selectedMonth() const;
    std::optional<QDate> selectedDay() const;

    ChartWindowServices m_services;
    ChartSource* m_source;
    EnergySource* m_energySource;
    QString m_languageCode;
    ChartScale m_scale;
    ChartSeries m_series;
    EnergyTable m_table;
    Kind m_kind = Kind::Power;
    std::optional<Period> m_period;    // the period last chosen
    std::optional<Period> m_seriesFor; // the period m_series holds or is being read for
    std::optional<Period> m_tableFor;  // the same for m_table
    QList<int> m_monthNumbers;         // the month (1..12) of each entry of the month list
    QString m_periodPrefix;
    QString m_averagePowerPrefix;
    QString m_maximumPowerPrefix;
    QString m_periodText; // the recorded period after the prefix, empty until it is known
    std::optional<QDate> m_openingDay; // the day the opening sequence is heading for
    bool m_loaded = false;
    bool m_chartPending = false;
    bool m_fittingLists = false; // fitLists() places the lists: their resizes are its own
    bool m_energyPending = false;

    QLabel* m_typeCaption = nullptr;
    QLabel* m_yearCaption = nullptr;
    QLabel* m_monthCaption = nullptr;
    QLabel* m_dayCaption = nullptr;
    QComboBox* m_typeList = nullptr;
    QComboBox* m_yearList = nullptr;
    QComboBox* m_monthList = nullptr;
    QComboBox* m_dayList = nullptr;
    QLabel* m_kindCaption = nullptr;
    QComboBox* m_kindList = nullptr;
    QLabel* m_periodLabel = nullptr;
    ChartView* m_chartView = nullptr;
    EnergyView* m_energyView = nullptr;
    QLabel* m_averageIcon = nullptr;
    QLabel* m_averageLabel = nullptr;
    QLabel* m_maximumIcon = nullptr;
    QLabel* m_maximumLabel = nullptr;
    QLabel* m_energyLabel = nullptr;
    QAction* m_saveImageAction = nullptr;
};

} // namespace powerlog
