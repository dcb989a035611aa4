#include "cli/LinkCommand.h"

#include "Vellora/Sync/DeviceLink.h"
#include "Vellora/Sync/SyncStatus.h"
#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

using namespace SyncKit;

int linkDevice(bool json)
{
    const auto account = CloudAccount::readFile(CloudAccount::defaultFilePath());
    if (!account)
        return fail(QStringLiteral("not signed in; sign in with: vellora account sign-in SERVER USER"));
    QEventLoop loop;
    std::optional<std::variant<DeviceLink, QString>> answer;
    QObject context;
    DeviceLink::ask(*account, &context, [&](const std::variant<DeviceLink, QString> &result) {
        answer = result;
        loop.quit();
    });
    if (!answer)
        loop.exec();
    // What the request left to be let go after its answer (the cloud, its reply) goes now, before the program ends.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (const auto *why = std::get_if<QString>(&*answer))
        return fail(QStringLiteral("no sign-in code: %1").arg(*why));
    const DeviceLink &link = std::get<DeviceLink>(*answer);
    if (json) {
        const QJsonObject object{{"address", link.address},
                                 {"code", link.code},
                                 {"expiresAt", link.expiresAt.toUTC().toString(Qt::ISODate)}};
        print(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
        return 0;
    }
    if (isatty(STDOUT_FILENO)) {
        if (const auto qr = QrCode::encode(link.address)) {
            // Written as it is: print() would show the colour escapes as text.
            std::fputs(qr->terminalText().toUtf8().constData(), stdout);
        }
    }
    print(stdout, QStringLiteral("Open this address on the phone or computer to sign in to %1's planner at %2:\n"
                                 "%3\nSign-in code: %4\n"
                                 "Valid once, until %5. The page then asks for the sync passphrase.\n")
                      .arg(account->user, serverText(account->server), link.address, link.code,
                           link.expiresAt.toLocalTime().toString(QStringLiteral("HH:mm"))));
    return 0;
}
