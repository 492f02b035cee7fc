#pragma once

#include <QString>

namespace powerlog::maker {

// The maker's addresses, in one place.
inline const QString kDonationPage = QStringLiteral("https://powerlog.example.org/donate");
inline const QString kBugReportAddress = QStringLiteral("bugs@powerlog.example.org");

} // namespace powerlog::maker
