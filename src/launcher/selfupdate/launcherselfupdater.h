#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace mirrel::launcher {

class TInstallationManager;
class TLauncherFilesystemHelper;
class TPackage;
class TPackageInstallation;

// Replaces the launcher with the version its configuration offers: installs the launcher's own
// package into the launcher's directory with the installation engine, in self-update mode (files
// it cannot delete, such as a running program, are moved aside to their ".old" names), and asks
// for a restart when that succeeded. A failed update puts the old program back from its ".old"
// backup and lets the launcher go on. The next start removes the ".old" files. GUI thread only.
class TLauncherSelfUpdater : public QObject {
    Q_OBJECT

public:
    explicit TLauncherSelfUpdater(std::shared_ptr<TLauncherFilesystemHelper> pFilesystemHelper,
                                  QObject* parent = nullptr);
    ~TLauncherSelfUpdater() override;

    // Installs the launcher package; does nothing for a null package. The package's configuration
    // for this system must be known.
    void startSelfUpdate(std::shared_ptr<TPackage> launcherPackage);
    // Deletes the files of the launcher's directory (not of its subdirectories) whose names end in
    // ".old". Throws std::runtime_error when one cannot be deleted.
    void cleanupOldLauncherVersion();

    // The manager of the running or last update; null before the first.
    TInstallationManager* installationManager() const { return m_pInstallationManager.get(); }

signals:
    void updateDownloadFinishedAndRestartRequired();
    void updateFailed();
    void diskAccessFailed(QString ErrorMessage);

private slots:
    void onInstallationOrUpdateFinished(const mirrel::launcher::TPackageInstallation& InstallationInProgress);

private:
    // Copies the launcher's program to its backup name before the installation starts. The
    // installation may delete or overwrite the program on its way (systems that let a running
    // program be deleted do not stop it); the copy is what a failed update puts back.
    void keepBackupOfProgram(const std::shared_ptr<TPackage>& LauncherPackage);
    void restoreOldLauncher(const std::shared_ptr<TPackage>& LauncherPackage);
    // Removes a file, or a directory with its contents; nothing when the path does not exist.
    void removePath(const QString& Path) const;

    std::shared_ptr<TLauncherFilesystemHelper> m_pFilesystemHelper;
    std::unique_ptr<TInstallationManager> m_pInstallationManager;
};

} // namespace mirrel::launcher
