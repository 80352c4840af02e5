#pragma once

class QDir;
class QString;

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

// The local path of a file named by a package document: the helper's confining join of the
// installation directory and the document's relative name. A name that resolves to the
// installation directory itself or to anything outside it ("", ".", "..") names no file of the
// package and gives an empty text, so such an entry is never written, moved or deleted.
QString packageLocalPath(const shared::TFileSystemHelper& FileSystem, const QDir& InstallationDirectory,
                         const QString& LocalFile);

// Removes whatever stands at Path: a directory with everything below it, a file through the
// helper (which throws std::runtime_error when it cannot). A missing path is no error.
void removePackagePath(const shared::TFileSystemHelper& FileSystem, const QString& Path);

// As removePackagePath; but when the helper cannot delete the file and the launcher is replacing
// itself, the file (a running executable, say) is renamed to Path + ".old" instead, replacing an
// older backup of that name. Without self-update mode the helper's error propagates.
void removeOrMoveAsideForReplacement(const shared::TFileSystemHelper& FileSystem, const QString& Path,
                                     bool SelfUpdateMode);

// Where the new version of the file at Path is assembled while the launcher replaces itself:
// beside it, named Path + ".new". The file at Path is only read meanwhile; a running program cannot
// be written to, and a file that is never written stays complete until its successor is.
QString replacementPath(const QString& Path);

// Puts the complete file at replacementPath(Path) in Path's place in one step (a rename over it),
// so that Path never names a missing or half-written file; a program still running from the old
// file keeps it until it ends. Throws std::runtime_error when the rename fails.
void moveReplacementIntoPlace(const shared::TFileSystemHelper& FileSystem, const QString& Path);

} // namespace mirrel::launcher
