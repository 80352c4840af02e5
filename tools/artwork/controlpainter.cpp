#include "controlpainter.h"

#include "artworkpalette.h"
#include "imageeffects.h"
#include "paintkit.h"

#include <QPainter>
#include <QPainterPathStroker>

namespace artwork {
namespace {

// The recessed well of bar and check box: darkest at the top, under the rim.
QGradientStops wellStops() {
    return {
        {0.0, QColor(0x05, 0x07, 0x0A)}, {0.35, QColor(0x0E, 0x13, 0x19)}, {1.0, QColor(0x1A, 0x22, 0x2C)}};
}

QGradientStops rimStops() {
    return {{0.0, QColor(palette::BronzeHighlight)},
            {0.5, QColor(palette::BronzeLight)},
            {1.0, QColor(palette::BronzeDark)}};
}

// A framed panel: dark edge, bronze line, dark groove, then a slate fill
// that is lighter towards the frame. Inset is where the bronze line runs;
// the frame is uniform along each straight side.
void paintPanel(QPainter& Painter, const QRectF& Rect, qreal Radius, qreal Inset, qreal GlowDepth,
                qreal FillAlpha, const QGradientStops& Rim) {
    const QRectF line = Rect.adjusted(Inset, Inset, -Inset, -Inset);
    const QRectF inner = line.adjusted(1.5, 1.5, -1.5, -1.5);
    Painter.save();
    Painter.setBrush(Qt::NoBrush);
    Painter.fillPath(roundedRectPath(inner, std::max(0.0, Radius - Inset - 1.5)),
                     withAlpha(palette::Slate900, FillAlpha));
    // Light from the frame fading inwards.
    const int steps = static_cast<int>(GlowDepth);
    for (int step = 0; step < steps; ++step) {
        const qreal t = static_cast<qreal>(step) / steps;
        Painter.setPen(QPen(withAlpha(palette::Slate500, 0.16 * (1.0 - t) * (1.0 - t)), 1.0));
        const QRectF ring = inner.adjusted(step + 0.5, step + 0.5, -step - 0.5, -step - 0.5);
        Painter.drawPath(roundedRectPath(ring, std::max(0.0, Radius - Inset - 2.0 - step)));
    }
    Painter.setPen(QPen(withAlpha(palette::Night, 0.9), 1.0));
    Painter.drawPath(roundedRectPath(line.adjusted(-1.0, -1.0, 1.0, 1.0), Radius - Inset + 1.0));
    Painter.drawPath(
        roundedRectPath(line.adjusted(1.0, 1.0, -1.0, -1.0), std::max(0.0, Radius - Inset - 1.0)));
    Painter.setPen(QPen(QBrush(verticalGradient(Rect.top(), Rect.bottom(), Rim)), 1.3));
    Painter.drawPath(roundedRectPath(line, Radius - Inset));
    Painter.restore();
}

} // namespace

QImage TControlPainter::progressBackground() const {
    return paintedLayer(QSize(98, 40), [](QPainter& painter) {
        const QRectF outer(0, 0, 98, 40);
        painter.fillPath(roundedRectPath(outer, 2.0), withAlpha(palette::Night, 0.92));
        painter.fillPath(
            roundedRectPath(outer.adjusted(1, 1, -1, -1), 1.0),
            verticalGradient(1, 39,
                             {{0.0, QColor(palette::BronzeLight)}, {1.0, QColor(palette::BronzeDark)}}));
        const QRectF well = outer.adjusted(2, 2, -2, -2);
        painter.fillRect(well, verticalGradient(well.top(), well.bottom(), wellStops()));
        painter.fillRect(QRectF(well.left(), well.bottom() - 1, well.width(), 1),
                         withAlpha(palette::Slate500, 0.5));
    });
}

QImage TControlPainter::progressFill() const {
    return paintedLayer(QSize(16, 36), [](QPainter& painter) {
        painter.fillRect(QRectF(0, 0, 16, 36), verticalGradient(0, 36,
                                                                {{0.0, QColor(0x5E, 0xA4, 0x32)},
                                                                 {0.48, QColor(0x3C, 0x78, 0x1A)},
                                                                 {0.52, QColor(0x31, 0x66, 0x13)},
                                                                 {1.0, QColor(0x27, 0x55, 0x0E)}}));
        painter.fillRect(QRectF(0, 0, 16, 1), withAlpha(palette::Hover, 0.9));
        painter.fillRect(QRectF(0, 1, 16, 1), QColor(0xB8, 0xF0, 0x7C, 70));
        painter.fillRect(QRectF(0, 35, 16, 1), QColor(0x0E, 0x24, 0x06, 200));
    });
}

QImage TControlPainter::checkBox(bool Checked) const {
    const QSize size(16, 16);
    QImage box = paintedLayer(size, [](QPainter& painter) {
        const QRectF outer(0, 0, 16, 16);
        painter.fillPath(roundedRectPath(outer.adjusted(0.5, 0.5, -0.5, -0.5), 3.0),
                         withAlpha(palette::Night, 0.9));
        painter.fillPath(roundedRectPath(outer.adjusted(1.2, 1.2, -1.2, -1.2), 2.4),
                         verticalGradient(1, 15, rimStops()));
        const QRectF well = outer.adjusted(2.6, 2.6, -2.6, -2.6);
        painter.fillPath(roundedRectPath(well, 1.4),
                         verticalGradient(well.top(), well.bottom(), wellStops()));
    });
    if (!Checked)
        return box;
    QPainterPath tick;
    tick.moveTo(4.3, 8.3);
    tick.lineTo(7.0, 11.0);
    tick.lineTo(12.4, 4.4);
    QPainterPathStroker stroker;
    stroker.setWidth(2.3);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    const QPainterPath mark = stroker.createStroke(tick);
    const QImage glyph = paintedLayer(size, [&](QPainter& painter) {
        drawOutlinedPath(
            painter, mark,
            verticalGradient(4, 12, {{0.0, QColor(0xC6, 0xF6, 0x8A)}, {1.0, QColor(palette::Hover)}}),
            QColor(0x0A, 0x14, 0x04, 200), 0.8);
    });
    QPainter painter(&box);
    drawShadowOf(painter, glyph, withAlpha(palette::Hover, 0.6), 3, QPointF(0, 0));
    painter.drawImage(0, 0, glyph);
    return box;
}

QImage TControlPainter::scrollGroove() const {
    return paintedLayer(QSize(12, 16), [](QPainter& painter) {
        painter.fillRect(QRectF(3, 0, 6, 16), withAlpha(palette::Night, 0.85));
        painter.fillRect(QRectF(3, 0, 1, 16), withAlpha(palette::Slate500, 0.6));
        painter.fillRect(QRectF(8, 0, 1, 16), withAlpha(palette::Slate600, 0.6));
        painter.fillRect(QRectF(5.5, 0, 1, 16), withAlpha(palette::BronzeDark, 0.7));
    });
}

QImage TControlPainter::scrollHandle() const {
    return paintedLayer(QSize(12, 36), [](QPainter& painter) {
        const QRectF capsule(2, 1, 8, 34);
        painter.fillPath(roundedRectPath(capsule.adjusted(-1, -1, 1, 1), 5.0),
                         withAlpha(palette::Night, 0.9));
        painter.fillPath(roundedRectPath(capsule, 4.0),
                         horizontalGradient(capsule.left(), capsule.right(),
                                            {{0.0, QColor(palette::BronzeDark)},
                                             {0.3, QColor(palette::BronzeLight)},
                                             {0.45, QColor(palette::BronzeHighlight)},
                                             {0.7, QColor(palette::Bronze)},
                                             {1.0, QColor(palette::BronzeShadow)}}));
    });
}

QImage TControlPainter::scrollArrow(bool Up, bool Pressed) const {
    QPainterPath triangle;
    const QPolygonF points = Up ? QPolygonF({{6.0, 3.2}, {10.0, 8.6}, {2.0, 8.6}})
                                : QPolygonF({{6.0, 8.8}, {10.0, 3.4}, {2.0, 3.4}});
    triangle.addPolygon(points);
    triangle.closeSubpath();
    return paintedLayer(QSize(12, 12), [&](QPainter& painter) {
        const QBrush fill =
            Pressed ? QBrush(QColor(palette::Hover))
                    : QBrush(verticalGradient(
                          3, 9, {{0.0, QColor(palette::BronzeHighlight)}, {1.0, QColor(palette::Bronze)}}));
        drawOutlinedPath(painter, triangle, fill, withAlpha(palette::Night, 0.9), 0.9);
    });
}

QImage TControlPainter::packageFrame() const {
    return paintedLayer(QSize(64, 64), [](QPainter& painter) {
        paintPanel(painter, QRectF(0, 0, 64, 64), 9.0, 3.0, 9.0, 0.80,
                   {{0.0, QColor(palette::BronzeHighlight)},
                    {0.25, QColor(palette::BronzeLight)},
                    {0.75, QColor(palette::BronzeLight)},
                    {1.0, QColor(palette::Bronze)}});
        // Studs on the corners, where the frame's pieces would be riveted.
        for (const QPointF& corner :
             {QPointF(5.5, 5.5), QPointF(58.5, 5.5), QPointF(5.5, 58.5), QPointF(58.5, 58.5)})
            drawStud(painter, corner, 3.2);
    });
}

QImage TControlPainter::hintPanel() const {
    return paintedLayer(QSize(32, 32), [](QPainter& painter) {
        // Open at the bottom: the panel runs on past the lower edge.
        const QRectF rect(0, 0, 32, 48);
        painter.setClipRect(QRectF(0, 0, 32, 32));
        paintPanel(painter, rect, 4.0, 1.5, 2.0, 0.78,
                   {{0.0, QColor(palette::BronzeLight)},
                    {0.11, QColor(palette::Bronze)},
                    {1.0, QColor(palette::Bronze)}});
    });
}

} // namespace artwork
