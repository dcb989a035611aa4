// The keyboard and screen-reader side of SlotRow, kept apart from its pointer handling and painting.
#include "Vellora/Sheet/SlotRow.h"

#include "Vellora/Paper/PaperPlainButton.h"
#include "Vellora/Sheet/RowAccessible.h"
#include "Vellora/Sheet/RowKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>

void SlotRow::keyPressEvent(QKeyEvent *event)
{
    const auto action = m_isEditing ? std::nullopt : RowKeys::actionFor(*event);
    if (!action) {
        // Typing on an empty row fills it; on a task it is left to the sheet, which opens a free row, so that a
        // stray key never overwrites a task.
        const QString text = event->text();
        const bool printable = !text.isEmpty() && text.at(0).isPrint() &&
                               !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (!m_item && !m_isEditing && printable) {
            beginEditing();
            if (m_isEditing && m_field)
                QCoreApplication::sendEvent(m_field, event);
            return;
        }
        QWidget::keyPressEvent(event);
        return;
    }
    switch (*action) {
    case RowKeys::Action::edit:
        beginEditing();
        break;
    case RowKeys::Action::toggle:
        call(m_callbacks.onToggle);
        break;
    case RowKeys::Action::remove:
        call(m_callbacks.onDelete);
        break;
    case RowKeys::Action::stepUp:
        call(m_callbacks.onStepUp);
        break;
    case RowKeys::Action::stepDown:
        call(m_callbacks.onStepDown);
        break;
    case RowKeys::Action::toBacklog:
        call(m_callbacks.onSendToBacklog);
        break;
    case RowKeys::Action::previous:
    case RowKeys::Action::next:
        call(m_callbacks.onFocusNeighbour, *action == RowKeys::Action::next);
        break;
    }
    event->accept();
}

void SlotRow::updateAccessibleNames()
{
    const int position = m_id.section(QLatin1Char('.'), 2).toInt() + 1;
    // Setting a name tells assistive technology of the change; an unchanged one is not set again.
    const QString name = RowAccessible::slotName(m_block, position, m_item);
    if (name != accessibleName())
        setAccessibleName(name);
    const QString title = m_item ? m_item->title : QString();
    const std::pair<PaperPlainButton *, QString> controls[] = {
        {m_up, tr("Move up %1")}, {m_down, tr("Move down %1")}, {m_delete, tr("Delete %1")}};
    for (const auto &[control, words] : controls) {
        const QString controlName = words.arg(title).trimmed();
        if (controlName != control->accessibleName())
            control->setAccessibleName(controlName);
    }
}
