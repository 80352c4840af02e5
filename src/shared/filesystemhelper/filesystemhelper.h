#pragma once

#include "shared/filesystemhelper/localfileinfo.h"

#include <QByteArray>
#include <QDir>
#include <QJsonDocument>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QFileDevice;
class QImage;
class QSettings;

namespace shared {

class TReadOnlyMemoryBlob;

// Every file and directory operation of the launcher goes through here. The
// class keeps no state, so one instance may be used from any thread at once,
// and a caller (a test, say) can hand in a subclass that overrides an
// operation. Failures are std::runtime_error with fixed texts.
class TFileSystemHelper {
public:
    TFileSystemHelper() = default;
    virtual ~TFileSystemHelper();
    TFileSystemHelper(const TFileSystemHelper&) = delete;
    TFileSystemHelper& operator=(const TFileSystemHelper&) = delete;

    // A file named "*.lzma", or a missing path whose "<path>.lzma" exists, is
    // opened as a compressed blob; anything else as a plain one.
    virtual std::shared_ptr<TReadOnlyMemoryBlob> openMemoryBlob(const QString& path) const;
    virtual QByteArray readFile(const QString& path) const;
    // Like readFile, but a file that cannot be opened reads as empty.
    virtual QByteArray readFileIfPresent(const QString& path) const;
    // Replaces the file as a whole: readers see the old or the new contents,
    // never a half-written file. Missing parent directories are created. The
    // contents and the directory entry are on the disk when this returns.
    virtual void writeFile(const QString& path, const QByteArray& data) const;
    virtual void writeTextFile(const QString& path, const QString& text) const;
    virtual void appendTextFile(const QString& path, const QString& text) const;
    // Throws "Failed to delete file <path>: <the system's reason>".
    virtual bool removeFile(const QString& path) const;
    virtual void copyFile(const QString& source, const QString& target) const;
    // Makes target a new file with source's content, sharing source's blocks where the file system
    // allows (source is only read, and stays as it was whatever is later written to target). The
    // data is on the disk when this returns. Throws std::runtime_error with the system's reason.
    virtual void copyFileContent(const QString& source, const QString& target) const;
    // Makes target a second name of source's file (a hard link), replacing a
    // file of that name; where the file system has no hard links, a copy. Throws
    // std::runtime_error on failure.
    virtual void linkFile(const QString& source, const QString& target) const;
    // Throws "Failed to create folder: '<path>'. <the system's reason>".
    virtual QDir createDirectory(const QString& path) const;
    // Renames a file or a directory (without copying); a file of the target's name is replaced in
    // one step, so at every moment the target names either the old or the new file. Both must lie
    // on one file system. Throws with the system's reason.
    virtual void renamePath(const QString& source, const QString& target) const;
    // Removes an empty directory; false when it is not empty or cannot be removed.
    virtual bool removeDirectoryIfEmpty(const QString& path) const;
    // Gives owner, group and others the right to execute the file, or takes it from them all;
    // throws with the system's reason when the permissions cannot be changed.
    virtual void setExecutable(const QString& path, bool executable) const;
    // Joins a path taken from a package document to the base directory so
    // that the result never lies outside that directory.
    virtual QString pathInside(const QDir& base, const QString& relative) const;
    virtual void forEachFile(const QString& directory,
                             const std::function<void(const TLocalFileInfo&)>& visit) const;
    // The plain files (not hidden, not recursive) of a directory, unsorted.
    virtual std::vector<TLocalFileInfo> listFiles(const QString& directory) const;
    virtual bool fileExists(const QString& path) const;
    virtual bool directoryExists(const QString& path) const;
    virtual QString joinPath(const std::vector<QString>& parts) const;
    virtual QDir subdirectory(const QDir& parent, const QString& name) const;
    virtual std::shared_ptr<QSettings> openSettings(const QString& path) const;
    // A missing or empty file gives a null document and no error; a file that
    // is not valid JSON gives an empty document, sets error and logs a warning.
    virtual QJsonDocument readJsonFileAsQJsonDocument(const QString& path, bool& error) const;
    virtual std::shared_ptr<QImage> readImage(const QString& path, const char* format = nullptr) const;
    virtual void writeImage(const QImage& image, const QString& path, const char* format = nullptr) const;

    // Writes into a file the caller keeps open. Each throws shared::TDiskError with the system's
    // reason ("No space left on device") when the disk does not take everything.
    // Writes data at offset in one positioned write (the file's own offset is left where the
    // device expects it) and hands it to the system, so that a full disk shows here.
    virtual void writeAt(QFileDevice& file, qint64 offset, const QByteArray& data) const;
    // Reserves the disk space for a file of size bytes that is about to be written, without
    // changing its size; a full disk shows here. A file system that cannot reserve ahead is fine.
    virtual void reserveSpace(QFileDevice& file, qint64 size) const;
    // Cuts (or extends) the file to size bytes.
    virtual void resizeFile(QFileDevice& file, qint64 size) const;
    // The file's data is on the disk when this returns.
    virtual void syncFile(QFileDevice& file) const;
    // Everything written to the file system that holds path is on the disk when this returns.
    virtual void syncFileSystem(const QString& path) const;
    // The bytes that may still be written to the file system that holds path (or would hold it,
    // for a path not created yet). Throws shared::TDiskError when the system cannot tell.
    virtual quint64 availableBytes(const QString& path) const;
};

} // namespace shared
