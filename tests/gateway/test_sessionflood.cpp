// A gateway that floods an open session must not make the program's memory grow with the
// flood: whatever it sends, the sessions hold one bounded read at a time.

#include "gateway/commandsession.h"
#include "gateway/frameassembler.h"
#include "gateway/frames.h"
#include "gateway/monitorsession.h"
#include "support/timings.h"

#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstddef>
#include <memory>

#ifdef __SANITIZE_ADDRESS__
// The sanitizer runtime's allocator statistics; g++ ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace powerlog;
using powerlog::test::fastTimings;

namespace {

constexpr qint64 kFloodBytes = 128 * 1024 * 1024;
constexpr qint64 kAllowedGrowthKiB = 20 * 1024;

// One field of /proc/self/status in KiB, or -1.
qint64 statusKiB(QByteArrayView field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field) && line.size() > field.size() && line.at(field.size()) == ':')
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer holds freed blocks back from reuse for a while, so the resident size grows
// with everything freed during the flood; the heap still in use is what the sessions hold.
constexpr bool kMeasuresHeap = true;
qint64 memoryKiB()
{
    return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
}
#else
constexpr bool kMeasuresHeap = false;
qint64 memoryKiB()
{
    return statusKiB("VmRSS");
}
#endif

// Makes VmHWM start again from the current RSS, so it holds this flood's peak only.
bool resetPeakRss()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

// A gateway on 127.0.0.1 that opens sessions like the real one and, once the chosen session is
// open, sends it `total` bytes of one pattern, then a marker frame. It keeps at most about a
// megabyte of its own output queued, so the memory measured is the client's.
class FloodingGateway : public QObject
{
public:
    struct Flood
    {
        QString openFrame; // the session to flood
        QByteArray start;  // sent once, before the pattern
        QByteArray pattern;
        QByteArray marker;
        qint64 total = 0;
    };

    explicit FloodingGateway(Flood flood) : m_flood(std::move(flood)), m_left(m_flood.total)
    {
        while (m_block.size() < 256 * 1024)
            m_block += m_flood.pattern;
        connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return m_server.serverPort(); }

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto assembler = std::make_shared<FrameAssembler>();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, assembler] {
                assembler->feed(socket->readAll(), [this, socket](QLatin1StringView frame) {
                    socket->write(frames::kAck.toLatin1());
                    if (frame == m_flood.openFrame && !m_flooded)
                        startFlood(socket);
                    return true;
                });
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->write(frames::kAck.toLatin1());
        }
    }

    void startFlood(QTcpSocket* socket)
    {
        m_flooded = socket;
        socket->write(m_flood.start);
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { pump(); });
        pump();
    }

    void pump()
    {
        constexpr qint64 kQueued = 1024 * 1024;
        if (!m_flooded)
            return;
        while (m_left > 0 && m_flooded->bytesToWrite() < kQueued) {
            const qint64 size = qMin<qint64>(m_block.size(), m_left);
            m_flooded->write(m_block.constData(), size);
            m_left -= size;
        }
        if (m_left <= 0 && !m_markerSent) {
            // A space first: junk ends whatever frame the flood left open.
            m_flooded->write(" " + m_flood.marker);
            m_markerSent = true;
        }
    }

    QTcpServer m_server;
    Flood m_flood;
    QByteArray m_block;
    qint64 m_left;
    bool m_markerSent = false;
    QPointer<QTcpSocket> m_flooded;
};

// Runs the gateway in a thread of its own, so it sends as fast as a real device would while
// the sessions are busy: the kernel's buffers stay full and every read can get all they hold.
class GatewayThread : public QThread
{
public:
    explicit GatewayThread(FloodingGateway::Flood flood) : m_flood(std::move(flood)) {}
    ~GatewayThread() override
    {
        quit();
        wait();
    }

    quint16 port() const { return m_port; }

protected:
    void run() override
    {
        FloodingGateway gateway(m_flood);
        m_port = gateway.port();
        exec();
    }

private:
    FloodingGateway::Flood m_flood;
    std::atomic<quint16> m_port = 0;
};

QByteArray everyByte()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(char(b));
    return bytes;
}

} // namespace

class TestSessionFlood : public QObject
{
    Q_OBJECT

private slots:
    void floodKeepsMemoryBounded_data();
    void floodKeepsMemoryBounded();
};

void TestSessionFlood::floodKeepsMemoryBounded_data()
{
    QTest::addColumn<bool>("monitor");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("pattern");

    QTest::newRow("ACKs") << false << QByteArray() << QByteArray("*#*1##");
    QTest::newRow("NACKs") << false << QByteArray() << QByteArray("*#*0##");
    QTest::newRow("measurement replies")
        << false << QByteArray() << QByteArray("*#3*10*0*230*2*460*1234##");
    QTest::newRow("garbage") << false << QByteArray() << everyByte();
    QTest::newRow("one endless frame") << false << QByteArray("*#3*10*0*") << QByteArray("7");
    QTest::newRow("load events") << true << QByteArray()
                                 << QByteArray("*3*0*#1##*3*1*#2##*3*0*#3##*3*3*#4##");
}

void TestSessionFlood::floodKeepsMemoryBounded()
{
    QFETCH(bool, monitor);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, pattern);

    if (statusKiB("VmRSS") < 0)
        QSKIP("no /proc/self/status to read the memory from");

    // The marker is the one frame of its kind, so its arrival shows the whole flood was read.
    const QString marker = monitor ? QStringLiteral("*3*2*#8##") : frames::kMeasurementRequest;
    GatewayThread gateway({monitor ? frames::kOpenEvent : frames::kOpenCommand, start, pattern,
                           marker.toLatin1(), kFloodBytes});
    gateway.start();
    QTRY_VERIFY(gateway.port() != 0);
    CommandSession command(fastTimings());
    command.setPeer(QStringLiteral("127.0.0.1"), gateway.port());
    MonitorSession events(command, fastTimings());
    events.setPeer(QStringLiteral("127.0.0.1"), gateway.port());

    qint64 peakSampled = 0;
    const auto sample = [&peakSampled] { peakSampled = qMax(peakSampled, memoryKiB()); };
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, sample);
    bool markerSeen = false;
    int seen = 0;
    const auto countOne = [&] {
        if (++seen % 4096 == 0)
            sample();
    };
    connect(&command, &CommandSession::frameReceived, this, [&](const QString& frame) {
        markerSeen = markerSeen || frame == marker;
        countOne();
    });
    connect(&events, &MonitorSession::loadEvent, this, [&](int index, QChar state) {
        markerSeen = markerSeen || (index == 7 && state == QLatin1Char('2'));
        countOne();
    });

    // A session that gives up on the link under the flood fails at once, not at the timeout.
    bool linkLost = false;
    const auto watchLink = [&linkLost](LinkState state) {
        linkLost = linkLost || state == LinkState::NoConnection || state == LinkState::NotOpened ||
                   state == LinkState::PeerClosed;
    };
    connect(&command, &CommandSession::linkStateChanged, this, watchLink);
    connect(&events, &MonitorSession::linkStateChanged, this, watchLink);

    const bool peakReset = !kMeasuresHeap && resetPeakRss();
    const qint64 before = memoryKiB();
    sampler.start(10);
    if (monitor)
        events.open();
    else
        command.send(QString());

    QTRY_VERIFY_WITH_TIMEOUT(markerSeen || linkLost, 60000 * powerlog::test::kSlowdown);
    sample();
    QVERIFY(!linkLost);
    const qint64 peak = qMax(peakSampled, peakReset ? statusKiB("VmHWM") : 0);
    const qint64 growth = peak - before;
    const char* measured = kMeasuresHeap ? "heap in use" : "RSS";
    qInfo("%s: %lld MiB flood, %s %lld KiB before, peak %lld KiB (+%lld KiB)",
          QTest::currentDataTag(), kFloodBytes >> 20, measured, before, peak, growth);
    QVERIFY2(growth < kAllowedGrowthKiB,
             qPrintable(QStringLiteral("%1 grew by %2 KiB").arg(measured).arg(growth)));
    QVERIFY(monitor ? events.isConnected() : command.isConnected());
}

QTEST_GUILESS_MAIN(TestSessionFlood)
#include "test_sessionflood.moc"
