#pragma once

#include "Vellora/Paper/PaperButton.h"

#include <QVariantAnimation>

// An on/off switch in the paper look: a pill in the accent colour when on, in the rule colour when off, with a
// cream knob that slides to the side of the state. Checkable; a click or Space flips it and emits clicked(bool)
// and toggled(bool); setChecked from the program emits only toggled.
class PaperSwitch : public PaperButton
{
    Q_OBJECT

public:
    explicit PaperSwitch(const QString &objectName, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Where the knob is drawn: 0 at the off side, 1 at the on side (in between while it slides).
    qreal knobPosition() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void slide(bool on);

    QVariantAnimation m_slide;
};
