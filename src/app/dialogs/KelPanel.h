#pragma once
// A panel framed by two rounded outlines (black, then white one pixel inside),
// without bevel or caption. While Focused it shows the hand cursor.
#include <QFrame>

namespace signetrix::dialogs {

class TKelPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(bool Focused READ focused WRITE setFocused)
public:
    explicit TKelPanel(QWidget* parent = nullptr);

    bool focused() const { return m_focused; }
    // A new value changes the cursor and repaints the panel.
    void setFocused(bool focused);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_focused = false;
};

} // namespace signetrix::dialogs
