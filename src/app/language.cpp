#include "app/language.h"

#include <array>

namespace powerlog {

std::optional<int> languageColumn(const QString& code)
{
    for (int column = 0; column < kLanguageCount; ++column) {
        if (code == QLatin1String(kLanguageCodes[column]))
            return column;
    }
    return std::nullopt;
}

namespace {

struct SharedRow
{
    QString SharedTexts::*field;
    std::array<const char*, kLanguageCount> text; // ita, eng
};

// clang-format off
const SharedRow kSharedTable[] = {
    {&SharedTexts::menuExit,        {"Esci", "Exit"}},
    {&SharedTexts::noAck,           {"Ack non ricevuto dopo 3 tentativi", "Not recived ACK after 3 Attemps."}},
    {&SharedTexts::peerClosed,      {"Disconnesso dal server", "Logout from server"}},
    {&SharedTexts::noConnection,    {"Connesisone non disponibile", "Connection not aviable"}},
    {&SharedTexts::frameSent,       {"Inviato", "sent"}},
    {&SharedTexts::connecting,      {"Attesa connessione ...", "Waiting for connection ..."}},
    {&SharedTexts::connected,       {"Connesso ", "Connected "}},
    {&SharedTexts::menuOpen,        {"Apri Energy", "Open Energy"}},
    {&SharedTexts::menuRefresh,     {"Aggiorna letture", "Refresh data"}},
    {&SharedTexts::menuOptions,     {"Opzioni", "Options"}},
    {&SharedTexts::noReading,       {"Nessuna lettura effettuata.", "No data readed."}},
    {&SharedTexts::trayHint,        {"Clicca con il destro per aprire il men\u00f9", "Right click to open the men\u00f9"}},
    {&SharedTexts::tensionPrefix,   {"Tensione ", "Tension "}},
    {&SharedTexts::currentPrefix,   {"Corrente ", "Current "}},
    {&SharedTexts::powerPrefix,     {"Potenza ", "Power "}},
    {&SharedTexts::energyPrefix,    {"Energia ", "Energy "}},
    {&SharedTexts::automaticMode,   {"Automatico", "Automatic"}},
    {&SharedTexts::manualMode,      {"Manuale", "Manual"}},
    {&SharedTexts::lastRead,        {"Ultimo Aggiornamento", "Last read"}},
    {&SharedTexts::updateAvailable, {"Aggiornamento disponibile", "Update available"}},
    {&SharedTexts::currentVersion,  {"Versione attuale", "Current version"}},
    {&SharedTexts::serverVersion,   {"Versione server", "Server version"}},
    {&SharedTexts::downloadNewVersion, {"Scarica la nuova versione", "Download the new version"}},
};

const std::array<const char*, kLanguageCount> kPasswordWarningTitle = {"Attenzione", "Warning"};
const std::array<const char*, kLanguageCount> kPasswordWarningText = {
    "E' richiesta la password per la connessione", "Password needed for the connection"};
// clang-format on

} // namespace

bool applySharedTexts(const QString& code, SharedTexts& texts)
{
    const auto column = languageColumn(code);
    if (!column)
        return false;
    for (const auto& row : kSharedTable)
        texts.*row.field = QString::fromUtf8(row.text[*column]);
    texts.trayDetail = texts.noReading + kCrLf + kCrLf + texts.trayHint;
    texts.passwordMissing = QString::fromUtf8(kPasswordWarningTitle[*column]) + kCrLf +
                            QString::fromUtf8(kPasswordWarningText[*column]);
    return true;
}

} // namespace powerlog
