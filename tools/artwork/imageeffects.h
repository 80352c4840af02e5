#pragma once

#include <QColor>
#include <QImage>

namespace artwork {

class TSeededRandom;

// An empty, fully transparent picture in the format every painter here uses.
QImage transparentImage(QSize Size);

// A soft blur (three box passes, close to a Gaussian of the given radius);
// the picture keeps its size, so leave room for the blur around the shape.
QImage blurred(const QImage& Source, int Radius);

// The shape of Source (its alpha) filled with one colour: the base of glows
// and drop shadows.
QImage silhouette(const QImage& Source, const QColor& Colour);

// Source drained of colour for the pictures of unavailable things: Saturation
// 0 is grey, Brightness scales the light, Opacity the alpha.
QImage desaturated(const QImage& Source, qreal Saturation, qreal Brightness, qreal Opacity);

// Fine noise of +-Amplitude per channel against banding of long gradients.
void addGrain(QImage& Image, TSeededRandom& Random, int Amplitude);

// True when every pixel is opaque, so the picture can be stored without alpha.
bool isOpaque(const QImage& Image);

} // namespace artwork
