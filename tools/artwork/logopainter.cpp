#include "logopainter.h"

#include "artworkfonts.h"
#include "artworkpalette.h"
#include "imageeffects.h"
#include "paintkit.h"

#include <QPainter>
#include <QPainterPathStroker>

namespace artwork {
namespace {

const QPointF OrbitCentre(88, 31);
constexpr qreal OrbitRadiusX = 83.0;
constexpr qreal OrbitRadiusY = 14.0;
constexpr qreal OrbitTilt = -7.0;

QGradientStops bronzeMetal() {
    return {{0.0, QColor(0xFF, 0xF6, 0xDA)},  {0.28, QColor(0xF0, 0xD8, 0x9C)},
            {0.47, QColor(0xC8, 0xA2, 0x5E)}, {0.53, QColor(0x74, 0x52, 0x26)},
            {0.75, QColor(0xA8, 0x82, 0x46)}, {1.0, QColor(0xE4, 0xC4, 0x84)}};
}

} // namespace

QImage TLogoPainter::vantorLogo(const QString& Tag, QRgb TagColour, qreal Scale) const {
    const QSize size(qRound(LogoWidth * Scale), qRound(LogoHeight * Scale));
    const QImage name = paintedLayer(size, [&](QPainter& painter) {
        painter.scale(Scale, Scale);
        paintName(painter);
    });
    const QImage front = paintedLayer(size, [&](QPainter& painter) {
        painter.scale(Scale, Scale);
        paintOrbit(painter, true);
        paintSubtitle(painter);
        if (!Tag.isEmpty())
            paintTag(painter, Tag, TagColour);
    });
    return paintedLayer(size, [&](QPainter& painter) {
        // A dark halo keeps the logo readable on the bright parts of the sky.
        drawShadowOf(painter, name, withAlpha(palette::Night, 0.85), qRound(5 * Scale),
                     QPointF(0, 1.5 * Scale));
        drawShadowOf(painter, front, withAlpha(palette::Night, 0.7), qRound(3 * Scale), QPointF(0, Scale));
        painter.save();
        painter.scale(Scale, Scale);
        paintOrbit(painter, false);
        painter.restore();
        painter.drawImage(0, 0, name);
        painter.drawImage(0, 0, front);
    });
}

QImage TLogoPainter::disabled(const QImage& Logo) {
    return desaturated(Logo, 0.1, 0.62, 0.8);
}

void TLogoPainter::paintOrbit(QPainter& Painter, bool Front) const {
    Painter.save();
    Painter.translate(OrbitCentre);
    Painter.rotate(OrbitTilt);
    // The near half of the orbit passes in front of the name, the far half
    // behind it; the far half is fainter, as if further away.
    Painter.setClipRect(Front ? QRectF(-100, 0, 200, 40) : QRectF(-100, -40, 200, 40));
    QLinearGradient metal(-OrbitRadiusX, 0, OrbitRadiusX, 0);
    metal.setColorAt(0.0, withAlpha(palette::BronzeDark, Front ? 0.9 : 0.5));
    metal.setColorAt(0.35, withAlpha(palette::BronzeLight, Front ? 1.0 : 0.6));
    metal.setColorAt(0.75, withAlpha(palette::BronzeHighlight, Front ? 1.0 : 0.6));
    metal.setColorAt(1.0, withAlpha(palette::Bronze, Front ? 0.9 : 0.5));
    if (Front) {
        // A dark groove around the near half parts it from the letters.
        Painter.setPen(QPen(withAlpha(palette::Night, 0.9), 3.4));
        Painter.drawEllipse(QPointF(0, 0), OrbitRadiusX, OrbitRadiusY);
    }
    Painter.setPen(QPen(QBrush(metal), 1.5));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawEllipse(QPointF(0, 0), OrbitRadiusX, OrbitRadiusY);
    Painter.restore();
    if (Front) {
        // A star riding the orbit on the right.
        QTransform orbit;
        orbit.translate(OrbitCentre.x(), OrbitCentre.y());
        orbit.rotate(OrbitTilt);
        const QPointF star(OrbitRadiusX * 0.82, OrbitRadiusY * 0.57);
        drawGlint(Painter, orbit.map(star), 2.4, QColor(0xFF, 0xF8, 0xE6));
    }
}

void TLogoPainter::paintName(QPainter& Painter) const {
    const QPainterPath name =
        centredTextPath(artworkFont(31, true, 106), QStringLiteral("VANTOR"), OrbitCentre);
    const QRectF ink = name.boundingRect();
    drawOutlinedPath(Painter, name, verticalGradient(ink.top(), ink.bottom(), bronzeMetal()),
                     QColor(0x14, 0x0D, 0x06), 1.4);
    // A bright edge on the upper side of every letter.
    Painter.save();
    Painter.setClipPath(name);
    Painter.setPen(QPen(QColor(0xFF, 0xFB, 0xEC, 150), 0.9));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawPath(name.translated(0.0, 0.8));
    Painter.restore();
}

void TLogoPainter::paintSubtitle(QPainter& Painter) const {
    const QPointF centre(88, 57);
    const QPainterPath online = centredTextPath(artworkFont(11, true, 150), QStringLiteral("ONLINE"), centre);
    drawOutlinedPath(Painter, online, QColor(palette::Text), withAlpha(palette::Night, 0.85), 1.1);
    // Rules on both sides, fading outwards, ending in a stud.
    const QRectF ink = online.boundingRect();
    const qreal gap = 7.0;
    const qreal reach = 52.0;
    for (const int side : {-1, 1}) {
        const qreal inner = side < 0 ? ink.left() - gap : ink.right() + gap;
        const qreal outer = inner + side * reach;
        QLinearGradient fade(inner, 0, outer, 0);
        fade.setColorAt(0.0, QColor(palette::BronzeLight));
        fade.setColorAt(1.0, withAlpha(palette::Bronze, 0.0));
        Painter.fillRect(QRectF(std::min(inner, outer), centre.y() - 0.6, reach, 1.2), fade);
        drawStud(Painter, QPointF(inner - side * 0.5, centre.y()), 2.3);
    }
}

void TLogoPainter::paintTag(QPainter& Painter, const QString& Tag, QRgb TagColour) const {
    const QPointF centre(88, 71.5);
    const QPainterPath text = centredTextPath(artworkFont(8, true, 125), Tag, centre);
    const QRectF ink = text.boundingRect();
    const QRectF pill(ink.left() - 8, centre.y() - 6, ink.width() + 16, 12);
    const QColor colour(TagColour);
    const QPainterPath shape = roundedRectPath(pill, 6);
    drawOutlinedPath(Painter, shape,
                     verticalGradient(pill.top(), pill.bottom(),
                                      {{0.0, colour.lighter(135)}, {0.5, colour}, {1.0, colour.darker(170)}}),
                     withAlpha(palette::Night, 0.9), 1.0);
    Painter.save();
    Painter.setPen(QPen(withAlpha(palette::BronzeHighlight, 0.8), 0.8));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawPath(roundedRectPath(pill.adjusted(0.4, 0.4, -0.4, -0.4), 5.6));
    Painter.restore();
    drawOutlinedPath(Painter, text, QColor(palette::Glyph), withAlpha(palette::Night, 0.7), 0.7);
}

QImage TLogoPainter::quorvaneLogo() const {
    const QSize size(124, 26);
    const QPointF ring(13, 13);
    const QImage mark = paintedLayer(size, [&](QPainter& painter) {
        // The emblem: a ring whose tail is a blade, a star inside.
        QPainterPath blade;
        blade.moveTo(ring + QPointF(3.5, 3.5));
        blade.lineTo(ring + QPointF(11.5, 10.5));
        blade.lineTo(ring + QPointF(6.0, 2.5));
        blade.closeSubpath();
        QPainterPath circle;
        circle.addEllipse(ring, 9.0, 9.0);
        QPainterPathStroker stroker;
        stroker.setWidth(2.6);
        const QPainterPath emblem = stroker.createStroke(circle).united(blade);
        drawOutlinedPath(painter, emblem, verticalGradient(3, 24, bronzeMetal()), QColor(0x14, 0x0D, 0x06),
                         0.9);
        drawGlint(painter, ring, 2.2, QColor(palette::BronzeHighlight));

        const QPainterPath name = textPath(artworkFont(13, true, 122), QStringLiteral("QUORVANE"));
        const QRectF ink = name.boundingRect();
        const QPainterPath placed = name.translated(QPointF(28, 13) - QPointF(ink.left(), ink.center().y()));
        drawOutlinedPath(painter, placed,
                         verticalGradient(placed.boundingRect().top(), placed.boundingRect().bottom(),
                                          {{0.0, QColor(0xF4, 0xF2, 0xDC)},
                                           {0.5, QColor(palette::Text)},
                                           {0.55, QColor(0xA8, 0xA6, 0x8C)},
                                           {1.0, QColor(0xC8, 0xC6, 0xAA)}}),
                         withAlpha(palette::Night, 0.85), 1.0);
    });
    return paintedLayer(size, [&](QPainter& painter) {
        drawShadowOf(painter, mark, withAlpha(palette::Night, 0.8), 3, QPointF(0, 1));
        painter.drawImage(0, 0, mark);
    });
}

} // namespace artwork
