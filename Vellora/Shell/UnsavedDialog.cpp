#include "Vellora/Shell/UnsavedDialog.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"

UnsavedDialog::UnsavedDialog(const QString &reason, QWidget *parent)
    : PaperDialog(QStringLiteral("unsaved"), QStringLiteral("Vellora"), parent)
{
    addText(QStringLiteral("unsaved.message"), QStringLiteral("Your latest changes are not saved: %1.").arg(reason),
            Paper::kDialogTextSize, Paper::Role::ink);
    addText(QStringLiteral("unsaved.consequence"), QStringLiteral("Quitting now loses them."), Paper::kDialogTextSize,
            Paper::Role::muted);
    const auto answer = [this](const QString &name, const QString &text, Choice choice, bool primary = false) {
        PaperButtonStyle *button = addButton(name, text, primary);
        connect(button, &QAbstractButton::clicked, this, [this, choice] {
            m_choice = choice;
            choice == Choice::stay ? reject() : accept();
        });
    };
    answer(QStringLiteral("unsaved.stay"), QStringLiteral("Cancel"), Choice::stay);
    answer(QStringLiteral("unsaved.quit"), QStringLiteral("Quit and lose the changes"), Choice::quit);
    answer(QStringLiteral("unsaved.retry"), QStringLiteral("Retry"), Choice::retry, true);
}

UnsavedDialog::Choice UnsavedDialog::ask(const QString &reason, QWidget *parent)
{
    UnsavedDialog dialog(reason, parent);
    dialog.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    dialog.exec();
    return dialog.choice();
}
