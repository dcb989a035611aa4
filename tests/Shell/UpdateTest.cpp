#include "ShellFixture.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

using Kind = UpdateCheckResult::Kind;

QByteArray feed(const QStringList &versions)
{
    QByteArray items;
    for (const QString &version : versions) {
        items += QStringLiteral("<item><title>Vellora %1</title><link>https://vellora.example/download/%1</link>"
                                "<enclosure url=\"https://vellora.example/vellora-%1.tar.gz\" "
                                "vellora:version=\"%1\"/></item>")
                     .arg(version)
                     .toUtf8();
    }
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:vellora=\"https://vellora.example/xmlns\"><channel>" +
           items + "</channel></rss>";
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
                socket->write("HTTP/1.1 " + QByteArray::number(current->status) + " Status\r\nContent-Length: " +
                              QByteArray::number(current->body.size()) + "\r\nConnection: close\r\n\r\n" +
                              current->body);
                socket->disconnectFromHost();
            });
        }
    });
    ShellTest::RecordingPresenter presenter;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        current = &c;
        Updater updater({url, "1.2.0"}, presenter);
        presenter.results.clear();
        updater.checkForUpdates();
        EXPECT_FALSE(updater.canCheckForUpdates()); // one check at a time
        ASSERT_TRUE(waitFor([&] { return !presenter.results.isEmpty(); }));
        EXPECT_TRUE(updater.canCheckForUpdates());
        const UpdateCheckResult &result = presenter.results.first();
        EXPECT_EQ(result.kind, c.kind);
        if (c.kind == Kind::failed)
            EXPECT_TRUE(result.error.contains(c.latestOrError)) << result.error.toStdString();
        else
            EXPECT_EQ(result.latestVersion, c.latestOrError);
        EXPECT_EQ(result.downloadPage, QUrl(c.downloadPage));
    }
}

} // namespace
