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
constexpr auto kUnprivileged = "nobody";

// The tests' own locale may not be generated on this machine; PostgreSQL refuses to start on one that is not.
QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    return environment;
}

bool runningAsRoot()
{
    return geteuid() == 0;
}

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

PostgresCluster *PostgresCluster::shared()
{
    if (!environment->tried) {
        environment->tried = true;
        environment->cluster = std::make_unique<PostgresCluster>();
        if (!environment->cluster->start()) {
            ADD_FAILURE() << "PostgreSQL: " << environment->cluster->error().toStdString();
            environment->cluster.reset();
        }
    }
    return environment->cluster.get();
}

PostgresCluster::~PostgresCluster()
{
    stop();
}

std::pair<int, QString> PostgresCluster::runTool(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProcessEnvironment(toolEnvironment());
    const QString program = m_binaries + QLatin1Char('/') + tool;
    if (runningAsRoot())
        process.start(QStringLiteral("runuser"), QStringList{"-u", kUnprivileged, "--", program} + arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return {-1, process.errorString()};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
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
    if (runningAsRoot()) {
        // PostgreSQL refuses to run as root: the folder goes to an unprivileged user.
        const passwd *user = getpwnam(kUnprivileged);
        if (!user || chown(QFile::encodeName(m_folder.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
            m_error = QStringLiteral("cannot hand the cluster's folder to %1").arg(kUnprivileged);
            return false;
        }
    }
    const QString data = m_folder.filePath(QStringLiteral("data"));
    const auto [status, output] =
        runTool(QStringLiteral("initdb"), {"-D", data, "-U", kSuperuser, "-A", "trust", "--no-sync"});
    if (status != 0) {
        m_error = QStringLiteral("initdb failed: ") + output;
        return false;
    }
    const QStringList arguments{"-D", data, "-k", m_folder.path(), "-c", "listen_addresses=", "-c", "fsync=off"};
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setProcessEnvironment(toolEnvironment());
    if (runningAsRoot())
        m_server.start(QStringLiteral("runuser"),
                       QStringList{"-u", kUnprivileged, "--", m_binaries + QStringLiteral("/postgres")} + arguments);
    else
        m_server.start(m_binaries + QStringLiteral("/postgres"), arguments);
    QByteArray log;
    const bool ready = waitFor(
        [&] {
            log += m_server.readAll();
            return log.contains("ready to accept connections") || m_server.state() == QProcess::NotRunning;
        },
        60000);
    if (!ready || !log.contains("ready to accept connections")) {
        m_error = QStringLiteral("postgres did not start: ") + QString::fromUtf8(log);
        stop();
        return false;
    }
    return true;
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

bool PostgresCluster::sql(const QString &database, const QString &statement)
{
    const auto [status, output] = runTool(QStringLiteral("psql"), {"-h", m_folder.path(), "-U", kSuperuser, "-d",
                                                                   database, "-v", "ON_ERROR_STOP=1", "-c", statement});
    EXPECT_EQ(status, 0) << output.toStdString();
    return status == 0;
}
