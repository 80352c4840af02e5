#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "shared/container/container.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using testsupport::readBytes;
using testsupport::writeBytes;
using namespace mirrel::launcher;
using testsupport::operator""_qs;
using testsupport::randomBytes;
using testsupport::sha256;

namespace {

struct TRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

// Fetches over HTTP and waits for the answer; empty on failure.
QByteArray fetch(QNetworkAccessManager& Network, const QUrl& Url) {
    QNetworkReply* Reply = Network.get(QNetworkRequest(Url));
    QEventLoop Loop;
    QObject::connect(Reply, &QNetworkReply::finished, &Loop, &QEventLoop::quit);
    Loop.exec();
    const QByteArray Data = Reply->error() == QNetworkReply::NoError ? Reply->readAll() : QByteArray();
    Reply->deleteLater();
    return Data;
}

} // namespace

class TPublisherCommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        Home = std::make_unique<QTemporaryDir>();
        QVERIFY(Home->isValid());
    }

    void helpIsShown() {
        const QList<QStringList> Calls = {{}, {u"--help"_qs}, {u"help"_qs}, {u"-h"_qs}};
        for (const QStringList& Arguments : Calls) {
            const TRun Result = run(Arguments);
            QCOMPARE(Result.ExitCode, 0);
            QVERIFY(Result.Out.startsWith(u"Usage: vantor-publisher <command>"_qs));
            QVERIFY(Result.Out.contains(u"configure"_qs));
            QVERIFY(Result.Err.isEmpty());
        }
        TRun Result = run({u"publish"_qs, u"--help"_qs});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY(Result.Out.startsWith(u"Usage: vantor-publisher publish"_qs));
        QVERIFY(Result.Out.contains(u"--method 0|3|4|5"_qs));
        Result = run({u"configure"_qs, u"-h"_qs});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY(Result.Out.contains(u"build=<os>,<architecture>"_qs));
    }

    void badCommandLinesFailClearly_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        // "IN" is a small build directory, "OUT" an output folder, "BLOCKED" an
        // output folder below a plain file.
        const QString P = u"publish"_qs;
        const QString V = u"--version"_qs;
        const QString C = u"configure"_qs;
        const QString IN = u"IN"_qs;
        const QString OUT = u"OUT"_qs;
        QTest::newRow("unknown command")
            << QStringList{u"frobnicate"_qs} << 2 << u"Unknown command 'frobnicate'"_qs;
        QTest::newRow("unknown option")
            << QStringList{P, u"--bogus"_qs, IN, OUT} << 2 << u"Unknown option 'bogus'"_qs;
        QTest::newRow("missing value")
            << QStringList{P, IN, OUT, V} << 2 << u"Missing value after '--version'"_qs;
        QTest::newRow("no version") << QStringList{P, IN, OUT} << 2 << u"--version is required"_qs;
        QTest::newRow("one folder") << QStringList{P, V, u"1"_qs, IN} << 2
                                    << u"needs the build directory and the output folder"_qs;
        QTest::newRow("bad method") << QStringList{P, V, u"1"_qs, u"--method"_qs, u"9"_qs, IN, OUT} << 2
                                    << u"Unknown compression method 9"_qs;
        QTest::newRow("bad variant") << QStringList{P, V, u"1"_qs, u"--variant"_qs, u"alpha"_qs, IN, OUT} << 2
                                     << u"--variant must be one of regular, preview, beta, test"_qs;
        QTest::newRow("bad threads") << QStringList{P, V, u"1"_qs, u"--threads"_qs, u"0"_qs, IN, OUT} << 2
                                     << u"--threads needs a whole number of at least 1"_qs;
        QTest::newRow("missing input")
            << QStringList{P, V, u"1"_qs, u"MISSING"_qs, OUT} << 1 << u"does not exist"_qs;
        QTest::newRow("unwritable output")
            << QStringList{P, V, u"1"_qs, IN, u"BLOCKED"_qs} << 1 << u"I/O error on file"_qs;
        QTest::newRow("configure without file") << QStringList{C} << 2 << u"needs the configuration file"_qs;
        QTest::newRow("nested directory name")
            << QStringList{C, u"--package"_qs, u"name=A;directoryname=a/b"_qs, OUT} << 2
            << u"single folder name"_qs;
        QTest::newRow("unknown system")
            << QStringList{C, u"--package"_qs, u"name=A;directoryname=a;build=plan9,x86_64,p.json"_qs, OUT}
            << 2 << u"Unknown operating system 'plan9'"_qs;
        QTest::newRow("unknown field") << QStringList{C, u"--package"_qs, u"name=A;colour=red"_qs, OUT} << 2
                                       << u"Unknown package field 'colour'"_qs;
        QTest::newRow("bad service address")
            << QStringList{C, u"--hints"_qs, u"ftp://127.0.0.1/hints.json"_qs, OUT} << 2
            << u"not an absolute http or https address"_qs;
    }

    void badCommandLinesFailClearly() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QVERIFY(writeBytes(Home->filePath(u"IN/a.txt"_qs), QByteArray("alpha")));
        QVERIFY(writeBytes(Home->filePath(u"blocker"_qs), QByteArray()));
        arguments.replaceInStrings(u"BLOCKED"_qs, Home->filePath(u"blocker/cdn"_qs));
        arguments.replaceInStrings(u"MISSING"_qs, Home->filePath(u"missing"_qs));

        const TRun Result = run(arguments);
        QCOMPARE(Result.ExitCode, exitCode);
        QVERIFY2(Result.Err.startsWith(u"vantor-publisher: "_qs), qPrintable(Result.Err));
        QVERIFY2(Result.Err.contains(message), qPrintable(Result.Err));
        QCOMPARE(Result.Err.contains(u"--help"_qs), exitCode == 2);
        QVERIFY(Result.Out.isEmpty());
        QVERIFY(!QFileInfo::exists(Home->filePath(u"OUT"_qs)));
    }

    void scriptsBuildACdnTreeTheLauncherCanUse() {
        testsupport::TNginxFixture Nginx;
        const QString Cdn = Nginx.documentRoot() + u"/cdn"_qs;
        const QString Client = Home->filePath(u"client"_qs);
        const QString Assets = Home->filePath(u"assets"_qs);
        const QByteArray ClientBinary = randomBytes(9 * 1024 * 1024, 41);
        QVERIFY(writeBytes(Client + u"/vantor"_qs, ClientBinary));
        QVERIFY(QFile::setPermissions(Client + u"/vantor"_qs,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(writeBytes(Client + u"/lib/core.so"_qs, randomBytes(300000, 42)));
        QVERIFY(writeBytes(Assets + u"/data/world.pak"_qs, randomBytes(200000, 43)));

        TRun Result =
            run({u"publish"_qs, u"--version"_qs, u"3"_qs, u"--executable"_qs, u"vantor"_qs, u"--parameter"_qs,
                 u"-fullscreen"_qs, u"--method"_qs, u"4"_qs, Client, Cdn + u"/vantor/linux"_qs});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY2(Result.Err.isEmpty(), qPrintable(Result.Err)); // no progress bar off a terminal
        QVERIFY2(Result.Out.startsWith(u"Published package.json version 3: 2 files, 3 chunks (3 new: "_qs),
                 qPrintable(Result.Out));
        QCOMPARE(Result.Out.count(u'\n'), 1);
        Result = run({u"publish"_qs, u"--document"_qs, u"assets"_qs, u"--version"_qs, u"8"_qs, Assets,
                      Cdn + u"/vantor/linux"_qs});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY2(Result.Out.startsWith(u"Published assets.json version 8: 1 files, 1 chunks"_qs),
                 qPrintable(Result.Out));
        Result = run({u"configure"_qs, u"--package"_qs,
                      u"name=Vantor Online;directoryname=vantor;installautomatically=true;"
                      "logolinktarget=http://127.0.0.1/vantor;"
                      "build=Windows,x86_64,vantor/windows/package.json;"
                      "build=linux,x86_64,vantor/linux/package.json,vantor/linux/assets.json"_qs,
                      u"--launcher"_qs,
                      u"name=Launcher;directoryname=launcher;build=linux,x86_64,launcher/package.json"_qs,
                      u"--hints"_qs, u"http://127.0.0.1/hints.json"_qs, u"--funnel"_qs,
                      u"http://127.0.0.1/funnel"_qs, u"--hardware-survey"_qs, u"https://127.0.0.1/survey"_qs,
                      u"--show-package-names"_qs, Cdn + u"/launcher.json"_qs});
        QCOMPARE(Result.ExitCode, 0);
        QCOMPARE(Result.Out, u"Wrote %1/launcher.json: 1 packages and the launcher package.\n"_qs.arg(Cdn));

        // Everything below goes over HTTP, as the launcher would fetch it.
        QVERIFY2(Nginx.start(), qPrintable(Nginx.errorString()));
        QNetworkAccessManager Network;
        const QUrl ConfigurationUrl = Nginx.url(u"cdn/launcher.json"_qs);
        const TLauncherConfigurationReader Configuration(fetch(Network, ConfigurationUrl),
                                                         ConfigurationUrl.adjusted(QUrl::RemoveFilename));
        QCOMPARE(Configuration.packages().size(), std::size_t(1));
        QVERIFY(Configuration.launcherPackage());
        QCOMPARE(Configuration.launcherPackage()->index(), 2147483647);
        QCOMPARE(Configuration.hintsUrl(), QUrl(u"http://127.0.0.1/hints.json"_qs));
        QCOMPARE(Configuration.funnelUrl(), QUrl(u"http://127.0.0.1/funnel"_qs));
        QCOMPARE(Configuration.hardwareSurveyUrl(), QUrl(u"https://127.0.0.1/survey"_qs));
        QVERIFY(Configuration.showPackageNames());
        QVERIFY(!Configuration.preventDefaultAutostart());
        const TPackage& Package = *Configuration.packages().front();
        QCOMPARE(Package.name(), u"Vantor Online"_qs);
        QCOMPARE(Package.directoryName(), u"vantor"_qs);
        QVERIFY(Package.installAutomatically());
        QCOMPARE(Package.logoLinkTarget(), QUrl(u"http://127.0.0.1/vantor"_qs));
        QCOMPARE(Package.builds().size(), std::size_t(2));
        QVERIFY(Package.selectBuild(EOperatingSystem::Windows, EArchitecture::X86_64));
        const TPackageBuild* Build = Package.selectBuild(EOperatingSystem::Linux, EArchitecture::X86_64);
        QVERIFY(Build);
        QCOMPARE(Build->PackageConfigurationUrl, Nginx.url(u"cdn/vantor/linux/package.json"_qs));
        QCOMPARE(Build->AssetConfigurationUrl, Nginx.url(u"cdn/vantor/linux/assets.json"_qs));

        const TPackageConfigurationReader Reader(
            fetch(Network, Build->PackageConfigurationUrl), fetch(Network, Build->AssetConfigurationUrl),
            Build->PackageConfigurationUrl.adjusted(QUrl::RemoveFilename),
            Build->AssetConfigurationUrl.adjusted(QUrl::RemoveFilename));
        QVERIFY(Reader.isValid());
        QCOMPARE(Reader.executable(), u"vantor"_qs);
        QCOMPARE(Reader.parameters(), QStringList{u"-fullscreen"_qs});
        QCOMPARE(Reader.files().size(), std::size_t(3));
        const std::map<QString, QString> Sources = {{u"vantor"_qs, Client + u"/vantor"_qs},
                                                    {u"lib/core.so"_qs, Client + u"/lib/core.so"_qs},
                                                    {u"data/world.pak"_qs, Assets + u"/data/world.pak"_qs}};
        for (const TFileInPackage& File : Reader.files()) {
            QByteArray Assembled;
            for (const std::int32_t Index : File.Chunks) {
                const TChunkInPackage& Chunk = Reader.chunks().at(std::size_t(Index));
                QCOMPARE(Chunk.Url.host(), u"127.0.0.1"_qs);
                const QByteArray Packed = fetch(Network, Chunk.Url);
                QCOMPARE(sha256(Packed), Chunk.PackedHash);
                const QByteArray Content = shared::decompress(Packed);
                QCOMPARE(sha256(Content), Chunk.UnpackedHash);
                Assembled += Content;
            }
            QVERIFY2(Assembled == readBytes(Sources.at(File.LocalFile)), qPrintable(File.LocalFile));
            QCOMPARE(File.Executable, File.LocalFile == u"vantor"_qs);
        }
    }

private:
    TRun run(const QStringList& Arguments) const;

    std::unique_ptr<QTemporaryDir> Home;
};

TRun TPublisherCommandLineTest::run(const QStringList& Arguments) const {
    QProcess Process;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(u"HOME"_qs, Home->path());
    Environment.insert(u"XDG_CONFIG_HOME"_qs, Home->filePath(u"config"_qs));
    Environment.insert(u"XDG_CACHE_HOME"_qs, Home->filePath(u"cache"_qs));
    Environment.insert(u"XDG_DATA_HOME"_qs, Home->filePath(u"data"_qs));
    Environment.insert(u"TMPDIR"_qs, Home->path());
    Process.setProcessEnvironment(Environment);
    Process.setWorkingDirectory(Home->path());
    Process.start(testsupport::launcherBinDir() + u"/vantor-publisher"_qs, Arguments);
    TRun Result;
    if (!Process.waitForFinished(300000) || Process.exitStatus() != QProcess::NormalExit) {
        Result.Err = u"did not finish: "_qs + Process.errorString();
        return Result;
    }
    Result.ExitCode = Process.exitCode();
    Result.Out = QString::fromLocal8Bit(Process.readAllStandardOutput());
    Result.Err = QString::fromLocal8Bit(Process.readAllStandardError());
    return Result;
}

LAUNCHER_TEST(TPublisherCommandLineTest)
#include "tst_publishercli.moc"
