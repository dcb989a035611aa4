#include "Vellora/Shell/SignInDialog.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sync/AccountKeySetup.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QUrl>

using SyncKit::PassphraseStrength;

SignInDialog::SignInDialog(QString accountFile, QWidget *parent)
    : PaperDialog(QStringLiteral("signIn"), QStringLiteral("Sign in"), parent), m_accountFile(std::move(accountFile))
{
    addText(QStringLiteral("signIn.message"),
            QStringLiteral("Sign in to your sync server with the token that “vellora-cloud user add” printed. Your "
                           "tasks are encrypted with the sync passphrase before they leave this computer."),
            Paper::kDialogTextSize, Paper::Role::ink);
    auto *fields = new QWidget;
    m_form = new QFormLayout(fields);
    m_form->setContentsMargins(0, 0, 0, 0);
    const auto field = [&](const QString &name, const QString &label, const QString &placeholder) {
        auto *edit = new QLineEdit;
        edit->setObjectName(name);
        edit->setPlaceholderText(placeholder);
        edit->setAccessibleName(label);
        m_form->addRow(label, edit);
        return edit;
    };
    m_server =
        field(QStringLiteral("signIn.server"), QStringLiteral("&Server:"), QStringLiteral("https://cloud.example.org"));
    m_user = field(QStringLiteral("signIn.user"), QStringLiteral("&User:"), QString());
    m_token = field(QStringLiteral("signIn.token"), QStringLiteral("&Token:"), QString());
    m_recoveryKey = field(QStringLiteral("signIn.recoveryKey"), QStringLiteral("&Recovery key:"), QString());
    m_passphrase = field(QStringLiteral("signIn.passphrase"), QStringLiteral("Sync &passphrase:"), QString());
    m_again = field(QStringLiteral("signIn.again"), QStringLiteral("&Again:"), QString());
    for (QLineEdit *secret : {m_token, m_passphrase, m_again})
        secret->setEchoMode(QLineEdit::Password);
    m_form->setRowVisible(m_recoveryKey, false);
    m_form->setRowVisible(m_again, false);
    if (const auto current = SyncKit::CloudAccount::readFile(m_accountFile)) {
        m_server->setText(current->server);
        m_user->setText(current->user);
    }
    addWidget(fields);
    m_strength = addText(QStringLiteral("signIn.strength"), QString(), Paper::kDialogTextSize, Paper::Role::ink);
    m_strength->hide();
    connect(m_passphrase, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_strength->setText(QStringLiteral("Strength: %1").arg(PassphraseStrength::of(text).words));
    });
    m_problem = addText(QStringLiteral("signIn.problem"), QString(), Paper::kDialogTextSize, Paper::Role::accent);
    m_problem->hide();

    PaperButtonStyle *cancel = addButton(QStringLiteral("signIn.cancel"), QStringLiteral("Cancel"));
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    m_useRecovery = addButton(QStringLiteral("signIn.useRecoveryKey"), QStringLiteral("Use recovery key"));
    connect(m_useRecovery, &QAbstractButton::clicked, this, &SignInDialog::useRecoveryKey);
    m_signIn = addButton(QStringLiteral("signIn.signIn"), QStringLiteral("Sign In"), true);
    // Return in any field presses it too, as the dialog's default button.
    connect(m_signIn, &QAbstractButton::clicked, this, &SignInDialog::signIn);
}

void SignInDialog::useRecoveryKey()
{
    // The recovery key opens the account; the passphrase typed below becomes its new one.
    m_form->setRowVisible(m_recoveryKey, true);
    m_form->labelForField(m_passphrase)->setProperty("text", QStringLiteral("New sync &passphrase:"));
    m_useRecovery->hide();
    showChoosing(true);
    m_recoveryKey->setFocus();
}

void SignInDialog::showChoosing(bool choosing)
{
    m_choosing = choosing;
    m_form->setRowVisible(m_again, choosing);
    m_strength->setVisible(choosing);
    m_strength->setText(QStringLiteral("Strength: %1").arg(PassphraseStrength::of(m_passphrase->text()).words));
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
    if (m_passphrase->text().isEmpty())
        return showProblem(QStringLiteral("Give the sync passphrase."));
    m_signIn->setEnabled(false);
    m_problem->setText(QStringLiteral("Checking…"));
    m_problem->show();
    delete m_setup; // a lookup of before may be for another server, user or token
    m_setup = new AccountKeySetup(account, m_accountFile, this);
    m_setup->lookUp([this](const std::optional<QString> &reason) {
        if (reason)
            return showProblem(QStringLiteral("Not signed in: %1.").arg(*reason));
        const bool choosing = m_choosing || !m_setup->accountHasKey();
        if (choosing && !m_choosing) {
            // Learnt only now: the account has no key yet, so this passphrase is chosen now.
            showChoosing(true);
            m_again->setFocus();
            return showProblem(QStringLiteral("This account has no key yet: its sync passphrase is chosen now. Type "
                                              "it again below, and keep it: every computer of yours needs it."));
        }
        withKey(choosing);
    });
}

void SignInDialog::withKey(bool choosing)
{
    const QString passphrase = m_passphrase->text();
    if (choosing && m_again->text() != passphrase)
        return showProblem(QStringLiteral("The two passphrases differ."));
    if (choosing && !PassphraseStrength::of(passphrase).acceptable)
        return showProblem(QStringLiteral("The passphrase is %1.").arg(PassphraseStrength::of(passphrase).words));
    const bool recovering = m_form->isRowVisible(m_recoveryKey);
    m_problem->setText(!m_setup->accountHasKey() ? QStringLiteral("Making the account's key…")
                                                 : QStringLiteral("Opening the account's key…"));
    const auto done = [this](const AccountKeySetup::Outcome &outcome) {
        if (outcome.error)
            return showProblem(QStringLiteral("Not signed in: %1.").arg(*outcome.error));
        const QString recoveryKey = outcome.recoveryKey;
        accept();
        if (!recoveryKey.isEmpty())
            emit recoveryKeyMade(recoveryKey);
    };
    if (recovering)
        m_setup->recover(m_recoveryKey->text(), passphrase, done);
    else
        m_setup->signIn(passphrase, done);
}
