#include "ui/export/exportwindow.h"

#include "acquisition/energyexport.h"
#include "acquisition/exportformat.h"
#include "app/filedialogs.h"
#include "app/language.h"
#include "app/prompts.h"
#include "ui/common/controls.h"
#include "ui/common/databaseprompts.h"
#include "ui/common/placement.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <array>

namespace powerlog {

namespace {

constexpr int kBottomMarginPixels = 30; // 450 twips
const QString kSuccessTitle = QStringLiteral("Powerlog");
const QString kProposedName = QStringLiteral("Export");
// The period pickers' range while the whole table is chosen.
const QDate kEarliestDate(2000, 1, 1);

constexpr std::array<Text, 5> kHeadingTexts{Text::ExportHeadingTension, Text::ExportHeadingCurrent,
                                            Text::ExportHeadingPower, Text::ExportHeadingEnergy,
                                            Text::ExportHeadingDate};
constexpr std::array<Text, 6> kHourHeadingTexts{Text::ExportHeadingHour,  Text::ExportHeadingKwh,
                                                Text::ExportHeadingKwhF1, Text::ExportHeadingKwhF2,
                                                Text::ExportHeadingKwhF3, Text::ExportHeadingCost};
// The kinds of export in the order the kind choice offers them.
constexpr std::array<std::pair<ExportKind, Text>, 2> kKinds{
    {{ExportKind::Readings, Text::ExportKindReadings},
     {ExportKind::HourlyEnergy, Text::ExportKindHourly}}};

QDateTimeEdit* makePicker(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* picker = placeControl<QDateTimeEdit>(parent, name, geometry);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(exportDateTimeFormat(QLocale()));
    return picker;
}

} // namespace

ExportWindow::ExportWindow(ExportWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(std::move(services)),
      m_source(new ExportSource(m_services.reader, this))
{
    setObjectName(QStringLiteral("FrmExport"));
    new BottomRightPlacer(*this, kBottomMarginPixels);
    m_progressDelay.setSingleShot(true);
    connect(&m_progressDelay, &QTimer::timeout, this, &ExportWindow::showProgress);
    connect(m_source, &ExportSource::rangeRead, this, &ExportWindow::showRange);
    connect(m_source, &ExportSource::progress, this, [this](int permille) {
        m_permille = permille;
        if (m_progress)
            m_progress->setValue(permille);
    });
    connect(m_source, &ExportSource::finished, this, &ExportWindow::finishExport);
    buildControls();
    setInitialChoices();
}

ExportWindow::~ExportWindow() = default;

void ExportWindow::buildControls()
{
    setFixedSize(330, 282);

    m_formatGroup = new QGroupBox(this);
    m_formatGroup->setObjectName(QStringLiteral("Frformat"));
    m_formatGroup->setGeometry(10, 8, 310, 118);
    const auto separatorButton = [this](const QString& name, int row, ExportSeparator separator) {
        auto* button =
            placeControl<QRadioButton>(m_formatGroup, name, QRect(12, 22 + row * 23, 290, 20));
        connect(button, &QRadioButton::toggled, this, [this, separator](bool on) {
            if (on)
                separatorChosen(separator);
        });
        return button;
    };
    m_commaButton = separatorButton(QStringLiteral("Opcsv_0"), 0, ExportSeparator::Comma);
    m_semicolonButton = separatorButton(QStringLiteral("Opcsv_1"), 1, ExportSeparator::Semicolon);
    m_tabButton = separatorButton(QStringLiteral("Opcsv_2"), 2, ExportSeparator::Tab);
    m_spaceButton = separatorButton(QStringLiteral("Opcsv_3"), 3, ExportSeparator::Space);

    m_rangeGroup = new QGroupBox(this);
    m_rangeGroup->setObjectName(QStringLiteral("Frtime"));
    m_rangeGroup->setGeometry(10, 132, 310, 104);
    m_wholeTableButton =
        placeControl<QRadioButton>(m_rangeGroup, QStringLiteral("OptDB_0"), QRect(12, 22, 140, 20));
    m_periodButton = placeControl<QRadioButton>(m_rangeGroup, QStringLiteral("OptDB_1"),
                                                QRect(160, 22, 140, 20));
    connect(m_wholeTableButton, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            wholeTableChosen();
    });
    connect(m_periodButton, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            periodChosen();
    });
    m_fromLabel = placeControl<QLabel>(m_rangeGroup, QStringLiteral("Lb_0"), QRect(12, 48, 40, 22));
    m_toLabel = placeControl<QLabel>(m_rangeGroup, QStringLiteral("Lb_1"), QRect(12, 74, 40, 22));
    m_periodStart = makePicker(m_rangeGroup, QStringLiteral("DTda"), QRect(56, 48, 242, 22));
    m_periodEnd = makePicker(m_rangeGroup, QStringLiteral("DTa"), QRect(56, 74, 242, 22));
    connect(m_periodStart, &QDateTimeEdit::dateTimeChanged, this,
            &ExportWindow::periodStartChanged);
    connect(m_periodEnd, &QDateTimeEdit::dateTimeChanged, this, &ExportWindow::periodEndChanged);

    // Beside the button, under the period: the rest of the window keeps its design places.
    m_kindChoice = placeControl<QComboBox>(this, QStringLiteral("Ckind"), QRect(10, 248, 190, 24));
    for (std::size_t i = 0; i < kKinds.size(); ++i)
        m_kindChoice->addItem({});

    m_exportButton = new QPushButton(this);
    m_exportButton->setObjectName(QStringLiteral("Cexport"));
    m_exportButton->setGeometry(210, 246, 110, 28);
    connect(m_exportButton, &QPushButton::clicked, this, &ExportWindow::askForTarget);

    // Design texts, kept when the language code is not one the program speaks.
    applyTexts(QStringLiteral("ita"));
    m_headings.clear();
    m_hourHeadings.clear();
    m_doneText.clear();
}

// The readings, comma, the whole table and today's period, in the language of the program.
void ExportWindow::setInitialChoices()
{
    m_kindChoice->setCurrentIndex(0);
    const QDate today = QDate::currentDate();
    m_periodStart->setDateTime(QDateTime(today, QTime(0, 0)));
    m_periodEnd->setDateTime(QDateTime(today, QTime(23, 59, 59)));
    m_commaButton->setChecked(true);
    m_wholeTableButton->setChecked(true);
    if (languageColumn(m_services.languageCode))
        applyTexts(m_services.languageCode);
}

void ExportWindow::applyTexts(const QString& code)
{
    const auto text = [&code](Text id) { return textFor(id, code); };
    setWindowTitle(text(Text::ExportCaption));
    m_formatGroup->setTitle(text(Text::ExportFormat));
    m_rangeGroup->setTitle(text(Text::ExportRange));
    m_commaButton->setText(text(Text::ExportComma));
    m_semicolonButton->setText(text(Text::ExportSemicolon));
    m_tabButton->setText(text(Text::ExportTab));
    m_spaceButton->setText(text(Text::ExportSpace));
    m_wholeTableButton->setText(text(Text::ExportWholeTable));
    m_periodButton->setText(text(Text::ExportPeriod));
    m_fromLabel->setText(text(Text::ExportFrom));
    m_toLabel->setText(text(Text::ExportTo));
    m_exportButton->setText(text(Text::ExportButton));
    m_doneText = text(Text::ExportDone);
    m_progressText = text(Text::ExportProgress);
    m_cancelText = text(Text::ExportCancel);
    for (std::size_t i = 0; i < kKinds.size(); ++i)
        m_kindChoice->setItemText(int(i), text(kKinds[i].second));
    m_headings.clear();
    for (Text id : kHeadingTexts)
        m_headings << text(id);
    m_hourHeadings.clear();
    for (Text id : kHourHeadingTexts)
        m_hourHeadings << text(id);
}

ExportKind ExportWindow::kind() const
{
    return kKinds[std::size_t(std::max(m_kindChoice->currentIndex(), 0))].first;
}

void ExportWindow::separatorChosen(ExportSeparator separator)
{
    m_separator = separator;
}

void ExportWindow::wholeTableChosen()
{
    for (QDateTimeEdit* picker : {m_periodStart, m_periodEnd}) {
        picker->setEnabled(false);
        picker->setDateRange(kEarliestDate, QDate::currentDate());
    }
}

void ExportWindow::periodChosen()
{
    m_periodStart->setEnabled(true);
    m_periodEnd->setEnabled(true);
    m_source->requestRange();
}

void ExportWindow::showRange(const RecordedMoments& range, const ExportResult& outcome)
{
    if (outcome.kind == ExportResult::Kind::NoConnection) {
        showDatabaseResult(m_services.prompts, {DatabaseResult::Kind::NoConnection, outcome.error});
        return;
    }
    if (!outcome.ok()) {
        m_services.prompts.message({}, outcome.error, Prompts::Icon::Critical);
        return;
    }
    // An empty table leaves the pickers as they were.
    if (!range.isEmpty()) {
        for (QDateTimeEdit* picker : {m_periodStart, m_periodEnd})
            picker->setDateTimeRange(range.first, range.last);
        m_periodStart->setDateTime(range.first);
        m_periodEnd->setDateTime(range.last);
    }
    emit rangeShown();
}

// The period stays in order: a "To" before "From" moves "From", a "From" after "To" moves "To".
void ExportWindow::periodEndChanged()
{
    if (m_periodEnd->dateTime() < m_periodStart->dateTime())
        m_periodStart->setDateTime(m_periodEnd->dateTime());
}

void ExportWindow::periodStartChanged()
{
    if (m_periodStart->dateTime() > m_periodEnd->dateTime())
        m_periodEnd->setDateTime(m_periodStart->dateTime());
}

void ExportWindow::askForTarget()
{
    if (isExporting())
        return;
    const QString extension =
        m_separator == ExportSeparator::Tab ? QStringLiteral("TAB") : QStringLiteral("CSV");
    const QString lower = extension.toLower();
    const QString filter = QStringLiteral("File %1 (*.%1)").arg(lower);
    const QPointer<ExportWindow> self(this);
    // The dialog itself asks before an existing file is replaced.
    m_services.files.askSaveFile(QStringLiteral("File ") + extension,
                                 QDir(m_services.programFolder).filePath(kProposedName), filter,
                                 [self](const QString& path) {
                                     if (self && !path.isEmpty())
                                         self->startExport(path);
                                 });
}

void ExportWindow::startExport(const QString& path)
{
    const ExportKind chosen = kind();
    ExportRequest request{path,
                          m_separator,
                          chosen == ExportKind::HourlyEnergy ? m_hourHeadings : m_headings,
                          QLocale(),
                          std::nullopt,
                          chosen,
                          m_services.prices};
    if (m_periodButton->isChecked())
        request.period = {m_periodStart->dateTime(), m_periodEnd->dateTime()};
    setInputEnabled(false);
    m_permille = 0;
    m_source->start(request);
    m_progressDelay.start(kProgressDelayMs);
}

QProgressDialog* ExportWindow::progressDialog() const
{
    return m_progress.data();
}

bool ExportWindow::isExporting() const
{
    return m_source->isRunning();
}

void ExportWindow::showProgress()
{
    if (!isExporting() || m_progress)
        return;
    // Not modal: a modal progress dialog delivers events inside setValue(). The window's own
    // controls are disabled meanwhile instead.
    auto* progress = new QProgressDialog(m_progressText, m_cancelText, 0, 1000, this);
    progress->setObjectName(QStringLiteral("ExportProgress"));
    progress->setWindowTitle(windowTitle());
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    connect(progress, &QProgressDialog::canceled, m_source, &ExportSource::cancel);
    m_progress = progress;
    progress->setValue(m_permille);
    progress->show();
}

void ExportWindow::finishExport(const ExportResult& result)
{
    m_progressDelay.stop();
    delete m_progress.data();
    setInputEnabled(true);
    switch (result.kind) {
    case ExportResult::Kind::Ok:
        announceSuccessAndClose(result);
        return;
    case ExportResult::Kind::Cancelled:
        break;
    case ExportResult::Kind::NoConnection:
        showDatabaseResult(m_services.prompts, {DatabaseResult::Kind::NoConnection, result.error});
        break;
    case ExportResult::Kind::ReadFailed:
    case ExportResult::Kind::WriteFailed:
        m_services.prompts.message({}, result.error, Prompts::Icon::Critical);
        break;
    }
    emit exportFinished(result);
}

// A message box belongs to the window that is active when it shows, and goes with it. When
// closing deletes this window (as its opener asks), the success message waits until the window
// has gone, so that it stays on screen: the box then belongs to whichever window is left, as
// after a long export, whose progress dialog has gone just before the message.
void ExportWindow::announceSuccessAndClose(const ExportResult& result)
{
    const auto announce = [&prompts = m_services.prompts, text = m_doneText] {
        prompts.message(kSuccessTitle, text, Prompts::Icon::Information);
    };
    if (testAttribute(Qt::WA_DeleteOnClose))
        connect(this, &QObject::destroyed, announce);
    else
        announce();
    emit exportFinished(result);
    close();
}

void ExportWindow::setInputEnabled(bool enabled)
{
    m_kindChoice->setEnabled(enabled);
    m_formatGroup->setEnabled(enabled);
    m_rangeGroup->setEnabled(enabled);
    m_exportButton->setEnabled(enabled);
}

void ExportWindow::closeEvent(QCloseEvent* event)
{
    // An export still running stops, and leaves no file.
    m_source->cancel();
    QWidget::closeEvent(event);
}

} // namespace powerlog
