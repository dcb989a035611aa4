// The Settings page's sign-in with a sync passphrase, driven from the keyboard and mouse as a person would, against
// a real vellora-cloud on 127.0.0.1: the account's first key and its recovery key, a new passphrase, a wrong one,
// and the recovery key opening the account on another computer.

#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Shell/PassphraseDialog.h"
#include "Vellora/Shell/RecoveryKeyDialog.h"
#include "Vellora/Shell/SignInDialog.h"
#include "Vellora/Shell/SyncSection.h"
#include "Vellora/Sync/AppSync.h"

#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/WaitFor.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

const QString kFirst = QStringLiteral("the first passphrase");
const QString kSecond = QStringLiteral("a second passphrase, later");

// One computer's Settings page: its own account file, nothing else.
struct Computer
{
    QTemporaryDir folder;
    QString accountFile = folder.filePath("config/vellora-cloud/account.json");
    AppSync sync{accountFile, false};
    SyncSection section{sync};

    template<typename T> T *find(const QString &name) const { return section.findChild<T *>(name); }
    QString state() const { return find<PaperLabel>("settings.sync.state")->text(); }
    std::optional<AccountKey> key() const
    {
        const auto account = CloudAccount::readFile(accountFile);
        return account ? account->key : std::nullopt;
    }

    void type(const QString &field, const QString &text)
    {
        auto *edit = find<QLineEdit>(field);
        ASSERT_TRUE(edit && edit->isVisible()) << field.toStdString();
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    void click(const QString &button)
    {
        auto *found = find<QAbstractButton>(button);
        ASSERT_TRUE(found && found->isVisible() && found->isEnabled()) << button.toStdString();
        QTest::mouseClick(found, Qt::LeftButton);
    }
    QString problem() const
    {
        const auto *label = find<PaperLabel>("signIn.problem");
        return label ? label->text() : QString();
    }
};

class SignInDialogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("VELLORA_PASSPHRASE_COST", "minimum");
        ASSERT_TRUE(server.start()) << server.error().toStdString();
    }

    void openSignIn(Computer &computer, const QString &passphrase)
    {
        computer.section.show();
        computer.click("settings.sync.signIn");
        ASSERT_EVENTUALLY(computer.find<SignInDialog>("signIn"));
        computer.type("signIn.server", server.url());
        computer.type("signIn.user", "anna");
        computer.type("signIn.token", token);
        computer.type("signIn.passphrase", passphrase);
    }

    CloudServerProcess server;
    QString token = server.addUser("anna");
};

TEST_F(SignInDialogTest, FirstKeyRecoveryKeyAndNewPassphrase)
{
    Computer first;
    openSignIn(first, kFirst);
    // Only the server can say that the account has no key yet: then the passphrase is chosen, and typed twice.
    EXPECT_FALSE(first.find<QLineEdit>("signIn.again")->isVisible());
    first.click("signIn.signIn");
    ASSERT_EVENTUALLY(first.find<QLineEdit>("signIn.again")->isVisible());
    EXPECT_TRUE(first.problem().contains("no key yet")) << first.problem().toStdString();
    EXPECT_FALSE(QFile::exists(first.accountFile));
    EXPECT_EQ(first.find<PaperLabel>("signIn.strength")->text(), "Strength: strong");
    first.type("signIn.again", kFirst + "x");
    first.click("signIn.signIn");
    ASSERT_EVENTUALLY(first.problem() == "The two passphrases differ.");
    first.type("signIn.again", kFirst);
    QTest::keyClick(first.find<QLineEdit>("signIn.again"), Qt::Key_Return);

    ASSERT_EVENTUALLY(first.find<RecoveryKeyDialog>("recoveryKey"));
    EXPECT_FALSE(first.find<SignInDialog>("signIn") && first.find<SignInDialog>("signIn")->isVisible());
    ASSERT_TRUE(first.key());
    const QString recoveryKey = first.find<QLineEdit>("recoveryKey.key")->text();
    EXPECT_EQ(recoveryKey, first.key()->recoveryText());
    first.click("recoveryKey.copy");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), recoveryKey);
    QTest::keyClick(first.find<QLineEdit>("recoveryKey.key"), Qt::Key_Return);
    ASSERT_EVENTUALLY(!first.find<RecoveryKeyDialog>("recoveryKey"));
    EXPECT_TRUE(first.state().contains("Encrypted.")) << first.state().toStdString();

    // A new passphrase: only the server's box changes.
    const QByteArray before = [&] {
        QFile file(first.accountFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    first.click("settings.sync.passphrase");
    ASSERT_EVENTUALLY(first.find<PassphraseDialog>("passphrase"));
    first.type("passphrase.new", kSecond);
    first.type("passphrase.again", kSecond);
    first.click("passphrase.change");
    ASSERT_EVENTUALLY(!first.find<PassphraseDialog>("passphrase"));
    EXPECT_TRUE(first.state().contains("passphrase is changed")) << first.state().toStdString();
    QFile after(first.accountFile);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);

    // Another computer: the old passphrase opens nothing and writes nothing; the recovery key opens the account and
    // sets the passphrase typed with it.
    Computer second;
    openSignIn(second, kFirst);
    second.click("signIn.signIn");
    ASSERT_EVENTUALLY(second.problem().contains("the sync passphrase is wrong"));
    EXPECT_FALSE(QFile::exists(second.accountFile));
    second.click("signIn.useRecoveryKey");
    second.type("signIn.recoveryKey", recoveryKey);
    second.type("signIn.passphrase", "a third passphrase, recovered");
    second.type("signIn.again", "a third passphrase, recovered");
    second.click("signIn.signIn");
    ASSERT_EVENTUALLY(!second.find<SignInDialog>("signIn"));
    EXPECT_EQ(second.key(), first.key());
    EXPECT_FALSE(second.find<RecoveryKeyDialog>("recoveryKey")) << "the key was not made now";

    HttpCloud::Timing once;
    once.push = false;
    HttpCloud cloud(CloudAccount{server.url(), "anna", {}}, once);
    std::optional<CloudResult<std::optional<KeyBox>>> box;
    cloud.fetchKeyBox(CloudAccount{server.url(), "anna", token}, [&](const auto &result) { box = result; });
    ASSERT_EVENTUALLY(box);
    ASSERT_TRUE(box->ok() && box->value());
    EXPECT_EQ(box->value()->unwrap("a third passphrase, recovered"), first.key());
    EXPECT_EQ(box->value()->unwrap(kSecond), std::nullopt);
}

} // namespace
