#pragma once

#include "Vellora/Paper/PaperDialog.h"

class PaperButtonStyle;
class PaperLabel;

// The recovery key of a key made now, shown once with a note to keep it: "Copy" puts it on the clipboard, "Save
// as…" writes it to a file of the person's choosing (readable by them alone).
class RecoveryKeyDialog : public PaperDialog
{
    Q_OBJECT

public:
    explicit RecoveryKeyDialog(QString recoveryKey, QWidget *parent = nullptr);

private:
    void saveAs();

    QString m_recoveryKey;
    PaperButtonStyle *m_copy = nullptr;
    PaperLabel *m_saved = nullptr;
};
