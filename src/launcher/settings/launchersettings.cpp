#include "launcher/settings/launchersettings.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>

namespace mirrel::launcher {

namespace {

QString boolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

TLauncherSettings::TLauncherSettings(const QString& iniPath)
    : m_SourcePath(iniPath) {
    QSettings settings(iniPath, QSettings::IniFormat);

    settings.beginGroup(QStringLiteral("URLS"));
    m_LauncherConfigurationUrl = settings.value(QStringLiteral("launcherConfiguration"), QUrl()).toUrl();
    m_CdnDiagnosticsTraceUrl = settings.value(QStringLiteral("cdnDiagnosticsTrace"), QUrl()).toUrl();
    m_AppendNocacheToPackageUrls =
        settings.value(QStringLiteral("appendNocacheToPackageUrls"), false).toBool();
    settings.endGroup();

    settings.beginGroup(QStringLiteral("DIRECTORIES"));
    m_PackagesDirectory = settings.value(QStringLiteral("packages"), QString()).toString();
    m_SettingsTarget = settings.value(QStringLiteral("settingsTarget"), QString()).toString();
    settings.endGroup();

    settings.beginGroup(QStringLiteral("FILES"));
    m_PackageFile = settings.value(QStringLiteral("packageFile"), QString()).toString();
    m_PartialPackageFile = settings.value(QStringLiteral("partialPackageFile"), QString()).toString();
    m_AssetFile = settings.value(QStringLiteral("assetFile"), QString()).toString();
    m_AccountGroupFile = settings.value(QStringLiteral("accountGroupFile"), QString()).toString();
    settings.endGroup();

    settings.beginGroup(QStringLiteral("TIMING"));
    m_WaitNotificationTimeout = settings.value(QStringLiteral("waitNotificationTimeout"), 0).toInt();
    m_DownloadErrorTimeout = settings.value(QStringLiteral("downloadErrorTimeout"), 0).toInt();
    m_ClientStartTimeout = settings.value(QStringLiteral("clientStartTimeout"), 0).toInt();
    settings.endGroup();

    settings.beginGroup(QStringLiteral("OPTIONS"));
    m_FastScan = settings.value(QStringLiteral("fastScan"), true).toBool();
    m_SeedFromInstalledPackages = settings.value(QStringLiteral("seedFromInstalledPackages"), true).toBool();
    m_SkipVerification = settings.value(QStringLiteral("skipVerification"), true).toBool();
    m_MaxCachedChunks = settings.value(QStringLiteral("maxCachedChunks"), 100).toInt();
    m_MaxConcurrentDownloads = settings.value(QStringLiteral("maxConcurrentDownloads"), 10).toInt();
    const int stallTimeout =
        settings.value(QStringLiteral("transferStallTimeout"), DefaultTransferStallTimeout).toInt();
    m_TransferStallTimeout = stallTimeout > 0 ? stallTimeout : DefaultTransferStallTimeout;
    m_RetryPause = std::max(settings.value(QStringLiteral("retryPause"), DefaultRetryPause).toInt(), 0);
    m_Telemetry = settings.value(QStringLiteral("telemetry"), true).toBool();
    m_DownloadRateLimit = std::max(settings.value(QStringLiteral("downloadRateLimit"), 0).toInt(), 0);
    settings.endGroup();

    settings.beginGroup(QStringLiteral("DEBUG"));
    m_ChunkVerification = settings.value(QStringLiteral("chunkVerification"), false).toBool();
    settings.endGroup();

    settings.beginGroup(QStringLiteral("SECURITY"));
    m_PublicKey = settings.value(QStringLiteral("publicKey"), QString()).toString().trimmed();
    settings.endGroup();
}

QString TLauncherSettings::describe() const {
    const QStringList entries{
        QStringLiteral("launcherConfiguration=") + m_LauncherConfigurationUrl.toString(),
        QStringLiteral("cdnDiagnosticsTrace=") + m_CdnDiagnosticsTraceUrl.toString(),
        QStringLiteral("appendNocacheToPackageUrls=") + boolText(m_AppendNocacheToPackageUrls),
        QStringLiteral("packages=") + m_PackagesDirectory,
        QStringLiteral("settingsTarget=") + m_SettingsTarget,
        QStringLiteral("packageFile=") + m_PackageFile,
        QStringLiteral("partialPackageFile=") + m_PartialPackageFile,
        QStringLiteral("assetFile=") + m_AssetFile,
        QStringLiteral("accountGroupFile=") + m_AccountGroupFile,
        QStringLiteral("waitNotificationTimeout=") + QString::number(m_WaitNotificationTimeout),
        QStringLiteral("downloadErrorTimeout=") + QString::number(m_DownloadErrorTimeout),
        QStringLiteral("clientStartTimeout=") + QString::number(m_ClientStartTimeout),
        QStringLiteral("transferStallTimeout=") + QString::number(m_TransferStallTimeout),
        QStringLiteral("retryPause=") + QString::number(m_RetryPause),
        QStringLiteral("fastScan=") + boolText(m_FastScan),
        QStringLiteral("seedFromInstalledPackages=") + boolText(m_SeedFromInstalledPackages),
        QStringLiteral("skipVerification=") + boolText(m_SkipVerification),
        QStringLiteral("chunkVerification=") + boolText(m_ChunkVerification),
        QStringLiteral("maxCachedChunks=") + QString::number(m_MaxCachedChunks),
        QStringLiteral("maxConcurrentDownloads=") + QString::number(m_MaxConcurrentDownloads),
        QStringLiteral("publicKey=") + m_PublicKey,
        QStringLiteral("telemetry=") + boolText(m_Telemetry),
        QStringLiteral("downloadRateLimit=") + QString::number(m_DownloadRateLimit),
    };
    return entries.join(QStringLiteral(", "));
}

} // namespace mirrel::launcher
