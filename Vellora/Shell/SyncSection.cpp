#include "Vellora/Shell/SyncSection.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Shell/DeviceLinkDialog.h"
#include "Vellora/Shell/PassphraseDialog.h"
#include "Vellora/Shell/RecoveryKeyDialog.h"
#include "Vellora/Shell/SignInDialog.h"
#include "Vellora/Sync/AppSync.h"

#include <QBoxLayout>
#include <QPointer>

SyncSection::SyncSection(AppSync &sync, QWidget *parent) : QWidget(parent), m_sync(sync)
{
    setObjectName(QStringLiteral("settings.sync"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Paper::kSectionPartSpacing);
    m_state = new PaperLabel(QStringLiteral("settings.sync.state"), Paper::Role::ink,
                             Paper::systemFont(Paper::kSettingsTextSize), this);
    m_state->setMaxLines(0);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    m_state->setSizePolicy(policy);
    layout->addWidget(m_state);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(Paper::kChoiceSpacing);
    m_signIn = new PaperButtonStyle(QStringLiteral("settings.sync.signIn"), QStringLiteral("Sign in…"), false, this);
    m_signOut = new PaperButtonStyle(QStringLiteral("settings.sync.signOut"), QStringLiteral("Sign out"), false, this);
    m_syncNow = new PaperButtonStyle(QStringLiteral("settings.sync.now"), QStringLiteral("Sync now"), false, this);
    m_passphrase = new PaperButtonStyle(QStringLiteral("settings.sync.passphrase"), QStringLiteral("Change passphrase…"),
                                        false, this);
    buttons->addWidget(m_signIn);
    buttons->addWidget(m_signOut);
    m_link = new PaperButtonStyle(QStringLiteral("settings.sync.link"), QStringLiteral("Open on another device…"),
                                  false, this);
    buttons->addWidget(m_passphrase);
    buttons->addWidget(m_link);
    buttons->addWidget(m_syncNow);
    buttons->addStretch();
    layout->addLayout(buttons);

    connect(m_signIn, &QAbstractButton::clicked, this, &SyncSection::openSignIn);
    connect(m_passphrase, &QAbstractButton::clicked, this, [this] {
        auto *dialog = new PassphraseDialog(m_sync.accountFile(), window());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::accepted, this, [this] {
            showState();
            m_state->setText(QStringLiteral("The sync passphrase is changed; the other computers keep syncing."));
        });
        dialog->open();
    });
    connect(m_link, &QAbstractButton::clicked, this, [this] {
        const auto account = m_sync.account();
        auto *dialog = new DeviceLinkDialog(account, window());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        if (!account)
            dialog->showFailure(QStringLiteral("this computer is not signed in any more"));
        dialog->open();
    });
    connect(m_signOut, &QAbstractButton::clicked, this, &SyncSection::signOut);
    connect(m_syncNow, &QAbstractButton::clicked, this, [this] {
        m_syncing = true;
        showState();
        m_sync.syncNow([self = QPointer<SyncSection>(this)](const std::optional<QString> &reason) {
            if (!self)
                return;
            self->m_syncing = false;
            self->showState();
            if (reason)
                self->m_state->setText(QStringLiteral("Sync incomplete: %1.").arg(*reason));
        });
    });
    connect(&m_sync, &AppSync::statusChanged, this, &SyncSection::showState);
    m_tick.setInterval(30000);
    connect(&m_tick, &QTimer::timeout, this, &SyncSection::showState);
    m_tick.start();
    showState();
}

void SyncSection::openSignIn()
{
    auto *dialog = new SignInDialog(m_sync.accountFile(), window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, &SyncSection::showState);
    connect(dialog, &SignInDialog::recoveryKeyMade, this, [this](const QString &recoveryKey) {
        auto *shown = new RecoveryKeyDialog(recoveryKey, window());
        shown->setAttribute(Qt::WA_DeleteOnClose);
        shown->open();
    });
    dialog->open();
}

QString SyncSection::keyLine() const
{
    const auto account = m_sync.account();
    if (!account)
        return {};
    QString line = account->key ? QStringLiteral(" Encrypted.")
                                : QStringLiteral(" Not encrypted: sign in again to set a sync passphrase.");
    if (const qsizetype unopened = m_sync.unopenedRecords(); unopened > 0)
        line += QStringLiteral(" %1 record(s) from the server could not be opened; this computer keeps its own "
                               "copies.")
                    .arg(unopened);
    return line;
}

void SyncSection::showState()
{
    const auto account = m_sync.account();
    const bool signedIn = account.has_value();
    if (signedIn && !m_signingOut)
        m_signOutNote.clear();
    m_state->setText(m_signingOut               ? QStringLiteral("Signing out…")
                     : m_syncing                ? QStringLiteral("Syncing…")
                     : !m_signOutNote.isEmpty() ? m_signOutNote
                                                : m_sync.statusLine() + keyLine());
    m_signIn->setText(signedIn ? QStringLiteral("Switch account…") : QStringLiteral("Sign in…"));
    m_signIn->setEnabled(!m_signingOut);
    m_signOut->setVisible(signedIn);
    m_signOut->setEnabled(!m_signingOut);
    m_syncNow->setVisible(signedIn);
    m_passphrase->setVisible(signedIn && account->key);
    m_passphrase->setEnabled(!m_signingOut);
    m_link->setVisible(signedIn);
    m_link->setEnabled(!m_signingOut);
    m_syncNow->setEnabled(!m_syncing && !m_signingOut);
}

void SyncSection::signOut()
{
    // As `vellora account sign-out` does: what waits goes to the account's server first, for a moment at most.
    m_signingOut = true;
    showState();
    m_sync.signOut(AppSync::kSendBeforeSignOut, [self = QPointer<SyncSection>(this)](const AppSync::SignOut &result) {
        if (!self)
            return;
        self->m_signingOut = false;
        if (result.error) {
            self->showState();
            self->m_state->setText(QStringLiteral("Cannot sign out: %1.").arg(*result.error));
            return;
        }
        if (result.unsent > 0)
            self->m_signOutNote = QStringLiteral("Signed out. %1 change(s) had not reached the server (%2) and left "
                                                 "this computer with %3's tasks.")
                                      .arg(result.unsent)
                                      .arg(result.why, result.user);
        self->showState();
    });
}
