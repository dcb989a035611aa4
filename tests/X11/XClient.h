#pragma once

#include <QPoint>
#include <QProcess>
#include <QTest>

#include "tests/WaitFor.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// The user's pointer and keys, through the X server's test extension: they reach whichever client would get them.
inline bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

inline bool clickAt(QPoint global, int button = 1)
{
    return xdotool(
        {"mousemove", QString::number(global.x()), QString::number(global.y()), "click", QString::number(button)});
}

// Another client of the X server: it looks at windows as a tray, taskbar or window manager does, and plays another
// application, with a window that takes the keyboard and keys it grabs.
class XClient
{
public:
    XClient() : m_c(xcb_connect(nullptr, nullptr)) {}
    ~XClient() { xcb_disconnect(m_c); }
    XClient(const XClient &) = delete;
    XClient &operator=(const XClient &) = delete;

    bool ok() const { return m_c && !xcb_connection_has_error(m_c); }
    xcb_window_t root() const { return screen()->root; }

    xcb_atom_t atom(const char *name)
    {
        const auto reply = owned(xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, false, strlen(name), name), nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    bool hasState(xcb_window_t window, const char *name)
    {
        const auto cookie = xcb_get_property(m_c, false, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 1024);
        const auto reply = owned(xcb_get_property_reply(m_c, cookie, nullptr));
        const auto *states = reply ? static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get())) : nullptr;
        const auto *end = states ? states + xcb_get_property_value_length(reply.get()) / sizeof(xcb_atom_t) : nullptr;
        return std::find(states, end, atom(name)) != end;
    }

    // What a window manager does when a window is withdrawn.
    void dropStates(xcb_window_t window)
    {
        xcb_delete_property(m_c, window, atom("_NET_WM_STATE"));
        roundTrip();
    }

    // From now on, the state change requests sent to the root window arrive here, as at a window manager.
    void watchRoot()
    {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, root(), XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_c);
    }

    std::vector<xcb_client_message_event_t> stateRequests()
    {
        std::vector<xcb_client_message_event_t> requests;
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_c)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
                if (message->type == atom("_NET_WM_STATE"))
                    requests.push_back(*message);
            }
            free(event);
        }
        return requests;
    }

    xcb_window_t parentOf(xcb_window_t window)
    {
        const auto reply = owned(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, window), nullptr));
        return reply ? reply->parent : xcb_window_t(XCB_WINDOW_NONE);
    }

    bool isViewable(xcb_window_t window)
    {
        const auto reply = owned(xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, window), nullptr));
        return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    // Where a window's centre is on the screen, as the X server has it: Qt does not know where a tray put an icon.
    QPoint centreOnScreen(xcb_window_t window)
    {
        const auto size = owned(xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr));
        const auto place =
            owned(xcb_translate_coordinates_reply(m_c, xcb_translate_coordinates(m_c, window, root(), 0, 0), nullptr));
        return size && place ? QPoint(place->dst_x + size->width / 2, place->dst_y + size->height / 2) : QPoint();
    }

    // Another application's window takes the keyboard focus (made and mapped the first time); false when it was
    // never shown. Only a viewable window may take the focus.
    bool takeFocus()
    {
        if (!m_window) {
            m_window = xcb_generate_id(m_c);
            xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, root(), 700, 600, 100, 100, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen()->root_visual, 0, nullptr);
            xcb_map_window(m_c, m_window);
            if (!waitFor([&] { return isViewable(m_window); }, 5000))
                return false;
        }
        xcb_set_input_focus(m_c, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
        roundTrip();
        return true;
    }

    // Another application grabs a key combination on the root window.
    bool grab(xcb_keysym_t keysym, uint16_t modifiers)
    {
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_c);
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        free(codes);
        xcb_key_symbols_free(symbols);
        xcb_generic_error_t *error = xcb_request_check(
            m_c, xcb_grab_key_checked(m_c, 1, root(), modifiers, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        free(error);
        return code != 0 && !error;
    }

private:
    // A reply of the X server, freed when it goes.
    template<typename Reply> static std::unique_ptr<Reply, void (*)(void *)> owned(Reply *reply)
    {
        return {reply, std::free};
    }
    const xcb_screen_t *screen() const { return xcb_setup_roots_iterator(xcb_get_setup(m_c)).data; }
    void roundTrip() { free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

    xcb_connection_t *m_c;
    xcb_window_t m_window = 0;
};
