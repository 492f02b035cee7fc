#pragma once

#include "acquisition/energyexport.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QComboBox;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QProgressDialog;
class QPushButton;
class QRadioButton;

namespace powerlog {

class DatabaseReader;
class FileDialogs;
class Prompts;

// What the export window works with.
struct ExportWindowServices
{
    QString languageCode;
    QString programFolder; // where the save dialog starts
    DatabaseReader& reader;
    Prompts& prompts;
    FileDialogs& files;
    TariffPrices prices = {}; // what the hourly energy costs
};

// The export window: the kind of export (the readings or the hourly energy), a separator, the
// whole table or a period, and the button that asks where to save and writes the file. The export
// streams on the database reader's thread; a long one shows a progress dialog that can cancel it.
// The window closes itself after a successful export and stays open after a failure.
class ExportWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ExportWindow(ExportWindowServices services, QWidget* parent = nullptr);
    ~ExportWindow() override;

    // State the tests read.
    ExportSeparator separator() const { return m_separator; }
    ExportKind kind() const;
    bool isExporting() const;
    QProgressDialog* progressDialog() const;

    // A long export shows its progress dialog after this long.
    static constexpr int kProgressDelayMs = 400;

signals:
    // The recorded period has been read into the pickers (tests wait on it).
    void rangeShown();
    // An export ended, whichever way (tests and benchmarks wait on it). Its message has been
    // shown, except the success message of a window deleted on closing, which shows once the
    // window has gone.
    void exportFinished(const powerlog::ExportResult& result);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void separatorChosen(powerlog::ExportSeparator separator);
    void wholeTableChosen();
    void periodChosen();
    void periodStartChanged();
    void periodEndChanged();
    // Asks where to save; the export starts once a file is chosen.
    void askForTarget();

    void showRange(const powerlog::RecordedMoments& range, const powerlog::ExportResult& outcome);
    void showProgress();
    void finishExport(const powerlog::ExportResult& result);

private:
    void setInitialChoices();
    void buildControls();
    void applyTexts(const QString& code);
    void startExport(const QString& path);
    void announceSuccessAndClose(const powerlog::ExportResult& result);
    void setInputEnabled(bool enabled);

    ExportWindowServices m_services;
    ExportSource* m_source;
    ExportSeparator m_separator = ExportSeparator::Comma;
    QStringList m_headings;     // of the readings
    QStringList m_hourHeadings; // of the hourly energy
    QString m_doneText;
    QString m_progressText;
    QString m_cancelText;
    QTimer m_progressDelay;
    QPointer<QProgressDialog> m_progress;
    int m_permille = 0; // the export's progress so far, 0..1000

    QComboBox* m_kindChoice = nullptr;
    QGroupBox* m_formatGroup = nullptr;
    QGroupBox* m_rangeGroup = nullptr;
    QRadioButton* m_commaButton = nullptr;
    QRadioButton* m_semicolonButton = nullptr;
    QRadioButton* m_tabButton = nullptr;
    QRadioButton* m_spaceButton = nullptr;
    QRadioButton* m_wholeTableButton = nullptr;
    QRadioButton* m_periodButton = nullptr;
    QLabel* m_fromLabel = nullptr;
    QLabel* m_toLabel = nullptr;
    QDateTimeEdit* m_periodStart = nullptr;
    QDateTimeEdit* m_periodEnd = nullptr;
    QPushButton* m_exportButton = nullptr;
};

} // namespace powerlog
