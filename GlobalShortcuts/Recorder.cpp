#include "GlobalShortcuts/Recorder.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace GlobalShortcuts {

Recorder::Recorder(const Name &name, QWidget *parent) : QWidget(parent)
{
    setUp(new RecorderField(name), QString());
    addResetButton(name);
}

Recorder::Recorder(const QString &label, const Name &name, QWidget *parent) : QWidget(parent)
{
    setUp(new RecorderField(name), label);
    addResetButton(name);
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
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_labelWidget, 0, 0);
    layout->addWidget(m_field, 0, 1);
    setFocusProxy(m_field);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setLabel(label);
    connect(m_field, &RecorderField::shortcutChanged, this, &Recorder::shortcutChanged);
}

void Recorder::addResetButton(const Name &name)
{
    const std::optional<Shortcut> initial = name.initialShortcut();
    if (!initial)
        return;
    m_resetButton = new QPushButton(tr("Reset to %1").arg(initial->nativeText()), this);
    m_resetButton->setObjectName(QStringLiteral("resetButton"));
    m_resetButton->setFlat(true);
    m_resetButton->setAutoDefault(true); // Return presses it when it has the focus, as Space does
    static_cast<QGridLayout *>(layout())->addWidget(m_resetButton, 1, 1, Qt::AlignRight);
    // After the field in the focus chain: when the button hides after a reset, the focus moves on past the field
    // instead of landing in it and starting to record.
    setTabOrder(m_field, m_resetButton);
    const auto follow = [this, name] { m_resetButton->setVisible(m_field->shortcut() != name.initialShortcut()); };
    connect(m_resetButton, &QPushButton::clicked, this, [this, name] {
        reset(name);
        emit shortcutChanged(name.initialShortcut());
    });
    connect(&notifier(), &Notifier::shortcutByNameDidChange, this, [follow, name](const Name &changed) {
        if (changed == name)
            follow();
    });
    connect(&notifier(), &Notifier::storageDidChange, this, follow);
    follow();
}

void Recorder::setLabel(const QString &label)
{
    m_label = label;
    m_labelWidget->setText(label);
    m_labelWidget->setVisible(!label.isEmpty());
}

} // namespace GlobalShortcuts
