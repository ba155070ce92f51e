#include "app/dialogs/KelPanel.h"

#include <QPainter>

namespace signetrix::dialogs {

TKelPanel::TKelPanel(QWidget* parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    setCursor(Qt::ArrowCursor);
}

void TKelPanel::setFocused(bool focused)
{
    if (focused == m_focused) return;
    m_focused = focused;
    setCursor(focused ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void TKelPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(backgroundRole()));
    painter.setBrush(Qt::NoBrush);
    // Corner ellipse 10 x 10: radius 5. The pen's outline sits on whole pixels.
    painter.setPen(Qt::black);
    painter.drawRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), 5, 5);
    painter.setPen(Qt::white);
    painter.drawRoundedRect(QRectF(1.5, 1.5, width() - 3, height() - 3), 5, 5);
}

} // namespace signetrix::dialogs
