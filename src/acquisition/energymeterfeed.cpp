#include "acquisition/energymeterfeed.h"

#include "app/clock.h"
#include "gateway/meterframes.h"

#include <limits>
#include <utility>

namespace powerlog {

using meterframes::MeterValue;

std::optional<Reading> meterReading(const QString& frame, const QString& where,
                                    std::optional<qint64> totalizerWh, const QDateTime& time)
{
    const std::optional<MeterValue> value = meterframes::parseMeterValue(frame);
    if (!value || value->kind != MeterValue::Kind::Power ||
        value->meter != meterframes::meterNumber(where))
        return std::nullopt;
    if (value->value < std::numeric_limits<qint16>::min() ||
        value->value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    Reading reading;
    reading.kind = Reading::Kind::Full;
    reading.lineMeasured = false;
    reading.time = time;
    reading.power = static_cast<qint16>(value->value);
    reading.W = QString::number(value->value);
    if (totalizerWh) {
        const double kWh = static_cast<double>(*totalizerWh) / 1000.0;
        reading.E = QString::number(kWh, 'f', 3);
        reading.energy = kWh;
    }
    return reading;
}

EnergyMeterFeed::EnergyMeterFeed(CommandSession& command, const Clock& clock,
                                 MeterFeedTimings timings, QObject* parent)
    : QObject(parent), m_command(command), m_clock(clock), m_timings(timings)
{
    m_renewal.setObjectName(QStringLiteral("meterUpdatesRenewal"));
    m_renewal.setSingleShot(true);
    connect(&m_renewal, &QTimer::timeout, this, &EnergyMeterFeed::renewUpdates);
}

void EnergyMeterFeed::setWhere(const QString& where)
{
    if (where == m_where)
        return;
    m_where = where;
    m_meter = meterframes::meterNumber(where).value_or(0);
    m_totalizerWh.reset();
    m_updatedSinceRequest = false;
    if (m_updating)
        renewUpdates();
}

void EnergyMeterFeed::request(CommandSession::AckPolicy policy, CommandSession::Result done,
                              Ask ask)
{
    const bool updated = std::exchange(m_updatedSinceRequest, false);
    if (m_meter == 0) {
        if (done)
            done(false);
        return;
    }
    m_command.send(meterframes::totalizerRequest(m_where), CommandSession::AckPolicy::NoAckWait);
    if (ask == Ask::UnlessUpdated && updated) {
        if (done)
            done(true);
        return;
    }
    m_command.send(meterframes::powerRequest(m_where), policy, std::move(done));
}

void EnergyMeterFeed::setUpdating(bool on, bool askNow)
{
    if (on == m_updating)
        return;
    m_updating = on;
    if (on) {
        if (askNow)
            renewUpdates();
        return;
    }
    // Updates asked and still running end at once, rather than when their time runs out.
    if (m_renewal.isActive() && m_meter != 0)
        m_command.send(meterframes::automaticUpdatesRequest(m_where, 0),
                       CommandSession::AckPolicy::NoAckWait);
    m_renewal.stop();
}

void EnergyMeterFeed::renewUpdates()
{
    if (!m_updating || m_meter == 0)
        return;
    m_command.send(meterframes::automaticUpdatesRequest(m_where, m_timings.updateMinutes),
                   CommandSession::AckPolicy::NoAckWait);
    const qint64 lastsMs = qint64(m_timings.updateMinutes) * m_timings.minuteMs;
    m_renewal.start(int(lastsMs * m_timings.renewPercent / 100));
}

void EnergyMeterFeed::takeFrame(const QString& frame)
{
    take(frame);
}

void EnergyMeterFeed::takeUpdate(const QString& frame)
{
    if (take(frame))
        m_updatedSinceRequest = true;
}

bool EnergyMeterFeed::take(const QString& frame)
{
    const std::optional<MeterValue> value = meterframes::parseMeterValue(frame);
    if (!value || m_meter == 0 || value->meter != m_meter)
        return false;
    if (value->kind == MeterValue::Kind::Totalizer) {
        m_totalizerWh = value->value;
        return false;
    }
    const std::optional<Reading> reading =
        meterReading(frame, m_where, m_totalizerWh, m_clock.now());
    if (!reading)
        return false;
    emit readingArrived(*reading);
    return true;
}

} // namespace powerlog
