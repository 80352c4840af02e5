#include "screenshots/hintpictures.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace screenshots {

namespace {

const QSize PictureSize(580, 160);

void drawSunsetSea(QPainter& Painter) {
    QLinearGradient sky(0, 0, 0, 110);
    sky.setColorAt(0, QColor(48, 26, 60));
    sky.setColorAt(0.6, QColor(196, 86, 52));
    sky.setColorAt(1, QColor(244, 170, 84));
    Painter.fillRect(QRect(0, 0, 580, 110), sky);
    QRadialGradient sun(QPointF(400, 104), 60);
    sun.setColorAt(0, QColor(255, 236, 170));
    sun.setColorAt(1, QColor(255, 200, 120, 0));
    Painter.setBrush(sun);
    Painter.setPen(Qt::NoPen);
    Painter.drawEllipse(QPointF(400, 104), 60, 60);
    QLinearGradient sea(0, 104, 0, 160);
    sea.setColorAt(0, QColor(120, 60, 58));
    sea.setColorAt(1, QColor(22, 20, 34));
    Painter.fillRect(QRect(0, 104, 580, 56), sea);
    Painter.setPen(QPen(QColor(255, 214, 150, 120), 2));
    for (int line = 0; line < 6; ++line) {
        Painter.drawLine(360 - line * 8, 112 + line * 7, 440 + line * 8, 112 + line * 7);
    }
    QPainterPath ship;
    ship.moveTo(120, 112);
    ship.lineTo(210, 112);
    ship.lineTo(196, 126);
    ship.lineTo(132, 126);
    ship.closeSubpath();
    ship.moveTo(160, 110);
    ship.lineTo(160, 40);
    ship.lineTo(200, 104);
    ship.closeSubpath();
    ship.moveTo(156, 110);
    ship.lineTo(156, 56);
    ship.lineTo(126, 104);
    ship.closeSubpath();
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(QColor(20, 14, 24));
    Painter.drawPath(ship);
}

void drawNightCitadel(QPainter& Painter) {
    QLinearGradient sky(0, 0, 0, 160);
    sky.setColorAt(0, QColor(10, 16, 40));
    sky.setColorAt(1, QColor(46, 66, 104));
    Painter.fillRect(QRect(QPoint(), PictureSize), sky);
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(QColor(230, 236, 250, 200));
    for (int star = 0; star < 60; ++star) {
        const double x = std::fmod(star * 97.3, 580.0);
        const double y = std::fmod(star * 41.7, 90.0);
        Painter.drawEllipse(QPointF(x, y), 0.9 + (star % 3) * 0.4, 0.9 + (star % 3) * 0.4);
    }
    QRadialGradient moon(QPointF(110, 40), 26);
    moon.setColorAt(0, QColor(250, 246, 226));
    moon.setColorAt(1, QColor(220, 220, 200));
    Painter.setBrush(moon);
    Painter.drawEllipse(QPointF(110, 40), 22, 22);
    QPainterPath citadel;
    citadel.moveTo(220, 160);
    citadel.lineTo(220, 96);
    citadel.lineTo(250, 96);
    citadel.lineTo(250, 70);
    citadel.lineTo(262, 50);
    citadel.lineTo(274, 70);
    citadel.lineTo(274, 96);
    citadel.lineTo(320, 96);
    citadel.lineTo(320, 40);
    citadel.lineTo(336, 14);
    citadel.lineTo(352, 40);
    citadel.lineTo(352, 96);
    citadel.lineTo(400, 96);
    citadel.lineTo(400, 74);
    citadel.lineTo(412, 56);
    citadel.lineTo(424, 74);
    citadel.lineTo(424, 160);
    citadel.closeSubpath();
    Painter.setBrush(QColor(12, 14, 26));
    Painter.drawPath(citadel);
    Painter.setBrush(QColor(255, 196, 96));
    for (const QPointF& window : {QPointF(334, 56), QPointF(262, 80), QPointF(412, 86), QPointF(290, 116)}) {
        Painter.drawRect(QRectF(window, QSizeF(4, 7)));
    }
    QLinearGradient hills(0, 120, 0, 160);
    hills.setColorAt(0, QColor(20, 26, 44));
    hills.setColorAt(1, QColor(8, 10, 18));
    QPainterPath ground;
    ground.moveTo(0, 160);
    ground.cubicTo(120, 118, 200, 136, 300, 140);
    ground.cubicTo(420, 144, 480, 118, 580, 126);
    ground.lineTo(580, 160);
    ground.closeSubpath();
    Painter.setBrush(hills);
    Painter.drawPath(ground);
}

void drawForestShrine(QPainter& Painter) {
    QLinearGradient glade(0, 0, 0, 160);
    glade.setColorAt(0, QColor(34, 70, 60));
    glade.setColorAt(1, QColor(12, 28, 26));
    Painter.fillRect(QRect(QPoint(), PictureSize), glade);
    QRadialGradient glow(QPointF(300, 84), 90);
    glow.setColorAt(0, QColor(142, 216, 56, 170));
    glow.setColorAt(1, QColor(142, 216, 56, 0));
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(glow);
    Painter.drawEllipse(QPointF(300, 84), 90, 90);
    Painter.setBrush(QColor(10, 22, 20));
    for (int tree = 0; tree < 12; ++tree) {
        const double x = tree * 52.0 + (tree % 2) * 14;
        if (x > 220 && x < 380) {
            continue;
        }
        const double height = 90 + (tree * 37) % 50;
        QPainterPath pine;
        pine.moveTo(x, 160 - height);
        pine.lineTo(x + 24, 160);
        pine.lineTo(x - 24, 160);
        pine.closeSubpath();
        Painter.drawPath(pine);
    }
    Painter.setBrush(QColor(200, 206, 180));
    Painter.drawRect(QRectF(280, 70, 8, 70));
    Painter.drawRect(QRectF(312, 70, 8, 70));
    Painter.drawRect(QRectF(270, 62, 60, 8));
    Painter.setPen(QPen(QColor(218, 218, 188), 2));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawEllipse(QPointF(300, 104), 10, 10);
}

} // namespace

QByteArray drawHintPicture(int Variant) {
    QImage picture(PictureSize, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (Variant % 3) {
    case 0:
        drawSunsetSea(painter);
        break;
    case 1:
        drawNightCitadel(painter);
        break;
    default:
        drawForestShrine(painter);
        break;
    }
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return png;
}

} // namespace screenshots
