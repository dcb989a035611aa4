#include "ShellFixture.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Only a value of the right kind and an exact known text is read, else the default; reading writes nothing back.
TEST(AppSettingsTest, StoredValuesAreReadOnlyWhenOfTheirKind)
{
    struct Case
    {
        QByteArray stored; // null: no file
        Paper::TextSize textSize;
        Paper::Appearance appearance;
        bool dock, tray;
    };
    using enum Paper::TextSize;
    const QList<Case> cases{
        {QByteArray(), medium, Paper::Appearance::automatic, true, false},
        {R"({"textSize": "l", "appearance": "dark", "showTaskbarEntry": false, "showTrayIcon": true})", large,
         Paper::Appearance::dark, false, true},
        {R"({"textSize": "xl", "appearance": "Dark", "showTaskbarEntry": "false", "showTrayIcon": 1})", medium,
         Paper::Appearance::automatic, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        ShellTest::AppEnvironment env; // a path of its own: QSettings keeps what it once read of a path
        if (!c.stored.isNull())
            env.writeDefaults(c.stored);
        const auto defaults = JsonSettingsFormat::open(env.defaultsPath);
        FakeLoginItemService loginItems;
        ShellTest::RecordingTaskbarEntry dock;
        const AppSettings settings(*defaults, loginItems, &dock);
        EXPECT_EQ(settings.textSize(), c.textSize);
        EXPECT_EQ(settings.appearance(), c.appearance);
        EXPECT_EQ(settings.showTaskbarEntry(), c.dock);
        EXPECT_EQ(settings.showTrayIcon(), c.tray);
        EXPECT_EQ(dock.applied, QList<bool>{c.dock}); // the taskbar entry as stored, from the start
        EXPECT_EQ(loginItems.registerCalls + loginItems.unregisterCalls, 0);
        defaults->sync();
        QFile file(env.defaultsPath);
        EXPECT_EQ(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), c.stored);
    }
}

// The first versions' keys are read once and rewritten under the plain names; a plain name already there wins.
TEST(AppSettingsTest, OldKeysAreRewrittenOnceUnderPlainNames)
{
    const QList<std::pair<QByteArray, QByteArray>> cases{
        {R"({"NSStatusItem Visible Item-0": true, "showInDock": false, "showInMenuBar": true, "textSize": "l"})",
         R"({"showTaskbarEntry": false, "showTrayIcon": true, "textSize": "l"})"},
        {R"({"showInDock": false, "showTaskbarEntry": true})", R"({"showTaskbarEntry": true, "showTrayIcon": false})"},
    };
    for (const auto &[stored, rewritten] : cases) {
        SCOPED_TRACE(stored.toStdString());
        ShellTest::AppEnvironment env;
        env.writeDefaults(stored);
        const auto defaults = JsonSettingsFormat::open(env.defaultsPath);
        FakeLoginItemService loginItems;
        const AppSettings settings(*defaults, loginItems, nullptr);
        EXPECT_EQ(QJsonDocument::fromJson(env.readDefaults()), QJsonDocument::fromJson(rewritten));
    }
}

TEST(AppSettingsTest, AFileThatCannotBeWrittenIsSaidAndTheNextGoodWriteClearsIt)
{
    // A file where the settings' folder should be: no process, however privileged, can write below it.
    ShellTest::AppEnvironment env;
    const QString folder = QFileInfo(env.defaultsPath).absolutePath();
    QDir().mkpath(QFileInfo(folder).absolutePath());
    ASSERT_TRUE(QFile(folder).open(QIODevice::WriteOnly));
    const auto defaults = JsonSettingsFormat::open(env.defaultsPath);
    FakeLoginItemService loginItems;
    AppSettings settings(*defaults, loginItems, nullptr);
    settings.setShowTaskbarEntry(false);
    ASSERT_TRUE(settings.saveError());
    EXPECT_TRUE(settings.saveError()->contains("defaults.json"));
    EXPECT_FALSE(settings.showTaskbarEntry()) << "the value holds for this run";

    ASSERT_TRUE(QFile::remove(folder));
    settings.setShowTaskbarEntry(true);
    EXPECT_FALSE(settings.saveError());
}

using Kind = UpdateCheckResult::Kind;

QByteArray feed(const QStringList &versions)
{
    QString items;
    for (const QString &version : versions)
        items += QStringLiteral("<item><title>Vellora %1</title><link>https://vellora.example/download/%1</link>"
                                "<enclosure url=\"https://vellora.example/vellora-%1.tar.gz\" vellora:version=\"%1\"/>"
                                "</item>")
                     .arg(version);
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:vellora=\"https://vellora.example/xmlns\"><channel>" +
           items.toUtf8() + "</channel></rss>";
}

TEST(UpdaterTest, EachFeedGivesItsResult)
{
    struct Case
    {
        QByteArray body;
        int status;
        Kind kind;
        const char *latestOrError; // the newest version, or words of the error
        const char *downloadPage;
    };
    const Case cases[] = {
        {feed({"1.1.0", "1.10.0", "1.2.1"}), 200, Kind::updateAvailable, "1.10.0",
         "https://vellora.example/download/1.10.0"},
        {feed({"1.0.0", "1.2"}), 200, Kind::upToDate, "1.2", ""},
        {"<rss><channel><item><title>x</ti", 200, Kind::failed, "not valid XML", ""},
        {"<html><body>Moved</body></html>", 200, Kind::failed, "not an RSS feed", ""},
        // A link that is no web address is never offered.
        {"<rss><channel><item><version>9.0</version><link>file:///etc/passwd</link></item></channel></rss>", 200,
         Kind::failed, "lists no version", ""},
        {"gone", 404, Kind::failed, "could not be loaded", ""},
    };
    // An HTTP server on 127.0.0.1 that answers every request with the case's status and body.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server.serverPort()));
    const Case *current = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&current, socket] {
                socket->setProperty("request", socket->property("request").toByteArray() + socket->readAll());
                if (!socket->property("request").toByteArray().contains("\r\n\r\n"))
                    return;
                socket->write("HTTP/1.1 " + QByteArray::number(current->status) +
                              " Status\r\nContent-Length: " + QByteArray::number(current->body.size()) +
                              "\r\nConnection: close\r\n\r\n" + current->body);
                socket->disconnectFromHost();
            });
        }
    });
    QList<UpdateCheckResult> results;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        current = &c;
        Updater updater({url, "1.2.0"}, [&](const UpdateCheckResult &result) { results.append(result); });
        results.clear();
        updater.checkForUpdates();
        EXPECT_FALSE(updater.canCheckForUpdates()); // one check at a time
        ASSERT_TRUE(waitFor([&] { return !results.isEmpty(); }));
        EXPECT_TRUE(updater.canCheckForUpdates());
        const UpdateCheckResult &result = results.first();
        EXPECT_EQ(result.kind, c.kind);
        if (c.kind == Kind::failed)
            EXPECT_TRUE(result.error.contains(c.latestOrError)) << result.error.toStdString();
        else
            EXPECT_EQ(result.latestVersion, c.latestOrError);
        EXPECT_EQ(result.downloadPage, QUrl(c.downloadPage));
    }
}

} // namespace
