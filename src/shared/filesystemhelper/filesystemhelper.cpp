#include "shared/filesystemhelper/filesystemhelper.h"

#include "shared/container/lzmacompressedreadonlymemoryblob.h"
#include "shared/container/readonlymemoryblob.h"
#include "shared/filesystemhelper/diskerror.h"
#include "shared/filesystemhelper/ioerror.h"
#include "platform/diskspace.h"
#include "platform/filecopy.h"
#include "platform/filesync.h"
#include "platform/filewrite.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QJsonParseError>
#include <QSaveFile>
#include <QSettings>
#include <QTextStream>
#include <QtDebug>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace shared {

namespace {

const QString LzmaSuffix = QStringLiteral(".lzma");

QByteArray readWholeFile(const QString& path, bool missingIsEmpty) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (missingIsEmpty && file.error() == QFileDevice::OpenError)
            return QByteArray();
        throw ioError(file.fileName(), file.errorString());
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ioError(file.fileName(), file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw ioError(file.fileName(), file.errorString());
    return data;
}

void writeText(const QString& path, const QString& text, QIODevice::OpenMode mode) {
    QFile file(path);
    if (!file.open(mode | QIODevice::WriteOnly | QIODevice::Text))
        return;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    stream << text;
}

// The root itself, or anything below it; "/g/pkg2" is not below "/g/pkg".
// Both paths are clean, so a ".." can only be left at the start of the part
// below the root, where it climbs above the path's start ("/../x" under "/").
bool isInside(const QString& candidate, const QString& root) {
    if (candidate == root)
        return true;
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (!candidate.startsWith(prefix))
        return false;
    const QString below = candidate.mid(prefix.size());
    return below != QLatin1String("..") && !below.startsWith(QLatin1String("../"));
}

} // namespace

TFileSystemHelper::~TFileSystemHelper() = default;

std::shared_ptr<TReadOnlyMemoryBlob> TFileSystemHelper::openMemoryBlob(const QString& path) const {
    if (fileExists(path)) {
        if (path.endsWith(LzmaSuffix))
            return std::make_shared<TLZMACompressedReadOnlyMemoryBlob>(path);
        return std::make_shared<TReadOnlyMemoryBlob>(path);
    }
    const QString compressedPath = path + LzmaSuffix;
    if (fileExists(compressedPath))
        return std::make_shared<TLZMACompressedReadOnlyMemoryBlob>(compressedPath);
    return std::make_shared<TReadOnlyMemoryBlob>(path);
}

QByteArray TFileSystemHelper::readFile(const QString& path) const {
    return readWholeFile(path, false);
}

QByteArray TFileSystemHelper::readFileIfPresent(const QString& path) const {
    return readWholeFile(path, true);
}

void TFileSystemHelper::writeFile(const QString& path, const QByteArray& data) const {
    // A failure here shows up as "Could not open file." below, which is what
    // the caller needs to know.
    QDir().mkpath(QFileInfo(path).absolutePath());

    // The data goes to a temporary file beside the target, which is renamed
    // over it only once everything has been written: a crash or a full disk
    // leaves the previous contents in place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw ioError(file.fileName(), QStringLiteral("Could not open file."));
    const qint64 written = file.write(data);
    if (file.error() != QFileDevice::NoError) {
        const QString detail = file.errorString();
        file.cancelWriting();
        throw ioError(file.fileName(), detail);
    }
    if (written != data.size()) {
        file.cancelWriting();
        throw ioError(file.fileName(), QStringLiteral("Could not write all data to disk."));
    }
    if (!file.commit())
        throw ioError(file.fileName(), file.errorString());
    // The rename that replaced the file is an entry of its directory: only once that is on the
    // disk does a crash leave the new contents rather than the old.
    std::string reason;
    if (!platform::syncDirectory(QFile::encodeName(QFileInfo(path).absolutePath()).toStdString(), reason))
        throw ioError(path, QString::fromStdString(reason));
}

void TFileSystemHelper::writeTextFile(const QString& path, const QString& text) const {
    writeText(path, text, QIODevice::Truncate);
}

void TFileSystemHelper::appendTextFile(const QString& path, const QString& text) const {
    writeText(path, text, QIODevice::Append);
}

bool TFileSystemHelper::removeFile(const QString& path) const {
    QFile file(path);
    if (!file.remove())
        throw std::runtime_error(
            (QStringLiteral("Failed to delete file ") + path + QStringLiteral(": ") + file.errorString())
                .toStdString());
    return true;
}

void TFileSystemHelper::copyFile(const QString& source, const QString& target) const {
    QFile::copy(source, target);
}

void TFileSystemHelper::copyFileContent(const QString& source, const QString& target) const {
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        throw ioError(source, input.errorString());
    QFile output(target);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw ioError(target, output.errorString());
    std::string reason;
    if (platform::copyFileData(input.handle(), output.handle(), reason) < 0 ||
        !platform::syncFileData(output.handle(), reason))
        throw ioError(target, QString::fromStdString(reason));
}

void TFileSystemHelper::linkFile(const QString& source, const QString& target) const {
    // The link is made under a passing name and then renamed over the target, so an existing
    // target is replaced in one step.
    const QString passing = target + QStringLiteral(".link");
    QFile::remove(passing);
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(passing).constData()) != 0 &&
        !QFile::copy(source, passing)) {
        throw ioError(source, QStringLiteral("couldn't link to '%1': %2")
                                  .arg(target, QString::fromLocal8Bit(std::strerror(errno))));
    }
    try {
        renamePath(passing, target);
    } catch (const std::runtime_error&) {
        QFile::remove(passing);
        throw;
    }
    // A target that already was a name of the file leaves the rename nothing to do.
    QFile::remove(passing);
}

QDir TFileSystemHelper::createDirectory(const QString& path) const {
    QDir directory(path);
    if (directory.exists())
        return directory;
    // The standard library keeps the system's reason, which the player (or support) needs to
    // tell a full disk from a file standing where the folder should be.
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path.toStdU16String()), error);
    directory.refresh();
    if (error || !directory.exists())
        throw std::runtime_error(
            QStringLiteral("Failed to create folder: '%1'. %2")
                .arg(QDir::toNativeSeparators(path),
                     error ? QString::fromStdString(error.message()) : QStringLiteral("Not a directory"))
                .toStdString());
    return directory;
}

void TFileSystemHelper::renamePath(const QString& source, const QString& target) const {
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(source.toStdU16String()),
                            std::filesystem::path(target.toStdU16String()), error);
    if (error)
        throw std::runtime_error(QStringLiteral("Failed to rename '%1' to '%2': %3")
                                     .arg(QDir::toNativeSeparators(source), QDir::toNativeSeparators(target),
                                          QString::fromStdString(error.message()))
                                     .toStdString());
}

bool TFileSystemHelper::removeDirectoryIfEmpty(const QString& path) const {
    return QDir().rmdir(path);
}

void TFileSystemHelper::setExecutable(const QString& path, bool executable) const {
    constexpr QFileDevice::Permissions execute =
        QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    // The current user's bit stands for the owner's on Unix; left set, it would keep the owner's.
    constexpr QFileDevice::Permissions executeAll = execute | QFileDevice::ExeUser;
    QFile file(path);
    const QFileDevice::Permissions permissions = file.permissions();
    const QFileDevice::Permissions wanted = executable ? permissions | execute : permissions & ~executeAll;
    if (wanted != permissions && !file.setPermissions(wanted))
        throw ioError(path, file.errorString());
}

QString TFileSystemHelper::pathInside(const QDir& base, const QString& relative) const {
    const QString root = QDir::cleanPath(base.absolutePath());
    const QString candidate = QDir::cleanPath(joinPath({root, relative}));
    if (isInside(candidate, root))
        return candidate;

    QString component = QFileInfo(relative).fileName();
    if (component.isEmpty())
        component = QDir(relative).dirName();
    const QString fallback = QDir::cleanPath(joinPath({root, component}));
    // A last component of ".." would climb out again; such a path names no
    // file of the package, so it is pinned to the root itself.
    return isInside(fallback, root) ? fallback : root;
}

void TFileSystemHelper::forEachFile(const QString& directory,
                                    const std::function<void(const TLocalFileInfo&)>& visit) const {
    for (const TLocalFileInfo& info : listFiles(directory))
        visit(info);
}

std::vector<TLocalFileInfo> TFileSystemHelper::listFiles(const QString& directory) const {
    const QFileInfoList entries =
        QDir(directory).entryInfoList(QDir::Files | QDir::NoDot | QDir::NoDotDot, QDir::NoSort);
    std::vector<TLocalFileInfo> files;
    files.reserve(static_cast<size_t>(entries.size()));
    for (const QFileInfo& entry : entries)
        files.emplace_back(entry.absoluteFilePath(), entry.size());
    return files;
}

bool TFileSystemHelper::fileExists(const QString& path) const {
    return QFileInfo::exists(path);
}

bool TFileSystemHelper::directoryExists(const QString& path) const {
    return QDir(path).exists();
}

QString TFileSystemHelper::joinPath(const std::vector<QString>& parts) const {
    QString joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            joined += QLatin1Char('/');
        joined += parts[i];
    }
    return QDir::toNativeSeparators(joined);
}

QDir TFileSystemHelper::subdirectory(const QDir& parent, const QString& name) const {
    if (!directoryExists(parent.absolutePath()))
        throw std::runtime_error("Directory doesn't exist");
    QDir directory(parent);
    if (directory.cd(name))
        return directory;
    if (!directory.mkdir(name) || !directory.cd(name))
        throw std::runtime_error("Failed to create subdirectory.");
    return directory;
}

std::shared_ptr<QSettings> TFileSystemHelper::openSettings(const QString& path) const {
    return std::make_shared<QSettings>(path, QSettings::IniFormat);
}

QJsonDocument TFileSystemHelper::readJsonFileAsQJsonDocument(const QString& path, bool& error) const {
    error = false;
    const QByteArray bytes = readFileIfPresent(path);
    if (bytes.isEmpty())
        return QJsonDocument();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qWarning() << "Json parse error in file" << path << ": " << parseError.errorString() << "at offset"
                   << parseError.offset;
        error = true;
        return QJsonDocument();
    }
    return document;
}

std::shared_ptr<QImage> TFileSystemHelper::readImage(const QString& path, const char* format) const {
    const QByteArray bytes = readFileIfPresent(path);
    if (bytes.isEmpty())
        return nullptr;
    auto image = std::make_shared<QImage>(QImage::fromData(bytes, format));
    if (image->isNull())
        return nullptr;
    return image;
}

void TFileSystemHelper::writeImage(const QImage& image, const QString& path, const char* format) const {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // Without a format the file name's suffix decides, as it would for a file.
    const QByteArray imageFormat = format ? QByteArray(format) : QFileInfo(path).suffix().toLatin1();
    QImageWriter writer(&buffer, imageFormat);
    // An image that cannot be encoded must not turn into an empty file that
    // looks like a successful write.
    if (!writer.write(image))
        throw ioError(path, writer.errorString());
    buffer.close();
    writeFile(path, bytes);
}

void TFileSystemHelper::writeAt(QFileDevice& file, qint64 offset, const QByteArray& data) const {
    // Bytes the device still buffers go first, so they cannot land over these later.
    if (!file.flush())
        throw TDiskError(file.fileName(), file.errorString());
    std::string reason;
    if (!platform::writeFileAt(file.handle(), offset, data.constData(), data.size(), reason))
        throw TDiskError(file.fileName(), QString::fromStdString(reason));
    // A buffered device may hold bytes read ahead; from the end of the write on, what it holds
    // was not touched by it, and its position is where a sequential write would have left it.
    if (!(file.openMode() & QIODevice::Unbuffered) && !file.seek(offset + data.size()))
        throw TDiskError(file.fileName(), file.errorString());
}

void TFileSystemHelper::reserveSpace(QFileDevice& file, qint64 size) const {
    std::string reason;
    if (!platform::reserveFileSpace(file.handle(), size, reason))
        throw TDiskError(file.fileName(), QString::fromStdString(reason));
}

void TFileSystemHelper::resizeFile(QFileDevice& file, qint64 size) const {
    if (!file.resize(size))
        throw TDiskError(file.fileName(), file.errorString());
}

void TFileSystemHelper::syncFile(QFileDevice& file) const {
    std::string reason;
    if (!file.flush() || !platform::syncFileData(file.handle(), reason))
        throw TDiskError(file.fileName(),
                         reason.empty() ? file.errorString() : QString::fromStdString(reason));
}

void TFileSystemHelper::syncFileSystem(const QString& path) const {
    std::string reason;
    if (!platform::syncFileSystemOf(QFile::encodeName(path).toStdString(), reason))
        throw TDiskError(path, QString::fromStdString(reason));
}

quint64 TFileSystemHelper::availableBytes(const QString& path) const {
    std::uint64_t bytes = 0;
    std::string reason;
    if (!platform::availableDiskBytes(QFile::encodeName(path).toStdString(), bytes, reason)) {
        throw TDiskError(path, QString::fromStdString(reason));
    }
    return bytes;
}

} // namespace shared
