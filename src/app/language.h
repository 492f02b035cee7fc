#pragma once

#include <QString>
#include <optional>

namespace powerlog {

// The languages the program speaks. A column index into every translation table; adding a
// language means adding a code here and one more column to each table.
inline constexpr int kLanguageCount = 2;
inline constexpr const char* kLanguageCodes[kLanguageCount] = {"ita", "eng"};

// Column for a language code; codes are compared exactly (case-sensitive). Any other code has
// no column, and applying it leaves every text as it was.
std::optional<int> languageColumn(const QString& code);

// A line break in composed texts.
inline const QString kCrLf = QStringLiteral("\r\n");

// Texts shared by the main window, the sessions, the polling and the tray menu. Written only
// by the main window's language operation; everybody else reads them.
struct SharedTexts
{
    QString menuExit;
    QString noAck;
    QString peerClosed;
    QString noConnection;
    QString frameSent;
    QString connecting;
    QString connected;
    QString menuOpen;
    QString menuRefresh;
    QString menuOptions;
    QString noReading;
    QString trayHint;
    QString trayDetail;
    QString tensionPrefix;
    QString currentPrefix;
    QString powerPrefix;
    QString energyPrefix;
    QString automaticMode;
    QString manualMode;
    QString lastRead;
    // Texts of the main window kept for the update check and the password warning.
    QString updateAvailable;
    QString currentVersion;
    QString serverVersion;
    QString downloadNewVersion;
    QString passwordMissing;
};

// Writes the column of `code` into `texts`. Returns false, and changes nothing, for a code
// that is not a language of the program.
bool applySharedTexts(const QString& code, SharedTexts& texts);

} // namespace powerlog
