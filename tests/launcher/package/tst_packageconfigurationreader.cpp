#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/versionlabel.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace mirrel::launcher;

namespace {

const QUrl PackageBase(QStringLiteral("http://127.0.0.1:8080/packages/client/"));
const QUrl AssetBase(QStringLiteral("http://127.0.0.1:8080/assets/"));

QByteArray digest(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject chunkObject(const QString& url, const QByteArray& content) {
    return QJsonObject{
        {QStringLiteral("url"), url},
        {QStringLiteral("packedhash"), QString::fromLatin1(digest("packed " + content).toHex())},
        {QStringLiteral("packedsize"), content.size() + 10},
        {QStringLiteral("unpackedhash"), QString::fromLatin1(digest(content).toHex())},
        {QStringLiteral("unpackedsize"), content.size()}};
}

QJsonObject fileObject(const QString& localFile, const QJsonArray& chunks) {
    return QJsonObject{
        {QStringLiteral("localfile"), localFile},
        {QStringLiteral("unpackedhash"), QString::fromLatin1(digest(localFile.toUtf8()).toHex())},
        {QStringLiteral("unpackedsize"), 100},
        {QStringLiteral("chunks"), chunks}};
}

QJsonObject packageWithChunks(int chunkCount, const QJsonArray& files) {
    QJsonArray chunks;
    for (int i = 0; i < chunkCount; ++i) {
        chunks.append(chunkObject(QStringLiteral("chunks/%1").arg(i), QByteArray::number(i)));
    }
    return QJsonObject{{QStringLiteral("version"), QStringLiteral("3")},
                       {QStringLiteral("chunks"), chunks},
                       {QStringLiteral("files"), files}};
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
    QCOMPARE(versionLabel(reader), QStringLiteral("P? A?"));
}

} // namespace

class TestPackageConfigurationReader : public QObject {
    Q_OBJECT

private slots:
    void readsEveryFieldOfBothDocuments() {
        QJsonObject wholeFile = fileObject(QStringLiteral("bin/client"), QJsonArray{0, 1, 0});
        wholeFile.insert(QStringLiteral("executable"), true);
        wholeFile.insert(QStringLiteral("url"), QStringLiteral("files/client.pack"));
        wholeFile.insert(QStringLiteral("packedhash"), QString::fromLatin1(digest("whole").toHex()));
        wholeFile.insert(QStringLiteral("packedsize"), 6000000000.0); // above 32 bits
        wholeFile.insert(QStringLiteral("unpackedsize"), 8000000000.0);
        wholeFile.insert(QStringLiteral("unpack"), false);
        wholeFile.insert(QStringLiteral("patches"),
                         QJsonArray{QJsonObject{{QStringLiteral("url"), QStringLiteral("patches/1-2")},
                                                {QStringLiteral("fromversion"), 1},
                                                {QStringLiteral("toversion"), 2},
                                                {QStringLiteral("size"), 512}}});

        QJsonObject rawChunk = chunkObject(QStringLiteral("https://cdn.example.invalid/abs/c1?sig=1"), "one");
        rawChunk.insert(QStringLiteral("unpack"), false);
        const QJsonObject package{{QStringLiteral("version"), QStringLiteral("12")},
                                  {QStringLiteral("executable"), QStringLiteral("bin/client")},
                                  {QStringLiteral("generation"), QStringLiteral("second")},
                                  {QStringLiteral("variant"), QStringLiteral("beta")},
                                  {QStringLiteral("parameters"),
                                   QJsonArray{QStringLiteral("-windowed"), QStringLiteral("--lang=en")}},
                                  {QStringLiteral("chunks"),
                                   QJsonArray{chunkObject(QStringLiteral("chunks/c0"), "zero"), rawChunk}},
                                  {QStringLiteral("files"), QJsonArray{wholeFile}}};
        const QJsonObject assets{
            {QStringLiteral("version"), 7},
            {QStringLiteral("chunks"), QJsonArray{chunkObject(QStringLiteral("a/c2"), "two")}},
            {QStringLiteral("files"),
             QJsonArray{fileObject(QStringLiteral("data/a.pak"), QJsonArray{2, 0})}}};

        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QCOMPARE(reader.packageVersion(), QStringLiteral("12"));
        QCOMPARE(reader.assetVersion(), QStringLiteral("7"));
        QCOMPARE(versionLabel(reader), QStringLiteral("P12 A7"));
        QCOMPARE(reader.executable(), QStringLiteral("bin/client"));
        QCOMPARE(reader.generation(), EPackageGeneration::Second);
        QCOMPARE(reader.variant(), EPackageVariant::Beta);
        QCOMPARE(reader.parameters(),
                 (QStringList{QStringLiteral("-windowed"), QStringLiteral("--lang=en")}));
        QCOMPARE(reader.packageBaseUrl(), PackageBase);
        QCOMPARE(reader.assetBaseUrl(), AssetBase);
        QCOMPARE(reader.rawPackageDocument(), json(package));
        QCOMPARE(reader.rawAssetDocument(), json(assets));

        // The combined chunk table: package chunks first, each resolved against its own document.
        QCOMPARE(reader.chunks().size(), std::size_t(3));
        const TChunkInPackage& c0 = reader.chunks()[0];
        QCOMPARE(c0.Url, QUrl(QStringLiteral("http://127.0.0.1:8080/packages/client/chunks/c0")));
        QCOMPARE(c0.UnpackedHash, digest("zero"));
        QCOMPARE(c0.PackedHash, digest("packed zero"));
        QCOMPARE(c0.UnpackedSize, TFileSize(4));
        QCOMPARE(c0.PackedSize, TFileSize(14));
        QVERIFY(c0.Unpack);
        QCOMPARE(reader.chunks()[1].Url, QUrl(QStringLiteral("https://cdn.example.invalid/abs/c1?sig=1")));
        QVERIFY(!reader.chunks()[1].Unpack);
        QCOMPARE(reader.chunks()[2].Url, QUrl(QStringLiteral("http://127.0.0.1:8080/assets/a/c2")));

        QCOMPARE(localFiles(reader),
                 (QStringList{QStringLiteral("bin/client"), QStringLiteral("data/a.pak")}));
        const TFileInPackage& client = reader.files()[0];
        QVERIFY(client.Executable);
        QCOMPARE(client.Hash, digest("bin/client"));
        QCOMPARE(client.Size, TFileSize(8000000000ULL));
        QCOMPARE(client.Chunks, (std::vector<std::int32_t>{0, 1, 0}));
        QCOMPARE(client.WholeFile.Url,
                 QUrl(QStringLiteral("http://127.0.0.1:8080/packages/client/files/client.pack")));
        QCOMPARE(client.WholeFile.PackedSize, TFileSize(6000000000ULL));
        QCOMPARE(client.WholeFile.PackedHash, digest("whole"));
        QCOMPARE(client.WholeFile.UnpackedSize, TFileSize(8000000000ULL));
        QCOMPARE(client.WholeFile.UnpackedHash, digest("bin/client"));
        QVERIFY(!client.WholeFile.Unpack);
        QCOMPARE(client.Patches.size(), std::size_t(1));
        QCOMPARE(client.Patches[0].Url,
                 QUrl(QStringLiteral("http://127.0.0.1:8080/packages/client/patches/1-2")));
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
        QJsonObject upperChunk = chunkObject(QStringLiteral("c"), "content");
        upperChunk.insert(QStringLiteral("unpackedhash"), lower.toUpper());
        QJsonObject spacedChunk = chunkObject(QStringLiteral("c"), "content");
        spacedChunk.insert(QStringLiteral("unpackedhash"),
                           lower.left(10) + QStringLiteral(" :") + lower.mid(10));
        const QJsonObject package{
            {QStringLiteral("chunks"),
             QJsonArray{chunkObject(QStringLiteral("c"), "content"), upperChunk, spacedChunk}}};

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
            package.insert(QStringLiteral("generation"), generation);
            package.insert(QStringLiteral("variant"), variant);
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
        QTest::newRow("string") << QJsonValue(QStringLiteral("7")) << "7";
        QTest::newRow("large number") << QJsonValue(2147483647) << "2147483647";
        QTest::newRow("text") << QJsonValue(QStringLiteral("2024.1")) << "2024.1";
        QTest::newRow("bool is no version") << QJsonValue(true) << "";
    }

    void assetVersionFromNumberOrString() {
        QFETCH(QJsonValue, version);
        const QJsonObject package{{QStringLiteral("version"), QStringLiteral("12")}};
        const QJsonObject assets{{QStringLiteral("version"), version}};
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QTEST(reader.assetVersion(), "expected");
    }

    void emptyAssetDocumentIsValid() {
        const QJsonObject package =
            packageWithChunks(2, QJsonArray{fileObject(QStringLiteral("f"), QJsonArray{0, 1})});
        const TPackageConfigurationReader reader(
            json(QJsonObject{{QStringLiteral("version"), QStringLiteral("12")}}), QByteArray(), PackageBase,
            QUrl());
        QVERIFY(reader.isValid());
        QVERIFY(reader.assetVersion().isEmpty());
        QCOMPARE(versionLabel(reader), QStringLiteral("P12 A?"));

        const TPackageConfigurationReader withFiles(json(package), QByteArray(), PackageBase, QUrl());
        QVERIFY(withFiles.isValid());
        QCOMPARE(withFiles.files().size(), std::size_t(1));
        QVERIFY(withFiles.rawAssetDocument().isEmpty());
    }

    void filesOfBothDocumentsAreSortedTogether() {
        // UTF-16 code-unit order: upper case before lower case, "/" (0x2F) before letters and digits.
        const QJsonObject package =
            packageWithChunks(1, QJsonArray{fileObject(QStringLiteral("zeta"), QJsonArray{0}),
                                            fileObject(QStringLiteral("Data/b"), QJsonArray{0}),
                                            fileObject(QStringLiteral("a0"), QJsonArray{})});
        const QJsonObject assets{
            {QStringLiteral("chunks"), QJsonArray{chunkObject(QStringLiteral("x"), "x")}},
            {QStringLiteral("files"), QJsonArray{fileObject(QStringLiteral("a/b"), QJsonArray{1}),
                                                 fileObject(QStringLiteral("Data"), QJsonArray{}),
                                                 fileObject(QStringLiteral("\u00e9t\u00e9"), QJsonArray{})}}};
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QCOMPARE(localFiles(reader), (QStringList{QStringLiteral("Data"), QStringLiteral("Data/b"),
                                                  QStringLiteral("a/b"), QStringLiteral("a0"),
                                                  QStringLiteral("zeta"), QStringLiteral("\u00e9t\u00e9")}));
        // The asset file keeps its index into the combined table (1 is the asset document's first chunk).
        QCOMPARE(reader.files()[2].Chunks, std::vector<std::int32_t>{1});
        QCOMPARE(reader.chunks()[1].Url, QUrl(QStringLiteral("http://127.0.0.1:8080/assets/x")));
    }

    void missingKeysGiveDefaults() {
        const QJsonObject package{
            {QStringLiteral("chunks"), QJsonArray{QJsonObject()}},
            {QStringLiteral("files"),
             QJsonArray{QJsonObject{{QStringLiteral("chunks"), 5}}, QStringLiteral("not an object")}},
            {QStringLiteral("parameters"), QStringLiteral("not an array")}};
        const TPackageConfigurationReader reader(
            json(package), json(QJsonObject{{QStringLiteral("files"), 3}}), PackageBase, AssetBase);
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
        QCOMPARE(versionLabel(reader), QStringLiteral("P? A?"));
    }

    void invalidJsonGivesUsableInvalidReader_data() {
        const QByteArray good =
            json(packageWithChunks(1, QJsonArray{fileObject(QStringLiteral("f"), QJsonArray{0})}));
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
        QTest::newRow("text") << QJsonValue(QStringLiteral("1")) << false << "\"1\"";
        QTest::newRow("null") << QJsonValue() << true << "null";
    }

    void chunkIndicesOutsideTheTableAreRejected() {
        QFETCH(QJsonValue, index);
        QFETCH(bool, inAssetDocument);
        QFETCH(QString, named);
        const QJsonArray badChunks{0, index, 1};
        const QJsonObject package =
            packageWithChunks(3, QJsonArray{fileObject(QStringLiteral("good.bin"), QJsonArray{0, 2}),
                                            fileObject(QStringLiteral("bad/file.bin"),
                                                       inAssetDocument ? QJsonArray{1} : badChunks)});
        QJsonObject assets{
            {QStringLiteral("version"), 4},
            {QStringLiteral("chunks"),
             QJsonArray{chunkObject(QStringLiteral("a0"), "a0"), chunkObject(QStringLiteral("a1"), "a1")}},
            {QStringLiteral("files"), QJsonArray{fileObject(QStringLiteral("assets/x"), QJsonArray{3, 4})}}};
        if (inAssetDocument) {
            assets.insert(QStringLiteral("files"),
                          QJsonArray{fileObject(QStringLiteral("bad/file.bin"), badChunks)});
        }

        // The log line names the file and the offending index.
        QTest::ignoreMessage(
            QtCriticalMsg,
            QRegularExpression(
                QStringLiteral("bad/file\\.bin.* %1 ").arg(QRegularExpression::escape(named))));
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        verifyEmpty(reader);
    }

    void lastIndexOfTheCombinedTableIsAccepted() {
        const QJsonObject package =
            packageWithChunks(3, QJsonArray{fileObject(QStringLiteral("p"), QJsonArray{2, 0})});
        const QJsonObject assets{
            {QStringLiteral("chunks"),
             QJsonArray{chunkObject(QStringLiteral("a0"), "a0"), chunkObject(QStringLiteral("a1"), "a1")}},
            {QStringLiteral("files"), QJsonArray{fileObject(QStringLiteral("q"), QJsonArray{4, 3})}}};
        const TPackageConfigurationReader reader(json(package), json(assets), PackageBase, AssetBase);
        QVERIFY(reader.isValid());
        QCOMPARE(reader.chunks().size(), std::size_t(5));
        QCOMPARE(reader.files()[1].Chunks, (std::vector<std::int32_t>{4, 3}));
    }
};

QTEST_GUILESS_MAIN(TestPackageConfigurationReader)
#include "tst_packageconfigurationreader.moc"
