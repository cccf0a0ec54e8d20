#include "app/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace qdx::app {

namespace {

// The icon is drawn on a 32-unit grid; the 16 size halves every coordinate, without
// antialiasing, so both stay crisp and within a handful of colours.
void DrawPlayer(QPainter& p, int size) {
    auto u = [size](int v) { return v * size / 32; };
    const QColor body(0x1F, 0x4E, 0x79);
    const QColor bodyEdge(0x10, 0x2A, 0x44);
    const QColor screen(0x9B, 0xE5, 0x6A);
    const QColor arrow(0x10, 0x5A, 0x1E);
    const QColor wheel(0xD9, 0xD9, 0xD9);
    const QColor hub(0x1F, 0x4E, 0x79);

    p.setPen(QPen(bodyEdge, 1));
    p.setBrush(body);
    p.drawRoundedRect(QRect(u(6), u(1), u(20) - 1, u(30) - 1), u(3), u(3));

    p.setPen(Qt::NoPen);
    p.setBrush(screen);
    p.drawRect(QRect(u(9), u(4), u(14), u(12)));

    // Download arrow on the screen.
    p.setBrush(arrow);
    p.drawRect(QRect(u(14), u(5), u(4), u(5)));
    p.drawPolygon(QPolygon({QPoint(u(11), u(10)), QPoint(u(21), u(10)), QPoint(u(16), u(15))}));

    // Click wheel with its hub.
    p.setBrush(wheel);
    p.drawEllipse(QRect(u(10), u(18), u(12), u(11)));
    p.setBrush(hub);
    p.drawEllipse(QRect(u(14), u(22), u(4), u(3)));
}

}  // namespace

QImage AppIconImage(int size) {
    const int drawSize = size <= 16 ? 16 : 32;
    QImage image(drawSize, drawSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, false);
        DrawPlayer(painter, drawSize);
    }
    if (drawSize != size) {
        return image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(AppIconImage(16)));
    icon.addPixmap(QPixmap::fromImage(AppIconImage(32)));
    return icon;
}

}  // namespace qdx::app
