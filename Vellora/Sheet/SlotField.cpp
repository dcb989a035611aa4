#include "Vellora/Sheet/SlotField.h"

#include "Vellora/Paper/Metrics.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextLayout>

SlotField::SlotField(QWidget *parent) : QPlainTextEdit(parent)
{
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    connect(this, &QPlainTextEdit::textChanged, this, &SlotField::limitLength);
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
    // Tab moves between rows rather than to the next widget of the window.
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (plain && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
            event->accept();
            emit tabbed(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
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

void SlotField::insertFromMimeData(const QMimeData *source)
{
    // A huge paste is cut before it reaches the layout, which would take long over text that is dropped anyway.
    if (!source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    const qsizetype room =
        Paper::kFieldMaxLength - (document()->characterCount() - 1) + textCursor().selectedText().size();
    const QString text = source->text();
    insertPlainText(text.left(std::max<qsizetype>(0, room)));
    if (room <= 0 && !text.isEmpty())
        emit limitReached(); // nothing was inserted, so no change of the text says so
    ensureCursorVisible();
}

void SlotField::limitLength()
{
    const int excess = document()->characterCount() - 1 - Paper::kFieldMaxLength;
    if (excess < 0)
        return;
    emit limitReached();
    if (excess == 0)
        return;
    // What went past the limit was just typed or inserted before the cursor.
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, std::min(excess, cursor.position()));
    cursor.removeSelectedText();
    if (document()->characterCount() - 1 > Paper::kFieldMaxLength) {
        cursor.movePosition(QTextCursor::End);
        cursor.setPosition(Paper::kFieldMaxLength, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}
