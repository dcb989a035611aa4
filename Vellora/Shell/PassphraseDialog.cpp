#include "Vellora/Shell/PassphraseDialog.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sync/AccountKeySetup.h"

#include <QFormLayout>
#include <QLineEdit>

using SyncKit::PassphraseStrength;

PassphraseDialog::PassphraseDialog(QString accountFile, QWidget *parent)
    : PaperDialog(QStringLiteral("passphrase"), QStringLiteral("Change passphrase"), parent),
      m_accountFile(std::move(accountFile))
{
    addText(QStringLiteral("passphrase.message"),
            QStringLiteral("Choose a new sync passphrase. Your other computers keep syncing; sign in new ones with "
                           "the new passphrase."),
            Paper::kDialogTextSize, Paper::Role::ink);
    auto *fields = new QWidget;
    auto *form = new QFormLayout(fields);
    form->setContentsMargins(0, 0, 0, 0);
    const auto field = [&](const QString &name, const QString &label) {
        auto *edit = new QLineEdit;
        edit->setObjectName(name);
        edit->setAccessibleName(label);
        edit->setEchoMode(QLineEdit::Password);
        form->addRow(label, edit);
        return edit;
    };
    m_passphrase = field(QStringLiteral("passphrase.new"), QStringLiteral("New &passphrase:"));
    m_again = field(QStringLiteral("passphrase.again"), QStringLiteral("&Again:"));
    addWidget(fields);
    m_strength = addText(QStringLiteral("passphrase.strength"), QStringLiteral("Strength: %1")
                                                                    .arg(PassphraseStrength::of({}).words),
                         Paper::kDialogTextSize, Paper::Role::ink);
    connect(m_passphrase, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_strength->setText(QStringLiteral("Strength: %1").arg(PassphraseStrength::of(text).words));
    });
    m_problem = addText(QStringLiteral("passphrase.problem"), QString(), Paper::kDialogTextSize, Paper::Role::accent);
    m_problem->hide();

    PaperButtonStyle *cancel = addButton(QStringLiteral("passphrase.cancel"), QStringLiteral("Cancel"));
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    m_change = addButton(QStringLiteral("passphrase.change"), QStringLiteral("Change"), true);
    connect(m_change, &QAbstractButton::clicked, this, &PassphraseDialog::change);
}

void PassphraseDialog::showProblem(const QString &text)
{
    m_problem->setText(text);
    m_problem->show();
    m_change->setEnabled(true);
}

void PassphraseDialog::change()
{
    const QString passphrase = m_passphrase->text();
    if (m_again->text() != passphrase)
        return showProblem(QStringLiteral("The two passphrases differ."));
    const auto account = SyncKit::CloudAccount::readFile(m_accountFile);
    if (!account)
        return showProblem(QStringLiteral("Not signed in."));
    m_change->setEnabled(false);
    m_problem->setText(QStringLiteral("Changing the passphrase…"));
    m_problem->show();
    delete m_setup;
    m_setup = new AccountKeySetup(*account, m_accountFile, this);
    m_setup->changePassphrase(passphrase, [this](const AccountKeySetup::Outcome &outcome) {
        if (outcome.error)
            return showProblem(QStringLiteral("The passphrase is unchanged: %1.").arg(*outcome.error));
        accept();
    });
}
