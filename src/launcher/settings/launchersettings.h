#pragma once

#include <QString>
#include <QUrl>

namespace mirrel::launcher {

// The launcher's local settings, read once from an INI file (a path on disk or a
// Qt resource path) and read-only afterwards, so any thread may read them.
class TLauncherSettings {
public:
    static constexpr int DefaultTransferStallTimeout = 30000;
    static constexpr int DefaultRetryPause = 1000;

    explicit TLauncherSettings(const QString& iniPath);

    const QString& sourcePath() const { return m_SourcePath; }

    const QUrl& launcherConfigurationUrl() const { return m_LauncherConfigurationUrl; }
    const QUrl& cdnDiagnosticsTraceUrl() const { return m_CdnDiagnosticsTraceUrl; }
    bool appendNocacheToPackageUrls() const { return m_AppendNocacheToPackageUrls; }
    const QString& packagesDirectory() const { return m_PackagesDirectory; }
    const QString& settingsTarget() const { return m_SettingsTarget; }
    const QString& packageFile() const { return m_PackageFile; }
    const QString& partialPackageFile() const { return m_PartialPackageFile; }
    const QString& assetFile() const { return m_AssetFile; }
    const QString& accountGroupFile() const { return m_AccountGroupFile; }
    qint64 waitNotificationTimeout() const { return m_WaitNotificationTimeout; }
    qint64 downloadErrorTimeout() const { return m_DownloadErrorTimeout; }
    qint64 clientStartTimeout() const { return m_ClientStartTimeout; }
    // How long a transfer may go without receiving a byte before it counts as failed; never 0,
    // so no request waits forever.
    int transferStallTimeout() const { return m_TransferStallTimeout; }
    // The pause before the first new attempt of a failed chunk; it doubles with every further one.
    int retryPause() const { return m_RetryPause; }
    bool fastScan() const { return m_FastScan; }
    // Whether chunks that another fully installed package already holds are read from its files
    // instead of being downloaded.
    bool seedFromInstalledPackages() const { return m_SeedFromInstalledPackages; }
    bool skipVerification() const { return m_SkipVerification; }
    bool chunkVerification() const { return m_ChunkVerification; }
    // Read and logged so that existing settings files stay valid; chunks are written at their
    // offsets as they arrive, so none wait in a cache that it would bound.
    int maxCachedChunks() const { return m_MaxCachedChunks; }
    int maxConcurrentDownloads() const { return m_MaxConcurrentDownloads; }
    // Base64 of the Ed25519 public key that signs the configuration and the package documents;
    // empty when the studio does not sign them.
    const QString& publicKey() const { return m_PublicKey; }
    // Whether funnel events and the hardware survey are sent (and a device identifier is kept).
    bool telemetry() const { return m_Telemetry; }
    // Kibibytes per second for all downloads together; 0 means no limit.
    int downloadRateLimit() const { return m_DownloadRateLimit; }

    // One line with every key and its value, for the start-up log.
    QString describe() const;

private:
    QString m_SourcePath;
    QUrl m_LauncherConfigurationUrl;
    QUrl m_CdnDiagnosticsTraceUrl;
    bool m_AppendNocacheToPackageUrls = false;
    QString m_PackagesDirectory;
    QString m_SettingsTarget;
    QString m_PackageFile;
    QString m_PartialPackageFile;
    QString m_AssetFile;
    QString m_AccountGroupFile;
    qint64 m_WaitNotificationTimeout = 0;
    qint64 m_DownloadErrorTimeout = 0;
    qint64 m_ClientStartTimeout = 0;
    int m_TransferStallTimeout = DefaultTransferStallTimeout;
    int m_RetryPause = DefaultRetryPause;
    bool m_FastScan = true;
    bool m_SeedFromInstalledPackages = true;
    bool m_SkipVerification = true;
    bool m_ChunkVerification = false;
    int m_MaxCachedChunks = 100;
    int m_MaxConcurrentDownloads = 10;
    QString m_PublicKey;
    bool m_Telemetry = true;
    int m_DownloadRateLimit = 0;
};

} // namespace mirrel::launcher
