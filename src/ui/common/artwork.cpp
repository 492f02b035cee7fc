#include "ui/common/artwork.h"

#include <QHash>
#include <array>

#include <QIconEngine>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <functional>
#include <utility>

namespace powerlog {

namespace {

// Every picture is drawn in a 100 x 100 box and scaled to the size asked for.
constexpr qreal kBox = 100;
const QPointF kCentre(kBox / 2, kBox / 2);

using Drawing = std::function<void(QPainter&)>;

void drawInto(QPainter& painter, const QRectF& target, const Drawing& draw)
{
    const qreal side = qMin(target.width(), target.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(target.x() + (target.width() - side) / 2,
                      target.y() + (target.height() - side) / 2);
    painter.scale(side / kBox, side / kBox);
    draw(painter);
    painter.restore();
}

// Disabled buttons show their picture in faded grey. Expects an unpremultiplied image.
void fadeToGrey(QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int grey = qGray(p);
            line[x] = qRgba(grey, grey, grey, qAlpha(p) / 2);
        }
    }
}

QPixmap render(const Drawing& draw, const QSize& logicalSize, qreal scale, QIcon::Mode mode)
{
    if (logicalSize.isEmpty())
        return QPixmap();
    const QSize pixels(qMax(1, qRound(logicalSize.width() * scale)),
                       qMax(1, qRound(logicalSize.height() * scale)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        drawInto(painter, QRectF(QPointF(0, 0), QSizeF(pixels)), draw);
    }
    if (mode == QIcon::Disabled) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        fadeToGrey(image);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

// An icon that paints its drawing afresh at whatever size and pixel density it is shown.
class DrawnIconEngine final : public QIconEngine
{
public:
    explicit DrawnIconEngine(Drawing draw) : m_draw(std::move(draw)) {}

    // Painted from the picture drawn once for the size: the tray's icon repaints it often.
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap drawn = pixmap((QSizeF(rect.size()) * dpr).toSize(), mode, state);
        drawn.setDevicePixelRatio(dpr);
        painter->drawPixmap(rect, drawn);
    }
    // QIcon asks for the size in device pixels and sets the pixel ratio itself. Each size is
    // drawn once: the tray and the windows ask for the same few sizes over and over.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        const quint64 key =
            (quint64(size.width()) << 32) | (quint64(size.height()) << 8) | quint64(mode);
        auto cached = m_pixmaps.constFind(key);
        if (cached != m_pixmaps.constEnd())
            return *cached;
        const QPixmap drawn = render(m_draw, size, 1.0, mode);
        m_pixmaps.insert(key, drawn);
        return drawn;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        // Offered to platforms that pick a size from a list (the notification area).
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}};
    }
    QIconEngine* clone() const override { return new DrawnIconEngine(m_draw); }
    QString key() const override { return QStringLiteral("PowerlogDrawnIcon"); }

private:
    Drawing m_draw;
    QHash<quint64, QPixmap> m_pixmaps;
};

QIcon drawnIcon(Drawing draw)
{
    return QIcon(new DrawnIconEngine(std::move(draw)));
}

QLinearGradient verticalGradient(const QColor& top, const QColor& bottom, qreal y0, qreal y1)
{
    QLinearGradient g(0, y0, 0, y1);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

QColor mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

// --- Load icons: a coloured disc with a plug, each state with its own mark, so the states
// stay apart without relying on colour alone.

QPainterPath plugPath()
{
    QPainterPath prongs;
    prongs.addRoundedRect(QRectF(38, 20, 7, 18), 2, 2);
    prongs.addRoundedRect(QRectF(55, 20, 7, 18), 2, 2);
    QPainterPath body;
    body.addRoundedRect(QRectF(31, 36, 38, 15), 4, 4);
    QPainterPath taper;
    taper.addPolygon(QPolygonF({{33, 48}, {67, 48}, {58, 64}, {42, 64}, {33, 48}}));
    QPainterPath cable;
    cable.addRoundedRect(QRectF(46, 62, 8, 18), 2, 2);
    return prongs.united(body).united(taper).united(cable);
}

void drawDisc(QPainter& p, const QColor& colour, qreal radius)
{
    const QRectF disc(kCentre.x() - radius, kCentre.y() - radius, 2 * radius, 2 * radius);
    p.setPen(QPen(colour.darker(150), 3));
    p.setBrush(
        verticalGradient(colour.lighter(125), colour.darker(115), disc.top(), disc.bottom()));
    p.drawEllipse(disc);
    // A soft sheen on the upper half.
    p.setPen(Qt::NoPen);
    p.setBrush(verticalGradient(QColor(255, 255, 255, 90), QColor(255, 255, 255, 0), disc.top(),
                                kCentre.y()));
    p.drawEllipse(QRectF(disc.left() + radius * 0.25, disc.top() + 3, radius * 1.5, radius));
}

void drawPlug(QPainter& p, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(plugPath());
}

void drawBadge(QPainter& p, const QColor& ring)
{
    p.setPen(QPen(ring, 3));
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(QPointF(75, 75), 19, 19);
}

void drawLoadPicture(QPainter& p, LoadPicture picture)
{
    const QColor white(250, 250, 250);
    switch (picture) {
    case LoadPicture::Design:
        drawDisc(p, QColor(158, 158, 158), 45);
        drawPlug(p, QColor(236, 236, 236));
        break;
    case LoadPicture::On: {
        drawDisc(p, QColor(67, 160, 71), 45);
        drawPlug(p, white);
        break;
    }
    case LoadPicture::Off: {
        const QColor red(229, 57, 53);
        drawDisc(p, red, 45);
        drawPlug(p, white);
        // The plug cut through: a gap in the disc colour with a white stroke inside.
        p.setPen(QPen(red, 13, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 76), QPointF(76, 24));
        p.setPen(QPen(white, 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 76), QPointF(76, 24));
        break;
    }
    case LoadPicture::Forced: {
        const QColor amber(255, 160, 0);
        const QColor dark(180, 95, 0);
        drawDisc(p, amber, 45);
        drawPlug(p, white);
        // Padlock: held in this state until the central unit releases it.
        drawBadge(p, dark);
        p.setPen(QPen(dark, 3.5));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(68.5, 62, 13, 16), 0, 180 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(dark);
        p.drawRoundedRect(QRectF(65, 70, 20, 14), 2.5, 2.5);
        break;
    }
    case LoadPicture::Other: {
        const QColor blueGrey(96, 125, 139);
        drawDisc(p, blueGrey, 45);
        drawPlug(p, white);
        drawBadge(p, blueGrey.darker(140));
        p.setPen(Qt::NoPen);
        p.setBrush(blueGrey.darker(140));
        p.drawRoundedRect(QRectF(65, 72, 20, 6), 3, 3);
        break;
    }
    case LoadPicture::Highlight: {
        QRadialGradient glow(kCentre, kBox / 2);
        glow.setColorAt(0.70, QColor(255, 235, 59, 255));
        glow.setColorAt(0.86, QColor(255, 235, 59, 130));
        glow.setColorAt(1.0, QColor(255, 235, 59, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(kCentre, kBox / 2, kBox / 2);
        drawDisc(p, QColor(255, 214, 0), 38);
        drawPlug(p, QColor(93, 64, 55));
        break;
    }
    case LoadPicture::Unknown: {
        // The plug faded, with a question mark: the state was known, now it may be stale.
        const QColor grey(120, 130, 140);
        drawDisc(p, grey, 45);
        drawPlug(p, QColor(205, 210, 215));
        drawBadge(p, grey.darker(140));
        p.setPen(QPen(grey.darker(140), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        QPainterPath question;
        question.moveTo(69.5, 70);
        question.cubicTo(69.5, 63.5, 80.5, 63.5, 80.5, 70);
        question.cubicTo(80.5, 74, 75, 74, 75, 79);
        p.drawPath(question);
        p.setPen(Qt::NoPen);
        p.setBrush(grey.darker(140));
        p.drawEllipse(QPointF(75, 85), 2.2, 2.2);
        break;
    }
    }
}

// --- Tray pictures: a dark tile holding a meter that fills with the power level.

const QRectF kTile(4, 4, 92, 92);

void drawTile(QPainter& p, const QColor& colour)
{
    p.setPen(QPen(colour.darker(160), 3));
    p.setBrush(
        verticalGradient(colour.lighter(115), colour.darker(110), kTile.top(), kTile.bottom()));
    p.drawRoundedRect(kTile, 18, 18);
}

QColor levelColour(int level)
{
    const QColor green(76, 175, 80);
    const QColor yellow(253, 216, 53);
    const QColor red(229, 57, 53);
    const qreal t = qreal(level - 1) / 8;
    return t < 0.5 ? mix(green, yellow, t * 2) : mix(yellow, red, (t - 0.5) * 2);
}

void drawTrayPicture(QPainter& p, int index)
{
    if (index == kTrayBusy) {
        drawTile(p, QColor(30, 136, 229));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255));
        for (const qreal x : {27.0, 50.0, 73.0})
            p.drawEllipse(QPointF(x, 50), 9.5, 9.5);
        return;
    }
    if (index < 1 || index > 9) {
        drawTile(p, QColor(130, 130, 130));
        p.setPen(QPen(QColor(245, 245, 245), 13, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(29, 29), QPointF(71, 71));
        p.drawLine(QPointF(71, 29), QPointF(29, 71));
        return;
    }
    drawTile(p, QColor(38, 50, 56));
    const QRectF meter(18, 16, 64, 68);
    const qreal filled = meter.height() * index / 9;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 30));
    p.drawRect(meter);
    p.setBrush(levelColour(index));
    p.drawRect(QRectF(meter.left(), meter.bottom() - filled, meter.width(), filled));
    // Divisions at thirds make the meter readable at notification-area sizes.
    p.setPen(QPen(QColor(38, 50, 56), 3));
    for (int i = 1; i < 3; ++i) {
        const qreal y = meter.top() + meter.height() * i / 3;
        p.drawLine(QPointF(meter.left(), y), QPointF(meter.right(), y));
    }
    p.setPen(QPen(QColor(255, 255, 255, 110), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(meter);
}

// --- Buttons.

void drawRecord(QPainter& p)
{
    QRadialGradient g(QPointF(40, 38), 46);
    g.setColorAt(0, QColor(255, 138, 128));
    g.setColorAt(0.5, QColor(229, 57, 53));
    g.setColorAt(1, QColor(183, 28, 28));
    p.setPen(QPen(QColor(140, 20, 20), 3));
    p.setBrush(g);
    p.drawEllipse(kCentre, 36, 36);
}

void drawStop(QPainter& p)
{
    const QRectF square(20, 20, 60, 60);
    p.setPen(QPen(QColor(38, 50, 56), 3));
    p.setBrush(
        verticalGradient(QColor(120, 144, 156), QColor(55, 71, 79), square.top(), square.bottom()));
    p.drawRoundedRect(square, 10, 10);
}

void drawRefresh(QPainter& p)
{
    const QColor blue(30, 136, 229);
    const qreal radius = 30;
    const qreal start = 40; // degrees, counter-clockwise from three o'clock
    p.setPen(QPen(blue, 13, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(kCentre.x() - radius, kCentre.y() - radius, 2 * radius, 2 * radius),
              int(start * 16), 280 * 16);
    // Arrow head at the open end, pointing clockwise into the gap.
    const qreal a = qDegreesToRadians(start);
    const QPointF end(kCentre.x() + radius * qCos(a), kCentre.y() - radius * qSin(a));
    const QPointF along(qSin(a), qCos(a));
    const QPointF outward(qCos(a), -qSin(a));
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawPolygon(QPolygonF({end + along * 16, end + outward * 15, end - outward * 15}));
}

void drawOptions(QPainter& p)
{
    const QColor grey(96, 125, 139);
    QPainterPath gear;
    gear.addEllipse(kCentre, 29, 29);
    for (int i = 0; i < 8; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-8, -44, 16, 22), 3, 3);
        QTransform t;
        t.translate(kCentre.x(), kCentre.y());
        t.rotate(i * 45);
        gear = gear.united(t.map(tooth));
    }
    QPainterPath hole;
    hole.addEllipse(kCentre, 12, 12);
    gear = gear.subtracted(hole);
    p.setPen(QPen(grey.darker(150), 3));
    p.setBrush(verticalGradient(grey.lighter(135), grey.darker(110), 6, 94));
    p.drawPath(gear);
}

void drawCharts(QPainter& p)
{
    const qreal base = 84;
    const struct
    {
        qreal x;
        qreal height;
        QColor colour;
    } bars[] = {{24, 30, QColor(67, 160, 71)},
                {46, 56, QColor(30, 136, 229)},
                {68, 42, QColor(251, 140, 0)}};
    for (const auto& bar : bars) {
        p.setPen(QPen(bar.colour.darker(140), 2));
        p.setBrush(verticalGradient(bar.colour.lighter(120), bar.colour, base - bar.height, base));
        p.drawRoundedRect(QRectF(bar.x, base - bar.height, 16, bar.height), 2.5, 2.5);
    }
    p.setPen(QPen(QColor(69, 90, 100), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{14, 12}, {14, 88}, {90, 88}}));
}

void drawClear(QPainter& p)
{
    const QColor outline(69, 90, 100);
    p.setPen(QPen(QColor(176, 190, 197), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14, 88), QPointF(86, 88));

    p.save();
    p.translate(kCentre.x(), kCentre.y() - 2);
    p.rotate(-38);
    const QRectF body(-36, -16, 72, 32);
    QPainterPath whole;
    whole.addRoundedRect(body, 6, 6);
    QPainterPath tip;
    tip.addRect(QRectF(body.left(), body.top(), 30, body.height()));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(236, 239, 241));
    p.drawPath(whole);
    p.setBrush(QColor(240, 98, 146));
    p.drawPath(whole.intersected(tip));
    p.setPen(QPen(outline, 3.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(whole);
    p.drawLine(QPointF(body.left() + 30, body.top()), QPointF(body.left() + 30, body.bottom()));
    p.restore();
}

// A gold coin with the euro sign.
void drawTariff(QPainter& p)
{
    p.setPen(QPen(QColor(150, 100, 0), 3));
    p.setBrush(verticalGradient(QColor(255, 236, 130), QColor(230, 165, 20), 10, 90));
    p.drawEllipse(QRectF(10, 10, 80, 80));
    p.setPen(QPen(QColor(120, 72, 0), 7, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(32, 28, 42, 44), 50 * 16, 260 * 16);
    p.drawLine(QPointF(24, 45), QPointF(54, 45));
    p.drawLine(QPointF(24, 57), QPointF(52, 57));
}

void drawButton(QPainter& p, Button button)
{
    switch (button) {
    case Button::Record:
        drawRecord(p);
        break;
    case Button::Stop:
        drawStop(p);
        break;
    case Button::Refresh:
        drawRefresh(p);
        break;
    case Button::Options:
        drawOptions(p);
        break;
    case Button::Charts:
        drawCharts(p);
        break;
    case Button::Clear:
        drawClear(p);
        break;
    case Button::Tariff:
        drawTariff(p);
        break;
    }
}

// --- Program icon: a lightning bolt over a small live graph.

void drawApp(QPainter& p)
{
    const QRectF tile(6, 6, 88, 88);
    p.setPen(QPen(QColor(10, 50, 120), 2));
    p.setBrush(
        verticalGradient(QColor(30, 118, 210), QColor(13, 61, 140), tile.top(), tile.bottom()));
    p.drawRoundedRect(tile, 20, 20);

    const qreal heights[] = {10, 17, 13, 24, 19, 30, 26};
    const qreal base = 82;
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        const bool newest = i == 6;
        p.setBrush(newest ? QColor(255, 255, 0) : QColor(200, 120 + int(heights[i] * 3), 80));
        p.drawRect(QRectF(16 + i * 10, base - heights[i], 7, heights[i]));
    }

    const QPolygonF bolt({{58, 12}, {30, 54}, {47, 54}, {40, 88}, {72, 42}, {54, 42}, {67, 12}});
    p.setPen(QPen(QColor(120, 72, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(verticalGradient(QColor(255, 241, 118), QColor(255, 179, 0), 12, 88));
    p.drawPolygon(bolt);
}

} // namespace

QPixmap loadPicture(LoadPicture picture, int logicalSize, qreal devicePixelRatio)
{
    // Load icons change with every load event: each picture is drawn once per size.
    static QHash<QString, QPixmap> cache;
    const QString key =
        QStringLiteral("%1/%2/%3").arg(int(picture)).arg(logicalSize).arg(devicePixelRatio);
    auto cached = cache.constFind(key);
    if (cached != cache.constEnd())
        return *cached;
    const QPixmap drawn = render([picture](QPainter& p) { drawLoadPicture(p, picture); },
                                 QSize(logicalSize, logicalSize), devicePixelRatio, QIcon::Normal);
    cache.insert(key, drawn);
    return drawn;
}

QIcon loadIcon(LoadPicture picture)
{
    return drawnIcon([picture](QPainter& p) { drawLoadPicture(p, picture); });
}

QIcon trayPicture(int index)
{
    // One icon per picture for the whole run, so its drawn sizes are kept.
    static const std::array<QIcon, kTrayPictureCount> icons = [] {
        std::array<QIcon, kTrayPictureCount> all;
        for (int i = 0; i < kTrayPictureCount; ++i)
            all[std::size_t(i)] = drawnIcon([i](QPainter& p) { drawTrayPicture(p, i); });
        return all;
    }();
    return icons[std::size_t(index >= 0 && index < kTrayPictureCount ? index : kTrayNoLink)];
}

QIcon buttonIcon(Button button)
{
    return drawnIcon([button](QPainter& p) { drawButton(p, button); });
}

QIcon appIcon()
{
    return drawnIcon(drawApp);
}

LoadPicture statePicture(LoadState state)
{
    switch (state) {
    case LoadState::Unseen:
        return LoadPicture::Design;
    case LoadState::Off:
        return LoadPicture::Off;
    case LoadState::On:
        return LoadPicture::On;
    case LoadState::Forced:
        return LoadPicture::Forced;
    case LoadState::Other:
        return LoadPicture::Other;
    case LoadState::Unknown:
        return LoadPicture::Unknown;
    }
    return LoadPicture::Design;
}

namespace {

void drawItalianFlag(QPainter& p, const QRectF& r)
{
    const qreal third = r.width() / 3;
    p.fillRect(QRectF(r.left(), r.top(), third, r.height()), QColor(0, 146, 70));
    p.fillRect(QRectF(r.left() + third, r.top(), third, r.height()), Qt::white);
    p.fillRect(QRectF(r.left() + 2 * third, r.top(), third, r.height()), QColor(206, 43, 55));
}

void drawBritishFlag(QPainter& p, const QRectF& r)
{
    p.fillRect(r, QColor(1, 33, 105));
    p.save();
    p.setClipRect(r);
    const qreal unit = r.height() / 30;
    QPen white(Qt::white, 6 * unit);
    p.setPen(white);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.bottomLeft(), r.topRight());
    QPen red(QColor(200, 16, 46), 2 * unit);
    p.setPen(red);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.bottomLeft(), r.topRight());
    const QPointF centre = r.center();
    p.fillRect(QRectF(centre.x() - 5 * unit, r.top(), 10 * unit, r.height()), Qt::white);
    p.fillRect(QRectF(r.left(), centre.y() - 5 * unit, r.width(), 10 * unit), Qt::white);
    p.fillRect(QRectF(centre.x() - 3 * unit, r.top(), 6 * unit, r.height()), red.color());
    p.fillRect(QRectF(r.left(), centre.y() - 3 * unit, r.width(), 6 * unit), red.color());
    p.restore();
}

} // namespace

// A flag 24 x 16 at the usual sizes, drawn sharp for twice the pixels too; the disabled flag
// (the language in use) is greyed by QIcon.
QIcon flagIcon(Flag flag)
{
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(QSize(24, 16) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(0.5, 0.5, 23, 15);
        if (flag == Flag::Italian)
            drawItalianFlag(painter, area);
        else
            drawBritishFlag(painter, area);
        painter.setPen(QColor(120, 120, 120));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(area);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace powerlog
