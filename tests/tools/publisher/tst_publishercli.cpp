#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "shared/container/container.h"
#include "support/nginxfixture.h"
#include "support/testpaths.h"
#include "support/installationkit.h"

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

namespace {

struct TRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

QByteArray sha256(const QByteArray& Data) {
    return QCryptographicHash::hash(Data, QCryptographicHash::Sha256);
}

QByteArray randomBytes(int Size, std::uint64_t Seed) {
    QByteArray Data(Size, Qt::Uninitialized);
    std::mt19937_64 Random(Seed);
    for (int i = 0; i < Size; ++i) {
        Data[i] = static_cast<char>(Random() >> 56);
    }
    return Data;
}

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
        const QList<QStringList> Calls = {
            {}, {QStringLiteral("--help")}, {QStringLiteral("help")}, {QStringLiteral("-h")}};
        for (const QStringList& Arguments : Calls) {
            const TRun Result = run(Arguments);
            QCOMPARE(Result.ExitCode, 0);
            QVERIFY(Result.Out.startsWith(QStringLiteral("Usage: vantor-publisher <command>")));
            QVERIFY(Result.Out.contains(QStringLiteral("configure")));
            QVERIFY(Result.Err.isEmpty());
        }
        TRun Result = run({QStringLiteral("publish"), QStringLiteral("--help")});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY(Result.Out.startsWith(QStringLiteral("Usage: vantor-publisher publish")));
        QVERIFY(Result.Out.contains(QStringLiteral("--method 0|3|4|5")));
        Result = run({QStringLiteral("configure"), QStringLiteral("-h")});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY(Result.Out.contains(QStringLiteral("build=<os>,<architecture>")));
    }

    void badCommandLinesFailClearly_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        // "IN" is a small build directory, "OUT" an output folder, "BLOCKED" an
        // output folder below a plain file.
        const QString P = QStringLiteral("publish");
        const QString V = QStringLiteral("--version");
        const QString C = QStringLiteral("configure");
        const QString IN = QStringLiteral("IN");
        const QString OUT = QStringLiteral("OUT");
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")} << 2
                                         << QStringLiteral("Unknown command 'frobnicate'");
        QTest::newRow("unknown option") << QStringList{P, QStringLiteral("--bogus"), IN, OUT} << 2
                                        << QStringLiteral("Unknown option 'bogus'");
        QTest::newRow("missing value")
            << QStringList{P, IN, OUT, V} << 2 << QStringLiteral("Missing value after '--version'");
        QTest::newRow("no version") << QStringList{P, IN, OUT} << 2
                                    << QStringLiteral("--version is required");
        QTest::newRow("one folder") << QStringList{P, V, QStringLiteral("1"), IN} << 2
                                    << QStringLiteral("needs the build directory and the output folder");
        QTest::newRow("bad method")
            << QStringList{P,  V,  QStringLiteral("1"), QStringLiteral("--method"), QStringLiteral("9"),
                           IN, OUT}
            << 2 << QStringLiteral("Unknown compression method 9");
        QTest::newRow("bad variant")
            << QStringList{P,  V,  QStringLiteral("1"), QStringLiteral("--variant"), QStringLiteral("alpha"),
                           IN, OUT}
            << 2 << QStringLiteral("--variant must be one of regular, preview, beta, test");
        QTest::newRow("bad threads")
            << QStringList{P,  V,  QStringLiteral("1"), QStringLiteral("--threads"), QStringLiteral("0"),
                           IN, OUT}
            << 2 << QStringLiteral("--threads needs a whole number of at least 1");
        QTest::newRow("missing input")
            << QStringList{P, V, QStringLiteral("1"), QStringLiteral("MISSING"), OUT} << 1
            << QStringLiteral("does not exist");
        QTest::newRow("unwritable output")
            << QStringList{P, V, QStringLiteral("1"), IN, QStringLiteral("BLOCKED")} << 1
            << QStringLiteral("I/O error on file");
        QTest::newRow("configure without file")
            << QStringList{C} << 2 << QStringLiteral("needs the configuration file");
        QTest::newRow("nested directory name")
            << QStringList{C, QStringLiteral("--package"), QStringLiteral("name=A;directoryname=a/b"), OUT}
            << 2 << QStringLiteral("single folder name");
        QTest::newRow("unknown system")
            << QStringList{C, QStringLiteral("--package"),
                           QStringLiteral("name=A;directoryname=a;build=plan9,x86_64,p.json"), OUT}
            << 2 << QStringLiteral("Unknown operating system 'plan9'");
        QTest::newRow("unknown field")
            << QStringList{C, QStringLiteral("--package"), QStringLiteral("name=A;colour=red"), OUT} << 2
            << QStringLiteral("Unknown package field 'colour'");
        QTest::newRow("bad service address")
            << QStringList{C, QStringLiteral("--hints"), QStringLiteral("ftp://127.0.0.1/hints.json"), OUT}
            << 2 << QStringLiteral("not an absolute http or https address");
    }

    void badCommandLinesFailClearly() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QVERIFY(writeBytes(Home->filePath(QStringLiteral("IN/a.txt")), QByteArray("alpha")));
        QVERIFY(writeBytes(Home->filePath(QStringLiteral("blocker")), QByteArray()));
        arguments.replaceInStrings(QStringLiteral("BLOCKED"), Home->filePath(QStringLiteral("blocker/cdn")));
        arguments.replaceInStrings(QStringLiteral("MISSING"), Home->filePath(QStringLiteral("missing")));

        const TRun Result = run(arguments);
        QCOMPARE(Result.ExitCode, exitCode);
        QVERIFY2(Result.Err.startsWith(QStringLiteral("vantor-publisher: ")), qPrintable(Result.Err));
        QVERIFY2(Result.Err.contains(message), qPrintable(Result.Err));
        QCOMPARE(Result.Err.contains(QStringLiteral("--help")), exitCode == 2);
        QVERIFY(Result.Out.isEmpty());
        QVERIFY(!QFileInfo::exists(Home->filePath(QStringLiteral("OUT"))));
    }

    void scriptsBuildACdnTreeTheLauncherCanUse() {
        testsupport::TNginxFixture Nginx;
        const QString Cdn = Nginx.documentRoot() + QStringLiteral("/cdn");
        const QString Client = Home->filePath(QStringLiteral("client"));
        const QString Assets = Home->filePath(QStringLiteral("assets"));
        const QByteArray ClientBinary = randomBytes(9 * 1024 * 1024, 41);
        QVERIFY(writeBytes(Client + QStringLiteral("/vantor"), ClientBinary));
        QVERIFY(QFile::setPermissions(Client + QStringLiteral("/vantor"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(writeBytes(Client + QStringLiteral("/lib/core.so"), randomBytes(300000, 42)));
        QVERIFY(writeBytes(Assets + QStringLiteral("/data/world.pak"), randomBytes(200000, 43)));

        TRun Result =
            run({QStringLiteral("publish"), QStringLiteral("--version"), QStringLiteral("3"),
                 QStringLiteral("--executable"), QStringLiteral("vantor"), QStringLiteral("--parameter"),
                 QStringLiteral("-fullscreen"), QStringLiteral("--method"), QStringLiteral("4"), Client,
                 Cdn + QStringLiteral("/vantor/linux")});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY2(Result.Err.isEmpty(), qPrintable(Result.Err)); // no progress bar off a terminal
        QVERIFY2(Result.Out.startsWith(
                     QStringLiteral("Published package.json version 3: 2 files, 3 chunks (3 new: ")),
                 qPrintable(Result.Out));
        QCOMPARE(Result.Out.count(QLatin1Char('\n')), 1);
        Result = run({QStringLiteral("publish"), QStringLiteral("--document"), QStringLiteral("assets"),
                      QStringLiteral("--version"), QStringLiteral("8"), Assets,
                      Cdn + QStringLiteral("/vantor/linux")});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY2(Result.Out.startsWith(QStringLiteral("Published assets.json version 8: 1 files, 1 chunks")),
                 qPrintable(Result.Out));
        Result = run(
            {QStringLiteral("configure"), QStringLiteral("--package"),
             QStringLiteral("name=Vantor Online;directoryname=vantor;installautomatically=true;"
                            "logolinktarget=http://127.0.0.1/vantor;"
                            "build=Windows,x86_64,vantor/windows/package.json;"
                            "build=linux,x86_64,vantor/linux/package.json,vantor/linux/assets.json"),
             QStringLiteral("--launcher"),
             QStringLiteral("name=Launcher;directoryname=launcher;build=linux,x86_64,launcher/package.json"),
             QStringLiteral("--hints"), QStringLiteral("http://127.0.0.1/hints.json"),
             QStringLiteral("--funnel"), QStringLiteral("http://127.0.0.1/funnel"),
             QStringLiteral("--hardware-survey"), QStringLiteral("https://127.0.0.1/survey"),
             QStringLiteral("--show-package-names"), Cdn + QStringLiteral("/launcher.json")});
        QCOMPARE(Result.ExitCode, 0);
        QCOMPARE(Result.Out,
                 QStringLiteral("Wrote %1/launcher.json: 1 packages and the launcher package.\n").arg(Cdn));

        // Everything below goes over HTTP, as the launcher would fetch it.
        QVERIFY2(Nginx.start(), qPrintable(Nginx.errorString()));
        QNetworkAccessManager Network;
        const QUrl ConfigurationUrl = Nginx.url(QStringLiteral("cdn/launcher.json"));
        const TLauncherConfigurationReader Configuration(fetch(Network, ConfigurationUrl),
                                                         ConfigurationUrl.adjusted(QUrl::RemoveFilename));
        QCOMPARE(Configuration.packages().size(), std::size_t(1));
        QVERIFY(Configuration.launcherPackage());
        QCOMPARE(Configuration.launcherPackage()->index(), 2147483647);
        QCOMPARE(Configuration.hintsUrl(), QUrl(QStringLiteral("http://127.0.0.1/hints.json")));
        QCOMPARE(Configuration.funnelUrl(), QUrl(QStringLiteral("http://127.0.0.1/funnel")));
        QCOMPARE(Configuration.hardwareSurveyUrl(), QUrl(QStringLiteral("https://127.0.0.1/survey")));
        QVERIFY(Configuration.showPackageNames());
        QVERIFY(!Configuration.preventDefaultAutostart());
        const TPackage& Package = *Configuration.packages().front();
        QCOMPARE(Package.name(), QStringLiteral("Vantor Online"));
        QCOMPARE(Package.directoryName(), QStringLiteral("vantor"));
        QVERIFY(Package.installAutomatically());
        QCOMPARE(Package.logoLinkTarget(), QUrl(QStringLiteral("http://127.0.0.1/vantor")));
        QCOMPARE(Package.builds().size(), std::size_t(2));
        QVERIFY(Package.selectBuild(EOperatingSystem::Windows, EArchitecture::X86_64));
        const TPackageBuild* Build = Package.selectBuild(EOperatingSystem::Linux, EArchitecture::X86_64);
        QVERIFY(Build);
        QCOMPARE(Build->PackageConfigurationUrl, Nginx.url(QStringLiteral("cdn/vantor/linux/package.json")));
        QCOMPARE(Build->AssetConfigurationUrl, Nginx.url(QStringLiteral("cdn/vantor/linux/assets.json")));

        const TPackageConfigurationReader Reader(
            fetch(Network, Build->PackageConfigurationUrl), fetch(Network, Build->AssetConfigurationUrl),
            Build->PackageConfigurationUrl.adjusted(QUrl::RemoveFilename),
            Build->AssetConfigurationUrl.adjusted(QUrl::RemoveFilename));
        QVERIFY(Reader.isValid());
        QCOMPARE(Reader.executable(), QStringLiteral("vantor"));
        QCOMPARE(Reader.parameters(), QStringList{QStringLiteral("-fullscreen")});
        QCOMPARE(Reader.files().size(), std::size_t(3));
        const std::map<QString, QString> Sources = {
            {QStringLiteral("vantor"), Client + QStringLiteral("/vantor")},
            {QStringLiteral("lib/core.so"), Client + QStringLiteral("/lib/core.so")},
            {QStringLiteral("data/world.pak"), Assets + QStringLiteral("/data/world.pak")}};
        for (const TFileInPackage& File : Reader.files()) {
            QByteArray Assembled;
            for (const std::int32_t Index : File.Chunks) {
                const TChunkInPackage& Chunk = Reader.chunks().at(std::size_t(Index));
                QCOMPARE(Chunk.Url.host(), QStringLiteral("127.0.0.1"));
                const QByteArray Packed = fetch(Network, Chunk.Url);
                QCOMPARE(sha256(Packed), Chunk.PackedHash);
                const QByteArray Content = shared::decompress(Packed);
                QCOMPARE(sha256(Content), Chunk.UnpackedHash);
                Assembled += Content;
            }
            QVERIFY2(Assembled == readBytes(Sources.at(File.LocalFile)), qPrintable(File.LocalFile));
            QCOMPARE(File.Executable, File.LocalFile == QLatin1String("vantor"));
        }
    }

private:
    TRun run(const QStringList& Arguments) const;

    std::unique_ptr<QTemporaryDir> Home;
};

TRun TPublisherCommandLineTest::run(const QStringList& Arguments) const {
    QProcess Process;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("HOME"), Home->path());
    Environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Home->filePath(QStringLiteral("config")));
    Environment.insert(QStringLiteral("XDG_CACHE_HOME"), Home->filePath(QStringLiteral("cache")));
    Environment.insert(QStringLiteral("XDG_DATA_HOME"), Home->filePath(QStringLiteral("data")));
    Environment.insert(QStringLiteral("TMPDIR"), Home->path());
    Process.setProcessEnvironment(Environment);
    Process.setWorkingDirectory(Home->path());
    Process.start(testsupport::launcherBinDir() + QStringLiteral("/vantor-publisher"), Arguments);
    TRun Result;
    if (!Process.waitForFinished(300000) || Process.exitStatus() != QProcess::NormalExit) {
        Result.Err = QStringLiteral("did not finish: ") + Process.errorString();
        return Result;
    }
    Result.ExitCode = Process.exitCode();
    Result.Out = QString::fromLocal8Bit(Process.readAllStandardOutput());
    Result.Err = QString::fromLocal8Bit(Process.readAllStandardError());
    return Result;
}

QTEST_GUILESS_MAIN(TPublisherCommandLineTest)
#include "tst_publishercli.moc"
