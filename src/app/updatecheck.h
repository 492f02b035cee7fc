#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace powerlog {

// What the version file announces: the newest version and the page to download it from.
struct UpdateInfo
{
    QString serverVersion;
    QUrl downloadUrl; // always http or https with a host
    bool operator==(const UpdateInfo&) const = default;
};

enum class UpdateOutcome {
    Newer,        // the file names a version above the running one
    Current,      // the running version is the same or above
    Failed,       // no usable answer: network, HTTP status, time-out, size or form
    NotConfigured // no http(s) address to ask
};

// The largest version file accepted, in bytes.
inline constexpr qsizetype kMaxVersionFileSize = 4096;

// Reads the version file: "<version>,<download address>[,anything]". Bytes are Latin-1
// characters. A single trailing line break (CR LF, LF or CR) is dropped from the whole reply
// before the split, so a file saved by an editor still works; otherwise the fields are used as
// they are, and a stray space or line break in the address makes it unusable. Nothing for a reply
// above kMaxVersionFileSize, one starting with "<" (an HTML page), one without a comma, one
// holding control bytes other than TAB, CR and LF (NUL, DEL, ...), or when the address is not an
// absolute http or https address with a host.
std::optional<UpdateInfo> parseVersionFile(const QByteArray& reply);

// True when server is strictly above running. Both split at "."; each part counts as its leading
// decimal number (0 when it has none, any word after the digits ignored); missing parts count 0.
// Parts compare as numbers of any length: 1.10 is above 1.9, 1.4.0beta equals 1.4.0.
bool isNewerVersion(const QString& server, const QString& running);

// The version file to ask: the environment variable POWERLOG_UPDATE_URL when it is set (set but
// empty switches the check off), otherwise the address chosen at build time (-DPOWERLOG_UPDATE_URL,
// empty by default). An empty QUrl means: no check.
QUrl configuredUpdateUrl();

// Fetches the version file once and says whether a newer version exists. Asynchronous: check()
// returns at once and finished() follows from the event loop, exactly once per check().
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    UpdateChecker(QUrl versionFile, QString runningVersion, QObject* parent = nullptr);
    ~UpdateChecker() override;

    // The limit for the whole fetch, connection to last byte. Default 10000 ms.
    void setTimeout(int milliseconds);

    // Starts the fetch. An address that is not http(s) with a host finishes with NotConfigured,
    // queued, without touching the network. Does nothing while a check runs; after finished() a
    // new call asks again.
    void check();

signals:
    // info is set for Newer and Current, empty for Failed and NotConfigured.
    void finished(powerlog::UpdateOutcome outcome, const powerlog::UpdateInfo& info);

private:
    void readAvailable();
    void replyFinished();
    void finish(UpdateOutcome outcome, const UpdateInfo& info = {});

    QUrl m_versionFile;
    QString m_runningVersion;
    QNetworkAccessManager* m_network = nullptr; // made on the first fetch
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    QTimer m_deadline;
    bool m_running = false;
};

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::UpdateInfo)
Q_DECLARE_METATYPE(powerlog::UpdateOutcome)
