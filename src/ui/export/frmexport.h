#pragma once

#include "acquisition/energyexport.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>

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
};

// The export window: a separator, the whole table or a period, and the button that asks where
// to save and writes the file. The export streams on the database reader's thread; a long one
// shows a progress dialog that can cancel it. The window closes itself after a successful
// export and stays open after a failure.
class FrmExport : public QWidget
{
    Q_OBJECT
public:
    explicit FrmExport(ExportWindowServices services, QWidget* parent = nullptr);
    ~FrmExport() override;

    // Handlers of the window's controls.
    void Opcsv_Click(int index);
    void OptDB_Click(int index);
    void DTda_Change();
    void DTa_Change();
    void Cexport_Click();

    // State the tests read.
    ExportSeparator separator() const { return m_separator; }
    bool isExporting() const;
    QProgressDialog* progressDialog() const;

    // A long export shows its progress dialog after this long.
    static constexpr int kProgressDelayMs = 400;

signals:
    // The recorded period has been read into the pickers (tests wait on it).
    void rangeShown();
    // An export ended, whichever way (tests and benchmarks wait on it).
    void exportFinished(const powerlog::ExportResult& result);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void buildControls();
    void applyTexts(const QString& code);
    void startExport(const QString& path);
    void showProgress();
    void onRangeRead(const RecordedMoments& range, const ExportResult& outcome);
    void onFinished(const ExportResult& result);
    void setInputEnabled(bool enabled);

    ExportWindowServices m_services;
    ExportSource* m_source;
    ExportSeparator m_separator = ExportSeparator::Comma;
    QStringList m_headings;
    QString m_doneText;
    QString m_progressText;
    QString m_cancelText;
    QTimer m_progressDelay;
    QPointer<QProgressDialog> m_progress;
    int m_permille = 0; // the export's progress so far, 0..1000

    QGroupBox* m_frformat = nullptr;
    QGroupBox* m_frtime = nullptr;
    std::array<QRadioButton*, 4> m_opcsv{};
    std::array<QRadioButton*, 2> m_optDB{};
    std::array<QLabel*, 2> m_lb{};
    QDateTimeEdit* m_dtda = nullptr;
    QDateTimeEdit* m_dta = nullptr;
    QPushButton* m_cexport = nullptr;
};

} // namespace powerlog
