#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "shared/container/container.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;
using testsupport::randomBytes;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

// Runs the publisher program in Folder; its exit code, standard output and standard error.
QStringList run(const QString& Folder, const QStringList& Arguments) {
    QProcess process;
    process.setWorkingDirectory(Folder);
    process.start(testsupport::launcherBinDir() + u"/vantor-publisher"_qs, Arguments);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit) {
        return {u"did not finish"_qs, QString(), QString()};
    }
    return {QString::number(process.exitCode()), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QByteArray fetch(QNetworkAccessManager& Network, const QUrl& Url) {
    QNetworkReply* pReply = Network.get(QNetworkRequest(Url));
    QSignalSpy finished(pReply, &QNetworkReply::finished);
    const bool ok = finished.wait(30000) && pReply->error() == QNetworkReply::NoError;
    pReply->deleteLater();
    return ok ? pReply->readAll() : QByteArray();
}

} // namespace

class TPublisherCommandLineTest : public QObject {
    Q_OBJECT

private slots:
    // Exit 0 shows help on standard output; 2 is a usage error naming --help, 1 a failure; both on
    // standard error, and nothing is written.
    void commandLines_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* Name, const char* Arguments, int ExitCode, const char* Message) {
            QTest::newRow(Name) << QString::fromUtf8(Arguments) << ExitCode << QString::fromUtf8(Message);
        };
        row("no command", "", 0, "Usage: vantor-publisher <command>");
        row("help", "help", 0, "Usage: vantor-publisher <command>");
        row("publish help", "publish -h", 0, "--method 0|3|4|5");
        row("configure help", "configure --help", 0, "build=<os>,<architecture>");
        row("unknown command", "frobnicate", 2, "Unknown command 'frobnicate'");
        row("unknown option", "publish --bogus in out", 2, "Unknown option 'bogus'");
        row("missing value", "publish in out --version", 2, "Missing value after '--version'");
        row("no version", "publish in out", 2, "--version is required");
        row("one folder", "publish --version 1 in", 2, "needs the build directory and the output folder");
        row("bad method", "publish --version 1 --method 9 in out", 2, "Unknown compression method 9");
        row("bad variant", "publish --version 1 --variant alpha in out", 2,
            "--variant must be one of regular, preview");
        row("bad threads", "publish --version 1 --threads 0 in out", 2,
            "--threads needs a whole number of at least 1");
        row("document in a folder", "publish --version 1 --name sub/p.json in out", 2, "without folders");
        row("assets with executable", "publish --document assets --version 1 --executable a.txt in out", 2,
            "package documents only");
        row("missing input", "publish --version 1 missing out", 1, "does not exist");
        row("executable missing", "publish --version 1 --executable bin/x in out", 1,
            "'bin/x' is not a file");
        row("output inside the build", "publish --version 1 in in/out", 1, "lies inside the build directory");
        row("assets first", "publish --document assets --version 1 in out", 1,
            "publish the package document first");
        row("unwritable output", "publish --version 1 in blocker/out", 1, "I/O error on file");
        row("configure without file", "configure", 2, "needs the configuration file");
        row("nested directory name", "configure --package name=A;directoryname=a/b out", 2,
            "single folder name");
        row("unknown system", "configure --package name=A;directoryname=a;build=plan9,x86_64,p.json out", 2,
            "Unknown operating system 'plan9'");
        row("unknown field", "configure --package name=A;colour=red out", 2,
            "Unknown package field 'colour'");
        row("bad service address", "configure --hints ftp://127.0.0.1/h.json out", 2,
            "not an absolute http or https address");
    }

    void commandLines() {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir folder;
        QVERIFY(writeBytes(folder.filePath(u"in/a.txt"_qs), "alpha") &&
                writeBytes(folder.filePath(u"blocker"_qs), ""));
        const QStringList result = run(folder.path(), arguments.split(u' ', Qt::SkipEmptyParts));
        QCOMPARE(result[0], QString::number(exitCode));
        const QString shown = result[exitCode == 0 ? 1 : 2];
        QVERIFY2(shown.contains(message) && result[exitCode == 0 ? 2 : 1].isEmpty(), qPrintable(shown));
        QCOMPARE(shown.startsWith(u"vantor-publisher: "_qs) && shown.contains(u"--help"_qs), exitCode == 2);
        QVERIFY(!QFileInfo::exists(folder.filePath(u"out"_qs)) &&
                !QFileInfo::exists(folder.filePath(u"in/out"_qs)));
    }

    void scriptsBuildACdnTreeTheLauncherCanUse() {
        QTemporaryDir home;
        testsupport::TNginxFixture nginx;
        const QString cdn = nginx.documentRoot() + u"/cdn"_qs, client = home.filePath(u"client"_qs);
        QVERIFY(writeBytes(client + u"/vantor"_qs, randomBytes(9 * 1024 * 1024, 41)));
        QVERIFY(QFile::setPermissions(client + u"/vantor"_qs, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(writeBytes(client + u"/lib/core.so"_qs, randomBytes(300000, 42)));
        QVERIFY(writeBytes(home.filePath(u"assets/data/world.pak"_qs), randomBytes(200000, 43)));
        QStringList result =
            run(home.path(),
                {u"publish"_qs, u"--version"_qs, u"3"_qs, u"--executable"_qs, u"vantor"_qs, u"--parameter"_qs,
                 u"-fullscreen"_qs, u"--method"_qs, u"4"_qs, u"client"_qs, cdn + u"/vantor/linux"_qs});
        // One line of summary, and no progress bar off a terminal.
        QVERIFY2(result[1].startsWith(u"Published package.json version 3: 2 files, 3 chunks (3 new: "_qs) &&
                     result[1].count(u'\n') == 1 && result[2].isEmpty(),
                 qPrintable(result.join(u'|')));
        result = run(home.path(), {u"publish"_qs, u"--document"_qs, u"assets"_qs, u"--version"_qs, u"8"_qs,
                                   u"assets"_qs, cdn + u"/vantor/linux"_qs});
        QVERIFY2(result[1].startsWith(u"Published assets.json version 8: 1 files, 1 chunks"_qs),
                 qPrintable(result[2]));
        result = run(home.path(),
                     {u"configure"_qs, u"--package"_qs,
                      u"name=Vantor Online;directoryname=vantor;installautomatically=true;"
                      "logolinktarget=http://127.0.0.1/vantor;build=Windows,x86_64,vantor/windows/p.json;"
                      "build=linux,x86_64,vantor/linux/package.json,vantor/linux/assets.json"_qs,
                      u"--launcher"_qs, u"name=Launcher;directoryname=launcher;build=linux,x86_64,l.json"_qs,
                      u"--hints"_qs, u"http://127.0.0.1/hints.json"_qs, u"--funnel"_qs,
                      u"http://127.0.0.1/funnel"_qs, u"--hardware-survey"_qs, u"https://127.0.0.1/survey"_qs,
                      u"--show-package-names"_qs, cdn + u"/launcher.json"_qs});
        QCOMPARE(result[1], u"Wrote %1/launcher.json: 1 packages and the launcher package.\n"_qs.arg(cdn));

        // Everything below goes over HTTP, as the launcher would fetch it.
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        QNetworkAccessManager network;
        const QUrl configurationUrl = nginx.url(u"cdn/launcher.json"_qs);
        const TLauncherConfigurationReader configuration(fetch(network, configurationUrl),
                                                         configurationUrl.adjusted(QUrl::RemoveFilename));
        QCOMPARE(configuration.launcherPackage()->index(), 2147483647);
        QCOMPARE(configuration.hintsUrl().toString() + configuration.funnelUrl().toString() +
                     configuration.hardwareSurveyUrl().toString(),
                 u"http://127.0.0.1/hints.jsonhttp://127.0.0.1/funnelhttps://127.0.0.1/survey"_qs);
        QVERIFY(configuration.showPackageNames() && !configuration.preventDefaultAutostart());
        const TPackage& package = *configuration.packages().at(0);
        QCOMPARE(package.name() + package.directoryName(), u"Vantor Onlinevantor"_qs);
        QVERIFY(package.installAutomatically());
        QCOMPARE(package.logoLinkTarget(), QUrl(u"http://127.0.0.1/vantor"_qs));
        QVERIFY(package.selectBuild(EOperatingSystem::Windows, EArchitecture::X86_64));
        const TPackageBuild* pBuild = package.selectBuild(EOperatingSystem::Linux, EArchitecture::X86_64);
        QCOMPARE(pBuild->AssetConfigurationUrl, nginx.url(u"cdn/vantor/linux/assets.json"_qs));
        const TPackageConfigurationReader reader(
            fetch(network, pBuild->PackageConfigurationUrl), fetch(network, pBuild->AssetConfigurationUrl),
            pBuild->PackageConfigurationUrl.adjusted(QUrl::RemoveFilename),
            pBuild->AssetConfigurationUrl.adjusted(QUrl::RemoveFilename));
        QCOMPARE(reader.executable() + reader.parameters().join(u' '), u"vantor-fullscreen"_qs);
        QCOMPARE(reader.files().size(), std::size_t(3));
        for (const TFileInPackage& file : reader.files()) {
            QByteArray assembled;
            for (const std::int32_t index : file.Chunks) {
                const TChunkInPackage& chunk = reader.chunks().at(std::size_t(index));
                const QByteArray packed = fetch(network, chunk.Url);
                QCOMPARE(testsupport::sha256(packed), chunk.PackedHash);
                assembled += shared::decompress(packed);
            }
            const QString source = home.filePath(
                (file.LocalFile.startsWith(u"data"_qs) ? u"assets/"_qs : u"client/"_qs) + file.LocalFile);
            QVERIFY2(assembled == readBytes(source), qPrintable(file.LocalFile));
            QCOMPARE(testsupport::sha256(assembled), file.Hash);
            QCOMPARE(file.Executable, file.LocalFile == u"vantor"_qs);
        }
    }
};

LAUNCHER_TEST(TPublisherCommandLineTest)
#include "tst_publishercli.moc"
