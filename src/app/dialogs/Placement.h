#pragma once
// Centring of the small dialogs on the screen.
#include <QRect>
#include <QSize>

class QWidget;

namespace signetrix::dialogs {

// Top-left that centres a window of the given size on the screen:
// top = screen top + (screen height div 2) - (height div 2), left likewise.
QPoint centredOn(const QRect& screen, QSize size);
// Moves the window there, on the screen of its owner (else the primary one).
void centreOnScreen(QWidget* window);

} // namespace signetrix::dialogs
