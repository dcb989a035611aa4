#include "Vellora/Sync/DeviceLink.h"

#include "SyncKit/HttpCloud.h"
#include "Vellora/Sync/AppSync.h"

#include <QCoreApplication>
#include <QPointer>

#include <qrencode.h>

#include <memory>

using namespace SyncKit;

QString DeviceLink::pageAddress(const QString &server, const QString &code)
{
    QString base = server;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QStringLiteral("/#link=") + code;
}

void DeviceLink::ask(const CloudAccount &account, QObject *context,
                     std::function<void(const std::variant<DeviceLink, QString> &)> done)
{
    HttpCloud::Timing timing;
    timing.retries = 0;
    timing.transferTimeout = std::chrono::seconds(15);
    timing.push = false;
    // Kept alive by its own answer, which it always gives (at the latest when the transfer times out).
    auto cloud = std::make_shared<HttpCloud>(account, timing);
    cloud->askLinkCode(account, [cloud, server = account.server, guard = QPointer<QObject>(context),
                                 done = std::move(done)](const CloudResult<CloudProtocol::LinkCode> &answer) mutable {
        // Let go once its own call has returned: an HttpCloud never goes away inside its answer.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [keep = std::move(cloud)] {}, Qt::QueuedConnection);
        if (!guard)
            return;
        if (!answer.ok())
            return done(AppSync::describe(answer.error()));
        const CloudProtocol::LinkCode &link = answer.value();
        done(DeviceLink{pageAddress(server, link.code), link.code, link.expiresAt});
    });
}

std::optional<QrCode> QrCode::encode(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char *>(bytes.constData()), 0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code)
        return std::nullopt;
    QrCode qr;
    qr.m_size = code->width;
    qr.m_dark.reserve(qsizetype(code->width) * code->width);
    for (int i = 0; i < code->width * code->width; ++i)
        qr.m_dark.append((code->data[i] & 1) != 0); // the lowest bit of each module says dark
    return qr;
}

QString QrCode::terminalText() const
{
    const auto dark = [this](int x, int y) {
        return x >= 0 && y >= 0 && x < m_size && y < m_size && isDark(x, y);
    };
    // ESC[3Xm sets the upper half's colour, ESC[4Xm the lower's: 0 black, 7 white.
    QString text;
    for (int y = -kQuietZone; y < m_size + kQuietZone; y += 2) {
        for (int x = -kQuietZone; x < m_size + kQuietZone; ++x)
            text += QStringLiteral("\x1b[%1;%2m\u2580").arg(dark(x, y) ? 30 : 37).arg(dark(x, y + 1) ? 40 : 47);
        text += QStringLiteral("\x1b[0m\n");
    }
    return text;
}
