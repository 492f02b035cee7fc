#include "controller/station.h"

#include "acquisition/energyaccounts.h"
#include "acquisition/meterhistory.h"

#include "acquisition/readingrequest.h"
#include "app/programfolder.h"
#include "app/settingsstore.h"

#include <QDir>
#include <QPointer>
#include <utility>

namespace powerlog {

Station::Station(Settings& settings, const Clock& clock, StationOptions options, QObject* parent)
    : QObject(parent), m_settings(settings), m_clock(clock), m_options(std::move(options)),
      m_recorderLock(QDir(m_options.programFolder).filePath(kDatabaseFileName)),
      m_command(m_options.timings), m_monitor(m_command, m_options.timings),
      m_database(m_options.programFolder), m_reader(m_options.programFolder),
      m_meter(m_database, clock), m_poller(m_command, m_monitor),
      m_todayEnergy(m_reader, clock, m_options.todayEnergyIntervalMs), m_meterFinder(m_command),
      m_keepAliveTimer(this), m_retryTimer(this), m_trayBusyTimer(this)
{
    m_keepAliveTimer.setObjectName(QStringLiteral("Tst"));
    connect(&m_keepAliveTimer, &QTimer::timeout, this, &Station::keepStInterfaceAlive);
    m_retryTimer.setObjectName(QStringLiteral("gatewayRetry"));
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &Station::retryGateway);
    // A polled reading on its way shows in the tray only when it keeps the user waiting: a
    // prompt answer leaves the picture alone when the level stays the same.
    m_trayBusyTimer.setObjectName(QStringLiteral("trayBusy"));
    m_trayBusyTimer.setSingleShot(true);
    m_trayBusyTimer.setInterval(m_options.trayBusyDelayMs);
    connect(&m_trayBusyTimer, &QTimer::timeout, this, [this] { showTrayLevel(kTrayBusy); });
    connect(&m_settings, &Settings::changed, this, &Station::applySetting);
    m_poller.setTicksWatched(false);
    // The broker hears of each load's state; with commands allowed, it may bring a load back.
    connect(&m_loads, &LoadStates::stateChanged, this,
            [this](int index) { m_mqtt.publishLoad(index, m_loads.state(index)); });
    connect(&m_mqtt, &MqttPublisher::loadRestoreAsked, this, &Station::switchLoad);
    m_database.setHoldReaders(m_reader.connectionHolder());
    wireSessions();
    wireAcquisition();
}

Station::~Station()
{
    if (m_started)
        shutdown();
}

void Station::wireSessions()
{
    connect(&m_command, &CommandSession::linkStateChanged, this,
            [this](LinkState state, const QString& detail) {
                onLinkState(LinkChannel::Command, state, detail);
            });
    connect(&m_monitor, &MonitorSession::linkStateChanged, this,
            [this](LinkState state, const QString& detail) {
                onLinkState(LinkChannel::Monitor, state, detail);
            });
    connect(&m_command, &CommandSession::frameReceived, &m_meter, &Meter::takeFrame);

    connect(&m_monitor, &MonitorSession::loadEvent, &m_loads, &LoadStates::applyLoadEvent);
    connect(&m_monitor, &MonitorSession::loadEvent, this, [this] { setLoadControlMissing(false); });
    // Events may be missed until the session is back; its refresh brings every state again.
    connect(&m_monitor, &MonitorSession::closed, &m_loads, &LoadStates::markUnknown);
    connect(&m_monitor, &MonitorSession::opened, this, [this] {
        m_passwordRefusalTold = false;
        // A new monitor session: the meter is asked to push its power to this one, and what it
        // keeps of its past that the file does not hold yet.
        if (m_feed)
            m_feed->renewUpdates();
        fetchMeterHistory();
    });
    connect(&m_monitor, &MonitorSession::closed, this, [this] {
        if (m_history)
            m_history->stop();
    });
    connect(&m_monitor, &MonitorSession::loadEventsHandled, this, &Station::loadEventsHandled);
    connect(&m_monitor, &MonitorSession::loadEventError, this, &Station::loadEventError);
}

void Station::wireAcquisition()
{
    connect(&m_meter, &Meter::readingArrived, this, &Station::onReading);
    connect(&m_meter, &Meter::recordingChanged, this, &Station::recordingChanged);
    m_meter.setRecordGate([this] { return mayRecord(); });
    // Recording off, whatever ended it: the lock goes once what is queued is written, so that
    // another process may take over.
    connect(&m_meter, &Meter::recordingChanged, this, [this](bool on) {
        if (on)
            return;
        setRecordingElsewhere(m_recorderLock.isHeldElsewhere());
        const QPointer<Station> self(this);
        m_database.flush([self] {
            if (self && !self->isRecording())
                self->m_recorderLock.release();
        });
    });
    connect(&m_meter, &Meter::recordFailed, this, &Station::databaseProblem);
    connect(&m_database, &DatabaseWriter::opened, this, [this](const DatabaseResult& result) {
        if (!result.ok())
            emit databaseProblem(result);
        else
            m_todayEnergy.refresh();
    });
    connect(&m_database, &DatabaseWriter::inserted, &m_todayEnergy, &TodayEnergy::refresh);
    connect(&m_database, &DatabaseWriter::progress, this, &Station::databaseProgress);
    connect(&m_database, &DatabaseWriter::busyChanged, this, &Station::databaseBusyChanged);

    connect(&m_poller, &Poller::ticked, this, &Station::activity);
    connect(&m_poller, &Poller::requestSent, this, [this] { m_trayBusyTimer.start(); });
    connect(&m_poller, &Poller::progressChanged, this, &Station::progressChanged);
    connect(&m_poller, &Poller::firstRequestFinished, this, [this] { emit modeChanged(mode()); });
    connect(&m_poller, &Poller::lostRequestsFallback, this,
            [this] { respond(LinkEvent::RequestsUnanswered); });
    // The meter's automatic updates run while automatic mode does, whatever changed it.
    connect(this, &Station::modeChanged, this, &Station::followMeterUpdates);
}

void Station::start()
{
    if (m_started)
        return;
    m_started = true;
    // A recorder that already runs beside this program publishes for both.
    m_recordingElsewhere = m_recorderLock.isHeldElsewhere();
    const RunOverrides& run = m_options.overrides;
    if (run.serverAddress)
        m_settings.overrideForThisRun(Setting::ServerAddress, *run.serverAddress);
    if (run.serverPort)
        m_settings.overrideForThisRun(Setting::ServerPort, *run.serverPort);
    if (run.serverPassword)
        m_settings.overrideForThisRun(Setting::ServerPassword, *run.serverPassword);
    if (run.refreshSeconds)
        m_settings.overrideForThisRun(Setting::RefreshSeconds, *run.refreshSeconds);

    applySetting(Setting::ServerAddress); // peer and password of both sessions
    m_command.setStInterface(isStInterface());
    m_poller.setRefreshSeconds(m_settings.number(Setting::RefreshSeconds));
    m_poller.setLostFrameSwitch(m_settings.isOn(Setting::LostFrameSwitch) ? 1 : 0);
    applyMeterSource();

    // Opens in the background: a file without its summary tables takes a while to prepare.
    m_database.open();

    if (isStInterface()) {
        m_keepAliveTimer.start(1000);
        emit modeChanged(WorkingMode::StInterface);
    } else if (m_settings.isOn(Setting::StartAutomatic) || run.startAutomatic) {
        startAutomaticMode();
    } else {
        emit modeChanged(WorkingMode::Manual);
    }
    // The demo's start switches hold for its run only: the stored ones stay as they are.
    if (m_settings.isOn(Setting::StartRecording) || run.startRecording)
        startRecording();
    readLoadNames();
    applyMqtt();
    if (m_recordingElsewhere)
        emit recordingElsewhereChanged(true);
}

void Station::shutdown()
{
    if (m_closing)
        return;
    m_closing = true;
    m_command.setClosing();
    m_monitor.setClosing();
    m_poller.stopAutomaticMode();
    if (m_feed)
        m_feed->setUpdating(false);
    if (m_history)
        m_history->stop();
    m_meterFinder.stop();
    m_keepAliveTimer.stop();
    m_retryTimer.stop();
    m_retry = {};
    m_database.close();
    m_mqtt.configure({}); // "offline", then the disconnect
    emit shutDown();
}

bool Station::isStInterface() const
{
    return m_settings.isOn(Setting::StInterface);
}

WorkingMode Station::mode() const
{
    if (isStInterface())
        return WorkingMode::StInterface;
    return isAutomatic() ? WorkingMode::Automatic : WorkingMode::Manual;
}

void Station::startRecording()
{
    cancelRetry();
    setRecording(true);
    if (!isAutomatic() && !isStInterface())
        startAutomaticMode();
}

void Station::stopRecording()
{
    cancelRetry();
    setRecording(false);
}

void Station::toggleAutomaticMode()
{
    if (isStInterface())
        return;
    cancelRetry();
    if (isAutomatic())
        stopAutomaticMode();
    else
        startAutomaticMode();
}

void Station::startAutomaticMode()
{
    m_poller.startAutomaticMode();
    emit modeChanged(mode());
}

void Station::stopAutomaticMode()
{
    m_poller.stopAutomaticMode();
    emit modeChanged(mode());
    setRecording(false);
}

void Station::refreshNow()
{
    if (m_closing)
        return;
    // Asked by the user: the tray shows at once that the reading is on its way.
    setTrayLevel(kTrayBusy);
    m_monitor.open();
    const QPointer<Station> self(this);
    askReading(CommandSession::AckPolicy::WaitForAck, [self](bool ok) {
        if (!self)
            return;
        // A request that got nothing back leaves no reading on its way.
        if (!ok && self->m_trayLevel == kTrayBusy)
            self->setTrayLevel(kTrayNoLink);
        emit self->activity();
    });
}

void Station::switchLoad(int index)
{
    if (!LoadStates::isLoad(index) || m_closing)
        return;
    if (m_monitor.isConnected())
        m_command.send(frames::loadCommandFrame(index + 1));
    else
        m_monitor.open();
}

void Station::applySetting(Setting setting)
{
    switch (setting) {
    case Setting::ServerAddress:
    case Setting::ServerPort:
    case Setting::ServerPassword: {
        const QString address = m_settings.text(Setting::ServerAddress);
        const QString password = m_settings.text(Setting::ServerPassword);
        m_command.setPeer(address, m_settings.port());
        m_command.setPassword(password);
        m_monitor.setPeer(address, m_settings.port());
        m_monitor.setPassword(password);
        break;
    }
    case Setting::StInterface:
        m_command.setStInterface(isStInterface());
        // The open frame differs: the next request connects and opens as the new kind.
        m_command.closeConnection();
        applyInterface();
        break;
    case Setting::RefreshSeconds:
        m_poller.setRefreshSeconds(m_settings.number(Setting::RefreshSeconds));
        break;
    case Setting::LostFrameSwitch:
        m_poller.setLostFrameSwitch(m_settings.isOn(Setting::LostFrameSwitch) ? 1 : 0);
        break;
    case Setting::MeterSource:
    case Setting::MeterWhere:
        if (m_started && !m_closing)
            applyMeterSource();
        break;
    default:
        break;
    }
    // The device's id follows the gateway's address and the source of the readings.
    switch (setting) {
    case Setting::ServerAddress:
    case Setting::MeterSource:
    case Setting::MeterWhere:
    case Setting::MqttHost:
    case Setting::MqttPort:
    case Setting::MqttUser:
    case Setting::MqttPassword:
    case Setting::MqttTls:
    case Setting::MqttCaFile:
    case Setting::MqttTopic:
    case Setting::MqttDiscovery:
    case Setting::MqttAllowCommands:
        applyMqtt();
        break;
    default:
        break;
    }
}

// Connects anew only when what the connection is made with changed. While another process
// records, that one publishes: this one stands by without a word, so that the device stays
// "online" and every reading is published once.
void Station::applyMqtt()
{
    if (!m_started || m_closing)
        return;
    if (m_recordingElsewhere)
        m_mqtt.configure({}, MqttPublisher::Farewell::Quiet);
    else
        m_mqtt.configure(mqttConfig(m_settings, m_loads.loadNames()));
}

// The ST interface's readings come unasked, kept alive by the keep-alive timer; polling stops
// and recording goes on. Back from it, the mode is the one the poller is in; the keep-alive
// stops at its next tick.
void Station::applyInterface()
{
    if (!m_started || m_closing)
        return;
    if (isStInterface()) {
        cancelRetry();
        m_poller.stopAutomaticMode();
        m_keepAliveTimer.start(1000);
    }
    emit modeChanged(mode());
}

// Readings from an energy meter ([Meter] Source=meter): its power values, polled or pushed,
// become the readings, and the poller asks the meter instead of the central unit. Without it
// nothing of the meter is wired.
void Station::applyMeterSource()
{
    if (m_settings.text(Setting::MeterSource) != QLatin1String("meter")) {
        m_poller.setRequest({});
        m_history.reset();
        m_feed.reset();
        setLoadControlMissing(false);
        return;
    }
    if (!m_feed) {
        bool anyLoadHeard = false;
        for (int index = 0; index < LoadStates::kLoadCount; ++index)
            anyLoadHeard = anyLoadHeard || m_loads.state(index) != LoadState::Unseen;
        setLoadControlMissing(!anyLoadHeard);
        m_feed = std::make_unique<EnergyMeterFeed>(m_command, m_clock, m_options.meterTimings);
        connect(&m_command, &CommandSession::frameReceived, m_feed.get(),
                &EnergyMeterFeed::takeFrame);
        // The power the meter pushes while its automatic updates run.
        connect(&m_monitor, &MonitorSession::frameReceived, m_feed.get(),
                &EnergyMeterFeed::takeUpdate);
        connect(m_feed.get(), &EnergyMeterFeed::readingArrived, &m_meter, &Meter::takeReading);
        m_poller.setRequest([this](CommandSession::AckPolicy policy, CommandSession::Result done) {
            // The periodic request leaves the power out when the meter pushed one meanwhile.
            const auto ask = policy == CommandSession::AckPolicy::NoAckWait
                                 ? EnergyMeterFeed::Ask::UnlessUpdated
                                 : EnergyMeterFeed::Ask::Always;
            m_feed->request(policy, std::move(done), ask);
        });
    }
    const QString where = m_settings.text(Setting::MeterWhere);
    m_feed->setWhere(where);
    if (!m_history || m_historyWhere != where) {
        m_history =
            std::make_unique<MeterHistoryFetcher>(where, m_command, m_monitor, m_database, m_clock);
        m_historyWhere = where;
        if (m_monitor.isConnected())
            fetchMeterHistory();
    }
    followMeterUpdates();
}

// The days the file holds whole are read on the reader's thread; the fetch asks the rest.
void Station::fetchMeterHistory()
{
    if (!m_history || m_history->isRunning() || m_closing)
        return;
    QPointer<Station> self(this);
    m_reader.read([self](QSqlDatabase db, const QString&, const ReadTicket&) {
        ReadError error;
        const std::optional<QSet<QDate>> days =
            db.isValid() ? EnergyQueries(db).meterCompleteDays(&error) : std::nullopt;
        QMetaObject::invokeMethod(
            self,
            [self, complete = days.value_or(QSet<QDate>{})] {
                if (!self || !self->m_history || self->m_history->isRunning() || self->m_closing)
                    return;
                self->m_history->setCompleteDays(complete);
                self->m_history->start();
            },
            Qt::QueuedConnection);
    });
}

void Station::followMeterUpdates()
{
    // Pushed updates need a monitor session: without one, its open asks for them.
    if (m_feed)
        m_feed->setUpdating(isAutomatic() && !m_closing, m_monitor.isConnected());
}

void Station::askReading(CommandSession::AckPolicy policy, CommandSession::Result done)
{
    if (m_feed)
        m_feed->request(policy, std::move(done));
    else
        requestReading(m_command, policy, std::move(done));
}

void Station::keepStInterfaceAlive()
{
    if (!isStInterface()) {
        m_keepAliveTimer.stop();
        return;
    }
    m_keepAliveTimer.setInterval(5000);
    if (!m_command.isConnected())
        m_command.send(QString());
}

void Station::readLoadNames()
{
    QStringList names;
    if (m_options.overrides.loadNames) {
        names = *m_options.overrides.loadNames;
    } else {
        const QString ini = QDir(m_options.programFolder).filePath(kLoadIniName);
        for (int k = 1; k <= LoadStates::kLoadCount; ++k)
            names << readIniValue(QStringLiteral("priority"), QString::number(k), ini);
    }
    m_loads.setLoadNames(names);
    emit loadNamesChanged(m_loads.loadNames());
}

void Station::onLinkState(LinkChannel channel, LinkState state, const QString& detail)
{
    // Most gateways have no load-control unit and refuse its frames: with readings from a meter
    // that only means the loads' states cannot be known.
    if (m_feed && channel == LinkChannel::Command && state == LinkState::FrameNotAcknowledged &&
        detail == frames::kLoadStatusRequest) {
        setLoadControlMissing(true);
        return;
    }
    if (channel == LinkChannel::Command && state == LinkState::FrameAcknowledged)
        m_passwordRefusalTold = false;
    if (isLinkDown(state))
        setTrayLevel(kTrayNoLink);
    emit linkStateChanged(channel, state, detail);
    respond(linkEvent(channel, state));
}

void Station::respond(LinkEvent event)
{
    if (m_closing || event == LinkEvent::Other)
        return;
    // Unanswered requests end automatic mode before they are reported.
    const bool automatic = isAutomatic() || event == LinkEvent::RequestsUnanswered;
    const LinkResponse response = respondToLink({event, isStInterface(), automatic, isRecording()});
    if (response.retryInBackground && !m_retry.pending)
        m_retry = {true, automatic, isRecording(), m_options.retryFirstMs};
    if (response.stopRecording)
        setRecording(false);
    if (response.stopKeepAlive)
        m_keepAliveTimer.stop();
    if (response.fallBackToManual) {
        // Unanswered requests have stopped the poller already.
        if (event != LinkEvent::RequestsUnanswered)
            m_poller.fallBackToManual();
        emit modeChanged(mode());
    }
    if (response.retryInBackground) {
        setStale(true);
        setTrayLevel(kTrayNoLink);
        // The ST interface's keep-alive asks again by itself.
        if (!isStInterface() && !m_retryTimer.isActive())
            scheduleRetry();
    }
    Notice told = response.notice;
    // Nothing offers a refused password again (gateways lock out after a few failures): the
    // user hears of it once, until a session opens again.
    if (told == Notice::PasswordRefused && std::exchange(m_passwordRefusalTold, true))
        told = Notice::None;
    if (told != Notice::None)
        emit notice(told);
}

void Station::setLoadControlMissing(bool missing)
{
    if (std::exchange(m_loadControlMissing, missing) != missing)
        emit loadControlMissingChanged(missing);
}

void Station::onReading(const Reading& reading)
{
    setStale(false);
    if (reading.kind == Reading::Kind::Full && reading.power)
        setTrayLevel(powerlog::trayLevel(*reading.power, m_settings.linePowerWatts()));
    emit readingArrived(reading);
    // Not recording, this process still publishes unless a recorder runs beside it.
    if (!isRecording())
        setRecordingElsewhere(m_recorderLock.isHeldElsewhere());
    m_mqtt.publishReading(reading);
    // A recorded reading asks again once it is written; without recording, today's figures
    // still follow the date and whatever else writes into the file.
    if (!isRecording() || m_recordingElsewhere)
        m_todayEnergy.refresh();
    if (m_retry.pending)
        resumeAfterLoss();
}

void Station::setRecording(bool on)
{
    m_meter.setRecording(on);
}

bool Station::mayRecord()
{
    const bool mine = m_recorderLock.tryTake();
    setRecordingElsewhere(!mine);
    return mine;
}

void Station::setRecordingElsewhere(bool elsewhere)
{
    if (m_recordingElsewhere == elsewhere)
        return;
    m_recordingElsewhere = elsewhere;
    applyMqtt();
    emit recordingElsewhereChanged(elsewhere);
}

void Station::setTrayLevel(int level)
{
    m_trayBusyTimer.stop();
    showTrayLevel(level);
}

void Station::showTrayLevel(int level)
{
    if (m_trayLevel == level)
        return;
    m_trayLevel = level;
    emit trayLevelChanged(level);
}

void Station::setStale(bool stale)
{
    if (m_stale == stale)
        return;
    m_stale = stale;
    emit staleChanged(stale);
}

void Station::scheduleRetry()
{
    m_retryTimer.start(m_retry.waitMs);
    m_retry.waitMs = qMin(m_retry.waitMs * 2, m_options.retryLimitMs);
}

void Station::retryGateway()
{
    if (!m_retry.pending || m_closing)
        return;
    const QPointer<Station> self(this);
    askReading(CommandSession::AckPolicy::WaitForAck, [self](bool ok) {
        if (!self || !self->m_retry.pending || self->m_closing)
            return;
        if (ok)
            self->resumeAfterLoss();
        else
            self->scheduleRetry();
    });
}

void Station::cancelRetry()
{
    m_retry = {};
    m_retryTimer.stop();
}

void Station::resumeAfterLoss()
{
    const Retry lost = m_retry;
    cancelRetry();
    if (lost.automatic && !isStInterface() && !isAutomatic())
        startAutomaticMode();
    if (lost.recording)
        startRecording();
    emit notice(Notice::GatewayBack);
}

} // namespace powerlog
