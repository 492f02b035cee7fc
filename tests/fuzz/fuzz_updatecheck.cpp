// The update check's version file and version order on arbitrary replies.
//  - parseVersionFile: an accepted reply gives an absolute http or https address with a host,
//    the version is the text before the first comma, and what the rules refuse (too large, an
//    HTML page, control bytes) is refused;
//  - isNewerVersion is a strict order on the versions tried: irreflexive, antisymmetric,
//    transitive, and versions that are neither above nor below each other compare alike.
// The input is the reply; its lines are also the versions compared.

#include "fuzzsupport.h"

#include "app/updatecheck.h"

#include <QList>
#include <QStringList>

using namespace powerlog;

namespace {

bool hasControlBytes(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n') || byte == 0x7f)
            return true;
    }
    return false;
}

void checkOrder(const QStringList& versions)
{
    for (const QString& a : versions) {
        FUZZ_CHECK_DETAIL(!isNewerVersion(a, a), a);
        for (const QString& b : versions) {
            const bool above = isNewerVersion(a, b);
            const bool below = isNewerVersion(b, a);
            FUZZ_CHECK_DETAIL(!(above && below), a + QStringLiteral(" | ") + b);
            for (const QString& c : versions) {
                if (above && isNewerVersion(b, c))
                    FUZZ_CHECK_DETAIL(isNewerVersion(a, c),
                                      a + QStringLiteral(" > ") + b + QStringLiteral(" > ") + c);
                if (!above && !below)
                    FUZZ_CHECK_DETAIL(isNewerVersion(a, c) == isNewerVersion(b, c),
                                      a + QStringLiteral(" ~ ") + b);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ensureApplication();
    const QByteArray reply(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<UpdateInfo> info = parseVersionFile(reply);
    if (reply.size() > kMaxVersionFileSize || reply.startsWith('<') || hasControlBytes(reply) ||
        !reply.contains(','))
        FUZZ_CHECK(!info);
    if (info) {
        const QUrl& url = info->downloadUrl;
        FUZZ_CHECK(url.isValid() && !url.isRelative());
        FUZZ_CHECK(url.scheme() == QStringLiteral("http") ||
                   url.scheme() == QStringLiteral("https"));
        FUZZ_CHECK(!url.host().isEmpty());
        FUZZ_CHECK(!info->serverVersion.contains(u','));
        FUZZ_CHECK(QString::fromLatin1(reply).startsWith(info->serverVersion + QLatin1Char(',')));
    }

    // Three lines and the version read are plenty for the order, and keep the cubic walk cheap.
    QStringList versions = QString::fromLatin1(reply).split(u'\n').mid(0, 3);
    if (info)
        versions << info->serverVersion;
    checkOrder(versions);
    return 0;
}
