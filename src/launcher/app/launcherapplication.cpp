// These name the reusable layer as `shared::` from inside mirrel::launcher; they come before
// the application header, which makes mirrel::shared (the translation manager) visible.
#include "launcher/telemetry/cloudflarecdntrace.h"
#include "launcher/ui/launchermainwindow.h"
#include "systemsurvey/systemsurveyuploader.h"

#include "launcher/app/launcherapplication.h"

#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/selfupdate/launcherselfupdater.h"
#include "launcher/settings/downloadratesetting.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/accountgroupkey.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/funneleventsender.h"
#include "platform/namedfilemapping.h"
#include "platform/startedprogram.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/network/ratelimiter.h"
#include "shared/singleinstance/firstinstancetester.h"
#include "shared/translation/translationmanager.h"
#include "systemsurvey/systemsurveyupload.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QPixmap>
#include <QProcess>
#include <QSplashScreen>
#include <QThread>

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

namespace mirrel::launcher {

namespace {

TLauncherApplication* applicationInstance = nullptr;

// The application download pool serves the configuration, the package documents, the hints and
// the CDN trace.
constexpr int ApplicationMaxConcurrentDownloads = 6;
constexpr int ClientStartWatchIntervalMs = 200;
const QString PackageIsUpToDateArgument = QStringLiteral("--package-is-up-to-date");

QString splashImage(int kind) {
    switch (kind) {
    case TLauncherApplication::UpdatingLauncherSplash:
        return QStringLiteral(":/images/launcher/LauncherLogo_UpdatingLauncher.png");
    case TLauncherApplication::LaunchingClientSplash:
        return QStringLiteral(":/images/launcher/VantorLogo_LaunchingClient.png");
    default:
        return QStringLiteral(":/images/launcher/LauncherLogo_QT.png");
    }
}

int timerInterval(qint64 Milliseconds) {
    return static_cast<int>(std::clamp<qint64>(Milliseconds, 0, INT_MAX));
}

QString threadText() {
    return QStringLiteral(" Thread: ") + currentThreadIdText();
}

} // namespace

TLauncherApplication::TLauncherApplication(int& argc, char** argv,
                                           std::shared_ptr<TLauncherFilesystemHelper> pFilesystemHelper)
    : QApplication(argc, argv)
    , m_FirstLaunchOption(QStringList{QStringLiteral("l"), QStringLiteral("first-launch")},
                          QStringLiteral("Automatically download default packages when starting up."))
    , m_SkipSelfUpdateOption(QStringList{QStringLiteral("s"), SkipSelfUpdateOptionName},
                             QStringLiteral("Do not perform self-update check on launch."))
    , m_ShowUiOption(QStringList{QStringLiteral("u"), QStringLiteral("show-ui")},
                     QStringLiteral("Show list of available packages after intial checks."))
    , m_PatchOption(QStringList{QStringLiteral("p"), QStringLiteral("patch")},
                    QStringLiteral("Start update of <patchexecutable> without user interaction."),
                    QStringLiteral("patchexecutable"))
    , m_FunnelSettingsKey(QStringLiteral("FunnelUuid"))
    , m_LauncherProgram(QCoreApplication::applicationFilePath()) {
    setUpServices(std::move(pFilesystemHelper));
    setUpCommandLine();
    m_pLauncherPresence = std::make_unique<platform::TNamedFileMapping>(LauncherPresenceName, true);

    applicationInstance = this;

    setUpTranslation();
    setUpIdentity();
    m_pDownloadRateSetting = std::make_shared<TDownloadRateSetting>(
        m_pLauncherFilesystemHelper->settings()->downloadRateLimit(), m_pRateLimiter);

    m_NotificationTimer.setSingleShot(true);
    m_NotificationTimer.setInterval(
        timerInterval(m_pLauncherFilesystemHelper->settings()->waitNotificationTimeout()));
    connect(&m_NotificationTimer, &QTimer::timeout, this, [this] { showSplash(DefaultSplash); });

    m_AccountGroupKey = accountGroupKeyFrom(m_pLauncherFilesystemHelper->readAccountGroupFile());
    m_pFunnelEventSender = new TFunnelEventSender(
        m_FunnelSettingsKey, [this] { return m_AccountGroupKey; },
        [this] {
            const auto configuration = m_pConfigurationHandler->configuration();
            return configuration ? configuration->funnelUrl() : QUrl();
        },
        this);
    m_pFunnelEventSender->setTransferStallTimeout(
        m_pLauncherFilesystemHelper->settings()->transferStallTimeout());
    m_pFunnelEventSender->setEnabled(m_pLauncherFilesystemHelper->settings()->telemetry());

    m_ClientStartTimer.setSingleShot(false);
    m_ClientStartTimer.setInterval(ClientStartWatchIntervalMs);
    connect(&m_ClientStartTimer, &QTimer::timeout, this, [this] { watchClientStart(); });

    connectServices();
    m_CommandLineParser.parse(QCoreApplication::arguments());
}

TLauncherApplication::~TLauncherApplication() {
    m_ClientStartTimer.stop();
    m_NotificationTimer.stop();
    // Services torn down below must not reach a half-destroyed application.
    if (applicationInstance == this) {
        applicationInstance = nullptr;
    }
}

TLauncherApplication* TLauncherApplication::instance() {
    return applicationInstance;
}

void TLauncherApplication::setUpServices(std::shared_ptr<TLauncherFilesystemHelper> pFilesystemHelper) {
    m_pDownloadPool = std::make_shared<::shared::TDownloadPool>(
        ApplicationMaxConcurrentDownloads,
        std::make_shared<::shared::QNetworkAccessManagerWrapper>(std::make_shared<QNetworkAccessManager>()));
    m_pLauncherFilesystemHelper =
        pFilesystemHelper ? std::move(pFilesystemHelper) : std::make_shared<TLauncherFilesystemHelper>();
    m_pDownloadPool->setTransferStallTimeout(m_pLauncherFilesystemHelper->settings()->transferStallTimeout());
    m_pRateLimiter = std::make_shared<::shared::TRateLimiter>();
    // The application's downloads are documents, hints and traces: small, and awaited by the player.
    m_pDownloadPool->setRateLimiter(m_pRateLimiter, true);
    m_pTranslationManager = std::make_shared<mirrel::shared::TTranslationManager>();
    m_pCdnTrace = std::make_shared<TCloudflareCdnTrace>(
        m_pLauncherFilesystemHelper->settings()->cdnDiagnosticsTraceUrl(), m_pDownloadPool);
    m_pConfigurationHandler =
        std::make_unique<TLauncherConfigurationHandler>(m_pDownloadPool, m_pLauncherFilesystemHelper);
    m_pSelfUpdater = std::make_unique<TLauncherSelfUpdater>(m_pLauncherFilesystemHelper);
    m_pSelfUpdater->setRateLimiter(m_pRateLimiter);
}

void TLauncherApplication::setUpCommandLine() {
    m_CommandLineParser.addOption(m_FirstLaunchOption);
    m_CommandLineParser.addOption(m_SkipSelfUpdateOption);
    m_CommandLineParser.addOption(m_ShowUiOption);
    m_CommandLineParser.addOption(m_PatchOption);
}

void TLauncherApplication::setUpTranslation() {
    m_pTranslationManager->loadTranslation(QStringLiteral("launcher.en"),
                                           QCoreApplication::applicationDirPath());
}

void TLauncherApplication::setUpIdentity() {
    setApplicationName(QStringLiteral("Vantor Online"));
    setApplicationDisplayName(applicationName());
    setOrganizationName(QStringLiteral("Quorvane GmbH"));
    setOrganizationDomain(QStringLiteral("quorvane.com"));
}

void TLauncherApplication::connectServices() {
    TLauncherConfigurationHandler* handler = m_pConfigurationHandler.get();
    connect(handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, this,
            [this] { onMainConfigurationLoaded(); });
    connect(handler, &TLauncherConfigurationHandler::mainConfigurationDownloadFailed, this,
            [this] { onMaintenance(); });
    connect(handler, &TLauncherConfigurationHandler::diskAccessFailed, this,
            [this](const QString& Message) { onDiskAccessFailed(Message); });
    connect(handler, &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished, this,
            [this] { onPackageConfigurationsReady(); });

    TLauncherSelfUpdater* updater = m_pSelfUpdater.get();
    connect(updater, &TLauncherSelfUpdater::updateDownloadFinishedAndRestartRequired, this,
            [this] { restartLauncher(); });
    connect(updater, &TLauncherSelfUpdater::updateFailed, this, [this] { onLauncherReadyForAction(); });
    connect(updater, &TLauncherSelfUpdater::diskAccessFailed, this,
            [this](const QString& Message) { onDiskAccessFailed(Message); });

    // However the event loop ends (the window closed, a signal), the runs' workers on the thread
    // pool stop at their next block instead of finishing their work: the application waits for
    // the pool as it ends.
    connect(this, &QCoreApplication::aboutToQuit, this, [this] { stopAllRuns(); });
}

void TLauncherApplication::stopAllRuns() {
    if (m_pInstallationManager) {
        m_pInstallationManager->stopAllRuns();
    }
    if (TInstallationManager* selfUpdate = m_pSelfUpdater->installationManager()) {
        selfUpdate->stopAllRuns();
    }
}

void TLauncherApplication::sendFunnelEvent(QString Step, QString FirstTimeKey) {
    m_pFunnelEventSender->sendFunnelEvent(Step, FirstTimeKey);
}

bool TLauncherApplication::isFirstLaunchRequested() const {
    return m_CommandLineParser.isSet(m_FirstLaunchOption);
}

bool TLauncherApplication::isSelfUpdateSkipped() const {
    return m_CommandLineParser.isSet(m_SkipSelfUpdateOption);
}

bool TLauncherApplication::isShowUiRequested() const {
    return m_CommandLineParser.isSet(m_ShowUiOption);
}

QString TLauncherApplication::patchExecutable() const {
    return m_CommandLineParser.value(m_PatchOption);
}

void TLauncherApplication::logStartupDetails() const {
    const auto settings = m_pLauncherFilesystemHelper->settings();
    qInfo().noquote() << "Command line options:" << optionsText() << "Thread:" << currentThreadIdText();
    qInfo().noquote() << "Settings from" << settings->sourcePath() + QStringLiteral(":")
                      << settings->describe() << "Thread:" << currentThreadIdText();
    if (!settings->telemetry()) {
        qInfo().noquote() << "Telemetry is off: no funnel event and no hardware survey is sent, and no "
                             "device identifier is created.";
    }
}

QString TLauncherApplication::optionsText() const {
    QStringList options;
    if (isFirstLaunchRequested()) {
        options << QStringLiteral("first-launch");
    }
    if (isSelfUpdateSkipped()) {
        options << SkipSelfUpdateOptionName;
    }
    if (isShowUiRequested()) {
        options << QStringLiteral("show-ui");
    }
    if (m_CommandLineParser.isSet(m_PatchOption)) {
        options << QStringLiteral("patch=") + patchExecutable();
    }
    return options.isEmpty() ? QStringLiteral("none") : options.join(QStringLiteral(", "));
}

void TLauncherApplication::start() {
    m_LauncherProgram = m_pSelfUpdater->restoreProgramFromBackup(m_LauncherProgram);
    qInfo().noquote() << "load configuration" + threadText();
    TLauncherConfigurationHandler* handler = m_pConfigurationHandler.get();
    QTimer::singleShot(0, handler, [handler] { handler->startConfigurationDownload(); });
    startNotificationTimer();
}

void TLauncherApplication::startNotificationTimer() {
    m_NotificationTimer.start();
}

void TLauncherApplication::takeLauncherPresence() {
    if (!m_pLauncherPresence->holdsObject()) {
        m_pLauncherPresence = std::make_unique<platform::TNamedFileMapping>(LauncherPresenceName, true);
    }
}

void TLauncherApplication::keepSingleInstanceGuard(std::unique_ptr<::shared::FirstInstanceTester> pGuard) {
    m_pSingleInstanceGuard = std::move(pGuard);
}

void TLauncherApplication::showSplash(int kind) {
    if (m_pSplashScreen) {
        m_pSplashScreen->close();
        processEvents();
    }
    m_pSplashScreen = std::make_unique<QSplashScreen>(QPixmap(splashImage(kind)));
    m_pSplashScreen->show();
    processEvents();
    m_NotificationTimer.stop();
}

void TLauncherApplication::hideSplash() {
    if (m_pSplashScreen) {
        m_pSplashScreen->hide();
    }
}

void TLauncherApplication::showMainWindow() {
    if (m_pMainWindow) {
        m_pMainWindow->show();
        return;
    }
    const std::shared_ptr<TLauncherConfigurationReader> configuration =
        m_pConfigurationHandler->configuration();
    if (!configuration) {
        return;
    }
    m_pMainWindow = std::make_unique<TLauncherMainWindow>(
        configuration->availablePackages(), m_pInstallationManager.get(), configuration->showPackageNames(),
        m_pDownloadPool, m_pCdnTrace, configuration);
    if (configuration->hintsUrl().isValid()) {
        m_pDownloadPool->download(configuration->hintsUrl());
    }
    TLauncherMainWindow* window = m_pMainWindow.get();
    connect(m_pConfigurationHandler.get(), &TLauncherConfigurationHandler::hintsAreaDataReceived, window,
            &TLauncherMainWindow::setHints);
    if (m_pConfigurationHandler->refusedUntrustedDocument()) {
        window->showUntrustedDownloadMessage();
    }
    connect(window, &TLauncherMainWindow::defaultChanged, this,
            [this](std::shared_ptr<TPackage> pPackage, bool IsDefault) {
                onDefaultChanged(std::move(pPackage), IsDefault);
            });
    connect(window, &TLauncherMainWindow::clientPackageButtonClicked, this,
            [this](std::shared_ptr<TPackage> pPackage) {
                onClientStartOrInstallTriggeredFromUI(std::move(pPackage));
            });
    connect(
        window, &TLauncherMainWindow::clientPackageVerifyButtonClicked, this,
        [this](std::shared_ptr<TPackage> pPackage) { onClientVerifyTriggeredFromUI(std::move(pPackage)); });
    connect(window, &TLauncherMainWindow::clientPackagePauseRequested, this,
            [this](std::shared_ptr<TPackage> pPackage, bool Pause) {
                onPauseTriggeredFromUI(std::move(pPackage), Pause);
            });
    window->setDownloadRateSetting(m_pDownloadRateSetting);
    connect(
        window, &TLauncherMainWindow::clientPackageRepairRequested, this,
        [this](std::shared_ptr<TPackage> pPackage) { onClientRepairTriggeredFromUI(std::move(pPackage)); });
    window->show();
}

void TLauncherApplication::guarded(const std::function<void()>& Reaction) {
    try {
        Reaction();
    } catch (const std::runtime_error& error) {
        onDiskAccessFailed(QString::fromUtf8(error.what()));
    }
}

void TLauncherApplication::onMainConfigurationLoaded() {
    guarded([this] {
        if (isEnding()) {
            return;
        }
        startSurveyUpload();
        m_pDownloadPool->setMirrors(m_pConfigurationHandler->configuration()->mirrors());
        m_pConfigurationHandler->requestPackageConfigurations();
    });
}

void TLauncherApplication::startSurveyUpload() {
    const std::shared_ptr<TLauncherConfigurationReader> configuration =
        m_pConfigurationHandler->configuration();
    if (configuration && configuration->hardwareSurveyUrl().isValid() &&
        m_pLauncherFilesystemHelper->settings()->telemetry()) {
        m_pSurveyUploader = systemsurvey::startSystemSurveyUpload(
            configuration->hardwareSurveyUrl(),
            m_pLauncherFilesystemHelper->settings()->transferStallTimeout());
    }
}

void TLauncherApplication::onMaintenance() {
    if (isEnding()) {
        qWarning().noquote() << "onMaintenance: the launcher is ending already" + threadText();
        return;
    }
    beginEnding();
    m_NotificationTimer.stop();
    hideSplash();
    const QString text =
        m_pConfigurationHandler->refusedUntrustedDocument()
            ? QStringLiteral("The download of the launcher configuration could not be trusted: it does not "
                             "carry the studio's signature. Please try again later.")
            : QStringLiteral("Vantor Online is currently down for maintenance. Please try again later.");
    showMessageBox(QMessageBox::Information, nullptr, QStringLiteral("Vantor Online cannot be started"), text,
                   QMessageBox::Close);
    endLauncher(1);
}

void TLauncherApplication::onDiskAccessFailed(QString message) {
    qCritical().noquote() << "onDiskAccessFailed: " + message + threadText();
    if (isEnding()) {
        return;
    }
    beginEnding();
    m_NotificationTimer.stop();
    hideSplash();
    showMessageBox(QMessageBox::Critical, nullptr, QStringLiteral("Vantor Online cannot start"),
                   QStringLiteral("A critical error occurred while accessing a file:\n") + message +
                       QStringLiteral("\nPlease reinstall Launcher."),
                   QMessageBox::Ok);
    endLauncher(1);
}

void TLauncherApplication::onPackageConfigurationsReady() {
    guarded([this] {
        if (isEnding()) {
            return;
        }
        const std::shared_ptr<TLauncherConfigurationReader> configuration =
            m_pConfigurationHandler->configuration();
        const std::shared_ptr<TPackage> launcherPackage =
            configuration ? configuration->launcherPackage() : nullptr;
        const TPackageConfigurationReader* launcherConfiguration =
            launcherPackage ? launcherPackage->configurationForThisSystem() : nullptr;
        if (!isSelfUpdateSkipped() && launcherConfiguration) {
            const QString offered = launcherConfiguration->packageVersion().isEmpty()
                                        ? QStringLiteral("?")
                                        : launcherConfiguration->packageVersion();
            if (offered != LauncherVersion) {
                qInfo().noquote() << "onPackageConfigurationsReady: launcher " + QString(LauncherVersion) +
                                         " is replaced by " + offered + threadText();
                m_pSelfUpdater->startSelfUpdate(launcherPackage);
                if (!isEnding()) {
                    showSplash(UpdatingLauncherSplash);
                }
                return;
            }
        }
        m_pSelfUpdater->cleanupOldLauncherVersion();
        onLauncherReadyForAction();
    });
}

void TLauncherApplication::onLauncherReadyForAction() {
    guarded([this] {
        if (isEnding()) {
            return;
        }
        qInfo().noquote() << "onLauncherReadyForAction" + threadText();
        const std::shared_ptr<TLauncherConfigurationReader> configuration =
            m_pConfigurationHandler->configuration();
        if (!configuration) {
            return;
        }
        m_pInstallationManager =
            std::make_unique<TInstallationManager>(configuration, m_pLauncherFilesystemHelper);
        m_pInstallationManager->setRateLimiter(m_pRateLimiter);
        const std::vector<std::shared_ptr<TPackage>> forcePatchList = takeForcePatchList();
        connect(m_pInstallationManager.get(), &TInstallationManager::allStartedUpdatesFinished, this,
                [this] { onAllStartedUpdatesFinished(); });
        connect(m_pInstallationManager.get(), &TInstallationManager::diskAccessFailed, this,
                [this](const QString& Message) { onDiskAccessFailed(Message); });
        m_NotificationTimer.stop();
        hideSplash();

        if (isFirstLaunchRequested()) {
            installAutomaticPackages(forcePatchList);
        } else if (!patchExecutable().isEmpty() || !forcePatchList.empty()) {
            patchPackages(forcePatchList);
        } else if (isShowUiRequested()) {
            showMainWindow();
        } else {
            startDefaultPackageOrShowList();
        }
    });
}

std::vector<std::shared_ptr<TPackage>> TLauncherApplication::takeForcePatchList() {
    std::vector<std::shared_ptr<TPackage>> forcePatchList;
    for (const std::shared_ptr<TPackage>& package :
         m_pConfigurationHandler->configuration()->availablePackages()) {
        const QString marker = m_pLauncherFilesystemHelper->pathInside(
            m_pInstallationManager->packageDirectory(package), ForcePatchMarkerFileName);
        if (m_pLauncherFilesystemHelper->fileExists(marker) &&
            !m_pLauncherFilesystemHelper->directoryExists(marker)) {
            qInfo().noquote() << "onLauncherReadyForAction: " + QString(ForcePatchMarkerFileName) +
                                     " found for " + package->name() + threadText();
            m_pLauncherFilesystemHelper->removeFile(marker);
            forcePatchList.push_back(package);
        }
    }
    return forcePatchList;
}

void TLauncherApplication::installAutomaticPackages(
    const std::vector<std::shared_ptr<TPackage>>& ForcePatchList) {
    // Only packages this system can install take part: a package without a build here would
    // become a default that never starts and that the window does not even show.
    std::vector<std::shared_ptr<TPackage>> automatic;
    for (const std::shared_ptr<TPackage>& package :
         m_pConfigurationHandler->configuration()->availablePackages()) {
        if (package->installAutomatically()) {
            automatic.push_back(package);
        }
    }
    // The window learns the default from the packages when it is built, and must exist before
    // the first installation starts to show its progress.
    if (!automatic.empty()) {
        m_pInstallationManager->setDefaultPackage(automatic.front());
    }
    showMainWindow();
    for (const std::shared_ptr<TPackage>& package : automatic) {
        m_pInstallationManager->installOrUpdatePackage(package);
    }
    // A forced update was asked for before this start; its marker is gone, so it runs now.
    for (const std::shared_ptr<TPackage>& package : ForcePatchList) {
        m_pInstallationManager->installOrUpdatePackage(package);
    }
}

void TLauncherApplication::patchPackages(std::vector<std::shared_ptr<TPackage>> ForcePatchList) {
    const QString patchTarget = patchExecutable();
    const std::shared_ptr<TPackage> patchPackage =
        patchTarget.isEmpty() ? nullptr : m_pInstallationManager->findPackageByExecutable(patchTarget);
    showMainWindow();
    if (patchPackage) {
        ForcePatchList.push_back(patchPackage);
    }
    if (ForcePatchList.empty()) {
        qWarning().noquote() << "onLauncherReadyForAction: no package for " + patchTarget + threadText();
        showMessageBox(
            QMessageBox::Information, m_pMainWindow.get(), QStringLiteral("Client patching failed"),
            QStringLiteral(
                "Could not determine patch information. Your client might no longer be supported."),
            QMessageBox::Ok);
        return;
    }
    for (const std::shared_ptr<TPackage>& package : ForcePatchList) {
        m_pInstallationManager->installOrUpdatePackage(package);
    }
}

void TLauncherApplication::startDefaultPackageOrShowList() {
    const std::shared_ptr<TPackage> package = defaultPackage();
    // After a refused download the player is told in the window instead of being sent on silently.
    if (package && package->localStatus() == TPackage::StatusUpToDate &&
        !m_pConfigurationHandler->refusedUntrustedDocument()) {
        startPackageAndExit(package);
    } else {
        showMainWindow();
    }
}

std::shared_ptr<TPackage> TLauncherApplication::defaultPackage() const {
    const std::shared_ptr<TLauncherConfigurationReader> configuration =
        m_pConfigurationHandler->configuration();
    if (!configuration) {
        return nullptr;
    }
    const auto& packages = configuration->packages();
    const auto found = std::find_if(packages.begin(), packages.end(),
                                    [](const std::shared_ptr<TPackage>& p) { return p->isDefaultPackage(); });
    return found == packages.end() ? nullptr : *found;
}

void TLauncherApplication::onAllStartedUpdatesFinished() {
    guarded([this] {
        if (isEnding()) {
            return;
        }
        const std::shared_ptr<TLauncherConfigurationReader> configuration =
            m_pConfigurationHandler->configuration();
        if (!configuration || configuration->preventDefaultAutostart()) {
            return;
        }
        const std::shared_ptr<TPackage> package = defaultPackage();
        if (isFirstLaunchRequested() && package && package->localStatus() == TPackage::StatusUpToDate) {
            startPackageAndExit(package);
            return;
        }
        const QString patchTarget = patchExecutable();
        if (!patchTarget.isEmpty()) {
            if (const std::shared_ptr<TPackage> patched =
                    m_pInstallationManager->findPackageByExecutable(patchTarget)) {
                startPackageAndExit(patched);
            }
        }
    });
}

void TLauncherApplication::onClientStartOrInstallTriggeredFromUI(std::shared_ptr<TPackage> pPackage) {
    guarded([this, &pPackage] {
        qInfo().noquote() << "onClientStartOrInstallTriggeredFromUI " + pPackage->name() + threadText();
        if (isEnding() || !m_pInstallationManager) {
            return;
        }
        switch (pPackage->localStatus()) {
        case TPackage::StatusUpToDate:
            startPackageAndExit(pPackage);
            break;
        case TPackage::StatusNotInstalled:
        case TPackage::StatusPartiallyInstalled:
        case TPackage::StatusUpdateAvailable:
            if (!pPackage->isLauncherPackage() && isClientRunning()) {
                m_NotificationTimer.stop();
                hideSplash();
                showMessageBox(
                    QMessageBox::Warning, nullptr, QStringLiteral("Vantor Online update failed"),
                    QStringLiteral("Cannot update. The client is still running. Please close the client and "
                                   "try again."),
                    QMessageBox::Ok);
                return;
            }
            m_pInstallationManager->installOrUpdatePackage(pPackage);
            break;
        default:
            break;
        }
    });
}

void TLauncherApplication::onClientVerifyTriggeredFromUI(std::shared_ptr<TPackage> pPackage) {
    guarded([this, &pPackage] {
        qInfo().noquote() << "onClientVerifyTriggeredFromUI " + pPackage->name() + threadText();
        if (isEnding() || !m_pInstallationManager) {
            return;
        }
        if (pPackage->localStatus() == TPackage::StatusUpToDate) {
            m_pInstallationManager->verifyPackage(pPackage);
        }
    });
}

void TLauncherApplication::onClientRepairTriggeredFromUI(std::shared_ptr<TPackage> pPackage) {
    guarded([this, &pPackage] {
        qInfo().noquote() << "onClientRepairTriggeredFromUI " + pPackage->name() + threadText();
        if (isEnding() || !m_pInstallationManager) {
            return;
        }
        // A full run: every installed file is read and checked, and whatever is missing or damaged
        // (the program among them) is fetched again and made executable.
        m_pInstallationManager->installOrUpdatePackage(pPackage);
    });
}

void TLauncherApplication::onPauseTriggeredFromUI(std::shared_ptr<TPackage> pPackage, bool Pause) {
    guarded([this, &pPackage, Pause] {
        if (!isEnding() && m_pInstallationManager) {
            m_pInstallationManager->setUpdatePaused(pPackage, Pause);
        }
    });
}

void TLauncherApplication::onDefaultChanged(std::shared_ptr<TPackage> pPackage, bool isDefault) {
    guarded([this, &pPackage, isDefault] {
        if (!m_pInstallationManager) {
            return;
        }
        if (isDefault) {
            m_pInstallationManager->setDefaultPackage(pPackage);
        } else {
            m_pInstallationManager->clearDefaultPackage();
        }
    });
}

QStringList TLauncherApplication::clientArguments(const TPackage& Package) {
    const TPackageConfigurationReader* configuration = Package.configurationForThisSystem();
    QStringList arguments = configuration ? configuration->parameters() : QStringList();
    if (Package.checkedSinceStart()) {
        arguments << PackageIsUpToDateArgument;
    }
    return arguments;
}

void TLauncherApplication::startPackageAndExit(std::shared_ptr<TPackage> pPackage) {
    qInfo().noquote() << "startPackageAndExit" + pPackage->name() + threadText();
    if (isEnding() || !m_pInstallationManager) {
        return;
    }
    const QString program = m_pInstallationManager->executablePath(pPackage);
    if (program.isEmpty()) {
        return;
    }
    const QStringList arguments = clientArguments(*pPackage);
    qInfo().noquote() << "startPackageAndExit: " + program + " " + arguments.join(QLatin1Char(' ')) +
                             threadText();
    QString problem;
    if (!startClient(program, arguments, problem)) {
        onClientStartFailed(pPackage, problem);
        return;
    }
    m_pStartedPackage = pPackage;
    // From here on only the client's announcement (or its absence) ends the launcher; closing the
    // main window below must not end it at once.
    beginEnding();
    m_ClientStartClock.start();
    m_ClientStartTimer.start();
    if (m_pMainWindow) {
        m_pMainWindow->close();
    }
    if (m_pSplashScreen) {
        m_pSplashScreen->close();
        processEvents();
    }
    showSplash(LaunchingClientSplash);
    m_NotificationTimer.stop();
}

QString TLauncherApplication::clientStartProblem(const QString& Program) {
    const QFileInfo info(Program);
    if (!info.exists()) {
        return Program + QStringLiteral(" is missing");
    }
    if (!info.isFile()) {
        return Program + QStringLiteral(" is not a file");
    }
    if (!info.isExecutable()) {
        return Program + QStringLiteral(" is not executable");
    }
    return QString();
}

bool TLauncherApplication::startClient(const QString& Program, const QStringList& Arguments,
                                       QString& Problem) {
    Problem = clientStartProblem(Program);
    if (!Problem.isEmpty()) {
        return false;
    }
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(Arguments.size()));
    for (const QString& argument : Arguments) {
        arguments.push_back(argument.toLocal8Bit().toStdString());
    }
    const QString workingDirectory = QFileInfo(Program).absoluteDir().absolutePath();
    auto client = std::make_unique<platform::TStartedProgram>();
    std::string error;
    if (!client->start(QFile::encodeName(Program).toStdString(), arguments,
                       QFile::encodeName(workingDirectory).toStdString(), error)) {
        Problem = Program + QStringLiteral(": ") + QString::fromLocal8Bit(error.c_str());
        return false;
    }
    m_pStartedClient = std::move(client);
    return true;
}

void TLauncherApplication::onClientStartFailed(std::shared_ptr<TPackage> pPackage, const QString& Reason) {
    qCritical().noquote() << "startPackageAndExit: The game could not be started: " + Reason + threadText();
    m_ClientStartTimer.stop();
    m_NotificationTimer.stop();
    m_pStartedClient.reset();
    m_pStartedPackage.reset();
    // The launcher's end is no longer decided: the player gets the window back.
    m_Ending = false;
    showMainWindow();
    setQuitOnLastWindowClosed(true);
    hideSplash();
    if (m_pMainWindow) {
        m_pMainWindow->showClientStartFailedMessage(pPackage, Reason);
    }
}

QString TLauncherApplication::startedClientFailure() {
    if (!m_pStartedClient) {
        return QString();
    }
    switch (m_pStartedClient->poll()) {
    case platform::TStartedProgram::EState::Exited:
        // A client that ends well before it announced itself is left to the usual time-out.
        if (m_pStartedClient->exitCode() == 0) {
            return QString();
        }
        return QStringLiteral("it ended with exit code %1 before it was ready")
            .arg(m_pStartedClient->exitCode());
    case platform::TStartedProgram::EState::Signalled:
        return QStringLiteral("it was ended by signal %1 before it was ready")
            .arg(m_pStartedClient->signalNumber());
    default:
        return QString();
    }
}

void TLauncherApplication::watchClientStart() {
    const qint64 elapsed = m_ClientStartClock.elapsed();
    if (isClientRunning()) {
        qInfo().noquote() << "watchClientStart: the client runs after " + QString::number(elapsed) + " ms" +
                                 threadText();
        m_ClientStartTimer.stop();
        endLauncher(0);
    } else if (const QString failure = startedClientFailure(); !failure.isEmpty()) {
        onClientStartFailed(m_pStartedPackage, failure);
    } else if (elapsed > m_pLauncherFilesystemHelper->settings()->clientStartTimeout()) {
        qWarning().noquote() << "watchClientStart: the client did not announce itself within " +
                                    QString::number(elapsed) + " ms" + threadText();
        m_ClientStartTimer.stop();
        endLauncher(1);
    } else if (m_pSplashScreen && !m_pSplashScreen->isVisible()) {
        qInfo().noquote() << "watchClientStart: the splash screen was closed" + threadText();
        m_ClientStartTimer.stop();
        endLauncher(1);
    }
}

bool TLauncherApplication::isClientRunning() {
    return platform::TNamedFileMapping::exists(ClientPresenceName);
}

void TLauncherApplication::restartLauncher() {
    // The successor must find the single-instance guard and the launcher's named object free: it
    // does not wait for this launcher to end.
    m_pSingleInstanceGuard.reset();
    m_pLauncherPresence = std::make_unique<platform::TNamedFileMapping>(LauncherPresenceName, false);
    QStringList arguments = QCoreApplication::arguments();
    arguments << QStringLiteral("--%1").arg(SkipSelfUpdateOptionName);
    qInfo().noquote() << "restartLauncher: " + m_LauncherProgram + " " + arguments.join(QLatin1Char(' ')) +
                             threadText();
    const bool started = QProcess::startDetached(m_LauncherProgram, arguments, QDir::currentPath());
    if (!started) {
        qCritical().noquote() << "restartLauncher: the launcher could not be started again" + threadText();
    }
    endLauncher(started ? 0 : 1);
}

int TLauncherApplication::showMessageBox(QMessageBox::Icon Icon, QWidget* pParent, const QString& Title,
                                         const QString& Text, QMessageBox::StandardButton Button) {
    QMessageBox box(Icon, Title, Text, Button, pParent);
    // The texts quote package names and server answers: words, never markup.
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

void TLauncherApplication::beginEnding() {
    m_Ending = true;
    // The end is decided here; a window closing on the way must not decide it instead.
    setQuitOnLastWindowClosed(false);
}

void TLauncherApplication::endLauncher(int Code) {
    beginEnding();
    if (QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::exit(Code);
    } else {
        // Before the event loop runs, exit() would be forgotten.
        QTimer::singleShot(0, this, [Code] { QCoreApplication::exit(Code); });
    }
}

} // namespace mirrel::launcher
