#include "Vellora/Sync/SyncStatus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr qint64 kMaximumFileSize = 64 * 1024;

} // namespace

QString SyncStatus::filePathFor(const QString &accountFile)
{
    return QFileInfo(accountFile).absolutePath() + QStringLiteral("/last-sync.json");
}

std::optional<SyncStatus> SyncStatus::readFile(const QString &path)
{
    QFile file(path);
    if (file.size() > kMaximumFileSize || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    SyncStatus status;
    status.time = QDateTime::fromString(object.value("time").toString(), Qt::ISODateWithMs);
    if (!status.time.isValid())
        return std::nullopt;
    status.server = object.value("server").toString();
    status.user = object.value("user").toString();
    if (object.value("error").isString())
        status.error = object.value("error").toString();
    const QDateTime since = QDateTime::fromString(object.value("disconnectedSince").toString(), Qt::ISODateWithMs);
    if (since.isValid())
        status.disconnectedSince = since;
    return status;
}

std::optional<QString> SyncStatus::writeFile(const QString &path) const
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot make the folder %1").arg(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QJsonObject object{{"time", time.toUTC().toString(Qt::ISODateWithMs)}, {"server", server}, {"user", user}};
    if (error)
        object.insert("error", *error);
    if (disconnectedSince)
        object.insert("disconnectedSince", disconnectedSince->toUTC().toString(Qt::ISODateWithMs));
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

QString SyncStatus::describe(const QDateTime &now) const
{
    if (disconnectedSince || error) {
        const QDateTime since = disconnectedSince.value_or(time).toLocalTime();
        QString line = QStringLiteral("Not connected since %1 — changes wait here").arg(since.toString("HH:mm"));
        if (error)
            line += QStringLiteral(" (%1)").arg(*error);
        return line;
    }
    return QStringLiteral("Synced with %1 at %2, %3").arg(user, serverText(server), timeAgo(time, now));
}

QString timeAgo(const QDateTime &then, const QDateTime &now)
{
    const qint64 seconds = std::max<qint64>(0, then.secsTo(now));
    const auto plural = [](qint64 count, const char *unit) {
        return QStringLiteral("%1 %2%3 ago").arg(count).arg(QLatin1String(unit)).arg(count == 1 ? "" : "s");
    };
    if (seconds < 60)
        return QStringLiteral("just now");
    if (seconds < 3600)
        return plural(seconds / 60, "minute");
    if (seconds < 86400)
        return plural(seconds / 3600, "hour");
    if (seconds < 2 * 86400)
        return QStringLiteral("yesterday");
    return plural(seconds / 86400, "day");
}

QString serverText(const QString &server)
{
    QString text = server.trimmed();
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}
