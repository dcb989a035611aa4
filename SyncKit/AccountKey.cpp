#include "SyncKit/AccountKey.h"

#include <QJsonValue>
#include <QSet>

#include <algorithm>
#include <cstring>

#include <sodium.h>

namespace SyncKit {

namespace {

constexpr auto kAlgorithm = "argon2id13+xchacha20poly1305";
constexpr int kBoxVersion = 1;
// Binds the sealed key to its purpose: bytes sealed for a record never open as a key.
constexpr QByteArrayView kKeyBoxData = "vellora.accountKey.v1";
constexpr QByteArrayView kCheckText = "vellora.keyCheck.v1";
constexpr qsizetype kCheckSize = 16;
constexpr qsizetype kChecksumSize = 2;
constexpr const char *kAlphabet = kReadableAlphabet;

// No cost beyond these is asked of a computer by a box it fetched.
constexpr quint64 kMaximumOperations = 20;
constexpr quint64 kMaximumMemory = quint64(1) << 30;

QByteArray checksum(const QByteArray &bytes)
{
    QByteArray sum(kChecksumSize, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(sum.data()), size_t(sum.size()),
                       reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()), nullptr, 0);
    return sum;
}

std::optional<QByteArray> derivedKey(const QString &passphrase, const QByteArray &salt, PassphraseCost cost)
{
    if (salt.size() != crypto_pwhash_SALTBYTES || !cost.isAcceptable())
        return std::nullopt;
    const QByteArray secret = passphrase.toUtf8();
    QByteArray derived(crypto_aead_xchacha20poly1305_ietf_KEYBYTES, Qt::Uninitialized);
    if (crypto_pwhash(reinterpret_cast<unsigned char *>(derived.data()), size_t(derived.size()), secret.constData(),
                      size_t(secret.size()), reinterpret_cast<const unsigned char *>(salt.constData()),
                      cost.operations, size_t(cost.memoryBytes), crypto_pwhash_ALG_ARGON2ID13) != 0)
        return std::nullopt;
    return derived;
}

std::optional<QByteArray> base64(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? std::optional(*decoded) : std::nullopt;
}

QString base64Text(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

bool cryptoReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

AccountKey AccountKey::generate()
{
    cryptoReady();
    QByteArray bytes(kSize, Qt::Uninitialized);
    randombytes_buf(bytes.data(), size_t(bytes.size()));
    return AccountKey(bytes);
}

std::optional<AccountKey> AccountKey::fromBytes(const QByteArray &bytes)
{
    if (bytes.size() != kSize)
        return std::nullopt;
    return AccountKey(bytes);
}

QByteArray AccountKey::check() const
{
    QByteArray check(kCheckSize, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(check.data()), size_t(check.size()),
                       reinterpret_cast<const unsigned char *>(kCheckText.data()), size_t(kCheckText.size()),
                       reinterpret_cast<const unsigned char *>(m_bytes.constData()), size_t(m_bytes.size()));
    return check;
}

QString AccountKey::recoveryText() const
{
    // Base 30, most significant digit first, over the key and its checksum.
    const QByteArray bytes = m_bytes + checksum(m_bytes);
    QList<quint8> number(bytes.begin(), bytes.end());
    QString digits;
    auto isZero = [&] { return std::all_of(number.begin(), number.end(), [](quint8 b) { return b == 0; }); };
    // A fixed length, so that every key reads back: 34 bytes need 56 digits of base 30.
    constexpr int kDigits = 56;
    for (int i = 0; i < kDigits; ++i) {
        unsigned remainder = 0;
        for (quint8 &byte : number) {
            const unsigned value = (remainder << 8) | byte;
            byte = quint8(value / 30);
            remainder = value % 30;
        }
        digits.prepend(QLatin1Char(kAlphabet[remainder]));
    }
    Q_ASSERT(isZero());
    QString text;
    for (int i = 0; i < digits.size(); i += 4) {
        if (i > 0)
            text += QLatin1Char('-');
        text += digits.mid(i, 4);
    }
    return text;
}

std::optional<AccountKey> AccountKey::fromRecoveryText(const QString &text)
{
    QByteArray number(kSize + kChecksumSize, 0);
    int digits = 0;
    for (QChar c : text.toUpper()) {
        if (c == QLatin1Char('-') || c.isSpace())
            continue;
        const char *found = c.unicode() > 0 && c.unicode() < 128 ? std::strchr(kAlphabet, char(c.unicode())) : nullptr;
        if (!found)
            return std::nullopt;
        // number = number * 30 + digit; an overflow means a text longer than any key's.
        unsigned carry = unsigned(found - kAlphabet);
        for (qsizetype i = number.size() - 1; i >= 0; --i) {
            const unsigned value = quint8(number[i]) * 30u + carry;
            number[i] = char(value & 0xff);
            carry = value >> 8;
        }
        if (carry != 0)
            return std::nullopt;
        ++digits;
    }
    if (digits != 56)
        return std::nullopt;
    const QByteArray key = number.left(kSize);
    if (checksum(key) != number.mid(kSize))
        return std::nullopt;
    return AccountKey(key);
}

PassphraseCost PassphraseCost::standard()
{
    if (qgetenv("VELLORA_PASSPHRASE_COST") == "minimum")
        return minimum();
    return {3, quint64(256) << 20};
}

PassphraseCost PassphraseCost::minimum()
{
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

bool PassphraseCost::isAcceptable() const
{
    return operations >= crypto_pwhash_OPSLIMIT_MIN && operations <= kMaximumOperations &&
           memoryBytes >= crypto_pwhash_MEMLIMIT_MIN && memoryBytes <= kMaximumMemory;
}

std::optional<KeyBox> KeyBox::wrap(const AccountKey &key, const QString &passphrase, PassphraseCost cost)
{
    cryptoReady();
    KeyBox box;
    box.cost = cost;
    box.salt = QByteArray(crypto_pwhash_SALTBYTES, Qt::Uninitialized);
    randombytes_buf(box.salt.data(), size_t(box.salt.size()));
    const auto derived = derivedKey(passphrase, box.salt, cost);
    if (!derived)
        return std::nullopt;
    QByteArray nonce(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES, Qt::Uninitialized);
    randombytes_buf(nonce.data(), size_t(nonce.size()));
    QByteArray sealed(key.bytes().size() + crypto_aead_xchacha20poly1305_ietf_ABYTES, Qt::Uninitialized);
    unsigned long long sealedSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        reinterpret_cast<unsigned char *>(sealed.data()), &sealedSize,
        reinterpret_cast<const unsigned char *>(key.bytes().constData()), size_t(key.bytes().size()),
        reinterpret_cast<const unsigned char *>(kKeyBoxData.data()), size_t(kKeyBoxData.size()), nullptr,
        reinterpret_cast<const unsigned char *>(nonce.constData()),
        reinterpret_cast<const unsigned char *>(derived->constData()));
    box.sealedKey = nonce + sealed.left(qsizetype(sealedSize));
    box.keyCheck = key.check();
    return box;
}

std::optional<AccountKey> KeyBox::unwrap(const QString &passphrase) const
{
    const qsizetype nonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
    if (sealedKey.size() != nonceSize + AccountKey::kSize + qsizetype(crypto_aead_xchacha20poly1305_ietf_ABYTES))
        return std::nullopt;
    cryptoReady();
    const auto derived = derivedKey(passphrase, salt, cost);
    if (!derived)
        return std::nullopt;
    QByteArray key(AccountKey::kSize, Qt::Uninitialized);
    unsigned long long keySize = 0;
    const QByteArray sealed = sealedKey.mid(nonceSize);
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            reinterpret_cast<unsigned char *>(key.data()), &keySize, nullptr,
            reinterpret_cast<const unsigned char *>(sealed.constData()), size_t(sealed.size()),
            reinterpret_cast<const unsigned char *>(kKeyBoxData.data()), size_t(kKeyBoxData.size()),
            reinterpret_cast<const unsigned char *>(sealedKey.constData()),
            reinterpret_cast<const unsigned char *>(derived->constData())) != 0)
        return std::nullopt;
    auto opened = AccountKey::fromBytes(key.left(qsizetype(keySize)));
    // A box whose check does not match its key was put together from two boxes.
    if (!opened || opened->check() != keyCheck)
        return std::nullopt;
    return opened;
}

QJsonObject KeyBox::toJson() const
{
    return {{"version", kBoxVersion},
            {"algorithm", QLatin1String(kAlgorithm)},
            {"salt", base64Text(salt)},
            {"operations", qint64(cost.operations)},
            {"memoryBytes", qint64(cost.memoryBytes)},
            {"sealedKey", base64Text(sealedKey)},
            {"keyCheck", base64Text(keyCheck)}};
}

std::optional<KeyBox> KeyBox::fromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    if (object.value("version").toInt() != kBoxVersion || object.value("algorithm").toString() != kAlgorithm)
        return std::nullopt;
    const auto salt = base64(object.value("salt"));
    const auto sealedKey = base64(object.value("sealedKey"));
    const auto keyCheck = base64(object.value("keyCheck"));
    const QJsonValue operations = object.value("operations");
    const QJsonValue memory = object.value("memoryBytes");
    if (!salt || !sealedKey || !keyCheck || !operations.isDouble() || !memory.isDouble())
        return std::nullopt;
    KeyBox box{*salt, {quint64(operations.toInteger()), quint64(memory.toInteger())}, *sealedKey, *keyCheck};
    if (box.salt.size() != crypto_pwhash_SALTBYTES || box.keyCheck.size() != kCheckSize || !box.cost.isAcceptable() ||
        operations.toInteger() < 0 || memory.toInteger() < 0)
        return std::nullopt;
    return box;
}

PassphraseStrength PassphraseStrength::of(const QString &passphrase)
{
    const qsizetype length = passphrase.size();
    if (length < kMinimumLength)
        return {false, QStringLiteral("too short: at least %1 characters").arg(kMinimumLength)};
    // Kinds of characters and distinct characters: a rough word, not a promise.
    int kinds = 0;
    kinds += std::any_of(passphrase.begin(), passphrase.end(), [](QChar c) { return c.isLower(); });
    kinds += std::any_of(passphrase.begin(), passphrase.end(), [](QChar c) { return c.isUpper(); });
    kinds += std::any_of(passphrase.begin(), passphrase.end(), [](QChar c) { return c.isDigit(); });
    kinds += std::any_of(passphrase.begin(), passphrase.end(), [](QChar c) { return !c.isLetterOrNumber(); });
    QSet<QChar> distinct(passphrase.begin(), passphrase.end());
    if (distinct.size() < 5)
        return {true, QStringLiteral("weak: it repeats a few characters")};
    if (length >= 20 || (length >= 14 && kinds >= 3))
        return {true, QStringLiteral("strong")};
    if (length >= 12 || kinds >= 3)
        return {true, QStringLiteral("fair")};
    return {true, QStringLiteral("weak: a longer passphrase, or a few words, is harder to guess")};
}

} // namespace SyncKit
