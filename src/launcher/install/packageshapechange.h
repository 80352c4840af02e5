#pragma once

#include "launcher/package/fileinpackage.h"

#include <QDate>
#include <QDir>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

// Gives an installation directory the shape of the version about to be installed, and takes away
// what the installed version no longer needs. A file (or a link) that stands where the new version
// needs a folder goes before anything is written below that folder; a folder that stands where it
// needs a file is emptied of the files the documents list and removed before the file is written.
// Nothing that no document lists is ever deleted: such a file in the way is moved aside, inside
// the package directory, under the name "<name>.moved-<date of the run>". Nothing is deleted or
// written through a link.
class TPackageShapeChange {
public:
    TPackageShapeChange(const QDir& InstallationDirectory,
                        std::shared_ptr<const shared::TFileSystemHelper> FileSystem, bool SelfUpdateMode,
                        const QDate& RunDate);

    // Clears the way for the target's files before they are checked or written. Throws
    // std::runtime_error with the system's reason when something in the way can be neither removed
    // nor moved aside; what was done until then stays done, and a later run picks up from there.
    void makeRoom(const TFileInPackageVector& TargetFiles, const TFileInPackageVector& InstalledFiles) const;

    // Deletes the files that the installed version listed and the target does not, and the folders
    // this leaves empty, up to the package directory. A file that cannot be deleted is logged and
    // left in place: it costs some disk space, never the update.
    void deleteObsoleteFiles(const TFileInPackageVector& ObsoleteFiles) const;

private:
    QStringList localPaths(const TFileInPackageVector& Files) const;
    void clearFileInTheWay(const QString& Path, const QSet<QString>& Listed) const;
    void clearFolderInTheWay(const QString& Path, const QSet<QString>& Listed) const;
    void deleteObsoleteFile(const QString& Path) const;
    void removeEmptyFoldersBelow(const QString& Path) const;
    void removeEmptyParentFolders(const QString& Path) const;
    void moveAside(const QString& Path) const;
    // Whether a folder between the package directory and Path is a link (or missing).
    bool reachedThroughLink(const QString& Path) const;

    QDir m_InstallationDirectory;
    QString m_Root;
    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    bool m_SelfUpdateMode = false;
    QDate m_RunDate;
};

} // namespace mirrel::launcher
