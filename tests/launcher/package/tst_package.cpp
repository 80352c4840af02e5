#include "launcher/package/filetodownload.h"
#include "launcher/package/fileinpackage.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/resolveurl.h"
#include "launcher/package/systemidentity.h"
#include "launcher/package/versionlabel.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

Q_DECLARE_METATYPE(EOperatingSystem)
Q_DECLARE_METATYPE(EArchitecture)

namespace {

const QUrl ConfigurationBase(u"http://127.0.0.1:8080/launcher/"_qs);

QJsonObject build(const QString& os, const QString& architecture, const QString& url,
                  const QString& assetsUrl = QString()) {
    QJsonObject object{{u"os"_qs, os}, {u"architecture"_qs, architecture}, {u"url"_qs, url}};
    if (!assetsUrl.isNull()) {
        object.insert(u"assetsurl"_qs, assetsUrl);
    }
    return object;
}

TChunkInPackage chunk(const QString& name) {
    TChunkInPackage chunk;
    chunk.Url = QUrl(u"http://127.0.0.1/"_qs + name);
    chunk.UnpackedHash = name.toUtf8();
    chunk.UnpackedSize = static_cast<TFileSize>(name.size());
    return chunk;
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

private slots:
    void entryWithoutBuildsHasNone() {
        const TPackage notAnArray(0, QJsonObject{{u"builds"_qs, u"linux"_qs}}, ConfigurationBase);
        QVERIFY(notAnArray.builds().empty());
        QVERIFY(!notAnArray.selectBuildForThisSystem());
        QVERIFY(!notAnArray.configurationForThisSystem());

        // A build element that is no object is an unknown build that never matches.
        const TPackage oddElement(1, QJsonObject{{u"builds"_qs, QJsonArray{42}}}, ConfigurationBase);
        QCOMPARE(oddElement.builds().size(), std::size_t(1));
        QCOMPARE(oddElement.builds()[0].OperatingSystem, EOperatingSystem::Unknown);
        QVERIFY(oddElement.builds()[0].PackageConfigurationUrl.isEmpty());
        QVERIFY(!oddElement.selectBuildForThisSystem());
    }

    void buildNamesAreCaseInsensitive_data() {
        QTest::addColumn<QString>("os");
        QTest::addColumn<QString>("architecture");
        QTest::addColumn<EOperatingSystem>("expectedOs");
        QTest::addColumn<EArchitecture>("expectedArchitecture");
        // clang-format off
        QTest::newRow("Windows")
            << "Windows" << "x86_64" << EOperatingSystem::Windows << EArchitecture::X86_64;
        QTest::newRow("windows") << "windows" << "i386" << EOperatingSystem::Windows << EArchitecture::I386;
        QTest::newRow("MACOS") << "MACOS" << "X86_64" << EOperatingSystem::MacOs << EArchitecture::X86_64;
        QTest::newRow("Linux") << "Linux" << "x86_64" << EOperatingSystem::Linux << EArchitecture::X86_64;
        QTest::newRow("unknown")
            << "solaris" << "arm64" << EOperatingSystem::Unknown << EArchitecture::Unknown;
        QTest::newRow("os with blanks")
            << " linux" << "x86-64" << EOperatingSystem::Unknown << EArchitecture::Unknown;
        // clang-format on
    }

    void buildNamesAreCaseInsensitive() {
        QFETCH(QString, os);
        QFETCH(QString, architecture);
        const TPackage package(0, QJsonObject{{u"builds"_qs, QJsonArray{build(os, architecture, u"p"_qs)}}},
                               ConfigurationBase);
        QTEST(package.builds()[0].OperatingSystem, "expectedOs");
        QTEST(package.builds()[0].Architecture, "expectedArchitecture");
    }

    void firstMatchingBuildIsSelected() {
        TPackage package(0,
                         QJsonObject{{u"builds"_qs, QJsonArray{build(u"windows"_qs, u"i386"_qs, u"a"_qs),
                                                               build(u"WINDOWS"_qs, u"x86_64"_qs, u"b"_qs),
                                                               build(u"windows"_qs, u"x86_64"_qs, u"c"_qs),
                                                               build(u"beos"_qs, u"ppc"_qs, u"d"_qs),
                                                               build(u"linux"_qs, u"i386"_qs, u"e"_qs),
                                                               build(u"linux"_qs, u"x86_64"_qs, u"f"_qs)}}},
                         ConfigurationBase);
        const TPackageBuild* selected = package.selectBuild(EOperatingSystem::Windows, EArchitecture::X86_64);
        QVERIFY(selected);
        QCOMPARE(selected, &package.builds()[1]);
        QCOMPARE(package.selectBuild(EOperatingSystem::Windows, EArchitecture::I386), &package.builds()[0]);
        QVERIFY(!package.selectBuild(EOperatingSystem::MacOs, EArchitecture::X86_64));
        // A system we cannot name does not pick the build nobody could name either.
        QVERIFY(!package.selectBuild(EOperatingSystem::Unknown, EArchitecture::Unknown));
        // This machine takes the Linux x86_64 build.
        QCOMPARE(runningOperatingSystem(), EOperatingSystem::Linux);
        QCOMPARE(launcherBuildArchitecture(), EArchitecture::X86_64);
        QCOMPARE(package.selectBuildForThisSystem(), &package.builds()[5]);
    }

    void runningSystemIsRecognised_data() {
        QTest::addColumn<QString>("productType");
        QTest::addColumn<QString>("kernelType");
        QTest::addColumn<QString>("buildCpu");
        QTest::addColumn<EOperatingSystem>("expectedOs");
        QTest::addColumn<EArchitecture>("expectedArchitecture");
        QTest::newRow("windows 64") << "windows"
                                    << "winnt"
                                    << "x86_64" << EOperatingSystem::Windows << EArchitecture::X86_64;
        QTest::newRow("windows 32") << "windows"
                                    << "winnt"
                                    << "i386" << EOperatingSystem::Windows << EArchitecture::I386;
        QTest::newRow("osx") << "osx"
                             << "darwin"
                             << "x86_64" << EOperatingSystem::MacOs << EArchitecture::X86_64;
        QTest::newRow("darwin") << "darwin"
                                << "darwin"
                                << "arm64" << EOperatingSystem::MacOs << EArchitecture::Unknown;
        QTest::newRow("debian") << "debian"
                                << "linux"
                                << "x86_64" << EOperatingSystem::Linux << EArchitecture::X86_64;
        QTest::newRow("any distribution") << "unknown"
                                          << "linux"
                                          << "i386" << EOperatingSystem::Linux << EArchitecture::I386;
        QTest::newRow("freebsd") << "freebsd"
                                 << "freebsd"
                                 << "x86_64" << EOperatingSystem::Unknown << EArchitecture::X86_64;
    }

    void runningSystemIsRecognised() {
        QFETCH(QString, productType);
        QFETCH(QString, kernelType);
        QFETCH(QString, buildCpu);
        QTEST(operatingSystemFromSystemInfo(productType, kernelType), "expectedOs");
        QTEST(architectureFromBuildCpu(buildCpu), "expectedArchitecture");
    }

    void resolveUrlJoinsPathsAndDropsTheQuery_data() {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("base with slash") << "http://h/dir/" << "chunks/ab" << "http://h/dir/chunks/ab";
        QTest::newRow("base without slash") << "http://h/dir" << "chunks/ab" << "http://h/dir/chunks/ab";
        QTest::newRow("slash is never removed")
            << "http://h/dir/" << "/chunks/ab" << "http://h/dir//chunks/ab";
        QTest::newRow("leading slash, base without")
            << "http://h/dir" << "/chunks/ab" << "http://h/dir/chunks/ab";
        QTest::newRow("query dropped")
            << "http://h:81/dir/?nocache=abc&x=1" << "chunks/ab" << "http://h:81/dir/chunks/ab";
        QTest::newRow("empty base path") << "http://h" << "chunks/ab" << "http://h/chunks/ab";
        QTest::newRow("absolute unchanged")
            << "http://h/dir/" << "https://cdn/x/y?q=1" << "https://cdn/x/y?q=1";
        QTest::newRow("file url")
            << "file:///opt/launcher/" << "packages/a.json" << "file:///opt/launcher/packages/a.json";
        QTest::newRow("encoded characters")
            << "http://h/my%20dir/" << "a%20b/c" << "http://h/my%20dir/a%20b/c";
        // clang-format on
    }

    void resolveUrlJoinsPathsAndDropsTheQuery() {
        QFETCH(QString, base);
        QFETCH(QString, url);
        QFETCH(QString, expected);
        QCOMPARE(resolveUrl(QUrl(base), QUrl(url)), QUrl(expected));
    }

    void versionLabels() {
        QCOMPARE(versionLabel(u"12"_qs, QString()), u"P12 A?"_qs);
        QCOMPARE(versionLabel(QString(), u"7"_qs), u"P? A7"_qs);
        QCOMPARE(versionLabel(QString(), QString()), u"P? A?"_qs);
        QCOMPARE(versionLabel(u"0.0.12"_qs, u"1"_qs), u"P0.0.12 A1"_qs);
        // Version texts are taken literally, even when they look like placeholders.
        QCOMPARE(versionLabel(u"%2"_qs, u"%1"_qs), u"P%2 A%1"_qs);
    }

    void fileToDownloadExpandsTheChunkList() {
        const TChunkInPackageVector table{chunk(u"c0"_qs), chunk(u"c1"_qs), chunk(u"c2"_qs)};
        TFileInPackage file;
        file.LocalFile = u"data/file.bin"_qs;
        file.Size = 6;
        file.Hash = QByteArray(32, 'h');
        file.Executable = true;
        file.Chunks = {2, 0, 2};
        file.Patches.push_back(TPatchInPackage{QUrl(u"http://h/p"_qs), 1, 2, 3});

        const TFileToDownload download(file, table);
        QVERIFY(download.Patches.empty());
        QVERIFY(download.ChunksToDownload.empty());
        QCOMPARE(download.Chunks.size(), std::size_t(3));
        QCOMPARE(download.Chunks[0].Url, table[2].Url);
        QCOMPARE(download.Chunks[1].UnpackedHash, table[0].UnpackedHash);
        QCOMPARE(download.Chunks[2].Url, table[2].Url);

        TFileInPackage unchunked;
        QVERIFY(TFileToDownload(unchunked, TChunkInPackageVector()).Chunks.empty());
    }

    void fileToDownloadRefusesIndicesOutsideTheTable() {
        const TChunkInPackageVector table{chunk(u"c0"_qs), chunk(u"c1"_qs)};
        for (const std::int32_t index : {2, -1, 2147483647}) {
            TFileInPackage file;
            file.LocalFile = u"f"_qs;
            file.Chunks = {0, index};
            QVERIFY_EXCEPTION_THROWN(TFileToDownload(file, table), std::runtime_error);
        }
    }
};

LAUNCHER_TEST(TestPackage)
#include "tst_package.moc"
