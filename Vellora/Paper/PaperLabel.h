#pragma once

#include "Vellora/Paper/Paper.h"

#include <QWidget>

#include <optional>

class QTextLayout;

// A text drawn in one of the paper colours. It keeps its colour when the scheme changes, wraps when asked, and
// cuts a text that needs more lines than it may have with "…".
class PaperLabel : public QWidget
{
    Q_OBJECT

public:
    PaperLabel(const QString &objectName, Paper::Role role, const QFont &font, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    void setRole(Paper::Role role);
    // 1: one line; n > 1: wraps and is cut after n lines; 0: wraps without limit.
    void setMaxLines(int lines);
    void setAlignment(Qt::Alignment alignment);
    // A line through the text in its own colour, for done items.
    void setStruckOut(bool struckOut);
    bool isStruckOut() const { return font().strikeOut(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_maxLines != 1; }
    int heightForWidth(int width) const override;

    // The lines a text takes at a width when wrapped at word boundaries, or anywhere in a word too long for a line.
    static int lineCount(const QString &text, const QFont &font, qreal width);
    static qreal lineHeight(const QFont &font);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // The label's font, or for a text in a script the handwriting lacks, a face of the same apparent size.
    QFont drawnFont() const;
    int linesAt(qreal width) const;
    // The part of the text that can be shown: all of it without a line limit, else its start.
    QString shown() const;

    QString m_text;
    mutable std::optional<QFont> m_drawnFont;
    // The last measured width and the lines the text takes there: layouts ask again and again.
    mutable qreal m_measuredWidth = -1;
    mutable int m_measuredLines = 1;
    Paper::Role m_role;
    int m_maxLines = 1;
    Qt::Alignment m_alignment = Qt::AlignLeft;
};
