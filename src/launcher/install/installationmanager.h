#pragma once

#include "launcher/download/siblingchunkindex.h"
#include "launcher/install/installationmarkers.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/runsizeestimate.h"

#include <QByteArray>
#include <QDir>
#include <QObject>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace shared {
class TRateLimiter;
}

namespace mirrel::launcher {

class TLauncherConfigurationReader;
class TLauncherFilesystemHelper;
class TPackage;
class TPackageInstallation;

// The local state of every package: where it is installed, which installation markers its
// directory holds, its local status, which package is the default one, and which installations,
// updates and verifications are running. Markers record every run's progress on disk, so an
// interrupted update is recognised at the next start. The launcher's self-update uses a manager
// of its own without a launcher configuration. All operations and slots run on the GUI thread;
// marker operations throw std::runtime_error from the file-system helper. During a run, reading,
// writing and flushing the markers happens on the thread pool, so that a large package document
// never holds up the window; the GUI thread only keeps the state and tells the receivers.
class TInstallationManager : public QObject {
    Q_OBJECT

public:
    // Receives the funnel milestones of finished downloads and verifications.
    using TFunnelEventSink = std::function<void(const QString& Step, const QString& FirstTimeKey)>;

    // Without a configuration (the self-updater's manager) no package status is determined here.
    TInstallationManager(std::shared_ptr<TLauncherConfigurationReader> Configuration,
                         std::shared_ptr<TLauncherFilesystemHelper> FileSystem, QObject* parent = nullptr);
    ~TInstallationManager() override;

    // Installs or updates the package to the configuration of its build for this system. Ignored
    // while the package has a run in progress or no such configuration is known. The run is in
    // progress from this call on; installationOrUpdateStarted follows once its markers are read
    // and written on the pool, and a disk that refuses them ends the run as a saving failure.
    void installOrUpdatePackage(const std::shared_ptr<TPackage>& Package);
    // Checks the installed files against the installed package's own description. The package
    // counts as partially installed until the check has passed. Without an installed description
    // the run ends without a signal.
    void verifyPackage(const std::shared_ptr<TPackage>& Package);

    // Asks every run in progress to stop its workers; their partial markers stay for the next start.
    // The runs report no end: this is for a launcher that is going away.
    void stopAllRuns();

    // The package's local status (TPackage::Status*) as the disk shows it; nothing is stored.
    std::int32_t determinePackageStatus(const std::shared_ptr<TPackage>& Package) const;
    // Stores every client package's status and marks the first installed package with a "default"
    // marker as the default package.
    void refreshPackageStatuses();
    void setDefaultPackage(const std::shared_ptr<TPackage>& Package);
    void clearDefaultPackage();

    QDir packageDirectory(const std::shared_ptr<TPackage>& Package) const;
    // The client's start file for this system, or an empty text when none is known.
    QString executablePath(const std::shared_ptr<TPackage>& Package) const;
    // The first client package whose start file is this path; null if none.
    std::shared_ptr<TPackage> findPackageByExecutable(const QString& Path) const;
    // The installed package's documents; an invalid reader when the directory holds no marker.
    TPackageConfigurationReader
    readPackageConfigurationFromInstallationDirectory(const QDir& PackageDirectory) const;

    void markPackageAsPartiallyInstalled(const std::shared_ptr<TPackage>& Package,
                                         const QByteArray& PackageDocument, const QByteArray& AssetDocument);
    void updatePartiallyInstalledPackage(const std::shared_ptr<TPackage>& Package,
                                         const QByteArray& PackageDocument, const QByteArray& AssetDocument);
    void markPackageAsFullyInstalled(const std::shared_ptr<TPackage>& Package,
                                     const QByteArray& PackageDocument, const QByteArray& AssetDocument);

    // Set by the self-updater before it installs the launcher's own package; handed to every run.
    bool selfUpdateMode() const { return m_SelfUpdateMode; }
    void setSelfUpdateMode(bool SelfUpdateMode) { m_SelfUpdateMode = SelfUpdateMode; }

    // Every run's downloads read through this limiter.
    void setRateLimiter(std::shared_ptr<::shared::TRateLimiter> pLimiter) {
        m_pRateLimiter = std::move(pLimiter);
    }
    // Holds or continues the download of the package's run in progress. A paused update is
    // remembered in the user's settings, so that the next start offers to resume it.
    void setUpdatePaused(const std::shared_ptr<TPackage>& Package, bool Paused);

    // The application object's funnel events unless replaced.
    void setFunnelEventSink(TFunnelEventSink Sink);

    const std::shared_ptr<TLauncherConfigurationReader>& configuration() const { return m_pConfiguration; }
    std::vector<std::shared_ptr<TPackageInstallation>> installationsInProgress() const;
    bool isInstallationInProgress(const QString& PackageName) const;

signals:
    void installationOrUpdateStarted(const mirrel::launcher::TPackageInstallation& InstallationInProgress);
    void installationOrUpdateFinished(const mirrel::launcher::TPackageInstallation& InstallationInProgress);
    void allStartedUpdatesFinished();
    void installationPausedChanged(const mirrel::launcher::TPackageInstallation& InstallationInProgress);
    void diskAccessFailed(QString ErrorMessage);

private slots:
    void onDiskAccessFailed(QString ErrorMessage);
    void onDownloadFinished(std::shared_ptr<mirrel::launcher::TPackage> PackageBeingInstalled);
    void onVerificationFinished(std::shared_ptr<mirrel::launcher::TPackage> PackageBeingInstalled);

private:
    // One run from its start to its end, with the package description it installs or verifies;
    // that description is what the markers record when the run succeeds. A verification learns
    // it from the disk once its start has read the markers. Offered is the package's configuration
    // for this system when the run began, for the row's figures at its end.
    struct TInstallationInProgress {
        std::shared_ptr<TPackageInstallation> Installation;
        std::shared_ptr<const TPackageConfigurationReader> Offered;
        std::shared_ptr<const TPackageConfigurationReader> Target;
        bool UserVerification = false;
    };
    // What the pool read and wrote for a step of a run: the installed documents, whether the
    // partial marker was written, and why the run cannot go on (no room, a refusing disk, a stop).
    struct TMarkerStep {
        std::shared_ptr<const TPackageConfigurationReader> Installed;
        bool Marked = false;
        bool FastScan = false;
        std::int32_t Status = -1; // the status the disk shows after a failed step; -1: unknown
        QString ErrorText;
        QString AccountGroupError;
        std::vector<TSiblingPackage> Siblings;

        // Keeps the disk's words, and the status the disk shows after the failure.
        void fail(const std::exception& Error, const TInstallationMarkers& Markers, const QDir& Directory,
                  const TPackageConfigurationReader& Offered);
    };

    // The run is in progress from here on; its start goes on on the pool.
    std::shared_ptr<TPackageInstallation>
    beginRun(const std::shared_ptr<TPackage>& Package,
             const std::shared_ptr<const TPackageConfigurationReader>& Offered, bool UserVerification);
    TInstallationInProgress* findRun(const std::shared_ptr<TPackageInstallation>& Installation);
    // A run whose start could not be made: it is reported as started and ended as a saving failure.
    void failStart(const std::shared_ptr<TPackageInstallation>& Installation, const QString& ErrorText);
    // Work on the pool for the installation's run; Done gets its result on the GUI thread, unless
    // the run or the manager is gone by then.
    template <typename TWork, typename TDone>
    void onPool(const std::shared_ptr<TPackageInstallation>& Installation, TWork Work, TDone Done);
    void onInstallStarted(const std::shared_ptr<TPackageInstallation>& Installation, const TMarkerStep& Step);
    void onVerificationStarted(const std::shared_ptr<TPackageInstallation>& Installation,
                               const TMarkerStep& Step);
    void onPartialMarkerUpdated(const std::shared_ptr<TPackageInstallation>& Installation,
                                const TMarkerStep& Step);
    void onFullMarkerWritten(const std::shared_ptr<TPackageInstallation>& Installation,
                             const TMarkerStep& Step);
    void computeRequiredChanges(const std::shared_ptr<TPackageInstallation>& Installation,
                                const std::shared_ptr<const TPackageConfigurationReader>& Target,
                                const std::shared_ptr<const TPackageConfigurationReader>& Installed,
                                bool FastScan);
    // The other client packages that are not being changed, whose files the run for Package may
    // read instead of downloading if they are completely installed; none when the setting is off.
    std::vector<TSiblingPackage> siblingCandidates(const std::shared_ptr<TPackage>& Package) const;
    TInstallationInProgress* findInstallation(const QString& PackageName);
    // Learns the row's figures on the pool, then tells that the run has ended.
    void finishInstallation(const std::shared_ptr<TPackageInstallation>& Installation);
    void endRun(const std::shared_ptr<TPackageInstallation>& Installation, const TRunSizeEstimate& Estimate);
    void sendFunnelEvent(const QString& Step, const QString& FirstTimeKey) const;

    // A negative status (unknown) is not stored.
    void storeStatus(TPackage& Package, std::int32_t Status) const;
    // What the row offers the player to fetch, from the documents and the disk's free space.
    static TRunSizeEstimate runSizeEstimate(const TPackageConfigurationReader& Target,
                                            const TPackageConfigurationReader& Installed,
                                            const QDir& Directory,
                                            const TLauncherFilesystemHelper& FileSystem);
    static QString pausedUpdateKey(const TPackage& Package);
    static void rememberPausedUpdate(TPackage& Package, bool Paused);

    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    TInstallationMarkers m_Markers;
    std::vector<TInstallationInProgress> m_InstallationsInProgress;
    bool m_SelfUpdateMode = false;
    TFunnelEventSink m_FunnelEventSink;
    std::shared_ptr<::shared::TRateLimiter> m_pRateLimiter;
};

} // namespace mirrel::launcher
