#pragma once

#include "acquisition/databasereader.h"
#include "acquisition/databasewriter.h"
#include "acquisition/energymeterfeed.h"
#include "acquisition/loadstate.h"
#include "acquisition/meter.h"
#include "acquisition/meterfinder.h"
#include "acquisition/mqttpublisher.h"
#include "acquisition/poller.h"
#include "acquisition/reading.h"
#include "app/runoverrides.h"
#include "app/settings.h"
#include "controller/linkpolicy.h"
#include "controller/recorderlock.h"
#include "controller/todayenergy.h"
#include "gateway/commandsession.h"
#include "gateway/frames.h"
#include "gateway/linkstate.h"
#include "gateway/monitorsession.h"
#include "gateway/sessiontimings.h"

#include <QObject>
#include <QTimer>
#include <memory>

namespace powerlog {

class Clock;
class MeterHistoryFetcher;

// The working mode the program is in.
enum class WorkingMode {
    Manual,      // readings only when asked
    Automatic,   // the poller asks every refresh interval
    StInterface, // readings come unasked on an event session kept alive
};

// How the station is built for one run.
struct StationOptions
{
    QString programFolder; // holds DbEnergy.mdb and load.ini
    SessionTimings timings = {};
    RunOverrides overrides = {};
    // After the gateway was lost: the first try again, doubling up to the limit.
    int retryFirstMs = 1000;
    int retryLimitMs = 60'000;
    // How long a request may wait for its reading before the tray shows that it waits.
    int trayBusyDelayMs = 500;
    // Today's energy is read again at most this often, however often readings are written: a
    // day's total moves little in a minute, and each read wakes the reader's thread.
    int todayEnergyIntervalMs = 60'000;
    // The energy meter's automatic power updates, when readings come from one.
    MeterFeedTimings meterTimings = {};
};

// The program without its windows: it owns and wires the gateway sessions, the poller, the
// meter, the load states and the database writer and reader, applies the settings as they
// change, and holds the policy of the link (lost connection, refused password, ST keep-alive,
// fall-back to manual and the return from it). Windows show what it reports and forward the
// user's clicks to it; the background recorder runs it alone.
class Station : public QObject
{
    Q_OBJECT
public:
    Station(Settings& settings, const Clock& clock, StationOptions options,
            QObject* parent = nullptr);
    ~Station() override;

    // Start-up: the sessions learn the gateway, the database opens in the background, the
    // working mode and recording start as the settings say. Nothing connects yet.
    void start();
    // Shutdown in order: the sessions stop, polling stops, every queued reading is written and
    // the database closes; then shutDown(). Safe to call more than once.
    void shutdown();
    bool isClosing() const { return m_closing; }

    // What the user asks for.
    void startRecording(); // recording on; polling too, unless the ST interface sends unasked
    void stopRecording();
    void toggleAutomaticMode(); // automatic ↔ manual; nothing under the ST interface
    void startAutomaticMode();
    void stopAutomaticMode();
    void refreshNow(); // a reading now; nothing under the ST interface
    // Whether a window shows the polling's progress and activity every second. Nobody does at
    // first: the poller's clock then wakes only when a request is due.
    void setTicksWatched(bool watched) { m_poller.setTicksWatched(watched); }
    // Load `index` 0..7 clicked: the command to the central unit, or, with the monitor session
    // down, its open.
    void switchLoad(int index);

    WorkingMode mode() const;
    bool isAutomatic() const { return m_poller.isAutomatic(); }
    bool isRecording() const { return m_meter.isRecording(); }
    // Recording is on, but another process holds the database's recorder lock (the background
    // recorder): readings come and show, and that process writes them. Tried again, without
    // waiting, at every reading that would be recorded.
    bool isRecordingElsewhere() const { return m_recordingElsewhere; }
    const RecorderLock& recorderLock() const { return m_recorderLock; }
    bool isStInterface() const;
    // The tray picture: kTrayNoLink, 1..9 by power, kTrayBusy.
    int trayLevel() const { return m_trayLevel; }
    // The readouts show the last reading before the gateway was lost.
    bool isStale() const { return m_stale; }
    // The gateway was lost and is being asked again in the background.
    bool isRetrying() const { return m_retry.pending; }
    QStringList loadNames() const { return m_loads.loadNames(); }
    // Readings come from an energy meter and no load-control unit has told the loads' states
    // (most gateways have none): the loads stay unknown, which is no error.
    bool isLoadControlMissing() const { return m_loadControlMissing; }
    const QString& programFolder() const { return m_options.programFolder; }

    Settings& settings() { return m_settings; }
    const Clock& clock() const { return m_clock; }
    CommandSession& commandSession() { return m_command; }
    MonitorSession& monitorSession() { return m_monitor; }
    Poller& poller() { return m_poller; }
    Meter& meter() { return m_meter; }
    LoadStates& loads() { return m_loads; }
    DatabaseWriter& database() { return m_database; }
    DatabaseReader& reader() { return m_reader; }
    TodayEnergy& todayEnergy() { return m_todayEnergy; }
    // Readings and load states to the MQTT broker of the [Mqtt] settings; its stateChanged()
    // tells how the link to the broker stands.
    MqttPublisher& mqtt() { return m_mqtt; }
    // The energy meter readings come from ([Meter] Source=meter); null for the central unit.
    EnergyMeterFeed* meterFeed() { return m_feed.get(); }
    MeterHistoryFetcher* meterHistory() { return m_history.get(); }
    // The search for the installation's energy meters, which the options window starts.
    MeterFinder& meterFinder() { return m_meterFinder; }
    // The ST interface's keep-alive (object name "Tst") and the background retry.
    const QTimer& keepAliveTimer() const { return m_keepAliveTimer; }
    const QTimer& retryTimer() const { return m_retryTimer; }

signals:
    void modeChanged(powerlog::WorkingMode mode);
    void recordingChanged(bool on);
    void recordingElsewhereChanged(bool elsewhere);
    void readingArrived(const powerlog::Reading& reading);
    void linkStateChanged(powerlog::LinkChannel channel, powerlog::LinkState state,
                          const QString& detail);
    void trayLevelChanged(int level);
    // A poller tick or a refresh answered: the activity light flashes.
    void activity();
    void progressChanged(int ticks, int ofTicks);
    void staleChanged(bool stale);
    void notice(powerlog::Notice notice);
    void loadEventError(const powerlog::frames::LoadEventError& error);
    // A chunk of load events was handled: time to rebuild the list of switched-off loads.
    void loadEventsHandled();
    // The database's open and every reading it could not take.
    void databaseProblem(const powerlog::DatabaseResult& result);
    void databaseBusyChanged(bool busy);
    void databaseProgress(int percent);
    void loadNamesChanged(const QStringList& names);
    void loadControlMissingChanged(bool missing);
    void shutDown();

private:
    void wireSessions();
    void wireAcquisition();
    void applySetting(Setting setting);
    void applyInterface();
    void applyMeterSource();
    void applyMqtt();
    void followMeterUpdates();
    void fetchMeterHistory();
    void askReading(CommandSession::AckPolicy policy, CommandSession::Result done);
    void readLoadNames();
    void onLinkState(LinkChannel channel, LinkState state, const QString& detail);
    void respond(LinkEvent event);
    void onReading(const Reading& reading);
    void setRecording(bool on);
    bool mayRecord();
    void setRecordingElsewhere(bool elsewhere);
    void setTrayLevel(int level);
    void showTrayLevel(int level);
    void setStale(bool stale);
    void setLoadControlMissing(bool missing);
    void keepStInterfaceAlive();
    void scheduleRetry();
    void retryGateway();
    void cancelRetry();
    void resumeAfterLoss();

    Settings& m_settings;
    const Clock& m_clock;
    StationOptions m_options;
    // Made before the writer and so released after it: every reading queued is written before
    // another process may start recording.
    RecorderLock m_recorderLock;
    CommandSession m_command;
    MonitorSession m_monitor;
    DatabaseWriter m_database;
    DatabaseReader m_reader;
    Meter m_meter;
    Poller m_poller;
    LoadStates m_loads;
    TodayEnergy m_todayEnergy;
    MqttPublisher m_mqtt;
    std::unique_ptr<EnergyMeterFeed> m_feed;
    std::unique_ptr<MeterHistoryFetcher> m_history;
    QString m_historyWhere; // the meter m_history fetches from
    MeterFinder m_meterFinder;
    // Children of the station, so that they show among its children by their object names.
    QTimer m_keepAliveTimer;
    QTimer m_retryTimer;
    QTimer m_trayBusyTimer;

    // What the loss of the gateway ended, to bring back once it answers.
    struct Retry
    {
        bool pending = false;
        bool automatic = false;
        bool recording = false;
        int waitMs = 0;
    } m_retry;

    int m_trayLevel = kTrayNoLink;
    bool m_started = false;
    bool m_closing = false;
    bool m_stale = false;
    bool m_loadControlMissing = false;
    bool m_recordingElsewhere = false;
    bool m_passwordRefusalTold = false;
};

} // namespace powerlog
