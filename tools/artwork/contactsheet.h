#pragma once

#include "artworkcatalogue.h"

#include <QImage>
#include <QMargins>
#include <QString>

#include <vector>

class QPainter;

namespace artwork {

// A review picture for people who change the artwork: every picture at its
// own size and enlarged, and mock-ups of the window at its smallest and
// largest height, assembled from the pictures the way the launcher's style
// sheets cut and stretch them. It is not a screenshot of the launcher.
class TContactSheet {
public:
    explicit TContactSheet(const std::vector<TArtwork>& Pictures);

    QImage render() const;

private:
    QImage picture(const QString& FileName) const;

    // The window at Height with Rows package rows and, when Hints is set,
    // the three hint tiles.
    QImage windowMockup(int Height, int Packages, bool Hints) const;
    void paintPackageRow(QPainter& Painter, QPointF TopLeft, const QString& Logo, const QString& Button,
                         const QString& Icon, const QString& Version, bool Progress, bool Checked) const;
    void paintHintBox(QPainter& Painter, const QRect& Box, bool Hints) const;

    // Draws Image into Target cut at Margins: corners 1:1, edges and middle
    // tiled (Repeat) or stretched, as a style sheet's border-image does.
    static void paintBorderImage(QPainter& Painter, const QRect& Target, const QImage& Image,
                                 const QMargins& Margins, bool Repeat);
    static void paintText(QPainter& Painter, const QPointF& Centre, const QString& Text, int PixelSize,
                          const QColor& Colour);

    const std::vector<TArtwork>& m_Pictures;
};

} // namespace artwork
