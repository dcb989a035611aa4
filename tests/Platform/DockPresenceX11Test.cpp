#include "Vellora/Platform/DockPresence.h"

#include <QGuiApplication>
#include <QTest>
#include <QWindow>

#include <xcb/xcb.h>

#include "tests/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

// Runs under Xvfb with the xcb platform. A second connection reads the window's properties the way the
// taskbar does, and watches the root window the way a window manager does.

namespace {

class XConnection
{
public:
    XConnection() : m_c(xcb_connect(nullptr, nullptr)) {}
    ~XConnection() { xcb_disconnect(m_c); }

    bool ok() const { return m_c && !xcb_connection_has_error(m_c); }

    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, false, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply->atom;
        free(reply);
        return atom;
    }

    std::vector<xcb_atom_t> states(xcb_window_t window)
    {
        std::vector<xcb_atom_t> result;
        const auto cookie = xcb_get_property(m_c, false, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 1024);
        if (auto *reply = xcb_get_property_reply(m_c, cookie, nullptr)) {
            const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            result.assign(data, data + xcb_get_property_value_length(reply) / sizeof(xcb_atom_t));
            free(reply);
        }
        return result;
    }

    bool skipsTaskbarAndPager(xcb_window_t window)
    {
        const auto s = states(window);
        const auto has = [&](xcb_atom_t a) { return std::find(s.begin(), s.end(), a) != s.end(); };
        const bool taskbar = has(atom("_NET_WM_STATE_SKIP_TASKBAR"));
        EXPECT_EQ(taskbar, has(atom("_NET_WM_STATE_SKIP_PAGER")));
        return taskbar;
    }

    void dropStates(xcb_window_t window)
    {
        xcb_delete_property(m_c, window, atom("_NET_WM_STATE"));
        free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); // a round trip
    }

    void watchRoot()
    {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, root(), XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_c);
    }

    xcb_window_t root() { return xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root; }

    // The state change requests that reached the root window so far.
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

private:
    xcb_connection_t *m_c;
};

class DockPresenceX11Test : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under Xvfb with QT_QPA_PLATFORM=xcb";
        ASSERT_TRUE(x.ok());
        window.resize(200, 200);
    }

    XConnection x;
    QWindow window;
    std::unique_ptr<DockPresence> presence = makeDockPresence();
};

TEST_F(DockPresenceX11Test, AWindowShownWithoutTheDockSkipsTheTaskbarAndPager)
{
    presence->setShownInDock(false);
    presence->setWindow(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(x.skipsTaskbarAndPager(xcb_window_t(window.winId())));

    // Switched on while hidden: the next showing is listed again.
    window.hide();
    presence->setShownInDock(true);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_FALSE(x.skipsTaskbarAndPager(xcb_window_t(window.winId())));
}

TEST_F(DockPresenceX11Test, TheStateIsWrittenAgainAtEveryShowing)
{
    presence->setWindow(&window);
    presence->setShownInDock(false);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.hide();
    ASSERT_TRUE(waitFor([&] { return !window.isExposed(); }));
    x.dropStates(xcb_window_t(window.winId())); // what a window manager does when a window is withdrawn

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(x.skipsTaskbarAndPager(xcb_window_t(window.winId())));
}

TEST_F(DockPresenceX11Test, AShownWindowAsksTheWindowManager)
{
    presence->setWindow(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_FALSE(x.skipsTaskbarAndPager(xcb_window_t(window.winId())));
    x.watchRoot();

    presence->setShownInDock(false);
    std::vector<xcb_client_message_event_t> requests;
    ASSERT_TRUE(waitFor([&] { return (requests = x.stateRequests()).size() == 1; }));
    const auto &request = requests.front();
    EXPECT_EQ(request.window, xcb_window_t(window.winId()));
    EXPECT_EQ(request.data.data32[0], 1u); // add
    EXPECT_EQ(request.data.data32[1], x.atom("_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_EQ(request.data.data32[2], x.atom("_NET_WM_STATE_SKIP_PAGER"));

    presence->setShownInDock(true);
    ASSERT_TRUE(waitFor([&] { return (requests = x.stateRequests()).size() == 1; }));
    EXPECT_EQ(requests.front().data.data32[0], 0u); // remove
}

TEST_F(DockPresenceX11Test, OtherStatesOfTheWindowAreKept)
{
    window.setFlag(Qt::WindowStaysOnTopHint);
    presence->setShownInDock(false);
    presence->setWindow(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto states = x.states(xcb_window_t(window.winId()));
    EXPECT_NE(std::find(states.begin(), states.end(), x.atom("_NET_WM_STATE_ABOVE")), states.end());
    EXPECT_TRUE(x.skipsTaskbarAndPager(xcb_window_t(window.winId())));
}

} // namespace
