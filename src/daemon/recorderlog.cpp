#include "daemon/recorderlog.h"

#include "app/settings.h"
#include "controller/station.h"

#include <QDir>
#include <csignal>
#include <utility>

namespace powerlog {

RecorderLog::RecorderLog(Station& station, Writer writer, QObject* parent)
    : QObject(parent), m_station(station), m_writer(std::move(writer))
{
    connect(&station, &Station::linkStateChanged, this, &RecorderLog::onLinkState);
    connect(&station.monitorSession(), &MonitorSession::opened, this, [this] {
        m_monitorDown.clear();
        sessionOpened();
        write(QStringLiteral("event session open"));
    });
    connect(&station, &Station::notice, this, [this](Notice notice) {
        const QString line = noticeLine(notice);
        if (!line.isEmpty())
            write(line);
    });
    connect(&station.database(), &DatabaseWriter::opened, this,
            [this](const DatabaseResult& result) {
                if (result.ok())
                    write(QStringLiteral("database open: %1")
                              .arg(QDir::toNativeSeparators(m_station.database().path())));
            });
    connect(&station, &Station::databaseProblem, this,
            [this](const DatabaseResult& result) { write(databaseLine(result)); });
    connect(&station, &Station::databaseBusyChanged, this, [this](bool busy) {
        write(busy ? QStringLiteral("database busy: preparing its summary tables")
                   : QStringLiteral("database ready"));
    });
    connect(&station, &Station::recordingElsewhereChanged, this, [this](bool elsewhere) {
        const QString path = QDir::toNativeSeparators(m_station.database().path());
        if (elsewhere) {
            const qint64 holder = m_station.recorderLock().holder();
            write(QStringLiteral("another process%1 records into %2: waiting for it to stop")
                      .arg(holder > 0 ? QStringLiteral(" (%1)").arg(holder) : QString(), path));
        } else if (m_station.isRecording()) {
            write(QStringLiteral("recording into %1").arg(path));
        }
    });
    connect(&station, &Station::recordingChanged, this, [this](bool on) {
        if (!on && !m_station.isClosing())
            write(QStringLiteral("recording stopped"));
    });
}

void RecorderLog::started()
{
    const Settings& settings = m_station.settings();
    write(QStringLiteral("recording into %1 from the gateway at %2:%3")
              .arg(QDir::toNativeSeparators(m_station.database().path()),
                   settings.text(Setting::ServerAddress))
              .arg(settings.port()));
}

void RecorderLog::stopping(int signal)
{
    write(QStringLiteral("stopping on signal %1").arg(signalName(signal)));
}

QString RecorderLog::signalName(int signal)
{
    switch (signal) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QString::number(signal);
    }
}

QString RecorderLog::linkLine(LinkChannel channel, LinkState state, const QString& detail)
{
    const QString because = detail.isEmpty() ? QString() : QStringLiteral(": ") + detail;
    const bool monitor = channel == LinkChannel::Monitor;
    switch (state) {
    case LinkState::Connected:
        return QStringLiteral("connected to the gateway at %1").arg(detail);
    case LinkState::NoConnection:
        return (monitor ? QStringLiteral("event session: cannot reach the gateway")
                        : QStringLiteral("cannot reach the gateway")) +
               because;
    case LinkState::NotOpened:
        return (monitor ? QStringLiteral("event session: the gateway did not open it")
                        : QStringLiteral("the gateway did not open the session")) +
               because;
    case LinkState::PasswordMissing:
        return QStringLiteral("the gateway asks for a password and none is set");
    case LinkState::PasswordRefused:
        return QStringLiteral("the gateway refused the password");
    case LinkState::FrameNotAcknowledged:
        return QStringLiteral("the gateway did not acknowledge %1").arg(detail);
    case LinkState::PeerClosed:
        return monitor ? QStringLiteral("event session closed by the gateway") : QString();
    case LinkState::Reopening:
        return monitor ? QStringLiteral("event session re-opening in %1 s")
                             .arg((detail.toInt() + 999) / 1000)
                       : QString();
    case LinkState::Connecting:
    case LinkState::FrameAcknowledged:
    case LinkState::Authenticating:
        return {};
    }
    return {};
}

QString RecorderLog::noticeLine(Notice notice)
{
    switch (notice) {
    case Notice::GatewayLostWhileRecording: // "recording stopped" came first
    case Notice::GatewayLost:
        return QStringLiteral("gateway lost: asking again in the background");
    case Notice::GatewayBack:
        return QStringLiteral("the gateway answers again: recording");
    case Notice::None:
    case Notice::PasswordMissing:
    case Notice::PasswordRefused: // told by the link's state
        return {};
    }
    return {};
}

QString RecorderLog::databaseLine(const DatabaseResult& result)
{
    switch (result.kind) {
    case DatabaseResult::Kind::Ok:
        return {};
    case DatabaseResult::Kind::NoConnection:
        return QStringLiteral("database unavailable, readings kept until it is back: %1")
            .arg(result.error);
    case DatabaseResult::Kind::Failed:
        return QStringLiteral("the database refused a reading: %1").arg(result.error);
    }
    return {};
}

void RecorderLog::onLinkState(LinkChannel channel, LinkState state, const QString& detail)
{
    if (state == LinkState::Authenticating) {
        m_hash = detail;
        return;
    }
    // Either session may hear the refusal; it is told once until a session opens again.
    if (state == LinkState::PasswordRefused && std::exchange(m_refusalTold, true))
        return;
    QString& down = channel == LinkChannel::Command ? m_commandDown : m_monitorDown;
    if (state == LinkState::Connected) {
        if (channel == LinkChannel::Command)
            down.clear();
        if (m_linkUp)
            return;
        m_linkUp = true;
        write(QStringLiteral("connected to the gateway at %1").arg(detail));
        return;
    }
    if (channel == LinkChannel::Command && state == LinkState::FrameAcknowledged) {
        sessionOpened();
        return;
    }
    // A session that keeps failing while the gateway is away is told once, not at each try.
    if (state == LinkState::Reopening && !down.isEmpty())
        return;
    const QString line = linkLine(channel, state, detail);
    if (isLinkDown(state)) {
        m_linkUp = false;
        m_authenticatedTold = false;
        m_hash.clear();
        if (line == std::exchange(down, line))
            return;
    }
    if (!line.isEmpty())
        write(line);
}

void RecorderLog::sessionOpened()
{
    if (!m_hash.isEmpty() && !m_authenticatedTold) {
        write(QStringLiteral("authenticated with %1").arg(m_hash));
        m_authenticatedTold = true;
    }
    m_hash.clear();
    m_refusalTold = false;
}

void RecorderLog::write(const QString& line)
{
    if (line.isEmpty() || line == m_last)
        return;
    m_last = line;
    m_writer(line);
}

} // namespace powerlog
