#include "acquisition/meterfinder.h"

#include "gateway/commandsession.h"
#include "gateway/meterframes.h"

#include <algorithm>

namespace powerlog {

MeterFinder::MeterFinder(CommandSession& command, QObject* parent)
    : QObject(parent), m_command(command)
{
    m_sendTimer.setInterval(50);
    m_lastAnswerWait.setInterval(2000);
    m_lastAnswerWait.setSingleShot(true);
    connect(&m_sendTimer, &QTimer::timeout, this, &MeterFinder::askNext);
    connect(&m_lastAnswerWait, &QTimer::timeout, this, [this] { end(true); });
    connect(&m_command, &CommandSession::frameReceived, this, &MeterFinder::takeFrame);
}

void MeterFinder::start()
{
    if (m_running)
        return;
    m_running = true;
    ++m_run;
    m_found.clear();
    m_nextMeter = kFirstMeter;
    emit progressed(0, kAddressCount);
    askNext();
    m_sendTimer.start();
}

void MeterFinder::stop()
{
    if (!m_running)
        return;
    m_running = false;
    ++m_run;
    m_sendTimer.stop();
    m_lastAnswerWait.stop();
}

void MeterFinder::askNext()
{
    if (m_nextMeter > kLastMeter) {
        m_sendTimer.stop();
        m_lastAnswerWait.start();
        return;
    }
    const int meter = m_nextMeter++;
    const quint64 run = m_run;
    // Written, not acknowledged, is all that matters: a meter that is there answers with its
    // value, which frameReceived brings whenever it comes.
    m_command.send(meterframes::powerRequest(QStringLiteral("5%1").arg(meter)),
                   CommandSession::AckPolicy::NoAckWait, [this, run](bool written) {
                       if (run == m_run && m_running && !written)
                           end(false);
                   });
    emit progressed(meter - kFirstMeter + 1, kAddressCount);
}

void MeterFinder::takeFrame(const QString& frame)
{
    if (!m_running)
        return;
    const auto value = meterframes::parseMeterValue(frame);
    if (!value || value->kind != meterframes::MeterValue::Kind::Power)
        return;
    const FoundMeter meter{QStringLiteral("5%1").arg(value->meter), value->value};
    const auto at = std::ranges::lower_bound(m_found, value->meter, {}, [](const FoundMeter& each) {
        return meterframes::meterNumber(each.where).value_or(0);
    });
    if (at != m_found.end() && at->where == meter.where)
        return;
    m_found.insert(at, meter);
    emit meterFound(meter);
}

void MeterFinder::end(bool ok)
{
    if (!m_running)
        return;
    stop();
    emit finished(ok);
}

} // namespace powerlog
