#include "launcher/install/packageshapechange.h"

#include "launcher/download/packagelocalpath.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QtDebug>

#include <algorithm>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

// A path that names something, be it a file, a folder or a link (a dangling one included).
bool standsThere(const QFileInfo& Info) {
    return Info.exists() || Info.isSymLink();
}

bool isRealFolder(const QFileInfo& Info) {
    return Info.isDir() && !Info.isSymLink();
}

} // namespace

TPackageShapeChange::TPackageShapeChange(const QDir& InstallationDirectory,
                                         std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                                         bool SelfUpdateMode, const QDate& RunDate)
    : m_InstallationDirectory(InstallationDirectory)
    , m_Root(QDir::cleanPath(InstallationDirectory.absolutePath()))
    , m_pFileSystem(std::move(FileSystem))
    , m_SelfUpdateMode(SelfUpdateMode)
    , m_RunDate(RunDate) {}

void TPackageShapeChange::makeRoom(const TFileInPackageVector& TargetFiles,
                                   const TFileInPackageVector& InstalledFiles) const {
    const QStringList targets = localPaths(TargetFiles);
    QSet<QString> listed(targets.begin(), targets.end());
    for (const QString& installed : localPaths(InstalledFiles)) {
        listed.insert(installed);
    }
    // The folders on the way to each file, from the top: below the first thing in the way nothing
    // can exist yet. Most files share their folders, which are looked at once.
    QSet<QString> realFolders;
    for (const QString& target : targets) {
        for (int slash = target.indexOf(QLatin1Char('/'), m_Root.size() + 1); slash > 0;
             slash = target.indexOf(QLatin1Char('/'), slash + 1)) {
            const QString folder = target.left(slash);
            if (realFolders.contains(folder)) {
                continue;
            }
            const QFileInfo info(folder);
            if (isRealFolder(info)) {
                realFolders.insert(folder);
                continue;
            }
            if (standsThere(info)) {
                clearFileInTheWay(folder, listed);
            }
            break;
        }
    }
    for (const QString& target : targets) {
        const QFileInfo info(target);
        if (info.isSymLink()) {
            // The file is written in the link's place, never through it.
            qInfo().noquote() << "removing the link " + target + ": the package has a file there";
            m_pFileSystem->removeFile(target);
        } else if (info.isDir()) {
            clearFolderInTheWay(target, listed);
        }
    }
}

void TPackageShapeChange::deleteObsoleteFiles(const TFileInPackageVector& ObsoleteFiles) const {
    for (const QString& path : localPaths(ObsoleteFiles)) {
        if (reachedThroughLink(path)) {
            qWarning().noquote() << "obsolete file " + path + " lies behind a link and is left alone";
            continue;
        }
        try {
            deleteObsoleteFile(path);
        } catch (const std::runtime_error& error) {
            qWarning().noquote() << "obsolete file " + path +
                                        " is left in place: " + QString::fromUtf8(error.what());
            continue;
        }
        removeEmptyParentFolders(path);
    }
}

QStringList TPackageShapeChange::localPaths(const TFileInPackageVector& Files) const {
    QStringList paths;
    for (const TFileInPackage& file : Files) {
        const QString path = packageLocalPath(*m_pFileSystem, m_InstallationDirectory, file.LocalFile);
        if (!path.isEmpty()) {
            paths << path;
        }
    }
    return paths;
}

void TPackageShapeChange::clearFileInTheWay(const QString& Path, const QSet<QString>& Listed) const {
    if (!Listed.contains(Path) && !QFileInfo(Path).isSymLink()) {
        moveAside(Path);
        return;
    }
    qInfo().noquote() << "removing " + Path + ": the new version has a folder there";
    removeOrMoveAsideForReplacement(*m_pFileSystem, Path, m_SelfUpdateMode);
}

void TPackageShapeChange::clearFolderInTheWay(const QString& Path, const QSet<QString>& Listed) const {
    const QString prefix = Path + QLatin1Char('/');
    for (const QString& file : Listed) {
        if (!file.startsWith(prefix) || reachedThroughLink(file)) {
            continue;
        }
        const QFileInfo info(file);
        if (standsThere(info) && !isRealFolder(info)) {
            m_pFileSystem->removeFile(file);
        }
    }
    removeEmptyFoldersBelow(Path);
    if (m_pFileSystem->removeDirectoryIfEmpty(Path)) {
        qInfo().noquote() << "removed the folder " + Path + ": the new version has a file there";
        return;
    }
    moveAside(Path);
}

void TPackageShapeChange::deleteObsoleteFile(const QString& Path) const {
    const QFileInfo info(Path);
    if (isRealFolder(info)) {
        // The installed version listed a file here; whatever fills the folder now is nobody's to
        // delete.
        if (!m_pFileSystem->removeDirectoryIfEmpty(Path)) {
            qWarning().noquote() << "obsolete file " + Path + " is a folder that is not empty; kept";
        }
        return;
    }
    if (standsThere(info)) {
        removeOrMoveAsideForReplacement(*m_pFileSystem, Path, m_SelfUpdateMode);
    }
}

void TPackageShapeChange::removeEmptyFoldersBelow(const QString& Path) const {
    QStringList folders;
    QDirIterator it(Path, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        folders << it.next();
    }
    // The deepest first, so that a folder is empty by the time its parent is tried.
    std::sort(folders.begin(), folders.end(),
              [](const QString& A, const QString& B) { return A.size() > B.size(); });
    for (const QString& folder : folders) {
        m_pFileSystem->removeDirectoryIfEmpty(folder);
    }
}

void TPackageShapeChange::removeEmptyParentFolders(const QString& Path) const {
    const QString rootPrefix = m_Root.endsWith(QLatin1Char('/')) ? m_Root : m_Root + QLatin1Char('/');
    for (QString folder = QFileInfo(Path).path(); folder.startsWith(rootPrefix);
         folder = QFileInfo(folder).path()) {
        if (!m_pFileSystem->removeDirectoryIfEmpty(folder)) {
            return;
        }
    }
}

void TPackageShapeChange::moveAside(const QString& Path) const {
    const QString base = Path + QStringLiteral(".moved-") + m_RunDate.toString(Qt::ISODate);
    QString aside = base;
    for (int attempt = 2; standsThere(QFileInfo(aside)); ++attempt) {
        aside = base + QLatin1Char('-') + QString::number(attempt);
    }
    m_pFileSystem->renamePath(Path, aside);
    qWarning().noquote() << Path + " holds files that no document of the package lists; moved to " + aside;
}

bool TPackageShapeChange::reachedThroughLink(const QString& Path) const {
    for (int slash = Path.indexOf(QLatin1Char('/'), m_Root.size() + 1); slash > 0;
         slash = Path.indexOf(QLatin1Char('/'), slash + 1)) {
        if (QFileInfo(Path.left(slash)).isSymLink()) {
            return true;
        }
    }
    return false;
}

} // namespace mirrel::launcher
