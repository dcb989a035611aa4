#include "Cloud/ChangeListener.h"

#include <QSqlError>
#include <QUrl>
#include <QUrlQuery>

namespace Cloud {

namespace {

constexpr int kCheckIntervalMs = 2000;

} // namespace

ChangeListener::ChangeListener(QString address, QString password, QObject *parent)
    : QObject(parent), m_address(std::move(address)), m_password(std::move(password))
{
    m_check.setInterval(kCheckIntervalMs);
    connect(&m_check, &QTimer::timeout, this, &ChangeListener::check);
}

bool ChangeListener::start(QString &error)
{
    if (!listen(error))
        return false;
    m_check.start();
    return true;
}

bool ChangeListener::listen(QString &error)
{
    m_connection.reset();
    // Named, so that an administrator can tell this connection from those that answer requests.
    QUrl address(m_address);
    QUrlQuery query(address);
    query.addQueryItem(QStringLiteral("application_name"), QStringLiteral("vellora-cloud-listener"));
    address.setQuery(query);
    auto opened = SqlConnection::openPostgresql(address.toString(), m_password);
    if (auto *failure = std::get_if<QString>(&opened)) {
        error = *failure;
        return false;
    }
    m_connection = std::move(std::get<std::unique_ptr<SqlConnection>>(opened));
    // A connection opened again behind its back would have forgotten what it listens to.
    m_connection->setReopensItself(false);
    QSqlDriver *driver = m_connection->driver();
    if (!driver->subscribeToNotification(QLatin1String(SqlConnection::kChangeChannel))) {
        error = QStringLiteral("cannot listen for changes: ") + driver->lastError().text();
        m_connection.reset();
        return false;
    }
    connect(driver, &QSqlDriver::notification, this,
            [this](const QString &, QSqlDriver::NotificationSource, const QVariant &payload) {
                bool ok = false;
                const qint64 user = payload.toString().toLongLong(&ok);
                if (ok)
                    emit userChanged(user);
            });
    return true;
}

void ChangeListener::check()
{
    if (m_connection) {
        try {
            m_connection->value(QStringLiteral("SELECT 1"));
            return;
        } catch (const StoreFailure &failure) {
            qWarning("vellora-cloud: lost the connection that hears changes: %s", qPrintable(failure.message));
        }
    }
    QString error;
    if (!listen(error)) {
        qWarning("vellora-cloud: cannot hear changes yet: %s", qPrintable(error));
        return;
    }
    emit everyoneChanged();
}

} // namespace Cloud
