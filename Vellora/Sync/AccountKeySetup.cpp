#include "Vellora/Sync/AccountKeySetup.h"

#include "Vellora/Sync/AppSync.h"

#include <QtConcurrent/QtConcurrentRun>

using namespace SyncKit;

namespace {

HttpCloud::Timing oneShot()
{
    HttpCloud::Timing timing;
    timing.retries = 0;
    timing.transferTimeout = std::chrono::seconds(15);
    timing.push = false;
    return timing;
}

// Argon2id takes half a second and much memory: never on the caller's thread, which may be the window's.
template<typename Work, typename Then> void offThread(QObject *context, Work work, Then then)
{
    QtConcurrent::run(std::move(work)).then(context, std::move(then));
}

std::optional<QString> refusedPassphrase(const QString &passphrase)
{
    const PassphraseStrength strength = PassphraseStrength::of(passphrase);
    if (strength.acceptable)
        return std::nullopt;
    return QStringLiteral("the sync passphrase is %1").arg(strength.words);
}

const QString kNoMemory = QStringLiteral("the passphrase cannot be hashed on this computer (too little memory)");

AccountKeySetup::Outcome failed(const QString &why)
{
    return {why, {}};
}

} // namespace

AccountKeySetup::AccountKeySetup(CloudAccount account, QString accountFile, QObject *parent)
    : QObject(parent), m_account(std::move(account)), m_accountFile(std::move(accountFile)),
      m_cloud(CloudAccount{m_account.server, m_account.user, {}}, oneShot())
{
}

void AccountKeySetup::lookUp(std::function<void(const std::optional<QString> &)> done)
{
    AppSync::checkAccount(m_account, this, [this, done](const std::optional<QString> &reason) {
        if (reason)
            return done(reason);
        m_cloud.fetchKeyBox(m_account, [this, done](const CloudResult<std::optional<KeyBox>> &box) {
            if (!box.ok())
                return done(AppSync::describe(box.error()));
            m_box = box.value();
            m_lookedUp = true;
            done(std::nullopt);
        });
    });
}

void AccountKeySetup::signIn(const QString &passphrase, Done done)
{
    Q_ASSERT(m_lookedUp);
    if (!m_box)
        return makeFirstKey(passphrase, std::move(done));
    openKey(*m_box, passphrase,
            QStringLiteral("the sync passphrase is wrong: it does not open this account's key (if it is lost, sign "
                           "in with the recovery key)"),
            std::move(done));
}

void AccountKeySetup::makeFirstKey(const QString &passphrase, Done done)
{
    if (const auto why = refusedPassphrase(passphrase))
        return done(failed(*why));
    const AccountKey key = AccountKey::generate();
    offThread(
        this, [key, passphrase] { return KeyBox::wrap(key, passphrase); },
        [this, key, passphrase, done](const std::optional<KeyBox> &box) {
            if (!box)
                return done(failed(kNoMemory));
            m_cloud.storeKeyBox(m_account, {*box, std::nullopt}, [=, this](const CloudResult<KeyBox> &stored) {
                if (stored.ok())
                    return finish(key, key.recoveryText(), done);
                if (stored.error().code() != CloudError::Code::serverRecordChanged)
                    return done(failed(AppSync::describe(stored.error())));
                // Another computer gave the account its first key a moment ago: that key is the account's.
                m_cloud.fetchKeyBox(m_account, [=, this](const CloudResult<std::optional<KeyBox>> &current) {
                    if (!current.ok())
                        return done(failed(AppSync::describe(current.error())));
                    if (!current.value())
                        return done(failed(QStringLiteral("the account's key changed on the server meanwhile; "
                                                          "sign in again")));
                    m_box = current.value();
                    openKey(*m_box, passphrase,
                            QStringLiteral("another computer set this account's sync passphrase a moment ago, and "
                                           "this one is not it: sign in with that passphrase"),
                            done);
                });
            });
        });
}

void AccountKeySetup::openKey(const KeyBox &box, const QString &passphrase, const QString &ifWrong, Done done)
{
    offThread(
        this, [box, passphrase] { return box.unwrap(passphrase); },
        [this, ifWrong, done](const std::optional<AccountKey> &key) {
            if (!key)
                return done(failed(ifWrong));
            finish(*key, {}, done);
        });
}

void AccountKeySetup::recover(const QString &recoveryText, const QString &newPassphrase, Done done)
{
    Q_ASSERT(m_lookedUp);
    if (!m_box)
        return done(failed(QStringLiteral("this account has no key yet: sign in with a new sync passphrase instead")));
    const auto key = AccountKey::fromRecoveryText(recoveryText);
    if (!key)
        return done(failed(QStringLiteral("that is not a recovery key: a letter or digit is wrong or missing")));
    if (key->check() != m_box->keyCheck)
        return done(failed(QStringLiteral("that recovery key is not this account's")));
    replaceBox(*key, newPassphrase, [this, key, done](const Outcome &outcome) {
        if (outcome.error)
            return done(outcome);
        finish(*key, {}, done);
    });
}

void AccountKeySetup::changePassphrase(const QString &newPassphrase, Done done)
{
    if (!m_account.key)
        return done(failed(QStringLiteral("this computer does not hold the account's key: sign in with the sync "
                                          "passphrase or the recovery key first")));
    m_cloud.fetchKeyBox(m_account, [this, newPassphrase, done](const CloudResult<std::optional<KeyBox>> &box) {
        if (!box.ok())
            return done(failed(AppSync::describe(box.error())));
        if (!box.value() || box.value()->keyCheck != m_account.key->check())
            return done(failed(QStringLiteral("the server holds another key for this account than this computer: "
                                              "sign in again")));
        m_box = box.value();
        replaceBox(*m_account.key, newPassphrase, done);
    });
}

void AccountKeySetup::replaceBox(const AccountKey &key, const QString &newPassphrase, Done done)
{
    if (const auto why = refusedPassphrase(newPassphrase))
        return done(failed(*why));
    const QByteArray replaces = m_box->salt;
    offThread(
        this, [key, newPassphrase] { return KeyBox::wrap(key, newPassphrase); },
        [this, replaces, done](const std::optional<KeyBox> &box) {
            if (!box)
                return done(failed(kNoMemory));
            m_cloud.storeKeyBox(m_account, {*box, replaces}, [done](const CloudResult<KeyBox> &stored) {
                if (stored.ok())
                    return done({});
                if (stored.error().code() == CloudError::Code::serverRecordChanged)
                    return done(failed(QStringLiteral("the sync passphrase was changed on another computer a moment "
                                                      "ago; try again")));
                done(failed(AppSync::describe(stored.error())));
            });
        });
}

void AccountKeySetup::finish(const AccountKey &key, const QString &recoveryKey, const Done &done)
{
    CloudAccount account = m_account;
    account.key = key;
    if (!account.writeFile(m_accountFile))
        return done(failed(QStringLiteral("the account file %1 cannot be written").arg(m_accountFile)));
    done({std::nullopt, recoveryKey});
}
