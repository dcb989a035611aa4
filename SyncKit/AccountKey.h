#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace SyncKit {

// The letters and digits a person reads and types for a key or a code: without 0, 1, I, L, O and U, no two that a
// hand or an eye can mix up.
inline constexpr char kReadableAlphabet[] = "ABCDEFGHJKMNPQRSTVWXYZ23456789";
static_assert(sizeof(kReadableAlphabet) - 1 == 30);

// The key that seals an account's records: 256 random bits, made by the account's first computer and known only
// to the person's computers. The server keeps it only wrapped by the sync passphrase (KeyBox).
class AccountKey
{
public:
    static constexpr qsizetype kSize = 32;

    // A new random key.
    static AccountKey generate();
    // Nothing unless exactly kSize bytes.
    static std::optional<AccountKey> fromBytes(const QByteArray &bytes);

    const QByteArray &bytes() const { return m_bytes; }

    // A short value that tells whether a key is the account's, without saying anything of the key: a keyed hash of
    // a fixed text.
    QByteArray check() const;

    // The key as a person can write it down: 56 letters and digits in groups of four, with a checksum, such as
    // "K7M2-Q…". Reading ignores case, spaces and dashes; the alphabet has no 0, O, 1, I or L to mix up.
    QString recoveryText() const;
    static std::optional<AccountKey> fromRecoveryText(const QString &text);

    bool operator==(const AccountKey &) const = default;

private:
    explicit AccountKey(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    QByteArray m_bytes;
};

// How hard a passphrase is to guess from its KeyBox: Argon2id's passes and memory. Stored with the box, so that a
// later version can raise it when it sets the next passphrase.
struct PassphraseCost
{
    quint64 operations = 0;
    quint64 memoryBytes = 0;

    // About half a second on a desktop of 2026. VELLORA_PASSPHRASE_COST=minimum makes it cheap, for tests only.
    static PassphraseCost standard();
    static PassphraseCost minimum();
    // What a box may ask for at most: a box asking for more is refused rather than exhausting the computer.
    bool isAcceptable() const;
    bool operator==(const PassphraseCost &) const = default;
};

// An account key sealed with a key derived from the sync passphrase (Argon2id with a random salt, then
// XChaCha20-Poly1305), as the server stores it. The passphrase is never stored nor sent.
struct KeyBox
{
    QByteArray salt;
    PassphraseCost cost;
    QByteArray sealedKey; // nonce, then the sealed key
    QByteArray keyCheck;  // AccountKey::check() of the key inside

    // Nothing when the passphrase cannot be hashed (too little memory).
    static std::optional<KeyBox> wrap(const AccountKey &key, const QString &passphrase,
                                      PassphraseCost cost = PassphraseCost::standard());
    // Nothing when the passphrase is not the one the box was made with, or the box is damaged.
    std::optional<AccountKey> unwrap(const QString &passphrase) const;

    // {"version":1,"algorithm":"argon2id13+xchacha20poly1305","salt":B64,"operations":N,"memoryBytes":N,
    //  "sealedKey":B64,"keyCheck":B64}
    QJsonObject toJson() const;
    // Nothing when malformed, of another algorithm, or asking for a cost beyond what is acceptable.
    static std::optional<KeyBox> fromJson(const QJsonValue &value);

    bool operator==(const KeyBox &) const = default;
};

// Whether a sync passphrase may be used, and a word on its strength for the person choosing it.
struct PassphraseStrength
{
    static constexpr int kMinimumLength = 10;
    bool acceptable = false;
    QString words; // "too short: at least 10 characters", "weak", "fair", "strong"

    static PassphraseStrength of(const QString &passphrase);
};

// libsodium, set up once; every function above calls it first. False when it cannot be (no random source).
bool cryptoReady();

} // namespace SyncKit
