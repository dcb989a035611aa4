#include "Vellora/Platform/TaskbarEntry.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kRemove = 0;
constexpr uint32_t kAdd = 1;
constexpr uint32_t kSourceApplication = 1;

xcb_atom_t atomNamed(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, false, uint16_t(strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

// On X11 the taskbar and the pager list every normal window unless its _NET_WM_STATE asks them to skip it.
// While the window is unmapped the client owns that property; once it is mapped, the window manager does, and the
// client asks it to change the state with a client message to the root window.
class X11TaskbarEntry : public TaskbarEntry
{
public:
    ~X11TaskbarEntry() override { QObject::disconnect(m_visibleConnection); }

    void setShownInTaskbar(bool shown) override
    {
        m_shown = shown;
        if (!m_window || !m_window->handle())
            return; // applied when the window is shown
        if (m_window->isVisible())
            askWindowManager();
        else
            writeState();
    }

    void setWindow(QWindow *window) override
    {
        QObject::disconnect(m_visibleConnection);
        m_window = window;
        if (!window)
            return;
        // Showing a window again starts with the state the client wrote: the window manager drops it on unmap.
        // The signal comes before the window is mapped.
        m_visibleConnection = QObject::connect(window, &QWindow::visibleChanged, window, [this](bool visible) {
            if (visible)
                writeState();
        });
        setShownInTaskbar(m_shown);
    }

private:
    xcb_connection_t *connection() const
    {
        const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        return x11 ? x11->connection() : nullptr;
    }

    struct Atoms
    {
        xcb_atom_t state, skipTaskbar, skipPager;
    };

    Atoms atoms(xcb_connection_t *c) const
    {
        return {atomNamed(c, "_NET_WM_STATE"), atomNamed(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                atomNamed(c, "_NET_WM_STATE_SKIP_PAGER")};
    }

    void writeState()
    {
        xcb_connection_t *c = connection();
        if (!c || !m_window)
            return;
        const auto window = xcb_window_t(m_window->winId());
        const Atoms a = atoms(c);

        std::vector<xcb_atom_t> states;
        const auto cookie = xcb_get_property(c, false, window, a.state, XCB_ATOM_ATOM, 0, 1024);
        if (xcb_get_property_reply_t *reply = xcb_get_property_reply(c, cookie, nullptr)) {
            if (reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
                const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
                states.assign(data, data + xcb_get_property_value_length(reply) / sizeof(xcb_atom_t));
            }
            free(reply);
        }
        std::erase_if(states, [&](xcb_atom_t s) { return s == a.skipTaskbar || s == a.skipPager; });
        if (!m_shown) {
            states.push_back(a.skipTaskbar);
            states.push_back(a.skipPager);
        }
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, a.state, XCB_ATOM_ATOM, 32, uint32_t(states.size()),
                            states.data());
        xcb_flush(c);
    }

    void askWindowManager()
    {
        xcb_connection_t *c = connection();
        if (!c || !m_window)
            return;
        const Atoms a = atoms(c);
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = xcb_window_t(m_window->winId());
        event.type = a.state;
        event.data.data32[0] = m_shown ? kRemove : kAdd;
        event.data.data32[1] = a.skipTaskbar;
        event.data.data32[2] = a.skipPager;
        event.data.data32[3] = kSourceApplication;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_send_event(c, false, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
        xcb_flush(c);
    }

    bool m_shown = true;
    QPointer<QWindow> m_window;
    QMetaObject::Connection m_visibleConnection;
};

} // namespace

std::unique_ptr<TaskbarEntry> makeTaskbarEntry()
{
    return std::make_unique<X11TaskbarEntry>();
}
