#include "launcher/install/installationmarkers.h"

#include "launcher/download/packagelocalpath.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/package/versionlabel.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/launcherfilesystemhelper.h"

#include <QUrl>
#include <QtDebug>

#include <stdexcept>

namespace mirrel::launcher {

namespace {

QString pointerText(const void* Pointer) {
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(Pointer), 16);
}

// An asset version "1" marks a build whose installations are always offered an update.
bool assetVersionForcesUpdate(const TPackageConfigurationReader& Configuration) {
    const QString assetVersion =
        Configuration.assetVersion().isEmpty() ? QStringLiteral("?") : Configuration.assetVersion();
    return assetVersion == QLatin1String("1");
}

} // namespace

TInstallationMarkers::TInstallationMarkers(std::shared_ptr<TLauncherFilesystemHelper> FileSystem)
    : m_pFileSystem(std::move(FileSystem)) {}

TPackageConfigurationReader TInstallationMarkers::read(const QDir& Directory, bool Log) const {
    const std::shared_ptr<const TLauncherSettings> settings = m_pFileSystem->settings();
    const QString fullMarker = path(Directory, settings->packageFile());
    const QString partialMarker = path(Directory, settings->partialPackageFile());
    const QString assetFile = path(Directory, settings->assetFile());
    if (Log) {
        qInfo().noquote()
            << "readPackageConfigurationFromInstallationDirectory m_pLauncherFilesystemHelper: " +
                   pointerText(m_pFileSystem.get()) + " launcherSettings: " + pointerText(settings.get()) +
                   " installedPackageMarker: " + settings->packageFile() +
                   " partiallyInstalledPackageMarker: " + settings->partialPackageFile() +
                   " Thread: " + currentThreadIdText();
    }
    const bool full = exists(fullMarker);
    if (!full && !exists(partialMarker)) {
        return TPackageConfigurationReader();
    }
    const QString marker = full ? fullMarker : partialMarker;
    if (Log) {
        qInfo().noquote() << (full ? "FullInstallationMarker " : "PartialInstallationMarker ") + marker +
                                 " " + assetFile + " Thread:" + currentThreadIdText();
    }
    const QByteArray assetDocument =
        assetFile.isEmpty() ? QByteArray() : m_pFileSystem->readFileIfPresent(assetFile);
    const QByteArray packageDocument = m_pFileSystem->readFileIfPresent(marker);
    const QUrl baseUrl = QUrl::fromLocalFile(Directory.absolutePath());
    return TPackageConfigurationReader(packageDocument, assetDocument, baseUrl, baseUrl);
}

std::int32_t TInstallationMarkers::status(const QDir& Directory, const TPackageConfigurationReader& Target,
                                          const TPackageConfigurationReader* Installed) const {
    const std::shared_ptr<const TLauncherSettings> settings = m_pFileSystem->settings();
    if (exists(path(Directory, settings->packageFile()))) {
        // read() prefers the full marker: what it returned is the full marker's pair.
        const QString installed = versionLabel(Installed != nullptr ? *Installed : read(Directory, false));
        if (installed != versionLabel(Target) || assetVersionForcesUpdate(Target)) {
            return TPackage::StatusUpdateAvailable;
        }
        return TPackage::StatusUpToDate;
    }
    return exists(path(Directory, settings->partialPackageFile())) ? TPackage::StatusPartiallyInstalled
                                                                   : TPackage::StatusNotInstalled;
}

bool TInstallationMarkers::isCompletelyInstalled(const QDir& Directory) const {
    const QString fullMarker = path(Directory, m_pFileSystem->settings()->packageFile());
    return exists(fullMarker) && !m_pFileSystem->directoryExists(fullMarker);
}

void TInstallationMarkers::markPartiallyInstalled(const QDir& Directory, const QByteArray& PackageDocument,
                                                  const QByteArray& AssetDocument) const {
    const QString partialMarker = path(Directory, m_pFileSystem->settings()->partialPackageFile());
    // The installed pair of documents is kept: until the new version has arrived, it names the
    // files that may be present.
    moveFullMarkerToPartialMarker(Directory);
    if (!m_pFileSystem->fileExists(partialMarker) || m_pFileSystem->directoryExists(partialMarker)) {
        replaceAssetDocument(Directory, AssetDocument);
        write(partialMarker, PackageDocument);
    }
}

void TInstallationMarkers::updatePartiallyInstalled(const QDir& Directory, const QByteArray& PackageDocument,
                                                    const QByteArray& AssetDocument) const {
    moveFullMarkerToPartialMarker(Directory);
    m_pFileSystem->createDirectory(Directory.absolutePath());
    replaceAssetDocument(Directory, AssetDocument);
    write(path(Directory, m_pFileSystem->settings()->partialPackageFile()), PackageDocument);
}

void TInstallationMarkers::markFullyInstalled(const QDir& Directory, const QByteArray& PackageDocument,
                                              const QByteArray& AssetDocument) const {
    const std::shared_ptr<const TLauncherSettings> settings = m_pFileSystem->settings();
    m_pFileSystem->createDirectory(Directory.absolutePath());
    // The full marker says the files are there: they must be on the disk before it is.
    m_pFileSystem->syncFileSystem(Directory.absolutePath());
    replaceAssetDocument(Directory, AssetDocument);
    write(path(Directory, settings->packageFile()), PackageDocument);
    remove(path(Directory, settings->partialPackageFile()));
}

QString TInstallationMarkers::path(const QDir& Directory, const QString& FileName) const {
    // A name that resolves to the package directory itself or climbs out of it names no marker.
    return packageLocalPath(*m_pFileSystem, Directory, FileName);
}

bool TInstallationMarkers::exists(const QString& Path) const {
    return !Path.isEmpty() && m_pFileSystem->fileExists(Path);
}

void TInstallationMarkers::remove(const QString& Path) const {
    if (!Path.isEmpty()) {
        removePackagePath(*m_pFileSystem, Path);
    }
}

void TInstallationMarkers::write(const QString& Path, const QByteArray& Document) const {
    if (Path.isEmpty()) {
        throw std::runtime_error("Installation marker file names are missing in the launcher settings.");
    }
    if (m_pFileSystem->directoryExists(Path)) {
        remove(Path);
    }
    m_pFileSystem->writeFile(Path, Document);
}

void TInstallationMarkers::moveFullMarkerToPartialMarker(const QDir& Directory) const {
    const std::shared_ptr<const TLauncherSettings> settings = m_pFileSystem->settings();
    const QString fullMarker = path(Directory, settings->packageFile());
    if (!exists(fullMarker)) {
        return;
    }
    const QString partialMarker = path(Directory, settings->partialPackageFile());
    remove(partialMarker);
    if (m_pFileSystem->directoryExists(fullMarker)) {
        // A directory holds no document to keep.
        remove(fullMarker);
        return;
    }
    // Written in full before the full marker goes: at every moment one of the two holds the
    // installed document.
    write(partialMarker, m_pFileSystem->readFile(fullMarker));
    m_pFileSystem->removeFile(fullMarker);
}

// A package marker is read together with the asset document beside it, and the asset document's
// chunk indices count on its own package document's chunk table. So an asset document is never
// replaced under a marker of another version: the markers go first, the new asset document (or
// none, for a version without one) is written, and the caller writes its marker last. Whenever the
// process ends on the way, a reader finds the old pair, no marker (nothing is known to be
// installed), or the new pair.
void TInstallationMarkers::replaceAssetDocument(const QDir& Directory,
                                                const QByteArray& AssetDocument) const {
    const std::shared_ptr<const TLauncherSettings> settings = m_pFileSystem->settings();
    const QString assetFile = path(Directory, settings->assetFile());
    const bool present = exists(assetFile);
    const bool isFile = present && !m_pFileSystem->directoryExists(assetFile);
    if (isFile ? m_pFileSystem->readFile(assetFile) == AssetDocument
               : (!present && AssetDocument.isEmpty())) {
        return;
    }
    remove(path(Directory, settings->packageFile()));
    remove(path(Directory, settings->partialPackageFile()));
    if (AssetDocument.isEmpty()) {
        remove(assetFile);
    } else {
        write(assetFile, AssetDocument);
    }
}

} // namespace mirrel::launcher
