#pragma once

#include <QFont>
#include <QPainterPath>
#include <QString>

namespace artwork {

// Makes "Liberation Sans" available, loading it from the system's font folder
// when the font database does not know it yet. False (with Error set) when
// it cannot be found: the pictures must not fall back to another face.
bool loadArtworkFonts(QString& Error);

// The launcher's face at a pixel size. Letter spacing is in percent (100 is
// the face's own spacing). Outlines are taken unhinted so that the shapes do
// not depend on the machine's font settings.
QFont artworkFont(qreal PixelSize, bool Bold, qreal LetterSpacingPercent = 100.0);

// The outline of Text with its baseline starting at the origin.
QPainterPath textPath(const QFont& Font, const QString& Text);

// The outline of Text with the middle of its ink at Centre.
QPainterPath centredTextPath(const QFont& Font, const QString& Text, QPointF Centre);

} // namespace artwork
