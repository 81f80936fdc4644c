#include "forms/main/state_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <array>

namespace {

using Draw = void (*)(QPainter&);

QPixmap MakeImage(Draw draw) {
    QPixmap image(kStateImageSize, kStateImageSize);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    return image;
}

// Each image is drawn as a broad dark stroke with a narrower bright one on top, so that it
// stands out on a white row as well as on the selection colour.
void StrokeTwice(QPainter& painter, const QPainterPath& path, const QColor& outer, qreal outerWidth,
                 const QColor& inner, qreal innerWidth) {
    painter.strokePath(path, QPen(outer, outerWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.strokePath(path, QPen(inner, innerWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void DrawQuestionMark(QPainter& painter) {
    QPainterPath hook;
    hook.moveTo(3.5, 4.0);
    hook.cubicTo(3.5, 1.0, 8.5, 1.0, 8.5, 4.0);
    hook.cubicTo(8.5, 5.5, 6.0, 5.5, 6.0, 7.5);
    StrokeTwice(painter, hook, QColor(128, 96, 0), 3.0, QColor(255, 220, 0), 1.6);
    QPainterPath dot;
    dot.addEllipse(QPointF(6.0, 10.0), 0.6, 0.6);
    StrokeTwice(painter, dot, QColor(128, 96, 0), 2.6, QColor(255, 220, 0), 1.4);
}

void DrawRing(QPainter& painter) {
    QPainterPath ring;
    ring.addEllipse(QPointF(6.0, 6.0), 4.0, 4.0);
    StrokeTwice(painter, ring, QColor(0, 32, 160), 3.0, QColor(40, 110, 255), 1.5);
}

void DrawCross(QPainter& painter) {
    QPainterPath cross;
    cross.moveTo(2.5, 2.5);
    cross.lineTo(9.5, 9.5);
    cross.moveTo(9.5, 2.5);
    cross.lineTo(2.5, 9.5);
    StrokeTwice(painter, cross, QColor(150, 0, 0), 3.4, QColor(255, 140, 0), 1.5);
}

} // namespace

const QPixmap& StateImage(int state) {
    // Made on first use and never freed: a pixmap must not outlive the application object, and
    // the cache has no owner that ends before it.
    static const auto* const images = new std::array<QPixmap, 4>{
        MakeImage(DrawQuestionMark), MakeImage(DrawRing), MakeImage(DrawCross), QPixmap()};
    if (state < 0 || state > 2) {
        return (*images)[3];
    }
    return (*images)[static_cast<std::size_t>(state)];
}
