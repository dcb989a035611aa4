#pragma once

#include "SyncKit/AccountKey.h"
#include "SyncKit/CloudDatabase.h"

#include <QDateTime>
#include <QJsonObject>

#include <optional>
#include <variant>

// The wire form of the cloud's operations, shared by the server and its client so that both read and write the same
// JSON. Each operation is a POST of a JSON object to its path, answered by a JSON object; a failure of the whole
// request is an HTTP status with {"error": {"code", "name", "message"}}.
namespace SyncKit::CloudProtocol {

// Why a request was refused: a name for programs ("badRequest", "tooManyChanges") and words for people.
struct Invalid
{
    QString name;
    QString message;
};

inline constexpr auto kModifyZonesPath = "/v1/zones/modify";
inline constexpr auto kModifyRecordsPath = "/v1/records/modify";
inline constexpr auto kDatabaseChangesPath = "/v1/database/changes";
inline constexpr auto kZoneChangesPath = "/v1/zone/changes";
inline constexpr auto kPushPath = "/v1/push";
inline constexpr auto kHealthPath = "/healthz";
// GET, signed like every operation: whose token it is, {"user": NAME}. Sign-in checks the name given against it.
inline constexpr auto kAccountPath = "/v1/account";

// The account's wrapped key (KeyBox). GET answers {"keyBox": BOX} or {"keyBox": null} when the account has none yet.
// POST {"keyBox": BOX, "replaces": SALT} stores it: "replaces" is null for the first box, else the Base64 salt of the
// box it replaces (a new passphrase). A box that replaces another must hold the same key (equal "keyCheck"). Refused:
// kKeyBoxChangedStatus with the error named "keyBoxChanged" when the account's box is not the one named (another
// computer set one a moment ago: fetch it again); 403 "otherKey" when the new box holds another key. Once an
// account has a box it is sealed: every record saved or deleted must carry exactly one sealed field, and a request
// with any other fails whole with 403, invalidArguments and the name kPlainRecordRefused (an older version shows the
// message, which tells the person to update).
inline constexpr auto kAccountKeyPath = "/v1/account/key";
inline constexpr int kKeyBoxChangedStatus = 412;
inline constexpr auto kKeyBoxChanged = "keyBoxChanged";
inline constexpr auto kOtherKey = "otherKey";
inline constexpr auto kPlainRecordRefused = "plainRecordRefused";

// One-time sign-in codes, for a device on which a token is no pleasure to type. POST kAccountLinkPath, signed,
// answers {"code": "ABCD-EFGH-JKMN", "expiresAt": ISO 8601 UTC, "lifetimeSeconds": N}. POST kLinkRedeemPath, without
// a token, with {"code": CODE, "device": "Chrome on Android"} answers {"user": NAME, "token": TOKEN}, a new device
// token; a code gives one token, once. Refused with 403 and the names below, and with 429 when the address tried too
// many. The page's address with a code carries it in the fragment (SERVER/#link=CODE), which no browser sends.
inline constexpr auto kAccountLinkPath = "/v1/account/link";
inline constexpr auto kLinkRedeemPath = "/v1/link/redeem";
inline constexpr auto kLinkCodeUsed = "linkCodeUsed";
inline constexpr auto kLinkCodeExpired = "linkCodeExpired";
inline constexpr auto kLinkCodeUnknown = "linkCodeUnknown";

struct LinkCode
{
    QString code;
    QDateTime expiresAt;
    int lifetimeSeconds = 0;

    QJsonObject toJson() const;
    // Nothing when the answer is not of that form.
    static std::optional<LinkCode> fromJson(const QJsonObject &object);
};

struct KeyBoxRequest
{
    KeyBox box;
    std::optional<QByteArray> replaces; // the salt of the box it replaces; none for the account's first

    QJsonObject toJson() const;
    static std::variant<KeyBoxRequest, Invalid> fromJson(const QJsonObject &object);
};
QJsonObject keyBoxAnswer(const std::optional<KeyBox> &box);
// Nothing when the answer is not of that form; an account without a box gives an empty optional inside.
std::optional<std::optional<KeyBox>> keyBoxOfAnswer(const QJsonObject &object);


// A request that carries a change token or change tag from before the server's data was last restored from a backup
// fails as a whole with this status and the error resetRequired, and changes nothing. The device may hold what the
// restored data lacks: it forgets its tokens, sends everything it holds without tags, and fetches from the start.
inline constexpr int kResetStatus = 409;

inline constexpr qint64 kMaxBodyBytes = 4 * 1024 * 1024;
inline constexpr int kMaxChangesPerRequest = 1000;
inline constexpr qint64 kMaxRecordBytes = 64 * 1024;
// A page of zone changes stops at this many records or bytes, whichever comes first.
inline constexpr int kMaxPageRecords = 1000;
inline constexpr qint64 kMaxPageBytes = 2 * 1024 * 1024;

// The push channel: the device's first message names its token, the server answers "ready" (or closes the socket
// with kPushRejected) and then sends "changed" whenever the user's database changes.
inline constexpr auto kPushReady = R"({"ready":true})";
inline constexpr auto kPushChanged = R"({"changed":true})";
inline constexpr int kPushRejected = 4401;
QByteArray pushHello(const QString &token);
std::optional<QString> tokenOfPushHello(const QByteArray &message);

// A record as it travels: the header the server keeps (type, identity, system fields), and the fields, which the
// server stores and returns without reading them. Record::toJson() writes this same form.
struct RecordEnvelope
{
    QString type;
    RecordID id;
    QString changeTag;
    QString created; // ISO 8601 with milliseconds, UTC; empty when unknown
    QString modified;
    QJsonObject fields;

    QJsonObject toJson() const;
    // Nothing when the header is malformed or the fields are not an object.
    static std::optional<RecordEnvelope> fromJson(const QJsonValue &value);
};

// The name says which limit or rule refused a request ("recordTooLarge", "rateLimited"); it defaults to the code's.
QJsonObject errorJson(CloudError::Code code, const QString &message, const QString &name = {},
                      const QJsonObject &serverRecord = {});
QJsonObject errorJson(const CloudError &error);
std::optional<CloudError> errorFromJson(const QJsonValue &value);


struct ModifyZonesRequest
{
    QList<RecordZoneID> saves;
    QList<RecordZoneID> deletes;

    QJsonObject toJson() const;
    static std::variant<ModifyZonesRequest, Invalid> fromJson(const QJsonObject &object);
};

struct ModifyRecordsRequest
{
    QList<RecordEnvelope> saves;
    // Tombstones; one without a type is the bare identity an older device sends, deleting whatever the tag.
    QList<RecordEnvelope> deletes;

    static QJsonObject toJson(const QList<Record> &saves, const QList<Record> &deletes);
    static std::variant<ModifyRecordsRequest, Invalid> fromJson(const QJsonObject &object);
};

struct DatabaseChangesRequest
{
    QByteArray token;

    QJsonObject toJson() const;
    static std::variant<DatabaseChangesRequest, Invalid> fromJson(const QJsonObject &object);
};

struct ZoneChangesRequest
{
    RecordZoneID zoneID;
    QByteArray token;
    int limit = 0; // none: as many as a page holds

    QJsonObject toJson() const;
    static std::variant<ZoneChangesRequest, Invalid> fromJson(const QJsonObject &object);
};

// The server's answers, written from what it stores.
struct RecordFailure
{
    RecordID id;
    QJsonObject error;
};

struct ModifyRecordsAnswer
{
    QList<RecordEnvelope> saved;
    QList<RecordID> deleted;
    QList<RecordFailure> failedSaves;
    QList<RecordFailure> failedDeletes;

    QJsonObject toJson() const;
};

struct ZoneChangesAnswer
{
    QList<RecordEnvelope> modifications;
    QList<RecordEnvelope> deletions; // tombstones, with the fields the deleting device left
    QByteArray changeToken;
    bool moreComing = false;

    QJsonObject toJson() const;
};

QJsonObject toJson(const ModifyZonesResult &result);
QJsonObject toJson(const DatabaseChanges &changes);

// The client's reading of the answers; nothing when an answer is not of the expected form.
std::optional<ModifyZonesResult> modifyZonesResult(const QJsonObject &object);
std::optional<ModifyRecordsResult> modifyRecordsResult(const QJsonObject &object);
std::optional<DatabaseChanges> databaseChanges(const QJsonObject &object);
std::optional<ZoneChanges> zoneChanges(const QJsonObject &object);

} // namespace SyncKit::CloudProtocol
