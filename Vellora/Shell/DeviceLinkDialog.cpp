#include "Vellora/Shell/DeviceLinkDialog.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kModulePixels = 5;
constexpr int kImageQuietZone = 4; // modules of white around the code, as scanners expect

// Black on white whatever the scheme: a QR code drawn the other way round is not read by every scanner.
QPixmap qrPixmap(const QrCode &code, qreal ratio)
{
    const int modules = code.size() + 2 * kImageQuietZone;
    QImage image(modules, modules, QImage::Format_Mono);
    image.fill(1);
    for (int y = 0; y < code.size(); ++y) {
        for (int x = 0; x < code.size(); ++x) {
            if (code.isDark(x, y))
                image.setPixel(x + kImageQuietZone, y + kImageQuietZone, 0);
        }
    }
    const int side = qRound(modules * kModulePixels * ratio);
    QPixmap pixmap = QPixmap::fromImage(image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

// A dialog's texts have the height of the lines they were made with: a new text gets the height its own lines need.
void setWrappedText(PaperLabel *label, const QString &text)
{
    label->setText(text);
    const int width = label->width();
    const QRect wrapped = QFontMetrics(label->font()).boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text);
    label->setFixedHeight(std::max(label->heightForWidth(width), wrapped.height()));
}

} // namespace

DeviceLinkDialog::DeviceLinkDialog(const std::optional<SyncKit::CloudAccount> &account, QWidget *parent)
    : PaperDialog(QStringLiteral("deviceLink"), QStringLiteral("Open on another device"), parent)
{
    m_message = addText(QStringLiteral("deviceLink.message"), QStringLiteral("Asking the server for a sign-in code…"),
                        Paper::kDialogTextSize, Paper::Role::ink);
    m_code = new QLabel;
    m_code->setObjectName(QStringLiteral("deviceLink.qrCode"));
    m_code->setAccessibleName(QStringLiteral("QR code of the sign-in address"));
    m_code->hide();
    addWidget(m_code, Qt::AlignHCenter);
    m_address = new QLineEdit;
    m_address->setObjectName(QStringLiteral("deviceLink.address"));
    m_address->setAccessibleName(QStringLiteral("Sign-in address"));
    m_address->setReadOnly(true);
    m_address->hide();
    addWidget(m_address);
    m_valid = addText(QStringLiteral("deviceLink.valid"), QString(), Paper::kDialogTextSize, Paper::Role::ink);
    m_valid->hide();

    m_copy = addButton(QStringLiteral("deviceLink.copy"), QStringLiteral("Copy"));
    m_copy->setEnabled(false);
    connect(m_copy, &QAbstractButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_address->text());
        m_copy->setText(QStringLiteral("Copied"));
    });
    PaperButtonStyle *done = addButton(QStringLiteral("deviceLink.done"), QStringLiteral("Done"), true);
    connect(done, &QAbstractButton::clicked, this, &QDialog::accept);

    if (account) {
        DeviceLink::ask(*account, this, [this](const std::variant<DeviceLink, QString> &answer) {
            if (const auto *link = std::get_if<DeviceLink>(&answer))
                showLink(*link);
            else
                showFailure(std::get<QString>(answer));
        });
    }
}

void DeviceLinkDialog::showLink(const DeviceLink &link)
{
    setWrappedText(m_message, QStringLiteral("Scan the code with the phone, or open the address on the other device, "
                                             "to sign in to your planner there. It then asks for the sync passphrase."));
    if (const auto code = QrCode::encode(link.address)) {
        m_code->setPixmap(qrPixmap(*code, devicePixelRatioF()));
        m_code->show();
    }
    m_address->setText(link.address);
    m_address->setCursorPosition(0);
    m_address->show();
    setWrappedText(m_valid, QStringLiteral("Valid once, until %1.")
                                .arg(link.expiresAt.toLocalTime().toString(QStringLiteral("HH:mm"))));
    m_valid->show();
    m_copy->setEnabled(true);
    m_address->setFocus();
    m_address->selectAll();
    adjustSize();
}

void DeviceLinkDialog::showFailure(const QString &why)
{
    m_message->setRole(Paper::Role::accent);
    setWrappedText(m_message, QStringLiteral("No sign-in code: %1.").arg(why));
    m_copy->hide();
    adjustSize();
}
