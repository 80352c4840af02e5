#include "launcher/selfupdate/launcherselfupdater.h"

#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/filesystemhelper/localfileinfo.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace mirrel::launcher {

TLauncherSelfUpdater::TLauncherSelfUpdater(std::shared_ptr<TLauncherFilesystemHelper> pFilesystemHelper,
                                           QObject* parent)
    : QObject(parent)
    , m_pFilesystemHelper(std::move(pFilesystemHelper)) {}

TLauncherSelfUpdater::~TLauncherSelfUpdater() = default;

void TLauncherSelfUpdater::startSelfUpdate(std::shared_ptr<TPackage> launcherPackage) {
    if (!launcherPackage) {
        return;
    }
    qInfo().noquote() << "startSelfUpdate " + launcherPackage->name() + " Thread: " + currentThreadIdText();
    try {
        m_pInstallationManager = std::make_unique<TInstallationManager>(nullptr, m_pFilesystemHelper);
        connect(m_pInstallationManager.get(), &TInstallationManager::installationOrUpdateFinished, this,
                &TLauncherSelfUpdater::onInstallationOrUpdateFinished);
        // A marker that cannot be written leaves the launcher's directory in an unknown state; the
        // launcher must not restart into it as if the update had worked.
        connect(m_pInstallationManager.get(), &TInstallationManager::diskAccessFailed, this,
                &TLauncherSelfUpdater::diskAccessFailed);
        m_pInstallationManager->setSelfUpdateMode(true);
        keepBackupOfProgram(launcherPackage);
        m_pInstallationManager->installOrUpdatePackage(launcherPackage);
    } catch (const std::runtime_error& error) {
        emit diskAccessFailed(QString::fromUtf8(error.what()));
    }
}

void TLauncherSelfUpdater::keepBackupOfProgram(const std::shared_ptr<TPackage>& LauncherPackage) {
    const QString Executable = m_pInstallationManager->executablePath(LauncherPackage);
    if (Executable.isEmpty() || !QFileInfo(Executable).isFile()) {
        return;
    }
    const QString Backup = Executable + BackupSuffix;
    removePath(Backup);
    m_pFilesystemHelper->copyFile(Executable, Backup);
    if (!m_pFilesystemHelper->fileExists(Backup)) {
        throw ::shared::ioError(Backup, QStringLiteral("couldn't copy '%1'").arg(Executable));
    }
}

void TLauncherSelfUpdater::removePath(const QString& Path) const {
    const QFileInfo Info(Path);
    if (Info.isDir() && !Info.isSymLink()) {
        if (!QDir(Path).removeRecursively()) {
            throw ::shared::ioError(Path, QStringLiteral("couldn't remove directory"));
        }
    } else if (Info.exists() || Info.isSymLink()) {
        m_pFilesystemHelper->removeFile(Path);
    }
}

void TLauncherSelfUpdater::onInstallationOrUpdateFinished(
    const TPackageInstallation& InstallationInProgress) {
    if (InstallationInProgress.success()) {
        emit updateDownloadFinishedAndRestartRequired();
        return;
    }
    try {
        restoreOldLauncher(InstallationInProgress.package());
        qCritical().noquote() << "Updating Vantor Online failed: Error"
                              << static_cast<int>(InstallationInProgress.errorReason());
        emit updateFailed();
    } catch (const std::runtime_error& error) {
        emit diskAccessFailed(QString::fromUtf8(error.what()));
    }
}

void TLauncherSelfUpdater::restoreOldLauncher(const std::shared_ptr<TPackage>& LauncherPackage) {
    const QString Executable = m_pInstallationManager->executablePath(LauncherPackage);
    if (Executable.isEmpty()) {
        return;
    }
    const QString Backup = Executable + BackupSuffix;
    if (!m_pFilesystemHelper->fileExists(Backup)) {
        // There was no program before the update, so there is none to put back.
        return;
    }
    removePath(Executable);
    if (!QFile::rename(Backup, Executable)) {
        throw ::shared::ioError(Backup, QStringLiteral("couldn't rename to '%1'").arg(Executable));
    }
}

void TLauncherSelfUpdater::cleanupOldLauncherVersion() {
    qInfo().noquote() << "cleanupOldLauncherVersion Thread: " + currentThreadIdText();
    const QString LauncherDirectory = QDir(m_pFilesystemHelper->launcherDirectory()).absolutePath();
    for (const ::shared::TLocalFileInfo& File : m_pFilesystemHelper->listFiles(LauncherDirectory)) {
        if (QFileInfo(File.absoluteFilePath).fileName().endsWith(BackupSuffix, Qt::CaseSensitive)) {
            m_pFilesystemHelper->removeFile(File.absoluteFilePath);
        }
    }
}

} // namespace mirrel::launcher
