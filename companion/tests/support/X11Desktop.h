#pragma once
// What a test or a benchmark asks of the X server ($DISPLAY), on a connection of its own, as a
// window manager or a screen grabber would: the top-level windows and who owns them, whether they
// are shown, closing one, grabbing one, and the tray's manager.

#include <QImage>
#include <QPoint>
#include <QString>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>

namespace kestro::testing {

class X11Desktop {
  public:
    // On `display` (":N"); by default $DISPLAY's.
    explicit X11Desktop(const char* display = nullptr) : m_connection(xcb_connect(display, nullptr)) {
        if (xcb_connection_has_error(m_connection) == 0)
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~X11Desktop() { xcb_disconnect(m_connection); }
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    bool isConnected() const { return m_root != XCB_WINDOW_NONE; }
    xcb_window_t root() const { return m_root; }

    // Children of `window`, bottom of the stack first.
    std::vector<xcb_window_t> children(xcb_window_t window) const {
        std::vector<xcb_window_t> found;
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr);
        if (tree == nullptr) return found;
        const xcb_window_t* first = xcb_query_tree_children(tree);
        found.assign(first, first + xcb_query_tree_children_length(tree));
        free(tree);
        return found;
    }

    // The window's _NET_WM_PID, or 0.
    uint32_t pid(xcb_window_t window) const {
        xcb_get_property_reply_t* reply = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
        uint32_t value = 0;
        if (reply != nullptr && xcb_get_property_value_length(reply) == 4)
            value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
        free(reply);
        return value;
    }

    QString name(xcb_window_t window) const {
        xcb_get_property_reply_t* reply = property(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY);
        QString value;
        if (reply != nullptr)
            value = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                      xcb_get_property_value_length(reply));
        free(reply);
        return value;
    }

    bool viewable(xcb_window_t window) const {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
        const bool shown = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attributes);
        return shown;
    }

    QSize size(xcb_window_t window) const {
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        const QSize found = geometry != nullptr ? QSize(geometry->width, geometry->height) : QSize();
        free(geometry);
        return found;
    }

    // The companion's main window: a top-level of `owner` named "kestro Agent", larger than an icon.
    xcb_window_t mainWindow(qint64 owner) const {
        for (const xcb_window_t window : children(m_root))
            if (pid(window) == owner && name(window) == QLatin1String("kestro Agent") &&
                size(window).width() > 200)
                return window;
        return XCB_WINDOW_NONE;
    }

    // The shown top-level windows of `owner`.
    std::vector<xcb_window_t> shownWindows(qint64 owner) const {
        std::vector<xcb_window_t> found;
        for (const xcb_window_t window : children(m_root))
            if (pid(window) == owner && viewable(window)) found.push_back(window);
        return found;
    }

    // Whether `window` is the top of the shown top-level windows.
    bool isTopmost(xcb_window_t window) const {
        xcb_window_t top = XCB_WINDOW_NONE;
        for (const xcb_window_t child : children(m_root))
            if (viewable(child)) top = child;
        return top == window;
    }

    // A shown window of `owner` that another program (the tray host) holds inside one of its own.
    xcb_window_t embeddedWindow(qint64 owner) const {
        for (const xcb_window_t topLevel : children(m_root)) {
            if (pid(topLevel) == owner) continue;
            std::vector<xcb_window_t> pending = children(topLevel);
            while (!pending.empty()) {
                const xcb_window_t window = pending.back();
                pending.pop_back();
                if (pid(window) == owner && viewable(window)) return window;
                for (const xcb_window_t child : children(window))
                    pending.push_back(child);
            }
        }
        return XCB_WINDOW_NONE;
    }
    bool hasEmbeddedWindow(qint64 owner) const { return embeddedWindow(owner) != XCB_WINDOW_NONE; }

    // The point of `window` at (`x`, `y`) of its own, on the screen.
    QPoint onScreen(xcb_window_t window, int x = 0, int y = 0) const {
        xcb_translate_coordinates_reply_t* place = xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, window, m_root, int16_t(x), int16_t(y)),
            nullptr);
        const QPoint found = place != nullptr ? QPoint(place->dst_x, place->dst_y) : QPoint();
        free(place);
        return found;
    }
    QPoint middle(xcb_window_t window) const {
        const QSize extent = size(window);
        return onScreen(window, extent.width() / 2, extent.height() / 2);
    }

    // What a window manager's close button sends.
    void close(xcb_window_t window) const {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(m_connection);
    }

    // What the screen shows of `window` (a 24-bit screen); a null image when it cannot be read.
    QImage grab(xcb_window_t window) const {
        const QSize extent = size(window);
        xcb_get_image_reply_t* image =
            xcb_get_image_reply(m_connection,
                                xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                              uint16_t(extent.width()), uint16_t(extent.height()), ~0u),
                                nullptr);
        QImage found;
        if (image != nullptr && image->depth == 24 &&
            xcb_get_image_data_length(image) == extent.width() * extent.height() * 4)
            found = QImage(xcb_get_image_data(image), extent.width(), extent.height(), QImage::Format_RGB32)
                        .copy();
        free(image);
        return found;
    }

    // The tray has a manager: its selection has an owner.
    bool hasTray() const {
        xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
            m_connection, xcb_get_selection_owner(m_connection, atom("_NET_SYSTEM_TRAY_S0")), nullptr);
        const bool owned = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
        free(owner);
        return owned;
    }

  private:
    xcb_atom_t atom(const char* name) const {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t value = reply != nullptr ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return value;
    }

    xcb_get_property_reply_t* property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) const {
        return xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, name, type, 0, 1024), nullptr);
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root = XCB_WINDOW_NONE;
};

} // namespace kestro::testing
