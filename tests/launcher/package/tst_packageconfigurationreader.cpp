#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/versionlabel.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

const QUrl PackageBase(u"http://127.0.0.1:8080/packages/client/"_qs);
const QUrl AssetBase(u"http://127.0.0.1:8080/assets/"_qs);

QByteArray digest(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject chunkObject(const QString& url, const QByteArray& content) {
    return QJsonObject{{u"url"_qs, url},
                       {u"packedhash"_qs, QString::fromLatin1(digest("packed " + content).toHex())},
                       {u"packedsize"_qs, content.size() + 10},
                       {u"unpackedhash"_qs, QString::fromLatin1(digest(content).toHex())},
                       {u"unpackedsize"_qs, content.size()}};
}

QJsonObject fileObject(const QString& localFile, const QJsonArray& chunks) {
    return QJsonObject{{u"localfile"_qs, localFile},
                       {u"unpackedhash"_qs, QString::fromLatin1(digest(localFile.toUtf8()).toHex())},
                       {u"unpackedsize"_qs, 100},
                       {u"chunks"_qs, chunks}};
}

QJsonObject packageWithChunks(int chunkCount, const QJsonArray& files) {
    QJsonArray chunks;
    for (int i = 0; i < chunkCount; ++i) {
        chunks.append(chunkObject(u"chunks/%1"_qs.arg(i), QByteArray::number(i)));
    }
    return QJsonObject{{u"version"_qs, u"3"_qs}, {u"chunks"_qs, chunks}, {u"files"_qs, files}};
}

QStringList localFiles(const TPackageConfigurationReader& reader) {
    QStringList names;
    for (const TFileInPackage& file : reader.files()) {
        names.append(file.LocalFile);
    }
    return names;
}

void verifyEmpty(const TPackageConfigurationReader& reader) {
    QVERIFY(!reader.isValid());
    QVERIFY(reader.files().empty());
    QVERIFY(reader.chunks().empty());
    QVERIFY(reader.parameters().isEmpty());
    QVERIFY(reader.packageVersion().isEmpty());
    QVERIFY(reader.assetVersion().isEmpty());
    QVERIFY(reader.executable().isEmpty());
    QCOMPARE(versionLabel(reader), u"P? A?"_qs);
}

} // namespace

class TestPackageConfigurationReader : public QObject {
    Q_OBJECT

private slots:
    void readsEveryFieldOfBothDocuments() {
        QJsonObject wholeFile = fileObject(u"bin/client"_qs, QJsonArray{0, 1, 0});
        wholeFile.insert(u"executable"_qs, true);
        wholeFile.insert(u"url"_qs, u"files/client.pack"_qs);
        wholeFile.insert(u"packedhash"_qs, QString::fromLatin1(digest("whole").toHex()));
        wholeFile.insert(u"packedsize"_qs, 6000000000.0); // above 32 bits
        wholeFile.insert(u"unpackedsize"_qs, 8000000000.0);
        wholeFile.insert(u"unpack"_qs, false);
        wholeFile.insert(u"patches"_qs, QJsonArray{QJsonObject{{u"url"_qs, u"patches/1-2"_qs},
                                                               {u"fromversion"_qs, 1},
                                                               {u"toversion"_qs, 2},
                                                               {u"size"_qs, 512}}});

        QJsonObject rawChunk = chunkObject(u"https://cdn.example.invalid/abs/c1?sig=1"_qs, "one");
        rawChunk.insert(u"unpack"_qs, false);
        const QJsonObject package{{u"version"_qs, u"12"_qs},
                                  {u"executable"_qs, u"bin/client"_qs},
                                  {u"generation"_qs, u"second"_qs},
                                  {u"variant"_qs, u"beta"_qs},
                                  {u"parameters"_qs, QJsonArray{u"-windowed"_qs, u"--lang=en"_qs}},
                                  {u"chunks"_qs, QJsonArray{chunkObject(u"chunks/c0"_qs, "zero"), rawChunk}},
                                  {u"files"_qs, QJsonArray{wholeFile}}};
        const QJsonObject assets{{u"version"_qs, 7},
                                 {u"chunks"_qs, QJsonArray{chunkObject(u"a/c2"_qs, "two")}},
                                 {u"files"_qs, QJsonArray{fileObject(u"data/a.pak"_qs, QJsonArray{2, 0})}}};

        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QCOMPARE(reader.packageVersion(), u"12"_qs);
        QCOMPARE(reader.assetVersion(), u"7"_qs);
        QCOMPARE(versionLabel(reader), u"P12 A7"_qs);
        QCOMPARE(reader.executable(), u"bin/client"_qs);
        QCOMPARE(reader.generation(), EPackageGeneration::Second);
        QCOMPARE(reader.variant(), EPackageVariant::Beta);
        QCOMPARE(reader.parameters(), (QStringList{u"-windowed"_qs, u"--lang=en"_qs}));
        QCOMPARE(reader.packageBaseUrl(), PackageBase);
        QCOMPARE(reader.assetBaseUrl(), AssetBase);
        QCOMPARE(reader.rawPackageDocument(), json(package));
        QCOMPARE(reader.rawAssetDocument(), json(assets));

        // The combined chunk table: package chunks first, each resolved against its own document.
        QCOMPARE(reader.chunks().size(), std::size_t(3));
        const TChunkInPackage& c0 = reader.chunks()[0];
        QCOMPARE(c0.Url, QUrl(u"http://127.0.0.1:8080/packages/client/chunks/c0"_qs));
        QCOMPARE(c0.UnpackedHash, digest("zero"));
        QCOMPARE(c0.PackedHash, digest("packed zero"));
        QCOMPARE(c0.UnpackedSize, TFileSize(4));
        QCOMPARE(c0.PackedSize, TFileSize(14));
        QVERIFY(c0.Unpack);
        QCOMPARE(reader.chunks()[1].Url, QUrl(u"https://cdn.example.invalid/abs/c1?sig=1"_qs));
        QVERIFY(!reader.chunks()[1].Unpack);
        QCOMPARE(reader.chunks()[2].Url, QUrl(u"http://127.0.0.1:8080/assets/a/c2"_qs));

        QCOMPARE(localFiles(reader), (QStringList{u"bin/client"_qs, u"data/a.pak"_qs}));
        const TFileInPackage& client = reader.files()[0];
        QVERIFY(client.Executable);
        QCOMPARE(client.Hash, digest("bin/client"));
        QCOMPARE(client.Size, TFileSize(8000000000ULL));
        QCOMPARE(client.Chunks, (std::vector<std::int32_t>{0, 1, 0}));
        QCOMPARE(client.WholeFile.Url, QUrl(u"http://127.0.0.1:8080/packages/client/files/client.pack"_qs));
        QCOMPARE(client.WholeFile.PackedSize, TFileSize(6000000000ULL));
        QCOMPARE(client.WholeFile.PackedHash, digest("whole"));
        QCOMPARE(client.WholeFile.UnpackedSize, TFileSize(8000000000ULL));
        QCOMPARE(client.WholeFile.UnpackedHash, digest("bin/client"));
        QVERIFY(!client.WholeFile.Unpack);
        QCOMPARE(client.Patches.size(), std::size_t(1));
        QCOMPARE(client.Patches[0].Url, QUrl(u"http://127.0.0.1:8080/packages/client/patches/1-2"_qs));
        QCOMPARE(client.Patches[0].FromVersion, 1);
        QCOMPARE(client.Patches[0].ToVersion, 2);
        QCOMPARE(client.Patches[0].Size, 512);

        const TFileInPackage& asset = reader.files()[1];
        QVERIFY(!asset.Executable);
        QCOMPARE(asset.Chunks, (std::vector<std::int32_t>{2, 0}));
        QVERIFY(asset.WholeFile.Url.isEmpty());
        QVERIFY(asset.Patches.empty());
    }

    void hashesDecodeFromEitherCase() {
        const QByteArray expected = digest("content");
        const QString lower = QString::fromLatin1(expected.toHex());
        QJsonObject upperChunk = chunkObject(u"c"_qs, "content");
        upperChunk.insert(u"unpackedhash"_qs, lower.toUpper());
        QJsonObject spacedChunk = chunkObject(u"c"_qs, "content");
        spacedChunk.insert(u"unpackedhash"_qs, lower.left(10) + u" :"_qs + lower.mid(10));
        const QJsonObject package{
            {u"chunks"_qs, QJsonArray{chunkObject(u"c"_qs, "content"), upperChunk, spacedChunk}}};

        const TPackageConfigurationReader reader(json(package), QByteArray(), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        for (const TChunkInPackage& chunk : reader.chunks()) {
            QCOMPARE(chunk.UnpackedHash.size(), 32);
            QCOMPARE(chunk.UnpackedHash, expected);
        }
    }

    void generationAndVariantAreCaseSensitive_data() {
        QTest::addColumn<QString>("generation");
        QTest::addColumn<QString>("variant");
        QTest::addColumn<int>("expectedGeneration");
        QTest::addColumn<int>("expectedVariant");
        // clang-format off
        QTest::newRow("first regular") << "first" << "regular" << 1 << 1;
        QTest::newRow("second preview") << "second" << "preview" << 2 << 2;
        QTest::newRow("beta is 3") << "first" << "beta" << 1 << 3;
        QTest::newRow("test is 4") << "first" << "test" << 1 << 4;
        QTest::newRow("capitalised") << "First" << "Beta" << 0 << 0;
        QTest::newRow("unknown words") << "third" << "nightly" << 0 << 0;
        QTest::newRow("absent") << QString() << QString() << 0 << 0;
        // clang-format on
    }

    void generationAndVariantAreCaseSensitive() {
        QFETCH(QString, generation);
        QFETCH(QString, variant);
        QJsonObject package;
        if (!generation.isNull()) {
            package.insert(u"generation"_qs, generation);
            package.insert(u"variant"_qs, variant);
        }
        const TPackageConfigurationReader reader(json(package), QByteArray(), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QTEST(static_cast<int>(reader.generation()), "expectedGeneration");
        QTEST(static_cast<int>(reader.variant()), "expectedVariant");
    }

    void assetVersionFromNumberOrString_data() {
        QTest::addColumn<QJsonValue>("version");
        QTest::addColumn<QString>("expected");
        QTest::newRow("number") << QJsonValue(7) << "7";
        QTest::newRow("string") << QJsonValue(u"7"_qs) << "7";
        QTest::newRow("large number") << QJsonValue(2147483647) << "2147483647";
        QTest::newRow("text") << QJsonValue(u"2024.1"_qs) << "2024.1";
        QTest::newRow("bool is no version") << QJsonValue(true) << "";
    }

    void assetVersionFromNumberOrString() {
        QFETCH(QJsonValue, version);
        const QJsonObject package{{u"version"_qs, u"12"_qs}};
        const QJsonObject assets{{u"version"_qs, version}};
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QTEST(reader.assetVersion(), "expected");
    }

    void emptyAssetDocumentIsValid() {
        const QJsonObject package = packageWithChunks(2, QJsonArray{fileObject(u"f"_qs, QJsonArray{0, 1})});
        const TPackageConfigurationReader reader(json(QJsonObject{{u"version"_qs, u"12"_qs}}), QByteArray(),
                                                 PackageBase, QUrl());
        QVERIFY(reader.isValid());
        QVERIFY(reader.assetVersion().isEmpty());
        QCOMPARE(versionLabel(reader), u"P12 A?"_qs);

        const TPackageConfigurationReader withFiles(json(package), QByteArray(), PackageBase, QUrl());
        QVERIFY(withFiles.isValid());
        QCOMPARE(withFiles.files().size(), std::size_t(1));
        QVERIFY(withFiles.rawAssetDocument().isEmpty());
    }

    void filesOfBothDocumentsAreSortedTogether() {
        // UTF-16 code-unit order: upper case before lower case, "/" (0x2F) before letters and digits.
        const QJsonObject package = packageWithChunks(1, QJsonArray{fileObject(u"zeta"_qs, QJsonArray{0}),
                                                                    fileObject(u"Data/b"_qs, QJsonArray{0}),
                                                                    fileObject(u"a0"_qs, QJsonArray{})});
        const QJsonObject assets{{u"chunks"_qs, QJsonArray{chunkObject(u"x"_qs, "x")}},
                                 {u"files"_qs, QJsonArray{fileObject(u"a/b"_qs, QJsonArray{1}),
                                                          fileObject(u"Data"_qs, QJsonArray{}),
                                                          fileObject(u"\u00e9t\u00e9"_qs, QJsonArray{})}}};
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QCOMPARE(localFiles(reader), (QStringList{u"Data"_qs, u"Data/b"_qs, u"a/b"_qs, u"a0"_qs, u"zeta"_qs,
                                                  u"\u00e9t\u00e9"_qs}));
        // The asset file keeps its index into the combined table (1 is the asset document's first chunk).
        QCOMPARE(reader.files()[2].Chunks, std::vector<std::int32_t>{1});
        QCOMPARE(reader.chunks()[1].Url, QUrl(u"http://127.0.0.1:8080/assets/x"_qs));
    }

    void missingKeysGiveDefaults() {
        const QJsonObject package{
            {u"chunks"_qs, QJsonArray{QJsonObject()}},
            {u"files"_qs, QJsonArray{QJsonObject{{u"chunks"_qs, 5}}, u"not an object"_qs}},
            {u"parameters"_qs, u"not an array"_qs}};
        const TPackageConfigurationReader reader(json(package), json(QJsonObject{{u"files"_qs, 3}}),
                                                 PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QVERIFY(reader.packageVersion().isEmpty());
        QVERIFY(reader.parameters().isEmpty());
        QCOMPARE(reader.chunks().size(), std::size_t(1));
        QVERIFY(reader.chunks()[0].Unpack);
        QCOMPARE(reader.files().size(), std::size_t(2));
        QVERIFY(reader.files()[0].Chunks.empty());
    }

    void documentThatIsNoObjectGivesEmptyConfiguration() {
        const TPackageConfigurationReader reader("[1, 2, 3]", "[]", PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QVERIFY(reader.files().empty());
        QVERIFY(reader.chunks().empty());
        QCOMPARE(versionLabel(reader), u"P? A?"_qs);
    }

    void invalidJsonGivesUsableInvalidReader_data() {
        const QByteArray good = json(packageWithChunks(1, QJsonArray{fileObject(u"f"_qs, QJsonArray{0})}));
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("assets");
        QTest::addColumn<QString>("message");
        QTest::newRow("package truncated")
            << good.left(good.size() / 2) << QByteArray("{}")
            << "JSON package configuration file could not be parsed, using default package.";
        QTest::newRow("package empty")
            << QByteArray() << QByteArray()
            << "JSON package configuration file could not be parsed, using default package.";
        QTest::newRow("assets garbage")
            << good << QByteArray("{\"version\": 7,")
            << "JSON asset configuration file could not be parsed, using default package.";
    }

    void invalidJsonGivesUsableInvalidReader() {
        QFETCH(QByteArray, package);
        QFETCH(QByteArray, assets);
        QFETCH(QString, message);
        QTest::ignoreMessage(QtCriticalMsg, message.toUtf8().constData());
        const TPackageConfigurationReader reader(package, assets, PackageBase, AssetBase);
        verifyEmpty(reader);
        QCOMPARE(reader.rawPackageDocument(), package);
    }

    void chunkIndicesOutsideTheTableAreRejected_data() {
        QTest::addColumn<QJsonValue>("index");
        QTest::addColumn<bool>("inAssetDocument");
        QTest::addColumn<QString>("named");
        // The package document holds 3 chunks, the asset document 2: the combined table has 5.
        QTest::newRow("table size") << QJsonValue(5) << false << "5";
        QTest::newRow("table size from assets") << QJsonValue(5) << true << "5";
        QTest::newRow("negative") << QJsonValue(-1) << false << "-1";
        QTest::newRow("far beyond 32 bits") << QJsonValue(4294967296.0) << true << "4294967296";
        QTest::newRow("fraction") << QJsonValue(1.5) << false << "1.5";
        QTest::newRow("text") << QJsonValue(u"1"_qs) << false << "\"1\"";
        QTest::newRow("null") << QJsonValue() << true << "null";
    }

    void chunkIndicesOutsideTheTableAreRejected() {
        QFETCH(QJsonValue, index);
        QFETCH(bool, inAssetDocument);
        QFETCH(QString, named);
        const QJsonArray badChunks{0, index, 1};
        const QJsonObject package = packageWithChunks(
            3, QJsonArray{fileObject(u"good.bin"_qs, QJsonArray{0, 2}),
                          fileObject(u"bad/file.bin"_qs, inAssetDocument ? QJsonArray{1} : badChunks)});
        QJsonObject assets{
            {u"version"_qs, 4},
            {u"chunks"_qs, QJsonArray{chunkObject(u"a0"_qs, "a0"), chunkObject(u"a1"_qs, "a1")}},
            {u"files"_qs, QJsonArray{fileObject(u"assets/x"_qs, QJsonArray{3, 4})}}};
        if (inAssetDocument) {
            assets.insert(u"files"_qs, QJsonArray{fileObject(u"bad/file.bin"_qs, badChunks)});
        }

        // The log line names the file and the offending index.
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(u"bad/file\\.bin.* %1 "_qs.arg(
                                                QRegularExpression::escape(named))));
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        verifyEmpty(reader);
    }

    void lastIndexOfTheCombinedTableIsAccepted() {
        const QJsonObject package = packageWithChunks(3, QJsonArray{fileObject(u"p"_qs, QJsonArray{2, 0})});
        const QJsonObject assets{
            {u"chunks"_qs, QJsonArray{chunkObject(u"a0"_qs, "a0"), chunkObject(u"a1"_qs, "a1")}},
            {u"files"_qs, QJsonArray{fileObject(u"q"_qs, QJsonArray{4, 3})}}};
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QCOMPARE(reader.chunks().size(), std::size_t(5));
        QCOMPARE(reader.files()[1].Chunks, (std::vector<std::int32_t>{4, 3}));
    }
};

LAUNCHER_TEST(TestPackageConfigurationReader)
#include "tst_packageconfigurationreader.moc"
