#include "Vellora/Shell/SignInDialog.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sync/AppSync.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QUrl>

SignInDialog::SignInDialog(QString accountFile, QWidget *parent)
    : PaperDialog(QStringLiteral("signIn"), QStringLiteral("Sign in"), parent), m_accountFile(std::move(accountFile))
{
    addText(QStringLiteral("signIn.message"),
            QStringLiteral("Sign in to your sync server with the token that “vellora-cloud user add” printed."),
            Paper::kDialogTextSize, Paper::Role::ink);
    auto *fields = new QWidget;
    auto *form = new QFormLayout(fields);
    form->setContentsMargins(0, 0, 0, 0);
    const auto field = [&](const QString &name, const QString &label, const QString &placeholder) {
        auto *edit = new QLineEdit;
        edit->setObjectName(name);
        edit->setPlaceholderText(placeholder);
        edit->setAccessibleName(label);
        form->addRow(label, edit);
        return edit;
    };
    m_server =
        field(QStringLiteral("signIn.server"), QStringLiteral("&Server:"), QStringLiteral("https://cloud.example.org"));
    m_user = field(QStringLiteral("signIn.user"), QStringLiteral("&User:"), QString());
    m_token = field(QStringLiteral("signIn.token"), QStringLiteral("&Token:"), QString());
    m_token->setEchoMode(QLineEdit::Password);
    if (const auto current = SyncKit::CloudAccount::readFile(m_accountFile)) {
        m_server->setText(current->server);
        m_user->setText(current->user);
    }
    addWidget(fields);
    m_problem = addText(QStringLiteral("signIn.problem"), QString(), Paper::kDialogTextSize, Paper::Role::accent);
    m_problem->hide();

    PaperButtonStyle *cancel = addButton(QStringLiteral("signIn.cancel"), QStringLiteral("Cancel"));
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    m_signIn = addButton(QStringLiteral("signIn.signIn"), QStringLiteral("Sign In"), true);
    // Return in any field presses it too, as the dialog's default button.
    connect(m_signIn, &QAbstractButton::clicked, this, &SignInDialog::signIn);
}

void SignInDialog::showProblem(const QString &text)
{
    m_problem->setText(text);
    m_problem->show();
    m_signIn->setEnabled(true);
}

void SignInDialog::signIn()
{
    const SyncKit::CloudAccount account{m_server->text().trimmed(), m_user->text().trimmed(),
                                        m_token->text().trimmed()};
    const QUrl url(account.server);
    if (!url.isValid() || (url.scheme() != "https" && url.scheme() != "http") || url.host().isEmpty())
        return showProblem(QStringLiteral("Give the server as https://host."));
    if (account.user.isEmpty() || account.token.isEmpty())
        return showProblem(QStringLiteral("Give the user and the token."));
    m_signIn->setEnabled(false);
    m_problem->setText(QStringLiteral("Checking…"));
    m_problem->show();
    AppSync::checkAccount(account, this, [this, account](const std::optional<QString> &reason) {
        if (reason)
            return showProblem(QStringLiteral("Not signed in: %1.").arg(*reason));
        if (!account.writeFile(m_accountFile))
            return showProblem(QStringLiteral("The account file %1 cannot be written.").arg(m_accountFile));
        accept();
    });
}
