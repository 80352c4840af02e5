#pragma once

#include "launcher/storage/launcherfilesystemhelper.h"

#include <QString>

#include <memory>

namespace mirrel::launcher {

// The launcher's file-system helper as its self-update sees it: every operation goes to the
// launcher's own helper, except that the file of the running launcher program is never deleted.
// Where a running program cannot be deleted at all, the installation engine of a self-update moves
// it aside to its backup name instead; refusing here gives the same result on systems that would
// allow the deletion, so that a failed update always finds the old program to put back.
class TSelfUpdateFilesystemHelper : public TLauncherFilesystemHelper {
public:
    // RunningProgram names the file of the running program; by default the one this process was
    // started from, whatever its name is now.
    explicit TSelfUpdateFilesystemHelper(std::shared_ptr<TLauncherFilesystemHelper> pInner,
                                         QString RunningProgram = QStringLiteral("/proc/self/exe"));
    ~TSelfUpdateFilesystemHelper() override;

    // True when Path is (another name of) the running program's file; symbolic links do not count.
    bool isRunningProgram(const QString& Path) const;

    std::shared_ptr<::shared::TReadOnlyMemoryBlob> openMemoryBlob(const QString& path) const override;
    QByteArray readFile(const QString& path) const override;
    QByteArray readFileIfPresent(const QString& path) const override;
    void writeFile(const QString& path, const QByteArray& data) const override;
    void writeTextFile(const QString& path, const QString& text) const override;
    void appendTextFile(const QString& path, const QString& text) const override;
    bool removeFile(const QString& path) const override;
    void copyFile(const QString& source, const QString& target) const override;
    QDir createDirectory(const QString& path) const override;
    QString pathInside(const QDir& base, const QString& relative) const override;
    void forEachFile(const QString& directory,
                     const std::function<void(const ::shared::TLocalFileInfo&)>& visit) const override;
    std::vector<::shared::TLocalFileInfo> listFiles(const QString& directory) const override;
    bool fileExists(const QString& path) const override;
    bool directoryExists(const QString& path) const override;
    QString joinPath(const std::vector<QString>& parts) const override;
    QDir subdirectory(const QDir& parent, const QString& name) const override;
    std::shared_ptr<QSettings> openSettings(const QString& path) const override;
    QJsonDocument readJsonFileAsQJsonDocument(const QString& path, bool& error) const override;
    std::shared_ptr<QImage> readImage(const QString& path, const char* format = nullptr) const override;
    void writeImage(const QImage& image, const QString& path, const char* format = nullptr) const override;

private:
    std::shared_ptr<TLauncherFilesystemHelper> m_pInner;
    QString m_RunningProgram;
};

} // namespace mirrel::launcher
