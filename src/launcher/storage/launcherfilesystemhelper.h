#pragma once

#include "shared/filesystemhelper/filesystemhelper.h"

#include <QString>

#include <memory>

class QDir;
class QJsonObject;

namespace mirrel::launcher {

class TLauncherSettings;

// The launcher's file-system helper: every file operation of the shared helper,
// plus the launcher's settings and the paths derived from its own directory.
// The settings come from "launchersettings.ini" beside the launcher when that
// file exists, otherwise from the defaults built into the program.
class TLauncherFilesystemHelper : public ::shared::TFileSystemHelper {
public:
    // The launcher's directory is the directory of the running executable.
    TLauncherFilesystemHelper();
    explicit TLauncherFilesystemHelper(const QString& launcherDirectory);
    ~TLauncherFilesystemHelper() override;

    std::shared_ptr<const TLauncherSettings> settings() const { return m_pSettings; }

    // Absolute path of the launcher's directory.
    const QString& launcherDirectory() const { return m_LauncherDirectory; }
    // A file directly in the launcher's directory (the stored configuration, say).
    QString launcherFilePath(const QString& fileName) const;
    // The directory that holds one directory per package; packagesDirectory()
    // creates it when missing.
    QString packagesDirectoryPath() const;
    QDir packagesDirectory() const;
    // The directory of the package whose configuration names it DirectoryName. Whatever the name
    // says, and wherever the configuration came from, the result lies inside the packages
    // directory.
    QString packageDirectoryPath(const QString& DirectoryName) const;

    const QString& accountGroupFileName() const { return m_AccountGroupFileName; }
    const QString& accountGroupTargetPath() const { return m_AccountGroupTargetPath; }
    const QString& accountGroupSourcePath() const { return m_AccountGroupSourcePath; }

    bool accountGroupFileExists() const;
    // The file's JSON object. A missing file gives an object with an "error"
    // member and no "Key"; an unreadable one {"error": path}; content that is not
    // a JSON object an empty object (each with a warning).
    QJsonObject readAccountGroupFile() const;
    // Places the account group file into the package's settings directory,
    // replacing an older copy; throws the helper's I/O errors on failure.
    void copyAccountGroupFileTo(const QDir& packageDirectory) const;

private:
    QString m_LauncherDirectory;
    std::shared_ptr<const TLauncherSettings> m_pSettings;
    QString m_AccountGroupFileName;
    QString m_AccountGroupTargetPath;
    QString m_AccountGroupSourcePath;
};

} // namespace mirrel::launcher
