#pragma once
// Tells a panel the user can see from one that is only marked visible: counts
// the paints a widget has received since it was last shown.
#include <QEvent>
#include <QObject>
#include <QWidget>

namespace signetrix::test {

class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget) : m_widget(widget) { widget->installEventFilter(this); }
    // Visible (all its parents too) and painted since it appeared.
    bool onScreen() const { return m_widget->isVisible() && m_paints > 0; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_widget) {
            if (event->type() == QEvent::Show) m_paints = 0;
            else if (event->type() == QEvent::Paint) ++m_paints;
        }
        return false;
    }

private:
    QWidget* m_widget;
    int m_paints = 0;
};

} // namespace signetrix::test
