#include "Vellora/Sheet/SlotField.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextLayout>

SlotField::SlotField(QWidget *parent) : QPlainTextEdit(parent)
{
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
    document()->setDocumentMargin(0);
    setViewportMargins(0, 0, 0, 0);
    setContentsMargins(0, 0, 0, 0);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setBackgroundVisible(false);
}

int SlotField::lineCount() const
{
    int lines = 0;
    for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next())
        lines += block.layout() ? std::max(1, block.layout()->lineCount()) : 1;
    return std::max(1, lines);
}

void SlotField::setTextColor(const QColor &text, const QColor &placeholder)
{
    QPalette colors = palette();
    colors.setColor(QPalette::Base, Qt::transparent);
    colors.setColor(QPalette::Text, text);
    colors.setColor(QPalette::PlaceholderText, placeholder);
    if (colors != palette())
        setPalette(colors);
}

bool SlotField::event(QEvent *event)
{
    // Escape belongs to the field while it is being edited, before any shortcut of the window.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            event->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

void SlotField::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        emit submitted();
        return;
    case Qt::Key_Escape:
        event->accept();
        emit cancelled();
        return;
    default:
        QPlainTextEdit::keyPressEvent(event);
    }
}

void SlotField::focusOutEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusOutEvent(event);
    // Switching to another window, or the field's own context menu, keeps the edit open.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        emit focusLost();
}
