#pragma once

#include <QAbstractButton>

// What the paper buttons share: Return and Enter press a focused one, as they press a focused button on the
// desktops (Space Qt's button handles itself), and only its rounded shape takes clicks.
class PaperButton : public QAbstractButton
{
public:
    // `radius`: the corners of the shape that takes clicks; 0 for the whole rectangle.
    explicit PaperButton(qreal radius, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    qreal m_radius;
};
