#pragma once

#include "Vellora/Paper/PaperDialog.h"

class AccountKeySetup;
class PaperButtonStyle;
class PaperLabel;
class QLineEdit;

// "Change passphrase…": a new sync passphrase, typed twice with a word on its strength, for the key this computer
// holds. Only the key's box on the server changes; the other computers keep syncing.
class PassphraseDialog : public PaperDialog
{
    Q_OBJECT

public:
    explicit PassphraseDialog(QString accountFile, QWidget *parent = nullptr);

private:
    void change();
    void showProblem(const QString &text);

    QString m_accountFile;
    QLineEdit *m_passphrase = nullptr;
    QLineEdit *m_again = nullptr;
    PaperLabel *m_strength = nullptr;
    PaperLabel *m_problem = nullptr;
    PaperButtonStyle *m_change = nullptr;
    AccountKeySetup *m_setup = nullptr;
};
