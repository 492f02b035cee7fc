#include "ui/export/frmexport.h"

#include "acquisition/energyexport.h"
#include "acquisition/exportformat.h"
#include "app/filedialogs.h"
#include "app/language.h"
#include "app/prompts.h"
#include "ui/common/controls.h"
#include "ui/common/databaseprompts.h"
#include "ui/main/placement.h"

#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>

namespace powerlog {

namespace {

constexpr int kBottomMarginPixels = 30; // 450 twips
const QString kSuccessTitle = QStringLiteral("Powerlog");
const QString kProposedName = QStringLiteral("Export");
// The period pickers' range while the whole table is chosen.
const QDate kEarliestDate(2000, 1, 1);

constexpr std::array<Text, 4> kSeparatorTexts{Text::ExportComma, Text::ExportSemicolon,
                                              Text::ExportTab, Text::ExportSpace};
constexpr std::array<Text, 5> kHeadingTexts{Text::ExportHeadingTension, Text::ExportHeadingCurrent,
                                            Text::ExportHeadingPower, Text::ExportHeadingEnergy,
                                            Text::ExportHeadingDate};

QDateTimeEdit* makePicker(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* picker = placeControl<QDateTimeEdit>(parent, name, geometry);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(exportDateTimeFormat(QLocale()));
    return picker;
}

} // namespace

FrmExport::FrmExport(ExportWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(std::move(services)),
      m_source(new ExportSource(m_services.reader, this))
{
    setObjectName(QStringLiteral("FrmExport"));
    new BottomRightPlacer(*this, kBottomMarginPixels);
    m_progressDelay.setSingleShot(true);
    connect(&m_progressDelay, &QTimer::timeout, this, &FrmExport::showProgress);
    connect(m_source, &ExportSource::rangeRead, this, &FrmExport::onRangeRead);
    connect(m_source, &ExportSource::progress, this, [this](int permille) {
        m_permille = permille;
        if (m_progress)
            m_progress->setValue(permille);
    });
    connect(m_source, &ExportSource::finished, this, &FrmExport::onFinished);
    buildControls();
    Form_Load();
}

FrmExport::~FrmExport() = default;

void FrmExport::buildControls()
{
    setFixedSize(330, 282);

    m_frformat = new QGroupBox(this);
    m_frformat->setObjectName(QStringLiteral("Frformat"));
    m_frformat->setGeometry(10, 8, 310, 118);
    for (int i = 0; i < 4; ++i) {
        m_opcsv[i] = placeControl<QRadioButton>(m_frformat, QStringLiteral("Opcsv_%1").arg(i),
                                                QRect(12, 22 + i * 23, 290, 20));
        connect(m_opcsv[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                Opcsv_Click(i);
        });
    }

    m_frtime = new QGroupBox(this);
    m_frtime->setObjectName(QStringLiteral("Frtime"));
    m_frtime->setGeometry(10, 132, 310, 104);
    m_optDB[0] =
        placeControl<QRadioButton>(m_frtime, QStringLiteral("OptDB_0"), QRect(12, 22, 140, 20));
    m_optDB[1] =
        placeControl<QRadioButton>(m_frtime, QStringLiteral("OptDB_1"), QRect(160, 22, 140, 20));
    for (int i = 0; i < 2; ++i) {
        connect(m_optDB[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                OptDB_Click(i);
        });
        m_lb[i] = new QLabel(m_frtime);
        m_lb[i]->setObjectName(QStringLiteral("Lb_%1").arg(i));
        m_lb[i]->setGeometry(12, 48 + i * 26, 40, 22);
    }
    m_dtda = makePicker(m_frtime, QStringLiteral("DTda"), QRect(56, 48, 242, 22));
    m_dta = makePicker(m_frtime, QStringLiteral("DTa"), QRect(56, 74, 242, 22));
    connect(m_dtda, &QDateTimeEdit::dateTimeChanged, this, &FrmExport::DTda_Change);
    connect(m_dta, &QDateTimeEdit::dateTimeChanged, this, &FrmExport::DTa_Change);

    m_cexport = new QPushButton(this);
    m_cexport->setObjectName(QStringLiteral("Cexport"));
    m_cexport->setGeometry(210, 246, 110, 28);
    connect(m_cexport, &QPushButton::clicked, this, &FrmExport::Cexport_Click);

    // Design texts, kept when the language code is not one the program speaks.
    applyTexts(QStringLiteral("ita"));
    m_headings.clear();
    m_doneText.clear();
}

void FrmExport::Form_Load()
{
    const QDate today = QDate::currentDate();
    m_dtda->setDateTime(QDateTime(today, QTime(0, 0)));
    m_dta->setDateTime(QDateTime(today, QTime(23, 59, 59)));
    m_opcsv[0]->setChecked(true);
    m_optDB[0]->setChecked(true);
    OptDB_Click(0);
    m_separator = ExportSeparator::Comma;
    if (languageColumn(m_services.languageCode))
        applyTexts(m_services.languageCode);
}

void FrmExport::applyTexts(const QString& code)
{
    const auto text = [&code](Text id) { return textFor(id, code); };
    setWindowTitle(text(Text::ExportCaption));
    m_frformat->setTitle(text(Text::ExportFormat));
    m_frtime->setTitle(text(Text::ExportRange));
    for (int i = 0; i < 4; ++i)
        m_opcsv[i]->setText(text(kSeparatorTexts[i]));
    m_optDB[0]->setText(text(Text::ExportWholeTable));
    m_optDB[1]->setText(text(Text::ExportPeriod));
    m_lb[0]->setText(text(Text::ExportFrom));
    m_lb[1]->setText(text(Text::ExportTo));
    m_cexport->setText(text(Text::ExportButton));
    m_doneText = text(Text::ExportDone);
    m_progressText = text(Text::ExportProgress);
    m_cancelText = text(Text::ExportCancel);
    m_headings.clear();
    for (Text id : kHeadingTexts)
        m_headings << text(id);
}

void FrmExport::Opcsv_Click(int index)
{
    static constexpr std::array<ExportSeparator, 4> kSeparators{
        ExportSeparator::Comma, ExportSeparator::Semicolon, ExportSeparator::Tab,
        ExportSeparator::Space};
    if (index >= 0 && index < 4)
        m_separator = kSeparators[std::size_t(index)];
}

void FrmExport::OptDB_Click(int index)
{
    const bool period = index == 1;
    m_dtda->setEnabled(period);
    m_dta->setEnabled(period);
    if (!period) {
        for (QDateTimeEdit* picker : {m_dtda, m_dta})
            picker->setDateRange(kEarliestDate, QDate::currentDate());
        return;
    }
    m_source->requestRange();
}

void FrmExport::onRangeRead(const RecordedMoments& range, const ExportResult& outcome)
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
        for (QDateTimeEdit* picker : {m_dtda, m_dta})
            picker->setDateTimeRange(range.first, range.last);
        m_dtda->setDateTime(range.first);
        m_dta->setDateTime(range.last);
    }
    emit rangeShown();
}

// The period stays in order: a "To" before "From" moves "From", a "From" after "To" moves "To".
void FrmExport::DTa_Change()
{
    if (m_dta->dateTime() < m_dtda->dateTime())
        m_dtda->setDateTime(m_dta->dateTime());
}

void FrmExport::DTda_Change()
{
    if (m_dtda->dateTime() > m_dta->dateTime())
        m_dta->setDateTime(m_dtda->dateTime());
}

void FrmExport::Cexport_Click()
{
    if (isExporting())
        return;
    const QString extension =
        m_separator == ExportSeparator::Tab ? QStringLiteral("TAB") : QStringLiteral("CSV");
    const QString lower = extension.toLower();
    const QString filter = QStringLiteral("File %1 (*.%1)").arg(lower);
    const QPointer<FrmExport> self(this);
    // The dialog itself asks before an existing file is replaced.
    m_services.files.askSaveFile(QStringLiteral("File ") + extension,
                                 QDir(m_services.programFolder).filePath(kProposedName), filter,
                                 [self](const QString& path) {
                                     if (self && !path.isEmpty())
                                         self->startExport(path);
                                 });
}

void FrmExport::startExport(const QString& path)
{
    ExportRequest request{path, m_separator, m_headings, QLocale(), std::nullopt};
    if (m_optDB[1]->isChecked())
        request.period = {m_dtda->dateTime(), m_dta->dateTime()};
    setInputEnabled(false);
    m_permille = 0;
    m_source->start(request);
    m_progressDelay.start(kProgressDelayMs);
}

QProgressDialog* FrmExport::progressDialog() const
{
    return m_progress.data();
}

bool FrmExport::isExporting() const
{
    return m_source->isRunning();
}

void FrmExport::showProgress()
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

void FrmExport::onFinished(const ExportResult& result)
{
    m_progressDelay.stop();
    delete m_progress.data();
    setInputEnabled(true);
    switch (result.kind) {
    case ExportResult::Kind::Ok:
        m_services.prompts.message(kSuccessTitle, m_doneText, Prompts::Icon::Information);
        emit exportFinished(result);
        close();
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

void FrmExport::setInputEnabled(bool enabled)
{
    m_frformat->setEnabled(enabled);
    m_frtime->setEnabled(enabled);
    m_cexport->setEnabled(enabled);
}

void FrmExport::closeEvent(QCloseEvent* event)
{
    // An export still running stops, and leaves no file.
    m_source->cancel();
    QWidget::closeEvent(event);
}

} // namespace powerlog
