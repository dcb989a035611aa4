#include "SyncKit/CloudError.h"

namespace SyncKit {

namespace {

QString summary(CloudError::Code code)
{
    switch (code) {
    case CloudError::Code::networkFailure:
        return QStringLiteral("The cloud could not be reached");
    case CloudError::Code::serverError:
        return QStringLiteral("The cloud server could not handle the request");
    case CloudError::Code::notAuthenticated:
        return QStringLiteral("The cloud account is not signed in or its sign-in has expired");
    case CloudError::Code::unknownItem:
        return QStringLiteral("The record does not exist in the cloud");
    case CloudError::Code::invalidArguments:
        return QStringLiteral("The cloud server could not read the request");
    case CloudError::Code::limitExceeded:
        return QStringLiteral("The request is larger than the cloud server accepts");
    case CloudError::Code::serverRecordChanged:
        return QStringLiteral("The record was changed in the cloud by another device");
    case CloudError::Code::operationCancelled:
        return QStringLiteral("The sync was stopped");
    case CloudError::Code::resetRequired:
        return QStringLiteral("The cloud's data was restored from a backup; this device sends what it holds again");
    case CloudError::Code::quotaExceeded:
        return QStringLiteral("The cloud account is out of storage space");
    case CloudError::Code::zoneNotFound:
        return QStringLiteral("The record zone does not exist in the cloud");
    }
    return QStringLiteral("The cloud reported an unknown error");
}

} // namespace

CloudError::CloudError(Code code, QString message, std::optional<Record> serverRecord)
    : m_code(code), m_message(std::move(message)),
      m_serverRecord(std::make_shared<const std::optional<Record>>(std::move(serverRecord)))
{
}

QString CloudError::description() const
{
    QString text = summary(m_code);
    if (!m_message.isEmpty())
        text += QStringLiteral(": ") + m_message;
    return text + QStringLiteral(" (cloud error %1)").arg(int(m_code));
}

bool CloudError::operator==(const CloudError &other) const
{
    return m_code == other.m_code && m_message == other.m_message && serverRecord() == other.serverRecord();
}

} // namespace SyncKit
