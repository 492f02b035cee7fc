#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace powerlog {

// One running program per user and login: a lock file in the login's runtime folder. The lock
// goes with the process, so a crashed run never blocks the next one.
//
// The first instance also listens on a local socket beside the lock, readable and writable by
// its user only; a later start that finds the lock taken asks it there to show itself, so a
// program hidden in the notification area comes forward when it is started again.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // How long a later start waits, at most, to deliver its request before it ends anyway.
    static constexpr int kRequestTimeoutMs = 1000;

    // The lock file's folder: the user's runtime folder unless one is given.
    explicit SingleInstance(const QString& folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True for the first instance, which from then on listens for later starts. False when
    // another process holds the lock: that one is then asked to show itself (this waits at most
    // kRequestTimeoutMs, and gives up at once when nobody listens).
    bool acquire();

    QString lockPath() const;
    // The local socket's name as QLocalServer and QLocalSocket take it.
    QString serverName() const;

signals:
    // A later start asked this, the first instance, to show itself.
    void activationRequested();

private:
    void listen();
    void requestActivation() const;
    void acceptRequests();
    void readRequest(QLocalSocket* socket);

    std::unique_ptr<QLockFile> m_lock;
    QString m_path;
    QString m_serverName;
    QLocalServer* m_server = nullptr;
};

} // namespace powerlog
