#include "Vellora/Platform/JsonSettingsFormat.h"

#include "Vellora/Files/AtomicFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace JsonSettingsFormat {

namespace {

constexpr auto kAppFolder = "app.vellora.Vellora";
constexpr auto kFileName = "defaults.json";

// A file that is not a JSON object would be overwritten by the next write; it is moved out of the way first,
// so that a hand-edited file with a typo is kept for its owner.
void setAside(QIODevice &device)
{
    const auto *file = qobject_cast<QFile *>(&device);
    if (!file || file->fileName().isEmpty())
        return;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = file->fileName() + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = file->fileName() + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    QFile::rename(file->fileName(), target);
}

QVariant toVariant(const QJsonValue &value)
{
    // Whole numbers come back as integers, the way they were written.
    if (value.isDouble()) {
        const double number = value.toDouble();
        const auto whole = qint64(number);
        if (double(whole) == number)
            return QVariant::fromValue<qlonglong>(whole);
        return number;
    }
    return value.toVariant();
}

bool readJson(QIODevice &device, QSettings::SettingsMap &map)
{
    const QByteArray bytes = device.readAll();
    if (bytes.trimmed().isEmpty())
        return true;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        setAside(device);
        return false;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        map.insert(it.key(), toVariant(it.value()));
    return true;
}

bool writeJson(QIODevice &device, const QSettings::SettingsMap &map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    return device.write(bytes) == bytes.size();
}

} // namespace

QSettings::Format format()
{
    static const QSettings::Format registered = QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson);
    return registered;
}

QString defaultsPath()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QLatin1Char('/') + QLatin1String(kAppFolder) + QLatin1Char('/') + QLatin1String(kFileName);
}

std::unique_ptr<QSettings> openDefaults()
{
    return open(defaultsPath());
}

std::unique_ptr<QSettings> open(const QString &path)
{
    // A pipe or a device in the file's place would hang the first read, or feed it for ever.
    if (const auto refused = AtomicFile::checkRegularOrMissing(path)) {
        qWarning("vellora: the settings file %s is %s; settings are kept for this run only",
                 qPrintable(path), qPrintable(refused->reason));
        return std::make_unique<QSettings>(QString(), format());
    }
    return std::make_unique<QSettings>(path, format());
}

} // namespace JsonSettingsFormat
