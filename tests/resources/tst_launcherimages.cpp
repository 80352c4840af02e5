#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::operator""_qs;

namespace {

const QString ImagePrefix = u":/images/launcher/"_qs;

QStringList buttonSkins() {
    QStringList names;
    for (const char* colour : {"Red", "Blue", "Orange", "Green"}) {
        for (const char* state : {"idle", "hover", "pressed"})
            names << u"Button_%1_%2.png"_qs.arg(QLatin1String(colour), QLatin1String(state));
    }
    return names;
}

QStringList packageLogos() {
    QStringList names;
    for (const char* variant : {"QT", "Classic", "Preview", "Beta", "Test"}) {
        names << u"VantorLogo_%1.png"_qs.arg(QLatin1String(variant))
              << u"VantorLogo_%1_disabled.png"_qs.arg(QLatin1String(variant));
    }
    return names;
}

// Every picture the launcher's code and style sheets load.
QStringList launcherPictures() {
    return u"BackgroundImage.jpg icircle.png Twitter.png Discord.png QuorvaneLogo.png "
           "LauncherLogo_QT.png LauncherLogo_UpdatingLauncher.png "
           "VantorLogo_LaunchingClient.png Icon_Download.png Icon_Update.png Icon_Play.png "
           "ProgressBar_BG.png ProgressBar.png checkbox-unchecked.png checkbox-checked.png "
           "clientpackage-background.png hint-background.png scrollbar-texture-vertical.png "
           "scrollbar-handle-vertical.png scrollbar-buttonup-up.png "
           "scrollbar-buttonup-down.png scrollbar-buttondown-up.png "
           "scrollbar-buttondown-down.png"_qs.split(u' ') +
           buttonSkins() + packageLogos();
}

QImage load(const QString& Name) {
    return QImage(ImagePrefix + Name).convertToFormat(QImage::Format_ARGB32);
}

// True when the pixels of Area are alike along the direction a border-image
// stretches or tiles it: every column (Horizontal) or every row the same.
bool uniformAlong(const QImage& Image, const QRect& Area, Qt::Orientation Direction) {
    for (int y = Area.top(); y <= Area.bottom(); ++y) {
        for (int x = Area.left(); x <= Area.right(); ++x) {
            const QPoint reference =
                Direction == Qt::Horizontal ? QPoint(Area.left(), y) : QPoint(x, Area.top());
            if (Image.pixel(x, y) != Image.pixel(reference))
                return false;
        }
    }
    return true;
}

qreal meanSaturation(const QImage& Image) {
    qreal total = 0;
    qreal weight = 0;
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

class TestLauncherImages : public QObject {
    Q_OBJECT

private slots:
    void everyPictureIsInTheResources_data() {
        QTest::addColumn<QString>("name");
        for (const QString& name : launcherPictures())
            QTest::newRow(qPrintable(name)) << name;
    }

    void everyPictureIsInTheResources() {
        QFETCH(QString, name);
        QVERIFY2(!load(name).isNull(), qPrintable(name));
    }

    void stretchedPartsStayClean() {
        // Button skins: "4 4 4 4 repeat scale" tiles the middle columns and
        // scales the middle rows, so the columns between the corners match.
        for (const QString& name : buttonSkins()) {
            const QImage skin = load(name);
            QVERIFY2(uniformAlong(skin, QRect(4, 0, 90, 40), Qt::Horizontal), qPrintable(name));
        }
        // The bar's fill is stretched to any width.
        const QImage fill = load(u"ProgressBar.png"_qs);
        QVERIFY(uniformAlong(fill, fill.rect(), Qt::Horizontal));
        const QImage bar = load(u"ProgressBar_BG.png"_qs);
        QVERIFY(uniformAlong(bar, QRect(2, 0, bar.width() - 4, bar.height()), Qt::Horizontal));

        // Package frame, "16 16 16 16 repeat repeat": top and bottom edges and
        // the middle tile sideways, left and right edges and the middle tile
        // downwards.
        const QImage frame = load(u"clientpackage-background.png"_qs);
        const int w = frame.width();
        const int h = frame.height();
        QVERIFY(uniformAlong(frame, QRect(16, 0, w - 32, h), Qt::Horizontal));
        QVERIFY(uniformAlong(frame, QRect(0, 16, w, h - 32), Qt::Vertical));

        // Hint panel, "5 5 0 5 repeat": no bottom edge, so its sides and
        // middle run down to the last row.
        const QImage hint = load(u"hint-background.png"_qs);
        QVERIFY(uniformAlong(hint, QRect(5, 0, hint.width() - 10, hint.height()), Qt::Horizontal));
        QVERIFY(uniformAlong(hint, QRect(0, 5, hint.width(), hint.height() - 5), Qt::Vertical));

        // Scroll bar: the groove tiles downwards, the handle's middle rows
        // between its 6-pixel caps stretch.
        const QImage groove = load(u"scrollbar-texture-vertical.png"_qs);
        QVERIFY(uniformAlong(groove, groove.rect(), Qt::Vertical));
        const QImage handle = load(u"scrollbar-handle-vertical.png"_qs);
        QVERIFY(uniformAlong(handle, QRect(0, 6, 12, handle.height() - 12), Qt::Vertical));
    }

    void splashesAreOpaque() {
        // A splash window shows transparent pixels as black corners.
        for (const char* name :
             {"LauncherLogo_QT.png", "LauncherLogo_UpdatingLauncher.png", "VantorLogo_LaunchingClient.png"}) {
            const QImage splash = load(QLatin1String(name));
            bool opaque = true;
            for (int y = 0; y < splash.height() && opaque; ++y) {
                for (int x = 0; x < splash.width() && opaque; ++x)
                    opaque = qAlpha(splash.pixel(x, y)) == 255;
            }
            QVERIFY2(opaque, name);
        }
    }

    void disabledLogosAreGreyed() {
        for (const char* variant : {"QT", "Classic", "Preview", "Beta", "Test"}) {
            const QImage logo = load(u"VantorLogo_%1.png"_qs.arg(QLatin1String(variant)));
            const QImage disabled = load(u"VantorLogo_%1_disabled.png"_qs.arg(QLatin1String(variant)));
            QVERIFY2(meanSaturation(disabled) < meanSaturation(logo) / 3, variant);
        }
    }

    void generatorReproducesTheCommittedPictures() {
        // The pictures are drawn by tools/artwork; the committed files must be
        // exactly what it draws, so that nobody edits them by hand and the
        // drawing stays deterministic.
        const QString generator = QDir(testsupport::launcherBinDir()).filePath(u"artwork"_qs);
        if (!QFileInfo::exists(generator))
            QFAIL("The artwork generator is not built (build the target 'artwork').");
        const QString committed = QDir(testsupport::sourceDir()).filePath(u"resources/images/launcher"_qs);

        QProcess check;
        check.start(generator, {u"--check"_qs, committed});
        QVERIFY(check.waitForFinished(120000));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());

        // Nothing in the folder that the generator does not draw.
        QTemporaryDir drawn;
        QVERIFY(drawn.isValid());
        QProcess draw;
        draw.start(generator, {drawn.path()});
        QVERIFY(draw.waitForFinished(120000));
        QCOMPARE(draw.exitCode(), 0);
        const QStringList filters{u"*.png"_qs, u"*.jpg"_qs};
        QCOMPARE(QDir(committed).entryList(filters, QDir::Files, QDir::Name),
                 QDir(drawn.path()).entryList(filters, QDir::Files, QDir::Name));
    }
};

LAUNCHER_TEST(TestLauncherImages)
#include "tst_launcherimages.moc"
