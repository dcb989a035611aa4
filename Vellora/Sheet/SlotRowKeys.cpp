// The keyboard and screen-reader side of SlotRow, kept apart from its pointer handling and painting.
#include "Vellora/Sheet/SlotRow.h"

#include "Vellora/Paper/PaperPlainButton.h"
#include "Vellora/Sheet/RowAccessible.h"
#include "Vellora/Sheet/RowKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <map>

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
    using RowKeys::Action;
    if (*action == Action::edit) {
        beginEditing();
    } else if (*action == Action::previous || *action == Action::next) {
        call(m_callbacks.onFocusNeighbour, *action == Action::next);
    } else {
        // Each of the other keys asks the sheet for one change of the row's task.
        static const std::map<Action, std::function<void()> Callbacks::*> kChanges = {
            {Action::toggle, &Callbacks::onToggle},
            {Action::remove, &Callbacks::onDelete},
            {Action::stepUp, &Callbacks::onStepUp},
            {Action::stepDown, &Callbacks::onStepDown},
            {Action::toBacklog, &Callbacks::onSendToBacklog}};
        call(m_callbacks.*kChanges.at(*action));
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
