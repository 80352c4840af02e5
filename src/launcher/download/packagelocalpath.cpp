#include "launcher/download/packagelocalpath.h"

#include "launcher/settings/launcherconstants.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QtDebug>

#include <stdexcept>

namespace mirrel::launcher {

QString packageLocalPath(const shared::TFileSystemHelper& FileSystem, const QDir& InstallationDirectory,
                         const QString& LocalFile) {
    const QString root = QDir::cleanPath(InstallationDirectory.absolutePath());
    const QString path = QDir::cleanPath(FileSystem.pathInside(InstallationDirectory, LocalFile));
    const QString rootPrefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (path.length() <= rootPrefix.length() || !path.startsWith(rootPrefix)) {
        return {};
    }
    return path;
}

void removePackagePath(const shared::TFileSystemHelper& FileSystem, const QString& Path) {
    const QFileInfo info(Path);
    if (info.isDir() && !info.isSymLink()) {
        if (!QDir(Path).removeRecursively()) {
            qWarning().noquote() << "could not remove the directory " + Path;
        }
        return;
    }
    if (info.exists() || info.isSymLink()) {
        FileSystem.removeFile(Path);
    }
}

void removeOrMoveAsideForReplacement(const shared::TFileSystemHelper& FileSystem, const QString& Path,
                                     bool SelfUpdateMode) {
    try {
        removePackagePath(FileSystem, Path);
    } catch (const std::runtime_error& error) {
        if (!SelfUpdateMode) {
            throw;
        }
        const QFileInfo info(Path);
        if (!info.exists() && !info.isSymLink()) {
            return;
        }
        const QString backup = Path + BackupSuffix;
        qWarning().noquote() << "cannot delete " + Path + " (" + QString::fromUtf8(error.what()) +
                                    "), moving it to " + backup;
        removePackagePath(FileSystem, backup);
        try {
            FileSystem.renamePath(Path, backup);
        } catch (const std::runtime_error& renameError) {
            // The deletion is what failed first; the rename was only the way around it.
            qWarning().noquote() << QString::fromUtf8(renameError.what());
            throw std::runtime_error(error.what());
        }
    }
}

QString replacementPath(const QString& Path) {
    return Path + ReplacementSuffix;
}

void moveReplacementIntoPlace(const shared::TFileSystemHelper& FileSystem, const QString& Path) {
    const QFileInfo info(Path);
    if (info.isDir() && !info.isSymLink()) {
        removePackagePath(FileSystem, Path);
    }
    FileSystem.renamePath(replacementPath(Path), Path);
}

} // namespace mirrel::launcher
