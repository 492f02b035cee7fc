#pragma once

#include <QString>
#include <QStringList>

namespace powerlog {

// powerlogd's exit codes, so that service managers and scripts can tell the cases apart.
enum RecorderExit : int {
    kRecorderOk = 0,              // stopped by a signal with every reading written; check ok
    kRecorderFault = 1,           // --check found a fault in the settings or the database
    kRecorderNoDatabase = 2,      // DbEnergy.mdb is missing or cannot be opened
    kRecorderPasswordRefused = 3, // the gateway refused the password, or wants one none is set
    kRecorderRecordFailed = 4,    // the database refused a reading: recording cannot go on
    kRecorderUsage = 64,          // unknown option or argument (as sysexits' EX_USAGE)
};

// What one start of powerlogd is asked to do.
struct RecorderCommandLine
{
    enum class Action { Record, Check, Help, Version, UsageError };

    Action action = Action::Record;
    QString folder;       // --folder, empty when not given
    QString settingsFile; // --settings, empty for the user's own settings
    QString error;        // why the command line is wrong (UsageError)
    QString helpText;     // the help, for Help and UsageError
};

// Reads the arguments as QCoreApplication::arguments() gives them, program name first.
RecorderCommandLine parseRecorderCommandLine(const QStringList& arguments);

} // namespace powerlog
