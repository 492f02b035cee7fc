#pragma once

#include "app/autostart.h"

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
class Prompts;
class SettingsStore;
struct Config;

// What the options window works with.
struct OptionsWindowServices
{
    SettingsStore& settings;
    Config& config; // the settings the running program holds: changed at once
    Prompts& prompts;
    DatabaseWriter& database;
    Meter& meter; // whether recording runs
    QString programFolder;
    // The export window reads through these; without them it does not open.
    DatabaseReader* reader = nullptr;
    FileDialogs* files = nullptr;
    // The entry that starts the program with the user's session.
    SessionAutostart autostart = SessionAutostart::forThisUser();
};

// The options window: the gateway's address, port, password and interface, the line power,
// the refresh interval, the start-up switches and the language, and the database's clear,
// compact and export buttons. Every change is stored and applied at once; there is no OK or
// Cancel. Text fields apply their text when they lose the focus and when the window closes.
//
// The window changes the program's settings (Config) itself and signals what the running
// program must pass on: the main window forwards them to the sessions, the poller and its own
// labels.
class FrmOpt : public QWidget
{
    Q_OBJECT
public:
    explicit FrmOpt(OptionsWindowServices services, QWidget* parent = nullptr);
    ~FrmOpt() override;

    // Captions in the language of `code` ("ita" or "eng"; any other code keeps them), then
    // languageApplied(code) for the main window.
    void SetLanguage(const QString& code);

    // Handlers of the window's controls.
    void TxtIPws_Validate();
    void TxtPortaws_Validate();
    void TxtPwd_Validate();
    void Cinterf_Click();
    void Cpot_Click();
    void Cagg_Click();
    void CstAut_Click();
    void CStmin_Click();
    void CStRec_Click();
    void CStSys_Click();
    void ChLost_Click();
    void ImIT_Click();
    void ImEN_Click();
    void CclearDB_Click();
    void CcompDB_Click();
    void Cexport_Click();

    // Applies the text fields, as closing the window does. Safe to call more than once.
    void Form_Unload();

    // The export window while it is open.
    ExportWindow* exportWindow() const;

signals:
    // The main window re-labels itself and the other open windows.
    void languageApplied(const QString& code);
    // Address, port or password: the sessions use them from their next connection.
    void gatewayChanged();
    // The command session's connection must close and open again as the new kind.
    void interfaceChanged(bool stInterface);
    void linePowerChanged(int linePowerIndex);
    void refreshChanged(int seconds);
    void lostFrameSwitchChanged(quint8 value);
    // The window has closed (the main window then applies the interface's mode).
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void buildControls();
    void showInterface(bool stInterface);
    void showDatabaseButtons();
    void save(const QString& section, const QString& key, const QString& value);

    OptionsWindowServices m_services;
    int m_storedInterface = 0;
    QString m_previousAddress;
    QString m_languageCode;
    bool m_databaseBusy = false;
    bool m_toldNotSaved = false;
    bool m_loaded = false;
    bool m_unloaded = false;

    std::array<QLabel*, 3> m_lbc{};
    std::array<QLabel*, 5> m_lb{};
    std::array<QLabel*, 3> m_imgIco{};
    QLabel* m_lbPwd = nullptr;
    QLineEdit* m_txtIPws = nullptr;
    QLineEdit* m_txtPortaws = nullptr;
    QLineEdit* m_txtPwd = nullptr;
    QComboBox* m_cinterf = nullptr;
    QComboBox* m_cpot = nullptr;
    QComboBox* m_cagg = nullptr;
    QCheckBox* m_cstAut = nullptr;
    QCheckBox* m_cstmin = nullptr;
    QCheckBox* m_cstRec = nullptr;
    QCheckBox* m_chLost = nullptr;
    QCheckBox* m_cstSys = nullptr;
    QToolButton* m_imIT = nullptr;
    QToolButton* m_imEN = nullptr;
    QPushButton* m_cclearDB = nullptr;
    QPushButton* m_ccompDB = nullptr;
    QPushButton* m_cexport = nullptr;
    QPointer<ExportWindow> m_export;
};

} // namespace powerlog
