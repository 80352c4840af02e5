#include "launcher/app/launcherapplication.h"
#include "launcher/app/terminationsignalwatcher.h"
#include "launcher/logging/logging.h"
#include "launcher/settings/launcherconstants.h"
#include "shared/singleinstance/firstinstancetester.h"

#include <QDebug>

#include <cstdio>
#include <exception>
#include <memory>

using mirrel::launcher::currentThreadIdText;
using mirrel::launcher::LauncherVersion;

namespace {

int runLauncher(int& argc, char** argv) {
    mirrel::launcher::TLauncherApplication application(argc, argv);
    // A launcher restarted by its self-update finds the guard free: its predecessor gives it up
    // before it starts the successor. Whoever else finds it taken leaves at once.
    auto firstInstanceTester =
        std::make_unique<shared::FirstInstanceTester>(mirrel::launcher::SingleInstanceKey);
    if (!firstInstanceTester->isFirstInstance()) {
        // Logging is not set up here: the running launcher's log stays untouched.
        qInfo().noquote() << "Version:" << LauncherVersion
                          << "already running Thread:" << currentThreadIdText();
        return 0;
    }
    application.keepSingleInstanceGuard(std::move(firstInstanceTester));
    application.takeLauncherPresence();

    mirrel::launcher::setupLogging();
    qInfo().noquote() << "Version:" << LauncherVersion << "Thread:" << currentThreadIdText();
    application.logStartupDetails();

    const mirrel::launcher::TTerminationSignalWatcher terminationSignalWatcher;
    application.start();
    return terminationSignalWatcher.exitCode(application.exec());
}

} // namespace

int main(int argc, char** argv) {
    // Neither the single-instance guard nor the launcher's named object can be
    // done without; when the system refuses them the launcher says why and ends.
    try {
        return runLauncher(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "Unknown error during start-up\n");
    }
    return 1;
}
