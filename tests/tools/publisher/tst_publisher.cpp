#include "launcher/chunking/chunker.h"
#include "launcher/package/packageconfigurationreader.h"
#include "publisher/packingchoice.h"
#include "publisher/publishcommand.h"
#include "publisher/usageerror.h"
#include "shared/container/container.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

#include <random>
#include <set>

using namespace publisher;
using mirrel::launcher::TChunkInPackage;
using mirrel::launcher::TFileInPackage;
using mirrel::launcher::TPackageConfigurationReader;
using testsupport::operator""_qs;
using testsupport::randomBytes;
using testsupport::readBytes;
using testsupport::sha256;

namespace {

constexpr int MiB = 1024 * 1024;

// Text made of a small vocabulary: packs to a fraction of its size.
QByteArray textBytes(int Size, std::uint64_t Seed) {
    static const char* const Words[] = {"vantor ", "online ", "launcher ", "chunk ", "level ", "model\n"};
    std::mt19937_64 random(Seed);
    QByteArray text;
    while (text.size() < Size) {
        text.append(Words[random() % 6]);
    }
    return text.left(Size);
}

// Writes files below Root; a name starting with '*' is an executable.
void writeTree(const QString& Root, const std::map<QString, QByteArray>& Files) {
    for (const auto& [name, content] : Files) {
        const QString path = Root + u'/' + QString(name).remove(0, name.startsWith(u'*') ? 1 : 0);
        QVERIFY(testsupport::writeBytes(path, content));
        QVERIFY(QFile::setPermissions(path, name.startsWith(u'*') ? QFile::ReadOwner | QFile::ExeOwner
                                                                  : QFile::ReadOwner));
    }
}

TPackageConfigurationReader readBack(const QString& Output, const QString& AssetDocument = QString()) {
    const QUrl base = QUrl::fromLocalFile(Output + u'/');
    return TPackageConfigurationReader(
        readBytes(Output + u"/package.json"_qs),
        AssetDocument.isEmpty() ? QByteArray() : readBytes(Output + u'/' + AssetDocument), base, base);
}

// One piece fetched from the output folder as the launcher would, after checking both of its sizes and
// hashes against independent SHA-256; its unpacked content.
QByteArray fetchPiece(const TChunkInPackage& Piece) {
    const QByteArray stored = readBytes(Piece.Url.toLocalFile());
    const QByteArray content = Piece.Unpack ? shared::decompress(stored) : stored;
    const bool sound = quint64(stored.size()) == Piece.PackedSize && sha256(stored) == Piece.PackedHash &&
                       quint64(content.size()) == Piece.UnpackedSize && sha256(content) == Piece.UnpackedHash;
    return sound ? content : QByteArray("<piece does not match the document>");
}

// The documents describe exactly the files below the roots, each with its size, hash and execute bit; its
// chunks are cut where the launcher cuts them, and fetching them (or the whole-file piece of a file of one
// chunk) gives the file back.
void verifyReadsBack(const TPackageConfigurationReader& Reader, const QStringList& Roots) {
    QVERIFY(Reader.isValid());
    std::map<QString, QString> expected;
    for (const QString& root : Roots) {
        for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            expected.emplace(QDir(root).relativeFilePath(path), path);
        }
    }
    QCOMPARE(Reader.files().size(), expected.size());
    for (const TFileInPackage& file : Reader.files()) {
        const QString source = expected[file.LocalFile];
        const QByteArray content = readBytes(source);
        QCOMPARE(file.Size, quint64(content.size()));
        QCOMPARE(file.Hash, sha256(content));
        QCOMPARE(file.Executable, QFileInfo(source).isExecutable());
        QByteArray assembled;
        std::vector<quint64> lengths, launcherLengths;
        for (const std::int32_t index : file.Chunks) {
            assembled += fetchPiece(Reader.chunks().at(std::size_t(index)));
            lengths.push_back(Reader.chunks().at(std::size_t(index)).UnpackedSize);
        }
        mirrel::launcher::chunkFile(source.toStdString(), [&](unsigned char*, std::uint64_t Length) {
            launcherLengths.push_back(Length);
        });
        QVERIFY2(assembled == content && lengths == launcherLengths, qPrintable(file.LocalFile));
        QCOMPARE(file.WholeFile.Url.isEmpty(), file.Chunks.size() > 1);
        QVERIFY(file.Chunks.size() > 1 || fetchPiece(file.WholeFile) == content);
    }
}

TPublishSummary publish(const QString& Input, const QString& Output, const QString& Version,
                        EDocumentKind Kind = EDocumentKind::Package,
                        std::shared_ptr<const shared::TFileSystemHelper> FileSystem = nullptr) {
    TPublishOptions options;
    options.InputDirectory = Input;
    options.OutputDirectory = Output;
    options.Document.Version = Version;
    options.Document.Kind = Kind;
    options.Method = 3;
    options.Threads = 2;
    TPublishCommand command(FileSystem ? FileSystem : std::make_shared<shared::TFileSystemHelper>(), options);
    command.run();
    return command.summary();
}

std::set<QByteArray> unpackedHashes(const TPackageConfigurationReader& Reader) {
    std::set<QByteArray> hashes;
    for (const TChunkInPackage& chunk : Reader.chunks()) {
        hashes.insert(chunk.UnpackedHash);
    }
    return hashes;
}

} // namespace

class TPublisherTest : public QObject {
    Q_OBJECT

private slots:
    void packingChoice() {
        QVERIFY(packingPays(100, 97, 0.03) && !packingPays(100, 98, 0.03));
        QVERIFY(packingPays(1000000, 970000, 0.03) && !packingPays(1000000, 970001, 0.03));
        // Noise is stored, whatever the method.
        const QByteArray noise = randomBytes(300000, 1);
        for (int method : {0, 3, 5}) {
            const TPackedChunk packed = packChunk(noise, method, DefaultMinimumSaving);
            QCOMPARE(packed.Container.at(1), char(0));
            QCOMPARE(shared::decompress(packed.Container), noise);
        }
        // Text keeps the slow method only where it beats DEFLATE.
        const QByteArray text = textBytes(300000, 2);
        const TPackedChunk packedText = packChunk(text, 5, DefaultMinimumSaving);
        QVERIFY(packedText.Container.size() <= shared::compress(3, text).size());
        QCOMPARE(shared::decompress(packedText.Container), text);
        QCOMPARE(packChunk(text, 5, 0.99).Method, 0);
        // Noise that repeats further apart than DEFLATE looks is no noise to LZMA.
        const QByteArray block = randomBytes(256 * 1024, 3);
        const QByteArray repeated = block + randomBytes(100000, 4) + block + block;
        QVERIFY(!hasRepeatedStretches(block + randomBytes(256 * 1024, 5)));
        const TPackedChunk packed = packChunk(repeated, 5, DefaultMinimumSaving);
        QCOMPARE(packed.Method, 5);
        QVERIFY(packed.Container.size() < repeated.size() / 2);
        QCOMPARE(shared::decompress(packed.Container), repeated);
    }

    void aBuildPublishedAgainAndAgain() {
        QTemporaryDir dir;
        const QString build = dir.filePath(u"build"_qs), output = dir.filePath(u"cdn"_qs);
        const QByteArray big = randomBytes(10 * MiB, 3) + textBytes(10 * MiB, 4) + randomBytes(9 * MiB, 5);
        writeTree(build, {{u"data/big.bin"_qs, big},
                          {u"data/copy of big.bin"_qs, big},
                          {u"*bin/client"_qs, randomBytes(5000, 6)},
                          {u"readme.txt"_qs, textBytes(20000, 7)},
                          {u"sub/notes.txt"_qs, textBytes(20000, 7)},
                          {u"empty.cfg"_qs, QByteArray()},
                          {u".hidden/settings.ini"_qs, "[a]\nb=1\n"},
                          {u"level one.pak"_qs, randomBytes(4 * MiB + 1, 8)}});
        const TPublishSummary first = publish(build, output, u"1.0.7"_qs);
        const TPackageConfigurationReader version1 = readBack(output);
        verifyReadsBack(version1, {build});
        QCOMPARE(version1.packageVersion(), u"1.0.7"_qs);
        // Identical chunks are listed and stored once (and the empty file's piece); text is kept packed,
        // noise is stored.
        QCOMPARE(unpackedHashes(version1).size(), version1.chunks().size());
        int stored = 0;
        for (QDirIterator it(output + u"/chunks"_qs, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
             it.next()) {
            ++stored;
        }
        QCOMPARE(stored, int(version1.chunks().size()) + 1);
        QCOMPARE(first.Chunks, int(version1.chunks().size()));
        QVERIFY(first.NewPacked >= 1 && first.NewStored >= 2 &&
                first.NewPacked + first.NewStored == first.Chunks);
        QCOMPARE(publish(build, output, u"1.0.7"_qs).NewChunks, 0);

        // A few bytes more at the start of a big file: all but its first chunk are reused, and the first
        // version's pieces stay for players still updating to it.
        QByteArray changed = big;
        writeTree(build, {{u"data/big.bin"_qs, changed.insert(1000, randomBytes(777, 11))}});
        QCOMPARE(publish(build, output, u"2"_qs).NewChunks, 1);
        const TPackageConfigurationReader version2 = readBack(output);
        verifyReadsBack(version2, {build});
        QCOMPARE(unpackedHashes(version2).size(), unpackedHashes(version1).size() + 1);
        for (const TChunkInPackage& chunk : version1.chunks()) {
            QVERIFY(QFileInfo::exists(chunk.Url.toLocalFile()));
        }

        // Stored pieces cut short or replaced by their raw content are written anew.
        const auto firstPieceOf = [&version2](const QString& Name) {
            for (const TFileInPackage& file : version2.files()) {
                if (file.LocalFile == Name) {
                    return version2.chunks().at(std::size_t(file.Chunks.front())).Url.toLocalFile();
                }
            }
            return QString();
        };
        QVERIFY(QFile::resize(firstPieceOf(u"level one.pak"_qs), 1000));
        QVERIFY(
            testsupport::writeBytes(firstPieceOf(u"readme.txt"_qs), readBytes(build + u"/readme.txt"_qs)));
        QCOMPARE(publish(build, output, u"2"_qs).NewChunks, 2);
        verifyReadsBack(readBack(output), {build});
    }

    void assetDocumentFollowsThePackageChunks() {
        QTemporaryDir dir;
        const QString client = dir.filePath(u"client"_qs), assets = dir.filePath(u"assets"_qs),
                      output = dir.filePath(u"cdn"_qs);
        writeTree(client,
                  {{u"*client.bin"_qs, randomBytes(10 * MiB, 12)}, {u"shared.txt"_qs, textBytes(5000, 13)}});
        writeTree(assets, {{u"assets/world.pak"_qs, randomBytes(9 * MiB, 14)},
                           {u"assets/shared.txt"_qs, textBytes(5000, 13)}});
        publish(client, output, u"12"_qs);
        publish(assets, output, u"7"_qs, EDocumentKind::Assets);
        QCOMPARE(readBack(output, u"assets.json"_qs).assetVersion(), u"7"_qs);
        verifyReadsBack(readBack(output, u"assets.json"_qs), {client, assets});
        // A new package version with more chunks moves the asset chunks further back in the combined
        // table; the asset document is kept in step.
        writeTree(client, {{u"patch.bin"_qs, randomBytes(6 * MiB, 16)}});
        publish(client, output, u"13"_qs);
        verifyReadsBack(readBack(output, u"assets.json"_qs), {client, assets});
    }

    void failuresLeaveThePreviousDocument() {
        QTemporaryDir dir;
        const QString build = dir.filePath(u"build"_qs), output = dir.filePath(u"cdn"_qs);
        writeTree(build, {{u"a.bin"_qs, randomBytes(9 * MiB, 20)}});
        publish(build, output, u"1"_qs);
        const QByteArray version1 = readBytes(output + u"/package.json"_qs);
        writeTree(build, {{u"b.bin"_qs, randomBytes(12 * MiB, 21)}, {u"c.txt"_qs, textBytes(9000, 22)}});
        // A chunk that cannot be written, then the document itself.
        for (const QString& failing : {u"/chunks/"_qs, u"/package.json"_qs}) {
            const auto pFailing = std::make_shared<testsupport::TFailingFilesystem>(
                dir.path(), testsupport::EFailingOperation::Write,
                [failing](const QString& Path) { return Path.contains(failing); });
            QVERIFY_EXCEPTION_THROWN(publish(build, output, u"2"_qs, EDocumentKind::Package, pFailing),
                                     std::runtime_error);
            QCOMPARE(readBytes(output + u"/package.json"_qs), version1);
            QCOMPARE(QDir(output).entryList(QDir::Files | QDir::Hidden), QStringList{u"package.json"_qs});
        }
        // Afterwards a sound run completes the store and the document.
        publish(build, output, u"2"_qs);
        verifyReadsBack(readBack(output), {build});
    }
};

LAUNCHER_TEST(TPublisherTest)
#include "tst_publisher.moc"
