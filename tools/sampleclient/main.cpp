#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "sampleclient/sampleclientoptions.h"
#include "sampleclient/sampleclientwindow.h"
#include "sampleclient/startrecord.h"

#include <QApplication>
#include <QDebug>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>

using sampleclient::TSampleClientOptions;
using sampleclient::TStartRecord;

namespace {

bool isHeadless() {
    const QString Platform = QGuiApplication::platformName();
    return Platform == QLatin1String("offscreen") || Platform == QLatin1String("minimal");
}

int runClient(int& argc, char** argv) {
    QApplication Application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantor Online sample client"));
    const bool Headless = isHeadless();
    const TSampleClientOptions Options = TSampleClientOptions::fromEnvironment(Headless);

    // The record is complete before the launcher can see the client, so whoever
    // waits for the launcher to end finds it.
    const TStartRecord Record = TStartRecord::ofThisProcess();
    if (!Options.RecordFile.isEmpty() && !Record.appendTo(Options.RecordFile)) {
        qWarning().noquote() << "cannot write the start record to" << Options.RecordFile;
    }
    std::printf("Vantor Online sample client started with: %s\n",
                qPrintable(Record.Arguments.join(QLatin1Char(' '))));
    std::fflush(stdout);

    std::unique_ptr<sampleclient::TSampleClientWindow> Window;
    if (!Headless) {
        Window = std::make_unique<sampleclient::TSampleClientWindow>(Record);
        Window->show();
    }

    std::unique_ptr<platform::TNamedFileMapping> Presence;
    const auto Announce = [&] {
        Presence = std::make_unique<platform::TNamedFileMapping>(mirrel::launcher::ClientPresenceName, true);
        if (Window) {
            Window->setAnnounced(true);
        }
    };
    if (Options.AnnounceDelayMs >= 0) {
        QTimer::singleShot(Options.AnnounceDelayMs, &Application, Announce);
    }
    if (Options.ExitAfterMs >= 0) {
        QTimer::singleShot(Options.ExitAfterMs, &Application,
                           [Code = Options.ExitCode] { QCoreApplication::exit(Code); });
    }
    const int ExitCode = Application.exec();
    std::printf("Vantor Online sample client ends\n");
    return ExitCode;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return runClient(argc, argv);
    } catch (const std::exception& Error) {
        std::fprintf(stderr, "%s\n", Error.what());
    }
    return 1;
}
