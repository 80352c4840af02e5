#include "launcher/selfupdate/launcherselfupdater.h"

#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/crypto/sha256.h"
#include "shared/filesystemhelper/localfileinfo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
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
        m_pInstallationManager->setRateLimiter(m_pRateLimiter);
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
    if (QFileInfo(Backup).isDir()) {
        removePath(Backup);
    }
    // The program is never written in place during the update, so a second name of its file keeps
    // the old program without copying it.
    m_pFilesystemHelper->linkFile(Executable, Backup);
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
    const std::shared_ptr<TPackage> package = InstallationInProgress.package();
    if (!InstallationInProgress.success()) {
        giveUpUpdate(package,
                     QStringLiteral("Error %1").arg(static_cast<int>(InstallationInProgress.errorReason())));
        return;
    }
    const QString problem = newProgramProblem(package);
    if (!problem.isEmpty()) {
        giveUpUpdate(package, problem);
        return;
    }
    emit updateDownloadFinishedAndRestartRequired();
}

QString TLauncherSelfUpdater::newProgramProblem(const std::shared_ptr<TPackage>& LauncherPackage) const {
    const QString Executable = m_pInstallationManager->executablePath(LauncherPackage);
    const TPackageConfigurationReader* configuration = LauncherPackage->configurationForThisSystem();
    if (Executable.isEmpty() || configuration == nullptr) {
        // A package that names no program replaces none; the running one starts again.
        return QString();
    }
    const QFileInfo info(Executable);
    if (!info.isFile()) {
        return QStringLiteral("the new launcher %1 is missing").arg(Executable);
    }
    if (!info.isExecutable()) {
        return QStringLiteral("the new launcher %1 is not executable").arg(Executable);
    }
    const QString program = QDir::cleanPath(configuration->executable());
    const auto& files = configuration->files();
    const auto described = std::find_if(files.begin(), files.end(), [&program](const TFileInPackage& File) {
        return QDir::cleanPath(File.LocalFile) == program;
    });
    if (described == files.end()) {
        return QStringLiteral("the launcher package does not describe its program %1").arg(program);
    }
    try {
        if (::shared::TSha256::hashFile(Executable) != described->Hash) {
            return QStringLiteral("the new launcher %1 does not match its package's hash").arg(Executable);
        }
    } catch (const std::runtime_error& error) {
        return QString::fromUtf8(error.what());
    }
    return QString();
}

void TLauncherSelfUpdater::giveUpUpdate(const std::shared_ptr<TPackage>& LauncherPackage,
                                        const QString& Reason) {
    try {
        restoreOldLauncher(LauncherPackage);
        qCritical().noquote() << "Updating Vantor Online failed: " + Reason;
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
    if (QFileInfo(Executable).isDir()) {
        removePath(Executable);
    }
    // One rename over the program: its name never stands empty on the way back either.
    m_pFilesystemHelper->renamePath(Backup, Executable);
    // The program had not been replaced yet: both names were the same file, and the rename had
    // nothing to do.
    if (m_pFilesystemHelper->fileExists(Backup)) {
        m_pFilesystemHelper->removeFile(Backup);
    }
}

QString TLauncherSelfUpdater::restoreProgramFromBackup(const QString& RunningProgram) const {
    if (!RunningProgram.endsWith(BackupSuffix)) {
        return RunningProgram;
    }
    const QString Program = RunningProgram.left(RunningProgram.size() - BackupSuffix.size());
    const QFileInfo info(Program);
    if (info.exists() || info.isSymLink()) {
        return RunningProgram;
    }
    try {
        m_pFilesystemHelper->renamePath(RunningProgram, Program);
    } catch (const std::runtime_error& error) {
        qWarning().noquote() << "restoreProgramFromBackup: " + QString::fromUtf8(error.what()) +
                                    " Thread: " + currentThreadIdText();
        return RunningProgram;
    }
    qWarning().noquote() << "restoreProgramFromBackup: " + Program +
                                " was missing; the launcher started from " + RunningProgram +
                                " took its place Thread: " + currentThreadIdText();
    return Program;
}

void TLauncherSelfUpdater::cleanupOldLauncherVersion() {
    qInfo().noquote() << "cleanupOldLauncherVersion Thread: " + currentThreadIdText();
    const QString LauncherDirectory = QDir(m_pFilesystemHelper->launcherDirectory()).absolutePath();
    // A launcher started from its ".old" copy is the old one: that copy is not left over.
    const QString RunningProgram = QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath();
    for (const ::shared::TLocalFileInfo& File : m_pFilesystemHelper->listFiles(LauncherDirectory)) {
        if (QFileInfo(File.absoluteFilePath).absoluteFilePath() == RunningProgram) {
            continue;
        }
        if (QFileInfo(File.absoluteFilePath).fileName().endsWith(BackupSuffix, Qt::CaseSensitive)) {
            m_pFilesystemHelper->removeFile(File.absoluteFilePath);
        }
    }
}

} // namespace mirrel::launcher
