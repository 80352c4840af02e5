#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace artwork {

// The skins of the package rows' action button: a bronze rim around a
// coloured face, for each colour in the states idle, hover and pressed.
// The rim and the rounded corners lie inside the outer 4 pixels; inside
// them every column is alike and the face changes only from top to bottom,
// so the skin stays clean however a 4-pixel border-image stretches it.
class TButtonPainter {
public:
    static constexpr int Width = 98;
    static constexpr int Height = 40;
    static constexpr int Border = 4;

    enum class EState { Idle, Hover, Pressed };

    struct TFace {
        QString Name; // "Red", "Blue", "Orange", "Green"
        QRgb Top;
        QRgb Bottom;
    };

    static const TFace Faces[4];

    QImage paint(const TFace& Face, EState State) const;

    static QString stateName(EState State);
};

} // namespace artwork
