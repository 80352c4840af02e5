#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace shared {
class TRateLimiter;
}

namespace mirrel::launcher {

class TInstallationManager;
class TLauncherFilesystemHelper;
class TPackage;
class TPackageInstallation;

// Replaces the launcher with the version its configuration offers: installs the launcher's own
// package into the launcher's directory with the installation engine, in self-update mode, and asks
// for a restart when that succeeded and the new program is there, executable and the one its
// document describes. In self-update mode no file of the directory is written in place: each new
// file is built beside its old one and renamed over it when complete. Before the run the program
// gets a second name, "<program>.old" (a hard link), so that at every moment of the update, cut off
// wherever, the program's name holds a complete launcher (the old one, then the new one), and a
// failed update renames the ".old" copy back over it and lets the launcher go on. The restarted
// launcher removes the ".old" files. GUI thread only.
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
    // ".old", except the file this launcher runs from. Throws std::runtime_error when one cannot be
    // deleted.
    void cleanupOldLauncherVersion();
    // A launcher started from "<name>.old" while "<name>" is missing puts itself back under its
    // name. Returns the path the launcher runs from now (RunningProgram when nothing was renamed).
    // Never throws: a failure is logged and the launcher goes on under its old name.
    QString restoreProgramFromBackup(const QString& RunningProgram) const;

    // The launcher's download speed limit, which its own update keeps to as well.
    void setRateLimiter(std::shared_ptr<::shared::TRateLimiter> pLimiter) {
        m_pRateLimiter = std::move(pLimiter);
    }

    // The manager of the running or last update; null before the first.
    TInstallationManager* installationManager() const { return m_pInstallationManager.get(); }

signals:
    void updateDownloadFinishedAndRestartRequired();
    void updateFailed();
    void diskAccessFailed(QString ErrorMessage);

private slots:
    void onInstallationOrUpdateFinished(const mirrel::launcher::TPackageInstallation& InstallationInProgress);

private:
    // Gives the launcher's program its backup name as a second name before the installation
    // starts; that is what a failed update puts back.
    void keepBackupOfProgram(const std::shared_ptr<TPackage>& LauncherPackage);
    // Why the installed program must not be started, or an empty text when it may.
    QString newProgramProblem(const std::shared_ptr<TPackage>& LauncherPackage) const;
    void giveUpUpdate(const std::shared_ptr<TPackage>& LauncherPackage, const QString& Reason);
    void restoreOldLauncher(const std::shared_ptr<TPackage>& LauncherPackage);
    // Removes a file, or a directory with its contents; nothing when the path does not exist.
    void removePath(const QString& Path) const;

    std::shared_ptr<TLauncherFilesystemHelper> m_pFilesystemHelper;
    std::unique_ptr<TInstallationManager> m_pInstallationManager;
    std::shared_ptr<::shared::TRateLimiter> m_pRateLimiter;
};

} // namespace mirrel::launcher
