// `vellora account link` against a real vellora-cloud on 127.0.0.1: the page's address with a code that signs a
// device in once, and the words when there is no code to be had.
#include "SyncKit/CloudProtocol.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/cli/Computer.h"

#include <QRegularExpression>

namespace {

class AccountLinkTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << server.error().toStdString(); }

    Outcome signIn(Computer &computer)
    {
        return computer.run({"account", "sign-in", server.url(), "anna", "--passphrase-file",
                             computer.secretFile(QStringLiteral("the first passphrase"))},
                            {}, token.toUtf8() + '\n');
    }
    Answer redeem(const QString &code)
    {
        return rawRequest(server.port(), SyncKit::CloudProtocol::kLinkRedeemPath,
                          QJsonDocument(QJsonObject{{"code", code}}).toJson(QJsonDocument::Compact));
    }

    CloudServerProcess server;
    QString token = server.addUser("anna");
};

} // namespace

TEST_F(AccountLinkTest, PrintsThePagesAddressWithACodeThatSignsInOnce)
{
    Computer desk;
    ASSERT_EQ(signIn(desk).exitCode, 0);
    const Outcome linked = desk.run({"account", "link"});
    ASSERT_EQ(linked.exitCode, 0) << linked.err.toStdString();
    const auto found = QRegularExpression(QStringLiteral("^%1/#link=([A-Z2-9]{4}-[A-Z2-9]{4}-[A-Z2-9]{4})$")
                                              .arg(QRegularExpression::escape(server.url())),
                                          QRegularExpression::MultilineOption)
                           .match(linked.out);
    ASSERT_TRUE(found.hasMatch()) << linked.out.toStdString();
    EXPECT_TRUE(linked.out.contains("Sign-in code: " + found.captured(1))) << linked.out.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("until \\d\\d:\\d\\d")).match(linked.out).hasMatch());
    EXPECT_FALSE(linked.out.contains("\x1b[")) << "no QR code when the output is no terminal";

    const Answer first = redeem(found.captured(1));
    EXPECT_EQ(first.status, 200);
    EXPECT_TRUE(first.body.contains(R"("user":"anna")"));
    EXPECT_EQ(redeem(found.captured(1)).status, 403);

    const QJsonObject json = desk.json({"account", "link"});
    EXPECT_TRUE(json.value("address").toString().endsWith("#link=" + json.value("code").toString()));
    EXPECT_EQ(redeem(json.value("code").toString()).status, 200);
}

TEST_F(AccountLinkTest, WithoutAnAccountOrWithARefusedTokenItSaysWhy)
{
    struct Case
    {
        const char *what;
        std::function<void(Computer &)> prepare;
        QString words;
    };
    const Case cases[] = {
        {"signed out", [](Computer &) {}, QStringLiteral("not signed in")},
        {"server stopped",
         [&](Computer &computer) {
             ASSERT_EQ(signIn(computer).exitCode, 0);
             server.stop();
         },
         QStringLiteral("cannot be reached")},
        {"token revoked",
         [&](Computer &computer) {
             ASSERT_TRUE(server.start());
             ASSERT_EQ(signIn(computer).exitCode, 0);
             ASSERT_EQ(server.command({"token", "revoke", "anna"}).first, 0);
         },
         QStringLiteral("refused this account's token")},
    };
    for (const Case &c : cases) {
        Computer computer;
        c.prepare(computer);
        const Outcome outcome = computer.run({"account", "link"});
        EXPECT_EQ(outcome.exitCode, 1) << c.what;
        EXPECT_TRUE(outcome.out.isEmpty()) << c.what;
        EXPECT_TRUE(outcome.err.contains(c.words)) << c.what << ": " << outcome.err.toStdString();
    }
}
