// powerlog-gateway-sim: a simulated home-automation gateway with a load-control central unit,
// on 127.0.0.1 only. See README.md for the flags.

#include "app/terminationsignals.h"
#include "gateway/meterframes.h"
#include "simulator/faultcycle.h"
#include "simulator/gatewaysimulator.h"
#include "simulator/statsfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>
#include <memory>

using powerlog::sim::Auth;
using powerlog::sim::FaultCycle;
using powerlog::sim::GatewaySimulator;
using powerlog::sim::Options;

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

// Reads a whole-number flag value inside [min, max]; complains and returns false otherwise.
bool readNumber(const QCommandLineParser& parser, const QString& name, qint64 min, qint64 max,
                qint64& value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    value = parser.value(name).toLongLong(&ok);
    if (ok && value >= min && value <= max)
        return true;
    err() << "--" << name << " needs a whole number from " << min << " to " << max << "\n";
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("powerlog-gateway-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated gateway and load-control central unit on 127.0.0.1."));
    parser.addHelpOption();
    const auto valued = [](const char* name, const char* text, const char* value,
                           const QString& defaultValue = {}) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text),
                                  QString::fromLatin1(value), defaultValue);
    };
    const auto flag = [](const char* name, const char* text) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text));
    };
    parser.addOptions({
        valued("port", "TCP port on 127.0.0.1 (0 = any free port).", "N", "20000"),
        valued("password",
               "OPEN password; the gateway then asks for it (digits for numeric, letters and "
               "digits for HMAC).",
               "TEXT"),
        valued("auth",
               "How the password is asked for: sha256, sha1, numeric or none (default: numeric "
               "with a password, none without).",
               "MODE"),
        valued("idle-close", "Close a command session idle for N seconds (0 = never).", "N"),
        valued("recycle-events", "Close every event session N seconds after it opened.", "N"),
        valued("line-power", "Contracted line power in watts (loads are shed above it).", "W",
               "3000"),
        flag("st-push", "Push readings unasked on event sessions."),
        valued("st-push-interval", "Milliseconds between pushed readings.", "MS", "3000"),
        valued("seed", "Seed of the household profile and the nonces.", "N", "1"),
        valued("tick-ms", "Real milliseconds per simulated second.", "MS", "1000"),
        valued("hour", "Live at this hour of the day (0-23) instead of the clock's.", "H"),
        flag("no-greeting", "Do not greet new connections."),
        flag("nack-all", "Answer every frame after the open with NACK."),
        flag("silent", "Answer nothing after the open."),
        valued("close-after", "Close a connection on receiving its N-th frame.", "N"),
        flag("split", "Send every frame in 2 or 3 TCP segments, 20 ms apart."),
        flag("garbage", "Put junk bytes between the frames sent."),
        valued("fault-cycle",
               "Cycle through fault phases (none, silent, nack-all, cut-frame, garbage, split, "
               "no-greeting), N seconds each.",
               "N"),
        valued("stats",
               "Rewrite FILE every second and on exit with the readings sent and the "
               "connections seen.",
               "FILE"),
        valued("meter",
               "A WHO 18 energy meter at WHERE 5N (N 1-255); repeat the flag for more meters.",
               "5N"),
        valued("meter-minute-ms",
               "Real milliseconds of one minute of the meters' automatic power updates.", "MS",
               "60000"),
        flag("no-who3", "No load-control central unit: every WHO 3 frame is answered with NACK."),
        flag("verbose", "Print every frame received on stderr."),
    });
    parser.process(app);

    Options options;
    qint64 port = 20000;
    qint64 linePower = options.linePowerWatts;
    qint64 stInterval = options.stPushIntervalMs;
    qint64 seed = options.seed;
    qint64 tickMs = options.tickMs;
    qint64 closeAfter = 0;
    qint64 hour = -1;
    qint64 idleClose = 0;
    qint64 recycleEvents = 0;
    qint64 faultCycleSeconds = 0;
    qint64 meterMinuteMs = options.meterMinuteMs;
    if (!readNumber(parser, QStringLiteral("port"), 0, 65535, port) ||
        !readNumber(parser, QStringLiteral("line-power"), 0, 1'000'000, linePower) ||
        !readNumber(parser, QStringLiteral("st-push-interval"), 1, 3'600'000, stInterval) ||
        !readNumber(parser, QStringLiteral("seed"), 0, 4294967295, seed) ||
        !readNumber(parser, QStringLiteral("tick-ms"), 1, 3'600'000, tickMs) ||
        !readNumber(parser, QStringLiteral("close-after"), 0, 1'000'000, closeAfter) ||
        !readNumber(parser, QStringLiteral("hour"), -1, 23, hour) ||
        !readNumber(parser, QStringLiteral("idle-close"), 0, 86'400, idleClose) ||
        !readNumber(parser, QStringLiteral("recycle-events"), 0, 86'400, recycleEvents) ||
        !readNumber(parser, QStringLiteral("fault-cycle"), 0, 86'400, faultCycleSeconds) ||
        !readNumber(parser, QStringLiteral("meter-minute-ms"), 1, 3'600'000, meterMinuteMs))
        return 2;
    for (const QString& where : parser.values(QStringLiteral("meter"))) {
        const std::optional<int> meter = powerlog::meterframes::meterNumber(where);
        if (!meter) {
            err() << "--meter needs a WHERE 5N with N from 1 to 255, not " << where << "\n";
            return 2;
        }
        if (!options.meters.contains(*meter))
            options.meters.append(*meter);
    }
    options.meterMinuteMs = int(meterMinuteMs);
    options.who3 = !parser.isSet(QStringLiteral("no-who3"));

    options.password = parser.value(QStringLiteral("password"));
    const QString auth = parser.isSet(QStringLiteral("auth"))
                             ? parser.value(QStringLiteral("auth"))
                             : QString::fromLatin1(options.password.isEmpty() ? "none" : "numeric");
    if (auth == QLatin1String("none")) {
        if (!options.password.isEmpty()) {
            err() << "--auth none takes no --password\n";
            return 2;
        }
    } else if (auth == QLatin1String("numeric")) {
        static const QRegularExpression digits(QStringLiteral("^\\d{1,10}$"));
        bool passwordFits = false;
        options.password.toUInt(&passwordFits);
        if (!digits.match(options.password).hasMatch() || !passwordFits) {
            err() << "--password needs digits only, a number below 4294967296\n";
            return 2;
        }
        options.auth = Auth::Numeric;
    } else if (auth == QLatin1String("sha256") || auth == QLatin1String("sha1")) {
        static const QRegularExpression lettersAndDigits(QStringLiteral("^[A-Za-z0-9]+$"));
        if (!lettersAndDigits.match(options.password).hasMatch()) {
            err() << "--auth " << auth << " needs a --password of letters and digits\n";
            return 2;
        }
        options.auth = auth == QLatin1String("sha1") ? Auth::HmacSha1 : Auth::HmacSha256;
    } else {
        err() << "--auth needs sha256, sha1, numeric or none\n";
        return 2;
    }
    options.linePowerWatts = int(linePower);
    options.stPush = parser.isSet(QStringLiteral("st-push"));
    options.stPushIntervalMs = int(stInterval);
    options.seed = quint32(seed);
    options.tickMs = int(tickMs);
    options.hour = int(hour);
    options.commandIdleCloseMs = int(idleClose * 1000);
    options.eventRecycleMs = int(recycleEvents * 1000);
    options.faults.noGreeting = parser.isSet(QStringLiteral("no-greeting"));
    options.faults.nackAll = parser.isSet(QStringLiteral("nack-all"));
    options.faults.silent = parser.isSet(QStringLiteral("silent"));
    options.faults.closeAfterFrames = int(closeAfter);
    options.faults.splitFrames = parser.isSet(QStringLiteral("split"));
    options.faults.garbageBetween = parser.isSet(QStringLiteral("garbage"));

    GatewaySimulator simulator(options);
    if (parser.isSet(QStringLiteral("verbose"))) {
        QObject::connect(&simulator, &GatewaySimulator::frameReceived,
                         [](const QString& frame) { err() << "received " << frame << Qt::endl; });
    }
    if (!simulator.listen(quint16(port), QHostAddress::LocalHost)) {
        err() << "cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    out() << "listening on 127.0.0.1:" << simulator.port() << Qt::endl;

    std::unique_ptr<FaultCycle> cycle;
    if (faultCycleSeconds > 0) {
        cycle = std::make_unique<FaultCycle>(simulator, FaultCycle::standardPhases(options.faults),
                                             int(faultCycleSeconds * 1000));
        QObject::connect(cycle.get(), &FaultCycle::phaseChanged,
                         [](const QString& name) { err() << "fault phase " << name << Qt::endl; });
        cycle->start();
    }
    std::unique_ptr<powerlog::sim::StatsFile> stats;
    if (parser.isSet(QStringLiteral("stats"))) {
        stats = std::make_unique<powerlog::sim::StatsFile>(parser.value(QStringLiteral("stats")),
                                                           simulator, cycle.get());
        if (!stats->write()) {
            err() << "cannot write " << parser.value(QStringLiteral("stats")) << "\n";
            return 1;
        }
    }
    // Ending by a signal still leaves the final figures behind.
    powerlog::TerminationSignals termination;
    QObject::connect(&termination, &powerlog::TerminationSignals::received, &app, [&] {
        simulator.close();
        if (stats)
            stats->write();
        QCoreApplication::quit();
    });
    return app.exec();
}
