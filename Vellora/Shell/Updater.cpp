#include "Vellora/Shell/Updater.h"

#include "Vellora/Shell/UpdateFeed.h"

#include <QNetworkReply>
#include <QSettings>

namespace {

using namespace std::chrono_literals;

// A feed is a few kilobytes; anything far larger is not one, and is not read to the end.
constexpr qint64 kMaxFeedBytes = 4 << 20;
constexpr auto kTransferTimeout = 30s;

} // namespace

Updater::Updater(Options options, Presenter present, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_present(std::move(present))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { check(false); });
}

bool Updater::canCheckForUpdates() const
{
    return hasFeed() && !m_checking;
}

void Updater::startUpdater()
{
    m_started = true;
    scheduleBackgroundCheck();
}

void Updater::check(bool userInitiated)
{
    if (!canCheckForUpdates())
        return;
    setChecking(true);
    QNetworkRequest request(m_options.feedUrl);
    request.setTransferTimeout(int(std::chrono::milliseconds(kTransferTimeout).count()));
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Vellora/%1").arg(m_options.currentVersion));
    QNetworkReply *reply = m_network.get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxFeedBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, userInitiated] {
        reply->deleteLater();
        finish(resultOf(*reply), userInitiated);
    });
}

UpdateCheckResult Updater::resultOf(QNetworkReply &reply) const
{
    UpdateCheckResult result;
    result.currentVersion = m_options.currentVersion;
    if (reply.error() != QNetworkReply::NoError) {
        result.error =
            reply.error() == QNetworkReply::OperationCanceledError
                ? QStringLiteral("The update feed could not be loaded: the answer was too large or too slow.")
                : QStringLiteral("The update feed could not be loaded: %1").arg(reply.errorString());
        return result;
    }
    const auto parsed = parseUpdateFeed(reply.readAll());
    if (const auto *error = std::get_if<QString>(&parsed)) {
        result.error = *error;
        return result;
    }
    const UpdateFeedItem &newest = newestItem(std::get<QList<UpdateFeedItem>>(parsed));
    result.latestVersion = newest.version;
    if (compareVersions(newest.version, m_options.currentVersion) > 0) {
        result.kind = UpdateCheckResult::Kind::updateAvailable;
        result.downloadPage = newest.downloadPage;
    } else {
        result.kind = UpdateCheckResult::Kind::upToDate;
    }
    return result;
}

void Updater::finish(const UpdateCheckResult &result, bool userInitiated)
{
    m_lastCheck = QDateTime::currentDateTimeUtc();
    if (m_options.defaults) {
        m_options.defaults->setValue(QLatin1String(kLastCheckKey), m_lastCheck.toString(Qt::ISODate));
        m_options.defaults->sync();
    }
    setChecking(false);
    scheduleBackgroundCheck();
    if (userInitiated || result.kind == UpdateCheckResult::Kind::updateAvailable)
        m_present(result);
}

void Updater::setChecking(bool checking)
{
    const bool before = canCheckForUpdates();
    m_checking = checking;
    if (canCheckForUpdates() != before)
        emit canCheckForUpdatesChanged(canCheckForUpdates());
}

void Updater::scheduleBackgroundCheck()
{
    if (!m_started || m_options.feedUrl.isEmpty())
        return;
    const QDateTime last = lastCheck();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    qint64 wait = qint64(m_options.startDelay.count());
    if (last.isValid() && last <= now)
        wait = std::max(wait, now.msecsTo(last.addMSecs(qint64(m_options.interval.count()))));
    m_timer.start(std::chrono::milliseconds(wait));
}

QDateTime Updater::lastCheck() const
{
    if (m_lastCheck.isValid() || !m_options.defaults)
        return m_lastCheck;
    return QDateTime::fromString(m_options.defaults->value(QLatin1String(kLastCheckKey)).toString(), Qt::ISODate);
}
