#include "XClient.h"

#include "Vellora/Platform/DockPresence.h"

#include "tests/WaitFor.h"

#include <QWindow>

// The taskbar's view of the window: its _NET_WM_STATE property, and the requests a window manager receives.

namespace {

class DockPresenceX11Test : public testing::Test
{
protected:
    bool skipsTaskbarAndPager()
    {
        const auto id = xcb_window_t(window.winId());
        const bool taskbar = x.hasState(id, "_NET_WM_STATE_SKIP_TASKBAR");
        EXPECT_EQ(taskbar, x.hasState(id, "_NET_WM_STATE_SKIP_PAGER"));
        return taskbar;
    }

    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

    XClient x;
    QWindow window;
    std::unique_ptr<DockPresence> presence = makeDockPresence();
};

TEST_F(DockPresenceX11Test, TheTaskbarEntryFollowsTheSettingAtEveryShowingAndWhileShown)
{
    window.setFlag(Qt::WindowStaysOnTopHint); // a state of its own, which is kept
    presence->setShownInDock(false);
    presence->setWindow(&window);
    ASSERT_TRUE(show());
    EXPECT_TRUE(skipsTaskbarAndPager());
    EXPECT_TRUE(x.hasState(xcb_window_t(window.winId()), "_NET_WM_STATE_ABOVE"));

    // Withdrawn, its states dropped as a window manager does: written again at the next showing.
    window.hide();
    ASSERT_TRUE(waitFor([&] { return !window.isExposed(); }));
    x.dropStates(xcb_window_t(window.winId()));
    ASSERT_TRUE(show());
    EXPECT_TRUE(skipsTaskbarAndPager());

    // Switched on while hidden: the next showing is listed again.
    window.hide();
    presence->setShownInDock(true);
    ASSERT_TRUE(show());
    EXPECT_FALSE(skipsTaskbarAndPager());

    // Switched while shown: the window manager is asked, as it alone changes a shown window's states.
    x.watchRoot();
    for (const bool shown : {false, true}) {
        presence->setShownInDock(shown);
        std::vector<xcb_client_message_event_t> requests;
        ASSERT_TRUE(waitFor([&] { return (requests = x.stateRequests()).size() == 1; }));
        EXPECT_EQ(requests.front().window, xcb_window_t(window.winId()));
        EXPECT_EQ(requests.front().data.data32[0], shown ? 0u : 1u); // remove or add
        EXPECT_EQ(requests.front().data.data32[1], x.atom("_NET_WM_STATE_SKIP_TASKBAR"));
        EXPECT_EQ(requests.front().data.data32[2], x.atom("_NET_WM_STATE_SKIP_PAGER"));
    }
}

} // namespace
