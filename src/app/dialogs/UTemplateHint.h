#pragma once
// The click-to-close help pop-up: a borderless window with a title band, side
// bands, a read-only text and a "click to close" band. It opens at the help
// button that was clicked and is pushed back onto the screen when the text
// would run past the bottom or right edge. Any click on it closes it; there is
// no other way to close it.
#include "app/dialogs/HelpTexts.h"

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

class QLabel;
class QPlainTextEdit;

namespace signetrix::dialogs {

// Band sizes around the text, in pixels.
inline constexpr int kHintTitleHeight = 41;
inline constexpr int kHintSideWidth = 41;
inline constexpr int kHintBottomHeight = 20;

// Where the pop-up goes: its top-left at the anchor, its size the text size
// plus the bands (and 20 pixels of slack in width); then moved up / left so it
// does not pass the bottom / right edge of the screen area. A pop-up larger
// than the screen area is held at the area's top-left and cut to its size, so
// its title is never out of reach.
QRect hintGeometry(QPoint anchor, QSize textSize, const QRect& screenArea);

class TfrmTemplateHint : public QDialog {
    Q_OBJECT
public:
    // anchor: screen position of the top-left of the clicked button's client area.
    TfrmTemplateHint(QWidget* owner, const QString& text, const QString& title, QPoint anchor);

    QString text() const { return m_text; }
    // Size of the text as the hidden measuring label lays it out (no wrapping).
    QSize measuredTextSize() const;
    // Screen area the pop-up is kept within: the available area of the anchor's screen.
    QRect screenArea() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeOnScreen();
    void layoutParts();

    QString m_text;
    QPoint m_anchor;
    QLabel* m_title;
    QLabel* m_left;
    QLabel* m_right;
    QLabel* m_bottom;
    QPlainTextEdit* m_memo;
    QLabel* m_measure;
};

// Opens the pop-up for one help table at the top-left of anchor (the help
// button), modal; returns once it has been clicked closed.
void showHelp(HelpTable table, QWidget* anchor);

} // namespace signetrix::dialogs
