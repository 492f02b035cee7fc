#pragma once

// A real mosquitto broker for tests, on a free port of 127.0.0.1, with a config file of its
// own; a watcher that subscribes to it with libmosquitto and keeps what it receives; and a
// loopback relay whose connections can be cut, as a network that goes away does.

#include <QDir>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <mosquitto.h>

namespace powerlog::test {

inline const QString kMosquittoPath = QStringLiteral("/usr/sbin/mosquitto");

inline bool hasMosquitto()
{
    return QFile::exists(kMosquittoPath);
}

// A port nothing listens on right now.
inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Runs `program` with `arguments` to its end; true when it exits with 0.
inline bool runQuietly(const QString& program, const QStringList& arguments,
                       const QString& folder = {})
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return false;
    }
    return true;
}

// The files of a broker's TLS listener: a test CA and a certificate for 127.0.0.1 it signed.
struct TestCertificates
{
    QString caFile;
    QString certFile;
    QString keyFile;
};

inline std::optional<TestCertificates> makeTestCertificates(const QString& folder)
{
    const QDir dir(folder);
    TestCertificates files{dir.filePath(QStringLiteral("ca.crt")),
                           dir.filePath(QStringLiteral("server.crt")),
                           dir.filePath(QStringLiteral("server.key"))};
    const QString openssl = QStringLiteral("openssl");
    const QStringList ecKey{
        QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    QFile extensions(dir.filePath(QStringLiteral("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=IP:127.0.0.1\n") < 0)
        return std::nullopt;
    extensions.close();
    const bool made =
        runQuietly(openssl,
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey +
                       QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"),
                                   QStringLiteral("-out"), QStringLiteral("ca.crt"),
                                   QStringLiteral("-days"), QStringLiteral("2"),
                                   QStringLiteral("-subj"), QStringLiteral("/CN=Powerlog test CA")},
                   folder) &&
        runQuietly(openssl,
                   QStringList{QStringLiteral("req")} + ecKey +
                       QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                                   QStringLiteral("-out"), QStringLiteral("server.csr"),
                                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")},
                   folder) &&
        runQuietly(openssl,
                   {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                    QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                    QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                    QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                    QStringLiteral("server.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                    QStringLiteral("-extfile"), QStringLiteral("server.ext")},
                   folder);
    return made ? std::optional(files) : std::nullopt;
}

// A mosquitto broker of the test's own. Its plain listener (port()) takes anonymous clients
// unless a user is set; a TLS listener (tlsPort()) is added when certificates are given.
class MosquittoBroker
{
public:
    MosquittoBroker() : m_port(freeLoopbackPort()) {}
    ~MosquittoBroker() { stop(); }

    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }

    // Only this user gets in (made with mosquitto_passwd).
    bool requireUser(const QString& user, const QString& password)
    {
        const QString file = m_dir.filePath(QStringLiteral("passwords"));
        m_passwordFile = file;
        return runQuietly(QStringLiteral("mosquitto_passwd"),
                          {QStringLiteral("-c"), QStringLiteral("-b"), file, user, password});
    }

    void useTls(const TestCertificates& files)
    {
        m_certificates = files;
        m_tlsPort = freeLoopbackPort();
    }

    // Starts it and waits until its plain listener takes connections.
    bool start()
    {
        writeConfig();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(kMosquittoPath, {QStringLiteral("-c"), configFile()});
        if (!m_process.waitForStarted())
            return false;
        return QTest::qWaitFor(
                   [this] {
                       if (m_process.state() != QProcess::Running)
                           return true;
                       QTcpSocket probe;
                       probe.connectToHost(QHostAddress::LocalHost, m_port);
                       return probe.waitForConnected(200);
                   },
                   10000) &&
               m_process.state() == QProcess::Running;
    }

    // Ends it as a service stop does.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // What it logged so far, in every run.
    QString log() const
    {
        QFile file(logFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QString logFile() const { return m_dir.filePath(QStringLiteral("mosquitto.log")); }

    QString configFile() const { return m_dir.filePath(QStringLiteral("mosquitto.conf")); }

    void writeConfig()
    {
        QFile file(configFile());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        QStringList lines{
            QStringLiteral("per_listener_settings false"), QStringLiteral("persistence false"),
            QStringLiteral("log_dest file ") + logFile(), QStringLiteral("log_type all"),
            // Run as root it would switch to the mosquitto user, who cannot read
            // the test's folder.
            QStringLiteral("user root"), QStringLiteral("listener %1 127.0.0.1").arg(m_port)};
        if (m_passwordFile.isEmpty()) {
            lines << QStringLiteral("allow_anonymous true");
        } else {
            lines << QStringLiteral("allow_anonymous false")
                  << QStringLiteral("password_file ") + m_passwordFile;
        }
        if (m_certificates) {
            lines << QStringLiteral("listener %1 127.0.0.1").arg(m_tlsPort)
                  << QStringLiteral("cafile ") + m_certificates->caFile
                  << QStringLiteral("certfile ") + m_certificates->certFile
                  << QStringLiteral("keyfile ") + m_certificates->keyFile;
        }
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    }

    QTemporaryDir m_dir;
    quint16 m_port;
    quint16 m_tlsPort = 0;
    QString m_passwordFile;
    std::optional<TestCertificates> m_certificates;
    QProcess m_process;
};

// One message a watcher received.
struct WatchedMessage
{
    QString topic;
    QByteArray payload;
    bool retained = false;
};

// Subscribes to every topic of a broker's plain listener, on libmosquitto's own thread,
// again after each reconnection, and keeps what comes.
class MqttWatcher
{
public:
    explicit MqttWatcher(quint16 port)
    {
        mosquitto_lib_init();
        m_handle = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(m_handle, [](mosquitto* handle, void*, int rc) {
            if (rc == 0)
                mosquitto_subscribe(handle, nullptr, "#", 1);
        });
        mosquitto_subscribe_callback_set(m_handle,
                                         [](mosquitto*, void* self, int, int, const int*) {
                                             auto* watcher = static_cast<MqttWatcher*>(self);
                                             const QMutexLocker lock(&watcher->m_mutex);
                                             ++watcher->m_subscriptions;
                                         });
        mosquitto_message_callback_set(
            m_handle, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto* watcher = static_cast<MqttWatcher*>(self);
                const QMutexLocker lock(&watcher->m_mutex);
                watcher->m_messages.append(
                    {QString::fromUtf8(message->topic),
                     QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
                     message->retain});
            });
        mosquitto_reconnect_delay_set(m_handle, 1, 1, false);
        mosquitto_connect_async(m_handle, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_handle);
    }

    ~MqttWatcher()
    {
        mosquitto_disconnect(m_handle);
        mosquitto_loop_stop(m_handle, false);
        mosquitto_destroy(m_handle);
    }

    // Subscribed at least `count` times (once per connection).
    bool waitSubscribed(int count = 1)
    {
        return QTest::qWaitFor(
            [this, count] {
                const QMutexLocker lock(&m_mutex);
                return m_subscriptions >= count;
            },
            10000);
    }

    QList<WatchedMessage> messages(const QString& topic = {}) const
    {
        const QMutexLocker lock(&m_mutex);
        QList<WatchedMessage> found;
        for (const WatchedMessage& message : m_messages) {
            if (topic.isEmpty() || message.topic == topic)
                found << message;
        }
        return found;
    }

    QList<QByteArray> payloads(const QString& topic) const
    {
        QList<QByteArray> found;
        for (const WatchedMessage& message : messages(topic))
            found << message.payload;
        return found;
    }

    void clear()
    {
        const QMutexLocker lock(&m_mutex);
        m_messages.clear();
    }

    void publish(const QString& topic, const QByteArray& payload)
    {
        const QByteArray name = topic.toUtf8();
        mosquitto_publish(m_handle, nullptr, name.constData(), int(payload.size()),
                          payload.constData(), 1, false);
    }

private:
    mosquitto* m_handle = nullptr;
    mutable QMutex m_mutex;
    QList<WatchedMessage> m_messages;
    int m_subscriptions = 0;
};

// Relays loopback connections to a port, both ways, until cut() drops them all at once with
// no goodbye to either side.
class CuttableRelay : public QObject
{
public:
    explicit CuttableRelay(quint16 target) : m_target(target)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* inner = m_server.nextPendingConnection()) {
                auto* outer = new QTcpSocket(this);
                inner->setParent(this);
                m_sockets << inner << outer;
                connect(inner, &QTcpSocket::readyRead, outer,
                        [inner, outer] { outer->write(inner->readAll()); });
                connect(outer, &QTcpSocket::readyRead, inner,
                        [inner, outer] { inner->write(outer->readAll()); });
                connect(outer, &QTcpSocket::connected, inner,
                        [inner, outer] { outer->write(inner->readAll()); });
                connect(outer, &QTcpSocket::disconnected, inner, &QTcpSocket::abort);
                connect(inner, &QTcpSocket::disconnected, outer, &QTcpSocket::abort);
                outer->connectToHost(QHostAddress::LocalHost, m_target);
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }

    void cut()
    {
        for (QTcpSocket* socket : std::as_const(m_sockets)) {
            if (socket)
                socket->abort();
        }
        m_sockets.clear();
    }

private:
    QTcpServer m_server;
    quint16 m_target;
    QList<QPointer<QTcpSocket>> m_sockets;
};

} // namespace powerlog::test
