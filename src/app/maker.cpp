#include "app/maker.h"

// Set by the build (see the top CMakeLists.txt); only this file sees them.
#ifndef POWERLOG_DONATION_URL_DEFAULT
#define POWERLOG_DONATION_URL_DEFAULT ""
#endif
#ifndef POWERLOG_BUG_REPORT_ADDRESS_DEFAULT
#define POWERLOG_BUG_REPORT_ADDRESS_DEFAULT ""
#endif

namespace powerlog {

MakerAddresses configuredMakerAddresses()
{
    return {QStringLiteral(POWERLOG_DONATION_URL_DEFAULT).trimmed(),
            QStringLiteral(POWERLOG_BUG_REPORT_ADDRESS_DEFAULT).trimmed()};
}

} // namespace powerlog
