#include "support/installationkit.h"

#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "support/stringliteral.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QtConcurrent>
#include <QtTest>

namespace testsupport {

using namespace mirrel::launcher;

std::shared_ptr<TLauncherFilesystemHelper> makeLauncherFilesystem(const QString& LauncherDirectory,
                                                                  const QByteArray& IniText) {
    writeBytes(QDir(LauncherDirectory).filePath(u"launchersettings.ini"_qs), IniText);
    return std::make_shared<TLauncherFilesystemHelper>(LauncherDirectory);
}

bool publishBuild(const QString& BuildDirectory, const QString& OutputFolder, const QString& Version,
                  QString& ErrorText, int Method) {
    return runPublisher({u"publish"_qs, u"--version"_qs, Version, u"--method"_qs, QString::number(Method),
                         u"--no-progress"_qs, BuildDirectory, OutputFolder},
                        ErrorText);
}

TPackageConfigurationReader readPublishedConfiguration(const QString& OutputFolder, const QUrl& BaseUrl) {
    return TPackageConfigurationReader(readBytes(QDir(OutputFolder).filePath(u"package.json"_qs)),
                                       QByteArray(), BaseUrl, BaseUrl);
}

bool sameTree(const QString& BuildDirectory, const QString& InstallationDirectory, QString& Difference) {
    QDirIterator files(BuildDirectory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString relative = QDir(BuildDirectory).relativeFilePath(source);
        const QString installed = QDir(InstallationDirectory).filePath(relative);
        if (!QFileInfo(installed).isFile()) {
            Difference = relative + u" is missing"_qs;
            return false;
        }
        if (readBytes(source) != readBytes(installed)) {
            Difference = relative + u" differs"_qs;
            return false;
        }
        if (QFileInfo(source).isExecutable() != QFileInfo(installed).isExecutable()) {
            Difference = relative + u" has another execute bit"_qs;
            return false;
        }
    }
    return true;
}

TInstallationDriver::TInstallationDriver(std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
                                         const QString& InstallationDirectory, bool SelfUpdateMode)
    : m_pFileSystem(std::move(FileSystem))
    , m_pPackage(std::make_shared<TPackage>(
          0, QJsonObject{{u"name"_qs, u"Test package"_qs}, {u"directoryname"_qs, u"test"_qs}}, QUrl()))
    , m_pInstallation(std::make_unique<TPackageInstallation>(m_pPackage, m_pFileSystem))
    , m_InstallationDirectory(InstallationDirectory) {
    m_pInstallation->setInstallationDirectory(m_InstallationDirectory);
    m_pInstallation->setSelfUpdateMode(SelfUpdateMode);
    QObject::connect(m_pInstallation.get(), &TPackageInstallation::downloadFinished, m_pInstallation.get(),
                     [this] { ++m_DownloadFinished; });
    QObject::connect(m_pInstallation.get(), &TPackageInstallation::verificationFinished,
                     m_pInstallation.get(), [this] { ++m_VerificationFinished; });
    QObject::connect(m_pInstallation.get(), &TPackageInstallation::diskAccessFailed, m_pInstallation.get(),
                     [this](const QString& Message) { m_DiskAccessError = Message; });
}

TInstallationDriver::~TInstallationDriver() {
    m_pInstallation.reset();
    // The installation hands its downloader to the event loop for deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TPackageDifference TInstallationDriver::difference(const TPackageConfigurationReader& Target,
                                                   const TPackageConfigurationReader& Installed,
                                                   bool FastScan) {
    QFuture<TPackageDifference> future =
        QtConcurrent::run(QThreadPool::globalInstance(), [this, Target, Installed, FastScan] {
            return m_pInstallation->computeRequiredChanges(m_InstallationDirectory, m_pFileSystem, Target,
                                                           Installed, FastScan);
        });
    // The event loop runs meanwhile, for the signals the scan sends; result() waits for the rest.
    if (!QTest::qWaitFor([&future] { return future.isFinished(); }, 600000))
        qWarning("The difference scan takes longer than ten minutes");
    return future.result();
}

bool TInstallationDriver::install(const TPackageConfigurationReader& Target,
                                  const TPackageConfigurationReader& Installed, bool FastScan,
                                  int TimeoutMs) {
    const int finishedBefore = m_DownloadFinished;
    m_DiskAccessError.clear();
    const TPackageDifference changes = difference(Target, Installed, FastScan);
    QMetaObject::invokeMethod(m_pInstallation.get(), "onRequiredChangesComputedForInstallation",
                              Qt::DirectConnection, Q_ARG(mirrel::launcher::TPackageDifference, changes));
    return QTest::qWaitFor(
        [&] { return m_DownloadFinished > finishedBefore || !m_DiskAccessError.isEmpty(); }, TimeoutMs);
}

bool TInstallationDriver::verify(const TPackageConfigurationReader& Configuration, bool Force,
                                 int TimeoutMs) {
    const int finishedBefore = m_VerificationFinished;
    m_pInstallation->startVerification(Configuration, Force);
    return QTest::qWaitFor([&] { return m_VerificationFinished > finishedBefore; }, TimeoutMs);
}

} // namespace testsupport
