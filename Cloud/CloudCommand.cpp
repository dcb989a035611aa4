#include "Cloud/CloudCommand.h"

#include "Cloud/ChangeListener.h"
#include "Cloud/CloudServer.h"
#include "Cloud/KeyBoxStore.h"
#include "Cloud/LinkCodeStore.h"
#include "Cloud/RecordStore.h"
#include "Cloud/SecretFiles.h"
#include "Cloud/SqlConnection.h"
#include "Cloud/UserDirectory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace Cloud {

namespace {

constexpr auto kUsage = "usage: vellora-cloud serve [--listen ADDRESS:PORT] [--rate-limit PER_SECOND/BURST]\n"
                        "                          [--tls-cert FILE --tls-key FILE]  (PEM; HTTPS and wss)\n"
                        "                          [--trusted-proxy ADDRESS]...  (believed in X-Forwarded-For)\n"
                        "                          [--connections-per-address N]  (default 128)\n"
                        "       vellora-cloud user add NAME      (prints a new device token)\n"
                        "       vellora-cloud user list          (\"encrypted\": its records are sealed)\n"
                        "       vellora-cloud user remove NAME\n"
                        "       vellora-cloud user reset NAME --confirm  (deletes the user's records and key box;\n"
                        "                          devices follow. The way to start again when both the sync\n"
                        "                          passphrase and the recovery key are lost: the server cannot\n"
                        "                          open the records, and they are gone)\n"
                        "       vellora-cloud token list [NAME]  (each device token's id, when and where it came\n"
                        "                          from: \"user add\" or \"linked\" by a sign-in code)\n"
                        "       vellora-cloud token revoke NAME|TOKEN|ID  (a user's every token, or one)\n"
                        "       vellora-cloud backup FILE        (while serving)\n"
                        "       vellora-cloud restore FILE       (with the server stopped)\n"
                        "Every command takes --data DIR (SQLite; default: $XDG_DATA_HOME/vellora-cloud) or\n"
                        "--database postgresql://USER@HOST:PORT/DATABASE (several servers on one database), its\n"
                        "password from --database-password-file FILE, $PGPASSFILE or ~/.pgpass.\n"
                        "       vellora-cloud --help\n";

struct Options
{
    QStringList words;
    QString data;
    QString database;
    QString listen = QStringLiteral("127.0.0.1:8470");
    QString rateLimit = QStringLiteral("20/60");
    QString tlsCertificate;
    QString tlsKey;
    QString passwordFile;
    QString connectionsPerAddress = QStringLiteral("128");
    QStringList trustedProxies;
    bool confirm = false;
    bool help = false;
};

void say(FILE *stream, const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
}

int fail(const QString &text)
{
    say(stderr, QStringLiteral("vellora-cloud: ") + text);
    return 1;
}

QString defaultDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/vellora-cloud");
}

// Everything that is not an option is a word of the command.
std::optional<Options> parse(const QStringList &arguments, QString &error)
{
    Options options;
    QString proxy;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        QString *target = argument == QLatin1String("--data")         ? &options.data
                          : argument == QLatin1String("--database")   ? &options.database
                          : argument == QLatin1String("--listen")     ? &options.listen
                          : argument == QLatin1String("--rate-limit") ? &options.rateLimit
                          : argument == QLatin1String("--tls-cert")   ? &options.tlsCertificate
                          : argument == QLatin1String("--tls-key")    ? &options.tlsKey
                          : argument == QLatin1String("--database-password-file") ? &options.passwordFile
                          : argument == QLatin1String("--connections-per-address") ? &options.connectionsPerAddress
                          : argument == QLatin1String("--trusted-proxy")           ? &proxy
                                                                                   : nullptr;
        if (argument == QLatin1String("--confirm")) {
            options.confirm = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (target) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value").arg(argument);
                return std::nullopt;
            }
            *target = arguments[++i];
            if (target == &proxy)
                options.trustedProxies.append(proxy);
        } else if (argument.startsWith(QLatin1String("--"))) {
            error = QStringLiteral("unknown option %1").arg(argument);
            return std::nullopt;
        } else {
            options.words.append(argument);
        }
    }
    return options;
}

// The folder's lock, held by a server for its whole run and by a restore: a restore never swaps the file under a
// running server. The descriptor stays open until the process ends; -1 when the lock is taken.
int lockFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(QDir(folder).filePath(QStringLiteral("vellora-cloud.lock"))).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

int restore(const QString &folder, const QString &file)
{
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly) || source.read(16) != QByteArray("SQLite format 3\0", 16))
        return fail(QStringLiteral("%1 is not a backup of vellora-cloud").arg(file));
    source.close();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot make the folder %1").arg(folder));
    if (lockFolder(folder) < 0)
        return fail(QStringLiteral("a server is running on %1: stop it first").arg(folder));

    const QString target = SqlConnection::sqlitePath(folder);
    const QString staging = target + QStringLiteral(".restoring");
    // A restore that fails leaves the folder as it found it.
    const auto removeStaging = [&] {
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            QFile::remove(staging + QLatin1String(suffix));
    };
    removeStaging();
    const auto failed = [&](const QString &why) {
        removeStaging();
        return fail(why);
    };
    if (!QFile::copy(file, staging))
        return failed(QStringLiteral("cannot copy %1 to %2").arg(file, staging));
    qint64 users = 0;
    // The restored data's connection is closed before its files are moved or removed.
    const auto prepared = [&]() -> std::optional<QString> {
        auto opened = SqlConnection::openSqliteFile(staging);
        if (const auto *error = std::get_if<QString>(&opened))
            return *error;
        SqlConnection &connection = *std::get<std::unique_ptr<SqlConnection>>(opened);
        if (const auto error = connection.startNewEpoch())
            return error;
        const auto list = UserDirectory(connection).users();
        if (const auto *failure = std::get_if<StoreFailure>(&list))
            return failure->message;
        users = std::get<QList<UserDirectory::User>>(list).size();
        return std::nullopt;
    }();
    if (prepared)
        return failed(*prepared);
    if (!syncPath(staging))
        return failed(QStringLiteral("cannot write the restored data to the disk in %1").arg(folder));

    // The data being replaced goes aside with its log, which holds its last commits and must not be replayed onto
    // the restored file; it comes back whole if the restored file cannot be moved in.
    const QString aside = target + QStringLiteral(".before-restore");
    const char *const kFiles[] = {"", "-wal", "-shm"};
    QList<const char *> movedAside;
    const auto move = [](const QString &from, const QString &to) {
        return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
    };
    const auto putBack = [&] {
        bool back = true;
        for (const char *suffix : std::as_const(movedAside))
            back = move(aside + QLatin1String(suffix), target + QLatin1String(suffix)) && back;
        return back;
    };
    const auto notMoved = [&](const QString &why) {
        if (putBack())
            return failed(why + QStringLiteral("; the data is as it was"));
        return failed(why + QStringLiteral("; the data could not be put back either: move %1 and the files beside it "
                                           "back to %2 by hand")
                                .arg(aside, target));
    };
    for (const char *suffix : kFiles) {
        const QString file = target + QLatin1String(suffix);
        if (!QFileInfo::exists(file))
            continue;
        if (!move(file, aside + QLatin1String(suffix)))
            return notMoved(QStringLiteral("cannot move %1 aside").arg(file));
        movedAside.append(suffix);
    }
    if (!move(staging, target))
        return notMoved(QStringLiteral("cannot move the restored data into place in %1").arg(folder));
    if (!syncPath(folder))
        return fail(QStringLiteral("the restored data is in place in %1, but the folder could not be written to the "
                                   "disk: restore again")
                        .arg(folder));
    for (const char *suffix : kFiles) {
        const QString file = aside + QLatin1String(suffix);
        if (QFileInfo::exists(file) && !QFile::remove(file))
            say(stderr, QStringLiteral("vellora-cloud: warning: cannot remove the replaced data %1").arg(file));
    }
    say(stdout, QStringLiteral("restored %1 users from %2; devices start their sync over and send what they hold")
                    .arg(users)
                    .arg(file));
    return 0;
}

// "127.0.0.1:8470" or "[::1]:8470".
std::optional<std::pair<QHostAddress, quint16>> parseListen(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    QHostAddress address;
    if (!ok || port > 65535 || !address.setAddress(host))
        return std::nullopt;
    return std::pair(address, quint16(port));
}

std::optional<CloudServer::Limits> parseRateLimit(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    bool rateOk = false;
    bool burstOk = false;
    CloudServer::Limits limits;
    if (parts.size() == 2) {
        limits.requestsPerSecond = parts[0].toDouble(&rateOk);
        limits.burst = parts[1].toDouble(&burstOk);
    }
    if (!rateOk || !burstOk || limits.requestsPerSecond <= 0 || limits.burst < 1)
        return std::nullopt;
    return limits;
}

// Every push socket holds a descriptor: a thousand devices need more than the usual soft limit of 1,024.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1 << 16);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        say(stderr, QStringLiteral("vellora-cloud: warning: cannot raise the limit of open files; "
                                   "about a thousand devices at most can be connected"));
}

int serve(SqlConnection &connection, const Options &options, const QString &password)
{
    const auto listen = parseListen(options.listen);
    if (!listen)
        return fail(QStringLiteral("--listen takes ADDRESS:PORT, such as 127.0.0.1:8470"));
    const auto limits = parseRateLimit(options.rateLimit);
    if (!limits)
        return fail(QStringLiteral("--rate-limit takes REQUESTS_PER_SECOND/BURST, such as 20/60"));
    CloudServer::Limits serverLimits = *limits;
    for (const QString &proxy : options.trustedProxies) {
        QHostAddress address;
        if (!address.setAddress(proxy))
            return fail(QStringLiteral("--trusted-proxy takes an IP address, such as 127.0.0.1"));
        serverLimits.trustedProxies.append(address);
    }
    bool numberOk = false;
    serverLimits.connectionsPerAddress = options.connectionsPerAddress.toInt(&numberOk);
    if (!numberOk || serverLimits.connectionsPerAddress < 1)
        return fail(QStringLiteral("--connections-per-address takes a number of at least 1"));
    if (qEnvironmentVariableIsSet("VELLORA_CLOUD_LINK_LIFETIME")) {
        serverLimits.linkLifetimeSeconds = qEnvironmentVariableIntValue("VELLORA_CLOUD_LINK_LIFETIME", &numberOk);
        if (!numberOk || serverLimits.linkLifetimeSeconds < 1)
            return fail(QStringLiteral("VELLORA_CLOUD_LINK_LIFETIME takes a number of seconds"));
    }
    QString warning;
    const auto tls = tlsConfiguration(TlsFiles{options.tlsCertificate, options.tlsKey}, warning);
    if (const auto *error = std::get_if<QString>(&tls))
        return fail(*error);
    if (!warning.isEmpty())
        say(stderr, QStringLiteral("vellora-cloud: warning: ") + warning);
    raiseDescriptorLimit();
    CloudServer server(connection, serverLimits);
    std::unique_ptr<ChangeListener> listener;
    if (connection.kind() == SqlConnection::Kind::postgresql) {
        listener = std::make_unique<ChangeListener>(options.database, password);
        QString error;
        if (!listener->start(error))
            return fail(error);
        server.setChangesHeardFromDatabase(true);
        QObject::connect(listener.get(), &ChangeListener::userChanged, &server, &CloudServer::userChanged);
        QObject::connect(listener.get(), &ChangeListener::everyoneChanged, &server, &CloudServer::everyoneChanged);
    }
    const auto &secure = std::get<std::optional<QSslConfiguration>>(tls);
    const auto bound = server.listen(listen->first, listen->second, secure);
    if (const auto *error = std::get_if<QString>(&bound))
        return fail(*error);
    const QString host = listen->first.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(listen->first.toString())
                             : listen->first.toString();
    say(stdout, QStringLiteral("vellora-cloud: listening on %1:%2%3, data in %4")
                    .arg(host)
                    .arg(std::get<quint16>(bound))
                    .arg(secure ? QStringLiteral(" (TLS)") : QString())
                    .arg(connection.path()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// Empties the user's account on the server: its devices see the zones deleted at their next fetch and drop their
// copies, as they would after a deletion by another device.
int resetUser(SqlConnection &connection, const QString &name, bool confirmed)
{
    if (!confirmed)
        return fail(QStringLiteral("user reset deletes every record of %1 on the server and on all of its devices; "
                                   "add --confirm to do it")
                        .arg(name));
    const auto user = UserDirectory(connection).userNamed(name);
    if (const auto *failure = std::get_if<StoreFailure>(&user))
        return fail(failure->message);
    const auto id = std::get<std::optional<qint64>>(user);
    if (!id)
        return fail(QStringLiteral("there is no user named %1").arg(name));
    bool changed = false;
    const auto deleted = RecordStore(connection).deleteAllZones(*id, changed);
    if (const auto *failure = std::get_if<StoreFailure>(&deleted))
        return fail(failure->message);
    const auto [zones, records] = std::get<std::pair<qint64, qint64>>(deleted);
    UserDirectory users(connection);
    // A code asked for before the reset would sign a device into what was reset.
    const auto codes = connection.write([&] {
        LinkCodeStore(connection, users).forget(*id);
        return true;
    });
    if (const auto *failure = std::get_if<StoreFailure>(&codes))
        return fail(failure->message);
    // After the records, which it sealed: a box gone first would leave sealed records that a new key cannot open.
    const auto box = KeyBoxStore(connection).remove(*id);
    if (const auto *failure = std::get_if<StoreFailure>(&box))
        return fail(QStringLiteral("deleted the records of %1, but not its key box (%2): reset again")
                        .arg(name, failure->message));
    say(stdout, QStringLiteral("reset user %1: deleted %2 zones, %3 records%4; devices remove their copies when they "
                               "next sync")
                    .arg(name)
                    .arg(zones)
                    .arg(records)
                    .arg(std::get<bool>(box) ? QStringLiteral(" and the key box") : QString()));
    return 0;
}

int userCommand(SqlConnection &connection, const QStringList &words, bool confirmed)
{
    UserDirectory users(connection);
    const QString verb = words.value(1);
    const QString name = words.value(2);
    if (verb == QLatin1String("list") && words.size() == 2) {
        const auto list = users.users();
        if (const auto *failure = std::get_if<StoreFailure>(&list))
            return fail(failure->message);
        for (const UserDirectory::User &user : std::get<QList<UserDirectory::User>>(list))
            // The columns of before keep their places, for the scripts that read them.
            say(stdout, QStringLiteral("%1\t%2 tokens\t%3 zones\t%4 records\t%5 changes\t%6")
                            .arg(user.name)
                            .arg(user.tokens)
                            .arg(user.zones)
                            .arg(user.records)
                            .arg(user.changes)
                            .arg(user.encrypted ? QStringLiteral("encrypted") : QStringLiteral("plain")));
        return 0;
    }
    if (words.size() == 3 && verb == QLatin1String("reset"))
        return resetUser(connection, name, confirmed);
    if (words.size() != 3 || (verb != QLatin1String("add") && verb != QLatin1String("remove")))
        return fail(QStringLiteral("unknown command\n") + QLatin1String(kUsage));
    if (verb == QLatin1String("add")) {
        if (!UserDirectory::isValidName(name))
            return fail(QStringLiteral("a user name is 1 to 64 letters, digits and . _ @ -, starting with a letter "
                                       "or digit"));
        const auto token = users.addDevice(name);
        if (const auto *failure = std::get_if<StoreFailure>(&token))
            return fail(failure->message);
        say(stdout, std::get<QString>(token));
        return 0;
    }
    const auto removed = users.removeUser(name);
    if (const auto *failure = std::get_if<StoreFailure>(&removed))
        return fail(failure->message);
    const auto &counts = std::get<std::optional<UserDirectory::Removed>>(removed);
    if (!counts)
        return fail(QStringLiteral("there is no user named %1").arg(name));
    say(stdout, QStringLiteral("removed user %1: %2 zones, %3 records, %4 tokens")
                    .arg(name)
                    .arg(counts->zones)
                    .arg(counts->records)
                    .arg(counts->tokens));
    return 0;
}

int listTokens(SqlConnection &connection, const QString &name)
{
    const auto tokens = UserDirectory(connection).tokens(name);
    if (const auto *failure = std::get_if<StoreFailure>(&tokens))
        return fail(failure->message);
    const auto &list = std::get<QList<UserDirectory::Token>>(tokens);
    if (list.isEmpty() && !name.isEmpty())
        return fail(QStringLiteral("%1 has no tokens, or there is no such user").arg(name));
    for (const UserDirectory::Token &token : list)
        say(stdout, QStringLiteral("%1\t%2\t%3\t%4")
                        .arg(token.user, token.id, token.created,
                             token.label.isEmpty() ? QStringLiteral("(made before tokens had names)") : token.label));
    return 0;
}

int tokenCommand(SqlConnection &connection, const QStringList &words)
{
    if (words.value(1) == QLatin1String("list") && words.size() <= 3)
        return listTokens(connection, words.value(2));
    if (words.size() != 3 || words[1] != QLatin1String("revoke"))
        return fail(QStringLiteral("unknown command\n") + QLatin1String(kUsage));
    const auto revoked = UserDirectory(connection).revoke(words[2]);
    if (const auto *failure = std::get_if<StoreFailure>(&revoked))
        return fail(failure->message);
    const qint64 count = std::get<qint64>(revoked);
    if (count == 0)
        return fail(QStringLiteral("no such user or token"));
    say(stdout, QStringLiteral("revoked %1 token%2").arg(count).arg(count == 1 ? "" : "s"));
    return 0;
}

} // namespace

int runCloudCommand(const QStringList &arguments)
{
    QString error;
    const auto options = parse(arguments, error);
    if (!options)
        return fail(error + QLatin1Char('\n') + QLatin1String(kUsage));
    const QString command = options->words.value(0);
    if (options->help || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const QString folder = options->data.isEmpty() ? defaultDataFolder() : options->data;
    if (command == QLatin1String("restore")) {
        if (!options->database.isEmpty())
            return fail(QStringLiteral("restore a PostgreSQL database with pg_restore"));
        return options->words.size() == 2 ? restore(folder, options->words[1]) : fail(QLatin1String(kUsage));
    }
    if (command != QLatin1String("serve") && command != QLatin1String("user") && command != QLatin1String("token") &&
        command != QLatin1String("backup"))
        return fail(QStringLiteral("unknown command %1\n").arg(command) + QLatin1String(kUsage));

    if (!options->database.isEmpty() && !options->data.isEmpty())
        return fail(QStringLiteral("give either --data or --database"));
    QString password;
    if (!options->passwordFile.isEmpty()) {
        if (options->database.isEmpty())
            return fail(QStringLiteral("--database-password-file goes with --database"));
        QString error;
        if (!readPassword(options->passwordFile, password, error))
            return fail(error);
    }
    auto opened = options->database.isEmpty() ? SqlConnection::openSqlite(folder)
                                              : SqlConnection::openPostgresql(options->database, password);
    if (const auto *failure = std::get_if<QString>(&opened))
        return fail(*failure);
    SqlConnection &connection = *std::get<std::unique_ptr<SqlConnection>>(opened);
    if (command == QLatin1String("serve")) {
        if (options->words.size() != 1)
            return fail(QLatin1String(kUsage));
        if (connection.kind() == SqlConnection::Kind::sqlite && lockFolder(folder) < 0)
            return fail(QStringLiteral("another server is running on %1").arg(folder));
        return serve(connection, *options, password);
    }
    if (command == QLatin1String("backup")) {
        if (options->words.size() != 2)
            return fail(QLatin1String(kUsage));
        if (const auto error = connection.backup(options->words[1]))
            return fail(QStringLiteral("cannot back up to %1: %2").arg(options->words[1], *error));
        say(stdout, QStringLiteral("backed up to %1").arg(options->words[1]));
        return 0;
    }
    if (command == QLatin1String("user"))
        return userCommand(connection, options->words, options->confirm);
    return tokenCommand(connection, options->words);
}

} // namespace Cloud
