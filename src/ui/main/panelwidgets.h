#pragma once

#include "ui/common/clicktracker.h"

#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <memory>

namespace powerlog {

class ServerPictures;

class LiveGraphModel;

// The window's background: a vertical gradient painted once into a pixmap and copied from it,
// so that repainting a small control above it costs a small copy.
class Backdrop : public QWidget
{
    Q_OBJECT
public:
    Backdrop(const QColor& top, const QColor& bottom, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_top;
    QColor m_bottom;
    QPixmap m_cache;
};

// A label on a filled, rounded panel with a thin border, drawn with a painter rather than a
// style sheet (cheap to repaint, and a tooltip keeps its own colours).
class PanelLabel : public QLabel
{
    Q_OBJECT
public:
    PanelLabel(const QColor& fill, const QColor& border, const QColor& text,
               QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    QColor m_border;
};

// The status bar: panel 1 for messages, panel 2 for the mode. Clicks report the panel (1, 2).
class StatusPanels : public QWidget
{
    Q_OBJECT
public:
    explicit StatusPanels(QWidget* parent = nullptr);
    void setColours(const QColor& fill, const QColor& text);
    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;

signals:
    void panelClicked(int panel);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_panels[2];
    ClickTracker m_clicks;
};

// The mode box: prints the text of status panel 2 near its top left corner.
class ModeBox : public QWidget
{
    Q_OBJECT
public:
    explicit ModeBox(std::function<QString()> text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::function<QString()> m_text;
};

// The live power graph, drawn at twice its 101 x 32 pixels so it reads well.
class PowerGraphView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kScale = 2;

    PowerGraphView(const LiveGraphModel& model, std::function<int()> linePower,
                   QWidget* parent = nullptr);

    // The model's drawing was cleared: paint it blank once.
    void showCleared();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const LiveGraphModel& m_model;
    std::function<int()> m_linePower;
    bool m_clearedShown = false;
};

// A filled round light. Its colours are drawn once each; on an X server the server keeps them
// and shows each change itself, so a light that steps several times a second repaints nothing.
class LightShape : public QWidget
{
    Q_OBJECT
public:
    explicit LightShape(QWidget* parent = nullptr);
    ~LightShape() override;
    void setColour(const QColor& colour);
    QColor colour() const { return m_colour; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPixmap picture(const QColor& colour);
    bool showOnServer();
    void showAgainOnServer();

    QColor m_colour;
    QHash<QString, QPixmap> m_pictures;
    std::unique_ptr<ServerPictures> m_server; // null where the server cannot keep them
    QImage m_background;                      // what the light stands on, in device pixels
};

// A plain filled bar whose width the window sets (the polling progress). On an X server the
// server draws it, and a new width costs one request instead of a repaint of the window.
class BarShape : public QWidget
{
    Q_OBJECT
public:
    explicit BarShape(QWidget* parent = nullptr);
    ~BarShape() override;

    // The width filled, from the left edge.
    void setFilledWidth(int width);
    int filledWidth() const { return m_server ? m_filled : width(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showOnServer();

    std::unique_ptr<ServerPictures> m_server; // null where the server cannot draw it
    int m_filled = 0;
};

} // namespace powerlog
