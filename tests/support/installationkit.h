#pragma once

#include "launcher/install/packagedifference.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/testdata.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

namespace mirrel::launcher {
class TPackage;
class TPackageInstallation;
} // namespace mirrel::launcher

namespace testsupport {

// A launcher file-system helper whose settings come from the given INI text, written as
// "launchersettings.ini" into LauncherDirectory.
std::shared_ptr<mirrel::launcher::TLauncherFilesystemHelper>
makeLauncherFilesystem(const QString& LauncherDirectory, const QByteArray& IniText);

// Publishes a build directory with the real publisher program into OutputFolder (package.json
// plus chunks/). Returns false and the program's output in ErrorText when it fails.
bool publishBuild(const QString& BuildDirectory, const QString& OutputFolder, const QString& Version,
                  QString& ErrorText, int Method = 5);

// Parses OutputFolder/package.json as the launcher does, with addresses relative to BaseUrl.
mirrel::launcher::TPackageConfigurationReader readPublishedConfiguration(const QString& OutputFolder,
                                                                         const QUrl& BaseUrl);

// Whether every file of the build directory is in the installation directory with the same bytes
// (and the same execute bit); Difference names the first mismatch.
bool sameTree(const QString& BuildDirectory, const QString& InstallationDirectory, QString& Difference);

// Drives one TPackageInstallation the way the installation manager does: the difference on the
// global thread pool, its result to the installation, then the download; or a verification.
class TInstallationDriver {
public:
    TInstallationDriver(std::shared_ptr<mirrel::launcher::TLauncherFilesystemHelper> FileSystem,
                        const QString& InstallationDirectory, bool SelfUpdateMode = false);
    ~TInstallationDriver();
    TInstallationDriver(const TInstallationDriver&) = delete;
    TInstallationDriver& operator=(const TInstallationDriver&) = delete;

    // Runs until downloadFinished or diskAccessFailed; false on a time-out.
    bool install(const mirrel::launcher::TPackageConfigurationReader& Target,
                 const mirrel::launcher::TPackageConfigurationReader& Installed, bool FastScan,
                 int TimeoutMs = 300000);
    // The difference alone (which already moves reusable chunks into place).
    mirrel::launcher::TPackageDifference
    difference(const mirrel::launcher::TPackageConfigurationReader& Target,
               const mirrel::launcher::TPackageConfigurationReader& Installed, bool FastScan);
    // Runs until verificationFinished; false on a time-out.
    bool verify(const mirrel::launcher::TPackageConfigurationReader& Configuration, bool Force,
                int TimeoutMs = 300000);

    mirrel::launcher::TPackageInstallation& installation() const { return *m_pInstallation; }
    const QString& diskAccessError() const { return m_DiskAccessError; }

private:
    std::shared_ptr<mirrel::launcher::TLauncherFilesystemHelper> m_pFileSystem;
    std::shared_ptr<mirrel::launcher::TPackage> m_pPackage;
    std::unique_ptr<mirrel::launcher::TPackageInstallation> m_pInstallation;
    QDir m_InstallationDirectory;
    QString m_DiskAccessError;
    int m_DownloadFinished = 0;
    int m_VerificationFinished = 0;
};

} // namespace testsupport
