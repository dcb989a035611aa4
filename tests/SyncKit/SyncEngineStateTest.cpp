#include "SyncKit/SyncEngineState.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

const RecordZoneID kZone{QStringLiteral("Vellora")};

PendingRecordZoneChange save(const char *name)
{
    return PendingRecordZoneChange::save(RecordID{QString::fromLatin1(name), kZone});
}

PendingRecordZoneChange deletion(const char *name)
{
    return PendingRecordZoneChange::remove(RecordID{QString::fromLatin1(name), kZone});
}

} // namespace

TEST(SyncEngineState, KeepsTheLatestIntentPerRecordInOrder)
{
    SyncEngineState state;
    int changes = 0;
    state.setChangeHandler([&] { ++changes; });
    state.add(QList{save("A"), save("B"), save("C")});
    const quint64 revision = state.revision(save("B").recordID);
    state.add(QList{save("B")}); // already waiting, but queued again
    EXPECT_EQ(changes, 1);
    EXPECT_GT(state.revision(save("B").recordID), revision);
    state.add(QList{deletion("A"), save("D"), save("D")});
    EXPECT_EQ(state.pendingRecordZoneChanges(), QList({save("B"), save("C"), deletion("A"), save("D")}));

    // Removing takes only the change of that kind.
    state.remove(QList{save("A"), deletion("C")});
    EXPECT_EQ(changes, 2);
    state.remove(QList{save("B"), deletion("A")});
    state.add(QList{deletion("C")}); // one change alone replaces its record's earlier one too
    EXPECT_EQ(state.pendingRecordZoneChanges(), QList({save("D"), deletion("C")}));
    EXPECT_EQ(changes, 4);

    state.add(QList{PendingDatabaseChange::saveZone(kZone), PendingDatabaseChange::saveZone(kZone)});
    state.add(QList{PendingDatabaseChange::deleteZone(kZone)});
    EXPECT_EQ(state.pendingDatabaseChanges(), QList{PendingDatabaseChange::deleteZone(kZone)});
}

TEST(SyncEngineState, SerializationReadsBackUnchanged)
{
    SyncEngineState state;
    // Names of the same length one after the other: what repeats between entries is shared, what differs is not.
    state.add(QList{save("A"), save("C"), deletion("B \"quoted\" caf\u00e9")});
    state.add(QList{PendingDatabaseChange::saveZone(kZone)});
    state.setDatabaseChangeToken(QByteArray("d1:1:7\x00\xff", 8));
    state.setZoneChangeToken(kZone, "z1:2:5");
    state.setAccount(CloudAccount{"https://cloud.example.org", "anna", "secret"});
    const QByteArray unsealed = state.serialization().toJson();
    state.setSealed(true);
    state.setUnopened(RecordID{"U2", kZone}, true);
    state.setUnopened(RecordID{"U1", kZone}, true);

    const auto serialization = state.serialization();
    const QByteArray text = serialization.toJson();
    EXPECT_FALSE(text.contains("secret")); // never the token
    EXPECT_EQ(text, QJsonDocument::fromJson(text).toJson()) << "the general writer's layout, keys sorted";
    const SyncEngineState back = SyncEngineState::fromSerialization(*SyncEngineState::Serialization::fromJson(text));
    EXPECT_EQ(back.serialization(), serialization);

    // What cannot be read is no state at all, rather than a state that forgot something.
    for (const QByteArray &broken :
         {QByteArray(text).replace("\"anna\"\n", "1\n"), QByteArray(text).replace("\"version\": 1", "\"version\": 99"),
          QByteArray(text).replace("saveRecord", "saveThing"), QByteArray(text).replace("\"ejE6Mjo1\"", "\"!!\""),
          QByteArray(text).replace("\"server\"", "\"colour\""), QByteArray(text).replace("\"saveZone\"", "null"),
          QByteArray(text).replace("\"sealed\": true", "\"sealed\": 1"), QByteArray("[]"), QByteArray("{"),
          QByteArray("{\"version\": \"1\"}")})
        EXPECT_FALSE(SyncEngineState::Serialization::fromJson(broken)) << broken.constData();
    // A state of an account that never sealed nor met a record it could not open is written as before.
    EXPECT_FALSE(unsealed.contains("sealed") || unsealed.contains("unopened"));
    // Keys it does not know are no reason to refuse the rest.
    EXPECT_EQ(SyncEngineState::Serialization::fromJson(
                  QByteArray(text).replace("\"kind\": \"saveRecord\",", "\"kind\": \"saveRecord\", \"extra\": [1e300],")),
              serialization);
}
