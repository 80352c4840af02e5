#include "iconpainter.h"

#include "artworkfonts.h"
#include "artworkpalette.h"
#include "paintkit.h"

#include <QPainter>
#include <QPainterPathStroker>
#include <QtMath>

#include <cmath>

namespace artwork {
namespace {

QPainterPath stroked(const QPainterPath& Path, qreal Width, Qt::PenCapStyle Cap = Qt::RoundCap) {
    QPainterPathStroker stroker;
    stroker.setWidth(Width);
    stroker.setCapStyle(Cap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(Path);
}

QPainterPath polygonPath(std::initializer_list<QPointF> Points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(Points));
    path.closeSubpath();
    return path;
}

// The point at Angle (degrees, counter-clockwise from 3 o'clock as Qt's arcs
// count) on a circle, and the direction a counter-clockwise walk takes there.
QPointF onCircle(QPointF Centre, qreal Radius, qreal Angle) {
    const qreal radians = qDegreesToRadians(Angle);
    return Centre + QPointF(std::cos(radians), -std::sin(radians)) * Radius;
}

QPointF counterClockwise(qreal Angle) {
    const qreal radians = qDegreesToRadians(Angle);
    return QPointF(-std::sin(radians), -std::cos(radians));
}

} // namespace

QImage TIconPainter::buttonGlyph(const QPainterPath& Glyph) const {
    const QSize size(ButtonIconSize, ButtonIconSize);
    const QImage shape = paintedLayer(size, [&](QPainter& painter) {
        const QRectF ink = Glyph.boundingRect();
        drawOutlinedPath(painter, Glyph,
                         verticalGradient(ink.top(), ink.bottom(),
                                          {{0.0, QColor(0xFF, 0xFD, 0xF2)}, {1.0, QColor(0xE2, 0xD8, 0xB4)}}),
                         QColor(0x10, 0x0C, 0x08, 150), 0.9);
    });
    return paintedLayer(size, [&](QPainter& painter) {
        drawShadowOf(painter, shape, QColor(0, 0, 0, 170), 3, QPointF(0, 1));
        painter.drawImage(0, 0, shape);
    });
}

QImage TIconPainter::downloadIcon() const {
    QPainterPath arrow = polygonPath(
        {{11.6, 4.0}, {16.4, 4.0}, {16.4, 11.5}, {21.0, 11.5}, {14.0, 18.5}, {7.0, 11.5}, {11.6, 11.5}});
    arrow = stroked(arrow, 1.2).united(arrow);
    QPainterPath tray;
    tray.moveTo(5.5, 17.5);
    tray.lineTo(5.5, 22.5);
    tray.lineTo(22.5, 22.5);
    tray.lineTo(22.5, 17.5);
    return buttonGlyph(arrow.united(stroked(tray, 2.6)));
}

QImage TIconPainter::updateIcon() const {
    // Two arrows chasing each other round a circle.
    const QPointF centre(14, 14);
    const qreal radius = 7.6;
    const QRectF circle(centre - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
    const qreal sweep = 118.0;
    QPainterPath glyph;
    for (const qreal start : {28.0, 208.0}) {
        QPainterPath arc;
        arc.arcMoveTo(circle, start);
        arc.arcTo(circle, start, sweep);
        glyph = glyph.united(stroked(arc, 2.7, Qt::FlatCap));
        const qreal end = start + sweep;
        const QPointF at = onCircle(centre, radius, end);
        const QPointF along = counterClockwise(end);
        const QPointF outward = (at - centre) / radius;
        glyph = glyph.united(polygonPath(
            {at + along * 4.6, at - along * 1.0 + outward * 4.3, at - along * 1.0 - outward * 4.3}));
    }
    return buttonGlyph(glyph);
}

QImage TIconPainter::playIcon() const {
    const QPainterPath triangle = polygonPath({{9.5, 5.5}, {22.5, 14.0}, {9.5, 22.5}});
    return buttonGlyph(stroked(triangle, 2.2).united(triangle));
}

QImage TIconPainter::badge(int Size, const QPainterPath& Glyph, const QPainterPath& FaintGlyph) const {
    return paintedLayer(QSize(Size, Size), [&](QPainter& painter) {
        const qreal radius = Size / 2.0 - 0.5;
        const QPointF centre(Size / 2.0, Size / 2.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(withAlpha(palette::Night, 0.75));
        painter.drawEllipse(centre, radius, radius);
        painter.setBrush(
            verticalGradient(0, Size, {{0.0, QColor(palette::Slate600)}, {1.0, QColor(palette::Slate900)}}));
        painter.drawEllipse(centre, radius - 1.5, radius - 1.5);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QBrush(verticalGradient(0, Size,
                                                    {{0.0, QColor(palette::BronzeHighlight)},
                                                     {0.5, QColor(palette::BronzeLight)},
                                                     {1.0, QColor(palette::BronzeDark)}})),
                            1.2));
        painter.drawEllipse(centre, radius - 0.9, radius - 0.9);
        if (!FaintGlyph.isEmpty())
            painter.fillPath(FaintGlyph, withAlpha(palette::Text, 0.55));
        painter.fillPath(Glyph, QColor(palette::Text));
    });
}

QImage TIconPainter::aboutBadge() const {
    QPainterPath glyph;
    glyph.addEllipse(QPointF(9, 5.2), 1.4, 1.4);
    glyph.addRoundedRect(QRectF(7.9, 7.6, 2.2, 6.0), 0.6, 0.6);
    return badge(AboutBadgeSize, glyph);
}

QImage TIconPainter::newsBadge() const {
    // A broadcast: a source in the corner sending out two waves.
    const QPointF source(8.4, 15.6);
    QPainterPath glyph;
    glyph.addEllipse(source, 2.0, 2.0);
    for (const qreal reach : {4.9, 8.3}) {
        QPainterPath arc;
        const QRectF box(source - QPointF(reach, reach), QSizeF(2 * reach, 2 * reach));
        arc.arcMoveTo(box, 0);
        arc.arcTo(box, 0, 90);
        glyph = glyph.united(stroked(arc, 2.1));
    }
    return badge(LinkBadgeSize, glyph);
}

QImage TIconPainter::communityBadge() const {
    // Two speech bubbles: one behind, one in front answering.
    QPainterPath back;
    back.addRoundedRect(QRectF(5.5, 6.0, 10.0, 7.5), 2.5, 2.5);
    back = back.united(polygonPath({{7.5, 12.5}, {10.0, 12.5}, {7.0, 15.5}}));
    QPainterPath front;
    front.addRoundedRect(QRectF(9.5, 10.0, 10.0, 7.5), 2.5, 2.5);
    front = front.united(polygonPath({{14.5, 16.5}, {17.5, 16.5}, {18.0, 19.5}}));
    QPainterPath gap;
    gap.addRoundedRect(QRectF(8.3, 8.8, 12.4, 9.9), 3.2, 3.2);
    QPainterPath dots;
    for (const qreal x : {12.3, 14.5, 16.7})
        dots.addEllipse(QPointF(x, 13.75), 0.85, 0.85);
    return badge(LinkBadgeSize, front.subtracted(dots), back.subtracted(gap));
}

} // namespace artwork
