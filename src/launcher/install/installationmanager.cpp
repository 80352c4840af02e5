#include "launcher/install/installationmanager.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagelocalpath.h"
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
#include <QUrl>
#include <QtConcurrent>
#include <QtDebug>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

const QString DownloadedStep = QStringLiteral("launcher_downloaded");
const QString DownloadedFirstTimeKey = QStringLiteral("FunnelFinishedDownloadingFirst");
const QString VerifiedStep = QStringLiteral("launcher_verified");
const QString VerifiedFirstTimeKey = QStringLiteral("FunnelFinished_VerifyingFirst");

QString pointerText(const void* Pointer) {
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(Pointer), 16);
}

QString threadText() {
    return QStringLiteral(" Thread: ") + currentThreadIdText();
}

// An asset version "1" marks a build whose installations are always offered an update.
bool assetVersionForcesUpdate(const TPackageConfigurationReader& Configuration) {
    const QString assetVersion =
        Configuration.assetVersion().isEmpty() ? QStringLiteral("?") : Configuration.assetVersion();
    return assetVersion == QLatin1String("1");
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

} // namespace

TInstallationManager::TInstallationManager(std::shared_ptr<TLauncherConfigurationReader> Configuration,
                                           std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
                                           QObject* parent)
    : QObject(parent)
    , m_pConfiguration(std::move(Configuration))
    , m_pLauncherFilesystemHelper(std::move(FileSystem))
    , m_FunnelEventSink(&TFunnelEventSender::sendThroughApplication) {
    if (m_pConfiguration) {
        refreshPackageStatuses();
    }
}

TInstallationManager::~TInstallationManager() = default;

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
    const TPackageConfigurationReader* target = Package->configurationForThisSystem();
    if (isInstallationInProgress(Package->name()) || target == nullptr) {
        return;
    }
    const TPackageConfigurationReader targetConfiguration = *target;
    const QDir directory = packageDirectory(Package);
    const TPackageConfigurationReader installed =
        readPackageConfigurationFromInstallationDirectory(directory);
    // Only a completely installed package's description may stand in for reading its files; after
    // an interrupted run the files may hold anything.
    const bool fastScan = m_pLauncherFilesystemHelper->settings()->fastScan() &&
                          determinePackageStatus(Package) == TPackage::StatusUpdateAvailable;
    qInfo().noquote() << "installOrUpdatePackage: " + Package->name() +
                             " fast scan: " + (fastScan ? QStringLiteral("true") : QStringLiteral("false")) +
                             threadText();
    // Asked before anything is written: a refused run leaves the package exactly as it was.
    const QString refusal = TFreeSpaceCheck(directory, m_pLauncherFilesystemHelper, m_SelfUpdateMode)
                                .refusal(targetConfiguration.files(), installed.files());
    if (!refusal.isEmpty()) {
        const std::shared_ptr<TPackageInstallation> installation =
            startInstallation(Package, directory, installed, targetConfiguration, false);
        installation->failRun(EPackageDownloaderError::SavingFailed, refusal);
        finishInstallation(installation);
        return;
    }
    markPackageAsPartiallyInstalled(Package, targetConfiguration.rawPackageDocument(),
                                    targetConfiguration.rawAssetDocument());
    const std::vector<TSiblingPackage> siblings = siblingPackages(Package);
    rememberPausedUpdate(*Package, false);
    const std::shared_ptr<TPackageInstallation> installation =
        startInstallation(Package, directory, installed, targetConfiguration, false);
    installation->setSiblingPackages(siblings);
    computeRequiredChanges(installation, targetConfiguration, installed, fastScan);
}

void TInstallationManager::updateRunSizeEstimate(const std::shared_ptr<TPackage>& Package) const {
    const TPackageConfigurationReader* target = Package->configurationForThisSystem();
    if (target == nullptr) {
        Package->setRunSizeEstimate(TRunSizeEstimate());
        return;
    }
    const QDir directory = packageDirectory(Package);
    TRunSizeEstimate estimate = estimateRunSize(*target, readInstalledConfiguration(directory, false));
    try {
        estimate.FreeBytes = m_pLauncherFilesystemHelper->availableBytes(directory.absolutePath());
    } catch (const std::runtime_error& error) {
        qWarning().noquote() << "free space unknown: " + QString::fromUtf8(error.what());
        estimate.FreeBytes = std::numeric_limits<TFileSize>::max();
    }
    Package->setRunSizeEstimate(estimate);
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
    const TPackageConfigurationReader* target = Package->configurationForThisSystem();
    if (isInstallationInProgress(Package->name()) || target == nullptr) {
        return;
    }
    const QDir directory = packageDirectory(Package);
    const TPackageConfigurationReader installed =
        readPackageConfigurationFromInstallationDirectory(directory);
    // Without a readable description there is nothing to check, and an empty check must never
    // make a package count as installed.
    if (!installed.isValid()) {
        qWarning().noquote() << "verifyPackage: " + Package->name() + " has no installed description" +
                                    threadText();
        return;
    }
    // A verification confirms the installed version; it records no other.
    markPackageAsPartiallyInstalled(Package, installed.rawPackageDocument(), installed.rawAssetDocument());
    const std::shared_ptr<TPackageInstallation> installation =
        startInstallation(Package, directory, installed, installed, true);
    installation->startVerification(installed, true);
}

std::shared_ptr<TPackageInstallation>
TInstallationManager::startInstallation(const std::shared_ptr<TPackage>& Package,
                                        const QDir& PackageDirectory,
                                        const TPackageConfigurationReader& Installed,
                                        const TPackageConfigurationReader& Target, bool UserVerification) {
    // Runs that read this package's files instead of downloading must not read what changes now.
    for (const TInstallationInProgress& run : m_InstallationsInProgress) {
        run.Installation->stopSeedingFrom(PackageDirectory.absolutePath());
    }
    const std::shared_ptr<TPackageInstallation> installation =
        makeInstallation(Package, m_pLauncherFilesystemHelper);
    installation->setInstallationDirectory(PackageDirectory);
    installation->setInstalledVersionLabel(versionLabel(Installed));
    installation->setTargetVersionLabel(versionLabel(Target));
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
    m_InstallationsInProgress.push_back(TInstallationInProgress{installation, Target, UserVerification});
    emit installationOrUpdateStarted(*installation);
    return installation;
}

void TInstallationManager::computeRequiredChanges(const std::shared_ptr<TPackageInstallation>& Installation,
                                                  const TPackageConfigurationReader& Target,
                                                  const TPackageConfigurationReader& Installed,
                                                  bool FastScan) {
    // The watcher is the installation's child: the installation waits for it before it goes away.
    auto* pWatcher = new QFutureWatcher<TPackageDifference>(Installation.get());
    const std::weak_ptr<TPackageInstallation> weakInstallation = Installation;
    connect(pWatcher, &QFutureWatcherBase::finished, this, [pWatcher, weakInstallation] {
        if (const std::shared_ptr<TPackageInstallation> installation = weakInstallation.lock()) {
            installation->onRequiredChangesComputedForInstallation(pWatcher->result());
        }
        pWatcher->deleteLater();
    });
    pWatcher->setFuture(QtConcurrent::run(
        QThreadPool::globalInstance(),
        [pInstallation = Installation.get(), directory = Installation->installationDirectory(),
         fileSystem = m_pLauncherFilesystemHelper, Target, Installed, FastScan] {
            return pInstallation->computeRequiredChanges(directory, fileSystem, Target, Installed, FastScan);
        }));
}

std::int32_t TInstallationManager::determinePackageStatus(const std::shared_ptr<TPackage>& Package) const {
    const TPackageConfigurationReader* target = Package->configurationForThisSystem();
    if (target == nullptr) {
        return TPackage::StatusNotInstalled;
    }
    const QDir directory = packageDirectory(Package);
    const std::shared_ptr<const TLauncherSettings> settings = m_pLauncherFilesystemHelper->settings();
    if (markerExists(markerPath(directory, settings->packageFile()))) {
        const TPackageConfigurationReader installed = readInstalledConfiguration(directory, false);
        if (versionLabel(installed) != versionLabel(*target) || assetVersionForcesUpdate(*target)) {
            return TPackage::StatusUpdateAvailable;
        }
        return TPackage::StatusUpToDate;
    }
    return markerExists(markerPath(directory, settings->partialPackageFile()))
               ? TPackage::StatusPartiallyInstalled
               : TPackage::StatusNotInstalled;
}

void TInstallationManager::refreshPackageStatuses() {
    if (!m_pConfiguration) {
        return;
    }
    bool defaultFound = false;
    for (const std::shared_ptr<TPackage>& package : m_pConfiguration->packages()) {
        const std::int32_t status = determinePackageStatus(package);
        updateRunSizeEstimate(package);
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
                markerPath(packageDirectory(package), DefaultMarkerFileName))) {
            package->setDefaultPackage(true);
            defaultFound = true;
        }
    }
}

void TInstallationManager::setDefaultPackage(const std::shared_ptr<TPackage>& Package) {
    clearDefaultPackage();
    writeMarker(markerPath(packageDirectory(Package), DefaultMarkerFileName), QByteArray());
    Package->setDefaultPackage(true);
}

void TInstallationManager::clearDefaultPackage() {
    if (!m_pConfiguration) {
        return;
    }
    for (const std::shared_ptr<TPackage>& package : m_pConfiguration->packages()) {
        storeStatus(*package, determinePackageStatus(package));
        removeMarker(markerPath(packageDirectory(package), DefaultMarkerFileName));
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
    return readInstalledConfiguration(PackageDirectory, true);
}

TPackageConfigurationReader TInstallationManager::readInstalledConfiguration(const QDir& PackageDirectory,
                                                                             bool Log) const {
    const std::shared_ptr<const TLauncherSettings> settings = m_pLauncherFilesystemHelper->settings();
    const QString fullMarker = markerPath(PackageDirectory, settings->packageFile());
    const QString partialMarker = markerPath(PackageDirectory, settings->partialPackageFile());
    const QString assetFile = markerPath(PackageDirectory, settings->assetFile());
    if (Log) {
        qInfo().noquote()
            << "readPackageConfigurationFromInstallationDirectory m_pLauncherFilesystemHelper: " +
                   pointerText(m_pLauncherFilesystemHelper.get()) +
                   " launcherSettings: " + pointerText(settings.get()) +
                   " installedPackageMarker: " + settings->packageFile() +
                   " partiallyInstalledPackageMarker: " + settings->partialPackageFile() + threadText();
    }
    QString marker;
    if (markerExists(fullMarker)) {
        marker = fullMarker;
        if (Log) {
            qInfo().noquote() << "FullInstallationMarker " + fullMarker + " " + assetFile +
                                     " Thread:" + currentThreadIdText();
        }
    } else if (markerExists(partialMarker)) {
        marker = partialMarker;
        if (Log) {
            qInfo().noquote() << "PartialInstallationMarker " + partialMarker + " " + assetFile +
                                     " Thread:" + currentThreadIdText();
        }
    } else {
        return TPackageConfigurationReader();
    }
    const QByteArray assetDocument =
        assetFile.isEmpty() ? QByteArray() : m_pLauncherFilesystemHelper->readFileIfPresent(assetFile);
    const QByteArray packageDocument = m_pLauncherFilesystemHelper->readFileIfPresent(marker);
    const QUrl baseUrl = QUrl::fromLocalFile(PackageDirectory.absolutePath());
    return TPackageConfigurationReader(packageDocument, assetDocument, baseUrl, baseUrl);
}

void TInstallationManager::markPackageAsPartiallyInstalled(const std::shared_ptr<TPackage>& Package,
                                                           const QByteArray& PackageDocument,
                                                           const QByteArray& AssetDocument) {
    qInfo().noquote() << "markPackageAsPartiallyInstalled: " + Package->name() + threadText();
    const QDir directory = packageDirectory(Package);
    const std::shared_ptr<const TLauncherSettings> settings = m_pLauncherFilesystemHelper->settings();
    const QString partialMarker = markerPath(directory, settings->partialPackageFile());
    // The installed pair of documents is kept: until the new version has arrived, it names the
    // files that may be present.
    moveFullMarkerToPartialMarker(directory);
    if (!m_pLauncherFilesystemHelper->fileExists(partialMarker) ||
        m_pLauncherFilesystemHelper->directoryExists(partialMarker)) {
        replaceAssetDocument(directory, AssetDocument);
        writeMarker(partialMarker, PackageDocument);
    }
    storeStatus(*Package, TPackage::StatusPartiallyInstalled);
}

void TInstallationManager::updatePartiallyInstalledPackage(const std::shared_ptr<TPackage>& Package,
                                                           const QByteArray& PackageDocument,
                                                           const QByteArray& AssetDocument) {
    qInfo().noquote() << "updatePartiallyInstalledPackage: " + Package->name() + threadText();
    const QDir directory = packageDirectory(Package);
    moveFullMarkerToPartialMarker(directory);
    m_pLauncherFilesystemHelper->createDirectory(directory.absolutePath());
    replaceAssetDocument(directory, AssetDocument);
    writeMarker(markerPath(directory, m_pLauncherFilesystemHelper->settings()->partialPackageFile()),
                PackageDocument);
    storeStatus(*Package, TPackage::StatusPartiallyInstalled);
}

void TInstallationManager::markPackageAsFullyInstalled(const std::shared_ptr<TPackage>& Package,
                                                       const QByteArray& PackageDocument,
                                                       const QByteArray& AssetDocument) {
    qInfo().noquote() << "markPackageAsFullyInstalled: " + Package->name() + threadText();
    const QDir directory = packageDirectory(Package);
    const std::shared_ptr<const TLauncherSettings> settings = m_pLauncherFilesystemHelper->settings();
    m_pLauncherFilesystemHelper->createDirectory(directory.absolutePath());
    // The full marker says the files are there: they must be on the disk before it is.
    m_pLauncherFilesystemHelper->syncFileSystem(directory.absolutePath());
    replaceAssetDocument(directory, AssetDocument);
    writeMarker(markerPath(directory, settings->packageFile()), PackageDocument);
    removeMarker(markerPath(directory, settings->partialPackageFile()));
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
    // Copies: the run may end, and leave the list, before this function does.
    const std::shared_ptr<TPackageInstallation> installation = run->Installation;
    const TPackageConfigurationReader target = run->Target;
    if (!installation->success()) {
        finishInstallation(installation);
        return;
    }
    bool verificationStarted = false;
    try {
        updatePartiallyInstalledPackage(PackageBeingInstalled, target.rawPackageDocument(),
                                        target.rawAssetDocument());
        const TPackageConfigurationReader local =
            readPackageConfigurationFromInstallationDirectory(installation->installationDirectory());
        qInfo().noquote() << "onDownloadFinished LocalConfiguration: " +
                                 QString::number(local.files().size()) + threadText();
        sendFunnelEvent(DownloadedStep, DownloadedFirstTimeKey);
        verificationStarted = true;
        installation->startVerification(local, false);
    } catch (const std::runtime_error& error) {
        if (verificationStarted) {
            emit diskAccessFailed(QString::fromUtf8(error.what()));
            return;
        }
        // A disk that refuses the marker ends the run, not the launcher: the partial marker in
        // place lets the next run pick up from here.
        installation->failRun(EPackageDownloaderError::SavingFailed, QString::fromUtf8(error.what()));
        finishInstallation(installation);
    }
}

void TInstallationManager::onVerificationFinished(std::shared_ptr<TPackage> PackageBeingInstalled) {
    qInfo().noquote() << "onVerificationFinished: " + PackageBeingInstalled->name() + threadText();
    const TInstallationInProgress* run = findInstallation(PackageBeingInstalled->name());
    if (run == nullptr) {
        return;
    }
    const std::shared_ptr<TPackageInstallation> installation = run->Installation;
    const TPackageConfigurationReader verified = run->Target;
    const bool userVerification = run->UserVerification;
    bool success = installation->success();
    qInfo().noquote() << "onVerificationFinished found package: " + PackageBeingInstalled->name() +
                             " without error: " + QString::number(success) + threadText();
    if (success) {
        try {
            markPackageAsFullyInstalled(PackageBeingInstalled, verified.rawPackageDocument(),
                                        verified.rawAssetDocument());
            // A verified older version is complete, but still not the one the configuration offers.
            const TPackageConfigurationReader* current = PackageBeingInstalled->configurationForThisSystem();
            if (userVerification && current != nullptr && versionLabel(*current) != versionLabel(verified)) {
                storeStatus(*PackageBeingInstalled, TPackage::StatusUpdateAvailable);
            }
            sendFunnelEvent(VerifiedStep, VerifiedFirstTimeKey);
        } catch (const std::runtime_error& error) {
            installation->failRun(EPackageDownloaderError::SavingFailed, QString::fromUtf8(error.what()));
            success = false;
        }
    }
    PackageBeingInstalled->markCheckedSinceStart();
    if (success) {
        try {
            if (m_pLauncherFilesystemHelper->accountGroupFileExists()) {
                m_pLauncherFilesystemHelper->copyAccountGroupFileTo(installation->installationDirectory());
            }
        } catch (const std::runtime_error& error) {
            emit diskAccessFailed(QString::fromUtf8(error.what()));
        }
    }
    finishInstallation(installation);
}

std::vector<TSiblingPackage>
TInstallationManager::siblingPackages(const std::shared_ptr<TPackage>& Package) const {
    std::vector<TSiblingPackage> siblings;
    const std::shared_ptr<const TLauncherSettings> settings = m_pLauncherFilesystemHelper->settings();
    if (!m_pConfiguration || !settings->seedFromInstalledPackages()) {
        return siblings;
    }
    const QString own = QDir::cleanPath(packageDirectory(Package).absolutePath());
    QStringList names;
    for (const std::shared_ptr<TPackage>& package : m_pConfiguration->packages()) {
        if (package == Package || package->isLauncherPackage() || isInstallationInProgress(package->name())) {
            continue;
        }
        const QDir directory = packageDirectory(package);
        const QString fullMarker = markerPath(directory, settings->packageFile());
        // Only a full marker says that the files are what its document describes.
        if (QDir::cleanPath(directory.absolutePath()) == own || !markerExists(fullMarker) ||
            m_pLauncherFilesystemHelper->directoryExists(fullMarker)) {
            continue;
        }
        siblings.push_back({package->name(), directory.absolutePath()});
        names.append(package->name());
    }
    if (!siblings.empty()) {
        qInfo().noquote() << "installOrUpdatePackage: " + Package->name() + " may read from installed " +
                                 names.join(QStringLiteral(", ")) + threadText();
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

void TInstallationManager::finishInstallation(const std::shared_ptr<TPackageInstallation>& Installation) {
    updateRunSizeEstimate(Installation->package());
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
    if (Package.localStatus() == Status) {
        return;
    }
    Package.setLocalStatus(Status);
    emit Package.localPackageStatusChanged();
}

QString TInstallationManager::markerPath(const QDir& PackageDirectory, const QString& FileName) const {
    // A name that resolves to the package directory itself or climbs out of it names no marker.
    return packageLocalPath(*m_pLauncherFilesystemHelper, PackageDirectory, FileName);
}

bool TInstallationManager::markerExists(const QString& Path) const {
    return !Path.isEmpty() && m_pLauncherFilesystemHelper->fileExists(Path);
}

void TInstallationManager::removeMarker(const QString& Path) const {
    if (!Path.isEmpty()) {
        removePackagePath(*m_pLauncherFilesystemHelper, Path);
    }
}

void TInstallationManager::writeMarker(const QString& Path, const QByteArray& Document) const {
    if (Path.isEmpty()) {
        throw std::runtime_error("Installation marker file names are missing in the launcher settings.");
    }
    if (m_pLauncherFilesystemHelper->directoryExists(Path)) {
        removeMarker(Path);
    }
    m_pLauncherFilesystemHelper->writeFile(Path, Document);
}

void TInstallationManager::moveFullMarkerToPartialMarker(const QDir& PackageDirectory) const {
    const std::shared_ptr<const TLauncherSettings> settings = m_pLauncherFilesystemHelper->settings();
    const QString fullMarker = markerPath(PackageDirectory, settings->packageFile());
    if (!markerExists(fullMarker)) {
        return;
    }
    const QString partialMarker = markerPath(PackageDirectory, settings->partialPackageFile());
    removeMarker(partialMarker);
    if (m_pLauncherFilesystemHelper->directoryExists(fullMarker)) {
        // A directory holds no document to keep.
        removeMarker(fullMarker);
        return;
    }
    // Written in full before the full marker goes: at every moment one of the two holds the
    // installed document.
    writeMarker(partialMarker, m_pLauncherFilesystemHelper->readFile(fullMarker));
    m_pLauncherFilesystemHelper->removeFile(fullMarker);
}

// A package marker is read together with the asset document beside it, and the asset document's
// chunk indices count on its own package document's chunk table. So an asset document is never
// replaced under a marker of another version: the markers go first, the new asset document (or
// none, for a version without one) is written, and the caller writes its marker last. Whenever the
// process ends on the way, a reader finds the old pair, no marker (nothing is known to be
// installed), or the new pair.
void TInstallationManager::replaceAssetDocument(const QDir& PackageDirectory,
                                                const QByteArray& AssetDocument) const {
    const std::shared_ptr<const TLauncherSettings> settings = m_pLauncherFilesystemHelper->settings();
    const QString assetFile = markerPath(PackageDirectory, settings->assetFile());
    const bool present = markerExists(assetFile);
    const bool isFile = present && !m_pLauncherFilesystemHelper->directoryExists(assetFile);
    if (isFile ? m_pLauncherFilesystemHelper->readFile(assetFile) == AssetDocument
               : (!present && AssetDocument.isEmpty())) {
        return;
    }
    removeMarker(markerPath(PackageDirectory, settings->packageFile()));
    removeMarker(markerPath(PackageDirectory, settings->partialPackageFile()));
    if (AssetDocument.isEmpty()) {
        removeMarker(assetFile);
    } else {
        writeMarker(assetFile, AssetDocument);
    }
}

} // namespace mirrel::launcher
