#include "SyncKit/RecordSeal.h"

#include <QJsonDocument>

#include <sodium.h>

namespace SyncKit::RecordSeal {

namespace {

constexpr char kVersion = 1;
constexpr qsizetype kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr qsizetype kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;

// What a sealed value is bound to. Each part is length-prefixed, so no two records share one.
QByteArray associatedData(const Record &record, Kind kind)
{
    QByteArray data("vellora.record.v1");
    const auto add = [&](const QString &text) {
        const QByteArray bytes = text.toUtf8();
        data += QByteArray::number(bytes.size()) + ':' + bytes;
    };
    add(kind == Kind::save ? QStringLiteral("save") : QStringLiteral("tombstone"));
    add(record.recordType());
    add(record.recordID().zoneID.ownerName);
    add(record.recordID().zoneID.zoneName);
    add(record.recordID().recordName);
    return data;
}

const unsigned char *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.constData());
}

} // namespace

Record seal(const Record &record, const AccountKey &key, Kind kind)
{
    cryptoReady();
    const QByteArray plain = QJsonDocument(record.fieldsJson()).toJson(QJsonDocument::Compact);
    const QByteArray data = associatedData(record, kind);
    QByteArray nonce(kNonceSize, Qt::Uninitialized);
    randombytes_buf(nonce.data(), size_t(nonce.size()));
    QByteArray sealed(plain.size() + kTagSize, Qt::Uninitialized);
    unsigned long long sealedSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(reinterpret_cast<unsigned char *>(sealed.data()), &sealedSize,
                                               bytesOf(plain), size_t(plain.size()), bytesOf(data), size_t(data.size()),
                                               nullptr, bytesOf(nonce), bytesOf(key.bytes()));
    sealed.truncate(qsizetype(sealedSize));

    Record result(record.recordType(), record.recordID());
    result.setSystemFields(record.recordChangeTag(), record.creationDate(), record.modificationDate());
    result.setValue(kSealedField, QByteArray(1, kVersion) + nonce + sealed);
    return result;
}

std::optional<Record> open(const Record &record, const AccountKey &key, Kind kind)
{
    if (!isSealed(record) || !cryptoReady())
        return std::nullopt;
    const QByteArray value = *record.bytesValue(kSealedField);
    if (value.size() < 1 + kNonceSize + kTagSize || value.at(0) != kVersion)
        return std::nullopt;
    const QByteArray nonce = value.mid(1, kNonceSize);
    const QByteArray sealed = value.mid(1 + kNonceSize);
    const QByteArray data = associatedData(record, kind);
    QByteArray plain(sealed.size() - kTagSize, Qt::Uninitialized);
    unsigned long long plainSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char *>(plain.data()), &plainSize,
                                                   nullptr, bytesOf(sealed), size_t(sealed.size()), bytesOf(data),
                                                   size_t(data.size()), bytesOf(nonce), bytesOf(key.bytes())) != 0)
        return std::nullopt;
    plain.truncate(qsizetype(plainSize));
    QJsonParseError error;
    const QJsonDocument fields = QJsonDocument::fromJson(plain, &error);
    if (error.error != QJsonParseError::NoError || !fields.isObject())
        return std::nullopt;
    // The header from the server, the fields from the sealed value.
    Record opened = record;
    if (!opened.setFieldsFromJson(fields.object()))
        return std::nullopt;
    return opened;
}

bool isSealed(const Record &record)
{
    return record.fields().size() == 1 && record.bytesValue(kSealedField).has_value();
}

bool isSealedFields(const QJsonObject &fields)
{
    if (fields.size() != 1)
        return false;
    const QJsonObject value = fields.value(kSealedField).toObject();
    return value.value("type").toString() == QLatin1String("bytes") && value.value("value").isString();
}

} // namespace SyncKit::RecordSeal
