#include "tests/Cloud/PostgresCluster.h"

#include "tests/WaitFor.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr auto kSuperuser = "vellora";
// PostgreSQL refuses to run as root: then the cluster is this user's.
constexpr auto kUnprivileged = "nobody";

// The cluster outlives the tests that share it, and is stopped when they are all done.
class ClusterEnvironment : public testing::Environment
{
public:
    void TearDown() override { cluster.reset(); }
    std::unique_ptr<PostgresCluster> cluster;
    bool tried = false;
};

ClusterEnvironment *const environment =
    static_cast<ClusterEnvironment *>(testing::AddGlobalTestEnvironment(new ClusterEnvironment));

} // namespace

QString PostgresCluster::newSharedDatabase()
{
    PostgresCluster *cluster = shared();
    return cluster ? cluster->newDatabase() : QString();
}

PostgresCluster *PostgresCluster::shared()
{
    if (!std::exchange(environment->tried, true)) {
        environment->cluster = std::make_unique<PostgresCluster>();
        if (!environment->cluster->start()) {
            ADD_FAILURE() << "PostgreSQL: " << environment->cluster->m_error.toStdString();
            environment->cluster.reset();
        }
    }
    return environment->cluster.get();
}

void PostgresCluster::launch(QProcess &process, const QString &tool, const QStringList &arguments)
{
    // The tests' own locale may not be generated on this machine; PostgreSQL refuses to start on one that is not.
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    variables.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(variables);
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = m_binaries + QLatin1Char('/') + tool;
    if (geteuid() == 0)
        process.start(QStringLiteral("runuser"), QStringList{"-u", kUnprivileged, "--", program} + arguments);
    else
        process.start(program, arguments);
}

bool PostgresCluster::start()
{
    const QStringList versions =
        QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (versions.isEmpty() || !m_folder.isValid()) {
        m_error = QStringLiteral("PostgreSQL is not installed (Debian package postgresql)");
        return false;
    }
    m_binaries = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(versions.last());
    const passwd *user = getpwnam(kUnprivileged);
    if (geteuid() == 0 &&
        (!user || chown(QFile::encodeName(m_folder.path()).constData(), user->pw_uid, user->pw_gid) != 0)) {
        m_error = QStringLiteral("cannot hand the cluster's folder to %1").arg(kUnprivileged);
        return false;
    }
    QProcess initdb;
    launch(initdb, QStringLiteral("initdb"),
           {"-D", m_folder.filePath(QStringLiteral("data")), "-U", kSuperuser, "-A", "trust", "--no-sync"});
    if (!initdb.waitForFinished(120000) || initdb.exitStatus() != QProcess::NormalExit || initdb.exitCode() != 0) {
        m_error = QStringLiteral("initdb failed: ") + QString::fromUtf8(initdb.readAll());
        return false;
    }
    return run();
}

bool PostgresCluster::run()
{
    const QString data = m_folder.filePath(QStringLiteral("data"));
    launch(m_server, QStringLiteral("postgres"),
           {"-D", data, "-k", m_folder.path(), "-c", "listen_addresses=", "-c", "fsync=off"});
    QByteArray log;
    const bool ready = waitFor(
        [&] {
            log += m_server.readAll();
            return log.contains("ready to accept connections") || m_server.state() == QProcess::NotRunning;
        },
        60000);
    if (!ready || !log.contains("ready to accept connections")) {
        m_error = QStringLiteral("postgres did not start: ") + QString::fromUtf8(log);
        return false;
    }
    return true;
}

bool PostgresCluster::restart()
{
    stop();
    if (run())
        return true;
    ADD_FAILURE() << "PostgreSQL: " << m_error.toStdString();
    return false;
}

PostgresCluster::~PostgresCluster()
{
    stop();
}

void PostgresCluster::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    // A fast shutdown, asked of the postmaster itself (the process started may be runuser).
    QFile pidFile(m_folder.filePath(QStringLiteral("data/postmaster.pid")));
    if (pidFile.open(QIODevice::ReadOnly)) {
        const pid_t pid = pid_t(pidFile.readLine().trimmed().toInt());
        if (pid > 0)
            ::kill(pid, SIGINT);
    }
    if (!m_server.waitForFinished(30000)) {
        m_server.kill();
        m_server.waitForFinished();
    }
}

QString PostgresCluster::newDatabase()
{
    const QString name = QStringLiteral("test%1").arg(++m_databases);
    if (!sql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE %1").arg(name)))
        return {};
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(QLatin1String(kSuperuser), name, m_folder.path());
}

QString PostgresCluster::newDatabaseWithPassword(const QString &role, const QString &password)
{
    // Only this role's connections must show a password; the tests' own superuser keeps its trust.
    QFile rules(m_folder.filePath(QStringLiteral("data/pg_hba.conf")));
    if (!rules.open(QIODevice::ReadOnly))
        return {};
    const QByteArray before = rules.readAll();
    rules.close();
    if (!rules.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        rules.write("local all " + role.toLatin1() + " scram-sha-256\n" + before) < 0 || !rules.flush())
        return {};
    rules.close();
    const QString name = QStringLiteral("test%1").arg(++m_databases);
    if (!sql(QStringLiteral("postgres"), QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(role, password)) ||
        !sql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(name, role)) ||
        !sql(QStringLiteral("postgres"), QStringLiteral("SELECT pg_reload_conf()")))
        return {};
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(role, name, m_folder.path());
}

std::optional<QByteArray> PostgresCluster::output(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    launch(process, tool, QStringList{"-h", m_folder.path(), "-U", kSuperuser} + arguments);
    const bool ran = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    const QByteArray output = process.readAll();
    if (ran && process.exitCode() == 0)
        return output;
    ADD_FAILURE() << tool.toStdString() << " " << arguments.join(' ').toStdString() << ": " << output.toStdString();
    return std::nullopt;
}

bool PostgresCluster::sql(const QString &database, const QString &statement)
{
    return query(database, statement).has_value();
}

std::optional<QString> PostgresCluster::query(const QString &database, const QString &statement)
{
    const auto rows = output(QStringLiteral("psql"), {"-d", database, "-At", "-v", "ON_ERROR_STOP=1", "-c", statement});
    return rows ? std::optional(QString::fromUtf8(*rows).trimmed()) : std::nullopt;
}

std::optional<QByteArray> PostgresCluster::dump(const QString &database)
{
    return output(QStringLiteral("pg_dump"), {"-d", database});
}

std::unique_ptr<QProcess> PostgresCluster::session(const QString &database)
{
    auto psql = std::make_unique<QProcess>();
    launch(*psql, QStringLiteral("psql"), {"-h", m_folder.path(), "-U", kSuperuser, "-d", database, "-q"});
    return psql;
}
