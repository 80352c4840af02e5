#include "launcher/install/freespacecheck.h"

#include "launcher/download/packagelocalpath.h"
#include "launcher/package/runsizeestimate.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QFileInfo>
#include <QSet>
#include <QtDebug>

#include <stdexcept>

namespace mirrel::launcher {

TFreeSpaceCheck::TFreeSpaceCheck(const QDir& InstallationDirectory,
                                 std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                                 bool SelfUpdateMode)
    : m_InstallationDirectory(InstallationDirectory)
    , m_pFileSystem(std::move(FileSystem))
    , m_SelfUpdateMode(SelfUpdateMode) {}

TFileSize TFreeSpaceCheck::bytesToAdd(const TFileInPackageVector& Target,
                                      const TFileInPackageVector& Installed) const {
    qint64 added = 0;
    QSet<QString> targetFiles;
    for (const TFileInPackage& file : Target) {
        targetFiles.insert(file.LocalFile);
        added += static_cast<qint64>(file.Size);
        if (!m_SelfUpdateMode) {
            added -= static_cast<qint64>(sizeAt(file.LocalFile));
        }
    }
    for (const TFileInPackage& file : Installed) {
        if (!targetFiles.contains(file.LocalFile)) {
            added -= static_cast<qint64>(sizeAt(file.LocalFile));
        }
    }
    return added > 0 ? static_cast<TFileSize>(added) : 0;
}

QString TFreeSpaceCheck::refusal(const TFileInPackageVector& Target,
                                 const TFileInPackageVector& Installed) const {
    const TFileSize needed = bytesToAdd(Target, Installed);
    if (needed == 0) {
        return {};
    }
    TFileSize free = 0;
    try {
        free = m_pFileSystem->availableBytes(m_InstallationDirectory.absolutePath());
    } catch (const std::runtime_error& error) {
        // A disk that cannot tell its free space is not taken for a full one: a full disk still
        // stops the run at its first refused write.
        qWarning().noquote() << "free space unknown: " + QString::fromUtf8(error.what());
        return {};
    }
    return needed > free ? refusalText(needed, free) : QString();
}

QString TFreeSpaceCheck::refusalText(TFileSize Needed, TFileSize Free) {
    return QStringLiteral("Not enough free space on the disk: %1 needed, %2 free.")
        .arg(byteSizeText(Needed, ERounding::Up), byteSizeText(Free, ERounding::Down));
}

TFileSize TFreeSpaceCheck::sizeAt(const QString& LocalFile) const {
    const QString path = packageLocalPath(*m_pFileSystem, m_InstallationDirectory, LocalFile);
    if (path.isEmpty()) {
        return 0;
    }
    // A link is replaced by a plain file: what it points at is not freed.
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() ? static_cast<TFileSize>(info.size()) : 0;
}

} // namespace mirrel::launcher
