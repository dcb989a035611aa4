#include "Vellora/Shell/Appcast.h"
#include "Vellora/Shell/UpdateDialog.h"
#include "Vellora/Shell/Updater.h"

#include "Vellora/Platform/JsonSettingsFormat.h"

#include "tests/WaitFor.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// A small HTTP server on 127.0.0.1 that answers each path with a fixed status and body. A path that is held
// gets its answer only when released.
class FeedServer : public QObject
{
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
    };
    QMap<QString, Answer> answers;
    QString heldPath;
    int requests = 0;

    FeedServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        });
    }

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    void release()
    {
        heldPath.clear();
        for (QTcpSocket *socket : std::exchange(m_held, {}))
            answer(socket);
    }

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        if (request.split(' ').value(1) == heldPath.toUtf8())
            m_held.append(socket);
        else
            answer(socket);
    }

    void answer(QTcpSocket *socket)
    {
        const QString path = QString::fromUtf8(m_requests.take(socket).split(' ').value(1));
        const Answer a = answers.value(path, Answer{404, "not here"});
        socket->write("HTTP/1.1 " + QByteArray::number(a.status) + " Status\r\nContent-Type: application/rss+xml\r\n" +
                      "Content-Length: " + QByteArray::number(a.body.size()) + "\r\nConnection: close\r\n\r\n" +
                      a.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QMap<QTcpSocket *, QByteArray> m_requests;
    QList<QTcpSocket *> m_held;
};

QByteArray feed(const QStringList &versions)
{
    QByteArray items;
    for (const QString &version : versions) {
        items += QStringLiteral("<item><title>Vellora %1</title><link>https://vellora.example/download/%1</link>"
                                "<enclosure url=\"https://vellora.example/vellora-%1.tar.gz\" length=\"1\" "
                                "type=\"application/octet-stream\" vellora:version=\"%1\"/></item>")
                     .arg(version)
                     .toUtf8();
    }
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:vellora=\"https://vellora.example/xmlns\">"
           "<channel><title>Vellora</title>" +
           items + "</channel></rss>";
}

class RecordingPresenter : public UpdatePresenter
{
public:
    QList<UpdateCheckResult> results;
    void present(const UpdateCheckResult &result) override { results.append(result); }
};

class UpdaterTest : public testing::Test
{
protected:
    FeedServer server;
    RecordingPresenter presenter;

    std::unique_ptr<Updater> updaterFor(const QString &path, const QString &version = "1.2.0")
    {
        return std::make_unique<Updater>(Updater::Options{server.url(path), version}, presenter);
    }

    UpdateCheckResult checkAgainst(const QByteArray &body, int status = 200)
    {
        server.answers["/appcast.xml"] = {status, body};
        const auto updater = updaterFor("/appcast.xml");
        const int before = int(presenter.results.size());
        updater->checkForUpdates();
        EXPECT_TRUE(waitFor([&] { return presenter.results.size() > before; }));
        EXPECT_TRUE(updater->canCheckForUpdates());
        return presenter.results.value(presenter.results.size() - 1);
    }
};

TEST_F(UpdaterTest, EachFeedGivesItsResult)
{
    using Kind = UpdateCheckResult::Kind;
    const struct
    {
        QByteArray body;
        int status;
        Kind kind;
        const char *latestOrError; // the newest version, or words of the error
        const char *downloadPage;
    } cases[] = {
        {feed({"1.1.0", "1.10.0", "1.2.1"}), 200, Kind::updateAvailable, "1.10.0",
         "https://vellora.example/download/1.10.0"},
        {feed({"1.0.0", "1.2"}), 200, Kind::upToDate, "1.2", ""},
        {"<rss><channel><item><title>x</ti", 200, Kind::failed, "not valid XML", ""},
        {"{\"version\": \"2.0\"}", 200, Kind::failed, "not valid XML", ""},
        {"<html><body>Moved</body></html>", 200, Kind::failed, "not an RSS feed", ""},
        {"<rss><channel><item><title>no version</title><link>https://a.example/</link></item></channel></rss>", 200,
         Kind::failed, "lists no version", ""},
        // A link that is no web address is never offered.
        {"<rss><channel><item><version>9.0</version><link>file:///etc/passwd</link></item></channel></rss>", 200,
         Kind::failed, "lists no version", ""},
        {"", 200, Kind::failed, "not", ""},
        {"gone", 404, Kind::failed, "could not be loaded", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        const UpdateCheckResult result = checkAgainst(c.body, c.status);
        EXPECT_EQ(result.kind, c.kind);
        if (c.kind == Kind::failed) {
            EXPECT_TRUE(result.error.contains(c.latestOrError)) << result.error.toStdString();
        } else {
            EXPECT_EQ(result.latestVersion, c.latestOrError);
        }
        EXPECT_EQ(result.downloadPage, QUrl(c.downloadPage));
    }

    Updater noServer({QUrl("http://127.0.0.1:1/appcast.xml"), "1.0"}, presenter);
    noServer.checkForUpdates();
    ASSERT_TRUE(waitFor([&] { return presenter.results.size() == int(std::size(cases)) + 1; }));
    EXPECT_TRUE(presenter.results.last().error.startsWith("The update feed could not be loaded"));
}

TEST_F(UpdaterTest, NoCheckCanStartWhileOneRunsOrWithoutAFeed)
{
    Updater unconfigured({QUrl(), "1.0"}, presenter);
    EXPECT_FALSE(unconfigured.canCheckForUpdates());
    unconfigured.checkForUpdates();
    unconfigured.startUpdater();
    EXPECT_FALSE(unconfigured.nextBackgroundCheck().isValid());

    server.answers["/slow.xml"] = {200, feed({"2.0"})};
    server.heldPath = "/slow.xml";
    const auto updater = updaterFor("/slow.xml");
    QSignalSpy canCheck(updater.get(), &Updater::canCheckForUpdatesChanged);
    updater->checkForUpdates();
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->checkForUpdates(); // ignored while the first runs
    ASSERT_TRUE(waitFor([&] { return server.requests == 1; }));
    server.release();
    ASSERT_TRUE(waitFor([&] { return updater->canCheckForUpdates(); }));
    EXPECT_EQ(presenter.results.size(), 1);
    EXPECT_EQ(server.requests, 1);
    EXPECT_EQ(canCheck.count(), 2);
}

TEST_F(UpdaterTest, BackgroundChecksShowOnlyANewerVersionAndComeDaily)
{
    QTemporaryDir dir;
    const auto defaults = JsonSettingsFormat::open(dir.filePath("defaults.json"));
    server.answers["/appcast.xml"] = {200, feed({"1.2.0"})};
    Updater updater({server.url("/appcast.xml"), "1.2.0", defaults.get(), 24h, 1min}, presenter);
    QSignalSpy finished(&updater, &Updater::checkFinished);

    updater.startUpdater(); // never checked: soon after the start
    EXPECT_LE(QDateTime::currentDateTimeUtc().secsTo(updater.nextBackgroundCheck()), 60);

    updater.checkInBackground();
    ASSERT_TRUE(finished.wait(15000));
    EXPECT_TRUE(presenter.results.isEmpty()); // up to date: nothing shown
    const qint64 untilNext = QDateTime::currentDateTimeUtc().secsTo(updater.nextBackgroundCheck());
    EXPECT_GT(untilNext, 23 * 3600);
    EXPECT_LE(untilNext, 24 * 3600);
    EXPECT_TRUE(defaults->contains(Updater::kLastCheckKey));

    server.answers["/appcast.xml"] = {500, {}};
    updater.checkInBackground();
    ASSERT_TRUE(finished.wait(15000));
    EXPECT_TRUE(presenter.results.isEmpty()); // a failure in the background is not shown

    server.answers["/appcast.xml"] = {200, feed({"1.3.0"})};
    updater.checkInBackground();
    ASSERT_TRUE(finished.wait(15000));
    ASSERT_EQ(presenter.results.size(), 1);
    EXPECT_EQ(presenter.results[0].kind, UpdateCheckResult::Kind::updateAvailable);

    // A later run goes by the time kept in the defaults.
    Updater nextRun({server.url("/appcast.xml"), "1.2.0", defaults.get(), 24h, 1min}, presenter);
    nextRun.startUpdater();
    EXPECT_GT(QDateTime::currentDateTimeUtc().secsTo(nextRun.nextBackgroundCheck()), 23 * 3600);
}

TEST(Appcast, VersionsCompareByTheirParts)
{
    EXPECT_GT(compareVersions("1.10.0", "1.9"), 0);
    EXPECT_EQ(compareVersions("1.2", "1.2.0"), 0);
    EXPECT_EQ(compareVersions("v2.0", "2.0"), 0);
    EXPECT_LT(compareVersions("1.0-beta", "1.0"), 0);
    EXPECT_LT(compareVersions("1.0-alpha", "1.0-beta"), 0);
    EXPECT_GT(compareVersions("1.0.1", "1.0-rc1"), 0);
    EXPECT_LT(compareVersions("0.1.0", "99999999999999999999"), 0);
}

TEST(Appcast, TheVersionComesFromTheEnclosureOrTheItem)
{
    const auto parsed = parseAppcast(R"(<rss><channel>
        <item><title>A</title><version>3.0</version><enclosure url="https://a.example/a.tar.gz"/></item>
        <item><title>B</title><enclosure url="https://b.example/b.tar.gz" xmlns:x="urn:x" x:version="2.0"/></item>
        </channel></rss>)");
    ASSERT_TRUE(std::holds_alternative<QList<AppcastItem>>(parsed));
    const auto &items = std::get<QList<AppcastItem>>(parsed);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].version, "3.0");
    EXPECT_EQ(items[0].downloadPage, QUrl("https://a.example/a.tar.gz"));
    EXPECT_EQ(items[1].version, "2.0");
    EXPECT_EQ(newestItem(items).title, "A");
}

// Receives the address that the dialog's button opens instead of a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

QMessageBox *shownBox()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

TEST(UpdateDialog, ShowsTheResultAndOpensTheDownloadPage)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open"); // Qt names the handler's slot by text
    UpdateDialog dialog;

    dialog.present({UpdateCheckResult::Kind::upToDate, "1.2.0", "1.2.0", {}, {}});
    ASSERT_TRUE(waitFor([] { return shownBox() != nullptr; }));

    // A new result replaces the box still shown.
    dialog.present({UpdateCheckResult::Kind::updateAvailable,
                    "1.2.0",
                    "1.3.0",
                    QUrl("https://vellora.example/download/1.3.0"),
                    {}});
    ASSERT_TRUE(waitFor([] { return shownBox() && shownBox()->text().contains("1.3.0"); }));
    QPushButton *download = nullptr;
    for (QAbstractButton *button : shownBox()->buttons()) {
        if (button->text() == "Open Download Page")
            download = qobject_cast<QPushButton *>(button);
    }
    ASSERT_NE(download, nullptr);
    download->click();
    EXPECT_EQ(catcher.opened, QList<QUrl>{QUrl("https://vellora.example/download/1.3.0")});
    ASSERT_TRUE(waitFor([] { return shownBox() == nullptr; }));

    dialog.present({UpdateCheckResult::Kind::failed, "1.2.0", {}, {}, "The update feed is not an RSS feed."});
    ASSERT_TRUE(waitFor([] { return shownBox() != nullptr; }));
    EXPECT_EQ(shownBox()->informativeText(), "The update feed is not an RSS feed."); // the reason reaches the person
    QDesktopServices::unsetUrlHandler("https");
}

} // namespace

#include "UpdateTest.moc"
