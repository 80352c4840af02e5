#include "launcher/app/launcherapplication.h"
#include "launcher/app/terminationsignalwatcher.h"
#include "launcher/logging/logging.h"
#include "launcher/settings/launcherconstants.h"
#include "shared/singleinstance/firstinstancetester.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QThread>

#include <cstdio>
#include <exception>
#include <memory>

using mirrel::launcher::currentThreadIdText;
using mirrel::launcher::LauncherVersion;

namespace {

// A launcher restarted by its self-update starts while its predecessor is still ending; it
// waits this long for the predecessor to give up the single-instance guard.
constexpr int RestartGuardWaitMs = 5000;
constexpr int RestartGuardPollMs = 50;

std::unique_ptr<shared::FirstInstanceTester> testFirstInstance(bool WaitForPredecessor) {
    auto tester = std::make_unique<shared::FirstInstanceTester>(mirrel::launcher::SingleInstanceKey);
    const QDeadlineTimer deadline(WaitForPredecessor ? RestartGuardWaitMs : 0);
    while (!tester->isFirstInstance() && !deadline.hasExpired()) {
        tester.reset();
        QThread::msleep(RestartGuardPollMs);
        tester = std::make_unique<shared::FirstInstanceTester>(mirrel::launcher::SingleInstanceKey);
    }
    return tester;
}

int runLauncher(int& argc, char** argv) {
    mirrel::launcher::TLauncherApplication application(argc, argv);
    // Only a restart carries the skip option; a second launcher started by the player leaves at once.
    const std::unique_ptr<shared::FirstInstanceTester> firstInstanceTester =
        testFirstInstance(application.isSelfUpdateSkipped());
    if (!firstInstanceTester->isFirstInstance()) {
        // Logging is not set up here: the running launcher's log stays untouched.
        qInfo().noquote() << "Version:" << LauncherVersion
                          << "already running Thread:" << currentThreadIdText();
        return 0;
    }
    application.takeLauncherPresence();

    mirrel::launcher::setupLogging();
    qInfo().noquote() << "Version:" << LauncherVersion << "Thread:" << currentThreadIdText();
    application.logStartupDetails();

    const mirrel::launcher::TTerminationSignalWatcher terminationSignalWatcher;
    application.start();
    return application.exec();
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
