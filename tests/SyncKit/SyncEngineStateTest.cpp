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
    EXPECT_EQ(changes, 1);
    state.add(QList{save("B")}); // already waiting
    EXPECT_EQ(changes, 1);
    state.add(QList{deletion("A"), save("D"), save("D")});
    EXPECT_EQ(state.pendingRecordZoneChanges(), QList({save("B"), save("C"), deletion("A"), save("D")}));

    // Removing takes only the change of that kind.
    state.remove(QList{save("A"), deletion("C")});
    EXPECT_EQ(changes, 2);
    state.remove(QList{save("B"), deletion("A")});
    EXPECT_EQ(state.pendingRecordZoneChanges(), QList({save("C"), save("D")}));
    EXPECT_EQ(changes, 3);
    state.add(QList{deletion("C")}); // one change alone replaces its record's earlier one too
    EXPECT_EQ(state.pendingRecordZoneChanges(), QList({save("D"), deletion("C")}));
    EXPECT_EQ(changes, 4);

    state.add(QList{PendingDatabaseChange::saveZone(kZone), PendingDatabaseChange::saveZone(kZone)});
    state.add(QList{PendingDatabaseChange::deleteZone(kZone)});
    EXPECT_EQ(state.pendingDatabaseChanges(), QList{PendingDatabaseChange::deleteZone(kZone)});
}

TEST(SyncEngineState, RevisionsTellAChangeQueuedAgain)
{
    SyncEngineState state;
    state.add(QList{save("A")});
    const quint64 first = state.revision(save("A").recordID);
    state.add(QList{save("A")});
    EXPECT_GT(state.revision(save("A").recordID), first);
    EXPECT_EQ(state.revision(save("Z").recordID), 0u);
}

TEST(SyncEngineState, SerializationReadsBackUnchanged)
{
    SyncEngineState state;
    state.add(QList{save("A"), deletion("B \"quoted\" caf\u00e9")});
    state.add(QList{PendingDatabaseChange::saveZone(kZone)});
    state.setDatabaseChangeToken(QByteArray("d1:1:7\x00\xff", 8));
    state.setZoneChangeToken(kZone, "z1:2:5");
    state.setZoneChangeToken(RecordZoneID{"Other", "anna"}, "z2");
    state.setAccount(CloudAccount{"https://cloud.example.org", "anna", "secret"});

    const auto serialization = state.serialization();
    const QByteArray text = serialization.toJson();
    EXPECT_FALSE(text.contains("secret")); // never the token
    EXPECT_EQ(text, QJsonDocument::fromJson(text).toJson()) << "the general writer's layout, keys sorted";
    EXPECT_EQ(SyncEngineState::Serialization::fromJson(text), serialization);
    const SyncEngineState back = SyncEngineState::fromSerialization(serialization);
    EXPECT_EQ(back.pendingRecordZoneChanges(), state.pendingRecordZoneChanges());
    EXPECT_EQ(back.zoneChangeToken(kZone), "z1:2:5");
    EXPECT_EQ(back.account()->user, "anna");
    const QByteArray empty = SyncEngineState().serialization().toJson();
    EXPECT_EQ(empty, QJsonDocument::fromJson(empty).toJson());

    // What cannot be read is no state at all, rather than a state that forgot something.
    for (const QByteArray &broken :
         {QByteArray(text).replace("\"anna\"\n", "1\n"), QByteArray(text).replace("\"version\": 1", "\"version\": 99"),
          QByteArray(text).replace("saveRecord", "saveThing"), QByteArray(text).replace("\"ejE6Mjo1\"", "\"!!\""),
          QByteArray(text).replace("\"pendingDatabaseChanges\": [", "\"pendingDatabaseChanges\": \"x\", \"y\": ["),
          QByteArray(text).replace("\"server\"", "\"colour\""), QByteArray(text).replace("\"saveZone\"", "null"),
          QByteArray("[]"), QByteArray("{"), QByteArray("{\"version\": \"1\"}")})
        EXPECT_FALSE(SyncEngineState::Serialization::fromJson(broken)) << broken.constData();

    // What the form may hold beside its own: other number forms, keys it does not know, lists left out.
    for (const QByteArray &other :
         {QByteArray(text).replace("\"version\": 1", "\"version\": 1.0"),
          QByteArray(text).replace("\"kind\": \"saveRecord\",", "\"kind\": \"saveRecord\", \"extra\": [1e300],")}) {
        EXPECT_EQ(SyncEngineState::Serialization::fromJson(other), serialization) << other.constData();
    }
    EXPECT_EQ(SyncEngineState::Serialization::fromJson("{\"version\": 1e0}"), SyncEngineState::Serialization());
}
