#include "imageeffects.h"

#include "seededrandom.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <vector>

namespace artwork {
namespace {

// One box pass along a line of Count premultiplied pixels, Stride apart;
// pixels beyond the ends count as transparent.
void boxBlurLine(QRgb* Line, int Count, int Stride, int Radius, std::vector<QRgb>& Scratch) {
    Scratch.resize(static_cast<size_t>(Count));
    for (int i = 0; i < Count; ++i)
        Scratch[static_cast<size_t>(i)] = Line[i * Stride];
    const int window = 2 * Radius + 1;
    std::array<int, 4> sum{};
    auto add = [&sum](QRgb pixel, int sign) {
        sum[0] += sign * qAlpha(pixel);
        sum[1] += sign * qRed(pixel);
        sum[2] += sign * qGreen(pixel);
        sum[3] += sign * qBlue(pixel);
    };
    for (int i = 0; i < std::min(Radius, Count); ++i)
        add(Scratch[static_cast<size_t>(i)], 1);
    for (int i = 0; i < Count; ++i) {
        const int entering = i + Radius;
        const int leaving = i - Radius - 1;
        if (entering < Count)
            add(Scratch[static_cast<size_t>(entering)], 1);
        if (leaving >= 0)
            add(Scratch[static_cast<size_t>(leaving)], -1);
        Line[i * Stride] = qRgba((sum[1] + window / 2) / window, (sum[2] + window / 2) / window,
                                 (sum[3] + window / 2) / window, (sum[0] + window / 2) / window);
    }
}

} // namespace

QImage transparentImage(QSize Size) {
    QImage image(Size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage blurred(const QImage& Source, int Radius) {
    QImage image = Source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (Radius < 1)
        return image;
    // Three box passes of half the radius each give a bell-shaped falloff
    // that fades out at about the radius.
    const int passRadius = std::max(1, Radius / 2);
    std::vector<QRgb> scratch;
    const int width = image.width();
    const int height = image.height();
    auto* pixels = reinterpret_cast<QRgb*>(image.bits());
    const int stride = image.bytesPerLine() / 4;
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y)
            boxBlurLine(pixels + y * stride, width, 1, passRadius, scratch);
        for (int x = 0; x < width; ++x)
            boxBlurLine(pixels + x, height, stride, passRadius, scratch);
    }
    return image;
}

QImage silhouette(const QImage& Source, const QColor& Colour) {
    QImage image = Source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), Colour);
    return image;
}

QImage desaturated(const QImage& Source, qreal Saturation, qreal Brightness, qreal Opacity) {
    QImage image = Source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const qreal grey = 0.299 * qRed(pixel) + 0.587 * qGreen(pixel) + 0.114 * qBlue(pixel);
            auto channel = [&](int value) {
                const qreal mixed = grey + (value - grey) * Saturation;
                return std::clamp(qRound(mixed * Brightness), 0, 255);
            };
            line[x] = qRgba(channel(qRed(pixel)), channel(qGreen(pixel)), channel(qBlue(pixel)),
                            std::clamp(qRound(qAlpha(pixel) * Opacity), 0, 255));
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void addGrain(QImage& Image, TSeededRandom& Random, int Amplitude) {
    const QImage::Format format = Image.format();
    Image = Image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < Image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(Image.scanLine(y));
        for (int x = 0; x < Image.width(); ++x) {
            // One offset for all three channels keeps the grain free of colour.
            const int offset =
                static_cast<int>(Random.next() % static_cast<quint64>(2 * Amplitude + 1)) - Amplitude;
            const QRgb pixel = line[x];
            line[x] =
                qRgba(std::clamp(qRed(pixel) + offset, 0, 255), std::clamp(qGreen(pixel) + offset, 0, 255),
                      std::clamp(qBlue(pixel) + offset, 0, 255), qAlpha(pixel));
        }
    }
    Image = Image.convertToFormat(format);
}

bool isOpaque(const QImage& Image) {
    const QImage image = Image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) != 255)
                return false;
        }
    }
    return true;
}

} // namespace artwork
