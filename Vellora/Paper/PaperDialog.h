#pragma once

#include "Vellora/Paper/Paper.h"

#include <QDialog>

class PaperButtonStyle;
class PaperLabel;
class QHBoxLayout;
class QVBoxLayout;

// A small window on a sheet of paper: lines of text above a row of buttons at its foot, in the scheme of the window
// it belongs to. Escape closes it. The app's own dialogs (About, an address to copy, sign-in) are made of it.
class PaperDialog : public QDialog
{
    Q_OBJECT

public:
    PaperDialog(const QString &objectName, const QString &title, QWidget *parent = nullptr);

    // A line (or a few, wrapped) of text in the system font at that size, in that colour.
    PaperLabel *addText(const QString &objectName, const QString &text, int pixelSize, Paper::Role role);
    // A widget of its own between the lines.
    void addWidget(QWidget *widget, Qt::Alignment alignment = {});
    // A button in the foot row, the primary one last, as the desktop places the default button. The primary one
    // is the default: Return presses it wherever the focus is, unless a focused button takes Return itself.
    PaperButtonStyle *addButton(const QString &objectName, const QString &text, bool primary = false);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    PaperButtonStyle *m_default = nullptr;
    QVBoxLayout *m_lines = nullptr;
    QHBoxLayout *m_buttons = nullptr;
};
