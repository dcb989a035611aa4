#include "Vellora/Shell/LinkDialog.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"

#include <QClipboard>
#include <QGuiApplication>

LinkDialog::LinkDialog(const QUrl &url, QWidget *parent)
    : PaperDialog(QStringLiteral("link"), QStringLiteral("Vellora"), parent), m_url(url)
{
    addText(QStringLiteral("link.message"), QStringLiteral("No web browser could be opened. The address is:"),
            Paper::kDialogTextSize, Paper::Role::ink);
    addText(QStringLiteral("link.address"), url.toDisplayString(), Paper::kDialogTextSize, Paper::Role::accent);

    PaperButtonStyle *close = addButton(QStringLiteral("link.close"), QStringLiteral("Close"));
    connect(close, &QAbstractButton::clicked, this, &QDialog::reject);
    m_copy = addButton(QStringLiteral("link.copy"), QStringLiteral("Copy"), true);
    connect(m_copy, &QAbstractButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_url.toString(QUrl::FullyEncoded));
        m_copy->setText(QStringLiteral("Copied"));
    });
}
