#pragma once

#include "SyncKit/Record.h"

#include <QString>

#include <memory>
#include <optional>

namespace SyncKit {

// A failure reported by a cloud database, for a whole request or for one record or zone of it.
class CloudError
{
public:
    enum class Code {
        networkFailure = 4,       // the request or its answer was lost; nothing is known about its effect
        serverError = 6,          // the server could not handle the request now; try again later
        notAuthenticated = 9,     // the account's token was refused
        unknownItem = 11,         // the record to update does not exist (any more) on the server
        invalidArguments = 12,    // the server could not read the request
        serverRecordChanged = 14, // the record changed on the server since the change tag that was sent
        operationCancelled = 20,  // the work was stopped on this device (the account changed under it); never sent
        resetRequired = 21,       // the server's data was restored: tokens and tags of before no longer hold
        quotaExceeded = 25,       // the account has no room for more records
        zoneNotFound = 26,        // the record's zone does not exist
        limitExceeded = 27,       // the request or one record is larger than the server accepts
    };

    CloudError(Code code, QString message = {}, std::optional<Record> serverRecord = std::nullopt);

    Code code() const { return m_code; }
    // The server's own words, when it gave any.
    const QString &message() const { return m_message; }
    // For serverRecordChanged: the record as the server holds it.
    const std::optional<Record> &serverRecord() const { return *m_serverRecord; }

    // One line for people: what went wrong, the server's words, and the code.
    QString description() const;

    // Whether the same request may succeed later without any change.
    bool isTransient() const { return m_code == Code::networkFailure || m_code == Code::serverError; }

    bool operator==(const CloudError &other) const;

private:
    Code m_code;
    QString m_message;
    // Shared: errors are copied around with events, the record they carry never changes.
    std::shared_ptr<const std::optional<Record>> m_serverRecord;
};

} // namespace SyncKit
