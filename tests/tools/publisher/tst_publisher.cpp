#include "launcher/chunking/chunker.h"
#include "launcher/package/packageconfigurationreader.h"
#include "publisher/chunkstore.h"
#include "publisher/packingchoice.h"
#include "publisher/publishcommand.h"
#include "publisher/usageerror.h"
#include "shared/container/container.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <map>
#include <random>
#include <set>

using testsupport::readBytes;
using namespace publisher;
using mirrel::launcher::TChunkInPackage;
using mirrel::launcher::TFileInPackage;
using mirrel::launcher::TPackageConfigurationReader;
using testsupport::operator""_qs;
using testsupport::randomBytes;
using testsupport::sha256;

namespace {

constexpr int MiB = 1024 * 1024;

// Text made of a small vocabulary: packs to a fraction of its size.
QByteArray textBytes(int Size, std::uint64_t Seed) {
    static const char* const Words[] = {"vantor ",  "online ", "quorvane ", "launcher ", "chunk ",
                                        "texture ", "shader ", "level ",    "sound ",    "model\n"};
    std::mt19937_64 Random(Seed);
    QByteArray Data;
    Data.reserve(Size + 16);
    while (Data.size() < Size) {
        Data.append(Words[Random() % 10]);
    }
    Data.truncate(Size);
    return Data;
}

// A build directory generated inside the test.
class TBuildTree {
public:
    explicit TBuildTree(const QString& RootPath)
        : Root(RootPath) {}

    void write(const QString& LocalFile, const QByteArray& Content, bool Executable = false) const {
        const QString Path = Root + u'/' + LocalFile;
        QDir().mkpath(QFileInfo(Path).absolutePath());
        QFile File(Path);
        QVERIFY(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(File.write(Content), qint64(Content.size()));
        File.close();
        QFileDevice::Permissions Permissions =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        if (Executable) {
            Permissions |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
        }
        QVERIFY(File.setPermissions(Permissions));
    }

    // Local file -> absolute path of every file below the root.
    std::map<QString, QString> files() const {
        std::map<QString, QString> Files;
        QDirIterator Iterator(Root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                              QDirIterator::Subdirectories);
        while (Iterator.hasNext()) {
            const QString Path = Iterator.next();
            Files.emplace(QDir(Root).relativeFilePath(Path), Path);
        }
        return Files;
    }

    QString Root;
};

TPackageConfigurationReader readBack(const QString& Output, const QString& AssetDocument = QString()) {
    const QUrl Base = QUrl::fromLocalFile(Output + u'/');
    const QByteArray Assets =
        AssetDocument.isEmpty() ? QByteArray() : readBytes(Output + u'/' + AssetDocument);
    return TPackageConfigurationReader(readBytes(Output + u"/package.json"_qs), Assets, Base, Base);
}

// Fetches one piece from the output folder the way the launcher would and
// checks both of its hashes and sizes; returns its unpacked content.
QByteArray fetchPiece(const TChunkInPackage& Piece) {
    const QByteArray Stored = readBytes(Piece.Url.toLocalFile());
    if (quint64(Stored.size()) != Piece.PackedSize || sha256(Stored) != Piece.PackedHash) {
        qWarning() << "packed size or hash differs for" << Piece.Url;
        return QByteArray("<packed mismatch>");
    }
    const QByteArray Content = Piece.Unpack ? shared::decompress(Stored) : Stored;
    if (quint64(Content.size()) != Piece.UnpackedSize || sha256(Content) != Piece.UnpackedHash) {
        qWarning() << "unpacked size or hash differs for" << Piece.Url;
        return QByteArray("<unpacked mismatch>");
    }
    return Content;
}

std::vector<quint64> launcherChunkLengths(const QString& Path) {
    std::vector<quint64> Lengths;
    mirrel::launcher::chunkFile(Path.toStdString(),
                                [&](unsigned char*, std::uint64_t Length) { Lengths.push_back(Length); });
    return Lengths;
}

// The documents describe exactly the given trees: the same files, each with
// its size, hash and execute bit; its chunks are cut where the launcher cuts
// them, and fetching them (or the whole-file piece) gives the file back.
void verifyReadsBackAsTrees(const TPackageConfigurationReader& Reader,
                            const std::vector<const TBuildTree*>& Trees) {
    QVERIFY(Reader.isValid());
    std::map<QString, QString> Expected;
    for (const TBuildTree* Tree : Trees) {
        const auto Files = Tree->files();
        Expected.insert(Files.begin(), Files.end());
    }
    QCOMPARE(Reader.files().size(), Expected.size());
    const auto& Table = Reader.chunks();
    for (const TFileInPackage& File : Reader.files()) {
        QVERIFY2(Expected.count(File.LocalFile) == 1, qPrintable(File.LocalFile));
        const QString Source = Expected.at(File.LocalFile);
        const QByteArray Content = readBytes(Source);
        QCOMPARE(File.Size, quint64(Content.size()));
        QCOMPARE(File.Hash, sha256(Content));
        QCOMPARE(File.Executable, QFileInfo(Source).isExecutable());

        QByteArray Assembled;
        std::vector<quint64> Lengths;
        for (const std::int32_t Index : File.Chunks) {
            QVERIFY(Index >= 0 && std::size_t(Index) < Table.size());
            QVERIFY(Table[Index].Unpack);
            Assembled += fetchPiece(Table[Index]);
            Lengths.push_back(Table[Index].UnpackedSize);
        }
        QVERIFY2(Assembled == Content, qPrintable(File.LocalFile));
        QVERIFY(Lengths == launcherChunkLengths(Source));

        if (File.Chunks.size() < 2) {
            QVERIFY2(!File.WholeFile.Url.isEmpty(), qPrintable(File.LocalFile));
            QCOMPARE(File.WholeFile.UnpackedHash, File.Hash);
            QCOMPARE(File.WholeFile.UnpackedSize, File.Size);
            QVERIFY(fetchPiece(File.WholeFile) == Content);
            QCOMPARE(File.WholeFile.Unpack, !Content.isEmpty());
        } else {
            QVERIFY(File.WholeFile.Url.isEmpty());
        }
    }
}

std::set<QByteArray> unpackedHashes(const TPackageConfigurationReader& Reader) {
    std::set<QByteArray> Hashes;
    for (const TChunkInPackage& Chunk : Reader.chunks()) {
        Hashes.insert(Chunk.UnpackedHash);
    }
    return Hashes;
}

int storedObjectCount(const QString& Output) {
    int Count = 0;
    QDirIterator Iterator(Output + u"/chunks"_qs, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (Iterator.hasNext()) {
        Iterator.next();
        ++Count;
    }
    return Count;
}

TPublishOptions options(const QString& Input, const QString& Output, const QString& Version, int Method = 3) {
    TPublishOptions Options;
    Options.InputDirectory = Input;
    Options.OutputDirectory = Output;
    Options.Document.Version = Version;
    Options.Method = Method;
    Options.Threads = 2;
    return Options;
}

QString publish(const TPublishOptions& Options, TPublishSummary* Summary = nullptr,
                std::shared_ptr<const shared::TFileSystemHelper> FileSystem = nullptr) {
    if (!FileSystem) {
        FileSystem = std::make_shared<shared::TFileSystemHelper>();
    }
    TPublishCommand Command(FileSystem, Options);
    const QString Line = Command.run();
    if (Summary) {
        *Summary = Command.summary();
    }
    return Line;
}

// A file system whose writes start failing: after a number of successful
// writes, or for paths that end in a given name.
class TFailingFileSystem : public shared::TFileSystemHelper {
public:
    TFailingFileSystem(int SuccessfulWrites, QString FailingName)
        : WritesLeft(SuccessfulWrites)
        , FailingName(std::move(FailingName)) {}

    void writeFile(const QString& Path, const QByteArray& Data) const override {
        if ((!FailingName.isEmpty() && Path.endsWith(FailingName)) || WritesLeft-- <= 0) {
            throw shared::ioError(Path, u"No space left on device"_qs);
        }
        shared::TFileSystemHelper::writeFile(Path, Data);
    }

private:
    mutable std::atomic<int> WritesLeft;
    QString FailingName;
};

} // namespace

class TPublisherTest : public QObject {
    Q_OBJECT

private slots:
    void packingChoice() {
        QVERIFY(packingPays(100, 97, 0.03));
        QVERIFY(!packingPays(100, 98, 0.03));
        QVERIFY(packingPays(1000000, 970000, 0.03));
        QVERIFY(!packingPays(1000000, 970001, 0.03));
        QVERIFY(packingPays(1000, 1000, 0.0));

        // Noise is stored, whatever the method; the slow methods are not even
        // tried on it.
        const QByteArray Noise = randomBytes(300000, 1);
        QVERIFY(!hasRepeatedStretches(Noise));
        for (int Method : {0, 3, 4, 5}) {
            const TPackedChunk Packed = packChunk(Noise, Method, DefaultMinimumSaving);
            QCOMPARE(Packed.Method, 0);
            QCOMPARE(Packed.Container.at(1), char(0));
            QCOMPARE(shared::decompress(Packed.Container), Noise);
        }
        const QByteArray Text = textBytes(300000, 2);
        const int DeflateSize = shared::compress(3, Text).size();
        for (int Method : {3, 4, 5}) {
            const TPackedChunk Packed = packChunk(Text, Method, DefaultMinimumSaving);
            QVERIFY(Packed.Method == Method || Packed.Method == 3);
            QCOMPARE(Packed.Container.at(1), char(Packed.Method));
            QVERIFY(Packed.Container.size() <= std::min(DeflateSize, shared::compress(Method, Text).size()));
            QCOMPARE(shared::decompress(Packed.Container), Text);
        }
        // Noise that repeats further apart than DEFLATE looks is no noise to LZMA.
        const QByteArray Block = randomBytes(256 * 1024, 3);
        const QByteArray Repeated = Block + randomBytes(100000, 4) + Block + Block;
        QVERIFY(hasRepeatedStretches(Repeated));
        QVERIFY(!hasRepeatedStretches(Block + randomBytes(256 * 1024, 5)));
        const TPackedChunk Packed = packChunk(Repeated, 5, DefaultMinimumSaving);
        QCOMPARE(Packed.Method, 5);
        QVERIFY(Packed.Container.size() < Repeated.size() / 2);
        QCOMPARE(shared::decompress(Packed.Container), Repeated);
        // With a demand no packing can meet, even text is stored.
        QCOMPARE(packChunk(Text, 5, 0.99).Method, 0);
    }

    void publishedTreeReadsBackAsTheBuild() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        TBuildTree Tree(Dir.filePath(u"build"_qs));
        const QByteArray Big = randomBytes(10 * MiB, 3) + textBytes(10 * MiB, 4) + randomBytes(9 * MiB, 5);
        Tree.write(u"data/big.bin"_qs, Big);
        Tree.write(u"data/copy of big.bin"_qs, Big);
        Tree.write(u"bin/client"_qs, randomBytes(5000, 6), true);
        Tree.write(u"readme.txt"_qs, textBytes(20000, 7));
        Tree.write(u"sub/dir/notes.txt"_qs, textBytes(20000, 7));
        Tree.write(u"empty.cfg"_qs, QByteArray());
        Tree.write(u".hidden/settings.ini"_qs, QByteArray("[a]\nb=1\n"));
        Tree.write(u"levels/level one.pak"_qs, randomBytes(4 * MiB + 1, 8));
        const QString Output = Dir.filePath(u"cdn"_qs);

        TPublishOptions Options = options(Tree.Root, Output, u"1.0.7"_qs);
        Options.Document.Executable = u"bin/client"_qs;
        Options.Document.Parameters = QStringList{u"-windowed"_qs, u"--lang=en"_qs};
        Options.Document.Generation = u"second"_qs;
        Options.Document.Variant = u"beta"_qs;
        TPublishSummary Summary;
        const QString Line = publish(Options, &Summary);
        QVERIFY2(Line.startsWith(u"Published package.json version 1.0.7: 8 files, "_qs), qPrintable(Line));

        const TPackageConfigurationReader Reader = readBack(Output);
        verifyReadsBackAsTrees(Reader, {&Tree});
        QCOMPARE(Reader.packageVersion(), u"1.0.7"_qs);
        QCOMPARE(Reader.executable(), u"bin/client"_qs);
        QCOMPARE(Reader.parameters(), Options.Document.Parameters);
        QCOMPARE(Reader.generation(), mirrel::launcher::EPackageGeneration::Second);
        QCOMPARE(Reader.variant(), mirrel::launcher::EPackageVariant::Beta);

        // Identical files and identical chunks are listed and stored once.
        const auto& Files = Reader.files();
        const auto FileNamed = [&Files](const QString& Name) {
            return *std::find_if(Files.begin(), Files.end(),
                                 [&Name](const TFileInPackage& F) { return F.LocalFile == Name; });
        };
        QVERIFY(FileNamed(u"data/big.bin"_qs).Chunks.size() >= 3);
        QVERIFY(FileNamed(u"data/big.bin"_qs).Chunks == FileNamed(u"data/copy of big.bin"_qs).Chunks);
        QVERIFY(FileNamed(u"readme.txt"_qs).Chunks == FileNamed(u"sub/dir/notes.txt"_qs).Chunks);
        QCOMPARE(unpackedHashes(Reader).size(), Reader.chunks().size());
        QCOMPARE(storedObjectCount(Output), int(Reader.chunks().size()) + 1); // and the empty piece

        // Text is kept packed, noise is stored; the summary counts both.
        QCOMPARE(Summary.Chunks, int(Reader.chunks().size()));
        QCOMPARE(Summary.NewChunks, Summary.Chunks);
        QVERIFY(Summary.NewPacked >= 1);
        QVERIFY(Summary.NewStored >= 2);
        QCOMPARE(Summary.NewPacked + Summary.NewStored, Summary.NewChunks);
        quint64 Unpacked = 0;
        quint64 Packed = 0;
        for (const TChunkInPackage& Chunk : Reader.chunks()) {
            Unpacked += Chunk.UnpackedSize;
            Packed += Chunk.PackedSize;
            const char Method = readBytes(Chunk.Url.toLocalFile()).at(1);
            QVERIFY(Method == 0 || Method == 3);
            QCOMPARE(Method == 3,
                     packingPays(qint64(Chunk.UnpackedSize), qint64(Chunk.PackedSize), DefaultMinimumSaving));
        }
        QCOMPARE(Summary.UnpackedBytes, Unpacked);
        QCOMPARE(Summary.PackedBytes, Packed);
        QVERIFY(Packed < Unpacked);

        // Publishing the same build again writes nothing new.
        TPublishSummary Again;
        publish(Options, &Again);
        QCOMPARE(Again.NewChunks, 0);
        QCOMPARE(Again.Chunks, Summary.Chunks);
    }

    void secondVersionReusesAllButTouchedChunks() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        TBuildTree Tree(Dir.filePath(u"build"_qs));
        const QByteArray Big = randomBytes(48 * MiB, 9);
        Tree.write(u"client.pak"_qs, Big);
        Tree.write(u"small.txt"_qs, textBytes(3000, 10));
        const QString Output = Dir.filePath(u"cdn"_qs);
        publish(options(Tree.Root, Output, u"1"_qs));
        const TPackageConfigurationReader Version1 = readBack(Output);
        QVERIFY(Version1.chunks().size() >= 5);

        QByteArray Changed = Big;
        Changed.insert(1000, randomBytes(777, 11));
        Tree.write(u"client.pak"_qs, Changed);
        TPublishSummary Summary;
        publish(options(Tree.Root, Output, u"2"_qs), &Summary);
        const TPackageConfigurationReader Version2 = readBack(Output);
        verifyReadsBackAsTrees(Version2, {&Tree});
        QCOMPARE(Version2.packageVersion(), u"2"_qs);

        std::set<QByteArray> Added;
        const std::set<QByteArray> Old = unpackedHashes(Version1);
        for (const QByteArray& Hash : unpackedHashes(Version2)) {
            if (Old.count(Hash) == 0) {
                Added.insert(Hash);
            }
        }
        QCOMPARE(int(Added.size()), 1);
        QCOMPARE(Summary.NewChunks, 1);
        QCOMPARE(Summary.Chunks, int(Version1.chunks().size()));
        // The first version's pieces stay, for players still updating to it.
        for (const TChunkInPackage& Chunk : Version1.chunks()) {
            QVERIFY(QFileInfo::exists(Chunk.Url.toLocalFile()));
        }
    }

    void assetDocumentFollowsThePackageChunks() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        TBuildTree Client(Dir.filePath(u"client"_qs));
        Client.write(u"client.bin"_qs, randomBytes(10 * MiB, 12), true);
        Client.write(u"shared.txt"_qs, textBytes(5000, 13));
        TBuildTree Assets(Dir.filePath(u"assets"_qs));
        Assets.write(u"assets/world.pak"_qs, randomBytes(9 * MiB, 14));
        Assets.write(u"assets/shared copy.txt"_qs, textBytes(5000, 13));
        Assets.write(u"assets/intro.txt"_qs, textBytes(70000, 15));
        const QString Output = Dir.filePath(u"cdn"_qs);

        publish(options(Client.Root, Output, u"12"_qs));
        TPublishOptions AssetOptions = options(Assets.Root, Output, u"7"_qs);
        AssetOptions.Document.Kind = EDocumentKind::Assets;
        publish(AssetOptions);
        TPackageConfigurationReader Reader = readBack(Output, u"assets.json"_qs);
        verifyReadsBackAsTrees(Reader, {&Client, &Assets});
        QCOMPARE(Reader.assetVersion(), u"7"_qs);

        // A new package version with more chunks moves the asset chunks further
        // back in the combined table; the asset document is kept in step.
        const std::size_t ChunksBefore = Reader.chunks().size();
        Client.write(u"patch.bin"_qs, randomBytes(6 * MiB, 16));
        const QString Line = publish(options(Client.Root, Output, u"13"_qs));
        QVERIFY2(Line.contains(u"assets.json now follows"_qs), qPrintable(Line));
        Reader = readBack(Output, u"assets.json"_qs);
        QVERIFY(Reader.chunks().size() > ChunksBefore);
        verifyReadsBackAsTrees(Reader, {&Client, &Assets});
    }

    void damagedStoredChunksAreReplaced() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        TBuildTree Tree(Dir.filePath(u"build"_qs));
        Tree.write(u"a.bin"_qs, randomBytes(3 * MiB, 17));
        Tree.write(u"b.txt"_qs, textBytes(100000, 18));
        Tree.write(u"c.bin"_qs, randomBytes(2 * MiB, 19));
        const QString Output = Dir.filePath(u"cdn"_qs);
        publish(options(Tree.Root, Output, u"1"_qs));
        const TPackageConfigurationReader Before = readBack(Output);
        QCOMPARE(Before.chunks().size(), std::size_t(3));

        // One object cut short, one replaced by its raw content (no container).
        const auto pathOf = [&](const QString& Name) {
            for (const TFileInPackage& File : Before.files()) {
                if (File.LocalFile == Name) {
                    return Before.chunks()[File.Chunks.front()].Url.toLocalFile();
                }
            }
            return QString();
        };
        QFile Truncated(pathOf(u"a.bin"_qs));
        QVERIFY(Truncated.resize(1000));
        QFile Raw(pathOf(u"b.txt"_qs));
        QVERIFY(Raw.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Raw.write(readBytes(Tree.Root + u"/b.txt"_qs));
        Raw.close();

        TPublishSummary Summary;
        publish(options(Tree.Root, Output, u"1"_qs), &Summary);
        QCOMPARE(Summary.NewChunks, 2);
        verifyReadsBackAsTrees(readBack(Output), {&Tree});
    }

    void failuresLeaveThePreviousDocument() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        TBuildTree Tree(Dir.filePath(u"build"_qs));
        Tree.write(u"a.bin"_qs, randomBytes(9 * MiB, 20));
        const QString Output = Dir.filePath(u"cdn"_qs);
        publish(options(Tree.Root, Output, u"1"_qs));
        const QByteArray Version1 = readBytes(Output + u"/package.json"_qs);
        QVERIFY(!Version1.isEmpty());

        Tree.write(u"b.bin"_qs, randomBytes(12 * MiB, 21));
        Tree.write(u"c.txt"_qs, textBytes(9000, 22));
        const auto expectFailure = [&](std::shared_ptr<const shared::TFileSystemHelper> FileSystem) {
            try {
                publish(options(Tree.Root, Output, u"2"_qs), nullptr, std::move(FileSystem));
                QFAIL("publishing should have failed");
            } catch (const TUsageError&) {
                QFAIL("not a usage error");
            } catch (const std::runtime_error& Error) {
                QVERIFY2(QString::fromUtf8(Error.what()).contains(u"No space left on device"_qs),
                         Error.what());
            }
            QCOMPARE(readBytes(Output + u"/package.json"_qs), Version1);
        };
        expectFailure(std::make_shared<TFailingFileSystem>(1, QString())); // a chunk fails
        expectFailure(std::make_shared<TFailingFileSystem>(1000, u"package.json"_qs));
        const QStringList Leftovers = QDir(Output).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(Leftovers, QStringList{u"package.json"_qs});

        // Afterwards a sound run completes the store and the document.
        publish(options(Tree.Root, Output, u"2"_qs));
        verifyReadsBackAsTrees(readBack(Output), {&Tree});
    }

    void badInputsAreRejected() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        TBuildTree Tree(Dir.filePath(u"build"_qs));
        Tree.write(u"a.txt"_qs, QByteArray("alpha"));
        const QString Output = Dir.filePath(u"cdn"_qs);
        const auto failureText = [](const TPublishOptions& Options, bool ExpectUsageError) {
            try {
                publish(Options);
            } catch (const TUsageError& Error) {
                return ExpectUsageError ? QString::fromUtf8(Error.what()) : u"unexpected usage error"_qs;
            } catch (const std::runtime_error& Error) {
                return ExpectUsageError ? u"expected usage error"_qs : QString::fromUtf8(Error.what());
            }
            return u"no error"_qs;
        };
        const auto expect = [&](const TPublishOptions& Options, bool UsageError, const QString& Text) {
            const QString Actual = failureText(Options, UsageError);
            QVERIFY2(Actual.contains(Text), qPrintable(Actual));
        };

        TPublishOptions Options = options(Tree.Root, Output, QString());
        expect(Options, true, u"--version is required"_qs);
        Options = options(Tree.Root, Output, u"1"_qs, 7);
        expect(Options, true, u"Unknown compression method 7"_qs);
        Options = options(Tree.Root, Output, u"1"_qs);
        Options.DocumentName = u"sub/package.json"_qs;
        expect(Options, true, u"without folders"_qs);
        Options = options(Tree.Root, Output, u"1"_qs);
        Options.Document.Kind = EDocumentKind::Assets;
        Options.Document.Executable = u"a.txt"_qs;
        expect(Options, true, u"package documents only"_qs);

        expect(options(Dir.filePath(u"missing"_qs), Output, u"1"_qs), false, u"does not exist"_qs);
        Options = options(Tree.Root, Output, u"1"_qs);
        Options.Document.Executable = u"bin/client"_qs;
        expect(Options, false, u"The executable 'bin/client' is not a file"_qs);
        expect(options(Tree.Root, Tree.Root + u"/cdn"_qs, u"1"_qs), false,
               u"lies inside the build directory"_qs);
        Options = options(Tree.Root, Output, u"1"_qs);
        Options.Document.Kind = EDocumentKind::Assets;
        expect(Options, false, u"publish the package document first"_qs);
        // A folder below a plain file cannot be created, whoever runs this.
        QFile Blocker(Dir.filePath(u"blocker"_qs));
        QVERIFY(Blocker.open(QIODevice::WriteOnly));
        Blocker.close();
        expect(options(Tree.Root, Dir.filePath(u"blocker/cdn"_qs), u"1"_qs), false, u"I/O error on file"_qs);
        QVERIFY(!QFileInfo::exists(Output));
    }
};

LAUNCHER_TEST(TPublisherTest)
#include "tst_publisher.moc"
