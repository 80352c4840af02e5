#include "paintkit.h"

#include "artworkpalette.h"
#include "imageeffects.h"

#include <QPainter>
#include <QPainterPathStroker>
#include <QRadialGradient>

namespace artwork {

QColor withAlpha(QRgb Rgb, qreal Alpha) {
    QColor colour(Rgb);
    colour.setAlphaF(Alpha);
    return colour;
}

QColor mixed(const QColor& A, const QColor& B, qreal T) {
    auto lerp = [T](qreal a, qreal b) {
        return a + (b - a) * T;
    };
    QColor colour;
    colour.setRgbF(lerp(A.redF(), B.redF()), lerp(A.greenF(), B.greenF()), lerp(A.blueF(), B.blueF()),
                   lerp(A.alphaF(), B.alphaF()));
    return colour;
}

QLinearGradient verticalGradient(qreal Top, qreal Bottom, const QGradientStops& Stops) {
    QLinearGradient gradient(0, Top, 0, Bottom);
    gradient.setStops(Stops);
    return gradient;
}

QLinearGradient horizontalGradient(qreal Left, qreal Right, const QGradientStops& Stops) {
    QLinearGradient gradient(Left, 0, Right, 0);
    gradient.setStops(Stops);
    return gradient;
}

QPainterPath roundedRectPath(const QRectF& Rect, qreal Radius) {
    QPainterPath path;
    path.addRoundedRect(Rect, Radius, Radius);
    return path;
}

QImage paintedLayer(QSize Size, const std::function<void(QPainter&)>& Paint) {
    QImage layer = transparentImage(Size);
    QPainter painter(&layer);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Paint(painter);
    return layer;
}

void drawShadowOf(QPainter& Painter, const QImage& Layer, const QColor& Colour, int Radius, QPointF Offset) {
    const QImage shadow = blurred(silhouette(Layer, Colour), Radius);
    Painter.save();
    Painter.resetTransform();
    Painter.drawImage(Offset, shadow);
    Painter.restore();
}

void drawOutlinedPath(QPainter& Painter, const QPainterPath& Path, const QBrush& Fill, const QColor& Outline,
                      qreal OutlineWidth) {
    Painter.save();
    if (OutlineWidth > 0) {
        QPainterPathStroker stroker;
        stroker.setWidth(2 * OutlineWidth);
        stroker.setJoinStyle(Qt::RoundJoin);
        stroker.setCapStyle(Qt::RoundCap);
        Painter.fillPath(stroker.createStroke(Path).united(Path), Outline);
    }
    Painter.fillPath(Path, Fill);
    Painter.restore();
}

void drawGlint(QPainter& Painter, QPointF Centre, qreal Size, const QColor& Colour) {
    Painter.save();
    QRadialGradient halo(Centre, Size);
    QColor transparent = Colour;
    transparent.setAlpha(0);
    QColor soft = Colour;
    soft.setAlphaF(Colour.alphaF() * 0.35);
    halo.setColorAt(0, soft);
    halo.setColorAt(1, transparent);
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(halo);
    Painter.drawEllipse(Centre, Size, Size);
    const qreal arm = Size * 1.6;
    const qreal waist = Size * 0.12;
    QPainterPath star;
    star.moveTo(Centre + QPointF(0, -arm));
    star.lineTo(Centre + QPointF(waist, -waist));
    star.lineTo(Centre + QPointF(arm, 0));
    star.lineTo(Centre + QPointF(waist, waist));
    star.lineTo(Centre + QPointF(0, arm));
    star.lineTo(Centre + QPointF(-waist, waist));
    star.lineTo(Centre + QPointF(-arm, 0));
    star.lineTo(Centre + QPointF(-waist, -waist));
    star.closeSubpath();
    Painter.fillPath(star, Colour);
    Painter.restore();
}

void drawStud(QPainter& Painter, QPointF Centre, qreal Radius) {
    QPainterPath diamond;
    diamond.moveTo(Centre + QPointF(0, -Radius));
    diamond.lineTo(Centre + QPointF(Radius, 0));
    diamond.lineTo(Centre + QPointF(0, Radius));
    diamond.lineTo(Centre + QPointF(-Radius, 0));
    diamond.closeSubpath();
    const QRectF box(Centre - QPointF(Radius, Radius), QSizeF(2 * Radius, 2 * Radius));
    QLinearGradient metal(box.topLeft(), box.bottomRight());
    metal.setColorAt(0, QColor(palette::BronzeHighlight));
    metal.setColorAt(0.5, QColor(palette::BronzeLight));
    metal.setColorAt(1, QColor(palette::BronzeDark));
    drawOutlinedPath(Painter, diamond, metal, withAlpha(palette::Night, 0.8), 0.8);
}

} // namespace artwork
