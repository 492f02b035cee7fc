// powerlog-cli: works on the energy database without a window, for home servers and scripts.
// `powerlog-cli --help` lists the commands.

#include "checkcommand.h"
#include "compactcommand.h"
#include "dispatcher.h"
#include "energycommand.h"
#include "exportcommand.h"
#include "seriescommand.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    powerlog::cli::CommandDispatcher dispatcher(out, err);
    dispatcher.add(powerlog::cli::checkCommand());
    dispatcher.add(powerlog::cli::compactCommand());
    dispatcher.add(powerlog::cli::seriesCommand());
    dispatcher.add(powerlog::cli::energyCommand());
    dispatcher.add(powerlog::cli::exportCommand());
    return dispatcher.run(app.arguments());
}
