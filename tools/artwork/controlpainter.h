#pragma once

#include <QImage>

namespace artwork {

// The parts the style sheets stretch or tile: progress bar, check boxes,
// scroll bar, the package frame and the hint panel. Each part keeps its
// details inside the border the style sheet cuts, and its stretched or
// tiled middle is uniform along the direction it grows in.
class TControlPainter {
public:
    // Same size as the action button, whose place the bar takes; 2-pixel rim.
    QImage progressBackground() const;
    // Stretched over the done part of the bar: changes only from top to bottom.
    QImage progressFill() const;

    QImage checkBox(bool Checked) const;

    // Scroll bar 12 pixels wide: groove (tiled), handle (6-pixel caps), arrows.
    QImage scrollGroove() const;
    QImage scrollHandle() const;
    QImage scrollArrow(bool Up, bool Pressed) const;

    // The package frame, cut 16 pixels from every side, middle and edges tiled.
    QImage packageFrame() const;
    // The hint panel, cut 5 pixels from top, left and right; it is open at the
    // bottom, where it meets the window's lower edge.
    QImage hintPanel() const;
};

} // namespace artwork
