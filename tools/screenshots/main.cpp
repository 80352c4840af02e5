#include "screenshots/screenshotscene.h"
#include "screenshots/trickleserver.h"

#include <QApplication>
#include <QDebug>
#include <QTranslator>

using screenshots::ERowState;

// Renders the launcher's window into PNG files: every row state for one, three and five packages
// ("window-<state>-<count>.png"), the hint tiles twice the size with the mouse over the middle one,
// the download failure message and the About box.
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
    bool written = true;
    for (ERowState state : {ERowState::Install, ERowState::Update, ERowState::Play, ERowState::Downloading,
                            ERowState::Verifying, ERowState::Failed, ERowState::Unavailable}) {
        for (int count : {1, 3, 5}) {
            screenshots::TScreenshotScene scene(server, outputDirectory, count, state);
            written = scene.setUp() && written;
            written = scene.photograph(
                          QStringLiteral("window-%1-%2.png").arg(screenshots::stateName(state)).arg(count)) &&
                      written;
            if (state == ERowState::Failed && count == 1) {
                written = scene.photographDownloadFailure(QStringLiteral("download-failed.png")) && written;
            }
            if (state == ERowState::Play && count == 5) {
                scene.pointAtMiddleTile();
                written = scene.photographHintBox(QStringLiteral("hint-box-twice.png")) && written;
                written = scene.photographAboutBox(QStringLiteral("about.png")) && written;
            }
        }
    }
    return written ? 0 : 1;
}
