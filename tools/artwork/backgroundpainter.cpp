#include "backgroundpainter.h"

#include "artworkpalette.h"
#include "imageeffects.h"
#include "paintkit.h"
#include "seededrandom.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace artwork {
namespace {

constexpr quint64 SceneSeed = 0x56414E544F52ULL;

QColor rgb(int Red, int Green, int Blue, qreal Alpha = 1.0) {
    QColor colour(Red, Green, Blue);
    colour.setAlphaF(Alpha);
    return colour;
}

// A bell between 0 and 1 that is 1 at Centre and fades over Spread.
double bell(double X, double Centre, double Spread) {
    const double t = (X - Centre) / Spread;
    return std::exp(-t * t);
}

} // namespace

QImage TBackgroundPainter::paint() const {
    TSeededRandom random(SceneSeed);
    QImage image(Width, Height, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(palette::Night));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        paintSky(painter);
        paintMilkyWay(painter, random);
        paintStars(painter, random);
        paintAurora(painter, random);
        paintPlanet(painter);
        paintMountains(painter, random);
        paintCitadel(painter, random);
        paintShore(painter, random);
    }
    paintLake(image, random);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paintMist(painter);
        paintGround(painter, random);
        paintVignette(painter);
    }
    addGrain(image, random, 2);
    return image.convertToFormat(QImage::Format_RGB32);
}

void TBackgroundPainter::paintMountains(QPainter& Painter, TSeededRandom& Random) const {
    // The farthest peaks, pale with haze, tallest left of the middle.
    std::vector<double> distant = ridge(Random, 384.0, 46.0, 0.6);
    for (size_t x = 0; x < distant.size(); ++x) {
        const double column = static_cast<double>(x);
        distant[x] -= 40.0 * bell(column, 300.0, 150.0) + 26.0 * bell(column, 90.0, 60.0);
        distant[x] = std::min(distant[x], Horizon - 6.0);
    }
    paintRange(Painter, distant,
               verticalGradient(300, Horizon, {{0.0, rgb(0x1E, 0x29, 0x35)}, {1.0, rgb(0x2E, 0x38, 0x43)}}));
    paintRidgeLight(Painter, distant, 0.45);

    std::vector<double> far = ridge(Random, 392.0, 16.0, 0.52);
    for (size_t x = 0; x < far.size(); ++x) {
        // A gap in the middle lets the dusk show on the horizon.
        far[x] += 18.0 * bell(static_cast<double>(x), 500.0, 120.0);
    }
    paintRange(Painter, far,
               verticalGradient(360, Horizon, {{0.0, rgb(0x15, 0x1D, 0x26)}, {1.0, rgb(0x1C, 0x24, 0x2D)}}));
    paintRidgeLight(Painter, far, 0.6);
}

void TBackgroundPainter::paintShore(QPainter& Painter, TSeededRandom& Random) const {
    // Low hills on the far shore, with the horizon line of the lake below.
    std::vector<double> shore = ridge(Random, Horizon - 6.0, 5.0, 0.5);
    for (size_t x = 0; x < shore.size(); ++x)
        shore[x] = std::min(shore[x], Horizon);
    paintRange(Painter, shore, QBrush(rgb(0x0E, 0x13, 0x19)));
}

void TBackgroundPainter::paintRidgeLight(QPainter& Painter, const std::vector<double>& Ridge,
                                         double Strength) {
    // The dusk catches the crests nearest to the sun.
    QPainterPath crest;
    crest.moveTo(0, Ridge[0]);
    for (size_t x = 1; x < Ridge.size(); ++x)
        crest.lineTo(static_cast<double>(x), Ridge[x]);
    QLinearGradient light(0, 0, Width, 0);
    light.setColorAt(0.0, rgb(0x70, 0x80, 0x90, 0.10 * Strength));
    light.setColorAt(0.5, rgb(0xC0, 0x80, 0x48, 0.25 * Strength));
    light.setColorAt(0.7, rgb(0xF0, 0xA0, 0x58, 0.7 * Strength));
    light.setColorAt(1.0, rgb(0xA0, 0x70, 0x48, 0.3 * Strength));
    Painter.save();
    Painter.setBrush(Qt::NoBrush);
    Painter.setPen(QPen(QBrush(light), 1.0));
    Painter.drawPath(crest);
    Painter.restore();
}

void TBackgroundPainter::paintLake(QImage& Image, TSeededRandom& Random) const {
    const int top = static_cast<int>(Horizon);
    const int depth = LakeDepth;
    // A calm lake mirrors what stands above the horizon.
    const QImage mirrored = blurred(Image.copy(0, top - depth, Width, depth).mirrored(false, true), 2);
    QPainter painter(&Image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF water(0, top, Width, depth + 40);
    painter.fillRect(water, verticalGradient(top, top + depth + 40,
                                             {{0.0, rgb(0x22, 0x2C, 0x36)}, {1.0, rgb(0x06, 0x08, 0x0B)}}));
    painter.setOpacity(0.72);
    painter.drawImage(0, top, mirrored);
    painter.setOpacity(1.0);
    painter.setPen(Qt::NoPen);
    // Ripples: fine streaks, closer together near the far shore.
    for (int i = 0; i < 420; ++i) {
        const double distance = std::pow(Random.uniform(), 1.6);
        const double y = top + 1 + distance * (depth - 2);
        const double length = 6 + distance * 50 * Random.range(0.3, 1.0);
        const double x = Random.range(-20, Width);
        const bool light = Random.uniform() < 0.55;
        painter.setBrush(light ? rgb(0xB0, 0xC0, 0xCC, Random.range(0.03, 0.09))
                               : rgb(0x00, 0x00, 0x00, Random.range(0.10, 0.25)));
        painter.drawRect(QRectF(x, y, length, 0.8 + distance));
    }
    // The sun's path on the water.
    for (int i = 0; i < 260; ++i) {
        const double distance = Random.uniform();
        const double spread =
            (Random.uniform() + Random.uniform() + Random.uniform() - 1.5) * (14 + distance * 60);
        const double y = top + 1 + distance * (depth - 4);
        const double length = 3 + distance * 16 * Random.range(0.4, 1.0);
        painter.setBrush(rgb(0xFF, 0xC0, 0x78, Random.range(0.15, 0.45) * (1.0 - distance * 0.7)));
        painter.drawRect(QRectF(560 + spread - length / 2, y, length, 0.9 + distance * 0.6));
    }
    // Deeper water is darker.
    painter.fillRect(
        water,
        verticalGradient(top, top + depth + 40,
                         {{0.0, rgb(0, 0, 0, 0.0)}, {0.4, rgb(0, 0, 0, 0.25)}, {1.0, rgb(0, 0, 0, 0.7)}}));
    // The line where the far shore meets the water.
    painter.fillRect(QRectF(0, top, Width, 1), rgb(0x05, 0x07, 0x0A, 0.6));
}

void TBackgroundPainter::paintSky(QPainter& Painter) const {
    Painter.fillRect(QRectF(0, 0, Width, Horizon + 40), verticalGradient(0, Horizon,
                                                                         {{0.0, rgb(0x03, 0x05, 0x0A)},
                                                                          {0.3, rgb(0x05, 0x09, 0x11)},
                                                                          {0.55, rgb(0x09, 0x11, 0x1C)},
                                                                          {0.78, rgb(0x10, 0x1C, 0x2A)},
                                                                          {0.92, rgb(0x1A, 0x29, 0x38)},
                                                                          {1.0, rgb(0x2A, 0x35, 0x40)}}));
    // The dusk: a sun just below the horizon, right of the middle.
    Painter.save();
    Painter.translate(560, Horizon + 6);
    Painter.scale(1.0, 0.36);
    QRadialGradient dusk(QPointF(0, 0), 440);
    dusk.setColorAt(0.0, withAlpha(palette::Ember, 0.62));
    dusk.setColorAt(0.25, rgb(0xB0, 0x68, 0x30, 0.30));
    dusk.setColorAt(0.6, rgb(0x60, 0x3C, 0x28, 0.10));
    dusk.setColorAt(1.0, rgb(0x30, 0x20, 0x18, 0.0));
    Painter.fillRect(QRectF(-440, -440, 880, 880), dusk);
    Painter.restore();
    // The planet's cool light on the left.
    QRadialGradient cool(QPointF(150, 268), 260);
    cool.setColorAt(0.0, withAlpha(palette::Aurora, 0.10));
    cool.setColorAt(1.0, withAlpha(palette::Aurora, 0.0));
    Painter.fillRect(QRectF(0, 0, Width, Horizon), cool);
}

void TBackgroundPainter::paintMilkyWay(QPainter& Painter, TSeededRandom& Random) const {
    const QPointF from(-60, 40);
    const QPointF to(860, 330);
    const QPointF along = to - from;
    const double length = std::hypot(along.x(), along.y());
    const QPointF across(-along.y() / length, along.x() / length);

    const QImage haze = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        QPainterPath band;
        band.moveTo(from);
        band.cubicTo(QPointF(240, 90), QPointF(520, 210), to);
        painter.setPen(QPen(rgb(0x9A, 0xB0, 0xC8, 0.10), 110, Qt::SolidLine, Qt::RoundCap));
        painter.drawPath(band);
        painter.setPen(QPen(rgb(0xB8, 0xC4, 0xD4, 0.08), 40, Qt::SolidLine, Qt::RoundCap));
        painter.drawPath(band);
    });
    Painter.drawImage(0, 0, blurred(haze, 36));

    Painter.save();
    Painter.setPen(Qt::NoPen);
    for (int i = 0; i < 1600; ++i) {
        const double t = Random.uniform();
        // The sum of three uniforms crowds the dust to the middle of the band.
        const double spread = (Random.uniform() + Random.uniform() + Random.uniform() - 1.5) * 46.0;
        const QPointF point = from + along * t + across * spread;
        const double sway = 20.0 * std::sin(t * 6.0);
        const QPointF dust(point.x(), point.y() + sway * 0.4);
        if (dust.y() > Horizon - 30)
            continue;
        const double alpha = Random.range(0.08, 0.32) * (1.0 - std::abs(spread) / 80.0);
        Painter.setBrush(rgb(0xD8, 0xE0, 0xF0, std::max(0.0, alpha)));
        const double radius = Random.range(0.3, 0.6);
        Painter.drawEllipse(dust, radius, radius);
    }
    Painter.restore();
}

void TBackgroundPainter::paintStars(QPainter& Painter, TSeededRandom& Random) const {
    Painter.save();
    Painter.setPen(Qt::NoPen);
    for (int i = 0; i < 520; ++i) {
        const double x = Random.range(0, Width);
        const double y = std::pow(Random.uniform(), 1.3) * (Horizon - 24);
        const double depth = y / Horizon;
        const double brightness = Random.range(0.25, 0.95) * (1.0 - 0.8 * depth * depth);
        const bool large = Random.uniform() < 0.05;
        const double radius = large ? Random.range(0.85, 1.35) : Random.range(0.35, 0.75);
        const QColor cold = rgb(0xCE, 0xDC, 0xFF);
        const QColor warm = rgb(0xFF, 0xE8, 0xC8);
        QColor colour = mixed(cold, warm, Random.uniform());
        colour.setAlphaF(brightness);
        Painter.setBrush(colour);
        Painter.drawEllipse(QPointF(x, y), radius, radius);
    }
    // A few bright stars with a sparkle, kept clear of the planet.
    const QPointF bright[] = {{338, 34},  {512, 96},  {712, 58},  {86, 120}, {436, 188},
                              {760, 222}, {262, 300}, {590, 168}, {30, 14}};
    for (const QPointF& star : bright) {
        const double size = Random.range(1.6, 2.8);
        drawGlint(Painter, star, size, rgb(0xF4, 0xF0, 0xE2, 0.85));
    }
    Painter.restore();
}

void TBackgroundPainter::paintAurora(QPainter& Painter, TSeededRandom& Random) const {
    struct TRibbon {
        double Base, Swing, Left, Right, Height, Alpha;
        QColor Colour;
    };
    const TRibbon ribbons[] = {
        {222.0, 20.0, -40.0, 560.0, 70.0, 0.34, QColor(palette::Aurora)},
        {176.0, 14.0, 340.0, 860.0, 54.0, 0.22, rgb(0x4A, 0xA6, 0xC6)},
    };
    const QImage curtains = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        for (const TRibbon& ribbon : ribbons) {
            const double phase1 = Random.range(0, 6.28);
            const double phase2 = Random.range(0, 6.28);
            const double phase3 = Random.range(0, 6.28);
            const double middle = (ribbon.Left + ribbon.Right) / 2.0;
            const double halfWidth = (ribbon.Right - ribbon.Left) / 2.0;
            for (int x = 0; x < Width; ++x) {
                const double envelope = bell(x, middle, halfWidth * 0.7);
                if (envelope < 0.02)
                    continue;
                const double y = ribbon.Base + ribbon.Swing * std::sin(x * 0.011 + phase1) +
                                 ribbon.Swing * 0.4 * std::sin(x * 0.037 + phase2);
                const double height = ribbon.Height * (0.65 + 0.35 * std::sin(x * 0.023 + phase3));
                // Fine vertical rays, the texture of a curtain of light.
                const double rays = 0.75 + 0.25 * std::sin(x * 0.9 + phase2) * std::sin(x * 0.31 + phase1);
                QColor foot = ribbon.Colour;
                foot.setAlphaF(std::min(1.0, ribbon.Alpha * envelope * rays));
                QColor body = foot;
                body.setAlphaF(foot.alphaF() * 0.45);
                QColor top = foot;
                top.setAlpha(0);
                painter.fillRect(
                    QRectF(x, y - height, 1, height + 3),
                    verticalGradient(y + 3, y - height, {{0.0, top}, {0.08, foot}, {0.3, body}, {1.0, top}}));
            }
        }
    });
    Painter.drawImage(0, 0, blurred(curtains, 3));
}

void TBackgroundPainter::paintPlanet(QPainter& Painter) const {
    const QPointF centre(150, 268);
    const double radius = 56.0;
    const double tilt = -16.0;
    const QPointF light(0.91, 0.41); // towards the sun below the horizon

    // Atmosphere.
    const QImage halo = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(rgb(0x70, 0xB8, 0xC8, 0.55));
        painter.drawEllipse(centre, radius + 1.5, radius + 1.5);
    });
    Painter.drawImage(0, 0, blurred(halo, 12));

    auto paintRing = [&](bool Front) {
        Painter.save();
        Painter.translate(centre);
        Painter.rotate(tilt);
        // The ring is an ellipse seen from slightly above: its far half runs
        // behind the planet, its near half in front.
        Painter.setClipRect(Front ? QRectF(-200, 0, 400, 100) : QRectF(-200, -100, 400, 100));
        Painter.setBrush(Qt::NoBrush);
        struct TBand {
            double Radius, Width, Alpha;
            QRgb Colour;
        };
        const TBand bands[] = {{74, 3.0, 0.25, palette::Bronze},        {79, 4.0, 0.45, palette::BronzeLight},
                               {85, 3.0, 0.35, qRgb(0xA8, 0x98, 0x80)}, {92, 2.0, 0.12, palette::BronzeLight},
                               {97, 4.0, 0.40, qRgb(0xC0, 0xB0, 0x90)}, {102, 1.5, 0.22, palette::Bronze}};
        for (const TBand& band : bands) {
            Painter.setPen(QPen(withAlpha(band.Colour, band.Alpha), band.Width));
            Painter.drawEllipse(QPointF(0, 0), band.Radius, band.Radius * 0.2);
        }
        Painter.restore();
    };
    paintRing(false);

    const QRectF disc(centre - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
    const QImage body = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        QRadialGradient surface(centre + light * radius * 0.5, radius * 1.5);
        surface.setColorAt(0.0, rgb(0x7A, 0x8A, 0x96));
        surface.setColorAt(0.3, rgb(0x42, 0x52, 0x62));
        surface.setColorAt(0.65, rgb(0x1A, 0x24, 0x30));
        surface.setColorAt(1.0, rgb(0x08, 0x0C, 0x12));
        painter.setPen(Qt::NoPen);
        painter.setBrush(surface);
        painter.drawEllipse(disc);
        // Cloud belts, following the tilt of the ring.
        painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        painter.save();
        painter.translate(centre);
        painter.rotate(tilt);
        const double belts[][3] = {{-40, 5, 0.10}, {-24, 8, -0.12}, {-8, 4, 0.08},
                                   {6, 10, -0.10}, {22, 5, 0.09},   {36, 7, -0.08}};
        for (const auto& belt : belts) {
            const QColor colour = belt[2] > 0 ? rgb(0xD8, 0xC8, 0xA8, belt[2]) : rgb(0, 0, 0, -belt[2]);
            QColor clear = colour;
            clear.setAlpha(0);
            // Soft-edged belts: fading in and out across their width.
            painter.fillRect(QRectF(-radius, belt[0] - 2, 2 * radius, belt[1] + 4),
                             verticalGradient(belt[0] - 2, belt[0] + belt[1] + 2,
                                              {{0.0, clear}, {0.35, colour}, {0.65, colour}, {1.0, clear}}));
        }
        painter.restore();
        // The night side.
        QLinearGradient night(centre - light * radius, centre + light * radius);
        night.setColorAt(0.0, rgb(0x02, 0x03, 0x06, 0.85));
        night.setColorAt(0.55, rgb(0x02, 0x03, 0x06, 0.15));
        night.setColorAt(1.0, rgb(0x02, 0x03, 0x06, 0.0));
        painter.fillRect(disc, night);
    });
    Painter.drawImage(0, 0, body);
    // Dusk light on the rim facing the sun, softened.
    const QImage rim = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        QPainterPath crescent;
        crescent.addEllipse(disc);
        QPainterPath shade;
        shade.addEllipse(disc.translated(-light * radius * 0.09));
        painter.fillPath(crescent.subtracted(shade), rgb(0xF0, 0xB0, 0x70, 0.8));
    });
    Painter.drawImage(0, 0, blurred(rim, 1));
    paintRing(true);

    // A small moon.
    const QPointF moon(296, 204);
    const QImage moonGlow = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(rgb(0xC8, 0xD4, 0xE0, 0.5));
        painter.drawEllipse(moon, 7.5, 7.5);
    });
    Painter.drawImage(0, 0, blurred(moonGlow, 8));
    QRadialGradient moonLight(moon + light * 4.0, 10);
    moonLight.setColorAt(0.0, rgb(0xE8, 0xE4, 0xD8));
    moonLight.setColorAt(0.6, rgb(0x70, 0x78, 0x84));
    moonLight.setColorAt(1.0, rgb(0x20, 0x26, 0x30));
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(moonLight);
    Painter.drawEllipse(moon, 6.5, 6.5);
}

void TBackgroundPainter::paintCitadel(QPainter& Painter, TSeededRandom& Random) const {
    // Towers as (centre x, half width at the foot, top of the body, tip).
    struct TTower {
        double X, HalfWidth, Top, Tip;
    };
    const TTower towers[] = {{604, 4.0, 362, 344},
                             {625, 7.0, 328, 294},
                             {655, 11.0, 296, 216},
                             {686, 6.0, 340, 312},
                             {708, 4.0, 366, 350}};
    const double foot = Horizon - 2.0;

    QPainterPath citadel;
    // The rock the citadel stands on, and its walls.
    citadel.moveTo(560, foot + 6);
    citadel.cubicTo(QPointF(580, 394), QPointF(600, 386), QPointF(612, 382));
    citadel.lineTo(700, 380);
    citadel.cubicTo(QPointF(716, 386), QPointF(740, 398), QPointF(770, foot + 6));
    citadel.closeSubpath();
    for (int merlon = 0; merlon < 22; ++merlon) {
        const double x = 610 + merlon * 4.2;
        citadel.addRect(QRectF(x, 376, 2.2, 5));
    }
    for (const TTower& tower : towers) {
        QPainterPath shape;
        const double shoulder = tower.Top + (foot - tower.Top) * 0.18;
        shape.moveTo(tower.X - tower.HalfWidth * 1.25, foot);
        shape.lineTo(tower.X - tower.HalfWidth, shoulder);
        // A flared crown below the spire.
        shape.lineTo(tower.X - tower.HalfWidth * 1.45, tower.Top + 4);
        shape.lineTo(tower.X - tower.HalfWidth * 0.7, tower.Top);
        shape.lineTo(tower.X, tower.Tip);
        shape.lineTo(tower.X + tower.HalfWidth * 0.7, tower.Top);
        shape.lineTo(tower.X + tower.HalfWidth * 1.45, tower.Top + 4);
        shape.lineTo(tower.X + tower.HalfWidth, shoulder);
        shape.lineTo(tower.X + tower.HalfWidth * 1.25, foot);
        shape.closeSubpath();
        citadel = citadel.united(shape);
    }
    // A bridge between the great tower and its neighbour.
    QPainterPath bridge;
    bridge.moveTo(630, 336);
    bridge.quadTo(QPointF(641, 328), QPointF(650, 332));
    bridge.lineTo(650, 337);
    bridge.quadTo(QPointF(641, 334), QPointF(630, 341));
    bridge.closeSubpath();
    citadel = citadel.united(bridge);

    // A cold rim of light keeps the silhouette readable against the sky.
    Painter.save();
    Painter.setPen(QPen(rgb(0x3A, 0x4C, 0x5C, 0.5), 1.0));
    Painter.setBrush(
        verticalGradient(200, foot, {{0.0, rgb(0x10, 0x17, 0x20)}, {1.0, rgb(0x16, 0x1E, 0x28)}}));
    Painter.drawPath(citadel);
    Painter.restore();

    // Lit windows, with their glow.
    const QImage windows = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        for (const TTower& tower : towers) {
            const int count = static_cast<int>((foot - tower.Top) / 14.0);
            for (int i = 0; i < count; ++i) {
                if (Random.uniform() < 0.35)
                    continue;
                const double y = tower.Top + 10 + i * 13.0 + Random.range(-2, 2);
                const double x = tower.X + Random.range(-tower.HalfWidth * 0.5, tower.HalfWidth * 0.5);
                painter.setBrush(rgb(0xFF, 0xC8, 0x78, Random.range(0.6, 1.0)));
                painter.drawRect(QRectF(x - 0.7, y, 1.4, 2.4));
            }
        }
    });
    Painter.drawImage(0, 0, blurred(silhouette(windows, withAlpha(palette::Ember, 0.9)), 6));
    Painter.drawImage(0, 0, windows);

    // The beacon on the great tower.
    const QPointF beacon(655, 216);
    const QImage light = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(withAlpha(palette::Aurora, 0.9));
        painter.drawEllipse(beacon, 5, 5);
    });
    Painter.drawImage(0, 0, blurred(light, 8));
    drawGlint(Painter, beacon, 2.6, rgb(0xE0, 0xFF, 0xF4, 0.95));
}

void TBackgroundPainter::paintMist(QPainter& Painter) const {
    const QImage mist = paintedLayer(QSize(Width, Height), [&](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(rgb(0x8A, 0x9C, 0xA8, 0.14));
        painter.drawEllipse(QPointF(260, Horizon - 2), 240, 6);
        painter.drawEllipse(QPointF(700, Horizon), 160, 5);
        painter.setBrush(rgb(0xE8, 0xA8, 0x68, 0.16));
        painter.drawEllipse(QPointF(540, Horizon - 1), 190, 5);
    });
    Painter.drawImage(0, 0, blurred(mist, 8));
}

void TBackgroundPainter::paintGround(QPainter& Painter, TSeededRandom& Random) const {
    std::vector<double> near = ridge(Random, Horizon + LakeDepth + 4.0, 10.0, 0.5);
    const std::vector<double> rock = ridge(Random, 0.0, 34.0, 0.66);
    for (size_t i = 0; i < near.size(); ++i) {
        const double x = static_cast<double>(i);
        // Crags at both edges frame the lake; the higher, the more broken.
        double lift = 0.0;
        if (x < 250)
            lift = 118.0 * std::pow(1.0 - x / 250.0, 1.4);
        if (x > 600)
            lift = 92.0 * std::pow((x - 600.0) / 200.0, 1.5);
        near[i] -= lift + rock[i] * std::min(1.0, lift / 60.0);
    }
    paintRange(
        Painter, near,
        verticalGradient(
            340, Height,
            {{0.0, rgb(0x0B, 0x0F, 0x14)}, {0.3, rgb(0x07, 0x0A, 0x0E)}, {1.0, rgb(0x04, 0x05, 0x07)}}));
    paintRidgeLight(Painter, near, 0.45);
}

void TBackgroundPainter::paintVignette(QPainter& Painter) const {
    Painter.save();
    Painter.translate(400, 330);
    Painter.scale(1.0, 0.72);
    QRadialGradient vignette(QPointF(0, 0), 560);
    vignette.setColorAt(0.0, rgb(0, 0, 0, 0.0));
    vignette.setColorAt(0.6, rgb(0, 0, 0, 0.0));
    vignette.setColorAt(1.0, rgb(0, 0, 0, 0.55));
    Painter.fillRect(QRectF(-700, -700, 1400, 1400), vignette);
    Painter.restore();
    // The panel with the hints and the footer sits on the lowest rows.
    Painter.fillRect(QRectF(0, 490, Width, Height - 490),
                     verticalGradient(490, Height, {{0.0, rgb(0, 0, 0, 0.0)}, {1.0, rgb(0, 0, 0, 0.45)}}));
}

void TBackgroundPainter::paintRange(QPainter& Painter, const std::vector<double>& Ridge, const QBrush& Fill) {
    QPainterPath land;
    land.moveTo(0, Height);
    for (size_t x = 0; x < Ridge.size(); ++x)
        land.lineTo(static_cast<double>(x), Ridge[x]);
    land.lineTo(Width, Height);
    land.closeSubpath();
    Painter.save();
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(Fill);
    Painter.drawPath(land);
    Painter.restore();
}

std::vector<double> TBackgroundPainter::ridge(TSeededRandom& Random, double Base, double Amplitude,
                                              double Roughness) {
    // 1024 + 1 points, cut to the width afterwards.
    const int size = 1024;
    std::vector<double> heights(size + 1, Base);
    heights[0] = Base + Random.range(-Amplitude, Amplitude) * 0.5;
    heights[size] = Base + Random.range(-Amplitude, Amplitude) * 0.5;
    double spread = Amplitude;
    for (int step = size; step > 1; step /= 2) {
        for (int i = step / 2; i < size; i += step) {
            heights[static_cast<size_t>(i)] =
                (heights[static_cast<size_t>(i - step / 2)] + heights[static_cast<size_t>(i + step / 2)]) /
                    2.0 +
                Random.range(-spread, spread);
        }
        spread *= Roughness;
    }
    heights.resize(Width + 1);
    return heights;
}

} // namespace artwork
