#pragma once

#include "Vellora/Paper/PaperDialog.h"

#include "SyncKit/CloudAccount.h"

class AccountKeySetup;
class PaperButtonStyle;
class PaperLabel;
class QFormLayout;
class QLineEdit;

// "Sign in…": the server, the user, the token and the sync passphrase. The token is checked against the server and
// the account's key box fetched before anything is written; an account with no key yet gets one now, and its
// passphrase is typed twice (with a word on its strength), after which the recovery key is shown once. "Use
// recovery key" opens the account with it instead, and the passphrase typed becomes the new one. The dialog stays
// open with the reason when anything is refused; the key's hashing runs off the window's thread.
class SignInDialog : public PaperDialog
{
    Q_OBJECT

public:
    explicit SignInDialog(QString accountFile, QWidget *parent = nullptr);

signals:
    // A key made now: its recovery key, to be shown once the dialog has closed.
    void recoveryKeyMade(const QString &recoveryKey);

private:
    void signIn();
    void withKey(bool choosing);
    void useRecoveryKey();
    void showChoosing(bool choosing);
    void showProblem(const QString &text);

    QString m_accountFile;
    QFormLayout *m_form = nullptr;
    QLineEdit *m_server = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_token = nullptr;
    QLineEdit *m_recoveryKey = nullptr;
    QLineEdit *m_passphrase = nullptr;
    QLineEdit *m_again = nullptr;
    PaperLabel *m_strength = nullptr;
    PaperLabel *m_problem = nullptr;
    PaperButtonStyle *m_useRecovery = nullptr;
    PaperButtonStyle *m_signIn = nullptr;
    AccountKeySetup *m_setup = nullptr;
    bool m_choosing = false; // the passphrase is chosen now: asked twice
};
