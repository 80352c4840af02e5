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
// package into the launcher's directory with the installation engine, moving files it cannot delete
// (the running program) aside to their ".old" names, and asks for a restart when that succeeded.
// A failed update puts the old program back and lets the launcher go on. The next start removes
// the ".old" files. GUI thread only.
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
    void restoreOldLauncher(const std::shared_ptr<TPackage>& LauncherPackage);

    std::shared_ptr<TLauncherFilesystemHelper> m_pFilesystemHelper;
    std::unique_ptr<TInstallationManager> m_pInstallationManager;
};

} // namespace mirrel::launcher
