// The gateway link over a long run against a gateway that uses the HMAC SHA-256 password,
// recycles its event session and closes idle command sessions: the program's own sessions,
// poller, meter, database writer and load states, wired as the main window wires them, with the
// gateway simulator in-process on 127.0.0.1. Counts the load events the gateway sent against
// those received, the load changes made while no event session was open (the refresh after
// each re-open must bring them), the readings asked for against those recorded, and how long
// the monitor session stayed down. Figures go to standard output as name=value lines.
//
//   bench_link_recycle [--seconds N] [--recycle-s N] [--idle-close-s N] [--refresh-s N]
//                      [--tick-ms MS]

#include "acquisition/databasewriter.h"
#include "acquisition/energydatabase.h"
#include "acquisition/loadstate.h"
#include "acquisition/meter.h"
#include "acquisition/poller.h"
#include "app/clock.h"
#include "gateway/commandsession.h"
#include "gateway/frames.h"
#include "gateway/monitorsession.h"
#include "simulator/gatewaysimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace powerlog;

namespace {

const QString kPassword = QStringLiteral("Powerlog2024");

int optionValue(const QCommandLineParser& parser, const QString& name, int fallback)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    return ok && value >= 0 ? value : fallback;
}

// What a load's picture says about its state, as the simulator numbers states.
int stateOf(LoadState picture)
{
    switch (picture) {
    case LoadState::Off:
        return 0;
    case LoadState::On:
        return 1;
    case LoadState::Forced:
        return 2;
    case LoadState::Other:
        return 3;
    default:
        return -1;
    }
}

qint64 rowsIn(const QString& file)
{
    qint64 rows = -1;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM Energy"), db);
            if (query.next())
                rows = query.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    return rows;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("seconds"), QStringLiteral("Length of the run (default 3600)."),
         QStringLiteral("N")},
        {QStringLiteral("recycle-s"),
         QStringLiteral("The gateway closes each event session after N s (default 60)."),
         QStringLiteral("N")},
        {QStringLiteral("idle-close-s"),
         QStringLiteral("The gateway closes a command session idle for N s (default 20)."),
         QStringLiteral("N")},
        {QStringLiteral("refresh-s"), QStringLiteral("Seconds between readings (default 30)."),
         QStringLiteral("N")},
        {QStringLiteral("tick-ms"),
         QStringLiteral("Real milliseconds per simulated second of the household (default "
                        "1000; smaller is busier)."),
         QStringLiteral("MS")},
    });
    parser.process(app);
    const int seconds = optionValue(parser, QStringLiteral("seconds"), 3600);
    const int recycleS = optionValue(parser, QStringLiteral("recycle-s"), 60);
    const int idleCloseS = optionValue(parser, QStringLiteral("idle-close-s"), 20);
    const int refreshS = std::max(1, optionValue(parser, QStringLiteral("refresh-s"), 30));
    const int tickMs = std::max(1, optionValue(parser, QStringLiteral("tick-ms"), 1000));

    QTemporaryDir folder;
    const QString file = folder.filePath(EnergyDatabase::kFileName);
    if (!folder.isValid() || !EnergyDatabase::createEmpty(file)) {
        std::fprintf(stderr, "bench_link_recycle: no database in a temporary folder\n");
        return 1;
    }

    sim::Options options;
    options.auth = sim::Auth::HmacSha256;
    options.password = kPassword;
    options.hour = 19; // the demo's busy evening: loads are shed and restored
    options.tickMs = tickMs;
    options.eventRecycleMs = recycleS * 1000;
    options.commandIdleCloseMs = idleCloseS * 1000;
    sim::GatewaySimulator gateway(options);
    if (!gateway.listen(0)) {
        std::fprintf(stderr, "bench_link_recycle: the simulator cannot listen\n");
        return 1;
    }

    SystemClock clock;
    DatabaseWriter database(folder.path());
    Meter meter(database, clock);
    CommandSession command; // the program's own time limits
    MonitorSession monitor(command);
    Poller poller(command, monitor);
    LoadStates loads;
    command.setPeer(QStringLiteral("127.0.0.1"), gateway.port());
    monitor.setPeer(QStringLiteral("127.0.0.1"), gateway.port());
    command.setPassword(kPassword);
    monitor.setPassword(kPassword);
    poller.setRefreshSeconds(refreshS);
    QObject::connect(&command, &CommandSession::frameReceived, &meter, &Meter::takeFrame);
    QObject::connect(&monitor, &MonitorSession::loadEvent, &loads, &LoadStates::applyLoadEvent);
    QObject::connect(&monitor, &MonitorSession::closed, &loads, &LoadStates::markUnknown);

    qint64 requests = 0, commandOpens = 0;
    QObject::connect(&gateway, &sim::GatewaySimulator::frameReceived, [&](const QString& frame) {
        requests += frame == frames::kMeasurementRequest;
        commandOpens += frame == frames::kOpenCommand;
    });
    qint64 eventsReceived = 0;
    qint64 readings = 0;
    int opens = 0, closes = 0, refused = 0, commandNoConnection = 0;
    int statesChecked = 0, statesWrong = 0;
    int eventsSinceOpen = 0;
    int longestWaitMs = 0;
    qint64 longestDownMs = 0, totalDownMs = 0;
    QElapsedTimer down;
    QObject::connect(&meter, &Meter::readingArrived, [&] { ++readings; });
    QObject::connect(&monitor, &MonitorSession::linkStateChanged,
                     [&](LinkState state, const QString& detail) {
                         if (state == LinkState::Reopening)
                             longestWaitMs = std::max(longestWaitMs, detail.toInt());
                         refused += state == LinkState::PasswordRefused;
                     });
    QObject::connect(&command, &CommandSession::linkStateChanged, [&](LinkState state) {
        refused += state == LinkState::PasswordRefused;
        commandNoConnection += state == LinkState::NoConnection;
    });
    QObject::connect(&monitor, &MonitorSession::closed, [&] {
        ++closes;
        down.start();
    });
    // After each open the gateway pushes all eight states; then the loads must match it (or
    // do so a moment later, when a change was on its way).
    const auto compare = [&] {
        for (int i = 0; i < LoadStates::kLoadCount; ++i) {
            if (stateOf(loads.state(i)) != gateway.loadState(i + 1))
                return false;
        }
        return true;
    };
    QObject::connect(&monitor, &MonitorSession::opened, [&] {
        ++opens;
        eventsSinceOpen = 0;
        if (down.isValid()) {
            const qint64 ms = down.elapsed();
            longestDownMs = std::max(longestDownMs, ms);
            totalDownMs += ms;
            down.invalidate();
        }
    });
    QObject::connect(&monitor, &MonitorSession::loadEvent, [&] {
        ++eventsReceived;
        if (++eventsSinceOpen != LoadStates::kLoadCount)
            return;
        ++statesChecked;
        if (!compare()) {
            QTimer::singleShot(2000, &app, [&] { statesWrong += !compare(); });
        }
    });

    QElapsedTimer run;
    run.start();
    meter.setRecording(true);
    database.open();
    poller.startAutomaticMode();

    QTimer::singleShot(seconds * 1000, &app, [&] {
        poller.stopAutomaticMode();
        command.setClosing();
        monitor.setClosing();
        database.flush([&] {
            database.close();
            app.quit();
        });
    });
    app.exec();

    std::printf("seconds=%lld\n", run.elapsed() / 1000);
    std::printf("sessions_closed_by_the_gateway=%d\n", gateway.recycledSessions());
    std::printf("monitor_opens=%d\n", opens);
    std::printf("monitor_closed_by_gateway=%d\n", closes);
    std::printf("monitor_longest_down_ms=%lld\n", longestDownMs);
    std::printf("monitor_total_down_ms=%lld\n", totalDownMs);
    std::printf("longest_reopen_wait_ms=%d\n", longestWaitMs);
    std::printf("load_events_sent=%lld\n", gateway.loadEventsSent());
    std::printf("load_events_received=%lld\n", eventsReceived);
    std::printf("load_changes_while_no_event_session=%lld\n", gateway.loadChangesUnseen());
    std::printf("states_checked_after_reopen=%d\n", statesChecked);
    std::printf("states_wrong_after_reopen=%d\n", statesWrong);
    std::printf("command_opens=%lld\n", commandOpens);
    std::printf("command_no_connection=%d\n", commandNoConnection);
    std::printf("passwords_refused=%d (gateway: %d)\n", refused, gateway.refusedPasswords());
    std::printf("reading_requests=%lld\n", requests);
    std::printf("readings_received=%lld\n", readings);
    std::printf("rows_recorded=%lld\n", rowsIn(file));
    return 0;
}
