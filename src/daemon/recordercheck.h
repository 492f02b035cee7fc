#pragma once

#include <QString>
#include <QStringList>

class QTextStream;

namespace powerlog {

class Settings;
class SettingsStore;

// What is wrong with the stored settings as the recorder reads them, one complaint each: a
// value the program would not take (and would replace by its default), a password that cannot
// be read, no gateway address. Empty when nothing is.
QStringList settingsProblems(const SettingsStore& store, const Settings& settings);

// powerlogd --check: the settings and the database of `folder`, the database opened as the
// recorder opens it (its summary tables built when it lacks them). Prints key=value lines on
// `out` (settings=, gateway=, settings_check=, database=, then powerlog-cli check's rows=,
// first=, last=, integrity=, summary=, day_summary=, hour_energy=, and recorder=, the process
// recording into the file or "none"), each complaint on `err`. Returns a RecorderExit code.
int runRecorderCheck(SettingsStore& store, const QString& folder, QTextStream& out,
                     QTextStream& err);

} // namespace powerlog
