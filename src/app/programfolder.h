#pragma once

#include <QString>

namespace powerlog {

// The program's folder: where "load.ini", "DbEnergy.mdb" and "Powerlog.pdf" live. The folder
// of the executable, unless the command line (--folder DIR) or the environment
// (POWERLOG_HOME) names another one, as tests and packaged installs do.
QString resolveProgramFolder(const QString& commandLineFolder);

inline const QString kLoadIniName = QStringLiteral("load.ini");
inline const QString kHelpFileName = QStringLiteral("Powerlog.pdf");

} // namespace powerlog
