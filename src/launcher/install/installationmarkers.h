#pragma once

#include "launcher/package/packageconfigurationreader.h"

#include <QByteArray>
#include <QDir>
#include <QString>

#include <cstdint>
#include <memory>

namespace mirrel::launcher {

class TLauncherFilesystemHelper;

// The installation markers in one package directory: the package document of the installed
// (full marker) or partly installed (partial marker) version and the asset document beside it.
// Holds nothing but the file-system helper, so copies of it work on pool threads while the
// manager that made them goes away. Every write goes through the helper (atomic, flushed) and
// throws std::runtime_error with the system's words when the disk refuses it.
class TInstallationMarkers {
public:
    explicit TInstallationMarkers(std::shared_ptr<TLauncherFilesystemHelper> FileSystem);

    // The installed documents; an invalid reader when the directory holds no marker.
    TPackageConfigurationReader read(const QDir& Directory, bool Log) const;
    // The local status (TPackage::Status*) of the directory for a package offered as Target.
    // Installed, when given, is what read() returned for the directory just before.
    std::int32_t status(const QDir& Directory, const TPackageConfigurationReader& Target,
                        const TPackageConfigurationReader* Installed = nullptr) const;
    // A full marker that is a file: the files are what its document describes.
    bool isCompletelyInstalled(const QDir& Directory) const;

    // Before a run changes any file: the partial marker names the target, and the installed pair
    // stays as the partial marker when there is one.
    void markPartiallyInstalled(const QDir& Directory, const QByteArray& PackageDocument,
                                const QByteArray& AssetDocument) const;
    // After the download: the partial marker names what is now on the disk.
    void updatePartiallyInstalled(const QDir& Directory, const QByteArray& PackageDocument,
                                  const QByteArray& AssetDocument) const;
    // After a good verification: the files reach the disk, then the full marker replaces the
    // partial one.
    void markFullyInstalled(const QDir& Directory, const QByteArray& PackageDocument,
                            const QByteArray& AssetDocument) const;

    QString path(const QDir& Directory, const QString& FileName) const;
    bool exists(const QString& Path) const;
    void remove(const QString& Path) const;
    void write(const QString& Path, const QByteArray& Document) const;

private:
    void moveFullMarkerToPartialMarker(const QDir& Directory) const;
    // The asset document and the package marker beside it form one pair; see the definition.
    void replaceAssetDocument(const QDir& Directory, const QByteArray& AssetDocument) const;

    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
};

} // namespace mirrel::launcher
