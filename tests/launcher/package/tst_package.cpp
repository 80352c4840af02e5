#include "launcher/package/fileinpackage.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/resolveurl.h"
#include "launcher/package/systemidentity.h"
#include "launcher/package/versionlabel.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QtTest>

using namespace mirrel::launcher;
using namespace testsupport;
using EOs = EOperatingSystem;
using EArch = EArchitecture;

Q_DECLARE_METATYPE(EOperatingSystem)
Q_DECLARE_METATYPE(EArchitecture)

namespace {

const QUrl PackageBase(u"http://127.0.0.1:8080/packages/client/"_qs);
const QUrl AssetBase(u"http://127.0.0.1:8080/assets/"_qs);

QString hex(const QByteArray& Content) {
    return QString::fromLatin1(sha256(Content).toHex());
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

private slots:
    // Builds as "os/architecture" separated by ';'; the pick is the index of the selected build.
    void buildSelection_data() {
        QTest::addColumn<QString>("builds");
        QTest::addColumn<EOs>("os");
        QTest::addColumn<EArch>("architecture");
        QTest::addColumn<int>("pick");
        const QString builds = u"windows/i386;WINDOWS/x86_64;windows/x86_64;MacOS/X86_64;linux/x86_64"_qs;
        QTest::newRow("first match, any case") << builds << EOs::Windows << EArch::X86_64 << 1;
        QTest::newRow("other architecture") << builds << EOs::Windows << EArch::I386 << 0;
        QTest::newRow("macos") << builds << EOs::MacOs << EArch::X86_64 << 3;
        QTest::newRow("no build for the system") << builds << EOs::Linux << EArch::I386 << -1;
        QTest::newRow("other spellings")
            << u" linux/x86_64;linux/x86-64"_qs << EOs::Linux << EArch::X86_64 << -1;
        QTest::newRow("unknown never matches unknown")
            << u"beos/arm64"_qs << EOs::Unknown << EArch::Unknown << -1;
    }

    void buildSelection() {
        QFETCH(QString, builds);
        QFETCH(EOs, os);
        QFETCH(EArch, architecture);
        QFETCH(int, pick);
        QJsonArray entries;
        for (const QString& build : builds.split(u';')) {
            entries.append(QJsonObject{{u"os"_qs, build.section(u'/', 0, 0)},
                                       {u"architecture"_qs, build.section(u'/', 1)}});
        }
        TPackage package(0, QJsonObject{{u"builds"_qs, entries}}, QUrl());
        QCOMPARE(package.selectBuild(os, architecture),
                 pick < 0 ? nullptr : &package.builds()[std::size_t(pick)]);
        // This machine takes what the table gives for the system it reports.
        QCOMPARE(package.selectBuildForThisSystem(),
                 package.selectBuild(runningOperatingSystem(), launcherBuildArchitecture()));
    }

    void resolveUrlJoinsPathsAndDropsTheQuery_data() {
        QTest::addColumn<QString>("addresses"); // base, relative address and result, separated by blanks
        QTest::newRow("base with slash") << u"http://h/dir/ chunks/ab http://h/dir/chunks/ab"_qs;
        QTest::newRow("base without slash") << u"http://h/dir chunks/ab http://h/dir/chunks/ab"_qs;
        QTest::newRow("slash is never removed") << u"http://h/dir/ /chunks/ab http://h/dir//chunks/ab"_qs;
        QTest::newRow("query dropped") << u"http://h:81/d/?nocache=abc&x=1 c/ab http://h:81/d/c/ab"_qs;
        QTest::newRow("absolute unchanged") << u"http://h/dir/ https://cdn/x/y?q=1 https://cdn/x/y?q=1"_qs;
        QTest::newRow("encoded characters") << u"http://h/my%20dir/ a%20b/c http://h/my%20dir/a%20b/c"_qs;
    }

    void resolveUrlJoinsPathsAndDropsTheQuery() {
        QFETCH(QString, addresses);
        const QStringList url = addresses.split(u' ');
        QCOMPARE(resolveUrl(QUrl(url[0]), QUrl(url[1])), QUrl(url[2]));
    }

    void labelsTakeVersionsLiterally() {
        QCOMPARE(versionLabel(u"12"_qs, QString()), u"P12 A?"_qs);
        QCOMPARE(versionLabel(u"%2"_qs, u"%1"_qs), u"P%2 A%1"_qs);
    }

    // Upper-case hashes with separators, absolute addresses, 64-bit sizes, reused chunks, a non-list.
    void readsEveryFieldOfBothDocuments() {
        const QByteArray package =
            uR"({"version": "12", "chunks": [{"url": "chunks/c0", "unpackedhash": "%1"},
                       {"url": "https:\/\/cdn.example.invalid/c1?sig=1", "unpack": false}],
            "files": [{"localfile": "bin/client", "chunks": [0, 1, 0], "unpack": false,
                       "url": "files/client.pack", "packedsize": 6e9, "unpackedsize": 8e9},
                      {"localfile": "c", "chunks": 5}]})"_qs.arg(hex("zero").toUpper().insert(8, u" :"_qs))
                .toUtf8();
        const QByteArray assets = R"({"version": "7b", "chunks": [{"url": "a/c0"}],
                                      "files": [{"localfile": "data/a.pak", "chunks": [2, 0]}]})";
        const TPackageConfigurationReader reader(package, assets, PackageBase, AssetBase);
        QCOMPARE(versionLabel(reader), u"P12 A7b"_qs);
        // One table: the package's chunks first, each address resolved against its own document.
        QCOMPARE(reader.chunks().size(), std::size_t(3));
        QCOMPARE(reader.chunks()[0].UnpackedHash, sha256("zero"));
        QVERIFY(reader.chunks()[0].Unpack && !reader.chunks()[1].Unpack);
        QCOMPARE(reader.chunks()[1].Url, QUrl(u"https://cdn.example.invalid/c1?sig=1"_qs));
        QCOMPARE(reader.chunks()[2].Url, AssetBase.resolved(QUrl(u"a/c0"_qs)));
        const TFileInPackage& binary = reader.files()[0];
        QCOMPARE(binary.Size, TFileSize(8000000000ULL));
        QCOMPARE(binary.Chunks, (std::vector<std::int32_t>{0, 1, 0}));
        QCOMPARE(binary.WholeFile.PackedSize, TFileSize(6000000000ULL));
        QVERIFY(!binary.WholeFile.Unpack);
        QVERIFY(reader.files()[1].Chunks.empty());
        QCOMPARE(reader.files()[2].Chunks, (std::vector<std::int32_t>{2, 0}));
    }

    void filesOfBothDocumentsAreSortedTogether() {
        // UTF-16 code-unit order: upper case before lower case, "/" (0x2F) before letters and digits.
        const QByteArray package = R"({"chunks": [{}], "files": [{"localfile": "zeta", "chunks": [0]},
            {"localfile": "Data/b", "chunks": [0]}, {"localfile": "a0"}]})";
        const QByteArray assets = u8R"({"chunks": [{}], "files": [{"localfile": "a/b", "chunks": [1]},
            {"localfile": "Data"}, {"localfile": "été"}]})";
        const TPackageConfigurationReader reader(package, assets, PackageBase, AssetBase);
        QStringList names;
        for (const TFileInPackage& entry : reader.files()) {
            names << entry.LocalFile + QString::number(entry.Chunks.empty() ? -1 : entry.Chunks.front());
        }
        QCOMPARE(names.join(u' '), u"Data-1 Data/b0 a/b1 a0-1 zeta0 \u00e9t\u00e9-1"_qs);
    }

    // An unreadable document, or a chunk index outside the combined table, gives an empty invalid reader.
    void hostileDocuments_data() {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("assets");
        QTest::addColumn<bool>("valid");
        const auto indexRow = [](const char* Name, const char* Index, bool InAssets, bool Valid) {
            const QString named = u"[0, %1, 1]"_qs.arg(QLatin1String(Index));
            const QString package =
                uR"({"chunks": [{}, {}, {}], "files": [{"localfile": "p", "chunks": %1}]})"_qs;
            const QString assets = uR"({"chunks": [{}, {}], "files": [{"localfile": "a", "chunks": %1}]})"_qs;
            QTest::newRow(Name) << package.arg(InAssets ? u"[1]"_qs : named).toUtf8()
                                << assets.arg(InAssets ? named : u"[3, 4]"_qs).toUtf8() << Valid;
        };
        indexRow("last index", "4", false, true);
        indexRow("last index, from the assets", "4", true, true);
        indexRow("table size", "5", false, false);
        indexRow("table size, from the assets", "5", true, false);
        indexRow("negative", "-1", false, false);
        indexRow("beyond 32 bits", "4294967296", true, false);
        indexRow("fraction", "1.5", false, false);
        indexRow("text", "\"1\"", false, false);
        indexRow("null", "null", true, false);
        const QByteArray good =
            R"({"version": "3", "chunks": [{}], "files": [{"localfile": "f", "chunks": [0]}]})";
        QTest::newRow("package cut short") << good.left(good.size() / 2) << QByteArray("{}") << false;
        QTest::newRow("package empty") << QByteArray() << QByteArray() << false;
        QTest::newRow("assets not JSON") << good << QByteArray("{\"version\": 7,") << false;
        QTest::newRow("no asset document") << good << QByteArray() << true;
        QTest::newRow("documents that are no objects") << QByteArray("[1, 2]") << QByteArray("[]") << true;
    }

    void hostileDocuments() {
        QFETCH(QByteArray, package);
        QFETCH(QByteArray, assets);
        QFETCH(bool, valid);
        const TPackageConfigurationReader reader(package, assets, PackageBase, AssetBase);
        QCOMPARE(reader.isValid(), valid);
        QCOMPARE(reader.rawPackageDocument(), package);
        QVERIFY(valid ||
                (reader.files().empty() && reader.chunks().empty() && versionLabel(reader) == u"P? A?"_qs));
    }

    // What a document that parses lacks to describe a package; the handler offers no such package.
    void incompleteDocuments_data() {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("assets");
        QTest::addColumn<QString>("reason");
        const QByteArray good = R"({"version": "3", "files": [], "chunks": []})";
        const auto row = [&good](const char* Name, const QByteArray& Package, const QByteArray& Assets,
                                 const char* Reason) {
            QTest::newRow(Name) << (Package.isNull() ? good : Package) << Assets
                                << QString::fromLatin1(Reason);
        };
        row("complete, no assets", {}, "", "");
        row("complete, numeric asset version", {}, R"({"version": 7, "files": [], "chunks": []})", "");
        row("empty package document", "{}", {}, "the package document has no version");
        row("package with an empty version", R"({"version": "", "files": [], "chunks": []})", {},
            "the package document has no version");
        row("package with a numeric version", R"({"version": 2, "files": [], "chunks": []})", {},
            "the package document has no version");
        row("package with files that are no list", R"({"version": "3", "files": {}, "chunks": []})", {},
            "the package document has no file list");
        row("package without chunks", R"({"version": "3", "files": []})", {},
            "the package document has no chunk table");
        row("empty asset document", {}, "{}", "the asset document has no version");
        row("asset document without files", {}, R"({"version": 7, "chunks": []})",
            "the asset document has no file list");
        row("asset document without chunks", {}, R"({"version": 7, "files": []})",
            "the asset document has no chunk table");
        row("asset document that is a list", {}, "[]", "the asset document is not a JSON object");
    }

    void incompleteDocuments() {
        QFETCH(QByteArray, package);
        QFETCH(QByteArray, assets);
        QTEST(TPackageConfigurationReader::incompleteness(package, assets), "reason");
    }
};

LAUNCHER_TEST(TestPackage)
#include "tst_package.moc"
