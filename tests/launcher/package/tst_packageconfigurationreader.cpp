#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/versionlabel.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::sha256;
using testsupport::operator""_qs;

namespace {

const QUrl PackageBase(u"http://127.0.0.1:8080/packages/client/"_qs);
const QUrl AssetBase(u"http://127.0.0.1:8080/assets/"_qs);

QByteArray json(const QJsonObject& Object) {
    return QJsonDocument(Object).toJson(QJsonDocument::Compact);
}

QString hex(const QByteArray& Content) {
    return QString::fromLatin1(sha256(Content).toHex());
}

QJsonObject chunk(const QString& Url, const QByteArray& Content) {
    return QJsonObject{{u"url"_qs, Url},
                       {u"packedhash"_qs, hex("packed " + Content)},
                       {u"packedsize"_qs, Content.size() + 10},
                       {u"unpackedhash"_qs, hex(Content)},
                       {u"unpackedsize"_qs, Content.size()}};
}

QJsonObject file(const QString& LocalFile, const QJsonArray& Chunks) {
    return QJsonObject{{u"localfile"_qs, LocalFile}, {u"chunks"_qs, Chunks}};
}

QJsonArray chunks(const QString& Prefix, int Count) {
    QJsonArray result;
    for (int index = 0; index < Count; ++index) {
        result.append(chunk(Prefix + QString::number(index), Prefix.toUtf8() + QByteArray::number(index)));
    }
    return result;
}

} // namespace

class TestPackageConfigurationReader : public QObject {
    Q_OBJECT

private slots:
    void readsEveryFieldOfBothDocuments() {
        QJsonObject client = file(u"bin/client"_qs, QJsonArray{0, 1, 0});
        client.insert(u"executable"_qs, true);
        client.insert(u"url"_qs, u"files/client.pack"_qs);
        client.insert(u"packedsize"_qs, 6000000000.0); // above 32 bits
        client.insert(u"unpackedsize"_qs, 8000000000.0);
        client.insert(u"unpackedhash"_qs, hex("bin/client"));
        client.insert(u"unpack"_qs, false);
        client.insert(
            u"patches"_qs,
            QJsonArray{QJsonObject{
                {u"url"_qs, u"p/1-2"_qs}, {u"fromversion"_qs, 1}, {u"toversion"_qs, 2}, {u"size"_qs, 512}}});
        QJsonObject absolute = chunk(u"https://cdn.example.invalid/c1?sig=1"_qs, "one");
        absolute.insert(u"unpack"_qs, false);
        // Hash digits in upper case with separators among them decode all the same.
        absolute.insert(u"unpackedhash"_qs, hex("one").toUpper().insert(10, u" :"_qs));
        const QJsonObject package{
            {u"version"_qs, u"12"_qs},
            {u"executable"_qs, u"bin/client"_qs},
            {u"parameters"_qs, QJsonArray{u"-windowed"_qs, u"--lang=en"_qs}},
            {u"chunks"_qs, QJsonArray{chunk(u"chunks/c0"_qs, "zero"), absolute, QJsonObject()}},
            {u"files"_qs, QJsonArray{client, QJsonObject{{u"localfile"_qs, u"c"_qs}, {u"chunks"_qs, 5}}}}};
        const QJsonObject assets{{u"version"_qs, 7},
                                 {u"chunks"_qs, QJsonArray{chunk(u"a/c3"_qs, "three")}},
                                 {u"files"_qs, QJsonArray{file(u"data/a.pak"_qs, QJsonArray{3, 0})}}};

        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QCOMPARE(versionLabel(reader), u"P12 A7"_qs);
        QCOMPARE(reader.executable(), u"bin/client"_qs);
        QCOMPARE(reader.parameters(), (QStringList{u"-windowed"_qs, u"--lang=en"_qs}));

        // One table: the package's chunks first, each address resolved against its own document.
        QCOMPARE(reader.chunks().size(), std::size_t(4));
        const TChunkInPackage& c0 = reader.chunks()[0];
        QCOMPARE(c0.Url, QUrl(u"http://127.0.0.1:8080/packages/client/chunks/c0"_qs));
        QCOMPARE(c0.UnpackedHash, sha256("zero"));
        QCOMPARE(c0.PackedHash, sha256("packed zero"));
        QCOMPARE(c0.UnpackedSize, TFileSize(4));
        QCOMPARE(c0.PackedSize, TFileSize(14));
        QVERIFY(c0.Unpack);
        QCOMPARE(reader.chunks()[1].Url, QUrl(u"https://cdn.example.invalid/c1?sig=1"_qs));
        QCOMPARE(reader.chunks()[1].UnpackedHash, sha256("one"));
        QVERIFY(!reader.chunks()[1].Unpack);
        QVERIFY(reader.chunks()[2].Url.isEmpty());
        QVERIFY(reader.chunks()[2].Unpack);
        QCOMPARE(reader.chunks()[3].Url, QUrl(u"http://127.0.0.1:8080/assets/a/c3"_qs));

        QCOMPARE(reader.files().size(), std::size_t(3));
        const TFileInPackage& binary = reader.files()[0];
        QVERIFY(binary.Executable);
        QCOMPARE(binary.Hash, sha256("bin/client"));
        QCOMPARE(binary.Size, TFileSize(8000000000ULL));
        QCOMPARE(binary.Chunks, (std::vector<std::int32_t>{0, 1, 0}));
        QCOMPARE(binary.WholeFile.Url, QUrl(u"http://127.0.0.1:8080/packages/client/files/client.pack"_qs));
        QCOMPARE(binary.WholeFile.PackedSize, TFileSize(6000000000ULL));
        QVERIFY(!binary.WholeFile.Unpack);
        QCOMPARE(binary.Patches.size(), std::size_t(1));
        QCOMPARE(binary.Patches[0].Url, QUrl(u"http://127.0.0.1:8080/packages/client/p/1-2"_qs));
        const TPatchInPackage& patch = binary.Patches[0];
        QCOMPARE((QList<int>{patch.FromVersion, patch.ToVersion, patch.Size}), (QList<int>{1, 2, 512}));
        QVERIFY(reader.files()[1].Chunks.empty());
        QCOMPARE(reader.files()[2].LocalFile, u"data/a.pak"_qs);
        QCOMPARE(reader.files()[2].Chunks, (std::vector<std::int32_t>{3, 0}));
        QVERIFY(reader.files()[2].WholeFile.Url.isEmpty());
    }

    void filesOfBothDocumentsAreSortedTogether() {
        // UTF-16 code-unit order: upper case before lower case, "/" (0x2F) before letters and digits.
        const QJsonObject package{
            {u"chunks"_qs, chunks(u"p"_qs, 1)},
            {u"files"_qs, QJsonArray{file(u"zeta"_qs, {0}), file(u"Data/b"_qs, {0}), file(u"a0"_qs, {})}}};
        const QJsonObject assets{{u"chunks"_qs, chunks(u"a"_qs, 1)},
                                 {u"files"_qs, QJsonArray{file(u"a/b"_qs, {1}), file(u"Data"_qs, {}),
                                                          file(u"\u00e9t\u00e9"_qs, {})}}};
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QStringList names;
        for (const TFileInPackage& entry : reader.files()) {
            names << entry.LocalFile + QString::number(entry.Chunks.empty() ? -1 : entry.Chunks.front());
        }
        QCOMPARE(names, (QStringList{u"Data-1"_qs, u"Data/b0"_qs, u"a/b1"_qs, u"a0-1"_qs, u"zeta0"_qs,
                                     u"\u00e9t\u00e9-1"_qs}));
    }

    void namedValues_data() {
        QTest::addColumn<QJsonValue>("generation");
        QTest::addColumn<QJsonValue>("variant");
        QTest::addColumn<QJsonValue>("assetVersion");
        QTest::addColumn<int>("expectedGeneration");
        QTest::addColumn<int>("expectedVariant");
        QTest::addColumn<QString>("expectedAssetVersion");
        QTest::newRow("first regular")
            << QJsonValue("first") << QJsonValue("regular") << QJsonValue(7) << 1 << 1 << "7";
        QTest::newRow("second preview")
            << QJsonValue("second") << QJsonValue("preview") << QJsonValue("7") << 2 << 2 << "7";
        QTest::newRow("beta is 3") << QJsonValue("first") << QJsonValue("beta") << QJsonValue(2147483647) << 1
                                   << 3 << "2147483647";
        QTest::newRow("test is 4") << QJsonValue("first") << QJsonValue("test") << QJsonValue("2024.1") << 1
                                   << 4 << "2024.1";
        QTest::newRow("capitalised") << QJsonValue("First") << QJsonValue("Beta") << QJsonValue(true) << 0
                                     << 0 << "";
        QTest::newRow("absent or unknown")
            << QJsonValue() << QJsonValue("nightly") << QJsonValue() << 0 << 0 << "";
    }

    void namedValues() {
        QFETCH(QJsonValue, generation);
        QFETCH(QJsonValue, variant);
        QFETCH(QJsonValue, assetVersion);
        const QJsonObject package{{u"generation"_qs, generation}, {u"variant"_qs, variant}};
        const TPackageConfigurationReader reader(json(package), json({{u"version"_qs, assetVersion}}),
                                                 PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QTEST(int(reader.generation()), "expectedGeneration");
        QTEST(int(reader.variant()), "expectedVariant");
        QTEST(reader.assetVersion(), "expectedAssetVersion");
    }

    // A document that cannot be read whole gives an invalid reader with nothing in it: a file whose
    // chunk index is no index of the combined table (3 package chunks, then 2 asset chunks) would
    // otherwise be built from some other chunk.
    void hostileDocuments_data() {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("assets");
        QTest::addColumn<bool>("valid");
        const auto indexRow = [](const char* Name, const QJsonValue& Index, bool InAssets, bool Valid) {
            const QJsonArray named{0, Index, 1};
            QJsonObject package{{u"version"_qs, u"3"_qs},
                                {u"chunks"_qs, chunks(u"p"_qs, 3)},
                                {u"files"_qs, QJsonArray{file(u"good"_qs, {0, 2}),
                                                         file(u"bad"_qs, InAssets ? QJsonArray{1} : named)}}};
            const QJsonObject assets{
                {u"chunks"_qs, chunks(u"a"_qs, 2)},
                {u"files"_qs, QJsonArray{file(u"asset"_qs, InAssets ? named : QJsonArray{3, 4})}}};
            QTest::newRow(Name) << json(package) << json(assets) << Valid;
        };
        indexRow("last index", 4, false, true);
        indexRow("last index, from the assets", 4, true, true);
        indexRow("table size", 5, false, false);
        indexRow("table size, from the assets", 5, true, false);
        indexRow("negative", -1, false, false);
        indexRow("beyond 32 bits", 4294967296.0, true, false);
        indexRow("fraction", 1.5, false, false);
        indexRow("text", u"1"_qs, false, false);
        indexRow("null", QJsonValue(), true, false);
        const QByteArray good = json({{u"version"_qs, u"3"_qs},
                                      {u"chunks"_qs, chunks(u"p"_qs, 1)},
                                      {u"files"_qs, QJsonArray{file(u"f"_qs, {0})}}});
        QTest::newRow("package truncated") << good.left(good.size() / 2) << QByteArray("{}") << false;
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
        if (!valid) {
            QVERIFY(reader.files().empty());
            QVERIFY(reader.chunks().empty());
            QCOMPARE(versionLabel(reader), u"P? A?"_qs);
        }
    }
};

LAUNCHER_TEST(TestPackageConfigurationReader)
#include "tst_packageconfigurationreader.moc"
