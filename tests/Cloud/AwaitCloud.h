#pragma once

// Waiting for clouds and sync engines in tests, whether they answer at once (in the process) or later (over a
// network), and reading a cloud as a device that starts from nothing would.

#include "SyncKit/CloudDatabase.h"
#include "SyncKit/SyncEngine.h"
#include "tests/WaitFor.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <ostream>

// Readable failures: texts as text rather than bytes.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// The answer of one call; nothing when none came in time.
template<typename T, typename Call> std::optional<SyncKit::CloudResult<T>> awaitAnswer(Call call, int timeoutMs = 30000)
{
    // Shared: an answer that comes after the wait gave up must find it alive.
    const auto out = std::make_shared<std::optional<SyncKit::CloudResult<T>>>();
    call([out](SyncKit::CloudResult<T> result) { *out = std::move(result); });
    waitFor([&] { return out->has_value(); }, timeoutMs);
    return *out;
}

// The live records of a zone by name, read page by page from the beginning (none when the zone does not exist);
// nothing when the cloud did not answer.
inline std::optional<std::map<QString, SyncKit::Record>>
zoneContents(SyncKit::CloudDatabase &cloud, const SyncKit::CloudAccount &account, const SyncKit::RecordZoneID &zone)
{
    std::map<QString, SyncKit::Record> records;
    QByteArray token;
    for (;;) {
        const auto page = awaitAnswer<SyncKit::ZoneChanges>(
            [&](auto done) { cloud.fetchZoneChanges(account, zone, token, 0, std::move(done)); });
        if (!page)
            return std::nullopt;
        if (!page->ok())
            return page->error().code() == SyncKit::CloudError::Code::zoneNotFound
                       ? std::optional(std::map<QString, SyncKit::Record>{})
                       : std::nullopt;
        // Later pages may carry the tombstones of records an earlier page had.
        for (const SyncKit::Record &record : page->value().modifications)
            records.insert_or_assign(record.recordID().recordName, record);
        for (const SyncKit::RecordDeletion &deletion : page->value().deletions)
            records.erase(deletion.recordID.recordName);
        if (!page->value().moreComing)
            return records;
        token = page->value().changeToken;
    }
}

// Runs a piece of the engine's work (a send, and a fetch when asked) to its end; the words of its first failure,
// or none.
inline std::optional<QString> syncNow(SyncKit::SyncEngine &engine, bool fetch = true)
{
    const auto result = std::make_shared<std::optional<std::optional<SyncKit::CloudError>>>();
    const auto finished = [result](const std::optional<SyncKit::CloudError> &error) { *result = error; };
    if (fetch)
        engine.syncChanges(finished);
    else
        engine.sendChanges({}, finished);
    if (!waitFor([&] { return result->has_value(); }, 60000)) {
        ADD_FAILURE() << "the engine's work did not end within a minute";
        return QStringLiteral("no end");
    }
    return **result ? std::optional((**result)->description()) : std::nullopt;
}
