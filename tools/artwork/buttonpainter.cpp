#include "buttonpainter.h"

#include "artworkpalette.h"
#include "paintkit.h"

#include <QPainter>

namespace artwork {

const TButtonPainter::TFace TButtonPainter::Faces[4] = {
    {QStringLiteral("Red"), qRgb(0xC2, 0x46, 0x38), qRgb(0x55, 0x14, 0x10)},
    {QStringLiteral("Blue"), qRgb(0x3E, 0x88, 0xC8), qRgb(0x0F, 0x31, 0x5A)},
    {QStringLiteral("Orange"), qRgb(0xE2, 0x8C, 0x2C), qRgb(0x74, 0x34, 0x06)},
    {QStringLiteral("Green"), qRgb(0x62, 0xB0, 0x34), qRgb(0x1C, 0x4A, 0x0E)},
};

QString TButtonPainter::stateName(EState State) {
    switch (State) {
    case EState::Idle:
        return QStringLiteral("idle");
    case EState::Hover:
        return QStringLiteral("hover");
    case EState::Pressed:
        return QStringLiteral("pressed");
    }
    return {};
}

QImage TButtonPainter::paint(const TFace& Face, EState State) const {
    const bool hover = State == EState::Hover;
    const bool pressed = State == EState::Pressed;
    QColor top(Face.Top);
    QColor bottom(Face.Bottom);
    if (hover) {
        top = top.lighter(122);
        bottom = bottom.lighter(135);
    } else if (pressed) {
        top = QColor(Face.Top).darker(135);
        bottom = QColor(Face.Bottom).darker(115);
    }
    return paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        const QRectF outer(0, 0, Width, Height);
        // Outer dark edge.
        painter.fillPath(roundedRectPath(outer, 4.0), withAlpha(palette::Night, 0.92));
        // Bronze rim, lit from above (from below when pressed in).
        const QRectF rim = outer.adjusted(1, 1, -1, -1);
        QGradientStops metal = {{0.0, QColor(palette::BronzeHighlight)},
                                {0.45, QColor(palette::BronzeLight)},
                                {0.55, QColor(palette::Bronze)},
                                {1.0, QColor(palette::BronzeDark)}};
        if (pressed)
            metal = {{0.0, QColor(palette::BronzeDark)},
                     {0.5, QColor(palette::Bronze)},
                     {1.0, QColor(palette::BronzeLight)}};
        else if (hover)
            metal[0].second = QColor(0xFF, 0xF4, 0xD0);
        painter.fillPath(roundedRectPath(rim, 3.0), verticalGradient(rim.top(), rim.bottom(), metal));
        // A dark line between rim and face.
        const QRectF groove = outer.adjusted(3, 3, -3, -3);
        painter.fillPath(roundedRectPath(groove, 1.0), QColor(0x14, 0x0E, 0x08));

        // The face fills the inner area edge to edge.
        const QRectF face = outer.adjusted(Border, Border, -Border, -Border);
        painter.fillRect(face,
                         verticalGradient(face.top(), face.bottom(),
                                          {{0.0, top}, {0.5, mixed(top, bottom, 0.45)}, {1.0, bottom}}));
        if (!pressed) {
            // Gloss on the upper half.
            painter.fillRect(QRectF(face.left(), face.top(), face.width(), face.height() * 0.48),
                             verticalGradient(face.top(), face.top() + face.height() * 0.48,
                                              {{0.0, QColor(255, 255, 255, hover ? 96 : 70)},
                                               {1.0, QColor(255, 255, 255, hover ? 22 : 14)}}));
            // Light rising from the bottom, as in a cut stone.
            const QColor glow = QColor(Face.Top).lighter(hover ? 170 : 140);
            QColor clear = glow;
            clear.setAlpha(0);
            QColor lit = glow;
            lit.setAlpha(hover ? 120 : 80);
            painter.fillRect(QRectF(face.left(), face.bottom() - 10, face.width(), 10),
                             verticalGradient(face.bottom() - 10, face.bottom(), {{0.0, clear}, {1.0, lit}}));
            painter.fillRect(QRectF(face.left(), face.top(), face.width(), 1),
                             QColor(255, 255, 255, hover ? 140 : 100));
        } else {
            // Pressed in: the face lies in the rim's shadow.
            painter.fillRect(QRectF(face.left(), face.top(), face.width(), 6),
                             verticalGradient(face.top(), face.top() + 6,
                                              {{0.0, QColor(0, 0, 0, 130)}, {1.0, QColor(0, 0, 0, 0)}}));
            painter.fillRect(QRectF(face.left(), face.bottom() - 1, face.width(), 1),
                             QColor(255, 255, 255, 40));
        }
    });
}

} // namespace artwork
