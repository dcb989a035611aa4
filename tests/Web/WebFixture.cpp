// The desktop's side of the page's tests: wraps an account key and seals and opens records with SyncKit itself, so
// that the page is checked against the very code the desktop runs.
//   web_fixture wrap PASSPHRASE           → {"keyBox": BOX, "key": B64} (the cheapest Argon2id cost)
//   web_fixture seal KEY save|tombstone   record JSON on standard input → the sealed record's JSON; an array of
//                                         records → the array of them sealed
//   web_fixture open KEY save|tombstone   sealed record JSON on standard input → the opened record's JSON, or exit 1
//   web_fixture recovery KEY              → the key's recovery text, as the desktop shows it
#include "SyncKit/AccountKey.h"
#include "SyncKit/RecordSeal.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

using namespace SyncKit;

namespace {

int print(const QJsonDocument &document)
{
    const QByteArray text = document.toJson(QJsonDocument::Compact) + '\n';
    return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size()) ? 0 : 2;
}

int fail(const char *why)
{
    std::fprintf(stderr, "web_fixture: %s\n", why);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.value(0) == QLatin1String("wrap") && arguments.size() == 2) {
        const AccountKey key = AccountKey::generate();
        const auto box = KeyBox::wrap(key, arguments[1], PassphraseCost::minimum());
        if (!box)
            return fail("the key could not be wrapped");
        return print(QJsonDocument(
            QJsonObject{{"keyBox", box->toJson()}, {"key", QString::fromLatin1(key.bytes().toBase64())}}));
    }
    if (arguments.value(0) == QLatin1String("recovery") && arguments.size() == 2) {
        const auto key = AccountKey::fromBytes(QByteArray::fromBase64(arguments[1].toLatin1()));
        if (!key)
            return fail("no key");
        const QByteArray text = key->recoveryText().toLatin1() + '\n';
        return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size()) ? 0 : 2;
    }
    if (arguments.size() != 3 || (arguments[0] != QLatin1String("seal") && arguments[0] != QLatin1String("open")))
        return fail("usage: wrap PASSPHRASE | seal KEY KIND | open KEY KIND | recovery KEY");
    const auto key = AccountKey::fromBytes(QByteArray::fromBase64(arguments[1].toLatin1()));
    const auto kind = arguments[2] == QLatin1String("tombstone") ? RecordSeal::Kind::tombstone : RecordSeal::Kind::save;
    QFile input;
    if (!key || !input.open(stdin, QIODevice::ReadOnly))
        return fail("no key, or no standard input");
    const QJsonDocument document = QJsonDocument::fromJson(input.readAll());
    if (document.isArray() && arguments[0] == QLatin1String("seal")) {
        QJsonArray sealed;
        for (const QJsonValue &value : document.array()) {
            const auto record = Record::fromJson(value.toObject());
            if (!record)
                return fail("a record cannot be read");
            sealed.append(RecordSeal::seal(*record, *key, kind).toJson());
        }
        return print(QJsonDocument(sealed));
    }
    const auto record = Record::fromJson(document.object());
    if (!record)
        return fail("the record cannot be read");
    if (arguments[0] == QLatin1String("seal"))
        return print(QJsonDocument(RecordSeal::seal(*record, *key, kind).toJson()));
    const auto opened = RecordSeal::open(*record, *key, kind);
    return opened ? print(QJsonDocument(opened->toJson())) : fail("the record does not open");
}
