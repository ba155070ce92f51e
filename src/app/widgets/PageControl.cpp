#include "app/widgets/PageControl.h"

namespace signetrix {

PageControl::PageControl(QWidget* parent) : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, &PageControl::onCurrentChanged);
}

void PageControl::setActivePage(QWidget* page)
{
    const ProgrammaticChange programmatic(this);
    setCurrentWidget(page);
    m_current = currentWidget();
}

void PageControl::setPageTabVisible(QWidget* page, bool visible)
{
    const int i = indexOf(page);
    if (i < 0) return;
    const ProgrammaticChange programmatic(this);
    setTabVisible(i, visible);
    m_current = currentWidget();
}

bool PageControl::isPageTabVisible(QWidget* page) const
{
    const int i = indexOf(page);
    return i >= 0 && isTabVisible(i);
}

void PageControl::onCurrentChanged(int)
{
    QWidget* now = currentWidget();
    if (m_programmatic > 0 || m_current == nullptr) {
        m_current = now;
        return;
    }
    if (now == m_current) return;
    if (m_guard && !m_guard(m_current)) {
        setActivePage(m_current);
        return;
    }
    m_current = now;
    emit pageChanged(now);
}

} // namespace signetrix
