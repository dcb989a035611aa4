#pragma once

#include <QPlainTextEdit>

// The text field of a row being edited: plain, without border or background, one or two lines high. Return
// submits, Escape cancels; losing the keyboard focus to another part of the window ends the edit as well.
class SlotField : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit SlotField(QWidget *parent = nullptr);

    // The wrapped lines the text takes now (at least one).
    int lineCount() const;
    void setTextColor(const QColor &text, const QColor &placeholder);

signals:
    void submitted();
    void cancelled();
    void focusLost();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
};
