#pragma once

#include "launcher/storage/launcherfilesystemhelper.h"

#include <QString>

#include <atomic>
#include <functional>

namespace testsupport {

// The file operations a test can make fail.
enum class EFailingOperation { None, Write, Read, Remove, CreateDirectory, PathInside, WriteInFile, Sync };

// A launcher file-system helper whose chosen operation throws with the helper's own error text,
// the way a full or broken disk or a file held by a running program makes it fail (tests run as
// root, so permissions cannot). The operation fails for every path the filter accepts (all paths
// without a filter) while Armed is set.
class TFailingFilesystem : public mirrel::launcher::TLauncherFilesystemHelper {
public:
    TFailingFilesystem(const QString& LauncherDirectory, EFailingOperation Failing,
                       std::function<bool(const QString&)> Filter = {});

    void writeFile(const QString& path, const QByteArray& data) const override;
    QByteArray readFileIfPresent(const QString& path) const override;
    bool removeFile(const QString& path) const override;
    QDir createDirectory(const QString& path) const override;
    QString pathInside(const QDir& base, const QString& relative) const override;
    // WriteInFile: a full disk once PassingWrites writes into open files have gone through.
    void writeAt(QFileDevice& file, qint64 offset, const QByteArray& data) const override;
    void syncFile(QFileDevice& file) const override;
    // The disk's free space as FreeBytes says, while it is not negative.
    quint64 availableBytes(const QString& path) const override;
    void syncFileSystem(const QString& path) const override;

    // "I/O error on file '<path>': <detail>", as the helper reports a failed read or write.
    static QString ioError(const QString& Path, const QString& Detail);
    // The filter that accepts paths ending in Suffix.
    static std::function<bool(const QString&)> endingIn(const QString& Suffix);

    std::atomic<bool> Armed{true};
    mutable std::atomic<int> PassingWrites{0};
    std::atomic<qint64> FreeBytes{-1};
    // Told of every operation above but writeAt, on the thread that makes it; set it while no run is on.
    std::function<void(EFailingOperation, const QString&)> Observer;

private:
    bool fails(EFailingOperation Operation, const QString& Path) const;

    EFailingOperation m_Failing;
    std::function<bool(const QString&)> m_Filter;
};

} // namespace testsupport
