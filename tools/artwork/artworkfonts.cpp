#include "artworkfonts.h"

#include <QDir>
#include <QFontDatabase>

namespace artwork {
namespace {

const QString FontFamily = QStringLiteral("Liberation Sans");
const QString FontFolder = QStringLiteral("/usr/share/fonts/truetype/liberation");

} // namespace

bool loadArtworkFonts(QString& Error) {
    QFontDatabase database;
    if (database.families().contains(FontFamily))
        return true;
    for (const QString& file :
         {QStringLiteral("LiberationSans-Regular.ttf"), QStringLiteral("LiberationSans-Bold.ttf")})
        QFontDatabase::addApplicationFont(QDir(FontFolder).filePath(file));
    if (QFontDatabase().families().contains(FontFamily))
        return true;
    Error = QStringLiteral("The font \"%1\" is missing (install fonts-liberation).").arg(FontFamily);
    return false;
}

QFont artworkFont(qreal PixelSize, bool Bold, qreal LetterSpacingPercent) {
    QFont font(FontFamily);
    font.setPixelSize(qRound(PixelSize));
    font.setBold(Bold);
    font.setLetterSpacing(QFont::PercentageSpacing, LetterSpacingPercent);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::ForceOutline | QFont::NoFontMerging));
    font.setKerning(true);
    return font;
}

QPainterPath textPath(const QFont& Font, const QString& Text) {
    QPainterPath path;
    path.addText(QPointF(0, 0), Font, Text);
    return path;
}

QPainterPath centredTextPath(const QFont& Font, const QString& Text, QPointF Centre) {
    const QPainterPath path = textPath(Font, Text);
    const QRectF ink = path.boundingRect();
    return path.translated(Centre - ink.center());
}

} // namespace artwork
