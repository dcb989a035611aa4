#pragma once

#include "Vellora/Paper/PaperDialog.h"

// Asked on quitting while the latest changes could not be saved: try again, quit and lose them, or stay. On paper
// and in the window's scheme, as the app's other dialogs; Return retries, Escape stays.
class UnsavedDialog : public PaperDialog
{
    Q_OBJECT

public:
    enum class Choice { retry, quit, stay };

    UnsavedDialog(const QString &reason, QWidget *parent = nullptr);

    Choice choice() const { return m_choice; }
    // Shows the question until it is answered.
    static Choice ask(const QString &reason, QWidget *parent);

private:
    Choice m_choice = Choice::stay;
};
