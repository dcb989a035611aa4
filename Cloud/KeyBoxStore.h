#pragma once

#include "Cloud/SqlConnection.h"
#include "SyncKit/CloudProtocol.h"

namespace Cloud {

// Each user's wrapped account key, stored as the JSON the device sent and never read beyond its salt and key check.
// A user with a box is sealed: the record store then refuses records whose fields are not one sealed value.
class KeyBoxStore
{
public:
    enum class Stored { stored, changed, otherKey };

    explicit KeyBoxStore(SqlConnection &connection) : m_connection(connection) {}

    // Nothing when the user has no box yet.
    std::variant<std::optional<SyncKit::KeyBox>, StoreFailure> box(qint64 user);
    // Stores the box when the request names the user's current one (none for the first) and, replacing one, holds
    // the same key. Decided and written under the user's row lock, so two computers setting the first box at once
    // (on one server or two) get one stored and one told that it changed.
    std::variant<Stored, StoreFailure> store(qint64 user, const SyncKit::CloudProtocol::KeyBoxRequest &request);
    // Whether the user has a box; for use inside a transaction.
    bool isSealed(qint64 user);
    // Forgets the user's box, so that the next computer to sign in makes a new key; whether there was one.
    std::variant<bool, StoreFailure> remove(qint64 user);

private:
    std::optional<SyncKit::KeyBox> boxIn(qint64 user);

    SqlConnection &m_connection;
};

} // namespace Cloud
