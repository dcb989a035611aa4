#include "GlobalShortcuts/Recorder.h"

#include <QHBoxLayout>
#include <QLabel>

namespace GlobalShortcuts {

Recorder::Recorder(const Name &name, QWidget *parent) : QWidget(parent)
{
    setUp(new RecorderField(name), QString());
}

Recorder::Recorder(const QString &label, const Name &name, QWidget *parent) : QWidget(parent)
{
    setUp(new RecorderField(name), label);
}

Recorder::Recorder(const std::optional<Shortcut> &binding, QWidget *parent) : QWidget(parent)
{
    setUp(new RecorderField(binding), QString());
}

void Recorder::setUp(RecorderField *field, const QString &label)
{
    m_field = field;
    m_labelWidget = new QLabel(this);
    m_labelWidget->setBuddy(m_field);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_labelWidget);
    layout->addWidget(m_field);
    setFocusProxy(m_field);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setLabel(label);
    connect(m_field, &RecorderField::shortcutChanged, this, &Recorder::shortcutChanged);
}

void Recorder::setLabel(const QString &label)
{
    m_label = label;
    m_labelWidget->setText(label);
    m_labelWidget->setVisible(!label.isEmpty());
}

} // namespace GlobalShortcuts
