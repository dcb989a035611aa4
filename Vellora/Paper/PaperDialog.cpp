#include "Vellora/Paper/PaperDialog.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

PaperDialog::PaperDialog(const QString &objectName, const QString &title, QWidget *parent) : QDialog(parent)
{
    setObjectName(objectName);
    setWindowTitle(title);
    // A dialog is a window of its own; this lets it take the scheme of the window it belongs to, and follow it.
    setAttribute(Qt::WA_WindowPropagation);
    setFixedWidth(Paper::kDialogWidth);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(Paper::kDialogPadding, Paper::kDialogPadding, Paper::kDialogPadding,
                               Paper::kDialogPadding);
    layout->setSpacing(Paper::kDialogSpacing);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_lines = new QVBoxLayout;
    m_lines->setSpacing(Paper::kDialogSpacing);
    layout->addLayout(m_lines);
    layout->addSpacing(Paper::kDialogSpacing);
    m_buttons = new QHBoxLayout;
    m_buttons->addStretch();
    layout->addLayout(m_buttons);
}

PaperLabel *PaperDialog::addText(const QString &objectName, const QString &text, int pixelSize, Paper::Role role)
{
    auto *label = new PaperLabel(objectName, role, Paper::systemFont(pixelSize), this);
    label->setMaxLines(0);
    label->setText(text);
    const int width = Paper::kDialogWidth - 2 * Paper::kDialogPadding;
    // The dialog's size is fixed by its contents, so each text gets the height its wrapped lines need.
    // Laid out as it is painted, line by line with each line's own height: a wrapped text of several lines needs a
    // little more than its line count times the font's height.
    const QRect wrapped = QFontMetrics(label->font()).boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text);
    label->setFixedSize(width, std::max(label->heightForWidth(width), wrapped.height()));
    m_lines->addWidget(label);
    return label;
}

void PaperDialog::addWidget(QWidget *widget, Qt::Alignment alignment)
{
    m_lines->addWidget(widget, 0, alignment);
}

PaperButtonStyle *PaperDialog::addButton(const QString &objectName, const QString &text, bool primary)
{
    auto *button = new PaperButtonStyle(objectName, text, primary, this);
    m_buttons->addWidget(button);
    if (primary) {
        button->setFocus();
        m_default = button;
    }
    return button;
}

void PaperDialog::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (m_default && m_default->isVisible() && m_default->isEnabled())
            m_default->click();
        return;
    }
    QDialog::keyPressEvent(event); // Escape rejects
}

void PaperDialog::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Paper::palette(this).paper);
}
