#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace powerlog {

namespace {

// What a later start sends: one line.
constexpr char kShowRequest[] = "show\n";
// A connection that sends more than this without ending its line is not one of ours.
constexpr qint64 kLongestRequest = 64;
// A socket's path must fit sockaddr_un's 108 bytes, with room for the temporary folder QLocalServer
// first binds in before it moves the socket into place.
constexpr qsizetype kLongestSocketPath = 100;

QString defaultFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

// The socket lives beside the lock, so that every lock has a socket of its own. A folder too deep
// for a socket's path gets a name in the temporary folder, told apart by the lock's path.
QString socketName(const QString& lockPath)
{
    const QString beside = QFileInfo(lockPath).dir().filePath(QStringLiteral("powerlog.socket"));
    if (QFile::encodeName(beside).size() <= kLongestSocketPath)
        return beside;
    const QByteArray digest =
        QCryptographicHash::hash(lockPath.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("powerlog-%1.socket").arg(QString::fromLatin1(digest));
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), m_path(QDir(folder.isEmpty() ? defaultFolder() : folder)
                                  .filePath(QStringLiteral("powerlog.lock"))),
      m_serverName(socketName(m_path))
{
    m_lock = std::make_unique<QLockFile>(m_path);
    m_lock->setStaleLockTime(0); // only a dead owner makes the lock stale
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    if (m_lock->isLocked())
        return true;
    if (m_lock->tryLock(0)) {
        listen();
        return true;
    }
    requestActivation();
    return false;
}

QString SingleInstance::lockPath() const
{
    return m_path;
}

QString SingleInstance::serverName() const
{
    return m_serverName;
}

// Runs only with the lock held: a socket left by a run that crashed is no one's any more, and
// goes. (The user-only option binds under a temporary name and renames over it, which replaces
// it too; removing it first keeps that so whatever the options.) Without a socket the program
// runs as well; later starts then only end.
void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptRequests);
    QLocalServer::removeServer(m_serverName);
    if (!m_server->listen(m_serverName))
        qWarning("Powerlog cannot listen on %s, so starting it again will not show it: %s",
                 qPrintable(m_serverName), qPrintable(m_server->errorString()));
}

// The later start is ending anyway, so it may wait here, briefly: no event loop runs. A socket
// with nobody listening refuses at once.
void SingleInstance::requestActivation() const
{
    const QDeadlineTimer deadline(kRequestTimeoutMs);
    QLocalSocket socket;
    socket.connectToServer(m_serverName, QIODevice::WriteOnly);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return;
    socket.write(kShowRequest);
    // Written in full before the socket closes: there is no event loop to finish it later.
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(int(deadline.remainingTime()))) {
    }
    socket.disconnectFromServer();
}

void SingleInstance::acceptRequests()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readRequest(socket); // what came with the connection
    }
}

void SingleInstance::readRequest(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kLongestRequest) {
            socket->abort();
            socket->deleteLater();
        }
        return;
    }
    const QByteArray line = socket->readLine(kLongestRequest);
    socket->disconnectFromServer();
    if (line == kShowRequest)
        emit activationRequested();
}

} // namespace powerlog
