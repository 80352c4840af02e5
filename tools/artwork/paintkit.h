#pragma once

#include <QColor>
#include <QGradientStops>
#include <QImage>
#include <QLinearGradient>
#include <QPainterPath>

#include <functional>

class QPainter;

namespace artwork {

// Small drawing helpers shared by every painter of the generator.

// Colour Rgb with an alpha between 0 and 1.
QColor withAlpha(QRgb Rgb, qreal Alpha);

// The colour a fraction T of the way from A to B (alpha included).
QColor mixed(const QColor& A, const QColor& B, qreal T);

// A gradient from Top to Bottom (in y) with stops at fractions of that span.
QLinearGradient verticalGradient(qreal Top, qreal Bottom, const QGradientStops& Stops);

// A gradient from Left to Right (in x).
QLinearGradient horizontalGradient(qreal Left, qreal Right, const QGradientStops& Stops);

QPainterPath roundedRectPath(const QRectF& Rect, qreal Radius);

// A painter on a new transparent picture of Size, antialiased, handed to Paint.
QImage paintedLayer(QSize Size, const std::function<void(QPainter&)>& Paint);

// Draws Layer's blurred shape in Colour, moved by Offset, under what follows:
// the soft drop shadows and glows of text and glyphs.
void drawShadowOf(QPainter& Painter, const QImage& Layer, const QColor& Colour, int Radius, QPointF Offset);

// Fills Path with Fill over a dark outline of OutlineWidth, the way every
// glyph and letter of the launcher is drawn so it reads on any background.
void drawOutlinedPath(QPainter& Painter, const QPainterPath& Path, const QBrush& Fill, const QColor& Outline,
                      qreal OutlineWidth);

// A four-pointed glint: the sparkle of stars and polished metal.
void drawGlint(QPainter& Painter, QPointF Centre, qreal Size, const QColor& Colour);

// A small diamond stud, the ornament of frames and separators.
void drawStud(QPainter& Painter, QPointF Centre, qreal Radius);

} // namespace artwork
