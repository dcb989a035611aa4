// The Settings page's "Sign out" against a real vellora-cloud on 127.0.0.1: what waits to be sent goes to the
// account's server before the account's tasks leave, and what could not go is said.

#include "Vellora/Shell/SyncSection.h"
#include "Vellora/Shell/DeviceLinkDialog.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/AppSync.h"
#include "Vellora/Sync/ItemRecord.h"

#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/AwaitCloud.h"
#include "tests/Cloud/CloudServerProcess.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

class SyncSectionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start()) << server.error().toStdString();
        account = CloudAccount{server.url(), "anna", server.addUser("anna")};
        signIn();
        store = makeAppStore(folder.filePath("data/vellora.json"), sync.setup());
        sync.attach(*store);
        section.show();
        // The round at start is over: what is added next waits for the engine's moment after a change.
        ASSERT_TRUE(waitFor([&] { return sync.lastSync().has_value() && !store->engine()->isWorking(); }, 30000));
    }

    void signIn() { ASSERT_TRUE(account.writeFile(accountFile)); }

    void clickSignOut()
    {
        auto *button = section.findChild<QAbstractButton *>(QStringLiteral("settings.sync.signOut"));
        // The section shows the account once the round after signing in is noted.
        ASSERT_TRUE(waitFor([&] { return button && button->isVisible(); }));
        QTest::mouseClick(button, Qt::LeftButton);
    }

    QString stateLine() const { return section.findChild<PaperLabel *>(QStringLiteral("settings.sync.state"))->text(); }

    QStringList titlesOnTheServer()
    {
        HttpCloud::Timing once;
        once.push = false;
        HttpCloud reader(CloudAccount{server.url(), {}, {}}, once);
        QStringList titles;
        const auto records = zoneContents(reader, account, syncZoneID());
        EXPECT_TRUE(records) << "the server did not answer";
        for (const auto &[name, record] : records.value_or(std::map<QString, Record>{}))
            titles.append(dayItemFromRecord(record).title);
        return titles;
    }

    CloudServerProcess server;
    CloudAccount account;
    QTemporaryDir folder;
    QString accountFile = folder.filePath("config/vellora-cloud/account.json");
    AppSync sync{accountFile};
    std::unique_ptr<AppStore> store;
    SyncSection section{sync};
};

TEST_F(SyncSectionTest, SignOutSendsWhatWaitsBeforeTheAccountsTasksLeave)
{
    store->addItem("made just before signing out", Block::big);
    clickSignOut();
    ASSERT_TRUE(waitFor([&] { return !QFile::exists(accountFile); }, 30000));
    EXPECT_TRUE(store->saved().items.empty()) << "the account's tasks left this computer";
    EXPECT_EQ(titlesOnTheServer(), QStringList({"made just before signing out"}));
    EXPECT_TRUE(stateLine().startsWith("Not signed in")) << stateLine().toStdString();

    // With the server gone, the change cannot go: the window says so, in words, and still signs out.
    signIn();
    ASSERT_TRUE(
        waitFor([&] { return store->engine()->account().has_value() && !store->engine()->isWorking(); }, 30000));
    server.stop();
    store->addItem("made with the server away", Block::small);
    clickSignOut();
    ASSERT_TRUE(waitFor([&] { return !QFile::exists(accountFile); }, 30000));
    EXPECT_TRUE(store->saved().items.empty());
    EXPECT_TRUE(waitFor([&] { return stateLine().contains("1 change(s) had not reached the server"); }, 10000))
        << stateLine().toStdString();
    EXPECT_TRUE(stateLine().contains("the server cannot be reached")) << stateLine().toStdString();
}

// "Open on another device…" asks the account's server for a code and shows the address to scan, select or copy; a
// server that cannot be reached is said in the dialog.
TEST_F(SyncSectionTest, OpenOnAnotherDeviceShowsTheLinkOrWhyThereIsNone)
{
    auto *button = section.findChild<QAbstractButton *>(QStringLiteral("settings.sync.link"));
    ASSERT_TRUE(waitFor([&] { return button && button->isVisible(); }));
    const auto openDialog = [&]() -> DeviceLinkDialog * {
        QTest::mouseClick(button, Qt::LeftButton);
        DeviceLinkDialog *dialog = nullptr;
        waitFor([&] { return (dialog = section.window()->findChild<DeviceLinkDialog *>()) != nullptr; });
        return dialog;
    };
    DeviceLinkDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    auto *address = dialog->findChild<QLineEdit *>(QStringLiteral("deviceLink.address"));
    ASSERT_TRUE(waitFor([&] { return address->isVisible(); }, 20000));
    EXPECT_TRUE(address->text().startsWith(server.url() + "/#link=")) << address->text().toStdString();
    EXPECT_TRUE(address->hasFocus());
    EXPECT_FALSE(dialog->findChild<QLabel *>(QStringLiteral("deviceLink.qrCode"))->pixmap().isNull());
    QTest::mouseClick(dialog->findChild<QAbstractButton *>(QStringLiteral("deviceLink.copy")), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), address->text());
    const auto [status, listed] = server.command({"token", "list", "anna"});
    EXPECT_FALSE(listed.contains("linked")) << "a code is not a token until it is used";
    QTest::keyClick(dialog, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return section.window()->findChild<DeviceLinkDialog *>() == nullptr; }));

    server.stop();
    dialog = openDialog();
    ASSERT_TRUE(dialog);
    auto *message = dialog->findChild<PaperLabel *>(QStringLiteral("deviceLink.message"));
    EXPECT_TRUE(waitFor([&] { return message->text().contains("cannot be reached"); }, 20000))
        << message->text().toStdString();
    EXPECT_FALSE(dialog->findChild<QAbstractButton *>(QStringLiteral("deviceLink.copy"))->isVisible());
}

} // namespace
