#include "screenshots/screenshotscene.h"
#include "screenshots/trickleserver.h"

#include <QApplication>
#include <QDebug>
#include <QTranslator>

// Renders the launcher's window into PNG files: the packages alone, a download
// in progress with hints, the download failure message and the About box.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const QString outputDirectory = arguments.size() > 1 ? arguments.at(1) : QStringLiteral("screenshots");

    QTranslator translator;
    if (translator.load(QStringLiteral("launcher.en"), QApplication::applicationDirPath())) {
        QApplication::installTranslator(&translator);
    }

    screenshots::TTrickleServer server(12500000, 180000000);
    if (!server.start()) {
        qCritical() << "Could not start the local server";
        return 1;
    }
    screenshots::TScreenshotScene scene(server, outputDirectory);
    scene.showWindow();
    bool written = scene.photograph(QStringLiteral("window-packages.png"));
    scene.startDownload();
    scene.showHints();
    screenshots::settle(2500);
    written = scene.photograph(QStringLiteral("window-hints-download.png")) && written;
    scene.pointAtMiddleTile();
    written = scene.photographHintBox(QStringLiteral("hint-box-twice.png")) && written;
    scene.showDownloadFailure();
    scene.photographAboutBox();
    return written ? 0 : 1;
}
