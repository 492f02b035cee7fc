#pragma once

#include <QHash>
#include <QImage>
#include <QRect>
#include <memory>
#include <qwindowdefs.h>

namespace powerlog {

// A few prepared pictures shown in a small window of the X server's own, placed over a spot of
// one of the program's windows. Each picture is sent to the server once; showing another is two
// requests, and the server paints it itself. A widget that changes its look several times a
// second costs next to nothing this way, where each change would otherwise be a repaint and a
// flush of the window. Pointer events pass through to the window underneath.
class ServerPictures
{
public:
    // Null unless the program shows its windows on an X server that takes 32-bit pixels in the
    // order QImage::Format_RGB32 keeps them.
    static std::unique_ptr<ServerPictures> create();
    ~ServerPictures();
    ServerPictures(const ServerPictures&) = delete;
    ServerPictures& operator=(const ServerPictures&) = delete;

    bool has(quint64 key) const { return m_pixmaps.contains(key); }
    // Sends a picture to the server under `key`; opaque, in device pixels.
    void add(quint64 key, const QImage& picture);
    // Shows the picture `key` at `rect` (device pixels) of `parent`.
    void show(quint64 key, WId parent, const QRect& rect);
    void hide();
    // Forgets every picture, for new ones of another size or background.
    void clear();

private:
    struct Connection;
    explicit ServerPictures(std::unique_ptr<Connection> connection);
    void destroyWindow();

    std::unique_ptr<Connection> m_connection;
    QHash<quint64, quint32> m_pixmaps; // key → X pixmap
    quint32 m_context = 0;             // graphics context for the uploads
    quint32 m_window = 0;
    WId m_parent = 0;
    QRect m_rect;
    quint64 m_shown = 0;
    bool m_mapped = false;
};

} // namespace powerlog
