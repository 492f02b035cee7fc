#include "ui/main/activitylight.h"

#include <QTimer>

namespace powerlog {

ActivityLight::ActivityLight(QObject* parent) : QObject(parent), m_stepTimer(new QTimer(this))
{
    m_stepTimer->setObjectName(QStringLiteral("Tcol"));
    m_stepTimer->setInterval(kTickMs);
    connect(m_stepTimer, &QTimer::timeout, this, &ActivityLight::step);
}

void ActivityLight::start()
{
    m_started = true;
    m_lightStep = 0;
    m_stepTimer->start();
}

void ActivityLight::step()
{
    if (m_lightStep >= kLastStep)
        m_stepTimer->stop();
    else
        m_lightStep += kStepSize;
    const Rgb c = colour();
    emit colourChanged(c.red, c.green, c.blue);
}

} // namespace powerlog
