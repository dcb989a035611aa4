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
    EXPECT_EQ(SyncEngineState::Serialization::fromJson(QJsonDocument::fromJson(text).object()), serialization);
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
          QByteArray("[]"), QByteArray("{")})
        EXPECT_FALSE(SyncEngineState::Serialization::fromJson(broken)) << broken.constData();
}

// The quick reader must read whatever it takes exactly as the general parser does, and take nothing that the
// general parser refuses.
TEST(SyncEngineState, SerializationTextReadsAsTheGeneralParserReadsIt)
{
    SyncEngineState state;
    state.add(QList{save("A"), deletion("B"), save("C")});
    state.add(QList{PendingDatabaseChange::saveZone(kZone)});
    state.setDatabaseChangeToken("token");
    state.setZoneChangeToken(kZone, "z1");
    state.setAccount(CloudAccount{"https://cloud.example.org", "anna", "secret"});
    const QByteArray text = state.serialization().toJson();

    auto expectSame = [](const QByteArray &bytes) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        const auto reference = error.error == QJsonParseError::NoError
                                   ? SyncEngineState::Serialization::fromJson(QJsonValue(document.object()))
                                   : std::nullopt;
        const auto read = SyncEngineState::Serialization::fromJson(QByteArrayView(bytes));
        ASSERT_EQ(read.has_value(), reference.has_value() && document.isObject()) << bytes.constData();
        if (read) {
            ASSERT_EQ(*read, *reference) << bytes.constData();
        }
    };
    for (const QByteArray &variant :
         {text, QByteArray(text).replace("\"version\": 1", "\"version\": 1.0"),
          QByteArray(text).replace("\"kind\": \"saveRecord\",", "\"kind\": \"saveRecord\", \"extra\": [1],"),
          QByteArray(text).replace("\"owner\": \"__defaultOwner__\",", ""),
          QByteArray(text).replace("\"user\": \"anna\"", "\"user\": \"anna\", \"user\": \"bob\""),
          QByteArray(text).replace("\"pendingDatabaseChanges\": [", "\"pendingDatabaseChanges\": \"x\", \"y\": ["),
          QByteArray("{\"version\": 1}")})
        expectSame(variant);
    for (qsizetype size = 0; size < text.size(); size += 3)
        expectSame(text.left(size));
    const QByteArray replacements = "{}[]\":,\\ 01a";
    for (int round = 0; round < 2000; ++round) {
        QByteArray damaged = text;
        damaged[(round * 7919) % damaged.size()] = replacements[round % replacements.size()];
        expectSame(damaged);
    }
}
