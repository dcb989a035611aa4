#include "Vellora/Paper/PaperAccessible.h"

#include "Vellora/Paper/PaperChoiceStyle.h"
#include "Vellora/Paper/PaperLabel.h"

#include <QAccessibleStateChangeEvent>
#include <QVariant>

namespace {

const char *const kRoleProperty = "paperAccessibleRole";

QAccessibleInterface *paperFactory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("PaperLabel") || className == QLatin1String("PaperChoiceStyle") ||
        object->property(kRoleProperty).isValid())
        return new PaperAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

PaperAccessible::PaperAccessible(QWidget *widget) : QAccessibleWidget(widget) {}

QAccessible::Role PaperAccessible::role() const
{
    if (const QVariant role = widget()->property(kRoleProperty); role.isValid())
        return QAccessible::Role(role.toInt());
    if (qobject_cast<const PaperChoiceStyle *>(widget()))
        return QAccessible::RadioButton;
    if (qobject_cast<const PaperLabel *>(widget()))
        return QAccessible::StaticText;
    return QAccessibleWidget::role();
}

QString PaperAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
        // What is drawn is what is read.
        if (const auto *label = qobject_cast<const PaperLabel *>(widget()))
            return label->text();
        if (const auto *choice = qobject_cast<const PaperChoiceStyle *>(widget()))
            return choice->text();
    }
    return QAccessibleWidget::text(t);
}

QAccessible::State PaperAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (const auto *choice = qobject_cast<const PaperChoiceStyle *>(widget())) {
        state.checkable = true;
        state.checked = choice->selected();
    }
    return state;
}

QStringList PaperAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (qobject_cast<const PaperChoiceStyle *>(widget()) && widget()->isEnabled())
        names.prepend(pressAction());
    return names;
}

void PaperAccessible::doAction(const QString &actionName)
{
    auto *choice = qobject_cast<PaperChoiceStyle *>(widget());
    if (choice && actionName == pressAction() && choice->isEnabled())
        choice->click();
    else
        QAccessibleWidget::doAction(actionName);
}

void PaperAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(paperFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void PaperAccessible::setRole(QWidget *widget, QAccessible::Role role)
{
    install();
    widget->setProperty(kRoleProperty, int(role));
    // An interface made before the role was given (by an event about the widget) is made again with the role.
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface *made = QAccessible::queryAccessibleInterface(widget);
    if (made && !dynamic_cast<PaperAccessible *>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void PaperAccessible::announce(QWidget *widget)
{
    if (!QAccessible::isActive() || !widget->isVisible())
        return;
    QAccessibleEvent event(widget, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&event);
}

void PaperAccessible::nameChanged(QWidget *widget)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void PaperAccessible::checkedChanged(QWidget *widget)
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(widget, changed);
    QAccessible::updateAccessibility(&event);
}
