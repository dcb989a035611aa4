// Two devices, each with its own sync engine and network client, on one vellora-cloud server: a change on one
// reaches the other through the server's push, without the other polling.
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/RecordDevice.h"
#include "tests/WaitFor.h"

#include <gtest/gtest.h>

using namespace SyncKit;

TEST(TwoDevicesTest, AChangeOnOneReachesTheOtherThroughPush)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    RecordDevice laptop(CloudAccount{server.url(), "anna", server.addUser("anna")}, true);
    RecordDevice desktop(CloudAccount{server.url(), "anna", server.addUser("anna")}, true);
    ASSERT_TRUE(waitFor([&] { return laptop.pushConnected() && desktop.pushConnected() && desktop.fetches > 0; }));

    laptop.add("A", "written on the laptop");
    ASSERT_TRUE(waitFor([&] { return desktop.title("A") == "written on the laptop"; }));
    desktop.add("B", "written on the desktop");
    ASSERT_TRUE(waitFor([&] { return laptop.title("B") == "written on the desktop"; }));
}
