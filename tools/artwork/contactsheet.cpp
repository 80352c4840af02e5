#include "contactsheet.h"

#include "artworkfonts.h"
#include "artworkpalette.h"
#include "paintkit.h"

#include <QPainter>
#include <QPixmap>

namespace artwork {
namespace {

constexpr int SheetWidth = 1660;
constexpr int Margin = 20;

QFont labelFont() {
    return artworkFont(11, false);
}

} // namespace

TContactSheet::TContactSheet(const std::vector<TArtwork>& Pictures)
    : m_Pictures(Pictures) {}

QImage TContactSheet::picture(const QString& FileName) const {
    for (const TArtwork& artwork : m_Pictures) {
        if (artwork.FileName == FileName)
            return artwork.Image;
    }
    return {};
}

void TContactSheet::paintText(QPainter& Painter, const QPointF& Centre, const QString& Text, int PixelSize,
                              const QColor& Colour) {
    QFont font = artworkFont(PixelSize, true);
    font.setCapitalization(QFont::SmallCaps);
    Painter.save();
    Painter.setFont(font);
    Painter.setPen(Colour);
    const QRectF box(Centre.x() - 200, Centre.y() - PixelSize, 400, 2 * PixelSize);
    Painter.drawText(box, Qt::AlignCenter, Text);
    Painter.restore();
}

void TContactSheet::paintBorderImage(QPainter& Painter, const QRect& Target, const QImage& Image,
                                     const QMargins& Margins, bool Repeat) {
    const QPixmap pixmap = QPixmap::fromImage(Image);
    const int w = Image.width();
    const int h = Image.height();
    const int xs[] = {0, Margins.left(), w - Margins.right(), w};
    const int ys[] = {0, Margins.top(), h - Margins.bottom(), h};
    const int txs[] = {Target.left(), Target.left() + Margins.left(), Target.right() + 1 - Margins.right(),
                       Target.right() + 1};
    const int tys[] = {Target.top(), Target.top() + Margins.top(), Target.bottom() + 1 - Margins.bottom(),
                       Target.bottom() + 1};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const QRect source(xs[column], ys[row], xs[column + 1] - xs[column], ys[row + 1] - ys[row]);
            const QRect target(txs[column], tys[row], txs[column + 1] - txs[column], tys[row + 1] - tys[row]);
            if (source.isEmpty() || target.isEmpty())
                continue;
            const bool corner = row != 1 && column != 1;
            if (corner || !Repeat) {
                Painter.drawPixmap(target, pixmap, source);
                continue;
            }
            // Tiled pieces keep their own size along the direction they repeat.
            QPixmap tile = pixmap.copy(source);
            if (row != 1)
                tile = tile.scaled(tile.width(), target.height());
            if (column != 1)
                tile = tile.scaled(target.width(), tile.height());
            Painter.drawTiledPixmap(target, tile);
        }
    }
}

void TContactSheet::paintPackageRow(QPainter& Painter, QPointF TopLeft, const QString& Logo,
                                    const QString& Button, const QString& Icon, const QString& Version,
                                    bool Progress, bool Checked) const {
    const QImage logo = picture(Logo);
    const int width = logo.width();
    Painter.drawImage(TopLeft, logo);
    const QRect frame(qRound(TopLeft.x()) + 12, qRound(TopLeft.y()) + logo.height() + 6, width - 24, 104);
    paintBorderImage(Painter, frame, picture(QStringLiteral("clientpackage-background.png")),
                     QMargins(16, 16, 16, 16), true);
    const QRect slot(frame.center().x() - 48, frame.top() + 10, 98, 40);
    if (Progress) {
        paintBorderImage(Painter, slot, picture(QStringLiteral("ProgressBar_BG.png")), QMargins(2, 2, 2, 2),
                         false);
        Painter.drawImage(QRect(slot.left() + 2, slot.top() + 2, 58, 36),
                          picture(QStringLiteral("ProgressBar.png")));
        paintText(Painter, slot.center() + QPointF(1, 1), QStringLiteral("3.4 MB/s"), 13,
                  QColor(palette::Text));
        paintText(Painter, QPointF(frame.center().x(), slot.bottom() + 16), QStringLiteral("612.3/1024.0 MB"),
                  13, QColor(palette::Text));
    } else {
        Painter.drawImage(slot, picture(Button));
        const QImage icon = picture(Icon);
        if (!icon.isNull())
            Painter.drawImage(slot.center() - QPoint(icon.width() / 2 - 1, icon.height() / 2 - 1), icon);
        paintText(Painter, QPointF(frame.center().x(), slot.bottom() + 16), Version, 13,
                  QColor(palette::Text));
    }
    if (Checked || Icon == QLatin1String("Icon_Play.png")) {
        const QImage box = picture(Checked ? QStringLiteral("checkbox-checked.png")
                                           : QStringLiteral("checkbox-unchecked.png"));
        const QPointF boxAt(frame.left() + 22, slot.bottom() + 28);
        Painter.drawImage(boxAt, box);
        paintText(Painter, QPointF(boxAt.x() + 68, boxAt.y() + 8), QStringLiteral("Default Client"), 13,
                  QColor(palette::Text));
    }
}

void TContactSheet::paintHintBox(QPainter& Painter, const QRect& Box, bool Hints) const {
    paintBorderImage(Painter, Box, picture(QStringLiteral("hint-background.png")), QMargins(5, 5, 5, 0),
                     true);
    if (Hints) {
        const QImage scene = picture(QStringLiteral("BackgroundImage.jpg"));
        const char* captions[] = {"New Season: Ember Tides", "Patch Notes 4.2", "Community Cup Finals"};
        // Neighbouring tiles share their slanted edge.
        const int step = 276 - 40;
        const int left = Box.left() + (Box.width() - 2 * step - 276) / 2;
        for (int i = 0; i < 3; ++i) {
            const QRect tile(left + i * step, Box.top() + 7, 276, 80);
            const qreal slant = tile.height() / 2.0;
            QPolygonF shape;
            const qreal l = tile.left();
            const qreal r = tile.right() + 1;
            const qreal t = tile.top();
            const qreal b = tile.bottom() + 1;
            if (i == 0)
                shape << QPointF(l, t) << QPointF(r, t) << QPointF(r - slant, b) << QPointF(l, b);
            else if (i == 1)
                shape << QPointF(l + slant, t) << QPointF(r, t) << QPointF(r - slant, b) << QPointF(l, b);
            else
                shape << QPointF(l + slant, t) << QPointF(r, t) << QPointF(r, b) << QPointF(l, b);
            QPainterPath path;
            path.addPolygon(shape);
            path.closeSubpath();
            Painter.save();
            Painter.setClipPath(path);
            Painter.drawImage(tile, scene, QRect(120 + i * 210, 180 + i * 30, 276 * 2 / 3, 80 * 2 / 3));
            Painter.fillRect(QRect(tile.left(), tile.top() + 50, tile.width(), 30), QColor(50, 50, 50, 178));
            Painter.restore();
            paintText(Painter, QPointF(tile.center().x(), tile.top() + 65), QString::fromLatin1(captions[i]),
                      11, QColor(palette::Text));
        }
    }
    // Footer: the maker's logo left, the social links centred, About and the
    // version on the right.
    const int footer = Box.bottom() - 22;
    const QImage maker = picture(QStringLiteral("QuorvaneLogo.png"));
    Painter.drawImage(Box.left() + 12, footer - maker.height() / 2, maker);
    const QImage news = picture(QStringLiteral("Twitter.png"));
    const QImage chat = picture(QStringLiteral("Discord.png"));
    Painter.drawImage(Box.center().x() - news.width() - 3, footer - news.height() / 2, news);
    Painter.drawImage(Box.center().x() + 3, footer - chat.height() / 2, chat);
    const QImage about = picture(QStringLiteral("icircle.png"));
    Painter.drawImage(Box.right() - 70, footer - about.height() / 2, about);
    paintText(Painter, QPointF(Box.right() - 28, footer), QStringLiteral("v0.0.12"), 11,
              QColor(palette::Text));
}

QImage TContactSheet::windowMockup(int Height, int Packages, bool Hints) const {
    QImage window(800, Height, QImage::Format_RGB32);
    QPainter painter(&window);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    const QImage background = picture(QStringLiteral("BackgroundImage.jpg"));
    // border-image "0 0 450 0": the upper rows squeezed into what is left
    // above the lowest 450, which are drawn as they are.
    const int band = 450;
    if (Height > band)
        painter.drawImage(QRect(0, 0, 800, Height - band), background,
                          QRect(0, 0, 800, background.height() - band));
    painter.drawImage(QRect(0, Height - band, 800, band), background,
                      QRect(0, background.height() - band, 800, band));

    struct TRow {
        const char* Logo;
        const char* Button;
        const char* Icon;
        const char* Version;
        bool Progress;
        bool Checked;
    };
    const TRow rows[] = {
        {"VantorLogo_QT.png", "Button_Green_idle.png", "Icon_Play.png", "4.2.1", false, true},
        {"VantorLogo_Classic_disabled.png", "Button_Blue_hover.png", "Icon_Download.png", "1.9.0", false,
         false},
        {"VantorLogo_Preview_disabled.png", "", "", "", true, false},
        {"VantorLogo_Beta_disabled.png", "Button_Orange_idle.png", "Icon_Update.png", "4.3.0", false, false},
        {"VantorLogo_Test_disabled.png", "Button_Red_idle.png", "", "", false, false},
    };
    const int columns = std::min(Packages, 4);
    const int rowWidth = 180;
    const int left = (800 - columns * rowWidth) / 2;
    for (int i = 0; i < Packages; ++i) {
        const TRow& row = rows[i % 5];
        const QPointF at(left + (i % 4) * rowWidth + 2, 20 + (i / 4) * 206);
        paintPackageRow(painter, at, QString::fromLatin1(row.Logo), QString::fromLatin1(row.Button),
                        QString::fromLatin1(row.Icon), QString::fromLatin1(row.Version), row.Progress,
                        row.Checked);
    }
    const int boxHeight = Hints ? 140 : 56;
    paintHintBox(painter, QRect(10, Height - boxHeight, 780, boxHeight), Hints);
    return window;
}

QImage TContactSheet::render() const {
    QImage sheet(SheetWidth, 3200, QImage::Format_RGB32);
    sheet.fill(QColor(0x2A, 0x2C, 0x30));
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(labelFont());
    painter.setPen(QColor(0xB0, 0xB0, 0xB0));

    int y = Margin;
    painter.drawText(
        Margin, y + 12,
        QStringLiteral("Window mock-ups: 800x450 with four rows, 800x600 with five rows and hints"));
    y += 20;
    painter.drawImage(Margin, y, windowMockup(450, 4, false));
    painter.drawImage(Margin + 820, y, windowMockup(600, 5, true));
    y += 620;

    painter.drawText(
        Margin, y + 12,
        QStringLiteral("Background (the lowest 450 rows are the window's bottom band) and splashes"));
    y += 20;
    const QImage background = picture(QStringLiteral("BackgroundImage.jpg"));
    painter.drawImage(Margin, y, background);
    painter.setPen(QPen(QColor(255, 80, 80, 160), 1, Qt::DashLine));
    painter.drawLine(Margin, y + 150, Margin + 800, y + 150);
    painter.setPen(QColor(0xB0, 0xB0, 0xB0));
    int x = Margin + 820;
    int splashY = y;
    for (const char* name :
         {"LauncherLogo_UpdatingLauncher.png", "VantorLogo_LaunchingClient.png", "LauncherLogo_QT.png"}) {
        const QImage splash = picture(QString::fromLatin1(name));
        painter.drawImage(x, splashY, splash);
        splashY += splash.height() + 10;
    }
    y += 620;

    // Every picture at its own size on two grounds, then enlarged four times.
    painter.drawText(Margin, y + 12, QStringLiteral("Every picture, 1:1 on slate and on the scene, then 4x"));
    y += 20;
    x = Margin;
    int lineHeight = 0;
    for (const TArtwork& artwork : m_Pictures) {
        if (artwork.Image.width() > 200)
            continue;
        const int w = artwork.Image.width();
        const int h = artwork.Image.height();
        const int cell = std::max(w * 2 + 12, 110);
        if (x + cell > SheetWidth - Margin) {
            x = Margin;
            y += lineHeight + 22;
            lineHeight = 0;
        }
        painter.fillRect(QRect(x, y, w, h), QColor(palette::Slate700));
        painter.drawImage(x, y, artwork.Image);
        painter.drawImage(QRect(x + w + 4, y, w, h), background, QRect(60, 330, w, h));
        painter.drawImage(x + w + 4, y, artwork.Image);
        painter.drawText(x, y + h + 13, artwork.FileName.left(24));
        x += cell + 10;
        lineHeight = std::max(lineHeight, h);
    }
    y += lineHeight + 30;
    x = Margin;
    lineHeight = 0;
    for (const TArtwork& artwork : m_Pictures) {
        if (artwork.Image.width() > 100 || artwork.Image.height() > 64)
            continue;
        const QSize zoomed = artwork.Image.size() * 4;
        if (x + zoomed.width() > SheetWidth - Margin) {
            x = Margin;
            y += lineHeight + 10;
            lineHeight = 0;
        }
        painter.fillRect(QRect(QPoint(x, y), zoomed), QColor(palette::Slate700));
        painter.drawImage(QRect(QPoint(x, y), zoomed), artwork.Image);
        x += zoomed.width() + 10;
        lineHeight = std::max(lineHeight, zoomed.height());
    }
    y += lineHeight + Margin;
    painter.end();
    return sheet.copy(0, 0, SheetWidth, y);
}

} // namespace artwork
