#include "app/updatecheck.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#ifndef POWERLOG_UPDATE_URL_DEFAULT
#define POWERLOG_UPDATE_URL_DEFAULT ""
#endif

namespace powerlog {

namespace {

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme(); // QUrl keeps schemes in lower case
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

// Text is printable bytes plus TAB, CR and LF; anything else means a binary or broken reply.
bool isText(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n') || byte == 0x7f)
            return false;
    }
    return true;
}

QByteArray withoutTrailingLineBreak(QByteArray bytes)
{
    if (bytes.endsWith("\r\n"))
        bytes.chop(2);
    else if (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    return bytes;
}

// The leading decimal digits of a version part without leading zeros: "" for none or zero.
QStringView leadingNumber(QStringView part)
{
    qsizetype end = 0;
    while (end < part.size() && part[end] >= u'0' && part[end] <= u'9')
        ++end;
    qsizetype start = 0;
    while (start < end && part[start] == u'0')
        ++start;
    return part.sliced(start, end - start);
}

// Compares two digit strings without leading zeros as numbers, whatever their length.
int compareNumbers(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

} // namespace

std::optional<UpdateInfo> parseVersionFile(const QByteArray& reply)
{
    if (reply.size() > kMaxVersionFileSize || reply.startsWith('<') || !isText(reply))
        return std::nullopt;
    const QString text = QString::fromLatin1(withoutTrailingLineBreak(reply));
    const qsizetype firstComma = text.indexOf(u',');
    if (firstComma < 0)
        return std::nullopt;
    const qsizetype secondComma = text.indexOf(u',', firstComma + 1);
    const QString address =
        text.mid(firstComma + 1, secondComma < 0 ? -1 : secondComma - firstComma - 1);
    // Strict parsing: a space or line break inside the address makes it invalid instead of being
    // quietly encoded.
    const QUrl url(address, QUrl::StrictMode);
    if (!isWebAddress(url))
        return std::nullopt;
    return UpdateInfo{text.left(firstComma), url};
}

bool isNewerVersion(const QString& server, const QString& running)
{
    const QList<QStringView> serverParts = QStringView(server).split(u'.');
    const QList<QStringView> runningParts = QStringView(running).split(u'.');
    const qsizetype count = std::max(serverParts.size(), runningParts.size());
    for (qsizetype i = 0; i < count; ++i) {
        const QStringView a =
            i < serverParts.size() ? leadingNumber(serverParts[i]) : QStringView();
        const QStringView b =
            i < runningParts.size() ? leadingNumber(runningParts[i]) : QStringView();
        if (const int order = compareNumbers(a, b); order != 0)
            return order > 0;
    }
    return false;
}

QUrl configuredUpdateUrl()
{
    static constexpr char kVariable[] = "POWERLOG_UPDATE_URL";
    const QString address = qEnvironmentVariableIsSet(kVariable)
                                ? qEnvironmentVariable(kVariable)
                                : QStringLiteral(POWERLOG_UPDATE_URL_DEFAULT);
    return QUrl(address.trimmed());
}

UpdateChecker::UpdateChecker(QUrl versionFile, QString runningVersion, QObject* parent)
    : QObject(parent), m_versionFile(std::move(versionFile)),
      m_runningVersion(std::move(runningVersion))
{
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(10000);
    connect(&m_deadline, &QTimer::timeout, this, [this] { finish(UpdateOutcome::Failed); });
}

UpdateChecker::~UpdateChecker()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void UpdateChecker::setTimeout(int milliseconds)
{
    m_deadline.setInterval(milliseconds);
}

void UpdateChecker::check()
{
    if (m_running)
        return;
    m_running = true;
    if (!isWebAddress(m_versionFile)) {
        QMetaObject::invokeMethod(
            this, [this] { finish(UpdateOutcome::NotConfigured); }, Qt::QueuedConnection);
        return;
    }
    if (!m_network)
        m_network = new QNetworkAccessManager(this);

    QNetworkRequest request(m_versionFile);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Powerlog/%1").arg(m_runningVersion));
    m_body.clear();
    m_reply = m_network->get(request);
    // Bounds what the network layer buffers: a huge reply stays in the socket until aborted.
    m_reply->setReadBufferSize(kMaxVersionFileSize + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, &UpdateChecker::readAvailable);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::replyFinished);
    m_deadline.start();
}

void UpdateChecker::readAvailable()
{
    m_body += m_reply->read(kMaxVersionFileSize + 1 - m_body.size());
    if (m_body.size() > kMaxVersionFileSize)
        finish(UpdateOutcome::Failed);
}

void UpdateChecker::replyFinished()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // The redirect policy keeps to http(s); the final address is checked all the same.
    if (m_reply->error() != QNetworkReply::NoError || status < 200 || status > 299 ||
        !isWebAddress(m_reply->url())) {
        finish(UpdateOutcome::Failed);
        return;
    }
    m_body += m_reply->read(kMaxVersionFileSize + 1 - m_body.size());
    const std::optional<UpdateInfo> info = parseVersionFile(m_body);
    if (!info)
        finish(UpdateOutcome::Failed);
    else if (isNewerVersion(info->serverVersion, m_runningVersion))
        finish(UpdateOutcome::Newer, *info);
    else
        finish(UpdateOutcome::Current, *info);
}

void UpdateChecker::finish(UpdateOutcome outcome, const UpdateInfo& info)
{
    m_deadline.stop();
    if (m_reply) {
        m_reply->disconnect(this); // an abort must not report back here
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_body.clear();
    m_running = false;
    emit finished(outcome, info);
}

} // namespace powerlog
