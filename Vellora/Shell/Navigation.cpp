#include "Vellora/Shell/Navigation.h"

void Navigation::setPage(Page page)
{
    if (page == m_page)
        return;
    m_page = page;
    emit pageChanged(page);
}
