#pragma once

#include <QObject>

// Which page the main window shows. Menus, the tray menu and the pages' own buttons change pages only through
// it. Assigning the page it already shows notifies nobody. One instance for the whole run, on the main thread.
class Navigation : public QObject
{
    Q_OBJECT

public:
    enum class Page { today, backlog, settings };
    Q_ENUM(Page)

    using QObject::QObject;

    Page page() const { return m_page; }
    void setPage(Page page);

signals:
    void pageChanged(Navigation::Page page);

private:
    Page m_page = Page::today;
};
