#pragma once

#include "Vellora/Paper/Canvas.h"
#include "Vellora/Paper/Shadow.h"

#include <QPointer>

// A page drawn as a rounded sheet of paper lying on the desk: the content, centred, at most 460 points wide (720
// when wide), on the paper colour, with a soft shadow and a margin to the window's edges.
class PaperSheet : public Paper::Canvas
{
    Q_OBJECT

public:
    // Takes the content as its child.
    explicit PaperSheet(QWidget *content, bool wide = false, QWidget *parent = nullptr);

    QWidget *content() const { return m_content; }
    // Where the paper lies, in this widget's coordinates.
    QRect sheetRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    int margin() const;

    QPointer<QWidget> m_content;
    bool m_wide = false;
    Paper::Shadow m_shadow;
};
