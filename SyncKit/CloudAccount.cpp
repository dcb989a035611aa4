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
    return CloudAccount{server, user, token};
}

bool CloudAccount::writeFile(const QString &path) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The token is a secret.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QJsonObject object{{"server", server}, {"user", user}, {"token", token}};
    file.write(QJsonDocument(object).toJson(QJsonDocument::Indented));
    return file.commit();
}

} // namespace SyncKit
