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
    state.add(QList{save("A"), deletion("B")});
    state.add(QList{PendingDatabaseChange::saveZone(kZone)});
    state.setDatabaseChangeToken(QByteArray("d1:1:7\x00\xff", 8));
    state.setZoneChangeToken(kZone, "z1:2:5");
    state.setAccount(CloudAccount{"https://cloud.example.org", "anna", "secret"});

    const auto serialization = state.serialization();
    EXPECT_FALSE(QJsonDocument(serialization.json).toJson().contains("secret")); // never the token
    const auto back = SyncEngineState::fromSerialization(serialization);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->serialization(), serialization);
    EXPECT_EQ(back->pendingRecordZoneChanges(), state.pendingRecordZoneChanges());
    EXPECT_EQ(back->zoneChangeToken(kZone), "z1:2:5");
    EXPECT_EQ(back->account()->user, "anna");

    // What cannot be read is no state at all, rather than a state that forgot something.
    QJsonObject broken = serialization.json;
    broken.insert("account", QJsonObject{{"server", 1}});
    EXPECT_FALSE(SyncEngineState::fromSerialization({broken}));
    broken = serialization.json;
    broken.insert("version", 99);
    EXPECT_FALSE(SyncEngineState::Serialization::fromJson(broken));
}
