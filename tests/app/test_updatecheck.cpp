#include "app/updatecheck.h"

#include <QHash>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace powerlog;

namespace {

QByteArray httpReply(const QByteArray& status, const QByteArray& body,
                     const QByteArray& extraHeaders = {})
{
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

// A web server on 127.0.0.1 answering each path with a fixed reply, or with a body that never
// ends; a path it does not know gets no answer at all, the connection stays open.
class FixedReplyServer : public QTcpServer
{
public:
    FixedReplyServer()
    {
        connect(this, &QTcpServer::newConnection, this, &FixedReplyServer::accept);
    }

    void setReply(const QByteArray& path, const QByteArray& reply) { m_replies[path] = reply; }
    // The reply starts with head and goes on with "x" until the client hangs up.
    void setEndlessReply(const QByteArray& path, const QByteArray& head) { m_endless[path] = head; }
    QUrl url(const QByteArray& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2")
                        .arg(serverPort())
                        .arg(QString::fromLatin1(path)));
    }

    QList<QByteArray> requestedPaths;
    QList<QByteArray> userAgents;

private:
    void accept()
    {
        while (QTcpSocket* socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
        }
    }

    void serve(QTcpSocket* socket)
    {
        QByteArray& request = m_pending[socket];
        request += socket->readAll();
        const qsizetype headerEnd = request.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = request.left(headerEnd).split('\n');
        const QByteArray path = lines.first().split(' ').value(1);
        requestedPaths << path;
        for (const QByteArray& line : lines) {
            if (line.toLower().startsWith("user-agent:"))
                userAgents << line.mid(11).trimmed();
        }
        m_pending.remove(socket);
        if (m_endless.contains(path)) {
            socket->write(m_endless.value(path));
            connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
                if (socket->bytesToWrite() < kChunk)
                    socket->write(QByteArray(kChunk, 'x'));
            });
            socket->write(QByteArray(kChunk, 'x'));
        } else if (m_replies.contains(path)) {
            socket->write(m_replies.value(path));
            socket->disconnectFromHost();
        }
    }

    static constexpr qsizetype kChunk = 64 * 1024;

    QHash<QByteArray, QByteArray> m_replies;
    QHash<QByteArray, QByteArray> m_endless;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

} // namespace

// Whether a newer version exists: the version file's form, the version order, and the fetch
// against a local web server, including the ways it goes wrong.
class TestUpdateCheck : public QObject
{
    Q_OBJECT

    FixedReplyServer m_server;
    quint16 m_closedPort = 0;

    struct Result
    {
        UpdateOutcome outcome;
        UpdateInfo info;
    };

    // Runs one check to its end; fails the test when finished() does not come exactly once.
    static std::optional<Result> runCheck(UpdateChecker& checker)
    {
        QSignalSpy spy(&checker, &UpdateChecker::finished);
        checker.check();
        if (!spy.wait(20000) || spy.count() != 1)
            return std::nullopt;
        return Result{spy.at(0).at(0).value<UpdateOutcome>(), spy.at(0).at(1).value<UpdateInfo>()};
    }

private slots:
    void initTestCase()
    {
        // Straight to 127.0.0.1, whatever proxy the environment names.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));

        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        m_closedPort = closed.serverPort();
        closed.close();

        const QByteArray download = "https://example.org/powerlog/download";
        m_server.setReply("/newer.txt", httpReply("200 OK", "1.3.1," + download + "\r\n"));
        m_server.setReply("/same.txt", httpReply("200 OK", "1.3.0," + download));
        m_server.setReply("/older.txt", httpReply("200 OK", "1.2.9," + download + "\n"));
        m_server.setReply("/missing.txt", httpReply("404 Not Found", "1.3.1," + download));
        m_server.setReply("/broken.txt",
                          httpReply("500 Internal Server Error", "1.3.1," + download));
        m_server.setReply("/login.html", httpReply("200 OK", "<html><body>1.3.1," + download));
        m_server.setEndlessReply("/endless.txt", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                                 "Connection: close\r\n\r\n9.9.9," +
                                                     download + ",");
        m_server.setReply(
            "/moved.txt",
            httpReply("301 Moved Permanently", {},
                      "Location: " + m_server.url("/newer.txt").toEncoded() + "\r\n"));
        m_server.setReply("/to-file.txt",
                          httpReply("302 Found", {}, "Location: file:///etc/passwd\r\n"));
    }

    void parseVersionFile_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("address");

        const QString https = QStringLiteral("https://example.org/download");
        QTest::newRow("plain") << QByteArray("1.3.1,https://example.org/download") << true
                               << "1.3.1" << https;
        QTest::newRow("http") << QByteArray("2.0,http://example.org/dl?x=1") << true << "2.0"
                              << "http://example.org/dl?x=1";
        QTest::newRow("trailing LF")
            << QByteArray("1.3.1,https://example.org/download\n") << true << "1.3.1" << https;
        QTest::newRow("trailing CR LF")
            << QByteArray("1.3.1,https://example.org/download\r\n") << true << "1.3.1" << https;
        QTest::newRow("extra fields")
            << QByteArray("1.3.1,https://example.org/download,notes, more\r\n") << true << "1.3.1"
            << https;
        QTest::newRow("version kept as written")
            << QByteArray(" 1.4.0beta,https://example.org/download") << true << " 1.4.0beta"
            << https;
        QTest::newRow("latin-1 bytes") << QByteArray("1.3.1 \xe8,https://example.org/download")
                                       << true << QStringLiteral("1.3.1 \u00e8") << https;
        QTest::newRow("exactly 4 KiB") << QByteArray("1.3.1,https://example.org/download,")
                                              .leftJustified(kMaxVersionFileSize, 'x')
                                       << true << "1.3.1" << https;

        QTest::newRow("empty") << QByteArray() << false << QString() << QString();
        QTest::newRow("no comma") << QByteArray("1.3.1 https://example.org/download") << false
                                  << QString() << QString();
        QTest::newRow("html") << QByteArray("<html><body>1.3.1,https://example.org/</body></html>")
                              << false << QString() << QString();
        QTest::newRow("oversized") << QByteArray("1.3.1,https://example.org/download,")
                                          .leftJustified(kMaxVersionFileSize + 1, 'x')
                                   << false << QString() << QString();
        QTest::newRow("NUL byte") << QByteArray("1.3.1,https://example.org/download\0", 35) << false
                                  << QString() << QString();
        QTest::newRow("escape byte") << QByteArray("1.3.1\x1b,https://example.org/download")
                                     << false << QString() << QString();
        QTest::newRow("file address")
            << QByteArray("1.3.1,file:///etc/passwd") << false << QString() << QString();
        QTest::newRow("javascript address")
            << QByteArray("1.3.1,javascript:alert(1)") << false << QString() << QString();
        QTest::newRow("ftp address") << QByteArray("1.3.1,ftp://example.org/powerlog.zip") << false
                                     << QString() << QString();
        QTest::newRow("relative address")
            << QByteArray("1.3.1,/download") << false << QString() << QString();
        QTest::newRow("scheme-relative address")
            << QByteArray("1.3.1,//example.org/download") << false << QString() << QString();
        QTest::newRow("no host") << QByteArray("1.3.1,https:download") << false << QString()
                                 << QString();
        QTest::newRow("empty address") << QByteArray("1.3.1,") << false << QString() << QString();
        QTest::newRow("empty address, more fields")
            << QByteArray("1.3.1,,https://example.org/download") << false << QString() << QString();
        QTest::newRow("space before address")
            << QByteArray("1.3.1, https://example.org/download") << false << QString() << QString();
        QTest::newRow("two line breaks") << QByteArray("1.3.1,https://example.org/download\r\n\r\n")
                                         << false << QString() << QString();
    }

    void parseVersionFile()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, usable);
        QFETCH(QString, version);
        QFETCH(QString, address);

        const std::optional<UpdateInfo> info = powerlog::parseVersionFile(reply);
        QCOMPARE(info.has_value(), usable);
        if (usable) {
            QCOMPARE(info->serverVersion, version);
            QCOMPARE(info->downloadUrl, QUrl(address));
        }
    }

    void isNewerVersion_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("newer");

        QTest::newRow("patch above") << "1.3.1"
                                     << "1.3.0" << true;
        QTest::newRow("same") << "1.3.1"
                              << "1.3.1" << false;
        QTest::newRow("patch below") << "1.3.0"
                                     << "1.3.1" << false;
        QTest::newRow("two-digit minor") << "1.10.0"
                                         << "1.9.9" << true;
        QTest::newRow("major above") << "2.0.0"
                                     << "1.10.0" << true;
        QTest::newRow("major below") << "1.10.0"
                                     << "2.0.0" << false;
        QTest::newRow("missing part is 0") << "1.3"
                                           << "1.3.0" << false;
        QTest::newRow("extra part above 0") << "1.3.0.1"
                                            << "1.3" << true;
        QTest::newRow("word after digits ignored") << "1.4.0beta"
                                                   << "1.4.0" << false;
        QTest::newRow("word after digits, above") << "1.5rc1"
                                                  << "1.4.9" << true;
        QTest::newRow("part without digits is 0") << "1.x.5"
                                                  << "1.0.4" << true;
        QTest::newRow("leading zeros") << "1.010"
                                       << "1.9" << true;
        QTest::newRow("longer than 64 bits") << "1.99999999999999999999999"
                                             << "1.9" << true;
        QTest::newRow("empty server") << ""
                                      << "1.0.0" << false;
        QTest::newRow("empty running") << "0.0.1"
                                       << "" << true;
    }

    void isNewerVersion()
    {
        QFETCH(QString, server);
        QFETCH(QString, running);
        QFETCH(bool, newer);

        QCOMPARE(powerlog::isNewerVersion(server, running), newer);
    }

    void configuredUrlFollowsTheEnvironment()
    {
        const QByteArray saved = qgetenv("POWERLOG_UPDATE_URL");
        const bool wasSet = qEnvironmentVariableIsSet("POWERLOG_UPDATE_URL");

        qputenv("POWERLOG_UPDATE_URL", "https://updates.example.org/version.txt");
        QCOMPARE(configuredUpdateUrl(),
                 QUrl(QStringLiteral("https://updates.example.org/version.txt")));

        // Set but empty switches the check off, whatever the build chose.
        qputenv("POWERLOG_UPDATE_URL", "");
        QVERIFY(configuredUpdateUrl().isEmpty());

        // Unset: back to the build's choice, never the variable's last value.
        qunsetenv("POWERLOG_UPDATE_URL");
        const QUrl builtIn = configuredUpdateUrl();
        QVERIFY(builtIn != QUrl(QStringLiteral("https://updates.example.org/version.txt")));
        QVERIFY(builtIn.isEmpty() || builtIn.scheme().startsWith(u"http"));

        if (wasSet)
            qputenv("POWERLOG_UPDATE_URL", saved);
    }

    void fetch_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QString>("version");

        QTest::newRow("newer") << m_server.url("/newer.txt") << UpdateOutcome::Newer << "1.3.1";
        QTest::newRow("same") << m_server.url("/same.txt") << UpdateOutcome::Current << "1.3.0";
        QTest::newRow("older") << m_server.url("/older.txt") << UpdateOutcome::Current << "1.2.9";
        QTest::newRow("http redirect followed")
            << m_server.url("/moved.txt") << UpdateOutcome::Newer << "1.3.1";
        QTest::newRow("404") << m_server.url("/missing.txt") << UpdateOutcome::Failed << QString();
        QTest::newRow("500") << m_server.url("/broken.txt") << UpdateOutcome::Failed << QString();
        QTest::newRow("html page")
            << m_server.url("/login.html") << UpdateOutcome::Failed << QString();
        QTest::newRow("redirect to a file")
            << m_server.url("/to-file.txt") << UpdateOutcome::Failed << QString();
        QTest::newRow("connection refused")
            << QUrl(QStringLiteral("http://127.0.0.1:%1/version.txt").arg(m_closedPort))
            << UpdateOutcome::Failed << QString();
        QTest::newRow("no address") << QUrl() << UpdateOutcome::NotConfigured << QString();
        QTest::newRow("not a web address") << QUrl(QStringLiteral("file:///etc/hostname"))
                                           << UpdateOutcome::NotConfigured << QString();
    }

    void fetch()
    {
        QFETCH(QUrl, url);
        QFETCH(UpdateOutcome, outcome);
        QFETCH(QString, version);

        UpdateChecker checker(url, QStringLiteral("1.3.0"));
        const std::optional<Result> result = runCheck(checker);
        QVERIFY(result);
        QCOMPARE(result->outcome, outcome);
        if (version.isEmpty()) {
            QCOMPARE(result->info, UpdateInfo());
        } else {
            QCOMPARE(result->info.serverVersion, version);
            QCOMPARE(result->info.downloadUrl,
                     QUrl(QStringLiteral("https://example.org/powerlog/download")));
        }
    }

    void identifiesItself()
    {
        m_server.userAgents.clear();
        UpdateChecker checker(m_server.url("/same.txt"), QStringLiteral("1.3.0"));
        QVERIFY(runCheck(checker));
        QCOMPARE(m_server.userAgents, QList<QByteArray>{"Powerlog/1.3.0"});
    }

    void timeOutLeavesTheEventLoopRunning()
    {
        UpdateChecker checker(m_server.url("/silent.txt"), QStringLiteral("1.3.0"));
        checker.setTimeout(300);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(10);
        int ticksWhenFinished = -1;
        connect(&checker, &UpdateChecker::finished, this, [&] { ticksWhenFinished = ticks; });
        QSignalSpy spy(&checker, &UpdateChecker::finished);

        checker.check();
        QCOMPARE(spy.count(), 0); // check() returned before any answer
        QVERIFY(spy.wait(20000));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Failed);
        QVERIFY(ticksWhenFinished > 0);
    }

    void endlessReplyIsCutShort()
    {
        // Far beyond the wait below: only cutting the reply at its size limit ends this check.
        UpdateChecker checker(m_server.url("/endless.txt"), QStringLiteral("1.3.0"));
        checker.setTimeout(3600 * 1000);
        const std::optional<Result> result = runCheck(checker);
        QVERIFY(result);
        QCOMPARE(result->outcome, UpdateOutcome::Failed);
    }

    void notConfiguredIsReportedLater()
    {
        UpdateChecker checker(QUrl(), QStringLiteral("1.3.0"));
        QSignalSpy spy(&checker, &UpdateChecker::finished);
        checker.check();
        QCOMPARE(spy.count(), 0); // queued: a receiver connected after check() still hears it
        QVERIFY(spy.wait(20000));
        QCOMPARE(spy.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::NotConfigured);
    }

    void checkWhileRunningIsIgnored()
    {
        m_server.requestedPaths.clear();
        UpdateChecker checker(m_server.url("/newer.txt"), QStringLiteral("1.3.0"));
        QSignalSpy spy(&checker, &UpdateChecker::finished);
        checker.check();
        checker.check();
        QVERIFY(spy.wait(20000));
        QTest::qWait(100); // room for a second answer that must not come
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_server.requestedPaths, QList<QByteArray>{"/newer.txt"});

        // Once finished, a new check asks again.
        checker.check();
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 20000);
        QCOMPARE(spy.at(1).at(0).value<UpdateOutcome>(), UpdateOutcome::Newer);
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "test_updatecheck.moc"
