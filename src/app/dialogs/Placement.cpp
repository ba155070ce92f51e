#include "app/dialogs/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace signetrix::dialogs {

QPoint centredOn(const QRect& screen, QSize size)
{
    return {screen.left() + screen.width() / 2 - size.width() / 2,
            screen.top() + screen.height() / 2 - size.height() / 2};
}

void centreOnScreen(QWidget* window)
{
    QScreen* screen = window->parentWidget() ? window->parentWidget()->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    window->move(centredOn(screen->geometry(), window->size()));
}

} // namespace signetrix::dialogs
