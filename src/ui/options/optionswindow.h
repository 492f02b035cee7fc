#pragma once

#include "acquisition/tariffbands.h"
#include "app/autostart.h"
#include "app/settings.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace powerlog {

class DatabaseReader;
class DatabaseWriter;
class FileDialogs;
class ExportWindow;
class Meter;
class MeterFinder;
class MeterSourceGroup;
class MqttGroup;
class Prompts;

// What the options window works with.
struct OptionsWindowServices
{
    Settings& settings; // the window stores every change here; the running program follows
    Prompts& prompts;
    DatabaseWriter& database;
    Meter& meter; // whether recording runs
    QString programFolder;
    // The export window reads through these; without them it does not open.
    DatabaseReader* reader = nullptr;
    FileDialogs* files = nullptr;
    // The search for energy meters; without it the search button stays disabled.
    MeterFinder* meterFinder = nullptr;
    // The entry that starts the program with the user's session.
    SessionAutostart autostart = SessionAutostart::forThisUser();
};

// The options window: the gateway's address, port, password and interface, the line power,
// the refresh interval, the start-up switches and the language, and the database's clear,
// compact and export buttons. Every change is stored at once through Settings, whose changed()
// signal tells the running program; there is no OK or Cancel. Text fields apply their text when
// they lose the focus and when the window closes. A change the store cannot keep still holds
// until the program ends, and the user is told so once. The tariff group sets the kind of tariff,
// the prices of the bands it takes and the currency; the source group where readings come from.
class OptionsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit OptionsWindow(OptionsWindowServices services, QWidget* parent = nullptr);
    ~OptionsWindow() override;

    // Captions in the language of `code` ("ita" or "eng"; any other code keeps them), then
    // languageApplied(code). The window applies the language in force when it opens, and
    // re-labels itself when that setting changes.
    void setLanguage(const QString& code);

    // The export window while it is open.
    ExportWindow* exportWindow() const;

signals:
    // The window applied its language as it opened: the main window re-labels itself too.
    void languageApplied(const QString& code);
    // The window has closed (the main window then applies the interface's mode).
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void applyAddress();
    void applyPort();
    void applyPassword();
    void interfaceChosen(int position);
    void linePowerChosen(int position);
    void refreshIntervalChosen(int position);
    void automaticStartChosen(bool on);
    void startMinimizedChosen(bool on);
    void startRecordingChosen(bool on);
    void startWithSystemChosen(bool on);
    void tariffKindChosen(int position);
    void lostFrameSwitchChosen(bool on);
    void italianChosen();
    void englishChosen();
    void clearDatabase();
    void compactDatabase();
    void openExport();
    void settingChanged(powerlog::Setting setting);
    void showDatabaseButtons();

private:
    void buildControls();
    void loadSettings();
    void applyTextFields();
    void showCaptions(const QString& code);
    void showInterface(bool stInterface);
    void showTariffKind();
    void showPrice(int field);
    void applyPrice(int field);
    void applyCurrency();
    void storePrices(const TariffPrices& prices);
    void store(Setting setting, const QVariant& value);

    OptionsWindowServices m_services;
    int m_appliedInterface = 0; // the interface list's position last applied
    QString m_acceptedAddress;  // put back when a typed address is refused
    QString m_languageCode;     // of the captions and messages
    // The kind shown; the prices follow it.
    TariffKind m_tariffKind = TariffKind::SinglePrice;
    bool m_databaseBusy = false;
    bool m_toldNotSaved = false;
    bool m_loaded = false;
    bool m_fieldsApplied = false;

    QLabel* m_connectionTitle = nullptr;
    QLabel* m_programTitle = nullptr;
    QLabel* m_databaseTitle = nullptr;
    QLabel* m_tariffTitle = nullptr;
    QLabel* m_sourceTitle = nullptr;
    QLabel* m_addressLabel = nullptr;
    QLabel* m_portLabel = nullptr;
    QLabel* m_passwordLabel = nullptr;
    QLabel* m_interfaceLabel = nullptr;
    QLabel* m_linePowerLabel = nullptr;
    QLabel* m_refreshLabel = nullptr;
    QLineEdit* m_addressField = nullptr;
    QLineEdit* m_portField = nullptr;
    QLineEdit* m_passwordField = nullptr;
    QComboBox* m_interfaceList = nullptr;
    QComboBox* m_linePowerList = nullptr;
    QComboBox* m_refreshList = nullptr;
    QCheckBox* m_automaticStartBox = nullptr;
    QCheckBox* m_startMinimizedBox = nullptr;
    QCheckBox* m_startRecordingBox = nullptr;
    QCheckBox* m_lostFrameBox = nullptr;
    QCheckBox* m_startWithSystemBox = nullptr;
    QToolButton* m_italianFlag = nullptr;
    QToolButton* m_englishFlag = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_compactButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QWidget* m_tariffGroup = nullptr;
    QComboBox* m_tariffKindList = nullptr;
    // The fields show F1, F2 and F3; the kind tells which are shown and what each one sets.
    std::array<QLabel*, kTariffBandCount> m_priceLabels{};
    std::array<QLineEdit*, kTariffBandCount> m_priceFields{};
    QLabel* m_currencyLabel = nullptr;
    QLineEdit* m_currencyField = nullptr;
    MeterSourceGroup* m_sourceGroup = nullptr;
    QPointer<ExportWindow> m_exportWindow;
    MqttGroup* m_mqttGroup = nullptr; // the right-hand column
};

} // namespace powerlog
