#include "app/qt/AppIcon.h"

#include <QPainter>
#include <QPolygon>

namespace qdx::app {

namespace {

// The drawing on its 32-unit grid, shared by the pixel drawing and the SVG.
struct Box {
    int x, y, w, h;
};
constexpr Box kBody{6, 1, 20, 30};
constexpr int kBodyRadius = 3;
constexpr Box kScreen{9, 4, 14, 12};
constexpr Box kArrowStem{14, 5, 4, 5};
constexpr int kArrowHead[3][2] = {{11, 10}, {21, 10}, {16, 15}};
constexpr Box kWheel{10, 18, 12, 11};
constexpr Box kHub{14, 22, 4, 3};

constexpr QRgb kBodyColour = 0x1F4E79;
constexpr QRgb kBodyEdgeColour = 0x102A44;
constexpr QRgb kScreenColour = 0x9BE56A;
constexpr QRgb kArrowColour = 0x105A1E;
constexpr QRgb kWheelColour = 0xD9D9D9;
constexpr QRgb kHubColour = 0x1F4E79;

// On the pixel grid: the 16 size halves every coordinate, without antialiasing, so both stay
// crisp and within a handful of colours.
void DrawOnGrid(QPainter& p, int size) {
    auto u = [size](int v) { return v * size / 32; };
    auto rect = [&u](const Box& b) { return QRect(u(b.x), u(b.y), u(b.w), u(b.h)); };

    p.setPen(QPen(QColor(kBodyEdgeColour), 1));
    p.setBrush(QColor(kBodyColour));
    p.drawRoundedRect(QRect(u(kBody.x), u(kBody.y), u(kBody.w) - 1, u(kBody.h) - 1), u(kBodyRadius),
                      u(kBodyRadius));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(kScreenColour));
    p.drawRect(rect(kScreen));
    p.setBrush(QColor(kArrowColour));
    p.drawRect(rect(kArrowStem));
    QPolygon head;
    for (const auto& point : kArrowHead) {
        head << QPoint(u(point[0]), u(point[1]));
    }
    p.drawPolygon(head);
    p.setBrush(QColor(kWheelColour));
    p.drawEllipse(rect(kWheel));
    p.setBrush(QColor(kHubColour));
    p.drawEllipse(rect(kHub));
}

// Smooth, for the sizes above 32: the grid scaled, with antialiasing.
void DrawSmooth(QPainter& p, int size) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / 32.0, size / 32.0);
    auto rect = [](const Box& b) { return QRectF(b.x, b.y, b.w, b.h); };
    p.setPen(QPen(QColor(kBodyEdgeColour), 1));
    p.setBrush(QColor(kBodyColour));
    p.drawRoundedRect(QRectF(kBody.x + 0.5, kBody.y + 0.5, kBody.w - 1, kBody.h - 1), kBodyRadius,
                      kBodyRadius);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(kScreenColour));
    p.drawRect(rect(kScreen));
    p.setBrush(QColor(kArrowColour));
    p.drawRect(rect(kArrowStem));
    QPolygonF head;
    for (const auto& point : kArrowHead) {
        head << QPointF(point[0], point[1]);
    }
    p.drawPolygon(head);
    p.setBrush(QColor(kWheelColour));
    p.drawEllipse(rect(kWheel));
    p.setBrush(QColor(kHubColour));
    p.drawEllipse(rect(kHub));
}

QByteArray Hex(QRgb colour) {
    return QByteArray("#") + QByteArray::number(colour & 0xFFFFFF, 16).rightJustified(6, '0');
}

QByteArray SvgBox(const char* element, const Box& b, QRgb fill) {
    return QByteArray("  <") + element + " x=\"" + QByteArray::number(b.x) + "\" y=\"" +
           QByteArray::number(b.y) + "\" width=\"" + QByteArray::number(b.w) + "\" height=\"" +
           QByteArray::number(b.h) + "\" fill=\"" + Hex(fill) + "\"/>\n";
}

QByteArray SvgEllipse(const Box& b, QRgb fill) {
    return "  <ellipse cx=\"" + QByteArray::number(b.x + b.w / 2.0) + "\" cy=\"" +
           QByteArray::number(b.y + b.h / 2.0) + "\" rx=\"" + QByteArray::number(b.w / 2.0) +
           "\" ry=\"" + QByteArray::number(b.h / 2.0) + "\" fill=\"" + Hex(fill) + "\"/>\n";
}

}  // namespace

QImage AppIconImage(int size) {
    if (size > 32) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        DrawSmooth(painter, size);
        return image;
    }
    const int drawSize = size <= 16 ? 16 : 32;
    QImage image(drawSize, drawSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, false);
        DrawOnGrid(painter, drawSize);
    }
    if (drawSize != size) {
        return image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    }
    return icon;
}

QByteArray AppIconSvg() {
    QByteArray svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" "
        "viewBox=\"0 0 32 32\">\n";
    svg += "  <rect x=\"" + QByteArray::number(kBody.x + 0.5) + "\" y=\"" +
           QByteArray::number(kBody.y + 0.5) + "\" width=\"" + QByteArray::number(kBody.w - 1) +
           "\" height=\"" + QByteArray::number(kBody.h - 1) + "\" rx=\"" +
           QByteArray::number(kBodyRadius) + "\" fill=\"" + Hex(kBodyColour) + "\" stroke=\"" +
           Hex(kBodyEdgeColour) + "\" stroke-width=\"1\"/>\n";
    svg += SvgBox("rect", kScreen, kScreenColour);
    svg += SvgBox("rect", kArrowStem, kArrowColour);
    svg += "  <polygon points=\"";
    for (const auto& point : kArrowHead) {
        svg += QByteArray::number(point[0]) + "," + QByteArray::number(point[1]) + " ";
    }
    svg.chop(1);
    svg += "\" fill=\"" + Hex(kArrowColour) + "\"/>\n";
    svg += SvgEllipse(kWheel, kWheelColour);
    svg += SvgEllipse(kHub, kHubColour);
    svg += "</svg>\n";
    return svg;
}

}  // namespace qdx::app
