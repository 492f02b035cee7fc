#include "app/balloonclickfilter.h"

namespace powerlog {

void BalloonClickFilter::noteMessageClicked()
{
    m_messageClicked = true;
    decideLater();
}

void BalloonClickFilter::noteIconActivated()
{
    m_iconActivated = true;
    decideLater();
}

// Both signals of one press are emitted before control returns to the event loop, so a queued
// call sees them together, in whichever order they came.
void BalloonClickFilter::decideLater()
{
    if (m_decisionPending)
        return;
    m_decisionPending = true;
    QMetaObject::invokeMethod(this, &BalloonClickFilter::decide, Qt::QueuedConnection);
}

void BalloonClickFilter::decide()
{
    const bool balloonClick = m_messageClicked && !m_iconActivated;
    m_messageClicked = false;
    m_iconActivated = false;
    m_decisionPending = false;
    if (balloonClick)
        emit balloonClicked();
}

} // namespace powerlog
