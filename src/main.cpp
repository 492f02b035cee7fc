// Program entry: builds the station of one run, its main window and its tray icon.

#include "acquisition/energydatabase.h"
#include "app/clock.h"
#include "app/language.h"
#include "app/programfolder.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "app/singleinstance.h"
#include "app/terminationsignals.h"
#include "app/updatecheck.h"
#include "app/version.h"
#include "controller/station.h"
#include "simulator/gatewaysimulator.h"
#include "simulator/householdprofile.h"
#include "ui/common/platform.h"
#include "ui/main/mainwindow.h"
#include "ui/main/traypresenter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <memory>

using namespace powerlog;

namespace {

// --help and --version print and end without a window, so they need no display.
bool onlyPrints(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--") // the options end here
            break;
        if (argument == "-h" || argument == "--help" || argument == "-?" ||
            argument == "--help-all" || argument == "-v" || argument == "--version")
            return true;
    }
    return false;
}

// A simulated gateway for --demo on a free port of 127.0.0.1, and this run pointed at it.
// With `meter`, the gateway has no load-control unit (it refuses every WHO 3 frame) and an energy
// meter at 51, as most gateways of this family.
std::unique_ptr<sim::GatewaySimulator> startDemoGateway(RunOverrides& overrides, bool meter)
{
    // A busy evening, whatever the time, so that loads are shed and restored to watch; a modern
    // gateway's HMAC password and the event session it recycles every minute, which comes back
    // by itself.
    sim::Options options;
    options.hour = 19;
    options.auth = sim::Auth::HmacSha256;
    options.password = QStringLiteral("demo2024");
    options.eventRecycleMs = 60'000;
    if (meter) {
        options.meters = {1};
        options.who3 = false;
    }
    auto simulator = std::make_unique<sim::GatewaySimulator>(options);
    if (!simulator->listen(0)) {
        qCritical("The simulated gateway could not listen on 127.0.0.1");
        return nullptr;
    }
    overrides.serverAddress = QStringLiteral("127.0.0.1");
    overrides.serverPort = simulator->port();
    overrides.serverPassword = simulator->options().password;
    overrides.refreshSeconds = 10;
    overrides.startAutomatic = true;
    overrides.startRecording = true;
    // The simulated loads carry names, so a newcomer sees what is shed; the user's own load.ini
    // is left alone.
    QStringList names;
    for (int position = 1; position <= LoadStates::kLoadCount; ++position) {
        QString name = sim::HouseholdProfile::applianceName(position);
        if (!name.isEmpty())
            name[0] = name[0].toUpper();
        names << name;
    }
    overrides.loadNames = names;
    return simulator;
}

} // namespace

int main(int argc, char* argv[])
{
    // The window's repaints are small (a readout, the graph's new column, the tray's icon). Sent
    // through X's shared memory, each waits for the server's completion event and a round trip,
    // two more wakeups of an idle program; through the socket they cost less. Who sets the
    // variable keeps the choice.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    const std::unique_ptr<QCoreApplication> application =
        onlyPrints(argc, argv) ? std::make_unique<QCoreApplication>(argc, argv)
                               : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Powerlog"));
    QCoreApplication::setApplicationVersion(versionText());
    // Ties the windows to the installed menu entry (powerlog.desktop) on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("powerlog"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Home energy monitor for MY-Home gateways.\n\n"
                       "The program folder holds DbEnergy.mdb and load.ini: the executable's own "
                       "folder when it can be written,\notherwise (an installed copy) the user's "
                       "data folder, made and seeded on the first start."));
    parser.addHelpOption();
    const QCommandLineOption versionOption(
        {QStringLiteral("v"), QStringLiteral("version")},
        QStringLiteral("Displays version information and where the data lives."));
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        QStringLiteral("Run against a simulated gateway on this computer, recording into the "
                       "program folder's demo/ subfolder (your own database is not touched)."));
    const QCommandLineOption folderOption(
        QStringLiteral("folder"),
        QStringLiteral("Program folder holding load.ini and DbEnergy.mdb (default: the "
                       "executable's folder, or the user's data folder for an installed copy, "
                       "or POWERLOG_HOME)."),
        QStringLiteral("dir"));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Settings file to use instead of the user's own."), QStringLiteral("file"));
    const QCommandLineOption meterOption(
        QStringLiteral("meter"),
        QStringLiteral("With --demo: read a simulated energy meter at 51 on a gateway without a "
                       "load-control unit."));
    parser.addOptions({versionOption, demoOption, meterOption, folderOption, settingsOption});
    parser.process(*application);

    const ProgramFolder chosen =
        chooseProgramFolder(systemFolderCandidates(parser.value(folderOption)));
    if (parser.isSet(versionOption)) {
        QTextStream out(stdout);
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
            << "\nData folder: " << QDir::toNativeSeparators(chosen.path) << " ("
            << folderSourceText(chosen.source) << ")\n";
        return 0;
    }
    // Only closing the main window ends the program; it may run with no window shown.
    QApplication::setQuitOnLastWindowClosed(false);

    QString folder = chosen.path;
    if (QString error;
        !prepareProgramFolder(chosen, QCoreApplication::applicationDirPath(), &error)) {
        qCritical("The data folder %s cannot be prepared: %s", qPrintable(folder),
                  qPrintable(error));
        return 1;
    }
    const bool demo = parser.isSet(demoOption);
    if (demo) {
        // Simulated readings never mix with real ones: the demo keeps a database of its own.
        folder = QDir(folder).filePath(QStringLiteral("demo"));
        const QString file = QDir(folder).filePath(EnergyDatabase::kFileName);
        QString error;
        if (!QDir().mkpath(folder) ||
            (!QFileInfo::exists(file) && !EnergyDatabase::createEmpty(file, &error))) {
            qCritical("The demo's database %s cannot be made: %s", qPrintable(file),
                      qPrintable(error));
            return 1;
        }
    }
    const auto store = parser.isSet(settingsOption)
                           ? std::make_unique<SettingsStore>(parser.value(settingsOption))
                           : std::make_unique<SettingsStore>();
    Settings settings(*store);
    const bool demoMeter = demo && parser.isSet(meterOption);
    if (demoMeter) {
        settings.overrideForThisRun(Setting::MeterSource, QStringLiteral("meter"));
        settings.overrideForThisRun(Setting::MeterWhere, QStringLiteral("51"));
    }

    Texts texts;
    MessageBoxPrompts prompts;
    SystemDesktop desktop;
    SystemTray tray;
    SystemClock clock;
    SystemFileDialogs files;
    SingleInstance instance;
    if (!instance.acquire())
        return 0; // another instance runs: it shows its window, this one leaves

    StationOptions options;
    options.programFolder = folder;
    std::unique_ptr<sim::GatewaySimulator> simulator;
    if (demo) {
        simulator = startDemoGateway(options.overrides, demoMeter);
        if (!simulator)
            return 1;
    }

    Station station(settings, clock, options);
    MainWindow window({station, texts, prompts, desktop, tray, &files});
    TrayPresenter presenter({station, texts, tray, desktop, prompts, configuredUpdateUrl()});
    connectTrayToWindow(presenter, window);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     &MainWindow::bringToFront);

    // A request to end shuts down in order; the database writer, owned by the station, still
    // writes every reading queued before.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &station, &Station::shutdown);
    QObject::connect(&station, &Station::shutDown, application.get(), &QCoreApplication::quit,
                     Qt::QueuedConnection);

    presenter.start();
    station.start();
    if (!MainWindow::startsHidden(settings.isOn(Setting::StartMinimized), tray.isAvailable()))
        window.show();
    return QCoreApplication::exec();
}
