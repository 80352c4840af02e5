#include "splashpainter.h"

#include "artworkfonts.h"
#include "artworkpalette.h"
#include "logopainter.h"
#include "paintkit.h"

#include <QPainter>

namespace artwork {

TSplashPainter::TSplashPainter(QImage Scene)
    : m_Scene(std::move(Scene)) {}

QImage TSplashPainter::sceneView(QSize Size, const QRectF& Source) const {
    QImage view(Size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&view);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(Size)), m_Scene, Source);
    return view;
}

void TSplashPainter::paintFrame(QImage& Card, qreal Inset, bool Studs) {
    QPainter painter(&Card);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF rect(0, 0, Card.width(), Card.height());
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(palette::Night), 2.0));
    painter.drawRect(rect.adjusted(1, 1, -1, -1));
    const QRectF line = rect.adjusted(Inset, Inset, -Inset, -Inset);
    painter.setPen(QPen(withAlpha(palette::Night, 0.8), 3.0));
    painter.drawRoundedRect(line, 3, 3);
    painter.setPen(QPen(QBrush(verticalGradient(0, rect.height(),
                                                {{0.0, QColor(palette::BronzeHighlight)},
                                                 {0.5, QColor(palette::BronzeLight)},
                                                 {1.0, QColor(palette::Bronze)}})),
                        1.3));
    painter.drawRoundedRect(line, 3, 3);
    if (Studs) {
        for (const QPointF& corner : {line.topLeft(), line.topRight(), line.bottomLeft(), line.bottomRight()})
            drawStud(painter, corner, 3.6);
    }
}

QImage TSplashPainter::smallCard() const {
    const QSize size(TLogoPainter::LogoWidth, TLogoPainter::LogoHeight);
    QImage card = sceneView(size, QRectF(370, 226, 420, 191));
    {
        QPainter painter(&card);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.fillRect(card.rect(), QColor(0, 0, 0, 70));
        const qreal scale = 0.9;
        const QImage logo = TLogoPainter().vantorLogo(QString(), 0, scale);
        painter.drawImage(
            QPointF((size.width() - logo.width()) / 2.0, (size.height() - logo.height()) / 2.0 + 1), logo);
    }
    paintFrame(card, 2.5, false);
    return card.convertToFormat(QImage::Format_RGB32);
}

QImage TSplashPainter::largeCard(const QString& Status) const {
    const QSize size(LargeWidth, LargeHeight);
    QImage card = sceneView(size, QRectF(190, 130, 610, 277));
    {
        QPainter painter(&card);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        // Darker towards the bottom, where the status line sits.
        painter.fillRect(card.rect(), verticalGradient(0, size.height(),
                                                       {{0.0, QColor(0, 0, 0, 40)},
                                                        {0.6, QColor(0, 0, 0, 70)},
                                                        {1.0, QColor(0, 0, 0, 200)}}));
        const QImage logo = TLogoPainter().vantorLogo(QString(), 0, 2.0);
        painter.drawImage(QPointF((size.width() - logo.width()) / 2.0, 6), logo);

        const QPointF centre(size.width() / 2.0, size.height() - 24.0);
        const QPainterPath text = centredTextPath(artworkFont(12, true, 135), Status.toUpper(), centre);
        drawOutlinedPath(painter, text, QColor(palette::Text), withAlpha(palette::Night, 0.9), 1.0);
        const QRectF ink = text.boundingRect();
        for (const int side : {-1, 1}) {
            const qreal inner = side < 0 ? ink.left() - 12 : ink.right() + 12;
            QLinearGradient fade(inner, 0, inner + side * 70, 0);
            fade.setColorAt(0.0, QColor(palette::BronzeLight));
            fade.setColorAt(1.0, withAlpha(palette::Bronze, 0.0));
            painter.fillRect(QRectF(std::min(inner, inner + side * 70), centre.y() - 0.6, 70, 1.2), fade);
            drawStud(painter, QPointF(inner, centre.y()), 2.6);
        }
    }
    paintFrame(card, 4.5, true);
    return card.convertToFormat(QImage::Format_RGB32);
}

} // namespace artwork
