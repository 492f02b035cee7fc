#pragma once

#include <QObject>

class QTimer;

namespace powerlog {

// The light that flashes when a measurement is requested: bright green fading in seven steps
// of a timer (object name "Tcol") to a dim green, where it stays until the next request.
class ActivityLight : public QObject
{
    Q_OBJECT
public:
    struct Rgb
    {
        int red = 0;
        int green = 0;
        int blue = 0;
        bool operator==(const Rgb&) const = default;
    };

    static constexpr int kTickMs = 100;
    static constexpr int kStepSize = 16;
    static constexpr int kLastStep = 100; // a tick at or past this step only stops the timer

    explicit ActivityLight(QObject* parent = nullptr);

    // A measurement was requested: the flash starts again from bright green.
    void start();
    // One step of the fade.
    void step();

    // False until the first request; the light shows its design colour until then.
    bool hasStarted() const { return m_started; }
    int lightStep() const { return m_lightStep; }
    Rgb colour() const { return colourAt(m_lightStep); }
    const QTimer* timer() const { return m_stepTimer; }

    static Rgb colourAt(int lightStep) { return {40, 255 - lightStep, 40}; }

signals:
    void colourChanged(int red, int green, int blue);

private:
    QTimer* m_stepTimer;
    int m_lightStep = 0;
    bool m_started = false;
};

} // namespace powerlog
