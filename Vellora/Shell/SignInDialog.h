#pragma once

#include "Vellora/Paper/PaperDialog.h"

#include "SyncKit/CloudAccount.h"

class PaperButtonStyle;
class PaperLabel;
class QLineEdit;

// "Sign in…": the server, the user and the token. The token is checked against the server before the account
// file is written; the dialog stays open with the reason when the server refuses it or cannot be reached.
class SignInDialog : public PaperDialog
{
    Q_OBJECT

public:
    explicit SignInDialog(QString accountFile, QWidget *parent = nullptr);

private:
    void signIn();
    void showProblem(const QString &text);

    QString m_accountFile;
    QLineEdit *m_server = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_token = nullptr;
    PaperLabel *m_problem = nullptr;
    PaperButtonStyle *m_signIn = nullptr;
};
