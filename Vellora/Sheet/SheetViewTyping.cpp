// Typing on the Today sheet while no row is open: the first free row takes it, or, on a full sheet, it waits in a
// note for the Backlog; and several lines pasted into an empty row. Kept apart from the sheet's rows and layout.
#include "Vellora/Sheet/SheetView.h"

#include "Vellora/DayData/SheetText.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SlotField.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <algorithm>

bool SheetView::typeWithoutRow(QKeyEvent *event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    // What was typed on the full sheet waits, however long, until it is put somewhere or taken back.
    const bool held = !m_typed.isEmpty();
    if (held && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        putTypedInBacklog();
        return true;
    }
    if (held && event->key() == Qt::Key_Escape) {
        m_typed.clear();
    } else if (held && event->key() == Qt::Key_Backspace) {
        m_typed.chop(1);
    } else {
        const QString text = event->text();
        if (text.isEmpty() || !text.at(0).isPrint())
            return false;
        const auto free = std::find_if(m_rows.begin(), m_rows.end(), [](SlotRow *row) { return !row->item(); });
        if (free != m_rows.end()) {
            // The key opens the first free row and is the next character typed in it, after what was waiting.
            const QString waiting = std::exchange(m_typed, QString());
            if (held && m_notes)
                m_notes->hideNote();
            beginEdit((*free)->id());
            if (auto *field = (*free)->findChild<SlotField *>()) {
                field->insertPlainText(waiting);
                QCoreApplication::sendEvent(field, event);
            }
            return true;
        }
        if (m_typed.size() < Paper::kFieldMaxLength)
            m_typed += text;
    }
    if (m_notes && !m_typed.isEmpty()) {
        const QPointer<SheetView> self(this);
        m_notes->showLastingNote(tr("The sheet is full: \u201C%1\u201D can wait in the Backlog").arg(m_typed),
                                 tr("Put in Backlog"), [self] {
                                     if (self)
                                         self->putTypedInBacklog();
                                 },
                                 tr("Put \u201C%1\u201D in Backlog").arg(m_typed),
                                 held ? NoteBar::Reading::quiet : NoteBar::Reading::announced);
    } else if (m_notes) {
        m_notes->hideNote();
    }
    return true;
}

void SheetView::putTypedInBacklog()
{
    const QString text = joinedLines(std::exchange(m_typed, QString())).left(Paper::kFieldMaxLength);
    if (m_notes)
        m_notes->hideNote();
    // A full block sends a new item to the Backlog.
    change(UndoHistory::Kind::add, [&] { m_store.addItem(text, Block::small); });
}

void SheetView::keepWhatWasTyped()
{
    finishOpenEdit();
    if (!m_typed.isEmpty())
        putTypedInBacklog();
}

void SheetView::addPasted(const QStringList &titles, Block block)
{
    QList<DayItem> added;
    change(UndoHistory::Kind::add, [&] { added = m_store.addItems(titles, block); });
    const auto waiting =
        std::count_if(added.begin(), added.end(), [](const DayItem &item) { return item.isInBacklog(); });
    if (m_notes && waiting > 0)
        m_notes->showNote(waiting == 1 ? tr("1 pasted task went to the Backlog: its block is full")
                                       : tr("%1 pasted tasks went to the Backlog: their block is full").arg(waiting));
}
