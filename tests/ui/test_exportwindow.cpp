#include "acquisition/databasereader.h"
#include "acquisition/energydatabase.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "ui/common/platform.h"
#include "ui/export/exportwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;
using powerlog::test::RecordingFileDialogs;
using powerlog::test::RecordingPrompts;
using powerlog::test::SqlFile;

namespace {

QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), EnergyDatabase::kDataFormat);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

} // namespace

class TestExportWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void saveDialogFollowsTheSeparator_data();
    void saveDialogFollowsTheSeparator();
    void exportWritesTheFileThenCloses_data();
    void exportWritesTheFileThenCloses();
    void successMessageOutlivesTheWindow_data();
    void successMessageOutlivesTheWindow();
    void unwritableTargetKeepsTheWindowOpen();
    void missingDatabaseIsReported();
    void periodPickersShowTheRecordedRange();
    void emptyTableLeavesThePickers();
    void periodStaysInOrder();
    void emptyPeriodWritesTheHeadingAlone();
    void cancelledLongExportLeavesNoFile();
    void systemSaveDialogAsksBeforeReplacing();
    void kindChoiceInTheLanguage_data();
    void kindChoiceInTheLanguage();
    void hourlyKindWritesTheHours_data();
    void hourlyKindWritesTheHours();

private:
    QString dbFile() const { return m_dir->filePath(EnergyDatabase::kFileName); }
    QString target() const { return m_dir->filePath(QStringLiteral("out.csv")); }
    ExportWindow& open(const QString& code = QStringLiteral("ita"),
                       const TariffPrices& prices = {});
    bool addRows() const;
    template <typename T = QWidget> T* control(const QString& name) const
    {
        return m_window->findChild<T*>(name);
    }
    QDateTimeEdit* picker(const QString& name) const { return control<QDateTimeEdit>(name); }
    // Chooses where to save, exports and waits for the end.
    ExportResult exportTo(const QString& path);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DatabaseReader> m_reader;
    RecordingPrompts m_prompts;
    RecordingFileDialogs m_files;
    std::unique_ptr<ExportWindow> m_window;
};

void TestExportWindow::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
}

void TestExportWindow::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestExportWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QString error;
    QVERIFY2(EnergyDatabase::createEmpty(dbFile(), &error), qPrintable(error));
    m_reader = std::make_unique<DatabaseReader>(m_dir->path());
    m_prompts.shown.clear();
    m_files.asked.clear();
    m_files.answers.clear();
}

void TestExportWindow::cleanup()
{
    m_window.reset();
    m_reader.reset();
}

ExportWindow& TestExportWindow::open(const QString& code, const TariffPrices& prices)
{
    m_window = std::make_unique<ExportWindow>(
        ExportWindowServices{code, m_dir->path(), *m_reader, m_prompts, m_files, prices});
    m_window->show();
    return *m_window;
}

bool TestExportWindow::addRows() const
{
    return SqlFile(dbFile()).exec(
        QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES "
                       "(230.5, 1.25, 920, 152, '2026-12-05 00:00:00'), "
                       "(229, 0.5, 15, 1234567.5, '2026-12-05 10:16:26'), "
                       "(231, 2, 3000, 1234600, '2026-12-06 23:59:59')"));
}

ExportResult TestExportWindow::exportTo(const QString& path)
{
    QSignalSpy finished(m_window.get(), &ExportWindow::exportFinished);
    m_files.answers.enqueue(path);
    QTest::mouseClick(control("Cexport"), Qt::LeftButton);
    if (!finished.wait(20000))
        return {ExportResult::Kind::ReadFailed, QStringLiteral("no end"), 0};
    return finished.first().first().value<ExportResult>();
}

void TestExportWindow::saveDialogFollowsTheSeparator_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("filter");
    QTest::newRow("comma") << 0 << "File CSV"
                           << "File csv (*.csv)";
    QTest::newRow("semicolon") << 1 << "File CSV"
                               << "File csv (*.csv)";
    QTest::newRow("tab") << 2 << "File TAB"
                         << "File tab (*.tab)";
    QTest::newRow("space") << 3 << "File CSV"
                           << "File csv (*.csv)";
}

void TestExportWindow::saveDialogFollowsTheSeparator()
{
    QFETCH(int, option);
    QFETCH(QString, title);
    QFETCH(QString, filter);
    open();
    control<QRadioButton>(QStringLiteral("Opcsv_%1").arg(option))->click();
    // No answer: the dialog is cancelled, and nothing else happens.
    QTest::mouseClick(control("Cexport"), Qt::LeftButton);
    QCOMPARE(m_files.asked.size(), 1);
    QCOMPARE(m_files.asked.first().title, title);
    QCOMPARE(m_files.asked.first().filter, filter);
    QCOMPARE(m_files.asked.first().suggested, m_dir->filePath(QStringLiteral("Export")));
    QVERIFY(!m_window->isExporting());
    QVERIFY(m_window->isVisible());
    QVERIFY(m_prompts.shown.isEmpty());
}

void TestExportWindow::exportWritesTheFileThenCloses_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("option");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("done");
    QTest::newRow("Italian, semicolon")
        << "ita" << 1
        << QByteArray("Tensione (V);Corrente (A);Potenza (W);Energia;Data\r\n"
                      "230,5;1,25;920;152;05/12/2026 00:00:00\r\n"
                      "229;0,5;15;1234567,5;05/12/2026 10:16:26\r\n"
                      "231;2;3000;1234600;06/12/2026 23:59:59\r\n")
        << "Dati esportati";
    QTest::newRow("English, comma")
        << "eng" << 0
        << QByteArray("Tension (V),Current (A),Power (W),Energy,Date\r\n"
                      "\"230,5\",\"1,25\",920,152,05/12/2026 00:00:00\r\n"
                      "229,\"0,5\",15,\"1234567,5\",05/12/2026 10:16:26\r\n"
                      "231,2,3000,1234600,06/12/2026 23:59:59\r\n")
        << "Export successful";
}

void TestExportWindow::exportWritesTheFileThenCloses()
{
    QFETCH(QString, code);
    QFETCH(int, option);
    QFETCH(QByteArray, file);
    QFETCH(QString, done);
    QVERIFY(addRows());
    open(code);
    control<QRadioButton>(QStringLiteral("Opcsv_%1").arg(option))->click();
    const ExportResult result = exportTo(target());
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(contents(target()), file);
    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown.first().title, QStringLiteral("Powerlog"));
    QCOMPARE(m_prompts.shown.first().text, done);
    QCOMPARE(m_prompts.shown.first().icon, Prompts::Icon::Information);
    QVERIFY(!m_window->isVisible());
}

// Opened as the options window opens it (modal, gone once closed), with real message boxes:
// the success message stays on screen after the window has closed, whatever the export's
// length.
void TestExportWindow::successMessageOutlivesTheWindow_data()
{
    QTest::addColumn<bool>("longExport");
    QTest::newRow("short export") << false;
    QTest::newRow("long export, with its progress dialog") << true;
}

void TestExportWindow::successMessageOutlivesTheWindow()
{
    QFETCH(bool, longExport);
    if (longExport) {
        m_reader.reset();
        QVERIFY(QFile::remove(dbFile()));
        QVERIFY(test::writeEnergyOnlyFile(dbFile(), 5000, QStringLiteral("2026-01-01")));
        m_reader = std::make_unique<DatabaseReader>(m_dir->path());
    } else {
        QVERIFY(addRows());
    }
    MessageBoxPrompts prompts;
    QWidget owner;
    owner.show();
    auto* window = new ExportWindow(
        ExportWindowServices{QStringLiteral("ita"), m_dir->path(), *m_reader, prompts, m_files},
        &owner);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const QPointer<ExportWindow> alive(window);
    QSignalSpy finished(window, &ExportWindow::exportFinished);

    // A long export: the reader is busy until the progress dialog has come up.
    QSemaphore gate;
    if (longExport) {
        m_reader->read([&gate](QSqlDatabase, const QString&, const ReadTicket&) {
            gate.tryAcquire(1, 30000);
        });
    }
    m_files.answers.enqueue(target());
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Cexport")), Qt::LeftButton);
    if (longExport) {
        QTRY_VERIFY_WITH_TIMEOUT(window->progressDialog() && window->progressDialog()->isVisible(),
                                 10000);
        gate.release();
    }
    QVERIFY(finished.wait(20000));
    QVERIFY2(finished.first().first().value<ExportResult>().ok(),
             qPrintable(finished.first().first().value<ExportResult>().error));
    QTRY_VERIFY_WITH_TIMEOUT(!alive, 10000);

    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<QMessageBox*>(widget); found && found->isVisible())
            box = found;
    }
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Dati esportati"));
    QCOMPARE(box->windowTitle(), QStringLiteral("Powerlog"));
    QCOMPARE(box->icon(), QMessageBox::Information);
    delete box;
}

void TestExportWindow::unwritableTargetKeepsTheWindowOpen()
{
    QVERIFY(addRows());
    open();
    const ExportResult result = exportTo(m_dir->filePath(QStringLiteral("missing/out.csv")));
    QCOMPARE(result.kind, ExportResult::Kind::WriteFailed);
    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown.first().icon, Prompts::Icon::Critical);
    QCOMPARE(m_prompts.shown.first().text, result.error);
    QVERIFY(!result.error.isEmpty());
    QVERIFY(m_window->isVisible());
    QVERIFY(control("Cexport")->isEnabled());
    QVERIFY(control("Frformat")->isEnabled());
}

void TestExportWindow::missingDatabaseIsReported()
{
    m_reader.reset();
    QVERIFY(QFile::remove(dbFile()));
    m_reader = std::make_unique<DatabaseReader>(m_dir->path());
    open();
    QCOMPARE(exportTo(target()).kind, ExportResult::Kind::NoConnection);
    QCOMPARE(m_prompts.shown.size(), 1);
    QCOMPARE(m_prompts.shown.first().title, QStringLiteral("Errore connessione DB"));
    QVERIFY(!QFileInfo::exists(target()));
    QVERIFY(m_window->isVisible());
    // Choosing a period reads the range, which fails the same way.
    QSignalSpy shown(m_window.get(), &ExportWindow::rangeShown);
    control<QRadioButton>("OptDB_1")->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_prompts.shown.size(), 2, 20000);
    QCOMPARE(m_prompts.shown.last().title, QStringLiteral("Errore connessione DB"));
    QCOMPARE(shown.size(), 0);
}

void TestExportWindow::periodPickersShowTheRecordedRange()
{
    QVERIFY(addRows());
    open();
    // The whole table is chosen when the window opens; the pickers wait.
    QVERIFY(control<QRadioButton>("OptDB_0")->isChecked());
    QVERIFY(!picker("DTda")->isEnabled());
    QSignalSpy shown(m_window.get(), &ExportWindow::rangeShown);
    control<QRadioButton>("OptDB_1")->click();
    QVERIFY(shown.wait(20000));
    for (const char* name : {"DTda", "DTa"}) {
        QVERIFY(picker(name)->isEnabled());
        QCOMPARE(picker(name)->minimumDateTime(), at("2026-12-05 00:00:00"));
        QCOMPARE(picker(name)->maximumDateTime(), at("2026-12-06 23:59:59"));
    }
    QCOMPARE(picker("DTda")->dateTime(), at("2026-12-05 00:00:00"));
    QCOMPARE(picker("DTa")->dateTime(), at("2026-12-06 23:59:59"));
    QCOMPARE(picker("DTda")->displayFormat(), QStringLiteral("dd/MM/yyyy HH:mm:ss"));

    control<QRadioButton>("OptDB_0")->click();
    QVERIFY(!picker("DTa")->isEnabled());
    QCOMPARE(picker("DTa")->minimumDate(), QDate(2000, 1, 1));
    QCOMPARE(picker("DTa")->maximumDate(), QDate::currentDate());
}

void TestExportWindow::emptyTableLeavesThePickers()
{
    open();
    const QDateTime from = picker("DTda")->dateTime();
    const QDateTime to = picker("DTa")->dateTime();
    QSignalSpy shown(m_window.get(), &ExportWindow::rangeShown);
    control<QRadioButton>("OptDB_1")->click();
    QVERIFY(shown.wait(20000));
    QCOMPARE(picker("DTda")->dateTime(), from);
    QCOMPARE(picker("DTa")->dateTime(), to);
    QVERIFY(m_prompts.shown.isEmpty());
}

void TestExportWindow::periodStaysInOrder()
{
    open();
    control<QRadioButton>("OptDB_1")->click();
    picker("DTda")->setDateTime(at("2026-12-05 10:00:00"));
    picker("DTa")->setDateTime(at("2026-12-05 12:00:00"));
    picker("DTa")->setDateTime(at("2026-12-05 09:00:00"));
    QCOMPARE(picker("DTda")->dateTime(), at("2026-12-05 09:00:00"));
    picker("DTda")->setDateTime(at("2026-12-05 11:30:00"));
    QCOMPARE(picker("DTa")->dateTime(), at("2026-12-05 11:30:00"));
}

void TestExportWindow::emptyPeriodWritesTheHeadingAlone()
{
    QVERIFY(addRows());
    open();
    QSignalSpy shown(m_window.get(), &ExportWindow::rangeShown);
    control<QRadioButton>("OptDB_1")->click();
    QVERIFY(shown.wait(20000));
    // A moment between two readings.
    picker("DTa")->setDateTime(at("2026-12-05 10:16:25"));
    picker("DTda")->setDateTime(at("2026-12-05 10:16:25"));
    const ExportResult result = exportTo(target());
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(0));
    QCOMPARE(contents(target()),
             QByteArray("Tensione (V),Corrente (A),Potenza (W),Energia,Data\r\n"));
    QCOMPARE(m_prompts.texts(), QStringList({"Dati esportati"}));
}

void TestExportWindow::cancelledLongExportLeavesNoFile()
{
    m_reader.reset();
    QVERIFY(QFile::remove(dbFile()));
    QVERIFY(test::writeEnergyOnlyFile(dbFile(), 50000, QStringLiteral("2026-01-01")));
    m_reader = std::make_unique<DatabaseReader>(m_dir->path());
    {
        QFile older(target());
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write("older export\r\n");
    }
    open();
    // The reader is busy with another read until the export has been cancelled.
    QSemaphore gate;
    m_reader->read(
        [&gate](QSqlDatabase, const QString&, const ReadTicket&) { gate.tryAcquire(1, 30000); });
    QSignalSpy finished(m_window.get(), &ExportWindow::exportFinished);
    m_files.answers.enqueue(target());
    QTest::mouseClick(control("Cexport"), Qt::LeftButton);
    QVERIFY(m_window->isExporting());
    QVERIFY(!control("Cexport")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(m_window->progressDialog() && m_window->progressDialog()->isVisible(),
                             10000);
    QCOMPARE(m_window->progressDialog()->labelText(), QStringLiteral("Esportazione dei dati ..."));
    auto* cancel = m_window->progressDialog()->findChild<QPushButton*>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("Annulla"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    gate.release();

    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().value<ExportResult>().kind, ExportResult::Kind::Cancelled);
    QCOMPARE(contents(target()), QByteArray("older export\r\n"));
    const QStringList left = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left.filter(QStringLiteral("out")), QStringList({"out.csv"}));
    QVERIFY(m_prompts.shown.isEmpty());
    QVERIFY(m_window->isVisible());
    QVERIFY(control("Cexport")->isEnabled());
    QVERIFY(!m_window->progressDialog());
}

// The export writes to the chosen file without asking again: the real dialog must ask before
// an existing file is replaced, and must not wait for its answer.
void TestExportWindow::systemSaveDialogAsksBeforeReplacing()
{
    SystemFileDialogs files;
    QStringList chosen;
    files.askSaveFile(QStringLiteral("File CSV"), m_dir->filePath(QStringLiteral("Export")),
                      QStringLiteral("File csv (*.csv)"),
                      [&chosen](const QString& path) { chosen << path; });
    QFileDialog* dialog = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<QFileDialog*>(widget); found && found->isVisible())
            dialog = found;
    }
    QVERIFY(dialog);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("File CSV"));
    QVERIFY(chosen.isEmpty());
    dialog->reject();
    QCOMPARE(chosen, QStringList({QString()}));
}

void TestExportWindow::kindChoiceInTheLanguage_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QStringList>("kinds");
    QTest::newRow("Italian") << "ita" << QStringList{"Letture", "Energia oraria"};
    QTest::newRow("English") << "eng" << QStringList{"Readings", "Hourly energy"};
}

void TestExportWindow::kindChoiceInTheLanguage()
{
    QFETCH(QString, code);
    QFETCH(QStringList, kinds);
    open(code);
    auto* choice = control<QComboBox>("Ckind");
    QVERIFY(choice && choice->isVisible());
    QStringList shown;
    for (int i = 0; i < choice->count(); ++i)
        shown << choice->itemText(i);
    QCOMPARE(shown, kinds);
    // The readings until the user chooses otherwise.
    QCOMPARE(choice->currentIndex(), 0);
    QCOMPARE(m_window->kind(), ExportKind::Readings);
    choice->setCurrentIndex(1);
    QCOMPARE(m_window->kind(), ExportKind::HourlyEnergy);
}

// Monday 7 December 2026: 09:59 to 10:01 at 3000 W, split between hours 9 and 10 (band F1),
// and 19:00 to 19:05 at 2400 W (band F2); the window's locale is Italian.
void TestExportWindow::hourlyKindWritesTheHours_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("option");
    QTest::addColumn<TariffPrices>("prices");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("Italian, semicolon, prices set")
        << "ita" << 1 << TariffPrices{{0.32, 0.27, 0.18}}
        << QByteArray("Ora;kWh;kWh F1;kWh F2;kWh F3;Costo\r\n"
                      "2026-12-07 09:00;0,050;0,050;0,000;0,000;0,02\r\n"
                      "2026-12-07 10:00;0,050;0,050;0,000;0,000;0,02\r\n"
                      "2026-12-07 19:00;0,200;0,000;0,200;0,000;0,05\r\n");
    QTest::newRow("English, tab, no prices")
        << "eng" << 2 << TariffPrices{}
        << QByteArray("Hour\tkWh\tkWh F1\tkWh F2\tkWh F3\tCost\r\n"
                      "2026-12-07 09:00\t0,050\t0,050\t0,000\t0,000\t0,00\r\n"
                      "2026-12-07 10:00\t0,050\t0,050\t0,000\t0,000\t0,00\r\n"
                      "2026-12-07 19:00\t0,200\t0,000\t0,200\t0,000\t0,00\r\n");
}

void TestExportWindow::hourlyKindWritesTheHours()
{
    QFETCH(QString, code);
    QFETCH(int, option);
    QFETCH(TariffPrices, prices);
    QFETCH(QByteArray, file);
    QVERIFY(SqlFile(dbFile()).exec(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) VALUES "
                                                  "(230, 13, 3000, 1, '2026-12-07 09:59:00'), "
                                                  "(230, 0, 0, 2, '2026-12-07 10:01:00'), "
                                                  "(230, 10.4, 2400, 3, '2026-12-07 19:00:00'), "
                                                  "(230, 0, 0, 4, '2026-12-07 19:05:00')")));
    open(code, prices);
    control<QComboBox>("Ckind")->setCurrentIndex(1);
    control<QRadioButton>(QStringLiteral("Opcsv_%1").arg(option))->click();
    const ExportResult result = exportTo(target());
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.rows, qint64(3));
    QCOMPARE(contents(target()), file);
    QCOMPARE(m_files.asked.size(), 1);
    QVERIFY(!m_window->isVisible());
}

QTEST_MAIN(TestExportWindow)
#include "test_exportwindow.moc"
