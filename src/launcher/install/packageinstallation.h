#pragma once

#include "launcher/download/packagedownloadererror.h"
#include "launcher/download/siblingchunkindex.h"
#include "launcher/install/packagedifference.h"
#include "launcher/package/fileinpackage.h"
#include "launcher/package/filetodownload.h"
#include "launcher/package/packagetypes.h"

#include <QDir>
#include <QObject>
#include <QString>

#include <memory>

class QNetworkAccessManager;

namespace shared {
class TDownloadPool;
class TRateLimiter;
} // namespace shared

namespace mirrel::launcher {

class TInstallationManager;
class TLauncherFilesystemHelper;
class TPackage;
class TPackageConfigurationReader;
class TPackageFileDownloader;
class TStopRequest;

// One run of installing, updating or verifying a package: works out what the installation
// directory lacks (rebuilding partly matching files in place on the way), deletes what no longer
// belongs to the package, has the rest downloaded, and verifies the result on request. The heavy
// work runs on the global thread pool; this object and its signals live on the GUI thread.
class TPackageInstallation : public QObject {
    Q_OBJECT

public:
    TPackageInstallation(std::shared_ptr<TPackage> Package,
                         std::shared_ptr<TLauncherFilesystemHelper> FileSystem);
    ~TPackageInstallation() override;

    std::shared_ptr<TPackage> package() const { return m_pPackage; }
    TPackageFileDownloader* packageFileDownloader() const { return m_pPackageFileDownloader; }
    // The downloads of this run read through the launcher's shared limiter.
    void setRateLimiter(std::shared_ptr<shared::TRateLimiter> pLimiter);
    // Holds or continues the download of this run (see TPackageFileDownloader::pause).
    void pause();
    void resume();
    bool isPaused() const;

    // The outcome of the last download or verification.
    bool success() const { return m_Success; }
    EPackageDownloaderError errorReason() const { return m_ErrorReason; }
    // What went wrong in the last failed run, in the system's words ("No space left on device");
    // empty when the run succeeded or failed without such a text.
    const QString& errorText() const { return m_ErrorText; }

    bool selfUpdateMode() const { return m_SelfUpdateMode; }
    void setSelfUpdateMode(bool SelfUpdateMode) { m_SelfUpdateMode = SelfUpdateMode; }
    const QString& installedVersionLabel() const { return m_InstalledVersionLabel; }
    void setInstalledVersionLabel(const QString& Label) { m_InstalledVersionLabel = Label; }
    const QString& targetVersionLabel() const { return m_TargetVersionLabel; }
    void setTargetVersionLabel(const QString& Label) { m_TargetVersionLabel = Label; }
    const QDir& installationDirectory() const { return m_InstallationDirectory; }
    void setInstallationDirectory(const QDir& Directory) { m_InstallationDirectory = Directory; }

    // Completely installed packages whose files may hold what this run needs; set before the run.
    void setSiblingPackages(std::vector<TSiblingPackage> Siblings) {
        m_SiblingPackages = std::move(Siblings);
    }
    const std::vector<TSiblingPackage>& siblingPackages() const { return m_SiblingPackages; }
    // Another run now changes the package in Directory: this run reads nothing more from it.
    void stopSeedingFrom(const QString& Directory);

    const TFileInPackageVector& filesToDelete() const { return m_FilesToDelete; }
    const TFileToDownloadVector& filesToDownload() const { return m_FilesToDownload; }

    // Runs on a pool thread (QtConcurrent::run); its result goes to
    // onRequiredChangesComputedForInstallation on the GUI thread. Reusable chunks are moved into
    // place on the way. Without fast scan the installed configuration is not consulted.
    TPackageDifference computeRequiredChanges(QDir InstallationDirectory,
                                              std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
                                              TPackageConfigurationReader TargetConfiguration,
                                              TPackageConfigurationReader InstalledConfiguration,
                                              bool FastScan);

    TFileToDownloadVector FindFilesInPackageBasedOnHashAndSizeThatNeedUpdate(
        const TFileInPackageVector& TargetFiles, const TChunkInPackageVector& TargetChunks,
        const TFileInPackageVector& InstalledFiles, const TChunkInPackageVector& InstalledChunks,
        bool FastScan, const QDir& InstallationDirectory,
        std::shared_ptr<TLauncherFilesystemHelper> FileSystem, QString* ErrorText = nullptr);

    // Asks every worker of the run (scan, download stages, verification) to stop at its next block.
    // Whatever was written stays, and the partial marker lets the next run pick up from there.
    void stop();
    // The flag stop() raises; steps of the run that work on the pool check it.
    const std::shared_ptr<TStopRequest>& stopRequest() const { return m_pStop; }

    // Checks the files of Configuration. Unless Force is set, the setting SkipVerification
    // reports success at once without reading anything.
    void startVerification(const TPackageConfigurationReader& Configuration, bool Force);

    // Runs on a pool thread: true when every file exists with its hash. Never throws.
    bool VerifyPackage(QDir InstallationDirectory, std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
                       TFileInPackageVector Files);

signals:
    void scanProgress(mirrel::launcher::TFileSize BytesDownloaded, mirrel::launcher::TFileSize BytesTotal);
    void writeProgress(mirrel::launcher::TFileSize BytesDownloaded, mirrel::launcher::TFileSize BytesTotal);
    void verificationProgress(mirrel::launcher::TFileSize BytesDownloaded,
                              mirrel::launcher::TFileSize BytesTotal);
    void downloadFinished(std::shared_ptr<mirrel::launcher::TPackage> PackageBeingInstalled);
    void verificationFinished(std::shared_ptr<mirrel::launcher::TPackage> PackageBeingInstalled);
    void diskAccessFailed(QString Message);

private slots:
    void onDownloadCompleted();
    void onDownloadFailed(mirrel::launcher::EPackageDownloaderError ErrorReason);
    void onRequiredChangesComputedForInstallation(mirrel::launcher::TPackageDifference Changes);
    void onVerifyFinished(bool Result);

private:
    // The installation manager drives the run and hands the difference back to the slot above.
    friend class TInstallationManager;

    void startDownload();
    // The downloader's part of startDownload, once the obsolete files are gone.
    void startFetching();
    // Ends the run as failed (a marker that could not be written, say), keeping Text as its error.
    void failRun(EPackageDownloaderError Reason, const QString& Text);

    std::shared_ptr<TPackage> m_pPackage;
    std::shared_ptr<QNetworkAccessManager> m_pNetworkAccessManager;
    std::shared_ptr<shared::TDownloadPool> m_pDownloadPool;
    TPackageFileDownloader* m_pPackageFileDownloader = nullptr;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    std::shared_ptr<TStopRequest> m_pStop;
    bool m_Success = false;
    EPackageDownloaderError m_ErrorReason = EPackageDownloaderError::NoError;
    QString m_ErrorText;
    bool m_SelfUpdateMode = false;
    QString m_InstalledVersionLabel;
    QString m_TargetVersionLabel;
    QDir m_InstallationDirectory;
    TFileInPackageVector m_FilesToDelete;
    TFileToDownloadVector m_FilesToDownload;
    std::vector<TSiblingPackage> m_SiblingPackages;
    std::shared_ptr<const TSiblingChunkIndex> m_pSiblingIndex;
};

} // namespace mirrel::launcher
