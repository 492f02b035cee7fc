#include "ui/charts/frmgraf.h"

#include "acquisition/chartqueries.h"
#include "app/filedialogs.h"
#include "app/language.h"
#include "app/prompts.h"
#include "ui/charts/chartview.h"
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
#include <QStandardPaths>
#include <QThreadPool>

namespace powerlog {

namespace {

constexpr int kClientWidth = 826;
constexpr int kClientHeight = 472;
constexpr int kChartTop = 65;
constexpr int kChartBottomMargin = kClientHeight - (65 + 376); // room for the legend

const QColor kAvgLegendFill(0, 255, 0);
const QColor kAvgLegendOutline(0, 200, 0);
const QColor kMaxLegendFill(255, 160, 160);

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
void select(QComboBox* list, int index)
{
    list->setCurrentIndex(index);
}

// Empties a list without raising its handler.
void empty(QComboBox* list)
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

FrmGraf::FrmGraf(ChartWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(std::move(services)),
      m_source(new ChartSource(m_services.reader, this))
{
    setObjectName(QStringLiteral("FrmGraf"));
    resize(kClientWidth, kClientHeight);
    setMinimumSize(kClientWidth * 3 / 4, kClientHeight * 3 / 4);
    buildControls();
    wireSource();
}

FrmGraf::~FrmGraf() = default;

void FrmGraf::buildControls()
{
    const std::array<QRect, 4> captions{QRect(10, 10, 101, 16), QRect(125, 10, 66, 16),
                                        QRect(200, 10, 76, 16), QRect(285, 10, 51, 16)};
    for (int i = 0; i < 4; ++i)
        m_lb[i] = makeLabel(this, QStringLiteral("Lb_%1").arg(i), captions[i]);
    m_lb[0]->setText(QStringLiteral("Visualizzazione"));
    m_lb[1]->setText(QStringLiteral("Anno"));
    m_lb[2]->setText(QStringLiteral("Mese"));
    m_lb[3]->setText(QStringLiteral("Giorno"));

    m_ctipo = makeList(this, QStringLiteral("Ctipo"), QRect(10, 25, 101, 21));
    m_cyear = makeList(this, QStringLiteral("Cyear"), QRect(125, 25, 71, 21));
    m_cmonth = makeList(this, QStringLiteral("Cmonth"), QRect(200, 25, 81, 21));
    m_cday = makeList(this, QStringLiteral("Cday"), QRect(285, 25, 56, 21));
    for (QComboBox* list : {m_ctipo, m_cyear, m_cmonth, m_cday}) {
        list->installEventFilter(this);
        list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    }
    connect(m_ctipo, &QComboBox::currentIndexChanged, this, &FrmGraf::Ctipo_Click);
    connect(m_cyear, &QComboBox::currentIndexChanged, this, &FrmGraf::Cyear_Click);
    connect(m_cmonth, &QComboBox::currentIndexChanged, this, &FrmGraf::Cmonth_Click);
    connect(m_cday, &QComboBox::currentIndexChanged, this, &FrmGraf::Cday_Click);

    m_lpe = makeLabel(this, QStringLiteral("Lpe"), QRect(125, 46, 306, 16));
    QFont periodFont(QStringLiteral("DejaVu Serif"));
    periodFont.setStyleHint(QFont::Serif);
    periodFont.setPointSizeF(6.75);
    m_lpe->setFont(periodFont);
    m_lpe->setText(QStringLiteral("Periodo dati"));

    m_picGra = new ChartView(this);
    m_picGra->setObjectName(QStringLiteral("PicGra"));
    m_picGra->setToolTipText(
        [this](const ChartSeries& series, int group) { return toolTipFor(series, group); });
    m_saveImage = new QAction(this);
    m_saveImage->setObjectName(QStringLiteral("SaveImage"));
    connect(m_saveImage, &QAction::triggered, this, &FrmGraf::saveImage);
    m_picGra->addAction(m_saveImage);
    m_picGra->setContextMenuPolicy(Qt::ActionsContextMenu);

    m_imed = makeLabel(this, QStringLiteral("Imed"), QRect(15, 445, 16, 16));
    m_lmed = makeLabel(this, QStringLiteral("Lmed"), QRect(35, 447, 141, 16));
    m_imax = makeLabel(this, QStringLiteral("Imax"), QRect(180, 445, 16, 16));
    m_lmax = makeLabel(this, QStringLiteral("Lmax"), QRect(200, 447, 156, 16));
    m_lmed->setText(QStringLiteral("Potenza Media : 000W"));
    m_lmax->setText(QStringLiteral("Potenza Massima : 000W"));
}

void FrmGraf::fitLists()
{
    // The lists keep their places and widths, and grow (pushing the next ones right) when a
    // text would not fit: month names are long in some languages and fonts.
    const std::array<QComboBox*, 4> lists{m_ctipo, m_cyear, m_cmonth, m_cday};
    const std::array<int, 4> designLeft{10, 125, 200, 285};
    const std::array<int, 4> designWidth{101, 71, 81, 56};
    int shift = 0;
    for (int i = 0; i < 4; ++i) {
        const int width = std::max(designWidth[i], lists[i]->sizeHint().width());
        lists[i]->setGeometry(designLeft[i] + shift, 25, width, lists[i]->height());
        m_lb[i]->move(designLeft[i] + shift, 10);
        shift += width - designWidth[i];
    }
}

void FrmGraf::wireSource()
{
    connect(m_source, &ChartSource::rangeRead, this, &FrmGraf::onRangeRead);
    connect(m_source, &ChartSource::monthsRead, this, &FrmGraf::onMonthsRead);
    connect(m_source, &ChartSource::daysRead, this, &FrmGraf::onDaysRead);
    connect(m_source, &ChartSource::chartRead, this, &FrmGraf::onChartRead);
    connect(m_source, &ChartSource::chartFailed, this, &FrmGraf::onChartFailed);
}

void FrmGraf::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void FrmGraf::Form_Load()
{
    SetLanguage(m_services.languageCode);
    m_scale = ChartScale::fromLineIndex(m_services.linePowerIndex);
    select(m_ctipo, 0);
    // The rest follows the answers: range, then the last year's months, then the last
    // month's days, then the last day's chart.
    m_openingDay = QDate();
    m_source->requestRange();
}

void FrmGraf::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    QWidget::closeEvent(event);
}

void FrmGraf::Form_Unload()
{
    m_lastYearText.clear();
    m_lastMonthText.clear();
    m_source->cancelChart();
    m_chartPending = false;
    m_openingDay.reset();
    m_loaded = false;
}

void FrmGraf::SetLanguage(const QString& code)
{
    const std::optional<int> column = languageColumn(code);
    if (!column)
        return;
    m_languageCode = code;
    const auto text = [&](Text id) { return textIn(id, *column); };
    setWindowTitle(text(Text::ChartCaption));
    m_lb[0]->setText(text(Text::ChartVisualization));
    m_lb[1]->setText(text(Text::ChartYear));
    m_lb[2]->setText(text(Text::ChartMonth));
    m_lb[3]->setText(text(Text::ChartDay));
    m_dbDataPrefix = text(Text::ChartDataPrefix);
    m_avgPowerPrefix = text(Text::ChartAvgPrefix);
    m_maxPowerPrefix = text(Text::ChartMaxPrefix);
    m_saveImage->setText(text(Text::ChartSaveImage));
    m_lpe->setText(m_periodText.isEmpty() ? text(Text::ChartNoData)
                                          : m_dbDataPrefix + m_periodText);

    {
        // Entries are renamed in place: the selections and the remembered texts stay.
        const QSignalBlocker blocker(m_ctipo);
        const QStringList types{text(Text::ChartDaily), text(Text::ChartMonthly),
                                text(Text::ChartYearly)};
        if (m_ctipo->count() != types.size()) {
            m_ctipo->clear();
            m_ctipo->addItems(types);
            m_ctipo->setCurrentIndex(-1);
        } else {
            for (int i = 0; i < types.size(); ++i)
                m_ctipo->setItemText(i, types[i]);
        }
    }
    {
        const QSignalBlocker blocker(m_cmonth);
        const bool remembered = m_lastMonthText == m_cmonth->currentText();
        for (int i = 0; i < m_monthNumbers.size() && i < m_cmonth->count(); ++i)
            m_cmonth->setItemText(i, monthName(m_monthNumbers[i]));
        if (remembered && m_cmonth->currentIndex() >= 0)
            m_lastMonthText = m_cmonth->currentText();
    }
    fitLists();
    showSummary();
}

QString FrmGraf::monthName(int month) const
{
    if (month < 1 || month > 12)
        return {};
    return textFor(static_cast<Text>(static_cast<int>(Text::MonthName1) + month - 1),
                   m_languageCode);
}

ChartType FrmGraf::selectedType() const
{
    return static_cast<ChartType>(std::clamp(m_ctipo->currentIndex(), 0, 2) + 1);
}

std::optional<int> FrmGraf::selectedYear() const
{
    bool ok = false;
    const int year = m_cyear->currentText().toInt(&ok);
    if (m_cyear->currentIndex() < 0 || !ok)
        return std::nullopt;
    return year;
}

std::optional<int> FrmGraf::selectedMonth() const
{
    const int index = m_cmonth->currentIndex();
    if (index < 0 || index >= m_monthNumbers.size())
        return std::nullopt;
    return m_monthNumbers[index];
}

std::optional<QDate> FrmGraf::selectedDay() const
{
    const std::optional<int> year = selectedYear();
    const std::optional<int> month = selectedMonth();
    bool ok = false;
    const int day = m_cday->currentText().toInt(&ok);
    if (!year || !month || m_cday->currentIndex() < 0 || !ok)
        return std::nullopt;
    const QDate date(*year, *month, day);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

void FrmGraf::Ctipo_Click()
{
    const ChartType type = selectedType();
    m_source->cancelChart();
    m_chartPending = false;
    switch (type) {
    case ChartType::Daily:
        m_cday->setEnabled(true);
        m_cmonth->setEnabled(true);
        m_series = ChartSeries::empty(type, selectedDay().value_or(QDate()));
        if (const std::optional<QDate> day = selectedDay())
            BuildChart(type, *day);
        break;
    case ChartType::Monthly: {
        {
            const QSignalBlocker blocker(m_cday);
            m_cday->setCurrentIndex(-1);
        }
        m_cday->setEnabled(false);
        m_cmonth->setEnabled(true);
        const std::optional<int> year = selectedYear();
        const std::optional<int> month = selectedMonth();
        m_series = ChartSeries::empty(type, year && month ? QDate(*year, *month, 1) : QDate());
        if (year && month)
            BuildChart(type, QDate(*year, *month, 1));
        break;
    }
    case ChartType::Yearly: {
        empty(m_cday);
        {
            const QSignalBlocker blocker(m_cmonth);
            m_cmonth->setCurrentIndex(-1);
        }
        m_cday->setEnabled(false);
        m_cmonth->setEnabled(false);
        const std::optional<int> year = selectedYear();
        m_series = ChartSeries::empty(type, year ? QDate(*year, 1, 1) : QDate());
        if (year)
            BuildChart(type, QDate(*year, 1, 1));
        break;
    }
    }
    if (!m_chartPending)
        showSeries(m_series);
}

void FrmGraf::Cyear_Click()
{
    const QString text = m_cyear->currentText();
    if (text == m_lastYearText)
        return;
    m_lastYearText = text;
    // A month of the same name in another year is another month.
    m_lastMonthText.clear();
    const std::optional<int> year = selectedYear();
    if (!year)
        return;
    if (selectedType() == ChartType::Yearly)
        BuildChart(ChartType::Yearly, QDate(*year, 1, 1));
    empty(m_cmonth);
    empty(m_cday);
    m_monthNumbers.clear();
    m_source->requestMonths(*year);
}

void FrmGraf::onMonthsRead(int year, const QList<int>& months, bool ok)
{
    // An answer for a year no longer selected, or a list that could not be read, is dropped.
    if (!ok || selectedYear() != year || m_cmonth->count() > 0) {
        if (m_openingDay && m_openingDay->isValid() && m_openingDay->year() == year)
            m_openingDay.reset();
        return;
    }
    {
        const QSignalBlocker blocker(m_cmonth);
        m_monthNumbers.clear();
        for (int month : months) {
            m_monthNumbers << month;
            m_cmonth->addItem(monthName(month));
        }
        m_cmonth->setCurrentIndex(-1);
    }
    fitLists();
    if (!m_openingDay || !m_openingDay->isValid() || m_openingDay->year() != year) {
        m_openingDay.reset();
        return;
    }
    const int index = m_cmonth->findText(monthName(m_openingDay->month()), Qt::MatchExactly);
    if (index < 0) {
        m_openingDay.reset();
        return;
    }
    select(m_cmonth, index);
}

void FrmGraf::Cmonth_Click()
{
    const QString text = m_cmonth->currentText();
    if (text == m_lastMonthText)
        return;
    m_lastMonthText = text;
    const std::optional<int> month = selectedMonth();
    if (!month)
        return;
    const std::optional<int> year = selectedYear();
    if (selectedType() == ChartType::Monthly && year)
        BuildChart(ChartType::Monthly, QDate(*year, *month, 1));
    empty(m_cday);
    if (year)
        m_source->requestDays(*year, *month);
}

void FrmGraf::onDaysRead(int year, int month, const QList<int>& days, bool ok)
{
    if (!ok || selectedYear() != year || selectedMonth() != month || m_cday->count() > 0) {
        m_openingDay.reset();
        return;
    }
    {
        const QSignalBlocker blocker(m_cday);
        for (int day : days)
            m_cday->addItem(QString::number(day));
        m_cday->setCurrentIndex(-1);
    }
    const std::optional<QDate> target = m_openingDay;
    m_openingDay.reset();
    if (!target || !target->isValid() || target->year() != year || target->month() != month)
        return;
    const int index = m_cday->findText(QString::number(target->day()), Qt::MatchExactly);
    if (index >= 0)
        select(m_cday, index);
}

void FrmGraf::Cday_Click()
{
    const std::optional<QDate> day = selectedDay();
    if (!day) {
        m_source->cancelChart();
        m_chartPending = false;
        m_series = ChartSeries::empty(selectedType(), QDate());
        showSeries(m_series);
        return;
    }
    BuildChart(selectedType(), *day);
}

void FrmGraf::BuildChart(ChartType type, const QDate& date)
{
    m_chartPending = true;
    m_source->requestChart(type, date);
}

void FrmGraf::onRangeRead(const RecordedRange& range, bool ok)
{
    if (!ok || range.isEmpty()) {
        m_periodText = QStringLiteral(" No data");
        m_lpe->setText(m_dbDataPrefix + m_periodText);
        m_openingDay.reset();
        return;
    }
    const QLocale locale;
    const QString pattern = QStringLiteral("dd MMMM yyyy");
    m_periodText = locale.toString(range.first, pattern) + QStringLiteral("  -  ") +
                   locale.toString(range.last, pattern);
    m_lpe->setText(m_dbDataPrefix + m_periodText);

    empty(m_cyear);
    {
        const QSignalBlocker blocker(m_cyear);
        for (int year = range.first.year(); year <= range.last.year(); ++year)
            m_cyear->addItem(QString::number(year));
        m_cyear->setCurrentIndex(-1);
    }
    fitLists();
    m_openingDay = range.last;
    select(m_cyear, m_cyear->count() - 1);
}

void FrmGraf::onChartRead(const ChartSeries& series)
{
    m_chartPending = false;
    m_series = series;
    showSeries(m_series);
    emit chartShown();
}

void FrmGraf::onChartFailed(const ReadError& error)
{
    m_chartPending = false;
    showSeries(m_series);
    // The engine's number when there is one (a file that cannot be opened has none).
    const QString text = error.number.isEmpty()
                             ? error.description
                             : error.number + QStringLiteral(" - ") + error.description;
    m_services.prompts.message({}, text, Prompts::Icon::Critical);
}

void FrmGraf::showSeries(const ChartSeries& series)
{
    m_picGra->setChart(series, m_scale);
    showSummary();
}

void FrmGraf::showSummary()
{
    m_lmed->setText(m_avgPowerPrefix + watts(m_series.avgPower));
    m_lmax->setText(m_maxPowerPrefix + watts(m_series.maxPower));
}

bool FrmGraf::isBusy() const
{
    return m_chartPending || m_openingDay.has_value();
}

QString FrmGraf::toolTipFor(const ChartSeries& series, int group) const
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
    return period + QLatin1Char('\n') + m_avgPowerPrefix + watts(qRound64(avg)) +
           QLatin1Char('\n') + m_maxPowerPrefix + watts(qRound64(max));
}

void FrmGraf::saveImage()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QDate first = m_series.first.isValid() ? m_series.first : QDate::currentDate();
    const QString name = QStringLiteral("powerlog-%1.png").arg(first.toString(Qt::ISODate));
    const QImage image = m_picGra->renderImage(devicePixelRatioF());
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

bool FrmGraf::eventFilter(QObject* watched, QEvent* event)
{
    // The lists take a selection only: typed characters are dropped, the arrow keys still
    // move the selection.
    if (event->type() == QEvent::KeyPress && qobject_cast<QComboBox*>(watched)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->text().isEmpty() && key->text().at(0).isPrint())
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void FrmGraf::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int chartHeight = std::max(1, height() - kChartTop - kChartBottomMargin);
    m_picGra->setGeometry(0, kChartTop, width(), chartHeight);
    const int legendTop = kChartTop + chartHeight + 4;
    m_imed->move(15, legendTop);
    m_lmed->move(35, legendTop + 2);
    m_imax->move(180, legendTop);
    m_lmax->move(200, legendTop + 2);
    const qreal ratio = devicePixelRatioF();
    m_imed->setPixmap(legendIcon(kAvgLegendFill, kAvgLegendOutline, ratio));
    m_imax->setPixmap(legendIcon(kMaxLegendFill, kMaxLegendFill, ratio));
}

void FrmGraf::paintEvent(QPaintEvent*)
{
    // The window's backdrop: a quiet light gradient behind the lists and the legend.
    QPainter painter(this);
    QLinearGradient backdrop(0, 0, 0, height());
    backdrop.setColorAt(0, QColor(236, 240, 245));
    backdrop.setColorAt(1, QColor(214, 222, 232));
    painter.fillRect(rect(), backdrop);
}

} // namespace powerlog
