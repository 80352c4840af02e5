#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QImage>
#include <QtTest>

using testsupport::operator""_qs;

// The committed pictures, checked for the rules the launcher's style sheets rely on.
class TestLauncherImages : public QObject {
    Q_OBJECT

private slots:
    void everyPictureTheStyleSheetsName() {
        for (const QString& name :
             u"BackgroundImage.jpg icircle.png Twitter.png Discord.png QuorvaneLogo.png Icon_Download.png "
             u"Icon_Update.png "
             "Icon_Play.png checkbox-unchecked.png checkbox-checked.png scrollbar-buttonup-up.png "
             "scrollbar-buttonup-down.png scrollbar-buttondown-up.png scrollbar-buttondown-down.png "
             "Button_Red_idle.png "
             "Button_Blue_pressed.png Button_Orange_hover.png"_qs.split(u' ')) {
            QVERIFY2(!QImage(u":/images/launcher/"_qs + name).isNull(), qPrintable(name));
        }
    }

    void stretchedPartsHaveNoSeams() {
        // Picture, area and direction stretched: every pixel equals the one at its left or top edge.
        const std::tuple<const char*, QMargins, bool> parts[] = {
            {"Button_Green_hover.png", {4, 0, 4, 0}, true}, // "4 4 4 4 repeat scale"
            {"ProgressBar.png", {}, true},
            {"ProgressBar_BG.png", {2, 0, 2, 0}, true},
            {"clientpackage-background.png", {16, 0, 16, 0}, true}, // "16 16 16 16 repeat repeat"
            {"clientpackage-background.png", {0, 16, 0, 16}, false},
            {"hint-background.png", {5, 0, 5, 0}, true}, // "5 5 0 5": no bottom edge
            {"hint-background.png", {0, 5, 0, 0}, false},
            {"scrollbar-texture-vertical.png", {}, false},
            {"scrollbar-handle-vertical.png", {0, 6, 0, 6}, false}};
        for (const auto& [name, margins, sideways] : parts) {
            const QImage image =
                QImage(u":/images/launcher/"_qs + QLatin1String(name)).convertToFormat(QImage::Format_ARGB32);
            const QRect area = image.rect() - margins;
            QVERIFY2(!area.isEmpty(), name);
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    QVERIFY2(image.pixel(x, y) ==
                                 image.pixel(sideways ? area.left() : x, sideways ? y : area.top()),
                             name);
                }
            }
        }
    }

    void splashesAreOpaqueAndDisabledLogosGrey() {
        // A splash window shows transparent pixels as black corners.
        for (const char* name :
             {"LauncherLogo_QT.png", "LauncherLogo_UpdatingLauncher.png", "VantorLogo_LaunchingClient.png"}) {
            const QImage splash(u":/images/launcher/"_qs + QLatin1String(name));
            QVERIFY2(
                !splash.isNull() &&
                    splash.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32) ==
                        splash.convertToFormat(QImage::Format_ARGB32),
                name);
        }
        for (const char* variant : {"QT", "Classic", "Preview", "Beta", "Test"}) {
            const auto saturation = [variant](const char* Suffix) {
                const QImage logo(u":/images/launcher/VantorLogo_%1%2.png"_qs.arg(QLatin1String(variant),
                                                                                  QLatin1String(Suffix)));
                qreal total = 0, weight = 0;
                for (int y = 0; y < logo.height(); ++y) {
                    for (int x = 0; x < logo.width(); ++x) {
                        const QColor colour = logo.pixelColor(x, y);
                        total += colour.hsvSaturationF() * colour.alphaF();
                        weight += colour.alphaF();
                    }
                }
                return weight > 0 ? total / weight : -1.0;
            };
            QVERIFY2(saturation("_disabled") >= 0 && saturation("_disabled") < saturation("") / 3, variant);
        }
    }
};

LAUNCHER_TEST(TestLauncherImages)
#include "tst_launcherimages.moc"
