#include "app/dialogs/SecretPanel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRegularExpression>

namespace signetrix::dialogs {

TSecretPanel::TSecretPanel(QWidget* parent)
    : QWidget(parent)
{
    m_timer.setInterval(40);
    connect(&m_timer, &QTimer::timeout, this, &TSecretPanel::step);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TSecretPanel::setText(const QString& text)
{
    m_text = text;
    m_lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    m_offset = height();
    update();
}

void TSecretPanel::start()
{
    m_timer.start();
}

void TSecretPanel::stop()
{
    m_timer.stop();
}

int TSecretPanel::textHeight() const
{
    return int(m_lines.size()) * fontMetrics().lineSpacing();
}

void TSecretPanel::step()
{
    --m_offset;
    // The last line has left at the top: come in again from the bottom.
    if (m_offset + textHeight() <= 0) m_offset = height();
    update();
}

void TSecretPanel::resizeEvent(QResizeEvent*)
{
    if (m_offset > height()) m_offset = height();
}

void TSecretPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    const int line = fontMetrics().lineSpacing();
    int top = m_offset;
    for (const QString& text : m_lines) {
        if (top + line > 0 && top < height())
            painter.drawText(QRect(0, top, width(), line), Qt::AlignHCenter | Qt::AlignTop, text);
        top += line;
    }
}

} // namespace signetrix::dialogs
