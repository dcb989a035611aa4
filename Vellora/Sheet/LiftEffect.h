#pragma once

#include "Vellora/Paper/Shadow.h"

#include <QGraphicsEffect>

// Draws a row lifted while it is being moved: slightly larger, anchored at the middle of its leading edge, over a
// soft shadow. Drawing beyond the row's own rectangle is what an effect allows and a paint event does not.
class LiftEffect : public QGraphicsEffect
{
    Q_OBJECT

public:
    // The shadow is drawn in the ink of the scheme the row is drawn in.
    explicit LiftEffect(const QColor &ink, QObject *parent = nullptr);

    QRectF boundingRectFor(const QRectF &rect) const override;

protected:
    void draw(QPainter *painter) override;

private:
    Paper::Shadow m_shadow;
};
