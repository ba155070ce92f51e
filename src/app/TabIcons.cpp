#include "app/TabIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace signetrix {
namespace {

QColor baseColour(TabPicture p)
{
    switch (p) {
    case TabPicture::Analyse: return QColor(46, 125, 50);
    case TabPicture::Setup: return QColor(84, 110, 122);
    case TabPicture::Update: return QColor(21, 101, 192);
    case TabPicture::Redirections: return QColor(239, 108, 0);
    case TabPicture::Doublons: return QColor(106, 27, 154);
    case TabPicture::EmptyFolders: return QColor(191, 144, 0);
    case TabPicture::Backup: return QColor(0, 131, 143);
    case TabPicture::About: return QColor(198, 40, 40);
    }
    return Qt::gray;
}

void drawArrow(QPainter& p, QPointF from, QPointF to)
{
    p.drawLine(from, to);
    const double angle = std::atan2(to.y() - from.y(), to.x() - from.x());
    const double head = 14, spread = 0.5;
    p.drawLine(to, to - QPointF(head * std::cos(angle - spread), head * std::sin(angle - spread)));
    p.drawLine(to, to - QPointF(head * std::cos(angle + spread), head * std::sin(angle + spread)));
}

void drawFolder(QPainter& p, QRectF r)
{
    QPainterPath path;
    path.moveTo(r.left(), r.top() + 8);
    path.lineTo(r.left() + r.width() * 0.35, r.top() + 8);
    path.lineTo(r.left() + r.width() * 0.45, r.top());
    path.lineTo(r.right(), r.top());
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.drawPath(path);
}

void drawGlyph(QPainter& p, TabPicture picture)
{
    switch (picture) {
    case TabPicture::Analyse: // a magnifying glass
        p.drawEllipse(QPointF(42, 42), 20, 20);
        p.drawLine(QPointF(57, 57), QPointF(76, 76));
        break;
    case TabPicture::Setup: // a cog wheel
        p.drawEllipse(QPointF(50, 50), 16, 16);
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            p.drawLine(QPointF(50 + 20 * std::cos(a), 50 + 20 * std::sin(a)),
                       QPointF(50 + 30 * std::cos(a), 50 + 30 * std::sin(a)));
        }
        break;
    case TabPicture::Update: // arrow down onto a tray
        drawArrow(p, QPointF(50, 22), QPointF(50, 66));
        p.drawLine(QPointF(26, 78), QPointF(74, 78));
        break;
    case TabPicture::Redirections: // arrow turning right
        p.drawArc(QRectF(24, 34, 40, 40), 180 * 16, -180 * 16);
        drawArrow(p, QPointF(64, 54), QPointF(64, 76));
        break;
    case TabPicture::Doublons: // two overlapping pages
        p.drawRect(QRectF(24, 24, 34, 42));
        p.drawRect(QRectF(42, 36, 34, 42));
        break;
    case TabPicture::EmptyFolders: // a folder with a cross
        drawFolder(p, QRectF(22, 28, 56, 44));
        p.drawLine(QPointF(40, 44), QPointF(60, 64));
        p.drawLine(QPointF(60, 44), QPointF(40, 64));
        break;
    case TabPicture::Backup: // arrow up into a cloud
        p.drawArc(QRectF(20, 30, 30, 30), 90 * 16, 180 * 16);
        p.drawArc(QRectF(34, 20, 36, 36), 20 * 16, 160 * 16);
        p.drawArc(QRectF(52, 30, 30, 30), -90 * 16, 180 * 16);
        drawArrow(p, QPointF(50, 82), QPointF(50, 46));
        break;
    case TabPicture::About: // an "i"
        p.drawEllipse(QPointF(50, 30), 3, 3);
        p.drawLine(QPointF(50, 44), QPointF(50, 76));
        break;
    }
}

} // namespace

QIcon tabIcon(TabPicture picture)
{
    QPixmap pixmap(kTabIconSize, kTabIconSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor base = baseColour(picture);
    QLinearGradient fill(0, 0, 0, kTabIconSize);
    fill.setColorAt(0, base.lighter(140));
    fill.setColorAt(1, base);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(4, 4, 92, 92), 18, 18);
    p.setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    drawGlyph(p, picture);
    p.end();
    return QIcon(pixmap);
}

} // namespace signetrix
