#pragma once

#include <QImage>
#include <QString>

namespace artwork {

// The splash pictures: opaque framed cards with a view of the scene and the
// product's logo. The small card has the size of the package logos (the
// package rows size their logo label by it); the large cards say what the
// launcher is doing.
class TSplashPainter {
public:
    static constexpr int LargeWidth = 440;
    static constexpr int LargeHeight = 200;

    explicit TSplashPainter(QImage Scene);

    // The card shown while the launcher loads its configuration.
    QImage smallCard() const;
    // A large card with Status written under the logo.
    QImage largeCard(const QString& Status) const;

private:
    QImage sceneView(QSize Size, const QRectF& Source) const;
    static void paintFrame(QImage& Card, qreal Inset, bool Studs);

    QImage m_Scene;
};

} // namespace artwork
