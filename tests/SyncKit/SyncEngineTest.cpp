#include "SyncKit/MemoryCloud.h"
#include "SyncKit/SyncEngine.h"
#include "SyncKit/SyncEngineDelegate.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include "tests/WaitFor.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace SyncKit;
using namespace std::chrono_literals;

namespace {

const RecordZoneID kZone{QStringLiteral("Vellora")};

RecordID idOf(const QString &name)
{
    return RecordID{name, kZone};
}

// A local side that keeps records in a table and remembers every event.
class RecordingDelegate : public SyncEngineDelegate
{
public:
    void handleEvent(const SyncEngineEvent &event, SyncEngine &) override
    {
        events.push_back(event);
        if (const auto *update = std::get_if<SyncEvent::StateUpdate>(&event))
            savedState = update->stateSerialization;
        if (const auto *fetched = std::get_if<SyncEvent::FetchedRecordZoneChanges>(&event)) {
            for (const Record &record : fetched->modifications)
                records.insert(record.recordID(), record);
            for (const RecordDeletion &deletion : fetched->deletions)
                records.remove(deletion.recordID);
        }
        if (const auto *sent = std::get_if<SyncEvent::SentRecordZoneChanges>(&event)) {
            // The server's bookkeeping; the content may have changed meanwhile.
            for (const Record &saved : sent->savedRecords) {
                Record &local = records[saved.recordID()];
                local.setSystemFields(saved.recordChangeTag(), saved.creationDate(), saved.modificationDate());
            }
        }
    }

    std::optional<RecordZoneChangeBatch> nextRecordZoneChangeBatch(const SendChangesContext &context,
                                                                  SyncEngine &engine) override
    {
        ++batchesAsked;
        QList<PendingRecordZoneChange> changes;
        for (const auto &change : engine.state().pendingRecordZoneChanges()) {
            if (context.options.scope.contains(change))
                changes.append(change);
        }
        if (changes.isEmpty())
            return std::nullopt;
        return RecordZoneChangeBatch(changes, [this](const RecordID &id) -> std::optional<Record> {
            if (!records.contains(id))
                return std::nullopt;
            return records.value(id);
        });
    }

    template<typename Event>
    QList<Event> eventsOf() const
    {
        QList<Event> found;
        for (const auto &event : events) {
            if (const auto *typed = std::get_if<Event>(&event))
                found.append(*typed);
        }
        return found;
    }

    // Changes a record locally as the user would, and queues it.
    void edit(SyncEngine &engine, const QString &name, const QString &title)
    {
        Record record = records.value(idOf(name), Record(QStringLiteral("Note"), idOf(name)));
        record.setValue("title", title);
        records.insert(idOf(name), record);
        engine.state().add(QList{PendingRecordZoneChange::save(idOf(name))});
    }

    std::vector<SyncEngineEvent> events;
    std::optional<SyncEngineState::Serialization> savedState;
    QHash<RecordID, Record> records;
    int batchesAsked = 0;
};

class SyncEngineTest : public testing::Test
{
protected:
    void SetUp() override { account = cloud.addAccount("anna"); }

    std::unique_ptr<SyncEngine> makeEngine(RecordingDelegate &delegate, bool automatic = false,
                                           std::optional<SyncEngineState::Serialization> state = std::nullopt)
    {
        SyncEngine::Configuration configuration;
        configuration.database = &cloud;
        configuration.delegate = &delegate;
        configuration.stateSerialization = std::move(state);
        configuration.accountFile.reset();
        configuration.account = account;
        configuration.automaticallySync = automatic;
        configuration.timing = {5ms, 5ms, 10ms, 40ms};
        configuration.requestSize = 3;
        configuration.fetchLimit = 4;
        auto engine = std::make_unique<SyncEngine>(std::move(configuration));
        engine->state().add(QList{PendingDatabaseChange::saveZone(kZone)});
        return engine;
    }

    MemoryCloud cloud;
    CloudAccount account;
};

} // namespace

TEST_F(SyncEngineTest, StateChangesFromOutsideAreReportedAtOnce)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    delegate.events.clear();

    delegate.edit(*engine, "A", "one");
    ASSERT_EQ(delegate.events.size(), 1u);
    ASSERT_TRUE(delegate.savedState);
    EXPECT_EQ(delegate.savedState->recordZoneChanges, QList{PendingRecordZoneChange::save(idOf("A"))});

    // The same change again changes nothing and reports nothing.
    engine->state().add(QList{PendingRecordZoneChange::save(idOf("A"))});
    EXPECT_EQ(delegate.events.size(), 1u);
}

TEST_F(SyncEngineTest, SendsInRequestsAndReportsTheStateOnceAtTheEnd)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    for (int i = 0; i < 7; ++i)
        delegate.edit(*engine, QString::number(i), QStringLiteral("title %1").arg(i));
    delegate.events.clear();

    std::optional<std::optional<CloudError>> outcome;
    engine->sendChanges({}, [&](const auto &error) { outcome = error; });
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(*outcome);

    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
    EXPECT_TRUE(engine->state().pendingDatabaseChanges().isEmpty());
    EXPECT_EQ(cloud.records("anna", kZone).size(), 7);
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyRecords), 3); // 3 + 3 + 1
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyZones), 1);
    EXPECT_EQ(delegate.eventsOf<SyncEvent::SentDatabaseChanges>().value(0).savedZones, QList{kZone});
    const auto sent = delegate.eventsOf<SyncEvent::SentRecordZoneChanges>();
    ASSERT_EQ(sent.size(), 3);
    EXPECT_FALSE(sent[0].savedRecords[0].recordChangeTag().isEmpty());

    // One state update, the last event; nothing fetched by a send.
    EXPECT_EQ(delegate.eventsOf<SyncEvent::StateUpdate>().size(), 1);
    EXPECT_TRUE(std::holds_alternative<SyncEvent::StateUpdate>(delegate.events.back()));
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::fetchDatabaseChanges), 0);
}

TEST_F(SyncEngineTest, WithoutAnAccountNothingIsSentAndChangesStayQueued)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true);
    engine->setAccount(std::nullopt);
    QCoreApplication::processEvents(); // the engine has started, and found no account
    delegate.edit(*engine, "A", "one");

    std::optional<std::optional<CloudError>> outcome;
    engine->syncChanges([&](const auto &error) { outcome = error; });
    ASSERT_TRUE(outcome && *outcome);
    EXPECT_EQ((*outcome)->code(), CloudError::Code::notAuthenticated);
    EXPECT_FALSE(engine->isScheduled()); // no account to work for
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyRecords), 0);
    EXPECT_EQ(engine->state().pendingRecordZoneChanges().size(), 1);

    // Signing in sends what waited.
    engine->setAccount(account);
    ASSERT_EVENTUALLY(cloud.record("anna", idOf("A")).has_value());
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
}

TEST_F(SyncEngineTest, FetchesInPagesAndOnlyWhatIsNew)
{
    RecordingDelegate writer;
    auto writerEngine = makeEngine(writer);
    for (int i = 0; i < 6; ++i)
        writer.edit(*writerEngine, QString::number(i), "x");
    writerEngine->sendChanges();

    RecordingDelegate reader;
    auto readerEngine = makeEngine(reader);
    readerEngine->fetchChanges();
    EXPECT_EQ(reader.records.size(), 6);
    EXPECT_EQ(reader.eventsOf<SyncEvent::FetchedRecordZoneChanges>().size(), 2); // pages of 4 and 2
    EXPECT_EQ(reader.eventsOf<SyncEvent::FetchedDatabaseChanges>().value(0).modifications, QList{kZone});
    ASSERT_EQ(reader.eventsOf<SyncEvent::DidFetchRecordZoneChanges>().size(), 1);

    writer.edit(*writerEngine, "2", "changed");
    writerEngine->sendChanges();
    writerEngine->state().add(QList{PendingRecordZoneChange::remove(idOf("3"))});
    writerEngine->sendChanges();
    reader.events.clear();
    readerEngine->fetchChanges();
    const auto fetched = reader.eventsOf<SyncEvent::FetchedRecordZoneChanges>();
    ASSERT_EQ(fetched.size(), 1);
    ASSERT_EQ(fetched[0].modifications.size(), 1);
    EXPECT_EQ(fetched[0].modifications[0].stringValue("title"), "changed");
    EXPECT_EQ(fetched[0].deletions, (QList{RecordDeletion{idOf("3"), "Note"}}));

    // The tokens survive a restart: a new engine from the saved state fetches nothing old.
    RecordingDelegate restarted;
    auto restartedEngine = makeEngine(restarted, false, reader.savedState);
    restarted.events.clear();
    restartedEngine->fetchChanges();
    EXPECT_TRUE(restarted.eventsOf<SyncEvent::FetchedRecordZoneChanges>().isEmpty());
}

TEST_F(SyncEngineTest, ADeletedZoneIsReportedAndFetchedAfreshWhenMadeAgain)
{
    RecordingDelegate writer;
    auto writerEngine = makeEngine(writer);
    writer.edit(*writerEngine, "A", "a");
    writerEngine->sendChanges();
    RecordingDelegate reader;
    auto readerEngine = makeEngine(reader);
    readerEngine->fetchChanges();

    cloud.deleteZone("anna", kZone);
    writerEngine->state().add(QList{PendingDatabaseChange::saveZone(kZone)});
    writer.records.clear();
    writer.edit(*writerEngine, "B", "b");
    writerEngine->sendChanges();

    reader.events.clear();
    readerEngine->fetchChanges();
    const auto database = reader.eventsOf<SyncEvent::FetchedDatabaseChanges>();
    ASSERT_EQ(database.size(), 1);
    EXPECT_EQ(database[0].deletions, QList{kZone});
    EXPECT_EQ(database[0].modifications, QList{kZone});
    const auto fetched = reader.eventsOf<SyncEvent::FetchedRecordZoneChanges>();
    ASSERT_EQ(fetched.size(), 1);
    EXPECT_EQ(fetched[0].modifications.value(0).recordID(), idOf("B"));
}

TEST_F(SyncEngineTest, SyncSendsBeforeItFetches)
{
    RecordingDelegate other;
    auto otherEngine = makeEngine(other);
    other.edit(*otherEngine, "A", "theirs");
    otherEngine->sendChanges();

    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    delegate.events.clear();
    delegate.edit(*engine, "B", "mine");
    engine->syncChanges();

    qsizetype sentAt = -1;
    qsizetype fetchedAt = -1;
    for (size_t i = 0; i < delegate.events.size(); ++i) {
        if (std::holds_alternative<SyncEvent::SentRecordZoneChanges>(delegate.events[i]) && sentAt < 0)
            sentAt = qsizetype(i);
        if (std::holds_alternative<SyncEvent::FetchedRecordZoneChanges>(delegate.events[i]))
            fetchedAt = qsizetype(i);
    }
    EXPECT_GE(sentAt, 0);
    EXPECT_GT(fetchedAt, sentAt);
    EXPECT_EQ(delegate.records.size(), 2);

    // A send that fails leaves the fetch for later: nothing local is replaced before it was offered.
    delegate.edit(*engine, "A", "mine too");
    cloud.failNextCalls(1);
    const int fetchesBefore = cloud.callCount(MemoryCloud::Call::fetchDatabaseChanges);
    engine->syncChanges();
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::fetchDatabaseChanges), fetchesBefore);
    EXPECT_EQ(delegate.records.value(idOf("A")).stringValue("title"), "mine too");
}

TEST_F(SyncEngineTest, NetworkFailuresKeepTheQueueAndAreRetriedWithGrowingPauses)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true);
    cloud.failNextCalls(3);
    QElapsedTimer elapsed;
    elapsed.start();
    delegate.edit(*engine, "A", "one");
    ASSERT_EVENTUALLY(cloud.record("anna", idOf("A")).has_value());
    // Pauses of 10, 20 and 40 ms after the three failures: the engine does not hammer a failing network.
    EXPECT_GE(elapsed.elapsed(), 70);
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyZones), 4);
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
    EXPECT_TRUE(engine->state().pendingDatabaseChanges().isEmpty());

    // A lost answer: the change stays queued although the server has it; the next try meets the server copy.
    delegate.events.clear();
    cloud.failNextCalls(1, MemoryCloud::Fault::dropResponse);
    delegate.edit(*engine, "A", "two");
    ASSERT_EVENTUALLY(!delegate.eventsOf<SyncEvent::SentRecordZoneChanges>().isEmpty());
    const auto sent = delegate.eventsOf<SyncEvent::SentRecordZoneChanges>();
    ASSERT_EQ(sent[0].failedRecordSaves.size(), 1);
    EXPECT_EQ(sent[0].failedRecordSaves[0].error.code(), CloudError::Code::serverRecordChanged);
    EXPECT_EQ(sent[0].failedRecordSaves[0].error.serverRecord()->stringValue("title"), "two");
}

TEST_F(SyncEngineTest, AServerChangeMakesOtherDevicesFetch)
{
    RecordingDelegate writer;
    auto writerEngine = makeEngine(writer, true);
    RecordingDelegate reader;
    auto readerEngine = makeEngine(reader, true);
    ASSERT_EVENTUALLY(cloud.hasZone("anna", kZone));

    writer.edit(*writerEngine, "A", "hello");
    ASSERT_EVENTUALLY(reader.records.value(idOf("A")).stringValue("title") == QStringLiteral("hello"));
}

TEST_F(SyncEngineTest, FetchesByItselfAtStartAndAfterAnAccountChange)
{
    const CloudAccount bert = cloud.addAccount("bert");
    for (const CloudAccount &owner : {account, bert}) {
        RecordingDelegate writer;
        auto writerEngine = makeEngine(writer);
        writerEngine->setAccount(owner);
        writer.edit(*writerEngine, "A", owner.user);
        writerEngine->sendChanges();
    }

    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true);
    ASSERT_EVENTUALLY(delegate.records.value(idOf("A")).stringValue("title") == QStringLiteral("anna"));
    EXPECT_EQ(delegate.eventsOf<SyncEvent::AccountChange>().value(0).changeType,
              SyncEvent::AccountChange::ChangeType::signIn);

    engine->setAccount(bert);
    ASSERT_EVENTUALLY(delegate.records.value(idOf("A")).stringValue("title") == QStringLiteral("bert"));
    EXPECT_EQ(delegate.eventsOf<SyncEvent::AccountChange>().value(1).changeType,
              SyncEvent::AccountChange::ChangeType::switchAccounts);
}

TEST_F(SyncEngineTest, AChangeQueuedWhileItsSendIsUnderwayIsSentToo)
{
    cloud.setAnswersDeferred(true);
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    delegate.edit(*engine, "A", "one");
    // The server has stored "one" and its answer is on the way when the user edits again.
    bool editedInFlight = false;
    QObject::connect(&cloud, &CloudDatabase::databaseChanged, [&] {
        if (cloud.record("anna", idOf("A")) && !editedInFlight) {
            editedInFlight = true;
            delegate.edit(*engine, "A", "two");
        }
    });
    bool finished = false;
    engine->sendChanges({}, [&](const auto &) { finished = true; });
    EXPECT_TRUE(engine->isWorking());
    ASSERT_EVENTUALLY(finished);
    ASSERT_TRUE(editedInFlight);

    // The answer for "one" did not take the newer change off the queue: the same send sent it next.
    EXPECT_EQ(cloud.record("anna", idOf("A"))->stringValue("title"), "two");
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyRecords), 2);
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
}

TEST_F(SyncEngineTest, ARefusedTokenStopsTheEngineUntilTheNextSignIn)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true);
    ASSERT_EVENTUALLY(cloud.hasZone("anna", kZone));
    cloud.revokeTokens("anna");
    delegate.edit(*engine, "A", "one");
    ASSERT_EVENTUALLY(!engine->isWorking() && cloud.callCount(MemoryCloud::Call::modifyRecords) == 1);
    EXPECT_FALSE(engine->isScheduled());
    delegate.edit(*engine, "B", "two");
    EXPECT_FALSE(engine->isScheduled());

    delegate.events.clear();
    engine->setAccount(cloud.addAccount("anna"));
    ASSERT_EVENTUALLY(cloud.record("anna", idOf("A")).has_value());
    EXPECT_TRUE(delegate.eventsOf<SyncEvent::AccountChange>().isEmpty()); // the same account
}

TEST_F(SyncEngineTest, ScopeLimitsWhatIsSent)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    delegate.edit(*engine, "A", "a");
    delegate.edit(*engine, "B", "b");
    engine->sendChanges({SendChangesScope::records({idOf("B")})});
    EXPECT_FALSE(cloud.record("anna", idOf("A")));
    EXPECT_TRUE(cloud.record("anna", idOf("B")));
    EXPECT_EQ(engine->state().pendingRecordZoneChanges(), QList{PendingRecordZoneChange::save(idOf("A"))});
}

TEST_F(SyncEngineTest, AccountFileChangesAreReported)
{
    QTemporaryDir config;
    const QString path = config.path() + "/vellora-cloud/account.json";
    RecordingDelegate delegate;
    SyncEngine::Configuration configuration;
    configuration.database = &cloud;
    configuration.delegate = &delegate;
    configuration.accountFile = path;
    configuration.automaticallySync = false;
    SyncEngine engine(configuration);
    QCoreApplication::processEvents(); // the engine looks at the account once it has started
    EXPECT_TRUE(delegate.eventsOf<SyncEvent::AccountChange>().isEmpty());

    using ChangeType = SyncEvent::AccountChange::ChangeType;
    auto changes = [&] {
        QList<ChangeType> types;
        for (const auto &change : delegate.eventsOf<SyncEvent::AccountChange>())
            types.append(change.changeType);
        return types;
    };
    ASSERT_TRUE(account.writeFile(path));
    ASSERT_EVENTUALLY(changes() == QList{ChangeType::signIn});
    EXPECT_EQ(engine.account(), account);

    const CloudAccount bert = cloud.addAccount("bert");
    ASSERT_TRUE(bert.writeFile(path));
    ASSERT_EVENTUALLY(changes() == QList({ChangeType::signIn, ChangeType::switchAccounts}));

    // A new token of the same user is no change of account.
    const CloudAccount bertAgain = cloud.addAccount("bert");
    ASSERT_TRUE(bertAgain.writeFile(path));
    ASSERT_EVENTUALLY(engine.account() == bertAgain);

    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EVENTUALLY(changes() == QList({ChangeType::signIn, ChangeType::switchAccounts, ChangeType::signOut}));
    EXPECT_FALSE(engine.account());
    EXPECT_FALSE(delegate.savedState->account);
}

TEST(CloudAccount, FileFormat)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/account.json";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"server": "https://cloud.example.org", "user": "anna", "token": "s3cret", "note": "x"})");
    file.close();
    EXPECT_EQ(CloudAccount::readFile(path), (CloudAccount{"https://cloud.example.org", "anna", "s3cret"}));

    for (const char *content : {"", "[]", R"({"server": "s", "user": "anna"})",
                                R"({"server": "s", "user": 1, "token": "t"})",
                                R"({"server": "", "user": "anna", "token": "t"})"}) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        EXPECT_FALSE(CloudAccount::readFile(path)) << content;
    }
    EXPECT_FALSE(CloudAccount::readFile(dir.path() + "/missing.json"));

    const CloudAccount account{"https://cloud.example.org", "anna", "s3cret"};
    ASSERT_TRUE(account.writeFile(dir.path() + "/new/account.json"));
    EXPECT_EQ(CloudAccount::readFile(dir.path() + "/new/account.json"), account);
    EXPECT_EQ(QFile(dir.path() + "/new/account.json").permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);

    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EXPECT_EQ(CloudAccount::defaultFilePath(), dir.path() + "/vellora-cloud/account.json");
    qunsetenv("XDG_CONFIG_HOME");
}
