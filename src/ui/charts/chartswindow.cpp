#include "ui/charts/chartswindow.h"

#include "acquisition/chartqueries.h"
#include "app/clock.h"
#include "app/filedialogs.h"
#include "app/language.h"
#include "app/prompts.h"
#include "app/settings.h"
#include "ui/charts/chartview.h"
#include "ui/charts/energyview.h"
#include "ui/common/controls.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPointer>
#include <QRunnable>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QThreadPool>
#include <array>

namespace powerlog {

namespace {

constexpr int kClientWidth = 826;
constexpr int kClientHeight = 472;
constexpr int kChartTop = 65;
constexpr int kChartBottomMargin = kClientHeight - (65 + 376); // room for the legend

const QColor kAvgLegendFill(0, 255, 0);
const QColor kAvgLegendOutline(0, 200, 0);
const QColor kMaxLegendFill(255, 160, 160);

EnergyPeriod energyPeriodOf(ChartType type)
{
    switch (type) {
    case ChartType::Daily:
        return EnergyPeriod::Daily;
    case ChartType::Monthly:
        return EnergyPeriod::Monthly;
    case ChartType::Yearly:
        return EnergyPeriod::Yearly;
    }
    return EnergyPeriod::Daily;
}

bool isTariffSetting(Setting setting)
{
    return setting == Setting::PriceF1 || setting == Setting::PriceF2 ||
           setting == Setting::PriceF3 || setting == Setting::Currency;
}

QString watts(qint64 value)
{
    return QString::number(value) + QStringLiteral("W");
}

// A 16 x 16 legend square in a bar's colours, sharp at any scale.
QPixmap legendIcon(const QColor& fill, const QColor& outline, qreal ratio)
{
    QPixmap pixmap(QSize(16, 16) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(outline);
    painter.setBrush(fill);
    painter.drawRect(QRectF(3.5, 1.5, 9, 13));
    return pixmap;
}

QComboBox* makeList(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* list = placeControl<QComboBox>(parent, name, geometry);
    list->setEditable(false);
    list->setMaxVisibleItems(16);
    return list;
}

// Sets a list's selection from code, raising its handler as a user's choice does.
void chooseEntry(QComboBox* list, int index)
{
    list->setCurrentIndex(index);
}

// Empties a list without raising its handler.
void emptySilently(QComboBox* list)
{
    const QSignalBlocker blocker(list);
    list->clear();
}

// Writes a PNG off the window's thread; `done` runs back on the window's thread.
class ImageWriter : public QRunnable
{
public:
    ImageWriter(QImage image, QString path, QPointer<QObject> receiver,
                std::function<void(bool)> done)
        : m_image(std::move(image)), m_path(std::move(path)), m_receiver(std::move(receiver)),
          m_done(std::move(done))
    {
    }

    void run() override
    {
        const bool saved = m_image.save(m_path, "PNG");
        if (QObject* receiver = m_receiver.data())
            QMetaObject::invokeMethod(
                receiver, [done = m_done, saved] { done(saved); }, Qt::QueuedConnection);
    }

private:
    QImage m_image;
    QString m_path;
    QPointer<QObject> m_receiver;
    std::function<void(bool)> m_done;
};

} // namespace

ChartsWindow::ChartsWindow(ChartWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(std::move(services)),
      m_source(new ChartSource(m_services.reader, this)),
      m_energySource(new EnergySource(m_services.reader, this))
{
    setObjectName(QStringLiteral("FrmGraf"));
    resize(kClientWidth, kClientHeight);
    setMinimumSize(kClientWidth * 3 / 4, kClientHeight * 3 / 4);
    buildControls();
    wireSource();
    if (m_services.settings) {
        // Prices and currency are read when a text is made: a change needs only the summary
        // made again (the tooltips are made when they show).
        connect(m_services.settings, &Settings::changed, this, [this](Setting setting) {
            if (isTariffSetting(setting))
                showSummary();
        });
    }
}

ChartsWindow::~ChartsWindow() = default;

void ChartsWindow::buildControls()
{
    m_typeCaption = makeLabel(this, QStringLiteral("Lb_0"), QRect(10, 10, 101, 16));
    m_yearCaption = makeLabel(this, QStringLiteral("Lb_1"), QRect(125, 10, 66, 16));
    m_monthCaption = makeLabel(this, QStringLiteral("Lb_2"), QRect(200, 10, 76, 16));
    m_dayCaption = makeLabel(this, QStringLiteral("Lb_3"), QRect(285, 10, 51, 16));
    m_typeCaption->setText(QStringLiteral("Visualizzazione"));
    m_yearCaption->setText(QStringLiteral("Anno"));
    m_monthCaption->setText(QStringLiteral("Mese"));
    m_dayCaption->setText(QStringLiteral("Giorno"));

    m_typeList = makeList(this, QStringLiteral("Ctipo"), QRect(10, 25, 101, 21));
    m_yearList = makeList(this, QStringLiteral("Cyear"), QRect(125, 25, 71, 21));
    m_monthList = makeList(this, QStringLiteral("Cmonth"), QRect(200, 25, 81, 21));
    m_dayList = makeList(this, QStringLiteral("Cday"), QRect(285, 25, 56, 21));
    m_kindCaption = makeLabel(this, QStringLiteral("Lb_4"), QRect(355, 10, 81, 16));
    m_kindCaption->setText(QStringLiteral("Mostra"));
    m_kindList = makeList(this, QStringLiteral("Cview"), QRect(355, 25, 81, 21));
    for (QComboBox* list : {m_typeList, m_yearList, m_monthList, m_dayList, m_kindList}) {
        list->installEventFilter(this);
        list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    }
    // A list signals only a change of its selection, so choosing the entry already chosen
    // does nothing, while any other entry, even one chosen before, is handled. Code that
    // removes a selection or refills a list does so silently.
    connect(m_typeList, &QComboBox::currentIndexChanged, this, &ChartsWindow::chartTypeChosen);
    connect(m_yearList, &QComboBox::currentIndexChanged, this, &ChartsWindow::yearChosen);
    connect(m_monthList, &QComboBox::currentIndexChanged, this, &ChartsWindow::monthChosen);
    connect(m_dayList, &QComboBox::currentIndexChanged, this, &ChartsWindow::dayChosen);
    connect(m_kindList, &QComboBox::currentIndexChanged, this, &ChartsWindow::chartKindChosen);

    m_periodLabel = makeLabel(this, QStringLiteral("Lpe"), QRect(125, 46, 306, 16));
    QFont periodFont(QStringLiteral("DejaVu Serif"));
    periodFont.setStyleHint(QFont::Serif);
    periodFont.setPointSizeF(6.75);
    m_periodLabel->setFont(periodFont);
    m_periodLabel->setText(QStringLiteral("Periodo dati"));

    m_chartView = new ChartView(this);
    m_chartView->setObjectName(QStringLiteral("PicGra"));
    m_chartView->setToolTipText(
        [this](const ChartSeries& series, int group) { return toolTipFor(series, group); });
    m_saveImageAction = new QAction(this);
    m_saveImageAction->setObjectName(QStringLiteral("SaveImage"));
    connect(m_saveImageAction, &QAction::triggered, this, &ChartsWindow::saveImage);
    m_chartView->addAction(m_saveImageAction);
    m_chartView->setContextMenuPolicy(Qt::ActionsContextMenu);

    m_energyView = new EnergyView(this);
    m_energyView->setObjectName(QStringLiteral("PicEnergy"));
    m_energyView->setToolTipText([this](const EnergyTable& table, int index) {
        return wording().toolTip(table, index, now());
    });
    m_energyView->addAction(m_saveImageAction);
    m_energyView->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_energyView->hide();

    m_averageIcon = makeLabel(this, QStringLiteral("Imed"), QRect(15, 445, 16, 16));
    m_averageLabel = makeLabel(this, QStringLiteral("Lmed"), QRect(35, 447, 141, 16));
    m_maximumIcon = makeLabel(this, QStringLiteral("Imax"), QRect(180, 445, 16, 16));
    m_maximumLabel = makeLabel(this, QStringLiteral("Lmax"), QRect(200, 447, 156, 16));
    m_averageLabel->setText(QStringLiteral("Potenza Media : 000W"));
    m_maximumLabel->setText(QStringLiteral("Potenza Massima : 000W"));
    m_energyLabel = makeLabel(this, QStringLiteral("Lenergy"), QRect(15, 447, 796, 16));
    m_energyLabel->hide();
}

void ChartsWindow::fitLists()
{
    // The lists keep their places and widths, and grow (pushing the next ones right) when a
    // text would not fit: month names are long in some languages and fonts.
    struct Column
    {
        QComboBox* list;
        QLabel* caption;
        int left;  // of the list and its caption
        int width; // the list's narrowest
    };
    const std::array<Column, 5> columns{{{m_typeList, m_typeCaption, 10, 101},
                                         {m_yearList, m_yearCaption, 125, 71},
                                         {m_monthList, m_monthCaption, 200, 81},
                                         {m_dayList, m_dayCaption, 285, 56},
                                         {m_kindList, m_kindCaption, 355, 81}}};
    const QScopedValueRollback fitting(m_fittingLists, true);
    int shift = 0;
    for (const Column& column : columns) {
        const int width = std::max(column.width, column.list->sizeHint().width());
        column.list->setGeometry(column.left + shift, 25, width, column.list->height());
        column.caption->move(column.left + shift, 10);
        shift += width - column.width;
    }
}

void ChartsWindow::wireSource()
{
    connect(m_source, &ChartSource::rangeRead, this, &ChartsWindow::showRecordedRange);
    connect(m_source, &ChartSource::monthsRead, this, &ChartsWindow::fillMonths);
    connect(m_source, &ChartSource::daysRead, this, &ChartsWindow::fillDays);
    connect(m_source, &ChartSource::chartRead, this, &ChartsWindow::showChart);
    connect(m_source, &ChartSource::chartFailed, this, &ChartsWindow::reportChartFailure);
    connect(m_energySource, &EnergySource::tableRead, this, &ChartsWindow::showEnergy);
    connect(m_energySource, &EnergySource::tableFailed, this, &ChartsWindow::reportEnergyFailure);
}

void ChartsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        beginOpening();
    }
}

void ChartsWindow::beginOpening()
{
    setLanguage(m_services.languageCode);
    m_scale = ChartScale::fromLineIndex(m_services.linePowerIndex);
    chooseEntry(m_typeList, 0);
    // The rest follows the answers: range, then the last year's months, then the last
    // month's days, then the last day's chart.
    m_openingDay = QDate();
    m_source->requestRange();
}

void ChartsWindow::closeEvent(QCloseEvent* event)
{
    resetForNextOpening();
    QWidget::closeEvent(event);
}

void ChartsWindow::resetForNextOpening()
{
    cancelCharts();
    m_openingDay.reset();
    m_loaded = false;
}

void ChartsWindow::setLanguage(const QString& code)
{
    const std::optional<int> column = languageColumn(code);
    if (!column)
        return;
    m_languageCode = code;
    const auto text = [&](Text id) { return textIn(id, *column); };
    setWindowTitle(text(Text::ChartCaption));
    m_typeCaption->setText(text(Text::ChartVisualization));
    m_yearCaption->setText(text(Text::ChartYear));
    m_monthCaption->setText(text(Text::ChartMonth));
    m_dayCaption->setText(text(Text::ChartDay));
    m_kindCaption->setText(text(Text::ChartShow));
    m_periodPrefix = text(Text::ChartDataPrefix);
    m_averagePowerPrefix = text(Text::ChartAvgPrefix);
    m_maximumPowerPrefix = text(Text::ChartMaxPrefix);
    m_saveImageAction->setText(text(Text::ChartSaveImage));
    m_periodLabel->setText(m_periodText.isEmpty() ? text(Text::ChartNoData)
                                                  : m_periodPrefix + m_periodText);

    {
        // Entries are renamed in place: the selections stay.
        const QSignalBlocker blocker(m_typeList);
        const QStringList types{text(Text::ChartDaily), text(Text::ChartMonthly),
                                text(Text::ChartYearly)};
        if (m_typeList->count() != types.size()) {
            m_typeList->clear();
            m_typeList->addItems(types);
            m_typeList->setCurrentIndex(-1);
        } else {
            for (int i = 0; i < types.size(); ++i)
                m_typeList->setItemText(i, types[i]);
        }
    }
    {
        const QSignalBlocker blocker(m_kindList);
        const QStringList kinds{text(Text::ChartPower), text(Text::ChartEnergy)};
        if (m_kindList->count() != kinds.size()) {
            m_kindList->clear();
            m_kindList->addItems(kinds);
            m_kindList->setCurrentIndex(m_kind == Kind::Energy ? 1 : 0);
        } else {
            for (int i = 0; i < kinds.size(); ++i)
                m_kindList->setItemText(i, kinds[i]);
        }
    }
    {
        const QSignalBlocker blocker(m_monthList);
        for (int i = 0; i < m_monthNumbers.size() && i < m_monthList->count(); ++i)
            m_monthList->setItemText(i, monthName(m_monthNumbers[i]));
    }
    fitLists();
    // The energy chart's month names and numbers are in the language too.
    showTable();
}

QString ChartsWindow::monthName(int month) const
{
    if (month < 1 || month > 12)
        return {};
    return textFor(static_cast<Text>(static_cast<int>(Text::MonthName1) + month - 1),
                   m_languageCode);
}

ChartType ChartsWindow::selectedType() const
{
    return static_cast<ChartType>(std::clamp(m_typeList->currentIndex(), 0, 2) + 1);
}

ChartsWindow::Kind ChartsWindow::selectedKind() const
{
    return m_kindList->currentIndex() == 1 ? Kind::Energy : Kind::Power;
}

std::optional<int> ChartsWindow::selectedYear() const
{
    bool ok = false;
    const int year = m_yearList->currentText().toInt(&ok);
    if (m_yearList->currentIndex() < 0 || !ok)
        return std::nullopt;
    return year;
}

std::optional<int> ChartsWindow::selectedMonth() const
{
    const int index = m_monthList->currentIndex();
    if (index < 0 || index >= m_monthNumbers.size())
        return std::nullopt;
    return m_monthNumbers[index];
}

std::optional<QDate> ChartsWindow::selectedDay() const
{
    const std::optional<int> year = selectedYear();
    const std::optional<int> month = selectedMonth();
    bool ok = false;
    const int day = m_dayList->currentText().toInt(&ok);
    if (!year || !month || m_dayList->currentIndex() < 0 || !ok)
        return std::nullopt;
    const QDate date(*year, *month, day);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

void ChartsWindow::chartTypeChosen()
{
    const ChartType type = selectedType();
    QDate date; // of the period the lists give, if they give one
    switch (type) {
    case ChartType::Daily:
        m_dayList->setEnabled(true);
        m_monthList->setEnabled(true);
        date = selectedDay().value_or(QDate());
        break;
    case ChartType::Monthly: {
        {
            const QSignalBlocker blocker(m_dayList);
            m_dayList->setCurrentIndex(-1);
        }
        m_dayList->setEnabled(false);
        m_monthList->setEnabled(true);
        const std::optional<int> year = selectedYear();
        const std::optional<int> month = selectedMonth();
        if (year && month)
            date = QDate(*year, *month, 1);
        break;
    }
    case ChartType::Yearly: {
        emptySilently(m_dayList);
        {
            const QSignalBlocker blocker(m_monthList);
            m_monthList->setCurrentIndex(-1);
        }
        m_dayList->setEnabled(false);
        m_monthList->setEnabled(false);
        const std::optional<int> year = selectedYear();
        if (year)
            date = QDate(*year, 1, 1);
        break;
    }
    }
    startChart(type, date);
}

void ChartsWindow::chartKindChosen()
{
    m_kind = selectedKind();
    const bool energy = m_kind == Kind::Energy;
    m_chartView->setVisible(!energy);
    m_energyView->setVisible(energy);
    for (QWidget* power :
         {static_cast<QWidget*>(m_averageIcon), static_cast<QWidget*>(m_averageLabel),
          static_cast<QWidget*>(m_maximumIcon), static_cast<QWidget*>(m_maximumLabel)})
        power->setVisible(!energy);
    m_energyLabel->setVisible(energy);
    // Each chart is read only for a period it does not hold yet.
    const std::optional<Period>& held = energy ? m_tableFor : m_seriesFor;
    if (m_period && held != m_period)
        startChart(m_period->type, m_period->date);
}

void ChartsWindow::yearChosen()
{
    const std::optional<int> year = selectedYear();
    if (!year)
        return;
    if (selectedType() == ChartType::Yearly)
        buildChart(ChartType::Yearly, QDate(*year, 1, 1));
    emptySilently(m_monthList);
    emptySilently(m_dayList);
    m_monthNumbers.clear();
    m_source->requestMonths(*year);
}

void ChartsWindow::fillMonths(int year, const QList<int>& months, bool ok)
{
    // An answer for a year no longer selected, or a list that could not be read, is dropped.
    if (!ok || selectedYear() != year || m_monthList->count() > 0) {
        if (m_openingDay && m_openingDay->isValid() && m_openingDay->year() == year)
            m_openingDay.reset();
        return;
    }
    {
        const QSignalBlocker blocker(m_monthList);
        m_monthNumbers.clear();
        for (int month : months) {
            m_monthNumbers << month;
            m_monthList->addItem(monthName(month));
        }
        m_monthList->setCurrentIndex(-1);
    }
    fitLists();
    if (!m_openingDay || !m_openingDay->isValid() || m_openingDay->year() != year) {
        m_openingDay.reset();
        return;
    }
    const int index = m_monthList->findText(monthName(m_openingDay->month()), Qt::MatchExactly);
    if (index < 0) {
        m_openingDay.reset();
        return;
    }
    chooseEntry(m_monthList, index);
}

void ChartsWindow::monthChosen()
{
    const std::optional<int> month = selectedMonth();
    if (!month)
        return;
    const std::optional<int> year = selectedYear();
    if (selectedType() == ChartType::Monthly && year)
        buildChart(ChartType::Monthly, QDate(*year, *month, 1));
    emptySilently(m_dayList);
    if (year)
        m_source->requestDays(*year, *month);
}

void ChartsWindow::fillDays(int year, int month, const QList<int>& days, bool ok)
{
    if (!ok || selectedYear() != year || selectedMonth() != month || m_dayList->count() > 0) {
        m_openingDay.reset();
        return;
    }
    {
        const QSignalBlocker blocker(m_dayList);
        for (int day : days)
            m_dayList->addItem(QString::number(day));
        m_dayList->setCurrentIndex(-1);
    }
    const std::optional<QDate> target = m_openingDay;
    m_openingDay.reset();
    if (!target || !target->isValid() || target->year() != year || target->month() != month)
        return;
    const int index = m_dayList->findText(QString::number(target->day()), Qt::MatchExactly);
    if (index >= 0)
        chooseEntry(m_dayList, index);
}

void ChartsWindow::dayChosen()
{
    const std::optional<QDate> day = selectedDay();
    if (!day) {
        startChart(selectedType(), QDate());
        return;
    }
    buildChart(selectedType(), *day);
}

void ChartsWindow::buildChart(ChartType type, const QDate& date)
{
    m_period = Period{type, date};
    if (m_kind == Kind::Power) {
        m_chartPending = true;
        m_seriesFor = m_period;
        m_source->requestChart(type, date);
    } else {
        m_energyPending = true;
        m_tableFor = m_period;
        m_energySource->requestTable(energyPeriodOf(type), date);
    }
}

void ChartsWindow::startChart(ChartType type, const QDate& date)
{
    m_period = Period{type, date};
    if (m_kind == Kind::Power) {
        m_source->cancelChart();
        m_chartPending = false;
        m_series = ChartSeries::empty(type, date);
        m_seriesFor = m_period;
    } else {
        m_energySource->cancel();
        m_energyPending = false;
        m_table = EnergyTable::empty(energyPeriodOf(type), date);
        m_tableFor = m_period;
    }
    if (date.isValid())
        buildChart(type, date);
    else if (m_kind == Kind::Power)
        showSeries(m_series);
    else
        showTable();
}

void ChartsWindow::cancelCharts()
{
    // A chart whose read is cancelled is held for no period.
    if (m_chartPending)
        m_seriesFor.reset();
    if (m_energyPending)
        m_tableFor.reset();
    m_source->cancelChart();
    m_energySource->cancel();
    m_chartPending = false;
    m_energyPending = false;
}

void ChartsWindow::showRecordedRange(const RecordedRange& range, bool ok)
{
    if (!ok || range.isEmpty()) {
        m_periodText = QStringLiteral(" No data");
        m_periodLabel->setText(m_periodPrefix + m_periodText);
        m_openingDay.reset();
        return;
    }
    const QLocale locale;
    const QString pattern = QStringLiteral("dd MMMM yyyy");
    m_periodText = locale.toString(range.first, pattern) + QStringLiteral("  -  ") +
                   locale.toString(range.last, pattern);
    m_periodLabel->setText(m_periodPrefix + m_periodText);

    emptySilently(m_yearList);
    {
        const QSignalBlocker blocker(m_yearList);
        for (int year = range.first.year(); year <= range.last.year(); ++year)
            m_yearList->addItem(QString::number(year));
        m_yearList->setCurrentIndex(-1);
    }
    fitLists();
    m_openingDay = range.last;
    chooseEntry(m_yearList, m_yearList->count() - 1);
}

void ChartsWindow::showChart(const ChartSeries& series)
{
    m_chartPending = false;
    m_series = series;
    showSeries(m_series);
    emit chartShown();
}

void ChartsWindow::reportChartFailure(const ReadError& error)
{
    m_chartPending = false;
    showSeries(m_series);
    reportFailure(error);
}

void ChartsWindow::showEnergy(const EnergyTable& table)
{
    m_energyPending = false;
    m_table = table;
    showTable();
    emit energyShown();
}

void ChartsWindow::reportEnergyFailure(const ReadError& error)
{
    m_energyPending = false;
    showTable();
    reportFailure(error);
}

void ChartsWindow::reportFailure(const ReadError& error)
{
    // The engine's number when there is one (a file that cannot be opened has none).
    const QString text = error.number.isEmpty()
                             ? error.description
                             : error.number + QStringLiteral(" - ") + error.description;
    m_services.prompts.message({}, text, Prompts::Icon::Critical);
}

void ChartsWindow::showSeries(const ChartSeries& series)
{
    m_chartView->setChart(series, m_scale);
    showSummary();
}

void ChartsWindow::showTable()
{
    const EnergyWording words = wording();
    m_energyView->setChart({m_table, words.groupLabels(m_table), words.locale(),
                            textFor(Text::ChartEstimated, m_languageCode)});
    showSummary();
}

void ChartsWindow::showSummary()
{
    m_averageLabel->setText(m_averagePowerPrefix + watts(m_series.avgPower));
    m_maximumLabel->setText(m_maximumPowerPrefix + watts(m_series.maxPower));
    m_energyLabel->setText(wording().summary(m_table, now()));
}

EnergyWording ChartsWindow::wording() const
{
    if (!m_services.settings)
        return {m_languageCode, {}, {}};
    return {m_languageCode, tariffPrices(*m_services.settings), m_services.settings->currency()};
}

QDateTime ChartsWindow::now() const
{
    return m_services.clock ? m_services.clock->now() : QDateTime::currentDateTime();
}

bool ChartsWindow::isBusy() const
{
    return m_chartPending || m_energyPending || m_openingDay.has_value();
}

QString ChartsWindow::toolTipFor(const ChartSeries& series, int group) const
{
    if (group < 1 || group > series.groupCount())
        return {};
    const float avg = series.avg[group];
    const float max = series.max[group];
    if (avg <= 0 && max <= 0)
        return {};
    QString period;
    switch (series.type) {
    case ChartType::Daily: {
        const QTime start = QTime(0, 0).addSecs((group - 1) * 30 * 60);
        period = start.toString(QStringLiteral("HH:mm")) + QStringLiteral(" - ") +
                 start.addSecs(29 * 60).toString(QStringLiteral("HH:mm"));
        break;
    }
    case ChartType::Monthly:
        period = QLocale().toString(series.groupDate(group), QStringLiteral("dd MMMM yyyy"));
        break;
    case ChartType::Yearly:
        period = QString::number(series.groupDate(group).year());
        break;
    }
    return period + QLatin1Char('\n') + m_averagePowerPrefix + watts(qRound64(avg)) +
           QLatin1Char('\n') + m_maximumPowerPrefix + watts(qRound64(max));
}

void ChartsWindow::saveImage()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const bool energy = m_kind == Kind::Energy;
    const QDate shown = energy ? m_table.first : m_series.first;
    const QDate first = shown.isValid() ? shown : QDate::currentDate();
    const QString name =
        (energy ? QStringLiteral("powerlog-energy-%1.png") : QStringLiteral("powerlog-%1.png"))
            .arg(first.toString(Qt::ISODate));
    const QImage image = energy ? m_energyView->renderImage(devicePixelRatioF())
                                : m_chartView->renderImage(devicePixelRatioF());
    const QString notSaved = textFor(Text::ChartImageNotSaved, m_languageCode);
    Prompts& prompts = m_services.prompts;
    QPointer<QObject> self(this);
    m_services.files.askSaveFile(
        textFor(Text::ChartSaveImageTitle, m_languageCode), QDir(folder).filePath(name),
        textFor(Text::ChartImageFilter, m_languageCode),
        [image, notSaved, self, &prompts](const QString& chosen) {
            if (chosen.isEmpty() || !self)
                return;
            QString path = chosen;
            if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
                path += QStringLiteral(".png");
            auto* writer = new ImageWriter(image, path, self, [path, notSaved, &prompts](bool ok) {
                if (!ok)
                    prompts.message({}, notSaved.arg(QDir::toNativeSeparators(path)),
                                    Prompts::Icon::Exclamation);
            });
            QThreadPool::globalInstance()->start(writer);
        });
}

bool ChartsWindow::eventFilter(QObject* watched, QEvent* event)
{
    // A list sized to its contents resizes itself a moment after they change, to its own
    // hint and without regard for its neighbours: the row is laid out again after it.
    if (event->type() == QEvent::Resize && !m_fittingLists && qobject_cast<QComboBox*>(watched))
        QMetaObject::invokeMethod(this, &ChartsWindow::fitLists, Qt::QueuedConnection);
    // The lists take a selection only: typed characters are dropped, the arrow keys still
    // move the selection.
    if (event->type() == QEvent::KeyPress && qobject_cast<QComboBox*>(watched)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->text().isEmpty() && key->text().at(0).isPrint())
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ChartsWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int chartHeight = std::max(1, height() - kChartTop - kChartBottomMargin);
    m_chartView->setGeometry(0, kChartTop, width(), chartHeight);
    m_energyView->setGeometry(0, kChartTop, width(), chartHeight);
    const int legendTop = kChartTop + chartHeight + 4;
    m_energyLabel->setGeometry(15, legendTop + 2, std::max(1, width() - 30),
                               m_energyLabel->height());
    m_averageIcon->move(15, legendTop);
    m_averageLabel->move(35, legendTop + 2);
    m_maximumIcon->move(180, legendTop);
    m_maximumLabel->move(200, legendTop + 2);
    const qreal ratio = devicePixelRatioF();
    m_averageIcon->setPixmap(legendIcon(kAvgLegendFill, kAvgLegendOutline, ratio));
    m_maximumIcon->setPixmap(legendIcon(kMaxLegendFill, kMaxLegendFill, ratio));
}

void ChartsWindow::paintEvent(QPaintEvent*)
{
    // The window's backdrop: a quiet light gradient behind the lists and the legend.
    QPainter painter(this);
    QLinearGradient backdrop(0, 0, 0, height());
    backdrop.setColorAt(0, QColor(236, 240, 245));
    backdrop.setColorAt(1, QColor(214, 222, 232));
    painter.fillRect(rect(), backdrop);
}

} // namespace powerlog
