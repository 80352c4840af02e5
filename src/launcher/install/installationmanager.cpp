#include "launcher/install/installationmanager.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/stoprequest.h"
#include "launcher/install/freespacecheck.h"
#include "launcher/install/packagedifference.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/package/versionlabel.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/funneleventsender.h"

#include <QFutureWatcher>
#include <QStringList>
#include <QSettings>
#include <QtConcurrent>
#include <QtDebug>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace mirrel::launcher {

namespace {

const QString DownloadedStep = QStringLiteral("launcher_downloaded");
const QString DownloadedFirstTimeKey = QStringLiteral("FunnelFinishedDownloadingFirst");
const QString VerifiedStep = QStringLiteral("launcher_verified");
const QString VerifiedFirstTimeKey = QStringLiteral("FunnelFinished_VerifyingFirst");

QString threadText() {
    return QStringLiteral(" Thread: ") + currentThreadIdText();
}

// Installations are released through the event loop: a run ends inside the installation's own
// signals, while its member functions are still on the stack.
std::shared_ptr<TPackageInstallation>
makeInstallation(const std::shared_ptr<TPackage>& Package,
                 const std::shared_ptr<TLauncherFilesystemHelper>& FileSystem) {
    return std::shared_ptr<TPackageInstallation>(
        new TPackageInstallation(Package, FileSystem),
        [](TPackageInstallation* pInstallation) { pInstallation->deleteLater(); });
}

std::shared_ptr<const TPackageConfigurationReader> readMarkers(const TInstallationMarkers& Markers,
                                                               const QDir& Directory, bool Log) {
    return std::make_shared<const TPackageConfigurationReader>(Markers.read(Directory, Log));
}

} // namespace

TInstallationManager::TInstallationManager(std::shared_ptr<TLauncherConfigurationReader> Configuration,
                                           std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
                                           QObject* parent)
    : QObject(parent)
    , m_pConfiguration(std::move(Configuration))
    , m_pLauncherFilesystemHelper(std::move(FileSystem))
    , m_Markers(m_pLauncherFilesystemHelper)
    , m_FunnelEventSink(&TFunnelEventSender::sendThroughApplication) {
    if (m_pConfiguration) {
        refreshPackageStatuses();
    }
}

TInstallationManager::~TInstallationManager() = default;

void TInstallationManager::TMarkerStep::fail(const std::exception& Error, const TInstallationMarkers& Markers,
                                             const QDir& Directory,
                                             const TPackageConfigurationReader& Offered) {
    ErrorText = QString::fromUtf8(Error.what());
    try {
        Status = Markers.status(Directory, Offered);
    } catch (const std::exception&) {
        Status = -1; // not even the markers can be read
    }
}

// The watcher is the installation's child: the installation waits for it before it goes away. Work
// holds copies of all it uses and never this manager, which may be gone when it ends.
template <typename TWork, typename TDone>
void TInstallationManager::onPool(const std::shared_ptr<TPackageInstallation>& Installation, TWork Work,
                                  TDone Done) {
    using TResult = std::invoke_result_t<TWork>;
    auto* pWatcher = new QFutureWatcher<TResult>(Installation.get());
    const std::weak_ptr<TPackageInstallation> weakInstallation = Installation;
    connect(pWatcher, &QFutureWatcherBase::finished, this, [pWatcher, weakInstallation, Done] {
        if (const std::shared_ptr<TPackageInstallation> installation = weakInstallation.lock()) {
            Done(installation, pWatcher->result());
        }
        pWatcher->deleteLater();
    });
    pWatcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), std::move(Work)));
}

void TInstallationManager::setFunnelEventSink(TFunnelEventSink Sink) {
    m_FunnelEventSink = std::move(Sink);
}

std::vector<std::shared_ptr<TPackageInstallation>> TInstallationManager::installationsInProgress() const {
    std::vector<std::shared_ptr<TPackageInstallation>> installations;
    for (const TInstallationInProgress& run : m_InstallationsInProgress) {
        installations.push_back(run.Installation);
    }
    return installations;
}

bool TInstallationManager::isInstallationInProgress(const QString& PackageName) const {
    return std::any_of(m_InstallationsInProgress.begin(), m_InstallationsInProgress.end(),
                       [&PackageName](const TInstallationInProgress& Run) {
                           return Run.Installation->package()->name() == PackageName;
                       });
}

void TInstallationManager::installOrUpdatePackage(const std::shared_ptr<TPackage>& Package) {
    if (!Package) {
        return;
    }
    qInfo().noquote() << "installOrUpdatePackage: " + Package->name() + threadText();
    const std::shared_ptr<const TPackageConfigurationReader> offered =
        Package->sharedConfigurationForThisSystem();
    if (isInstallationInProgress(Package->name()) || !offered) {
        return;
    }
    rememberPausedUpdate(*Package, false);
    const std::shared_ptr<TPackageInstallation> installation = beginRun(Package, offered, false);
    onPool(
        installation,
        [markers = m_Markers, fileSystem = m_pLauncherFilesystemHelper,
         directory = installation->installationDirectory(), target = findRun(installation)->Target,
         selfUpdateMode = m_SelfUpdateMode, siblings = siblingCandidates(Package),
         stop = installation->stopRequest()] {
            TMarkerStep step;
            try {
                step.Installed = readMarkers(markers, directory, true);
                // Only a completely installed package's description may stand in for reading its
                // files; after an interrupted run the files may hold anything.
                step.FastScan = fileSystem->settings()->fastScan() &&
                                markers.status(directory, *target, step.Installed.get()) ==
                                    TPackage::StatusUpdateAvailable;
                qInfo().noquote() << "installOrUpdatePackage: " + directory.absolutePath() + " fast scan: " +
                                         (step.FastScan ? QStringLiteral("true") : QStringLiteral("false")) +
                                         threadText();
                // Asked before anything is written: a refused run leaves the package exactly as it was.
                step.ErrorText = TFreeSpaceCheck(directory, fileSystem, selfUpdateMode)
                                     .refusal(target->files(), step.Installed->files());
                if (step.ErrorText.isEmpty()) {
                    stop->throwIfRequested();
                    markers.markPartiallyInstalled(directory, target->rawPackageDocument(),
                                                   target->rawAssetDocument());
                    step.Marked = true;
                }
            } catch (const std::exception& error) {
                step.fail(error, markers, directory, *target);
            }
            for (const TSiblingPackage& sibling : siblings) {
                if (markers.isCompletelyInstalled(QDir(sibling.Directory))) {
                    step.Siblings.push_back(sibling);
                }
            }
            return step;
        },
        [this](const std::shared_ptr<TPackageInstallation>& Installation, const TMarkerStep& Step) {
            onInstallStarted(Installation, Step);
        });
}

void TInstallationManager::onInstallStarted(const std::shared_ptr<TPackageInstallation>& Installation,
                                            const TMarkerStep& Step) {
    const TInstallationInProgress* pRun = findRun(Installation);
    if (pRun == nullptr) {
        return;
    }
    const std::shared_ptr<const TPackageConfigurationReader> target = pRun->Target;
    const std::shared_ptr<TPackage> package = Installation->package();
    if (Step.Installed) {
        Installation->setInstalledVersionLabel(versionLabel(*Step.Installed));
    }
    storeStatus(*package, Step.Marked ? TPackage::StatusPartiallyInstalled : Step.Status);
    // A run stopped before its scan changes no file: the scan would reshape the package first.
    if (!Step.ErrorText.isEmpty() || Installation->stopRequest()->isRequested()) {
        failStart(Installation,
                  Step.ErrorText.isEmpty() ? QString::fromUtf8(TRunStopped().what()) : Step.ErrorText);
        return;
    }
    if (!Step.Siblings.empty()) {
        QStringList names;
        for (const TSiblingPackage& sibling : Step.Siblings) {
            names.append(sibling.Name);
        }
        qInfo().noquote() << "installOrUpdatePackage: " + package->name() + " may read from installed " +
                                 names.join(QStringLiteral(", ")) + threadText();
    }
    Installation->setSiblingPackages(Step.Siblings);
    emit installationOrUpdateStarted(*Installation);
    computeRequiredChanges(Installation, target, Step.Installed, Step.FastScan);
}

void TInstallationManager::failStart(const std::shared_ptr<TPackageInstallation>& Installation,
                                     const QString& ErrorText) {
    emit installationOrUpdateStarted(*Installation);
    Installation->failRun(EPackageDownloaderError::SavingFailed, ErrorText);
    finishInstallation(Installation);
}

TRunSizeEstimate TInstallationManager::runSizeEstimate(const TPackageConfigurationReader& Target,
                                                       const TPackageConfigurationReader& Installed,
                                                       const QDir& Directory,
                                                       const TLauncherFilesystemHelper& FileSystem) {
    TRunSizeEstimate estimate = estimateRunSize(Target, Installed);
    try {
        estimate.FreeBytes = FileSystem.availableBytes(Directory.absolutePath());
    } catch (const std::runtime_error& error) {
        qWarning().noquote() << "free space unknown: " + QString::fromUtf8(error.what());
        estimate.FreeBytes = std::numeric_limits<TFileSize>::max();
    }
    return estimate;
}

void TInstallationManager::stopAllRuns() {
    for (const TInstallationInProgress& run : m_InstallationsInProgress) {
        run.Installation->stop();
    }
}

void TInstallationManager::verifyPackage(const std::shared_ptr<TPackage>& Package) {
    if (!Package) {
        return;
    }
    qInfo().noquote() << "verifyPackage: " + Package->name() + threadText();
    const std::shared_ptr<const TPackageConfigurationReader> offered =
        Package->sharedConfigurationForThisSystem();
    if (isInstallationInProgress(Package->name()) || !offered) {
        return;
    }
    const std::shared_ptr<TPackageInstallation> installation = beginRun(Package, offered, true);
    onPool(
        installation,
        [markers = m_Markers, directory = installation->installationDirectory(),
         offered = findRun(installation)->Offered, stop = installation->stopRequest()] {
            TMarkerStep step;
            try {
                step.Installed = readMarkers(markers, directory, true);
                // Without a readable description there is nothing to check, and an empty check must
                // never make a package count as installed.
                if (step.Installed->isValid()) {
                    stop->throwIfRequested();
                    // A verification confirms the installed version; it records no other.
                    markers.markPartiallyInstalled(directory, step.Installed->rawPackageDocument(),
                                                   step.Installed->rawAssetDocument());
                    step.Marked = true;
                }
            } catch (const std::exception& error) {
                step.fail(error, markers, directory, *offered);
            }
            return step;
        },
        [this](const std::shared_ptr<TPackageInstallation>& Installation, const TMarkerStep& Step) {
            onVerificationStarted(Installation, Step);
        });
}

void TInstallationManager::onVerificationStarted(const std::shared_ptr<TPackageInstallation>& Installation,
                                                 const TMarkerStep& Step) {
    TInstallationInProgress* pRun = findRun(Installation);
    if (pRun == nullptr) {
        return;
    }
    const std::shared_ptr<TPackage> package = Installation->package();
    if (Step.ErrorText.isEmpty() && !Step.Installed->isValid()) {
        qWarning().noquote() << "verifyPackage: " + package->name() + " has no installed description" +
                                    threadText();
        m_InstallationsInProgress.erase(m_InstallationsInProgress.begin() +
                                        (pRun - m_InstallationsInProgress.data()));
        return;
    }
    if (Step.Installed) {
        pRun->Target = Step.Installed;
        Installation->setInstalledVersionLabel(versionLabel(*Step.Installed));
        Installation->setTargetVersionLabel(versionLabel(*Step.Installed));
    }
    storeStatus(*package, Step.Marked ? TPackage::StatusPartiallyInstalled : Step.Status);
    if (!Step.ErrorText.isEmpty() || Installation->stopRequest()->isRequested()) {
        failStart(Installation,
                  Step.ErrorText.isEmpty() ? QString::fromUtf8(TRunStopped().what()) : Step.ErrorText);
        return;
    }
    emit installationOrUpdateStarted(*Installation);
    Installation->startVerification(*Step.Installed, true);
}

std::shared_ptr<TPackageInstallation>
TInstallationManager::beginRun(const std::shared_ptr<TPackage>& Package,
                               const std::shared_ptr<const TPackageConfigurationReader>& Offered,
                               bool UserVerification) {
    const QDir directory = packageDirectory(Package);
    // Runs that read this package's files instead of downloading must not read what changes now.
    for (const TInstallationInProgress& run : m_InstallationsInProgress) {
        run.Installation->stopSeedingFrom(directory.absolutePath());
    }
    const std::shared_ptr<TPackageInstallation> installation =
        makeInstallation(Package, m_pLauncherFilesystemHelper);
    installation->setInstallationDirectory(directory);
    installation->setTargetVersionLabel(versionLabel(*Offered));
    installation->setSelfUpdateMode(m_SelfUpdateMode);
    if (m_pRateLimiter) {
        installation->setRateLimiter(m_pRateLimiter);
    }
    if (!UserVerification) {
        connect(installation.get(), &TPackageInstallation::downloadFinished, this,
                &TInstallationManager::onDownloadFinished);
    }
    connect(installation.get(), &TPackageInstallation::verificationFinished, this,
            &TInstallationManager::onVerificationFinished);
    connect(installation.get(), &TPackageInstallation::diskAccessFailed, this,
            &TInstallationManager::onDiskAccessFailed);
    m_InstallationsInProgress.push_back(TInstallationInProgress{
        installation, Offered, UserVerification ? nullptr : Offered, UserVerification});
    return installation;
}

void TInstallationManager::computeRequiredChanges(
    const std::shared_ptr<TPackageInstallation>& Installation,
    const std::shared_ptr<const TPackageConfigurationReader>& Target,
    const std::shared_ptr<const TPackageConfigurationReader>& Installed, bool FastScan) {
    onPool(
        Installation,
        [pInstallation = Installation.get(), directory = Installation->installationDirectory(),
         fileSystem = m_pLauncherFilesystemHelper, Target, Installed, FastScan] {
            return pInstallation->computeRequiredChanges(directory, fileSystem, *Target, *Installed,
                                                         FastScan);
        },
        [](const std::shared_ptr<TPackageInstallation>& Installation, const TPackageDifference& Changes) {
            Installation->onRequiredChangesComputedForInstallation(Changes);
        });
}

std::int32_t TInstallationManager::determinePackageStatus(const std::shared_ptr<TPackage>& Package) const {
    const TPackageConfigurationReader* target = Package->configurationForThisSystem();
    return target == nullptr ? TPackage::StatusNotInstalled
                             : m_Markers.status(packageDirectory(Package), *target);
}

void TInstallationManager::refreshPackageStatuses() {
    if (!m_pConfiguration) {
        return;
    }
    bool defaultFound = false;
    for (const std::shared_ptr<TPackage>& package : m_pConfiguration->packages()) {
        std::int32_t status = TPackage::StatusNotInstalled;
        if (const TPackageConfigurationReader* target = package->configurationForThisSystem()) {
            // One reading of the markers gives both the status and the row's figures.
            const QDir directory = packageDirectory(package);
            const TPackageConfigurationReader installed = m_Markers.read(directory, false);
            status = m_Markers.status(directory, *target, &installed);
            package->setRunSizeEstimate(
                runSizeEstimate(*target, installed, directory, *m_pLauncherFilesystemHelper));
        }
        // An update paused when the launcher last ran is offered for resuming while its partial
        // marker is there.
        if (!isInstallationInProgress(package->name())) {
            package->setUpdatePaused(
                status == TPackage::StatusPartiallyInstalled &&
                TFunnelEventSender::userSettingsStore()->value(pausedUpdateKey(*package)).toBool());
        }
        storeStatus(*package, status);
        if (defaultFound || status < TPackage::StatusPartiallyInstalled) {
            continue;
        }
        if (m_pLauncherFilesystemHelper->fileExists(
                m_Markers.path(packageDirectory(package), DefaultMarkerFileName))) {
            package->setDefaultPackage(true);
            defaultFound = true;
        }
    }
}

void TInstallationManager::setDefaultPackage(const std::shared_ptr<TPackage>& Package) {
    clearDefaultPackage();
    m_Markers.write(m_Markers.path(packageDirectory(Package), DefaultMarkerFileName), QByteArray());
    Package->setDefaultPackage(true);
}

void TInstallationManager::clearDefaultPackage() {
    if (!m_pConfiguration) {
        return;
    }
    for (const std::shared_ptr<TPackage>& package : m_pConfiguration->packages()) {
        storeStatus(*package, determinePackageStatus(package));
        m_Markers.remove(m_Markers.path(packageDirectory(package), DefaultMarkerFileName));
        package->setDefaultPackage(false);
    }
}

QDir TInstallationManager::packageDirectory(const std::shared_ptr<TPackage>& Package) const {
    if (Package->isLauncherPackage()) {
        return QDir(m_pLauncherFilesystemHelper->launcherDirectory());
    }
    // Created on the way, so that the package's directory can be made below it.
    m_pLauncherFilesystemHelper->packagesDirectory();
    return QDir(m_pLauncherFilesystemHelper->packageDirectoryPath(Package->directoryName()));
}

QString TInstallationManager::executablePath(const std::shared_ptr<TPackage>& Package) const {
    const TPackageConfigurationReader* configuration = Package->configurationForThisSystem();
    if (configuration == nullptr || configuration->executable().isEmpty()) {
        return QString();
    }
    return m_pLauncherFilesystemHelper->pathInside(packageDirectory(Package), configuration->executable());
}

std::shared_ptr<TPackage> TInstallationManager::findPackageByExecutable(const QString& Path) const {
    if (!m_pConfiguration || Path.isEmpty()) {
        return nullptr;
    }
    const QString wanted = QDir::cleanPath(Path);
    for (const std::shared_ptr<TPackage>& package : m_pConfiguration->packages()) {
        const QString executable = executablePath(package);
        // A package without a start file must not match whatever the empty path stands for.
        if (!executable.isEmpty() && QDir::cleanPath(executable) == wanted) {
            return package;
        }
    }
    return nullptr;
}

TPackageConfigurationReader
TInstallationManager::readPackageConfigurationFromInstallationDirectory(const QDir& PackageDirectory) const {
    return m_Markers.read(PackageDirectory, true);
}

void TInstallationManager::markPackageAsPartiallyInstalled(const std::shared_ptr<TPackage>& Package,
                                                           const QByteArray& PackageDocument,
                                                           const QByteArray& AssetDocument) {
    qInfo().noquote() << "markPackageAsPartiallyInstalled: " + Package->name() + threadText();
    m_Markers.markPartiallyInstalled(packageDirectory(Package), PackageDocument, AssetDocument);
    storeStatus(*Package, TPackage::StatusPartiallyInstalled);
}

void TInstallationManager::updatePartiallyInstalledPackage(const std::shared_ptr<TPackage>& Package,
                                                           const QByteArray& PackageDocument,
                                                           const QByteArray& AssetDocument) {
    qInfo().noquote() << "updatePartiallyInstalledPackage: " + Package->name() + threadText();
    m_Markers.updatePartiallyInstalled(packageDirectory(Package), PackageDocument, AssetDocument);
    storeStatus(*Package, TPackage::StatusPartiallyInstalled);
}

void TInstallationManager::markPackageAsFullyInstalled(const std::shared_ptr<TPackage>& Package,
                                                       const QByteArray& PackageDocument,
                                                       const QByteArray& AssetDocument) {
    qInfo().noquote() << "markPackageAsFullyInstalled: " + Package->name() + threadText();
    m_Markers.markFullyInstalled(packageDirectory(Package), PackageDocument, AssetDocument);
    storeStatus(*Package, TPackage::StatusUpToDate);
}

void TInstallationManager::onDiskAccessFailed(QString ErrorMessage) {
    emit diskAccessFailed(ErrorMessage);
}

void TInstallationManager::onDownloadFinished(std::shared_ptr<TPackage> PackageBeingInstalled) {
    qInfo().noquote() << "onDownloadFinished: " + PackageBeingInstalled->name() + threadText();
    const TInstallationInProgress* run = findInstallation(PackageBeingInstalled->name());
    if (run == nullptr) {
        return;
    }
    qInfo().noquote() << "onDownloadFinished found: " + PackageBeingInstalled->name() +
                             " InstallationsInProgress: " +
                             QString::number(m_InstallationsInProgress.size()) + threadText();
    const std::shared_ptr<TPackageInstallation> installation = run->Installation;
    if (!installation->success()) {
        finishInstallation(installation);
        return;
    }
    onPool(
        installation,
        [markers = m_Markers, directory = installation->installationDirectory(), target = run->Target,
         offered = run->Offered] {
            TMarkerStep step;
            try {
                markers.updatePartiallyInstalled(directory, target->rawPackageDocument(),
                                                 target->rawAssetDocument());
                step.Marked = true;
                step.Installed = readMarkers(markers, directory, true);
            } catch (const std::exception& error) {
                step.fail(error, markers, directory, *offered);
            }
            return step;
        },
        [this](const std::shared_ptr<TPackageInstallation>& Installation, const TMarkerStep& Step) {
            onPartialMarkerUpdated(Installation, Step);
        });
}

void TInstallationManager::onPartialMarkerUpdated(const std::shared_ptr<TPackageInstallation>& Installation,
                                                  const TMarkerStep& Step) {
    storeStatus(*Installation->package(), Step.Marked ? TPackage::StatusPartiallyInstalled : Step.Status);
    if (!Step.ErrorText.isEmpty()) {
        // A disk that refuses the marker ends the run, not the launcher: the partial marker in
        // place lets the next run pick up from here.
        Installation->failRun(EPackageDownloaderError::SavingFailed, Step.ErrorText);
        finishInstallation(Installation);
        return;
    }
    qInfo().noquote() << "onDownloadFinished LocalConfiguration: " +
                             QString::number(Step.Installed->files().size()) + threadText();
    sendFunnelEvent(DownloadedStep, DownloadedFirstTimeKey);
    Installation->startVerification(*Step.Installed, false);
}

void TInstallationManager::onVerificationFinished(std::shared_ptr<TPackage> PackageBeingInstalled) {
    qInfo().noquote() << "onVerificationFinished: " + PackageBeingInstalled->name() + threadText();
    const TInstallationInProgress* run = findInstallation(PackageBeingInstalled->name());
    if (run == nullptr) {
        return;
    }
    const std::shared_ptr<TPackageInstallation> installation = run->Installation;
    qInfo().noquote() << "onVerificationFinished found package: " + PackageBeingInstalled->name() +
                             " without error: " + QString::number(installation->success()) + threadText();
    if (!installation->success()) {
        PackageBeingInstalled->markCheckedSinceStart();
        finishInstallation(installation);
        return;
    }
    onPool(
        installation,
        [markers = m_Markers, fileSystem = m_pLauncherFilesystemHelper,
         directory = installation->installationDirectory(), verified = run->Target, offered = run->Offered] {
            TMarkerStep step;
            try {
                markers.markFullyInstalled(directory, verified->rawPackageDocument(),
                                           verified->rawAssetDocument());
                step.Marked = true;
            } catch (const std::exception& error) {
                step.fail(error, markers, directory, *offered);
                return step;
            }
            try {
                if (fileSystem->accountGroupFileExists()) {
                    fileSystem->copyAccountGroupFileTo(directory);
                }
            } catch (const std::exception& error) {
                step.AccountGroupError = QString::fromUtf8(error.what());
            }
            return step;
        },
        [this](const std::shared_ptr<TPackageInstallation>& Installation, const TMarkerStep& Step) {
            onFullMarkerWritten(Installation, Step);
        });
}

void TInstallationManager::onFullMarkerWritten(const std::shared_ptr<TPackageInstallation>& Installation,
                                               const TMarkerStep& Step) {
    const TInstallationInProgress* pRun = findRun(Installation);
    if (pRun == nullptr) {
        return;
    }
    const std::shared_ptr<TPackage> package = Installation->package();
    if (Step.Marked) {
        storeStatus(*package, TPackage::StatusUpToDate);
        // A verified older version is complete, but still not the one the configuration offers.
        const TPackageConfigurationReader* current = package->configurationForThisSystem();
        if (pRun->UserVerification && current != nullptr &&
            versionLabel(*current) != versionLabel(*pRun->Target)) {
            storeStatus(*package, TPackage::StatusUpdateAvailable);
        }
        sendFunnelEvent(VerifiedStep, VerifiedFirstTimeKey);
    } else {
        storeStatus(*package, Step.Status);
        Installation->failRun(EPackageDownloaderError::SavingFailed, Step.ErrorText);
    }
    package->markCheckedSinceStart();
    if (!Step.AccountGroupError.isEmpty()) {
        emit diskAccessFailed(Step.AccountGroupError);
    }
    finishInstallation(Installation);
}

std::vector<TSiblingPackage>
TInstallationManager::siblingCandidates(const std::shared_ptr<TPackage>& Package) const {
    std::vector<TSiblingPackage> siblings;
    if (!m_pConfiguration || !m_pLauncherFilesystemHelper->settings()->seedFromInstalledPackages()) {
        return siblings;
    }
    const QString own = QDir::cleanPath(packageDirectory(Package).absolutePath());
    for (const std::shared_ptr<TPackage>& package : m_pConfiguration->packages()) {
        if (package == Package || package->isLauncherPackage() || isInstallationInProgress(package->name())) {
            continue;
        }
        const QString directory = QDir::cleanPath(packageDirectory(package).absolutePath());
        if (directory != own) {
            siblings.push_back({package->name(), directory});
        }
    }
    return siblings;
}

TInstallationManager::TInstallationInProgress*
TInstallationManager::findInstallation(const QString& PackageName) {
    const auto found = std::find_if(m_InstallationsInProgress.begin(), m_InstallationsInProgress.end(),
                                    [&PackageName](const TInstallationInProgress& Run) {
                                        return Run.Installation->package()->name() == PackageName;
                                    });
    return found != m_InstallationsInProgress.end() ? &*found : nullptr;
}

void TInstallationManager::setUpdatePaused(const std::shared_ptr<TPackage>& Package, bool Paused) {
    TInstallationInProgress* pRun = Package ? findInstallation(Package->name()) : nullptr;
    if (pRun == nullptr || pRun->UserVerification) {
        return;
    }
    const std::shared_ptr<TPackageInstallation> installation = pRun->Installation;
    if (Paused) {
        installation->pause();
    } else {
        installation->resume();
    }
    if (installation->isPaused() == Package->isUpdatePaused()) {
        return;
    }
    qInfo().noquote() << QStringLiteral("setUpdatePaused: ") + Package->name() +
                             (installation->isPaused() ? QStringLiteral(" paused")
                                                       : QStringLiteral(" resumed")) +
                             threadText();
    rememberPausedUpdate(*Package, installation->isPaused());
    emit installationPausedChanged(*installation);
}

QString TInstallationManager::pausedUpdateKey(const TPackage& Package) {
    return QStringLiteral("pausedUpdates/") + Package.directoryName();
}

void TInstallationManager::rememberPausedUpdate(TPackage& Package, bool Paused) {
    if (!Paused && !Package.isUpdatePaused()) {
        return;
    }
    Package.setUpdatePaused(Paused);
    const std::unique_ptr<QSettings> store = TFunnelEventSender::userSettingsStore();
    if (Paused) {
        store->setValue(pausedUpdateKey(Package), true);
    } else {
        store->remove(pausedUpdateKey(Package));
    }
    store->sync();
}

TInstallationManager::TInstallationInProgress*
TInstallationManager::findRun(const std::shared_ptr<TPackageInstallation>& Installation) {
    TInstallationInProgress* pRun = findInstallation(Installation->package()->name());
    return pRun != nullptr && pRun->Installation == Installation ? pRun : nullptr;
}

void TInstallationManager::finishInstallation(const std::shared_ptr<TPackageInstallation>& Installation) {
    const TInstallationInProgress* pRun = findRun(Installation);
    if (pRun == nullptr) {
        return;
    }
    onPool(
        Installation,
        [markers = m_Markers, fileSystem = m_pLauncherFilesystemHelper,
         directory = Installation->installationDirectory(), offered = pRun->Offered] {
            TPackageConfigurationReader installed;
            try {
                installed = markers.read(directory, false);
            } catch (const std::exception& error) {
                qWarning().noquote() << "installed documents unknown: " + QString::fromUtf8(error.what());
            }
            return runSizeEstimate(*offered, installed, directory, *fileSystem);
        },
        [this](const std::shared_ptr<TPackageInstallation>& Installation, const TRunSizeEstimate& Estimate) {
            endRun(Installation, Estimate);
        });
}

void TInstallationManager::endRun(const std::shared_ptr<TPackageInstallation>& Installation,
                                  const TRunSizeEstimate& Estimate) {
    Installation->package()->setRunSizeEstimate(Estimate);
    rememberPausedUpdate(*Installation->package(), false);
    // Receivers may run an event loop of their own (a message box), in which other runs end: the
    // list is searched again afterwards.
    emit installationOrUpdateFinished(*Installation);
    disconnect(Installation.get(), &TPackageInstallation::diskAccessFailed, this,
               &TInstallationManager::onDiskAccessFailed);
    m_InstallationsInProgress.erase(std::remove_if(m_InstallationsInProgress.begin(),
                                                   m_InstallationsInProgress.end(),
                                                   [&Installation](const TInstallationInProgress& Run) {
                                                       return Run.Installation == Installation;
                                                   }),
                                    m_InstallationsInProgress.end());
    if (m_InstallationsInProgress.empty()) {
        emit allStartedUpdatesFinished();
    }
}

void TInstallationManager::sendFunnelEvent(const QString& Step, const QString& FirstTimeKey) const {
    if (m_FunnelEventSink) {
        m_FunnelEventSink(Step, FirstTimeKey);
    } else {
        qInfo().noquote() << "sendFunnelEvent: no funnel receiver; step not sent: " + Step;
    }
}

void TInstallationManager::storeStatus(TPackage& Package, std::int32_t Status) const {
    if (Status < 0 || Package.localStatus() == Status) {
        return;
    }
    Package.setLocalStatus(Status);
    emit Package.localPackageStatusChanged();
}

} // namespace mirrel::launcher
