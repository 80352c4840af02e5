#pragma once

#include "launcher/package/fileinpackage.h"

#include <QDir>
#include <QString>

#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

// Whether the disk can take what a run will add, asked before the run writes or deletes anything.
// The run adds the target's files, less what the package's folder holds at their places now (those
// bytes are reused or replaced) and the installed files it deletes. Only the files' sizes are
// looked at; nothing is read.
class TFreeSpaceCheck {
public:
    // While the launcher replaces itself every old file stays until its successor is complete, so
    // nothing at the target's places counts as freed.
    TFreeSpaceCheck(const QDir& InstallationDirectory,
                    std::shared_ptr<const shared::TFileSystemHelper> FileSystem, bool SelfUpdateMode);

    TFileSize bytesToAdd(const TFileInPackageVector& Target, const TFileInPackageVector& Installed) const;
    // Empty when the run fits (or the system cannot tell the free space); otherwise the text that
    // refuses the run, naming both figures.
    QString refusal(const TFileInPackageVector& Target, const TFileInPackageVector& Installed) const;

    static QString refusalText(TFileSize Needed, TFileSize Free);

private:
    TFileSize sizeAt(const QString& LocalFile) const;

    QDir m_InstallationDirectory;
    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    bool m_SelfUpdateMode = false;
};

} // namespace mirrel::launcher
