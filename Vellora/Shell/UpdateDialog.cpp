#include "Vellora/Shell/UpdateDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

UpdateDialog::~UpdateDialog()
{
    delete m_box;
}

void UpdateDialog::present(const UpdateCheckResult &result)
{
    delete m_box;
    QWidget *window = QApplication::activeWindow();
    m_box = new QMessageBox(window);
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    m_box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    m_box->setWindowTitle(QStringLiteral("Software Update"));

    switch (result.kind) {
    case UpdateCheckResult::Kind::updateAvailable: {
        m_box->setIcon(QMessageBox::Information);
        m_box->setText(QStringLiteral("Vellora %1 is available").arg(result.latestVersion));
        m_box->setInformativeText(
            QStringLiteral("You have version %1. Its download page has the new version.").arg(result.currentVersion));
        QPushButton *download = m_box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
        m_box->addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
        m_box->setDefaultButton(download);
        const QUrl page = result.downloadPage;
        QObject::connect(download, &QPushButton::clicked, download, [page] { QDesktopServices::openUrl(page); });
        break;
    }
    case UpdateCheckResult::Kind::upToDate:
        m_box->setIcon(QMessageBox::Information);
        m_box->setText(QStringLiteral("Vellora is up to date"));
        m_box->setInformativeText(QStringLiteral("Version %1 is the newest version.").arg(result.currentVersion));
        m_box->addButton(QMessageBox::Ok);
        break;
    case UpdateCheckResult::Kind::failed:
        m_box->setIcon(QMessageBox::Warning);
        m_box->setText(QStringLiteral("Vellora could not check for updates"));
        m_box->setInformativeText(result.error);
        m_box->addButton(QMessageBox::Ok);
        break;
    }
    m_box->open();
}
