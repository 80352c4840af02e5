#include "support/publishedgame.h"

#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "support/installationkit.h"
#include "support/testpaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSet>
#include <QtTest>

namespace testsupport {

namespace {

const QString PackageFolder = QStringLiteral("vantor/linux");

// Files an installation holds besides the package's own: markers and the account group copy.
const QSet<QString> LauncherOwnFiles = {
    QStringLiteral("package.json"), QStringLiteral("partial-package.json"), QStringLiteral("assets.json"),
    QStringLiteral("default"), QStringLiteral("VantorOnlineClient_Data/Data/Settings/accountgroup.json")};

bool runPublisher(const QStringList& Arguments, QString& Error) {
    QProcess publisher;
    publisher.setProcessChannelMode(QProcess::MergedChannels);
    publisher.start(launcherBinDir() + QStringLiteral("/vantor-publisher"), Arguments);
    if (!publisher.waitForFinished(600000)) {
        Error = QStringLiteral("the publisher did not finish: ") + publisher.errorString();
        return false;
    }
    if (publisher.exitStatus() != QProcess::NormalExit || publisher.exitCode() != 0) {
        Error = QString::fromUtf8(publisher.readAll());
        return false;
    }
    return true;
}

bool copyFile(const QString& Source, const QString& Target) {
    QFile::remove(Target);
    return QFile::copy(Source, Target);
}

bool makeExecutable(const QString& Path) {
    return QFile::setPermissions(Path, QFile::permissions(Path) | QFile::ExeOwner | QFile::ExeGroup |
                                           QFile::ExeOther);
}

QSet<QString> treeFiles(const QString& Root) {
    QSet<QString> files;
    QDirIterator iterator(Root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        files.insert(QDir(Root).relativeFilePath(iterator.next()));
    }
    return files;
}

} // namespace

TPublishedGame::TPublishedGame(const QString& WorkDirectory)
    : m_WorkDirectory(WorkDirectory) {}

QString TPublishedGame::clientTree(int Version) const {
    return QDir(m_WorkDirectory).filePath(QStringLiteral("client-v%1").arg(Version));
}

QString TPublishedGame::assetTree(int Version) const {
    return QDir(m_WorkDirectory).filePath(QStringLiteral("assets-v%1").arg(Version));
}

bool TPublishedGame::writeTrees() const {
    const QString one = clientTree(1);
    const QString two = clientTree(2);
    const QByteArray stable = seededBytes(101, 18 * 1024 * 1024);
    QByteArray big = seededBytes(102, 18 * 1024 * 1024);
    const QByteArray client = seededBytes(103, 200 * 1024);
    bool written =
        writeBytes(one + QStringLiteral("/stable.bin"), stable) &&
        writeBytes(one + QStringLiteral("/big.bin"), big) &&
        writeBytes(one + QStringLiteral("/bin/client"), client) &&
        makeExecutable(one + QStringLiteral("/bin/client")) &&
        writeBytes(one + QStringLiteral("/data/readme.txt"), "Vantor Online, version one\n") &&
        writeBytes(one + QStringLiteral("/old/obsolete.dat"), seededBytes(104, 50 * 1024)) &&
        writeBytes(assetTree(1) + QStringLiteral("/assets/world.pak"), seededBytes(105, 1024 * 1024));
    big.replace(9 * 1024 * 1024, 100 * 1024, seededBytes(106, 100 * 1024));
    written = written && writeBytes(two + QStringLiteral("/stable.bin"), stable) &&
              writeBytes(two + QStringLiteral("/big.bin"), big) &&
              writeBytes(two + QStringLiteral("/bin/client"), client) &&
              makeExecutable(two + QStringLiteral("/bin/client")) &&
              writeBytes(two + QStringLiteral("/data/readme.txt"), "Vantor Online, version two\n") &&
              writeBytes(two + QStringLiteral("/new/added.dat"), seededBytes(107, 300 * 1024)) &&
              writeBytes(assetTree(2) + QStringLiteral("/assets/world.pak"), seededBytes(108, 1024 * 1024));
    return written;
}

bool TPublishedGame::publishVersion(const QString& CdnRoot, int Version, QString& Error) const {
    const QString output = QDir(CdnRoot).filePath(PackageFolder);
    const QString packageDocument = QStringLiteral("package-v%1.json").arg(Version);
    const QString assetDocument = QStringLiteral("assets-v%1.json").arg(Version);
    return runPublisher({QStringLiteral("publish"), QStringLiteral("--version"), packageVersion(Version),
                         QStringLiteral("--name"), packageDocument, QStringLiteral("--assets-document"),
                         assetDocument, QStringLiteral("--executable"), executable(),
                         QStringLiteral("--parameter"), QStringLiteral("-windowed"),
                         QStringLiteral("--method"), QStringLiteral("0"), QStringLiteral("--no-progress"),
                         clientTree(Version), output},
                        Error) &&
           runPublisher({QStringLiteral("publish"), QStringLiteral("--document"), QStringLiteral("assets"),
                         QStringLiteral("--version"), assetVersion(Version), QStringLiteral("--name"),
                         assetDocument, QStringLiteral("--package-document"), packageDocument,
                         QStringLiteral("--method"), QStringLiteral("0"), QStringLiteral("--no-progress"),
                         assetTree(Version), output},
                        Error);
}

bool TPublishedGame::publish(const QString& CdnRoot, QString& Error) const {
    if (!writeTrees()) {
        Error = QStringLiteral("the build trees could not be written");
        return false;
    }
    const QString build =
        QStringLiteral("build=linux,x86_64,%1/package.json,%1/assets.json").arg(PackageFolder);
    return publishVersion(CdnRoot, 1, Error) && publishVersion(CdnRoot, 2, Error) &&
           runPublisher({QStringLiteral("configure"), QStringLiteral("--package"),
                         QStringLiteral("name=Vantor Online;directoryname=vantor;") + build,
                         QStringLiteral("--package"),
                         QStringLiteral("name=Vantor Classic;directoryname=classic;") + build,
                         QStringLiteral("--launcher"),
                         QStringLiteral("name=Launcher;directoryname=launcher;") + build,
                         QDir(CdnRoot).filePath(QStringLiteral("launcher.json"))},
                        Error);
}

bool TPublishedGame::release(const QString& CdnRoot, int Version) const {
    const QDir output(QDir(CdnRoot).filePath(PackageFolder));
    return copyFile(output.filePath(QStringLiteral("package-v%1.json").arg(Version)),
                    output.filePath(QStringLiteral("package.json"))) &&
           copyFile(output.filePath(QStringLiteral("assets-v%1.json").arg(Version)),
                    output.filePath(QStringLiteral("assets.json")));
}

bool TPublishedGame::isInstalled(int Version, const QString& InstallationDirectory,
                                 QString& Difference) const {
    if (!sameTree(clientTree(Version), InstallationDirectory, Difference) ||
        !sameTree(assetTree(Version), InstallationDirectory, Difference)) {
        return false;
    }
    const QSet<QString> expected = treeFiles(clientTree(Version)) + treeFiles(assetTree(Version));
    for (const QString& file : treeFiles(InstallationDirectory)) {
        if (!expected.contains(file) && !LauncherOwnFiles.contains(file)) {
            Difference = file + QStringLiteral(" should not be there");
            return false;
        }
    }
    return true;
}

QByteArray launcherSettingsText(const QUrl& ConfigurationUrl, const QStringList& ExtraOptions) {
    QByteArray text =
        "[URLS]\nlauncherConfiguration=" + ConfigurationUrl.toEncoded() +
        "\ncdnDiagnosticsTrace=\nappendNocacheToPackageUrls=false\n\n"
        "[DIRECTORIES]\npackages=packages\nsettingsTarget=VantorOnlineClient_Data/Data/Settings\n\n"
        "[FILES]\npackageFile=package.json\npartialPackageFile=partial-package.json\n"
        "assetFile=assets.json\naccountGroupFile=accountgroup.json\n\n"
        "[TIMING]\nwaitNotificationTimeout=500\ndownloadErrorTimeout=10000\nclientStartTimeout=30000\n\n"
        "[OPTIONS]\n";
    for (const QString& option : ExtraOptions) {
        text += option.toUtf8() + '\n';
    }
    return text;
}

std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader>
loadLauncherConfiguration(const std::shared_ptr<mirrel::launcher::TLauncherFilesystemHelper>& FileSystem,
                          QString& Error) {
    using mirrel::launcher::TLauncherConfigurationHandler;
    auto pool = std::make_shared<shared::TDownloadPool>(
        6, std::make_shared<shared::QNetworkAccessManagerWrapper>(std::make_shared<QNetworkAccessManager>()),
        nullptr, true);
    TLauncherConfigurationHandler handler(pool, FileSystem);
    bool finished = false;
    QObject::connect(&handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, &handler,
                     [&handler] { handler.requestPackageConfigurations(); });
    QObject::connect(&handler, &TLauncherConfigurationHandler::mainConfigurationDownloadFailed, &handler,
                     [&] {
                         Error = QStringLiteral("the launcher configuration could not be fetched");
                         finished = true;
                     });
    QObject::connect(&handler, &TLauncherConfigurationHandler::diskAccessFailed, &handler,
                     [&](const QString& Message) {
                         Error = Message;
                         finished = true;
                     });
    QObject::connect(&handler, &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished,
                     &handler, [&finished] { finished = true; });
    handler.startConfigurationDownload();
    const QDeadlineTimer deadline(60000);
    while (!finished && !deadline.hasExpired()) {
        QTest::qWait(5);
    }
    if (!finished) {
        Error = QStringLiteral("the launcher configuration did not arrive in time");
    }
    return Error.isEmpty() ? handler.configuration() : nullptr;
}

} // namespace testsupport
