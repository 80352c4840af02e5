#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QImage>
#include <QtTest>

using testsupport::operator""_qs;

namespace {

QImage load(const QString& Name) {
    return QImage(u":/images/launcher/"_qs + Name).convertToFormat(QImage::Format_ARGB32);
}

// True when every pixel of Area equals the one at the area's left edge (Horizontal) or top edge
// (Vertical): a border-image may then stretch or tile the area that way without a seam.
bool uniformAlong(const QImage& Image, const QRect& Area, Qt::Orientation Direction) {
    for (int y = Area.top(); y <= Area.bottom(); ++y) {
        for (int x = Area.left(); x <= Area.right(); ++x) {
            if (Image.pixel(x, y) != Image.pixel(Direction == Qt::Horizontal ? Area.left() : x,
                                                 Direction == Qt::Horizontal ? y : Area.top())) {
                return false;
            }
        }
    }
    return true;
}

qreal meanSaturation(const QImage& Image) {
    qreal total = 0, weight = 0;
    for (int y = 0; y < Image.height(); ++y) {
        for (int x = 0; x < Image.width(); ++x) {
            const QColor colour = QColor::fromRgba(Image.pixel(x, y));
            total += colour.hsvSaturationF() * colour.alphaF();
            weight += colour.alphaF();
        }
    }
    return weight > 0 ? total / weight : 0;
}

} // namespace

// The committed pictures (drawn by tools/artwork, which is not part of the default build): rules the
// launcher's style sheets rely on, whatever fonts drew them.
class TestLauncherImages : public QObject {
    Q_OBJECT

private slots:
    void everyPictureTheLauncherLoads() {
        QStringList names = u"BackgroundImage.jpg icircle.png Twitter.png Discord.png QuorvaneLogo.png "
                            "Icon_Download.png Icon_Update.png Icon_Play.png checkbox-unchecked.png "
                            "checkbox-checked.png scrollbar-buttonup-up.png scrollbar-buttonup-down.png "
                            "scrollbar-buttondown-up.png scrollbar-buttondown-down.png"_qs.split(u' ');
        for (const char* variant : {"QT", "Classic", "Preview", "Beta", "Test"}) {
            names << u"VantorLogo_%1_disabled.png"_qs.arg(QLatin1String(variant));
        }
        for (const QString& name : names) {
            QVERIFY2(!load(name).isNull(), qPrintable(name));
        }
    }

    void stretchedPartsHaveNoSeams() {
        // Button skins, "4 4 4 4 repeat scale": the middle columns tile sideways.
        for (const char* colour : {"Red", "Blue", "Orange", "Green"}) {
            for (const char* state : {"idle", "hover", "pressed"}) {
                const QImage skin =
                    load(u"Button_%1_%2.png"_qs.arg(QLatin1String(colour), QLatin1String(state)));
                QCOMPARE(skin.size(), QSize(98, 40));
                QVERIFY2(uniformAlong(skin, QRect(4, 0, 90, 40), Qt::Horizontal), colour);
            }
        }
        const QImage fill = load(u"ProgressBar.png"_qs);
        QVERIFY(uniformAlong(fill, fill.rect(), Qt::Horizontal));
        const QImage bar = load(u"ProgressBar_BG.png"_qs);
        QVERIFY(uniformAlong(bar, bar.rect().adjusted(2, 0, -2, 0), Qt::Horizontal));
        // Package frame, "16 16 16 16 repeat repeat": edges and middle tile both ways.
        const QImage frame = load(u"clientpackage-background.png"_qs);
        QVERIFY(uniformAlong(frame, frame.rect().adjusted(16, 0, -16, 0), Qt::Horizontal));
        QVERIFY(uniformAlong(frame, frame.rect().adjusted(0, 16, 0, -16), Qt::Vertical));
        // Hint box, "5 5 0 5 repeat": no bottom edge, so the sides run down to the last row.
        const QImage hint = load(u"hint-background.png"_qs);
        QVERIFY(uniformAlong(hint, hint.rect().adjusted(5, 0, -5, 0), Qt::Horizontal));
        QVERIFY(uniformAlong(hint, hint.rect().adjusted(0, 5, 0, 0), Qt::Vertical));
        // Scroll bar: the groove tiles downwards, the handle stretches between its 6-pixel caps.
        const QImage groove = load(u"scrollbar-texture-vertical.png"_qs);
        QVERIFY(uniformAlong(groove, groove.rect(), Qt::Vertical));
        const QImage handle = load(u"scrollbar-handle-vertical.png"_qs);
        QVERIFY(uniformAlong(handle, handle.rect().adjusted(0, 6, 0, -6), Qt::Vertical));
    }

    void splashesAreOpaqueAndDisabledLogosGrey() {
        // A splash window shows transparent pixels as black corners.
        for (const char* name :
             {"LauncherLogo_QT.png", "LauncherLogo_UpdatingLauncher.png", "VantorLogo_LaunchingClient.png"}) {
            const QImage splash = load(QLatin1String(name));
            QVERIFY2(
                !splash.isNull() &&
                    splash.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32) ==
                        splash,
                name);
        }
        for (const char* variant : {"QT", "Classic", "Preview", "Beta", "Test"}) {
            const QImage logo = load(u"VantorLogo_%1.png"_qs.arg(QLatin1String(variant)));
            const QImage disabled = load(u"VantorLogo_%1_disabled.png"_qs.arg(QLatin1String(variant)));
            QCOMPARE(disabled.size(), logo.size());
            QVERIFY2(meanSaturation(disabled) < meanSaturation(logo) / 3, variant);
        }
    }
};

LAUNCHER_TEST(TestLauncherImages)
#include "tst_launcherimages.moc"
