#include "launcher/package/fileinpackage.h"
#include "launcher/package/filetodownload.h"
#include "launcher/package/package.h"
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

class TestPackage : public QObject {
    Q_OBJECT

private slots:
    // Builds as "os/architecture" separated by ';'; the pick is the index of the selected build.
    void buildSelection_data() {
        QTest::addColumn<QString>("builds");
        QTest::addColumn<EOperatingSystem>("os");
        QTest::addColumn<EArchitecture>("architecture");
        QTest::addColumn<int>("pick");
        const QString windows = u"windows/i386;WINDOWS/x86_64;windows/x86_64;Linux/i386;linux/X86_64"_qs;
        QTest::newRow("first match, any case")
            << windows << EOperatingSystem::Windows << EArchitecture::X86_64 << 1;
        QTest::newRow("i386") << windows << EOperatingSystem::Windows << EArchitecture::I386 << 0;
        QTest::newRow("linux i386") << windows << EOperatingSystem::Linux << EArchitecture::I386 << 3;
        QTest::newRow("linux x86_64") << windows << EOperatingSystem::Linux << EArchitecture::X86_64 << 4;
        QTest::newRow("macos") << u"MacOS/x86_64"_qs << EOperatingSystem::MacOs << EArchitecture::X86_64 << 0;
        QTest::newRow("no build for the system")
            << windows << EOperatingSystem::MacOs << EArchitecture::X86_64 << -1;
        QTest::newRow("other spellings are no names")
            << u" linux/x86_64;linux/x86-64"_qs << EOperatingSystem::Linux << EArchitecture::X86_64 << -1;
        QTest::newRow("unknown never matches unknown")
            << u"solaris/arm64"_qs << EOperatingSystem::Unknown << EArchitecture::Unknown << -1;
        QTest::newRow("no builds") << QString() << EOperatingSystem::Linux << EArchitecture::X86_64 << -1;
    }

    void buildSelection() {
        QFETCH(QString, builds);
        QFETCH(EOperatingSystem, os);
        QFETCH(EArchitecture, architecture);
        QFETCH(int, pick);
        QJsonArray entries;
        for (const QString& build : builds.split(u';', Qt::SkipEmptyParts)) {
            entries.append(QJsonObject{{u"os"_qs, build.section(u'/', 0, 0)},
                                       {u"architecture"_qs, build.section(u'/', 1)},
                                       {u"url"_qs, u"p.json"_qs}});
        }
        TPackage package(0, QJsonObject{{u"builds"_qs, entries}}, QUrl(u"http://127.0.0.1/"_qs));
        const TPackageBuild* picked = package.selectBuild(os, architecture);
        QCOMPARE(picked, pick < 0 ? nullptr : &package.builds()[std::size_t(pick)]);
        // This machine takes what the table gives for the system it reports.
        QCOMPARE(package.selectBuildForThisSystem(),
                 package.selectBuild(runningOperatingSystem(), launcherBuildArchitecture()));
    }

    // Qt's product type, kernel type and build architecture, separated by blanks.
    void runningSystemIsRecognised_data() {
        QTest::addColumn<QString>("systemInfo");
        QTest::addColumn<EOperatingSystem>("os");
        QTest::addColumn<EArchitecture>("architecture");
        QTest::newRow("windows") << u"windows winnt x86_64"_qs << EOperatingSystem::Windows
                                 << EArchitecture::X86_64;
        QTest::newRow("windows 32") << u"windows winnt i386"_qs << EOperatingSystem::Windows
                                    << EArchitecture::I386;
        QTest::newRow("osx") << u"osx darwin x86_64"_qs << EOperatingSystem::MacOs << EArchitecture::X86_64;
        QTest::newRow("darwin") << u"darwin darwin arm64"_qs << EOperatingSystem::MacOs
                                << EArchitecture::Unknown;
        QTest::newRow("any distribution")
            << u"debian linux i386"_qs << EOperatingSystem::Linux << EArchitecture::I386;
        QTest::newRow("freebsd") << u"freebsd freebsd x86_64"_qs << EOperatingSystem::Unknown
                                 << EArchitecture::X86_64;
    }

    void runningSystemIsRecognised() {
        QFETCH(QString, systemInfo);
        const QStringList info = systemInfo.split(u' ');
        QTEST(operatingSystemFromSystemInfo(info[0], info[1]), "os");
        QTEST(architectureFromBuildCpu(info[2]), "architecture");
    }

    // Base address, relative address and the result, separated by blanks.
    void resolveUrlJoinsPathsAndDropsTheQuery_data() {
        QTest::addColumn<QString>("addresses");
        QTest::newRow("base with slash") << u"http://h/dir/ chunks/ab http://h/dir/chunks/ab"_qs;
        QTest::newRow("base without slash") << u"http://h/dir chunks/ab http://h/dir/chunks/ab"_qs;
        QTest::newRow("slash is never removed") << u"http://h/dir/ /chunks/ab http://h/dir//chunks/ab"_qs;
        QTest::newRow("leading slash, base without") << u"http://h/dir /chunks/ab http://h/dir/chunks/ab"_qs;
        QTest::newRow("query dropped")
            << u"http://h:81/d/?nocache=abc&x=1 chunks/ab http://h:81/d/chunks/ab"_qs;
        QTest::newRow("empty base path") << u"http://h chunks/ab http://h/chunks/ab"_qs;
        QTest::newRow("absolute unchanged") << u"http://h/dir/ https://cdn/x/y?q=1 https://cdn/x/y?q=1"_qs;
        QTest::newRow("file url") << u"file:///opt/l/ packages/a.json file:///opt/l/packages/a.json"_qs;
        QTest::newRow("encoded characters") << u"http://h/my%20dir/ a%20b/c http://h/my%20dir/a%20b/c"_qs;
    }

    void resolveUrlJoinsPathsAndDropsTheQuery() {
        QFETCH(QString, addresses);
        const QStringList url = addresses.split(u' ');
        QCOMPARE(resolveUrl(QUrl(url[0]), QUrl(url[1])), QUrl(url[2]));
    }

    void versionLabels() {
        QCOMPARE(versionLabel(u"12"_qs, QString()), u"P12 A?"_qs);
        QCOMPARE(versionLabel(QString(), u"7"_qs), u"P? A7"_qs);
        // Version texts are taken literally, even when they look like placeholders.
        QCOMPARE(versionLabel(u"%2"_qs, u"%1"_qs), u"P%2 A%1"_qs);
    }

    // The chunk list expands through the table in file order; an index outside it is refused.
    void fileToDownloadExpandsTheChunkList_data() {
        QTest::addColumn<QList<int>>("indices");
        QTest::addColumn<QString>("expanded"); // chunk names, or "throws"
        QTest::newRow("repeated and out of order") << QList<int>{2, 0, 2} << "c2 c0 c2";
        QTest::newRow("no chunks") << QList<int>{} << "";
        QTest::newRow("table size") << QList<int>{0, 3} << "throws";
        QTest::newRow("negative") << QList<int>{-1} << "throws";
        QTest::newRow("largest index") << QList<int>{2147483647} << "throws";
    }

    void fileToDownloadExpandsTheChunkList() {
        QFETCH(QList<int>, indices);
        QFETCH(QString, expanded);
        TChunkInPackageVector table;
        for (const QString& name : {u"c0"_qs, u"c1"_qs, u"c2"_qs}) {
            TChunkInPackage chunk;
            chunk.Url = QUrl(u"http://127.0.0.1/"_qs + name);
            table.push_back(chunk);
        }
        TFileInPackage file;
        file.Chunks.assign(indices.begin(), indices.end());
        try {
            QStringList names;
            for (const TChunkInPackage& chunk : TFileToDownload(file, table).Chunks) {
                names << chunk.Url.fileName();
            }
            QCOMPARE(names.join(u' '), expanded);
        } catch (const std::runtime_error&) {
            QCOMPARE(u"throws"_qs, expanded);
        }
    }
};

LAUNCHER_TEST(TestPackage)
#include "tst_package.moc"
