#pragma once

#include "Vellora/Paper/Paper.h"

#include <QDialog>

class PaperButtonStyle;
class PaperLabel;
class QHBoxLayout;
class QVBoxLayout;

// A small window on a sheet of paper: lines of text above a row of buttons at its foot, in the scheme of the window
// it belongs to. The app's own dialogs (About, an address to copy) are made of it.
class PaperDialog : public QDialog
{
    Q_OBJECT

public:
    PaperDialog(const QString &objectName, const QString &title, QWidget *parent = nullptr);

    // A line (or a few, wrapped) of text in the system font at that size, in that colour.
    PaperLabel *addText(const QString &objectName, const QString &text, int pixelSize, Paper::Role role);
    // A widget of its own between the lines.
    void addWidget(QWidget *widget, Qt::Alignment alignment = {});
    // A button in the foot row, the primary one last, as the desktop places the default button.
    PaperButtonStyle *addButton(const QString &objectName, const QString &text, bool primary = false);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_lines = nullptr;
    QHBoxLayout *m_buttons = nullptr;
};
