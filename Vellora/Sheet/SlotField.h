#pragma once

#include <QPlainTextEdit>

// The text field of a row being edited: plain, without border or background, one or two lines high, holding at
// most Paper::kFieldMaxLength characters. Return submits, Escape cancels, Tab and Shift+Tab go to the next or
// previous row; losing the keyboard focus to another part of the window ends the edit as well.
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
    // Tab (forward) or Shift+Tab: the edit ends and the next or previous row opens.
    void tabbed(bool forward);
    // The text has reached the most a task may hold; what was typed or pasted past it was not taken.
    void limitReached();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    void limitLength();
};
