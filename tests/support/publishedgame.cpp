#include "support/publishedgame.h"

#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QtTest>

namespace testsupport {

namespace {

const QString PackageFolder = u"vantor/linux"_qs;

// Files an installation holds besides the package's own: markers and the account group copy.
const QSet<QString> LauncherOwnFiles = {u"package.json"_qs, u"partial-package.json"_qs, u"assets.json"_qs,
                                        u"default"_qs,
                                        u"VantorOnlineClient_Data/Data/Settings/accountgroup.json"_qs};

// The publisher's output becomes the error only when it fails.
bool publisherRun(const QStringList& Arguments, QString& Error) {
    QString output;
    if (runPublisher(Arguments, output))
        return true;
    Error = output;
    return false;
}

bool copyFile(const QString& Source, const QString& Target) {
    QFile::remove(Target);
    return QFile::copy(Source, Target);
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
    return QDir(m_WorkDirectory).filePath(u"client-v%1"_qs.arg(Version));
}

QString TPublishedGame::assetTree(int Version) const {
    return QDir(m_WorkDirectory).filePath(u"assets-v%1"_qs.arg(Version));
}

bool TPublishedGame::writeTrees() const {
    const QString one = clientTree(1);
    const QString two = clientTree(2);
    const QByteArray stable = seededBytes(101, 18 * 1024 * 1024);
    QByteArray big = seededBytes(102, 18 * 1024 * 1024);
    const QByteArray client = seededBytes(103, 200 * 1024);
    bool written = writeBytes(one + u"/stable.bin"_qs, stable) && writeBytes(one + u"/big.bin"_qs, big) &&
                   writeBytes(one + u"/bin/client"_qs, client) && makeExecutable(one + u"/bin/client"_qs) &&
                   writeBytes(one + u"/data/readme.txt"_qs, "Vantor Online, version one\n") &&
                   writeBytes(one + u"/old/obsolete.dat"_qs, seededBytes(104, 50 * 1024)) &&
                   writeBytes(assetTree(1) + u"/assets/world.pak"_qs, seededBytes(105, 1024 * 1024));
    big.replace(9 * 1024 * 1024, 100 * 1024, seededBytes(106, 100 * 1024));
    written = written && writeBytes(two + u"/stable.bin"_qs, stable) &&
              writeBytes(two + u"/big.bin"_qs, big) && writeBytes(two + u"/bin/client"_qs, client) &&
              makeExecutable(two + u"/bin/client"_qs) &&
              writeBytes(two + u"/data/readme.txt"_qs, "Vantor Online, version two\n") &&
              writeBytes(two + u"/new/added.dat"_qs, seededBytes(107, 300 * 1024)) &&
              writeBytes(assetTree(2) + u"/assets/world.pak"_qs, seededBytes(108, 1024 * 1024));
    return written;
}

bool TPublishedGame::publishVersion(const QString& CdnRoot, int Version, QString& Error) const {
    const QString output = QDir(CdnRoot).filePath(PackageFolder);
    const QString packageDocument = u"package-v%1.json"_qs.arg(Version);
    const QString assetDocument = u"assets-v%1.json"_qs.arg(Version);
    return publisherRun({u"publish"_qs, u"--version"_qs, packageVersion(Version), u"--name"_qs,
                         packageDocument, u"--assets-document"_qs, assetDocument, u"--executable"_qs,
                         executable(), u"--parameter"_qs, u"-windowed"_qs, u"--method"_qs, u"0"_qs,
                         u"--no-progress"_qs, clientTree(Version), output},
                        Error) &&
           publisherRun({u"publish"_qs, u"--document"_qs, u"assets"_qs, u"--version"_qs,
                         assetVersion(Version), u"--name"_qs, assetDocument, u"--package-document"_qs,
                         packageDocument, u"--method"_qs, u"0"_qs, u"--no-progress"_qs, assetTree(Version),
                         output},
                        Error);
}

bool TPublishedGame::publish(const QString& CdnRoot, QString& Error) const {
    if (!writeTrees()) {
        Error = u"the build trees could not be written"_qs;
        return false;
    }
    const QString build = u"build=linux,x86_64,%1/package.json,%1/assets.json"_qs.arg(PackageFolder);
    return publishVersion(CdnRoot, 1, Error) && publishVersion(CdnRoot, 2, Error) &&
           publisherRun({u"configure"_qs, u"--package"_qs,
                         u"name=Vantor Online;directoryname=vantor;"_qs + build, u"--package"_qs,
                         u"name=Vantor Classic;directoryname=classic;"_qs + build, u"--launcher"_qs,
                         u"name=Launcher;directoryname=launcher;"_qs + build,
                         QDir(CdnRoot).filePath(u"launcher.json"_qs)},
                        Error);
}

bool TPublishedGame::release(const QString& CdnRoot, int Version) const {
    const QDir output(QDir(CdnRoot).filePath(PackageFolder));
    return copyFile(output.filePath(u"package-v%1.json"_qs.arg(Version)),
                    output.filePath(u"package.json"_qs)) &&
           copyFile(output.filePath(u"assets-v%1.json"_qs.arg(Version)), output.filePath(u"assets.json"_qs));
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
            Difference = file + u" should not be there"_qs;
            return false;
        }
    }
    return true;
}

QByteArray launcherSettingsText(const QUrl& ConfigurationUrl, const QStringList& ExtraOptions,
                                qint64 ClientStartTimeout) {
    QByteArray text =
        "[URLS]\nlauncherConfiguration=" + ConfigurationUrl.toEncoded() +
        "\ncdnDiagnosticsTrace=\nappendNocacheToPackageUrls=false\n\n"
        "[DIRECTORIES]\npackages=packages\nsettingsTarget=VantorOnlineClient_Data/Data/Settings\n\n"
        "[FILES]\npackageFile=package.json\npartialPackageFile=partial-package.json\n"
        "assetFile=assets.json\naccountGroupFile=accountgroup.json\n\n"
        "[TIMING]\nwaitNotificationTimeout=500\ndownloadErrorTimeout=10000\nclientStartTimeout=" +
        QByteArray::number(ClientStartTimeout) + "\n\n[OPTIONS]\nretryPause=10\n";
    for (const QString& option : ExtraOptions) {
        text += option.toUtf8() + '\n';
    }
    return text;
}

std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader>
loadLauncherConfiguration(const std::shared_ptr<mirrel::launcher::TLauncherFilesystemHelper>& FileSystem,
                          QString& Error) {
    using mirrel::launcher::TLauncherConfigurationHandler;
    TLauncherConfigurationHandler handler(makeDownloadPool(), FileSystem);
    bool finished = false;
    QObject::connect(&handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, &handler,
                     [&handler] { handler.requestPackageConfigurations(); });
    QObject::connect(&handler, &TLauncherConfigurationHandler::mainConfigurationDownloadFailed, &handler,
                     [&] {
                         Error = u"the launcher configuration could not be fetched"_qs;
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
    if (!QTest::qWaitFor([&finished] { return finished; }, 60000)) {
        Error = u"the launcher configuration did not arrive in time"_qs;
    }
    return Error.isEmpty() ? handler.configuration() : nullptr;
}

} // namespace testsupport
