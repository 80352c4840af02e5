#include "launcher/install/packageinstallation.h"

#include "launcher/download/chunkcache.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/download/packagelocalpath.h"
#include "launcher/download/stoprequest.h"
#include "launcher/install/differencescan.h"
#include "launcher/install/packageshapechange.h"
#include "launcher/install/packageverifier.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include <QDate>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QtConcurrent>
#include <QtDebug>

#include <algorithm>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

bool containsLocalFile(const TFileInPackageVector& SortedFiles, const QString& LocalFile) {
    const auto found = std::lower_bound(
        SortedFiles.begin(), SortedFiles.end(), LocalFile,
        [](const TFileInPackage& Entry, const QString& Name) { return Entry.LocalFile < Name; });
    return found != SortedFiles.end() && found->LocalFile == LocalFile;
}

// Whether deleting Path would take a file of the new version with it: Path is one of the target
// files' paths, or a directory above one of them. Old documents may name a file differently from
// the new one and still mean the same place.
bool holdsTargetFile(const std::vector<QString>& SortedTargetPaths, const QString& Path) {
    const auto found = std::lower_bound(SortedTargetPaths.begin(), SortedTargetPaths.end(), Path);
    if (found != SortedTargetPaths.end() && *found == Path) {
        return true;
    }
    const QString directory = Path + QLatin1Char('/');
    const auto below = std::lower_bound(SortedTargetPaths.begin(), SortedTargetPaths.end(), directory);
    return below != SortedTargetPaths.end() && below->startsWith(directory);
}

TFileInPackageVector findObsoleteFiles(const TFileInPackageVector& InstalledFiles,
                                       const TFileInPackageVector& TargetFiles,
                                       const QDir& InstallationDirectory,
                                       const shared::TFileSystemHelper& FileSystem) {
    std::vector<QString> targetPaths;
    targetPaths.reserve(TargetFiles.size());
    for (const TFileInPackage& entry : TargetFiles) {
        const QString path = packageLocalPath(FileSystem, InstallationDirectory, entry.LocalFile);
        if (!path.isEmpty()) {
            targetPaths.push_back(path);
        }
    }
    std::sort(targetPaths.begin(), targetPaths.end());
    TFileInPackageVector obsolete;
    for (const TFileInPackage& entry : InstalledFiles) {
        if (containsLocalFile(TargetFiles, entry.LocalFile)) {
            continue;
        }
        const QString path = packageLocalPath(FileSystem, InstallationDirectory, entry.LocalFile);
        // The new version's folder: the file that stood there is cleared away with the change of
        // the package's shape.
        if (path.isEmpty() || holdsTargetFile(targetPaths, path)) {
            continue;
        }
        obsolete.push_back(entry);
    }
    return obsolete;
}

} // namespace

TPackageInstallation::TPackageInstallation(std::shared_ptr<TPackage> Package,
                                           std::shared_ptr<TLauncherFilesystemHelper> FileSystem)
    : m_pPackage(std::move(Package))
    , m_pNetworkAccessManager(std::make_shared<QNetworkAccessManager>())
    , m_pLauncherFilesystemHelper(std::move(FileSystem))
    , m_pStop(std::make_shared<TStopRequest>()) {
    qRegisterMetaType<TFileSize>("TFileSize");
    qRegisterMetaType<TFileSize>("mirrel::launcher::TFileSize");
    qRegisterMetaType<TPackageDifference>();
    qRegisterMetaType<EPackageDownloaderError>();
    m_pDownloadPool = std::make_shared<shared::TDownloadPool>(
        m_pLauncherFilesystemHelper->settings()->maxConcurrentDownloads(),
        std::make_shared<shared::QNetworkAccessManagerWrapper>(m_pNetworkAccessManager), nullptr, false);
    m_pDownloadPool->setTransferStallTimeout(m_pLauncherFilesystemHelper->settings()->transferStallTimeout());
    m_pPackageFileDownloader = new TPackageFileDownloader(m_pDownloadPool, m_pLauncherFilesystemHelper);
    m_pPackageFileDownloader->setStopRequest(m_pStop);
    connect(m_pPackageFileDownloader, &TPackageFileDownloader::downloadCompleted, this,
            &TPackageInstallation::onDownloadCompleted);
    connect(m_pPackageFileDownloader, &TPackageFileDownloader::downloadFailed, this,
            &TPackageInstallation::onDownloadFailed);
}

void TPackageInstallation::setRateLimiter(std::shared_ptr<shared::TRateLimiter> pLimiter) {
    m_pDownloadPool->setRateLimiter(std::move(pLimiter), false);
}

void TPackageInstallation::pause() {
    m_pPackageFileDownloader->pause();
}

void TPackageInstallation::resume() {
    m_pPackageFileDownloader->resume();
}

bool TPackageInstallation::isPaused() const {
    return m_pPackageFileDownloader->isPaused();
}

TPackageInstallation::~TPackageInstallation() {
    // A verification still running reports its progress through this object.
    const QList<QFutureWatcherBase*> verifications = findChildren<QFutureWatcherBase*>();
    for (QFutureWatcherBase* verification : verifications) {
        verification->waitForFinished();
    }
    m_pPackageFileDownloader->deleteLater();
}

TPackageDifference TPackageInstallation::computeRequiredChanges(
    QDir InstallationDirectory, std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
    TPackageConfigurationReader TargetConfiguration, TPackageConfigurationReader InstalledConfiguration,
    bool FastScan) {
    TPackageDifference difference;
    // Early chunks an older launcher parked in a run that never ended are of no use to this one.
    TChunkCache::removeLeftovers(*FileSystem, InstallationDirectory.filePath(StagingDirectoryName));
    try {
        TPackageShapeChange(InstallationDirectory, FileSystem, m_SelfUpdateMode, QDate::currentDate())
            .makeRoom(TargetConfiguration.files(), InstalledConfiguration.files());
    } catch (const std::runtime_error& error) {
        difference.ErrorText = QString::fromUtf8(error.what());
        qCritical().noquote() << "changing the shape of " + InstallationDirectory.absolutePath() +
                                     " failed: " + difference.ErrorText;
        return difference;
    }
    difference.FilesToDelete = findObsoleteFiles(InstalledConfiguration.files(), TargetConfiguration.files(),
                                                 InstallationDirectory, *FileSystem);
    const TFileInPackageVector noFiles;
    const TChunkInPackageVector noChunks;
    difference.FilesToDownload = FindFilesInPackageBasedOnHashAndSizeThatNeedUpdate(
        TargetConfiguration.files(), TargetConfiguration.chunks(),
        FastScan ? InstalledConfiguration.files() : noFiles,
        FastScan ? InstalledConfiguration.chunks() : noChunks, FastScan, InstallationDirectory, FileSystem,
        &difference.ErrorText);
    if (!difference.ErrorText.isEmpty()) {
        difference.FilesToDownload.clear();
        difference.FilesToDelete.clear();
        return difference;
    }
    m_pPackageFileDownloader->prepareBuffers(difference.FilesToDownload);
    if (!m_SiblingPackages.empty() && !difference.FilesToDownload.empty()) {
        // The siblings only save downloads: one whose markers cannot be read costs nothing but that.
        try {
            difference.SiblingIndex = std::make_shared<const TSiblingChunkIndex>(
                TSiblingChunkIndex::build(*FileSystem, m_SiblingPackages, difference.FilesToDownload));
        } catch (const std::exception& error) {
            qWarning().noquote() << QStringLiteral("installed packages are not read: ") + error.what();
        }
    }
    return difference;
}

TFileToDownloadVector TPackageInstallation::FindFilesInPackageBasedOnHashAndSizeThatNeedUpdate(
    const TFileInPackageVector& TargetFiles, const TChunkInPackageVector& TargetChunks,
    const TFileInPackageVector& InstalledFiles, const TChunkInPackageVector& InstalledChunks, bool FastScan,
    const QDir& InstallationDirectory, std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
    QString* ErrorText) {
    const TFileInPackageVector noFiles;
    const TChunkInPackageVector noChunks;
    TDifferenceScan scan(InstallationDirectory, std::move(FileSystem),
                         [this](TFileSize Scanned, TFileSize Total) { emit scanProgress(Scanned, Total); });
    scan.setSelfUpdateMode(m_SelfUpdateMode);
    scan.setStopRequest(m_pStop);
    TFileToDownloadVector files = scan.run(TargetFiles, TargetChunks, FastScan ? InstalledFiles : noFiles,
                                           FastScan ? InstalledChunks : noChunks);
    if (ErrorText != nullptr) {
        *ErrorText = scan.errorText();
    }
    return files;
}

void TPackageInstallation::stop() {
    qInfo().noquote() << "stopping the run of " + m_pPackage->name() + " Thread: " + currentThreadIdText();
    m_pStop->request();
}

void TPackageInstallation::startVerification(const TPackageConfigurationReader& Configuration, bool Force) {
    if (!Force && m_pLauncherFilesystemHelper->settings()->skipVerification()) {
        onVerifyFinished(true);
        return;
    }
    auto* watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        onVerifyFinished(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(),
                          [this, directory = m_InstallationDirectory,
                           fileSystem = m_pLauncherFilesystemHelper, files = Configuration.files()] {
                              // The flush before the full marker follows on the pool, with the marker.
                              return VerifyPackage(directory, fileSystem, files);
                          }));
}

bool TPackageInstallation::VerifyPackage(QDir InstallationDirectory,
                                         std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
                                         TFileInPackageVector Files) {
    try {
        TPackageVerifier verifier(
            InstallationDirectory, std::move(FileSystem),
            [this](TFileSize Verified, TFileSize Total) { emit verificationProgress(Verified, Total); });
        verifier.setStopRequest(m_pStop);
        return verifier.run(Files);
    } catch (const std::exception& error) {
        qWarning().noquote() << QStringLiteral("verification of files crashed. exception: ") + error.what();
    } catch (...) {
        qWarning().noquote() << "verification of files crashed ";
    }
    return false;
}

void TPackageInstallation::onDownloadCompleted() {
    qInfo().noquote() << "onDownloadCompleted " + m_pPackage->name() + " Thread: " + currentThreadIdText();
    m_Success = true;
    m_ErrorReason = EPackageDownloaderError::NoError;
    m_ErrorText.clear();
    emit downloadFinished(m_pPackage);
}

void TPackageInstallation::onDownloadFailed(EPackageDownloaderError ErrorReason) {
    if (m_ErrorText.isEmpty()) {
        m_ErrorText = m_pPackageFileDownloader->errorText();
    }
    qInfo().noquote() << "onDownloadFailed " + m_pPackage->name() + " " +
                             QString::number(static_cast<int>(ErrorReason)) +
                             (m_ErrorText.isEmpty() ? QString() : QStringLiteral(" ") + m_ErrorText) +
                             " Thread: " + currentThreadIdText();
    m_Success = false;
    m_ErrorReason = ErrorReason;
    emit downloadFinished(m_pPackage);
}

void TPackageInstallation::onRequiredChangesComputedForInstallation(TPackageDifference Changes) {
    qInfo().noquote() << "onRequiredChangesComputedForInstallation files to download: " +
                             QString::number(Changes.FilesToDownload.size()) +
                             " files to delete: " + QString::number(Changes.FilesToDelete.size()) +
                             " Thread: " + currentThreadIdText();
    m_FilesToDelete = std::move(Changes.FilesToDelete);
    m_FilesToDownload = std::move(Changes.FilesToDownload);
    m_pSiblingIndex = std::move(Changes.SiblingIndex);
    m_ErrorText = Changes.ErrorText;
    if (!m_ErrorText.isEmpty()) {
        // Nothing is fetched into a directory that could not take the new version's shape; the
        // next run starts over from what is there.
        onDownloadFailed(EPackageDownloaderError::SavingFailed);
        return;
    }
    try {
        startDownload();
    } catch (const std::runtime_error& error) {
        emit diskAccessFailed(QString::fromUtf8(error.what()));
    }
}

void TPackageInstallation::failRun(EPackageDownloaderError Reason, const QString& Text) {
    qCritical().noquote() << "installation of " + m_pPackage->name() + " failed: " + Text +
                                 " Thread: " + currentThreadIdText();
    m_Success = false;
    m_ErrorReason = Reason;
    m_ErrorText = Text;
}

void TPackageInstallation::onVerifyFinished(bool Result) {
    qInfo().noquote() << "onVerifyFinished with " + QString::number(Result) +
                             " Thread: " + currentThreadIdText();
    m_Success = Result;
    m_ErrorReason = Result ? EPackageDownloaderError::NoError : EPackageDownloaderError::VerificationFailed;
    emit verificationFinished(m_pPackage);
}

void TPackageInstallation::startDownload() {
    qInfo().noquote() << "startDownload: " + m_pPackage->name() + " Thread: " + currentThreadIdText();
    if (m_FilesToDelete.empty()) {
        startFetching();
        return;
    }
    // Deleting thousands of files takes its time: the pool does it, the window stays responsive.
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        try {
            startFetching();
        } catch (const std::runtime_error& error) {
            emit diskAccessFailed(QString::fromUtf8(error.what()));
        }
    });
    watcher->setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(),
                          [directory = m_InstallationDirectory, fileSystem = m_pLauncherFilesystemHelper,
                           selfUpdateMode = m_SelfUpdateMode, files = m_FilesToDelete] {
                              TPackageShapeChange(directory, fileSystem, selfUpdateMode, QDate::currentDate())
                                  .deleteObsoleteFiles(files);
                          }));
}

void TPackageInstallation::startFetching() {
    if (m_FilesToDownload.empty()) {
        onDownloadCompleted();
        return;
    }
    m_pDownloadPool->setMirrors(m_pPackage->mirrors());
    m_pPackageFileDownloader->setTargetDirectory(m_InstallationDirectory);
    m_pPackageFileDownloader->setSelfUpdateMode(m_SelfUpdateMode);
    m_pPackageFileDownloader->setSiblingIndex(m_pSiblingIndex);
    m_pPackageFileDownloader->setFilesToDownload(m_FilesToDownload);
    m_pPackageFileDownloader->startDownloads();
}

void TPackageInstallation::stopSeedingFrom(const QString& Directory) {
    m_pPackageFileDownloader->stopSeedingFrom(Directory);
}

} // namespace mirrel::launcher
