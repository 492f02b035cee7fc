#include "ui/main/serverpictures.h"

#include <QGuiApplication>

#ifdef POWERLOG_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace powerlog {

#ifdef POWERLOG_HAVE_XCB

struct ServerPictures::Connection
{
    xcb_connection_t* xcb = nullptr;
    xcb_screen_t* screen = nullptr;
};

namespace {

// The connection while the application that made it lives: pictures freed after it are gone
// with it anyway.
xcb_connection_t* liveConnection()
{
    if (!qGuiApp)
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// Whether the server takes the pixels of a QImage::Format_RGB32 picture as they are: 32 bits
// per pixel, least significant byte first, and a colour depth of 24 or 32.
bool takesRgb32(const xcb_setup_t* setup, const xcb_screen_t* screen)
{
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST ||
        (screen->root_depth != 24 && screen->root_depth != 32))
        return false;
    xcb_format_iterator_t format = xcb_setup_pixmap_formats_iterator(setup);
    for (; format.rem; xcb_format_next(&format)) {
        if (format.data->depth == screen->root_depth)
            return format.data->bits_per_pixel == 32;
    }
    return false;
}

} // namespace

std::unique_ptr<ServerPictures> ServerPictures::create()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    xcb_connection_t* xcb = liveConnection();
    if (!xcb || xcb_connection_has_error(xcb))
        return nullptr;
    const xcb_setup_t* setup = xcb_get_setup(xcb);
    xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
    if (!screen || !takesRgb32(setup, screen))
        return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->xcb = xcb;
    connection->screen = screen;
    return std::unique_ptr<ServerPictures>(new ServerPictures(std::move(connection)));
}

ServerPictures::ServerPictures(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection))
{
}

ServerPictures::~ServerPictures()
{
    clear();
}

void ServerPictures::add(quint64 key, const QImage& picture)
{
    xcb_connection_t* xcb = liveConnection();
    if (!xcb || m_pixmaps.contains(key))
        return;
    const QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    xcb_screen_t* screen = m_connection->screen;
    const xcb_pixmap_t pixmap = xcb_generate_id(xcb);
    xcb_create_pixmap(xcb, screen->root_depth, pixmap, screen->root, quint16(pixels.width()),
                      quint16(pixels.height()));
    if (!m_context) {
        m_context = xcb_generate_id(xcb);
        xcb_create_gc(xcb, m_context, pixmap, 0, nullptr);
    }
    // One row per request keeps each far below the server's request size.
    for (int y = 0; y < pixels.height(); ++y) {
        xcb_put_image(xcb, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, m_context, quint16(pixels.width()), 1,
                      0, qint16(y), 0, screen->root_depth, quint32(pixels.width() * 4),
                      pixels.constScanLine(y));
    }
    m_pixmaps.insert(key, pixmap);
}

void ServerPictures::show(quint64 key, WId parent, const QRect& rect)
{
    xcb_connection_t* xcb = liveConnection();
    const auto pixmap = m_pixmaps.constFind(key);
    if (!xcb || pixmap == m_pixmaps.constEnd() || rect.isEmpty())
        return;
    // A window of another parent went with its parent, which the toolkit made anew.
    if (m_window && parent != m_parent) {
        m_window = 0;
        m_mapped = false;
    }
    if (!m_window) {
        // The root's visual and depth, whatever the parent's: the pictures were made for them.
        xcb_screen_t* screen = m_connection->screen;
        m_window = xcb_generate_id(xcb);
        const quint32 values[] = {*pixmap, 0, screen->default_colormap};
        xcb_create_window(xcb, screen->root_depth, m_window, xcb_window_t(parent), qint16(rect.x()),
                          qint16(rect.y()), quint16(rect.width()), quint16(rect.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_COLORMAP, values);
        m_parent = parent;
        m_rect = rect;
        m_shown = key;
    }
    if (rect != m_rect) {
        const quint32 geometry[] = {quint32(rect.x()), quint32(rect.y()), quint32(rect.width()),
                                    quint32(rect.height())};
        xcb_configure_window(xcb, m_window,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             geometry);
        m_rect = rect;
    }
    if (key != m_shown) {
        const quint32 background = *pixmap;
        xcb_change_window_attributes(xcb, m_window, XCB_CW_BACK_PIXMAP, &background);
        if (m_mapped)
            xcb_clear_area(xcb, 0, m_window, 0, 0, 0, 0);
        m_shown = key;
    }
    if (!m_mapped) {
        xcb_map_window(xcb, m_window);
        m_mapped = true;
    }
    xcb_flush(xcb);
}

void ServerPictures::hide()
{
    xcb_connection_t* xcb = liveConnection();
    if (!xcb || !m_window || !m_mapped)
        return;
    xcb_unmap_window(xcb, m_window);
    xcb_flush(xcb);
    m_mapped = false;
}

void ServerPictures::clear()
{
    destroyWindow();
    xcb_connection_t* xcb = liveConnection();
    if (xcb) {
        for (const quint32 pixmap : std::as_const(m_pixmaps))
            xcb_free_pixmap(xcb, pixmap);
        if (m_context)
            xcb_free_gc(xcb, m_context);
        xcb_flush(xcb);
    }
    m_pixmaps.clear();
    m_context = 0;
}

void ServerPictures::destroyWindow()
{
    xcb_connection_t* xcb = liveConnection();
    if (xcb && m_window)
        xcb_destroy_window(xcb, m_window);
    m_window = 0;
    m_parent = 0;
    m_mapped = false;
}

#else // no XCB headers: every widget repaints itself

struct ServerPictures::Connection
{
};

std::unique_ptr<ServerPictures> ServerPictures::create()
{
    return nullptr;
}

ServerPictures::ServerPictures(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection))
{
}

ServerPictures::~ServerPictures() = default;
void ServerPictures::add(quint64, const QImage&) {}
void ServerPictures::show(quint64, WId, const QRect&) {}
void ServerPictures::hide() {}
void ServerPictures::clear() {}
void ServerPictures::destroyWindow() {}

#endif

} // namespace powerlog
