#include "Vellora/Shell/AboutDialog.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QUrl>

AboutDialog::AboutDialog(const QString &website, std::function<void(const QString &)> openLink, QWidget *parent)
    : PaperDialog(QStringLiteral("about"), QStringLiteral("About Vellora"), parent)
{
    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("about.icon"));
    const int size = Paper::kAboutIconSize;
    icon->setPixmap(QGuiApplication::windowIcon().pixmap(size, size));
    icon->setFixedSize(size, size);
    addWidget(icon);

    auto *name = new PaperLabel(QStringLiteral("about.name"), Paper::Role::ink, Paper::titleFont(), this);
    name->setText(QStringLiteral("Vellora"));
    addWidget(name);
    addText(QStringLiteral("about.version"), QStringLiteral("Version %1").arg(QCoreApplication::applicationVersion()),
            Paper::kDialogTextSize, Paper::Role::muted);
    addText(QStringLiteral("about.summary"), QStringLiteral("Your day on one sheet of paper."), Paper::kDialogTextSize,
            Paper::Role::ink);
    addText(QStringLiteral("about.licence"), QLatin1String(kLicence), Paper::kDialogTextSize, Paper::Role::ink);

    // The address as its own text, so that it reads as what it opens.
    auto *site = new PaperButtonStyle(QStringLiteral("about.website"), QUrl(website).host(), false, this);
    connect(site, &QAbstractButton::clicked, this, [website, openLink] {
        if (openLink)
            openLink(website);
    });
    addWidget(site, Qt::AlignLeft);
    addText(QStringLiteral("about.fontLicence"), QString::fromUtf8(kFontLicence), Paper::kDialogNoteSize,
            Paper::Role::muted);

    PaperButtonStyle *close = addButton(QStringLiteral("about.close"), QStringLiteral("Close"), true);
    connect(close, &QAbstractButton::clicked, this, &QDialog::accept);
}
