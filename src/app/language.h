#pragma once

#include <QString>
#include <optional>

namespace powerlog {

// The languages the program speaks. A column index into the text table; adding a language
// means adding a code here and one more column to the table.
inline constexpr int kLanguageCount = 2;
inline constexpr const char* kLanguageCodes[kLanguageCount] = {"ita", "eng"};
inline constexpr int kItalian = 0;
inline constexpr int kEnglish = 1;

// Column for a language code; codes are compared exactly (case-sensitive). Any other code has
// no column.
std::optional<int> languageColumn(const QString& code);

// A line break in composed texts.
inline const QString kCrLf = QStringLiteral("\r\n");

// Every text the user sees that depends on the language, by name. The table behind it holds
// one column per language; texts that carry no translation hold the same words twice.
enum class Text {
    // Status bar, tray and menu texts shared by the main window's parts.
    MenuExit,
    NoAck,
    PeerClosed,
    NoConnection,
    FrameSent,
    Connecting,
    Connected,
    MenuOpen,
    MenuRefresh,
    MenuOptions,
    NoReading,
    TrayHint,
    TensionPrefix,
    CurrentPrefix,
    PowerPrefix,
    EnergyPrefix,
    AutomaticMode,
    ManualMode,
    LastRead,
    UpdateAvailable,
    CurrentVersion,
    ServerVersion,
    DownloadNewVersion,
    PasswordWarningTitle,
    PasswordWarningText,
    // Main window captions and tooltips.
    RefreshTooltip,
    RecordTooltip,
    StopTooltip,
    OptionsTooltip,
    TensionCaption,
    CurrentCaption,
    PowerCaption,
    EnergyCaption,
    LinePowerCaption,
    MaxPowerCaption,
    MidPowerCaption,
    // About window.
    AboutFirstSentence,
    AboutSecondSentence,
    AboutAuthorCredit,
    AboutModuleCredit,
    AboutDonate,
    // Energy database.
    DatabaseConnectionError,
    CompactionFailed,
    ClearDatabaseQuestion,
    TableClearedCompactQuestion,
    DatabaseCompacted,
    PreparingDatabase, // %1: percent done
    // Load events the gateway sent that cannot be read; %1 the piece, %2 the character.
    LoadEventTooShort,
    LoadEventBadState,
    LoadEventBadPosition,
    LoadEventPositionZero,
    // Charts window.
    ChartCaption,
    ChartDaily,
    ChartMonthly,
    ChartYearly,
    ChartNoData,
    ChartVisualization,
    ChartYear,
    ChartMonth,
    ChartDay,
    ChartDataPrefix,
    ChartAvgPrefix,
    ChartMaxPrefix,
    ChartSaveImage,
    ChartSaveImageTitle,
    ChartImageFilter,
    ChartImageNotSaved, // %1: the file
    ChartShow,
    ChartPower,
    ChartEnergy,
    ChartEnergyPrefix,
    ChartCost,     // %1: an amount of money as Money words it
    Money,         // %1: the amount, %2: the currency
    ChartCoverage, // %1: a percentage as percentInSentence words it
    MonthName1,
    MonthName2,
    MonthName3,
    MonthName4,
    MonthName5,
    MonthName6,
    MonthName7,
    MonthName8,
    MonthName9,
    MonthName10,
    MonthName11,
    MonthName12,
    // Notification-area menu.
    MenuAbout,
    MenuHelp,
    HelpMissing, // %1: the manual's file
    // Options window.
    OptionsCaption,
    OptionsConnection,
    OptionsProgram,
    OptionsDatabase,
    OptionsAddress,
    OptionsPort,
    OptionsInterface,
    OptionsLinePower,
    OptionsRefresh,
    OptionsAutoStart,
    OptionsStartMinimized,
    OptionsLostFrames,
    OptionsStartRecording,
    OptionsClearDb,
    OptionsCompactDb,
    OptionsExportDb,
    OptionsPassword,
    OptionsTariff,
    OptionsTariffSingle,
    OptionsTariffTwoBands,
    OptionsTariffThreeBands,
    OptionsPricePerKwh,
    OptionsCurrency,
    SettingsNotSaved, // %1: the settings file
    // Export window; the headings also head the file.
    ExportCaption,
    ExportFormat,
    ExportRange,
    ExportComma,
    ExportSemicolon,
    ExportTab,
    ExportSpace,
    ExportWholeTable,
    ExportPeriod,
    ExportFrom,
    ExportTo,
    ExportButton,
    ExportDone,
    ExportHeadingTension,
    ExportHeadingCurrent,
    ExportHeadingPower,
    ExportHeadingEnergy,
    ExportHeadingDate,
    ExportProgress,
    ExportCancel,
    // The kind of export, and the headings of the hourly energy.
    ExportKindReadings,
    ExportKindHourly,
    ExportHeadingHour,
    ExportHeadingKwh,
    ExportHeadingKwhF1,
    ExportHeadingKwhF2,
    ExportHeadingKwhF3,
    ExportHeadingCost,
    // Gateway link: the HMAC handshake and the monitor session's own re-opens.
    Authenticating, // %1: the hash, "SHA-256" or "SHA-1"
    PasswordRefused,
    Reopening, // %1: whole seconds
    OptionsStartWithSystem,
    OptionsStartWithSystemFailed,
    // The gateway lost and found again, and a refused password, in the user's words.
    PasswordRefusedText,
    GatewayLostWhileRecording,
    GatewayLost,
    GatewayBack,
    StaleReadings, // %1: the time of the last reading
    HelpNotOpened, // %1: the manual's file
    // Today's energy in the tray's tooltip and detail.
    TodayEnergy, // %1: the kWh, with its unit
    // Readings from an energy meter: the options' source group and the meters' search, and why
    // the loads stay unknown.
    OptionsSource,
    OptionsSourceCentral,
    OptionsSourceMeter,
    OptionsMeterWhere,
    OptionsFindMeters,
    MeterSearchProgress, // %1: addresses asked, %2: of how many
    MetersFound,         // %1: the meters and their power
    MetersNotFound,
    MeterSearchFailed,
    LoadsWithoutControlUnit,
    ChartEstimated,
    ChartEstimatedBands,
    // The options window's MQTT group.
    OptionsMqtt,
    OptionsMqttBroker,
    OptionsMqttOff, // the broker field's hint while it is empty
    OptionsMqttPort,
    OptionsMqttUser,
    OptionsMqttPassword,
    OptionsMqttTopic,
    OptionsMqttTls,
    OptionsMqttCaFile,
    OptionsMqttSystemCas, // the CA file field's hint while it is empty
    OptionsMqttDiscovery,
    OptionsMqttCommands,
    // Recording is on, and the background recorder (powerlogd) is the one writing.
    BackgroundRecorderRecording,
    BackgroundRecording, // the same, short enough for the status bar

    Count // not a text: the number of texts
};

// A text in a language column (0..kLanguageCount-1).
QString textIn(Text id, int column);
// A whole percentage as it stands inside a sentence: the Italian puts before it the article
// its spoken number asks for ("l'82 %", "il 50 %", "lo 0 %"), the English only "82 %".
QString percentInSentence(int percent, int column);
// A text for a language code; any code but a known one gets English.
QString textFor(Text id, const QString& code);

// The texts of the language the main window applied last. Empty until a known code is
// applied; applying an unknown code changes nothing.
class Texts
{
public:
    bool apply(const QString& code);
    std::optional<int> column() const { return m_column; }
    QString operator()(Text id) const;

    // The no-reading text, two line breaks and the right-click hint.
    QString trayDetail() const;
    // The two lines of the missing-password warning.
    QString passwordMissing() const;
    // The two lines of the warning that the gateway refused the password.
    QString passwordRefused() const;

private:
    std::optional<int> m_column;
};

} // namespace powerlog
