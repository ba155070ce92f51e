#pragma once
// A captioned group of mutually exclusive choices laid out in columns. The
// choice is one integer, currentIndex, which the settings file stores: a value
// above the last item selects the last item and anything below 0 means "no
// choice", so a hand-edited file can never leave the group in a state the
// program does not know. Every change of the choice, by the user or by the
// program, emits clicked(); setting the same choice again emits nothing.
#include <QGroupBox>
#include <QStringList>

#include <vector>

class QRadioButton;
class QGridLayout;

namespace signetrix {

class RadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList items READ items WRITE setItems)
    Q_PROPERTY(int columns READ columns WRITE setColumns)
    Q_PROPERTY(int currentIndex READ currentIndex WRITE setCurrentIndex NOTIFY clicked)

public:
    explicit RadioGroup(QWidget* parent = nullptr);

    QStringList items() const { return m_items; }
    void setItems(const QStringList& items);
    int columns() const { return m_columns; }
    void setColumns(int columns);
    int currentIndex() const { return m_index; }
    void setCurrentIndex(int index);

    QRadioButton* button(int index) const; // nullptr outside the items

signals:
    void clicked();

private:
    void rebuild();

    QStringList m_items;
    int m_columns = 1;
    int m_index = -1;
    std::vector<QRadioButton*> m_buttons;
    QGridLayout* m_grid;
};

} // namespace signetrix
