#pragma once

#include <QString>

namespace powerlog {

// The maker's addresses the About window links to. A packager chooses them at build time
// (-DPOWERLOG_DONATION_URL, -DPOWERLOG_BUG_REPORT_ADDRESS); an empty one hides its link.
struct MakerAddresses
{
    QString donationPage;     // an http(s) address
    QString bugReportAddress; // an e-mail address, without "mailto:"
};

// The addresses chosen at build time; both empty by default.
MakerAddresses configuredMakerAddresses();

} // namespace powerlog
