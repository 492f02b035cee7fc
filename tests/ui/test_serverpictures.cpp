// The activity light and the progress bar as an X server draws them: on a private Xvfb, each
// colour and width reaches the screen without a repaint of the widget. Skipped without Xvfb.

#include "ui/main/panelwidgets.h"

#include <QApplication>
#include <QEvent>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace powerlog;

namespace {

const QColor kBackground(20, 30, 90);
const QColor kBarColour(70, 160, 230);

// Counts the paint events of a widget.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// The screen as the server shows it, child windows included, addressed in logical pixels.
class Screen
{
public:
    Screen() : m_image(QGuiApplication::primaryScreen()->grabWindow(0).toImage()) {}
    QColor pixelColor(QPoint logical) const
    {
        return m_image.pixelColor((QPointF(logical) * m_image.devicePixelRatio()).toPoint());
    }

private:
    QImage m_image;
};

Screen screenImage()
{
    return Screen();
}

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) <= 2 && qAbs(a.green() - b.green()) <= 2 &&
           qAbs(a.blue() - b.blue()) <= 2;
}

} // namespace

class TestServerPictures : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        m_window->setAttribute(Qt::WA_StyledBackground);
        QPalette palette;
        palette.setColor(QPalette::Window, kBackground);
        m_window->setPalette(palette);
        m_window->setAutoFillBackground(true);
        m_window->setGeometry(50, 50, 120, 80);
        m_light = new LightShape(m_window.get());
        m_light->setGeometry(40, 20, 14, 14);
        m_bar = new BarShape(m_window.get());
        m_bar->setGeometry(10, 60, 0, 4);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTest::qWait(50);
    }
    void cleanup() { m_window.reset(); }

    void lightTakesEachColourWithoutRepainting()
    {
        PaintCounter counter(m_light);
        const QPoint centre = m_window->mapToGlobal(m_light->geometry().center());
        const QPoint corner = m_window->mapToGlobal(m_light->geometry().topLeft());
        for (const QColor& colour :
             {QColor(40, 255, 40), QColor(40, 175, 40), QColor(200, 0, 0), QColor(40, 255, 40)}) {
            m_light->setColour(colour);
            const Screen screen = screenImage();
            QVERIFY2(near(screen.pixelColor(centre), colour),
                     qPrintable(screen.pixelColor(centre).name()));
            // Outside the round light, what the window shows beneath it.
            QVERIFY2(near(screen.pixelColor(corner), kBackground),
                     qPrintable(screen.pixelColor(corner).name()));
        }
        QCOMPARE(counter.paints, 0);

        // Hidden with its window, the light leaves nothing on the screen.
        m_window->hide();
        QTRY_VERIFY(!near(screenImage().pixelColor(centre), QColor(40, 255, 40)));
    }

    void barTakesEachWidthWithoutRepainting()
    {
        PaintCounter counter(m_bar);
        const QPoint left = m_window->mapToGlobal(QPoint(11, 61));
        const QPoint beyond = m_window->mapToGlobal(QPoint(45, 61));
        m_bar->setFilledWidth(30);
        const Screen screen = screenImage();
        QVERIFY2(near(screen.pixelColor(left), kBarColour),
                 qPrintable(screen.pixelColor(left).name()));
        QVERIFY(near(screen.pixelColor(beyond), kBackground));
        QCOMPARE(m_bar->filledWidth(), 30);

        m_bar->setFilledWidth(60);
        QVERIFY(near(screenImage().pixelColor(beyond), kBarColour));
        // What the bar uncovers, the window puts back from what it painted before.
        m_bar->setFilledWidth(20);
        QTRY_VERIFY(near(screenImage().pixelColor(beyond), kBackground));
        QVERIFY(near(screenImage().pixelColor(left), kBarColour));
        m_bar->setFilledWidth(0);
        QTRY_VERIFY(near(screenImage().pixelColor(left), kBackground));
        QCOMPARE(counter.paints, 0);
    }

private:
    std::unique_ptr<QWidget> m_window;
    LightShape* m_light = nullptr;
    BarShape* m_bar = nullptr;
};

namespace {

// Starts Xvfb on a display it picks itself; its number, or -1.
int startXvfb(pid_t* pid)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    *pid = ::fork();
    if (*pid == 0) {
        ::close(pipeFds[0]);
        const std::string fd = std::to_string(pipeFds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "320x240x24",
                 "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    // The number comes in two writes, its digits then a newline: the pipe stays open for both.
    std::string number;
    char c = 0;
    while (*pid > 0 && ::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(pipeFds[0]);
    return c == '\n' && !number.empty() ? std::atoi(number.c_str()) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    pid_t xvfb = -1;
    const int display = startXvfb(&xvfb);
    if (display < 0) {
        std::puts("SKIP   : Xvfb is not installed or did not start: nothing to test here");
        return 0;
    }
    ::setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    ::unsetenv("XAUTHORITY");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        TestServerPictures test;
        result = QTest::qExec(&test, argc, argv);
    }
    ::kill(xvfb, SIGTERM);
    ::waitpid(xvfb, nullptr, 0);
    return result;
}

#include "test_serverpictures.moc"
