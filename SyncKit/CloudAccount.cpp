#include "SyncKit/CloudAccount.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace SyncKit {

namespace {

// Larger files are not account files; do not read them whole.
constexpr qint64 kMaximumFileSize = 64 * 1024;

} // namespace

QString CloudAccount::defaultFilePath()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/vellora-cloud/account.json");
}

std::optional<CloudAccount> CloudAccount::readFile(const QString &path)
{
    QFile file(path);
    if (file.size() > kMaximumFileSize || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonObject object = document.object();
    const QString server = object.value("server").toString();
    const QString user = object.value("user").toString();
    const QString token = object.value("token").toString();
    if (server.isEmpty() || user.isEmpty() || token.isEmpty())
        return std::nullopt;
    CloudAccount account{server, user, token, std::nullopt};
    if (object.contains("key")) {
        // A damaged key is no key: syncing on without it would send plain records into a sealed account.
        const auto bytes = QByteArray::fromBase64Encoding(object.value("key").toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
        account.key = bytes ? AccountKey::fromBytes(*bytes) : std::nullopt;
        if (!account.key)
            return std::nullopt;
    }
    return account;
}

bool CloudAccount::writeFile(const QString &path) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The token is a secret.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QJsonObject object{{"server", server}, {"user", user}, {"token", token}};
    if (key)
        object.insert("key", QString::fromLatin1(key->bytes().toBase64()));
    file.write(QJsonDocument(object).toJson(QJsonDocument::Indented));
    return file.commit();
}

} // namespace SyncKit
