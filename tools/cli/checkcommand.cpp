#include "checkcommand.h"

#include "readaccess.h"

#include "acquisition/databasecheck.h"
#include "acquisition/energydatabase.h"

namespace powerlog::cli {

namespace {

int runCheck(const Invocation& invocation)
{
    if (const int code = expectNoArguments(invocation); code != kExitOk)
        return code;

    EnergyDatabase database(invocation.folder);
    if (!databaseFileExists(invocation, database.path()))
        return kExitNoDatabase;
    DatabaseResult opened;
    {
        const SignalStop stop;
        opened = database.open(summaryProgressOnStderr(invocation, stop));
        if (stop.received() != 0) {
            database.close();
            stop.endAsAsked(invocation, opened.interrupted);
        }
    }
    if (!opened.ok()) {
        invocation.err << kProgramName << ": cannot open " << database.path() << ": "
                       << opened.error << Qt::endl;
        return kExitNoDatabase;
    }

    const DatabaseCheck check = checkEnergyDatabase(database.connection());
    if (check.extentRead) {
        invocation.out << "rows=" << check.rows << "\nfirst=" << check.first
                       << "\nlast=" << check.last << '\n';
    } else {
        invocation.err << kProgramName << ": cannot read Energy: " << check.extentError << Qt::endl;
    }
    invocation.out << "integrity=" << check.integrity << "\nsummary=" << check.halfHours
                   << "\nday_summary=" << check.days << "\nhour_energy=" << check.hours << '\n';
    return check.ok() ? kExitOk : kExitFault;
}

} // namespace

Command checkCommand()
{
    return {QStringLiteral("check"),
            {},
            QStringLiteral("verify the file, its half-hour and day summaries and its\n"
                           "hourly energy\n"
                           "(the summaries are built first when the file lacks them)"),
            {},
            runCheck};
}

} // namespace powerlog::cli
