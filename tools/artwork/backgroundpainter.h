#pragma once

#include <QImage>

#include <vector>

class QPainter;

namespace artwork {

class TSeededRandom;

// The window's background: a night sky over a mountain range with a citadel,
// a ringed planet and an aurora. The window shows the lowest 450 rows 1:1 as
// its bottom band and squeezes the rows above into whatever height it has
// beyond 450, so the scene is composed inside that band and the rows above
// hold only sky.
class TBackgroundPainter {
public:
    static constexpr int Width = 800;
    static constexpr int Height = 600;
    static constexpr int BandHeight = 450;

    // The scene; opaque, with fine grain against banding.
    QImage paint() const;

private:
    static constexpr double Horizon = 412.0;
    static constexpr int LakeDepth = 66;

    void paintSky(QPainter& Painter) const;
    void paintMilkyWay(QPainter& Painter, TSeededRandom& Random) const;
    void paintStars(QPainter& Painter, TSeededRandom& Random) const;
    void paintAurora(QPainter& Painter, TSeededRandom& Random) const;
    void paintPlanet(QPainter& Painter) const;
    void paintMountains(QPainter& Painter, TSeededRandom& Random) const;
    void paintCitadel(QPainter& Painter, TSeededRandom& Random) const;
    void paintShore(QPainter& Painter, TSeededRandom& Random) const;
    void paintLake(QImage& Image, TSeededRandom& Random) const;
    void paintMist(QPainter& Painter) const;
    void paintGround(QPainter& Painter, TSeededRandom& Random) const;
    void paintVignette(QPainter& Painter) const;

    // A thin line of dusk light along a ridge.
    static void paintRidgeLight(QPainter& Painter, const std::vector<double>& Ridge, double Strength);
    // Fills the land below a ridge line (one height per column).
    static void paintRange(QPainter& Painter, const std::vector<double>& Ridge, const QBrush& Fill);
    // A ridge line made by midpoint displacement around Base.
    static std::vector<double> ridge(TSeededRandom& Random, double Base, double Amplitude, double Roughness);
};

} // namespace artwork
