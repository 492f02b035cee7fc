#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace powerlog {

class CommandSession;

// An energy meter that answered the search, and the power it measured then.
struct FoundMeter
{
    QString where; // "5N"
    qint64 watts = 0;

    bool operator==(const FoundMeter&) const = default;
};

// Looks for the energy meters of an installation: asks "*#18*5N*113##" of every address 51 to
// 5255 on the command session, one every `intervalMs` at most, and lists those that answer with
// their power. The requests do not wait for their ACK, so a refused or silent address costs no
// more than its turn; answers that come after the last request are waited for a little longer.
class MeterFinder : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFirstMeter = 1;
    static constexpr int kLastMeter = 255;
    static constexpr int kAddressCount = kLastMeter - kFirstMeter + 1;

    explicit MeterFinder(CommandSession& command, QObject* parent = nullptr);

    // At most 1000 / intervalMs requests a second; the default makes 20.
    void setIntervalMs(int ms) { m_sendTimer.setInterval(ms); }
    // How long answers are waited for after the last request.
    void setLastAnswerWaitMs(int ms) { m_lastAnswerWait.setInterval(ms); }

    // Starts a search; nothing while one runs.
    void start();
    // Ends the search under way without finished(); what was found stays.
    void stop();
    bool isRunning() const { return m_running; }
    // The meters found by the search under way or the last one, by address.
    const QList<FoundMeter>& found() const { return m_found; }

signals:
    void progressed(int asked, int ofAddresses);
    void meterFound(const powerlog::FoundMeter& meter);
    // `ok` false: the gateway could not be reached, and the search ended early.
    void finished(bool ok);

private:
    void askNext();
    void takeFrame(const QString& frame);
    void end(bool ok);

    CommandSession& m_command;
    QTimer m_sendTimer;
    QTimer m_lastAnswerWait;
    bool m_running = false;
    quint64 m_run = 0; // changes with every start and stop: late results are dropped
    int m_nextMeter = kFirstMeter;
    QList<FoundMeter> m_found;
};

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::FoundMeter)
