#include "support/failingfilesystem.h"
#include "support/stringliteral.h"

#include "shared/filesystemhelper/diskerror.h"

#include <QFileDevice>

#include <stdexcept>

namespace testsupport {

TFailingFilesystem::TFailingFilesystem(const QString& LauncherDirectory, EFailingOperation Failing,
                                       std::function<bool(const QString&)> Filter)
    : TLauncherFilesystemHelper(LauncherDirectory)
    , m_Failing(Failing)
    , m_Filter(std::move(Filter)) {}

bool TFailingFilesystem::fails(EFailingOperation Operation, const QString& Path) const {
    if (Observer && Operation != EFailingOperation::WriteInFile) {
        Observer(Operation, Path);
    }
    return Armed && Operation == m_Failing && (!m_Filter || m_Filter(Path));
}

void TFailingFilesystem::writeFile(const QString& path, const QByteArray& data) const {
    if (fails(EFailingOperation::Write, path)) {
        throw std::runtime_error(ioError(path, u"No space left on device"_qs).toStdString());
    }
    TLauncherFilesystemHelper::writeFile(path, data);
}

QByteArray TFailingFilesystem::readFileIfPresent(const QString& path) const {
    if (fails(EFailingOperation::Read, path)) {
        throw std::runtime_error(ioError(path, u"Input/output error"_qs).toStdString());
    }
    return TLauncherFilesystemHelper::readFileIfPresent(path);
}

bool TFailingFilesystem::removeFile(const QString& path) const {
    if (fails(EFailingOperation::Remove, path)) {
        throw std::runtime_error(("Failed to delete file " + path).toStdString());
    }
    return TLauncherFilesystemHelper::removeFile(path);
}

QDir TFailingFilesystem::createDirectory(const QString& path) const {
    if (fails(EFailingOperation::CreateDirectory, path)) {
        throw std::runtime_error(u"Failed to create folder: '%1'."_qs.arg(path).toStdString());
    }
    return TLauncherFilesystemHelper::createDirectory(path);
}

QString TFailingFilesystem::pathInside(const QDir& base, const QString& relative) const {
    if (fails(EFailingOperation::PathInside, relative)) {
        throw std::runtime_error(("cannot place " + relative).toStdString());
    }
    return TLauncherFilesystemHelper::pathInside(base, relative);
}

void TFailingFilesystem::writeAt(QFileDevice& file, qint64 offset, const QByteArray& data) const {
    if (fails(EFailingOperation::WriteInFile, file.fileName()) && PassingWrites.fetch_sub(1) <= 0) {
        throw shared::TDiskError(file.fileName(), u"No space left on device"_qs);
    }
    TLauncherFilesystemHelper::writeAt(file, offset, data);
}

void TFailingFilesystem::syncFile(QFileDevice& file) const {
    if (fails(EFailingOperation::Sync, file.fileName())) {
        throw shared::TDiskError(file.fileName(), u"Input/output error"_qs);
    }
    TLauncherFilesystemHelper::syncFile(file);
}

quint64 TFailingFilesystem::availableBytes(const QString& path) const {
    const qint64 free = FreeBytes;
    return free >= 0 ? static_cast<quint64>(free) : TLauncherFilesystemHelper::availableBytes(path);
}

void TFailingFilesystem::syncFileSystem(const QString& path) const {
    if (fails(EFailingOperation::Sync, path)) {
        throw std::runtime_error(ioError(path, u"No space left on device"_qs).toStdString());
    }
    TLauncherFilesystemHelper::syncFileSystem(path);
}

QString TFailingFilesystem::ioError(const QString& Path, const QString& Detail) {
    return u"I/O error on file '%1': %2"_qs.arg(Path, Detail);
}

std::function<bool(const QString&)> TFailingFilesystem::endingIn(const QString& Suffix) {
    return [Suffix](const QString& Path) {
        return Path.endsWith(Suffix);
    };
}

} // namespace testsupport
