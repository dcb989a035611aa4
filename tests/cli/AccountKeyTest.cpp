#include "SyncKit/CloudAccount.h"
#include "Vellora/Sync/AccountKeySetup.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/cli/Computer.h"

#include <QRegularExpression>

// The sync passphrase at the command line, against a real vellora-cloud on 127.0.0.1: the account key made at the
// first sign-in, opened by the next computer, recovered with the recovery key, and given a new passphrase while
// another computer goes on syncing.

namespace {

const QString kFirst = QStringLiteral("the first passphrase");
const QString kSecond = QStringLiteral("a second passphrase, later");

class AccountKeyTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << server.error().toStdString(); }

    Outcome signIn(Computer &computer, const QString &passphrase, const QStringList &more = {})
    {
        return computer.signIn(server.url(), "anna", token, passphrase, more);
    }

    static std::optional<SyncKit::AccountKey> keyOf(const Computer &computer)
    {
        const auto account = SyncKit::CloudAccount::readFile(computer.accountFile());
        return account ? account->key : std::nullopt;
    }

    static QString recoveryKeyIn(const QString &output)
    {
        return QRegularExpression(QStringLiteral("Recovery key: ([A-Z0-9-]+)\n")).match(output).captured(1);
    }

    CloudServerProcess server;
    QString token = server.addUser("anna");
};

// The first sign-in makes the key and shows its recovery key once; the next computer needs the same passphrase, and
// one that does not open the key leaves its account file as it was. The recovery key replaces a lost passphrase:
// the old one opens nothing any more.
TEST_F(AccountKeyTest, RecoveryKeyReplacesAForgottenPassphrase)
{
    Computer first, second, third;
    const Outcome made = signIn(first, kFirst);
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const QString recoveryKey = recoveryKeyIn(made.out);
    ASSERT_FALSE(recoveryKey.isEmpty()) << made.out.toStdString();
    ASSERT_TRUE(keyOf(first));
    EXPECT_EQ(SyncKit::AccountKey::fromRecoveryText(recoveryKey), keyOf(first));
    EXPECT_TRUE(first.json({"account", "status"}).value("encrypted").toBool());
    EXPECT_EQ(recoveryKeyIn(first.run({"account", "recovery-key"}).out), recoveryKey);

    ASSERT_EQ(signIn(second, kFirst).exitCode, 0);
    EXPECT_EQ(keyOf(second), keyOf(first));
    EXPECT_TRUE(recoveryKeyIn(signIn(second, kFirst).out).isEmpty()) << "shown only when made";
    const QByteArray secondAccount = second.accountBytes();
    const Outcome wrong = signIn(second, QStringLiteral("not the passphrase at all"));
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.contains("the sync passphrase is wrong")) << wrong.err.toStdString();
    EXPECT_EQ(second.accountBytes(), secondAccount);

    // A key that is not the account's, or is mistyped, opens nothing and changes nothing.
    for (const QString &notIt : {SyncKit::AccountKey::generate().recoveryText(), recoveryKey.chopped(2) + "ZZ"}) {
        const Outcome refused = signIn(third, kSecond, {"--recovery-key-file", third.secretFile(notIt)});
        EXPECT_EQ(refused.exitCode, 1) << refused.out.toStdString();
        EXPECT_FALSE(QFile::exists(third.accountFile()));
    }
    const Outcome recovered = signIn(third, kSecond, {"--recovery-key-file", third.secretFile(recoveryKey.toLower())});
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err.toStdString();
    EXPECT_EQ(keyOf(third), keyOf(first));
    EXPECT_TRUE(recoveryKeyIn(recovered.out).isEmpty());

    Computer fourth;
    EXPECT_EQ(signIn(fourth, kFirst).exitCode, 1);
    EXPECT_FALSE(QFile::exists(fourth.accountFile()));
    ASSERT_EQ(signIn(fourth, kSecond).exitCode, 0);
    EXPECT_EQ(keyOf(fourth), keyOf(first));
}

// A new passphrase set on one computer changes only the box on the server: the other computer's account file stays
// as it was and its tasks still come and go; a new computer signs in with the new passphrase only.
TEST_F(AccountKeyTest, PassphraseChangeLeavesTheOtherComputerSyncing)
{
    Computer changer, other;
    ASSERT_EQ(signIn(changer, kFirst).exitCode, 0);
    ASSERT_EQ(signIn(other, kFirst).exitCode, 0);
    ASSERT_EQ(other.run({"add", "Written before the change"}).exitCode, 0);
    ASSERT_EQ(other.run({"sync"}).exitCode, 0);
    const QByteArray otherAccount = other.accountBytes();

    const Outcome tooShort =
        changer.run({"account", "passphrase", "--passphrase-file", changer.secretFile("short")});
    EXPECT_EQ(tooShort.exitCode, 1);
    EXPECT_TRUE(tooShort.err.contains("too short")) << tooShort.err.toStdString();
    const Outcome changed = changer.run({"account", "passphrase", "--passphrase-file", changer.secretFile(kSecond)});
    ASSERT_EQ(changed.exitCode, 0) << changed.err.toStdString();

    EXPECT_EQ(other.accountBytes(), otherAccount);
    ASSERT_EQ(other.run({"add", "Written after the change"}).exitCode, 0);
    const Outcome synced = other.run({"sync"});
    EXPECT_EQ(synced.exitCode, 0) << synced.err.toStdString();
    ASSERT_EQ(changer.run({"sync"}).exitCode, 0);
    EXPECT_EQ(changer.titles(), QStringList({"Written after the change", "Written before the change"}));

    Computer newcomer;
    EXPECT_EQ(signIn(newcomer, kFirst).exitCode, 1);
    EXPECT_EQ(signIn(newcomer, kSecond).exitCode, 0);
    EXPECT_EQ(keyOf(newcomer), keyOf(other));
}

// Two computers giving a new account its first key at the same moment (both looked and found none): one key wins on
// the server and both end with it, the one that lost opening the winner's box with the same passphrase. With
// another passphrase, the one that lost says so and writes nothing.
TEST_F(AccountKeyTest, TwoFirstSignInsAtOnceEndWithOneKey)
{
    qputenv("VELLORA_PASSPHRASE_COST", "minimum");
    QTemporaryDir folder;
    for (const bool samePassphrase : {true, false}) {
        const QString user = samePassphrase ? QStringLiteral("anna") : QStringLiteral("bob");
        const SyncKit::CloudAccount account{server.url(), user, samePassphrase ? token : server.addUser(user)};
        std::vector<std::unique_ptr<AccountKeySetup>> setups;
        std::vector<std::optional<AccountKeySetup::Outcome>> outcomes(2);
        for (int i = 0; i < 2; ++i) {
            setups.push_back(std::make_unique<AccountKeySetup>(account, folder.filePath(user + QString::number(i))));
            std::optional<std::optional<QString>> looked;
            setups.back()->lookUp([&](const std::optional<QString> &reason) { looked = reason; });
            ASSERT_TRUE(waitFor([&] { return looked.has_value(); }, 30000));
            ASSERT_EQ(*looked, std::nullopt);
            ASSERT_FALSE(setups.back()->accountHasKey());
        }
        // The same passphrase at once, whichever wins; another one once the first is stored.
        for (int i = 0; i < 2; ++i) {
            setups[i]->signIn(i == 0 || samePassphrase ? kFirst : kSecond,
                              [&outcomes, i](const AccountKeySetup::Outcome &outcome) { outcomes[i] = outcome; });
            if (!samePassphrase) {
                ASSERT_TRUE(waitFor([&] { return outcomes[i].has_value(); }, 30000));
            }
        }
        ASSERT_TRUE(waitFor([&] { return outcomes[0] && outcomes[1]; }, 30000));
        const auto keyIn = [&](int i) {
            const auto written = SyncKit::CloudAccount::readFile(folder.filePath(user + QString::number(i)));
            return written ? written->key : std::nullopt;
        };
        const int winner = outcomes[0]->recoveryKey.isEmpty() ? 1 : 0;
        ASSERT_EQ(outcomes[winner]->error, std::nullopt);
        ASSERT_TRUE(keyIn(winner));
        EXPECT_EQ(SyncKit::AccountKey::fromRecoveryText(outcomes[winner]->recoveryKey), keyIn(winner));
        if (samePassphrase) {
            EXPECT_EQ(outcomes[1 - winner]->error, std::nullopt);
            EXPECT_EQ(keyIn(1 - winner), keyIn(winner));
            EXPECT_TRUE(outcomes[1 - winner]->recoveryKey.isEmpty()) << "its own key was never the account's";
        } else {
            EXPECT_EQ(winner, 0);
            EXPECT_TRUE(outcomes[1]->error.value_or("").contains("another computer set"))
                << outcomes[1]->error.value_or("").toStdString();
            EXPECT_FALSE(QFile::exists(folder.filePath(user + "1")));
        }
    }
}

} // namespace
