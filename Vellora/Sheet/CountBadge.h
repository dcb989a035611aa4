#pragma once

#include <QWidget>

// A number on a small accent-coloured rounded square: the Backlog count on the Today sheet's Backlog button.
class CountBadge : public QWidget
{
    Q_OBJECT

public:
    explicit CountBadge(const QString &objectName, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setCount(qint64 count);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};
