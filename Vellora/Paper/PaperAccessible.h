#pragma once

#include <QAccessibleWidget>

// How the paper widgets read to assistive technology. A PaperLabel is a label named by its text (or a heading, or a
// notification, as its page says); a PaperChoiceStyle is a radio button whose checked state is its selection; any
// other widget given a role here (a container of rows as a list) reads with that role.
class PaperAccessible : public QAccessibleWidget
{
public:
    explicit PaperAccessible(QWidget *widget);

    QAccessible::Role role() const override;
    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

    // Makes the paper widgets read as PaperAccessible; called before the first one is made, does its work once.
    static void install();
    // The role the widget reads with, in place of the one its class gives it.
    static void setRole(QWidget *widget, QAccessible::Role role);
    // Tells assistive technology that the widget has just appeared, also when it only changed its text while it
    // was shown: a notification is read out at that moment.
    static void announce(QWidget *widget);
    // Tells assistive technology that the widget's name changed.
    static void nameChanged(QWidget *widget);
    // Tells assistive technology that the widget's checked state changed.
    static void checkedChanged(QWidget *widget);
};
