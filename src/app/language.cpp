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

struct TextRow
{
    Text id;
    std::array<const char*, kLanguageCount> text; // ita, eng
};

// clang-format off
constexpr TextRow kTable[] = {
    {Text::MenuExit,           {"Esci", "Exit"}},
    {Text::NoAck,              {"Ack non ricevuto dopo 3 tentativi", "Not recived ACK after 3 Attemps."}},
    {Text::PeerClosed,         {"Disconnesso dal server", "Logout from server"}},
    {Text::NoConnection,       {"Connesisone non disponibile", "Connection not aviable"}},
    {Text::FrameSent,          {"Inviato", "sent"}},
    {Text::Connecting,         {"Attesa connessione ...", "Waiting for connection ..."}},
    {Text::Connected,          {"Connesso ", "Connected "}},
    {Text::MenuOpen,           {"Apri Energy", "Open Energy"}},
    {Text::MenuRefresh,        {"Aggiorna letture", "Refresh data"}},
    {Text::MenuOptions,        {"Opzioni", "Options"}},
    {Text::NoReading,          {"Nessuna lettura effettuata.", "No data readed."}},
    {Text::TrayHint,           {"Clicca con il destro per aprire il men\u00f9", "Right click to open the men\u00f9"}},
    {Text::TensionPrefix,      {"Tensione ", "Tension "}},
    {Text::CurrentPrefix,      {"Corrente ", "Current "}},
    {Text::PowerPrefix,        {"Potenza ", "Power "}},
    {Text::EnergyPrefix,       {"Energia ", "Energy "}},
    {Text::AutomaticMode,      {"Automatico", "Automatic"}},
    {Text::ManualMode,         {"Manuale", "Manual"}},
    {Text::LastRead,           {"Ultimo Aggiornamento", "Last read"}},
    {Text::UpdateAvailable,    {"Aggiornamento disponibile", "Update available"}},
    {Text::CurrentVersion,     {"Versione attuale", "Current version"}},
    {Text::ServerVersion,      {"Versione server", "Server version"}},
    {Text::DownloadNewVersion, {"Scarica la nuova versione", "Download the new version"}},
    {Text::PasswordWarningTitle, {"Attenzione", "Warning"}},
    {Text::PasswordWarningText,  {"E' richiesta la password per la connessione", "Password needed for the connection"}},

    {Text::RefreshTooltip,     {"Aggiorna", "Refresh"}},
    {Text::RecordTooltip,      {"Registra", "Record"}},
    {Text::StopTooltip,        {"Ferma", "Stop"}},
    {Text::OptionsTooltip,     {"Opzioni", "Options"}},
    {Text::TensionCaption,     {"Tensione", "Tension"}},
    {Text::CurrentCaption,     {"Corrente", "Current"}},
    {Text::PowerCaption,       {"Potenza", "Power"}},
    {Text::EnergyCaption,      {"Energia", "Energy"}},
    {Text::LinePowerCaption,   {"Linea", "Line power"}},
    {Text::MaxPowerCaption,    {"Potenza Max", "Max Power"}},
    {Text::MidPowerCaption,    {"Potenza Med", "Mid Power"}},

    {Text::AboutFirstSentence, {
        "Applicazione per monitorare i consumi di energia in un sistema MY-Home Btcino\u00ae.",
        "Application to monitor energy consumption in the MY-Home Btcino\u00ae system."}},
    {Text::AboutSecondSentence, {
        "Per l'utilizzo di questa applicazione \u00e8 necessario avere un webserver ed una centrale "
        "controllo carichi (F421) nel sistema.",
        "For the use of this application it is necessary to have a webserver and a Load energy "
        "control unit (F421) into the system."}},
    {Text::AboutAuthorCredit,  {"Sviluppo: il gruppo di Powerlog", "Development: the Powerlog team"}},
    {Text::AboutModuleCredit,  {"Modulo di connessione OpenWebNet: il gruppo di Powerlog",
                                "OpenWebNet connection module: the Powerlog team"}},
    {Text::AboutDonate,        {"Donazione", "Donate"}},

    {Text::DatabaseConnectionError, {"Errore connessione DB", "Errore connessione DB"}},
    {Text::CompactionFailed,   {"Compattazione Fallita", "Compattazione Fallita"}},
    {Text::ClearDatabaseQuestion, {"Eliminare tutti i dati presenti nel DB ?", "Clear all data in the database ?"}},
    {Text::TableClearedCompactQuestion, {"Tabella Cancellata.\r\nEseguire la compattazione ?",
                                         "Table cleared.\r\nDo you want compact the database ?"}},
    {Text::DatabaseCompacted,  {"Database compattato", "Database has been compacted"}},
    {Text::PreparingDatabase,  {"Preparazione database ... %1%", "Preparing the database ... %1%"}},
    {Text::LoadEventTooShort,  {"13 - Evento carico troppo corto: %1", "13 - Load event too short: %1"}},
    {Text::LoadEventBadState,  {"13 - Stato carico '%2' non valido in %1", "13 - Invalid load state '%2' in %1"}},
    {Text::LoadEventBadPosition, {"13 - Posizione carico '%2' non valida in %1", "13 - Invalid load position '%2' in %1"}},
    {Text::LoadEventPositionZero, {"9 - Posizione carico '0' fuori intervallo in %1", "9 - Load position '0' out of range in %1"}},
    {Text::ChartCaption,       {"Grafico", "Chart"}},
    {Text::ChartDaily,         {"Giornaliero", "Daily"}},
    {Text::ChartMonthly,       {"Mensile", "Monthly"}},
    {Text::ChartYearly,        {"Annuale", "Annual"}},
    {Text::ChartNoData,        {"Nessun dato", "No data available"}},
    {Text::ChartVisualization, {"Visualizzazione", "Visualization"}},
    {Text::ChartYear,          {"Anno", "Year"}},
    {Text::ChartMonth,         {"Mese", "Month"}},
    {Text::ChartDay,           {"Giorno", "Day"}},
    {Text::ChartDataPrefix,    {"Dati DB:   ", "DB data:   "}},
    {Text::ChartAvgPrefix,     {"Potenza media: ", "Average power: "}},
    {Text::ChartMaxPrefix,     {"Potenza massima: ", "Max power: "}},
    {Text::ChartSaveImage,     {"Salva come PNG...", "Save as PNG..."}},
    {Text::ChartSaveImageTitle, {"Salva grafico", "Save chart"}},
    {Text::ChartImageFilter,   {"Immagini PNG (*.png)", "PNG images (*.png)"}},
    {Text::ChartImageNotSaved, {"Impossibile salvare %1", "Cannot save %1"}},
    {Text::ChartShow,          {"Mostra", "Show"}},
    {Text::ChartPower,         {"Potenza", "Power"}},
    {Text::ChartEnergy,        {"Energia", "Energy"}},
    {Text::ChartEnergyPrefix,  {"Energia: ", "Energy: "}},
    {Text::ChartCost,          {"Costo: %1", "Cost: %1"}},
    {Text::Money,              {"%1 %2", "%2 %1"}},
    {Text::ChartCoverage,      {"registrato %1 del tempo", "recorded %1 of the time"}},
    {Text::MonthName1,         {"Gennaio", "January"}},
    {Text::MonthName2,         {"Febbraio", "Febraury"}},
    {Text::MonthName3,         {"Marzo", "March"}},
    {Text::MonthName4,         {"Aprile", "April"}},
    {Text::MonthName5,         {"Maggio", "May"}},
    {Text::MonthName6,         {"Giugno", "June"}},
    {Text::MonthName7,         {"Luglio", "July"}},
    {Text::MonthName8,         {"Agosto", "August"}},
    {Text::MonthName9,         {"Settembre", "September"}},
    {Text::MonthName10,        {"Ottobre", "October"}},
    {Text::MonthName11,        {"Novembre", "November"}},
    {Text::MonthName12,        {"Dicembre", "December"}},
    {Text::MenuAbout,          {"About..", "About.."}},
    {Text::MenuHelp,           {"Help", "Help"}},
    {Text::HelpMissing,        {"Manuale non trovato: %1", "User manual not found: %1"}},

    {Text::OptionsCaption,     {"Opzioni", "Options"}},
    {Text::OptionsConnection,  {"Opzioni connessione", "Connection options"}},
    {Text::OptionsProgram,     {"Opzioni programma", "Program options"}},
    {Text::OptionsDatabase,    {"Opzioni database", "Database options"}},
    {Text::OptionsAddress,     {"Indirizzo IP WS", "WS IP address"}},
    {Text::OptionsPort,        {"Porta WS", "WS Port"}},
    {Text::OptionsInterface,   {"Interfaccia", "Interface"}},
    {Text::OptionsLinePower,   {"Potenza di linea", "Line power"}},
    {Text::OptionsRefresh,     {"Aggiornamento letture", "Data refreshing"}},
    {Text::OptionsAutoStart,   {"Modo automatico all'avvio", "Automatic mode on start"}},
    {Text::OptionsStartMinimized, {"Avvia minimizzato", "Start minimized"}},
    {Text::OptionsLostFrames,  {"Modo manuale dopo 5 frame perse", "Manual mode after 5 frame lost"}},
    {Text::OptionsStartRecording, {"Inizia registrazione all'avvio", "Start recording on program start"}},
    {Text::OptionsClearDb,     {"Cancella DB", "Clear DB"}},
    {Text::OptionsCompactDb,   {"Compatta DB", "Compact DB"}},
    {Text::OptionsExportDb,    {"Esporta DB", "Export DB"}},
    {Text::OptionsPassword,    {"Password", "Password"}},
    {Text::OptionsTariff,      {"Tariffa", "Tariff"}},
    {Text::OptionsTariffSingle, {"Prezzo unico", "Single price"}},
    {Text::OptionsTariffTwoBands, {"Due fasce (F1, F23)", "Two bands (F1, F23)"}},
    {Text::OptionsTariffThreeBands, {"Tre fasce (F1, F2, F3)", "Three bands (F1, F2, F3)"}},
    {Text::OptionsPricePerKwh, {"Prezzo per kWh", "Price per kWh"}},
    {Text::OptionsCurrency,    {"Valuta", "Currency"}},
    {Text::SettingsNotSaved,   {
        "Impossibile salvare le impostazioni in %1: le modifiche valgono solo fino alla chiusura "
        "del programma.",
        "Settings cannot be saved to %1: changes last only until the program closes."}},

    {Text::ExportCaption,      {"Esporta", "Export"}},
    {Text::ExportFormat,       {"Formato ", "Format "}},
    {Text::ExportRange,        {"Dati ", "Date "}},
    {Text::ExportComma,        {"CSV separato da virgola", "CSV comma separated"}},
    {Text::ExportSemicolon,    {"CSV separato da punto e virgola", "CSV semicolon separated"}},
    {Text::ExportTab,          {"TAB separato da tabulazione", "TAB tabulation separated"}},
    {Text::ExportSpace,        {"CSV separato da spazio", "CSV space separated"}},
    {Text::ExportWholeTable,   {"Tutto il database", "Entire database"}},
    {Text::ExportPeriod,       {"Periodo", "Period"}},
    {Text::ExportFrom,         {"Da", "From"}},
    {Text::ExportTo,           {"A", "To"}},
    {Text::ExportButton,       {"Esporta", "Export"}},
    {Text::ExportDone,         {"Dati esportati", "Export successful"}},
    {Text::ExportHeadingTension, {"Tensione (V)", "Tension (V)"}},
    {Text::ExportHeadingCurrent, {"Corrente (A)", "Current (A)"}},
    {Text::ExportHeadingPower, {"Potenza (W)", "Power (W)"}},
    {Text::ExportHeadingEnergy, {"Energia", "Energy"}},
    {Text::ExportHeadingDate,  {"Data", "Date"}},
    {Text::ExportProgress,     {"Esportazione dei dati ...", "Exporting the data ..."}},
    {Text::ExportCancel,       {"Annulla", "Cancel"}},
    {Text::ExportKindReadings, {"Letture", "Readings"}},
    {Text::ExportKindHourly,   {"Energia oraria", "Hourly energy"}},
    {Text::ExportHeadingHour,  {"Ora", "Hour"}},
    {Text::ExportHeadingKwh,   {"kWh", "kWh"}},
    {Text::ExportHeadingKwhF1, {"kWh F1", "kWh F1"}},
    {Text::ExportHeadingKwhF2, {"kWh F2", "kWh F2"}},
    {Text::ExportHeadingKwhF3, {"kWh F3", "kWh F3"}},
    {Text::ExportHeadingCost,  {"Costo", "Cost"}},
    {Text::Authenticating,     {"Autenticazione HMAC %1 ...", "Authenticating with HMAC %1 ..."}},
    {Text::PasswordRefused,    {"Password rifiutata dal gateway", "Password refused by the gateway"}},
    {Text::Reopening,          {"Riapertura tra %1 s", "Re-opening in %1 s"}},
    {Text::OptionsStartWithSystem, {"Avvia con il sistema", "Start with the system"}},
    {Text::OptionsStartWithSystemFailed, {"Impossibile cambiare l'avvio con il sistema: %1", "Cannot change the start with the system: %1"}},
    {Text::PasswordRefusedText, {"Il gateway ha rifiutato la password", "The gateway refused the password"}},
    {Text::GatewayLostWhileRecording, {"Il gateway non risponde: registrazione interrotta. Nuovi tentativi in corso.", "The gateway does not answer: recording stopped. Trying again in the background."}},
    {Text::GatewayLost, {"Il gateway non risponde: modo automatico interrotto. Nuovi tentativi in corso.", "The gateway does not answer: automatic mode stopped. Trying again in the background."}},
    {Text::GatewayBack, {"Il gateway risponde di nuovo: letture riprese.", "The gateway answers again: readings resumed."}},
    {Text::StaleReadings, {"Ultima lettura alle %1: il gateway non risponde", "Last reading at %1: the gateway does not answer"}},
    {Text::HelpNotOpened, {"Nessun programma ha aperto il manuale: %1", "No program opened the user manual: %1"}},
    {Text::TodayEnergy, {"Oggi: %1", "Today: %1"}},
    {Text::OptionsSource, {"Fonte delle letture", "Source of readings"}},
    {Text::OptionsSourceCentral, {"Centrale carichi (WHO 3)", "Load-control unit (WHO 3)"}},
    {Text::OptionsSourceMeter, {"Misuratore di energia (WHO 18)", "Energy meter (WHO 18)"}},
    {Text::OptionsMeterWhere, {"Indirizzo misuratore", "Meter address"}},
    {Text::OptionsFindMeters, {"Cerca misuratori", "Find meters"}},
    {Text::MeterSearchProgress, {"Ricerca: %1 di %2 indirizzi", "Searching: %1 of %2 addresses"}},
    {Text::MetersFound, {"Trovati: %1", "Found: %1"}},
    {Text::MetersNotFound, {"Nessun misuratore ha risposto", "No meter answered"}},
    {Text::MeterSearchFailed, {"Il gateway non risponde", "The gateway does not answer"}},
    {Text::LoadsWithoutControlUnit, {"Stato sconosciuto: le letture vengono dal misuratore di energia e nessuna centrale carichi ha risposto", "State unknown: readings come from the energy meter and no load-control unit answered"}},
    {Text::ChartEstimated, {"stimato", "estimated"}},
    {Text::ChartEstimatedBands, {"Fasce stimate dai totali giornalieri del misuratore", "Bands estimated from the meter's day totals"}},
    {Text::OptionsMqtt,         {"Home Assistant (MQTT)", "Home Assistant (MQTT)"}},
    {Text::OptionsMqttBroker,   {"Broker", "Broker"}},
    {Text::OptionsMqttOff,      {"vuoto: non pubblicare", "empty: no publishing"}},
    {Text::OptionsMqttPort,     {"Porta", "Port"}},
    {Text::OptionsMqttUser,     {"Utente", "User"}},
    {Text::OptionsMqttPassword, {"Password", "Password"}},
    {Text::OptionsMqttTopic,    {"Topic", "Topic"}},
    {Text::OptionsMqttTls,      {"Connessione cifrata (TLS)", "Encrypted connection (TLS)"}},
    {Text::OptionsMqttCaFile,   {"File CA", "CA file"}},
    {Text::OptionsMqttSystemCas, {"vuoto: CA di sistema", "empty: the system's CAs"}},
    {Text::OptionsMqttDiscovery, {"Rilevamento automatico in Home Assistant", "Home Assistant discovery"}},
    {Text::OptionsMqttCommands, {"Accetta comandi per i carichi", "Accept load commands"}},
    {Text::BackgroundRecorderRecording, {"Il registratore in background sta registrando", "The background recorder is recording"}},
    {Text::BackgroundRecording, {"Registrazione in background", "Recording in the background"}},
};
// clang-format on

constexpr int kTextCount = static_cast<int>(Text::Count);
static_assert(std::size(kTable) == kTextCount, "every text has one row");

constexpr bool rowsInOrder()
{
    for (int i = 0; i < kTextCount; ++i) {
        if (static_cast<int>(kTable[i].id) != i)
            return false;
    }
    return true;
}
static_assert(rowsInOrder(), "rows follow the order of Text");

} // namespace

QString textIn(Text id, int column)
{
    const int row = static_cast<int>(id);
    if (row < 0 || row >= kTextCount || column < 0 || column >= kLanguageCount)
        return {};
    return QString::fromUtf8(kTable[row].text[column]);
}

QString percentInSentence(int percent, int column)
{
    const QString number = QString::number(percent) + QStringLiteral(" %");
    if (column != kItalian)
        return number;
    // Spoken, 1, 8, 11 and 80..89 begin with a vowel (uno, otto, undici, ottanta...), 0 with
    // a z (zero); every other number up to 100 with a consonant.
    if (percent == 0)
        return QStringLiteral("lo ") + number;
    if (percent == 1 || percent == 8 || percent == 11 || (percent >= 80 && percent <= 89))
        return QStringLiteral("l'") + number;
    return QStringLiteral("il ") + number;
}

QString textFor(Text id, const QString& code)
{
    return textIn(id, languageColumn(code).value_or(kEnglish));
}

bool Texts::apply(const QString& code)
{
    const auto column = languageColumn(code);
    if (!column)
        return false;
    m_column = column;
    return true;
}

QString Texts::operator()(Text id) const
{
    return m_column ? textIn(id, *m_column) : QString();
}

QString Texts::trayDetail() const
{
    return (*this)(Text::NoReading) + kCrLf + kCrLf + (*this)(Text::TrayHint);
}

QString Texts::passwordMissing() const
{
    return (*this)(Text::PasswordWarningTitle) + kCrLf + (*this)(Text::PasswordWarningText);
}

QString Texts::passwordRefused() const
{
    return (*this)(Text::PasswordWarningTitle) + kCrLf + (*this)(Text::PasswordRefusedText);
}

} // namespace powerlog
