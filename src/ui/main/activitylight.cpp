#include "ui/main/activitylight.h"

#include <QTimer>

namespace powerlog {

ActivityLight::ActivityLight(QObject* parent) : QObject(parent), m_tcol(new QTimer(this))
{
    m_tcol->setObjectName(QStringLiteral("Tcol"));
    m_tcol->setInterval(kTickMs);
    connect(m_tcol, &QTimer::timeout, this, &ActivityLight::Tcol_Timer);
}

void ActivityLight::start()
{
    m_started = true;
    m_lightStep = 0;
    m_tcol->start();
}

void ActivityLight::Tcol_Timer()
{
    if (m_lightStep >= kLastStep)
        m_tcol->stop();
    else
        m_lightStep += kStepSize;
    const Rgb c = colour();
    emit colourChanged(c.red, c.green, c.blue);
}

} // namespace powerlog
