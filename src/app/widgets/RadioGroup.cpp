#include "app/widgets/RadioGroup.h"

#include <QGridLayout>
#include <QRadioButton>

namespace signetrix {

RadioGroup::RadioGroup(QWidget* parent) : QGroupBox(parent), m_grid(new QGridLayout(this))
{
    m_grid->setContentsMargins(8, 4, 8, 4);
}

void RadioGroup::setItems(const QStringList& items)
{
    m_items = items;
    rebuild();
    if (m_index >= m_items.size()) setCurrentIndex(m_items.size() - 1);
}

void RadioGroup::setColumns(int columns)
{
    m_columns = qMax(1, columns);
    rebuild();
}

QRadioButton* RadioGroup::button(int index) const
{
    return index >= 0 && index < static_cast<int>(m_buttons.size()) ? m_buttons[static_cast<size_t>(index)] : nullptr;
}

void RadioGroup::setCurrentIndex(int index)
{
    if (index >= m_items.size()) index = m_items.size() - 1;
    if (index < -1) index = -1;
    if (index == m_index) return;
    m_index = index;
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        QRadioButton* b = m_buttons[i];
        const QSignalBlocker block(b);
        // Auto-exclusivity refuses to clear the last checked button on its own.
        b->setAutoExclusive(false);
        b->setChecked(static_cast<int>(i) == m_index);
        b->setAutoExclusive(true);
    }
    emit clicked();
}

void RadioGroup::rebuild()
{
    for (QRadioButton* b : m_buttons) delete b;
    m_buttons.clear();
    // Items fill the columns top to bottom, as many rows as needed.
    const int rows = (m_items.size() + m_columns - 1) / m_columns;
    for (int i = 0; i < m_items.size(); ++i) {
        auto* b = new QRadioButton(m_items[i], this);
        b->setObjectName(objectName() + QStringLiteral("_item%1").arg(i));
        b->setChecked(i == m_index);
        m_grid->addWidget(b, rows ? i % rows : 0, rows ? i / rows : 0);
        connect(b, &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) setCurrentIndex(i);
        });
        m_buttons.push_back(b);
    }
}

} // namespace signetrix
