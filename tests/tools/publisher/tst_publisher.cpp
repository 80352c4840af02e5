#include "launcher/chunking/chunker.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "publisher/packingchoice.h"
#include "publisher/publishcommand.h"
#include "shared/container/container.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QDirIterator>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <random>

using namespace publisher;
using namespace mirrel::launcher;
using testsupport::operator""_qs;
using testsupport::randomBytes;
using testsupport::sha256;

namespace {

constexpr int MiB = 1024 * 1024;

// Text made of a small vocabulary: packs to a fraction of its size.
QByteArray textBytes(int Size, std::uint64_t Seed) {
    std::mt19937_64 random(Seed);
    QByteArray text;
    while (text.size() < Size) {
        text.append(QByteArray("vantor online launcher chunk level model\n").split(' ').at(random() % 6) +
                    ' ');
    }
    return text.left(Size);
}

// Writes files below Root; a name starting with '*' is an executable.
void writeTree(const QString& Root, const std::map<QString, QByteArray>& Files) {
    for (const auto& [name, content] : Files) {
        const QString path = Root + u'/' + QString(name).remove(u'*');
        QVERIFY(testsupport::writeBytes(path, content));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner |
                                                QFile::Permissions(name[0] == u'*' ? QFile::ExeOwner : 0)));
    }
}

// What the launcher would fetch: from the output folder, or over HTTP.
QByteArray fetch(const QUrl& Url) {
    QNetworkAccessManager network;
    QNetworkReply* pReply = network.get(QNetworkRequest(Url));
    QSignalSpy finished(pReply, &QNetworkReply::finished);
    return finished.wait(30000) && pReply->error() == QNetworkReply::NoError ? pReply->readAll()
                                                                             : QByteArray();
}

TPackageConfigurationReader readBack(const QUrl& Package, const QUrl& Assets = QUrl()) {
    return TPackageConfigurationReader(fetch(Package), Assets.isEmpty() ? QByteArray() : fetch(Assets),
                                       Package.adjusted(QUrl::RemoveFilename),
                                       Assets.adjusted(QUrl::RemoveFilename));
}

// A piece fetched as the launcher would, its sizes and hashes checked independently; its content.
QByteArray fetchPiece(const TChunkInPackage& Piece) {
    const QByteArray stored = fetch(Piece.Url);
    const QByteArray content = Piece.Unpack ? shared::decompress(stored) : stored;
    const bool sound = quint64(stored.size()) == Piece.PackedSize && sha256(stored) == Piece.PackedHash &&
                       quint64(content.size()) == Piece.UnpackedSize && sha256(content) == Piece.UnpackedHash;
    return sound ? content : QByteArray("<piece does not match the document>");
}

// Documents describe exactly the files below Roots, chunks are cut as the launcher cuts, pieces read back.
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
        const QByteArray content = testsupport::readBytes(source);
        QCOMPARE(file.Size + file.Executable, quint64(content.size()) + QFileInfo(source).isExecutable());
        QCOMPARE(file.Hash, sha256(content));
        QByteArray assembled;
        std::vector<quint64> lengths, launcherLengths;
        for (const std::int32_t index : file.Chunks) {
            assembled += fetchPiece(Reader.chunks().at(std::size_t(index)));
            lengths.push_back(Reader.chunks().at(std::size_t(index)).UnpackedSize);
        }
        chunkFile(source.toStdString(),
                  [&](unsigned char*, std::uint64_t Length) { launcherLengths.push_back(Length); });
        QVERIFY2(assembled == content && lengths == launcherLengths, qPrintable(file.LocalFile));
        QCOMPARE(file.WholeFile.Url.isEmpty(), file.Chunks.size() > 1);
        QVERIFY(file.Chunks.size() > 1 || fetchPiece(file.WholeFile) == content);
    }
}

TPublishSummary publish(const QString& Input, const QString& Output, const QString& Version,
                        std::shared_ptr<const shared::TFileSystemHelper> FileSystem = nullptr) {
    TPublishOptions options;
    options.InputDirectory = Input;
    options.OutputDirectory = Output;
    options.Document.Version = Version;
    options.Method = 3;
    options.Threads = 2;
    TPublishCommand command(FileSystem ? FileSystem : std::make_shared<shared::TFileSystemHelper>(), options);
    command.run();
    return command.summary();
}

// Runs the publisher program in Folder; its exit code, standard output and standard error.
QStringList run(const QString& Folder, const QString& Arguments) {
    QProcess process;
    process.setWorkingDirectory(Folder);
    process.start(testsupport::launcherBinDir() + u"/vantor-publisher"_qs,
                  Arguments.split(u' ', Qt::SkipEmptyParts));
    process.waitForFinished(300000);
    return {QString::number(process.exitCode()), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

} // namespace

class TPublisherTest : public QObject {
    Q_OBJECT

private slots:
    void packingChoice() {
        QVERIFY(packingPays(1000000, 970000, 0.03) && !packingPays(1000000, 970001, 0.03));
        // Noise is stored, whatever the method; text keeps the slow method only where it beats DEFLATE.
        const QByteArray noise = randomBytes(300000, 1), text = textBytes(300000, 2);
        QCOMPARE(packChunk(noise, 5, DefaultMinimumSaving).Container, shared::compress(0, noise));
        const QByteArray packedText = packChunk(text, 5, DefaultMinimumSaving).Container;
        QVERIFY(packedText.size() <= shared::compress(3, text).size() &&
                shared::decompress(packedText) == text);
        QCOMPARE(packChunk(text, 5, 0.99).Method, 0);
        // Noise that repeats further apart than DEFLATE looks is no noise to LZMA.
        const QByteArray block = randomBytes(256 * 1024, 3),
                         repeated = block + randomBytes(99999, 4) + block + block;
        const TPackedChunk packed = packChunk(repeated, 5, DefaultMinimumSaving);
        QVERIFY(packed.Method == 5 && packed.Container.size() < repeated.size() / 2);
        QCOMPARE(shared::decompress(packed.Container), repeated);
    }

    void aBuildPublishedAgainAndAgain() {
        QTemporaryDir dir;
        const QString build = dir.filePath(u"build"_qs), output = dir.filePath(u"cdn"_qs);
        const QUrl document = QUrl::fromLocalFile(output + u"/package.json"_qs);
        const QByteArray big = randomBytes(10 * MiB, 3) + textBytes(10 * MiB, 4) + randomBytes(9 * MiB, 5);
        writeTree(build, {{u"data/big.bin"_qs, big},
                          {u"data/copy of big.bin"_qs, big},
                          {u"*bin/client"_qs, randomBytes(5000, 6)},
                          {u"readme.txt"_qs, textBytes(20000, 7)},
                          {u"sub/notes.txt"_qs, textBytes(20000, 7)},
                          {u"empty.cfg"_qs, QByteArray()},
                          {u".hidden/a.ini"_qs, "[a]\nb=1\n"},
                          {u"level one.pak"_qs, randomBytes(4 * MiB + 1, 8)}});
        const TPublishSummary first = publish(build, output, u"1.0.7"_qs);
        const TPackageConfigurationReader version1 = readBack(document);
        verifyReadsBack(version1, {build});
        QCOMPARE(version1.packageVersion(), u"1.0.7"_qs);
        // Identical chunks stored once; text packed, noise stored; the same build again writes nothing.
        QCOMPARE(version1.files().at(2).Chunks, version1.files().at(3).Chunks);
        QCOMPARE(first.Chunks, int(version1.chunks().size()));
        QVERIFY(first.NewPacked >= 1 && first.NewStored >= 2 &&
                first.NewPacked + first.NewStored == first.Chunks);
        QCOMPARE(publish(build, output, u"1.0.7"_qs).NewChunks, 0);

        // Bytes inserted early: only the first chunk is new; the old version's pieces stay.
        QByteArray changed = big;
        writeTree(build, {{u"data/big.bin"_qs, changed.insert(1000, randomBytes(777, 11))}});
        QCOMPARE(publish(build, output, u"2"_qs).NewChunks, 1);
        const TPackageConfigurationReader version2 = readBack(document);
        QCOMPARE(version2.chunks().size(), version1.chunks().size() + 1);
        for (const TChunkInPackage& chunk : version1.chunks()) {
            QVERIFY(QFileInfo::exists(chunk.Url.toLocalFile()));
        }
        // Stored pieces cut short or replaced by their raw content are written anew.
        QVERIFY(
            QFile::resize(version2.chunks().at(version2.files().at(5).Chunks.at(0)).Url.toLocalFile(), 99));
        QVERIFY(testsupport::writeBytes(
            version2.chunks().at(version2.files().at(6).Chunks.at(0)).Url.toLocalFile(),
            textBytes(20000, 7)));
        QCOMPARE(publish(build, output, u"2"_qs).NewChunks, 2);
        verifyReadsBack(readBack(document), {build});

        // A chunk that cannot be written, then the document itself: the previous document stays, alone.
        writeTree(build, {{u"new.bin"_qs, randomBytes(2 * MiB, 21)}});
        const QByteArray previous = fetch(document);
        for (const QString& failing : {u"/chunks/"_qs, u"/package.json"_qs}) {
            QVERIFY_EXCEPTION_THROWN(
                publish(build, output, u"3"_qs,
                        std::make_shared<testsupport::TFailingFilesystem>(
                            dir.path(), testsupport::EFailingOperation::Write,
                            [failing](const QString& Path) { return Path.contains(failing); })),
                std::runtime_error);
            QCOMPARE(fetch(document), previous);
            QCOMPARE(QDir(output).entryList(QDir::Files | QDir::Hidden), QStringList{u"package.json"_qs});
        }
        publish(build, output, u"3"_qs);
        verifyReadsBack(readBack(document), {build});
    }

    // Exit 0: help on stdout; 2: usage error naming --help; 1: failure; nothing written.
    void commandLines_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* Arguments, int ExitCode, const char* Message) {
            QTest::newRow(Arguments) << QString::fromUtf8(Arguments) << ExitCode
                                     << QString::fromUtf8(Message);
        };
        row("", 0, "Usage: vantor-publisher <command>");
        row("frobnicate", 2, "Unknown command 'frobnicate'");
        row("publish --bogus in out", 2, "Unknown option 'bogus'");
        row("publish in out --version", 2, "Missing value after '--version'");
        row("publish in out", 2, "--version is required");
        row("publish --version 1 --method 9 in out", 2, "Unknown compression method 9");
        row("publish --version 1 --variant alpha in out", 2, "--variant must be one of regular, preview");
        row("publish --version 1 --name sub/p.json in out", 2, "without folders");
        row("publish --document assets --version 1 --executable a.txt in out", 2, "package documents only");
        row("publish --version 1 missing out", 1, "does not exist");
        row("publish --version 1 --executable bin/x in out", 1, "'bin/x' is not a file");
        row("publish --version 1 in in/out", 1, "lies inside the build directory");
        row("publish --document assets --version 1 in out", 1, "publish the package document first");
        row("publish --version 1 in blocker/out", 1, "I/O error on file");
        row("configure --package name=A;directoryname=a;build=plan9,x86_64,p.json out", 2,
            "Unknown operating system");
        row("configure --hints ftp://127.0.0.1/h.json out", 2, "not an absolute http or https address");
    }

    void commandLines() {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir folder;
        writeTree(folder.path(), {{u"in/a.txt"_qs, "a"}, {u"blocker"_qs, ""}});
        const QStringList result = run(folder.path(), arguments);
        QCOMPARE(result[0], QString::number(exitCode));
        const QString shown = result[exitCode == 0 ? 1 : 2];
        QVERIFY2(shown.contains(message) && result[exitCode == 0 ? 2 : 1].isEmpty(), qPrintable(shown));
        QCOMPARE(shown.startsWith(u"vantor-publisher: "_qs) && shown.contains(u"--help"_qs), exitCode == 2);
        QVERIFY(!QFileInfo::exists(folder.filePath(u"out"_qs)) &&
                !QFileInfo::exists(folder.filePath(u"in/out"_qs)));
    }

    // Published and configured by the program, fetched over HTTP; a longer package moves the asset chunks.
    void scriptsBuildACdnTreeTheLauncherCanUse() {
        QTemporaryDir home;
        testsupport::TNginxFixture nginx;
        const QString cdn = nginx.documentRoot() + u"/cdn"_qs;
        writeTree(home.filePath(u"client"_qs),
                  {{u"*vantor"_qs, randomBytes(9 * MiB, 41)}, {u"lib/a.so"_qs, "so"}});
        writeTree(home.filePath(u"assets"_qs), {{u"data/world.pak"_qs, randomBytes(200000, 43)}});
        const QString publishClient =
            u"publish --executable vantor --parameter -fullscreen --method 4 client "_qs + cdn;
        QStringList result = run(home.path(), publishClient + u"/vantor --version 3"_qs);
        // One line of summary, and no progress bar off a terminal.
        QVERIFY2(result[1].startsWith(u"Published package.json version 3: 2 files, 3 chunks (3 new: "_qs) &&
                     result[1].count(u'\n') == 1 && result[2].isEmpty(),
                 qPrintable(result.join(u'|')));
        QCOMPARE(
            run(home.path(), u"publish --document assets --version 8 assets "_qs + cdn + u"/vantor"_qs)[0],
            u"0"_qs);
        writeTree(home.filePath(u"client"_qs), {{u"patch.bin"_qs, randomBytes(6 * MiB, 16)}});
        QCOMPARE(run(home.path(), publishClient + u"/vantor --version 4"_qs)[0], u"0"_qs);
        result = run(home.path(), u"configure --package name=Vantor;directoryname=vantor;build=linux,x86_64,"
                                  "vantor/package.json,vantor/assets.json --launcher name=L;directoryname=l;"
                                  "build=linux,x86_64,l.json --hints http://127.0.0.1/h.json "_qs +
                                      cdn + u"/l.json"_qs);
        QCOMPARE(result[1], u"Wrote %1/l.json: 1 packages and the launcher package.\n"_qs.arg(cdn));

        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const QUrl configurationUrl = nginx.url(u"cdn/l.json"_qs);
        const TLauncherConfigurationReader configuration(fetch(configurationUrl),
                                                         configurationUrl.adjusted(QUrl::RemoveFilename));
        QCOMPARE(configuration.hintsUrl(), QUrl(u"http://127.0.0.1/h.json"_qs));
        QVERIFY(configuration.launcherPackage());
        const TPackageBuild* pBuild =
            configuration.packages().at(0)->selectBuild(EOperatingSystem::Linux, EArchitecture::X86_64);
        const TPackageConfigurationReader reader =
            readBack(pBuild->PackageConfigurationUrl, pBuild->AssetConfigurationUrl);
        QCOMPARE(reader.executable() + reader.parameters().join(u' ') + reader.assetVersion(),
                 u"vantor-fullscreen8"_qs);
        QCOMPARE(reader.chunks().at(0).Url.host(), u"127.0.0.1"_qs);
        verifyReadsBack(reader, {home.filePath(u"client"_qs), home.filePath(u"assets"_qs)});
    }
};

LAUNCHER_TEST(TPublisherTest)
#include "tst_publisher.moc"
