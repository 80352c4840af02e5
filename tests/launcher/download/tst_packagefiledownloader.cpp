#include "launcher/download/packagefiledownloader.h"
#include "launcher/settings/launchersettings.h"
#include "shared/container/container.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QCryptographicHash>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <random>
#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::seededBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;
using testsupport::sha256;

namespace {

// Content pieces of a test: each named piece is stored packed as "c/<name>" on a server.
struct TPiece {
    QString Name;
    QByteArray Content;
};

TChunkInPackage chunkOf(const TPiece& Piece, const QUrl& Url, const QByteArray& Packed) {
    TChunkInPackage chunk;
    chunk.Url = Url;
    chunk.PackedSize = static_cast<TFileSize>(Packed.size());
    chunk.PackedHash = sha256(Packed);
    chunk.UnpackedSize = static_cast<TFileSize>(Piece.Content.size());
    chunk.UnpackedHash = sha256(Piece.Content);
    chunk.Unpack = true;
    return chunk;
}

TFileToDownload fileOf(const QString& LocalFile, const TChunkInPackageVector& Chunks) {
    TFileToDownload file;
    file.LocalFile = LocalFile;
    file.Chunks = Chunks;
    for (std::size_t index = 0; index < Chunks.size(); ++index) {
        file.ChunksToDownload.push_back(static_cast<std::int32_t>(index));
        file.Size += Chunks[index].UnpackedSize;
    }
    return file;
}

// Stores every piece packed on the server; gives their chunk descriptions.
std::vector<TChunkInPackage> serve(const testsupport::TNginxFixture& Nginx, const std::vector<TPiece>& Pieces,
                                   int Method) {
    std::vector<TChunkInPackage> chunks;
    for (const TPiece& piece : Pieces) {
        const QByteArray packed = shared::compress(Method, piece.Content);
        QTest::qVerify(Nginx.writeFile(u"c/"_qs + piece.Name, packed), "writeFile", "", __FILE__, __LINE__);
        chunks.push_back(chunkOf(piece, Nginx.url(u"c/"_qs + piece.Name), packed));
    }
    return chunks;
}

QByteArray contentOf(const std::vector<TPiece>& Pieces, const std::vector<int>& Order) {
    QByteArray content;
    for (const int index : Order) {
        content += Pieces[static_cast<std::size_t>(index)].Content;
    }
    return content;
}

// One downloader with its own network access manager and manual-release pool, as an
// installation makes it.
struct TDownloadRun {
    explicit TDownloadRun(std::shared_ptr<TLauncherFilesystemHelper> FileSystem,
                          const QString& TargetDirectory, bool SelfUpdateMode = false)
        : Pool(std::make_shared<shared::TDownloadPool>(FileSystem->settings()->maxConcurrentDownloads(),
                                                       std::make_shared<shared::QNetworkAccessManagerWrapper>(
                                                           std::make_shared<QNetworkAccessManager>()),
                                                       nullptr, false))
        , Downloader(Pool, FileSystem)
        , Completed(&Downloader, &TPackageFileDownloader::downloadCompleted)
        , Failed(&Downloader, &TPackageFileDownloader::downloadFailed)
        , Progress(&Downloader, &TPackageFileDownloader::progress)
        , Written(&Downloader, &TPackageFileDownloader::writeProgress) {
        Downloader.setTargetDirectory(QDir(TargetDirectory));
        Downloader.setSelfUpdateMode(SelfUpdateMode);
    }

    bool run(const TFileToDownloadVector& Files, int TimeoutMs = 60000) {
        Downloader.setFilesToDownload(Files);
        Downloader.startDownloads();
        const QDeadlineTimer deadline(TimeoutMs);
        while (Completed.count() + Failed.count() == 0) {
            if (deadline.hasExpired()) {
                return false;
            }
            QTest::qWait(10);
        }
        // Exactly one final signal, also after the late events of the run.
        QTest::qWait(50);
        return Completed.count() + Failed.count() == 1;
    }

    EPackageDownloaderError failure() const {
        return Failed.isEmpty() ? EPackageDownloaderError::NoError
                                : Failed.first().first().value<EPackageDownloaderError>();
    }

    std::shared_ptr<shared::TDownloadPool> Pool;
    TPackageFileDownloader Downloader;
    QSignalSpy Completed;
    QSignalSpy Failed;
    QSignalSpy Progress;
    QSignalSpy Written;
};

} // namespace

class TestPackageFileDownloader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs); }

    void init() {
        m_pLauncher = std::make_unique<QTemporaryDir>();
        m_pTarget = std::make_unique<QTemporaryDir>();
    }

    void writesSharedAndRepeatedChunksFromOneRequestEach() {
        testsupport::TNginxFixture nginx;
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const std::vector<TPiece> pieces{{u"x"_qs, seededBytes(1, 70000)},
                                         {u"y"_qs, seededBytes(2, 50000)},
                                         {u"z"_qs, seededBytes(3, 1234)}};
        const std::vector<TChunkInPackage> chunks = serve(nginx, pieces, shared::CompressionLzma);
        // "first" uses x twice; "second" shares y with it.
        TFileToDownloadVector files{fileOf(u"first.bin"_qs, {chunks[0], chunks[1], chunks[0]}),
                                    fileOf(u"dir/second.bin"_qs, {chunks[1], chunks[2]})};
        files[1].Executable = true;

        TDownloadRun run(fileSystem(), m_pTarget->path());
        QVERIFY(run.run(files));
        QCOMPARE(run.Completed.count(), 1);
        QCOMPARE(readBytes(target("first.bin")), contentOf(pieces, {0, 1, 0}));
        QCOMPARE(readBytes(target("dir/second.bin")), contentOf(pieces, {1, 2}));
        QVERIFY(QFileInfo(target("dir/second.bin")).isExecutable());
        QVERIFY(!QFileInfo(target("first.bin")).isExecutable());
        for (const TPiece& piece : pieces) {
            QVERIFY(nginx.waitForRequestCount(u"/c/"_qs + piece.Name, 1));
        }
        // Every position is written once; the written total counts each address once.
        QCOMPARE(run.Written.count(), 5);
        const QList<QVariant> last = run.Progress.last();
        const TFileSize unpackedTotal = 70000 + 50000 + 1234;
        QCOMPARE(last.at(2).value<TFileSize>(), unpackedTotal);
        QCOMPARE(last.at(3).value<TFileSize>(), unpackedTotal);
        QCOMPARE(last.at(0).value<TFileSize>(), last.at(1).value<TFileSize>());
    }

    void keepsTheBytesOfPositionsThatAreNotPending() {
        testsupport::TNginxFixture nginx;
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const std::vector<TPiece> pieces{{u"a"_qs, seededBytes(10, 3000)},
                                         {u"b"_qs, seededBytes(11, 4000)},
                                         {u"c"_qs, seededBytes(12, 5000)}};
        const std::vector<TChunkInPackage> chunks = serve(nginx, pieces, shared::CompressionDeflate);
        // The local file holds a and c already; b's place holds something else.
        const QByteArray local = pieces[0].Content + QByteArray(4000, 'o') + pieces[2].Content;
        QVERIFY(writeBytes(target("patched.bin"), local));
        TFileToDownload file = fileOf(u"patched.bin"_qs, chunks);
        file.ChunksToDownload = {1};

        TDownloadRun run(fileSystem(), m_pTarget->path());
        QVERIFY(run.run({file}));
        QCOMPARE(run.Completed.count(), 1);
        QCOMPARE(readBytes(target("patched.bin")), contentOf(pieces, {0, 1, 2}));
        QCOMPARE(nginx.requestCount(u"/c/a"_qs), 0);
        QCOMPARE(nginx.requestCount(u"/c/c"_qs), 0);
    }

    void parksEarlyChunksInMemoryAndInTemporaryFiles_data() {
        QTest::addColumn<int>("maxCachedChunks");
        QTest::newRow("no cache") << 0;
        QTest::newRow("two") << 2;
        QTest::newRow("default") << -1;
    }

    void parksEarlyChunksInMemoryAndInTemporaryFiles() {
        QFETCH(int, maxCachedChunks);
        // The server answers the chunks in reverse order: the first chunk of the file comes last.
        constexpr int count = 8;
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        std::vector<TPiece> pieces;
        TChunkInPackageVector chunks;
        std::vector<int> order;
        for (int index = 0; index < count; ++index) {
            pieces.push_back({u"p%1"_qs.arg(index), seededBytes(100 + index, 20000 + index)});
            const QByteArray packed = shared::compress(shared::CompressionStored, pieces.back().Content);
            testsupport::TScriptedAnswer answer = testsupport::TScriptedAnswer::ok(packed);
            answer.delayBeforeHeadersMs = 100 * (count - index);
            server.setAnswer(u"/c/p%1"_qs.arg(index), answer);
            chunks.push_back(chunkOf(pieces.back(), server.url(u"/c/p%1"_qs.arg(index)), packed));
            order.push_back(index);
        }
        const QByteArray ini = maxCachedChunks < 0
                                   ? QByteArray("[OPTIONS]\nmaxConcurrentDownloads=10\n")
                                   : QByteArray("[OPTIONS]\nmaxConcurrentDownloads=10\nmaxCachedChunks=") +
                                         QByteArray::number(maxCachedChunks) + '\n';
        TDownloadRun run(fileSystem(ini), m_pTarget->path());
        QVERIFY(run.run({fileOf(u"reversed.bin"_qs, chunks)}));
        QCOMPARE(run.Completed.count(), 1);
        QCOMPARE(readBytes(target("reversed.bin")), contentOf(pieces, order));
        const int limit = maxCachedChunks < 0 ? 100 : maxCachedChunks;
        QVERIFY(run.Downloader.peakCachedChunksInMemory() <= limit + 1);
        QCOMPARE(run.Downloader.peakCachedChunksInMemory() + run.Downloader.chunksParkedInTemporaryFiles(),
                 // Every chunk but the first waits somewhere, unless the server's order got mixed up.
                 std::max(run.Downloader.peakCachedChunksInMemory() +
                              run.Downloader.chunksParkedInTemporaryFiles(),
                          1));
        if (maxCachedChunks == 0) {
            QVERIFY(run.Downloader.chunksParkedInTemporaryFiles() > 0);
        }
        if (maxCachedChunks < 0) {
            QCOMPARE(run.Downloader.chunksParkedInTemporaryFiles(), 0);
            QVERIFY(run.Downloader.peakCachedChunksInMemory() > 1);
        }
        for (int index = 0; index < count; ++index) {
            QCOMPARE(server.requestCount(u"/c/p%1"_qs.arg(index)), 1);
        }
    }

    void retriesFailedDownloadsThreeTimes_data() {
        QTest::addColumn<QList<int>>("answers"); // 503: a failure, 0: the wrong bytes, 200: the right ones
        QTest::addColumn<bool>("completes");
        QTest::newRow("503 three times, then 200") << QList<int>{503, 503, 503, 200} << true;
        QTest::newRow("503 four times") << QList<int>{503, 503, 503, 503} << false;
        QTest::newRow("wrong bytes, then 200") << QList<int>{0, 200} << true;
        QTest::newRow("wrong bytes and 503 share one budget") << QList<int>{503, 0, 503, 0} << false;
        QTest::newRow("mixed, last attempt succeeds") << QList<int>{0, 503, 0, 200} << true;
    }

    void retriesFailedDownloadsThreeTimes() {
        QFETCH(QList<int>, answers);
        QFETCH(bool, completes);
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const TPiece piece{u"flaky"_qs, seededBytes(7, 30000)};
        const QByteArray packed = shared::compress(shared::CompressionLzma, piece.Content);
        const QByteArray wrong = shared::compress(shared::CompressionLzma, seededBytes(8, 30000));
        QList<testsupport::TScriptedAnswer> script;
        for (const int answer : answers) {
            script.append(answer == 503 ? testsupport::TScriptedAnswer::withStatus(503)
                                        : testsupport::TScriptedAnswer::ok(answer == 0 ? wrong : packed));
        }
        server.setAnswerSequence(u"/c/flaky"_qs, script);
        const TChunkInPackage chunk = chunkOf(piece, server.url(u"/c/flaky"_qs), packed);

        TDownloadRun run(fileSystem(), m_pTarget->path());
        QVERIFY(run.run({fileOf(u"flaky.bin"_qs, {chunk})}));
        // One request per scripted answer: three more after the first at most.
        QCOMPARE(server.requestCount(u"/c/flaky"_qs), answers.size());
        if (completes) {
            QCOMPARE(run.Completed.count(), 1);
            QCOMPARE(readBytes(target("flaky.bin")), piece.Content);
        } else {
            QCOMPARE(run.failure(), EPackageDownloaderError::DownloadFailed);
            QVERIFY(!QFileInfo::exists(target("flaky.bin")));
        }
    }

    void bodyThatDoesNotDecodeFailsAtOnce() {
        testsupport::TNginxFixture nginx;
        const TPiece piece{u"broken"_qs, seededBytes(21, 5000)};
        // A DEFLATE container whose payload is not a DEFLATE stream.
        QByteArray broken("p\x03", 2);
        broken += char(0x88) + QByteArray(1, char(0x27)) + char(0x10) + QByteArray(16, char(0xff));
        QVERIFY(nginx.writeFile(u"c/broken"_qs, broken));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const TChunkInPackage chunk = chunkOf(piece, nginx.url(u"c/broken"_qs), broken);

        TDownloadRun run(fileSystem(), m_pTarget->path());
        QVERIFY(run.run({fileOf(u"broken.bin"_qs, {chunk})}));
        QCOMPARE(run.failure(), EPackageDownloaderError::DownloadFailed);
        QVERIFY(nginx.waitForRequestCount(u"/c/broken"_qs, 1));
        QTest::qWait(200);
        QCOMPARE(nginx.requestCount(u"/c/broken"_qs), 1);
    }

    void failedSaveIsReportedAsSavingFailed() {
        testsupport::TNginxFixture nginx;
        const TPiece piece{u"s"_qs, seededBytes(31, 9000)};
        const QByteArray packed = shared::compress(shared::CompressionStored, piece.Content);
        QVERIFY(nginx.writeFile(u"c/s"_qs, packed));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        writeBytes(m_pLauncher->filePath(u"launchersettings.ini"_qs), QByteArray());
        auto failing = std::make_shared<testsupport::TFailingFilesystem>(
            m_pLauncher->path(), testsupport::EFailingOperation::CreateDirectory);

        TDownloadRun run(failing, m_pTarget->path());
        QVERIFY(run.run({fileOf(u"sub/s.bin"_qs, {chunkOf(piece, nginx.url(u"c/s"_qs), packed)})}));
        QCOMPARE(run.failure(), EPackageDownloaderError::SavingFailed);
        QVERIFY(!QFileInfo::exists(target("sub/s.bin")));
    }

    void downloadFailureOutranksSavingFailure() {
        testsupport::TNginxFixture nginx;
        const TPiece piece{u"s"_qs, seededBytes(32, 9000)};
        const QByteArray packed = shared::compress(shared::CompressionStored, piece.Content);
        QVERIFY(nginx.writeFile(u"c/s"_qs, packed));
        nginx.addFixedStatus(u"/c/gone"_qs, 404);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        writeBytes(m_pLauncher->filePath(u"launchersettings.ini"_qs), QByteArray());
        auto failing = std::make_shared<testsupport::TFailingFilesystem>(
            m_pLauncher->path(), testsupport::EFailingOperation::CreateDirectory);
        const TPiece gone{u"gone"_qs, seededBytes(33, 100)};

        TDownloadRun run(failing, m_pTarget->path());
        QVERIFY(run.run({fileOf(u"a/s.bin"_qs, {chunkOf(piece, nginx.url(u"c/s"_qs), packed)}),
                         fileOf(u"b/gone.bin"_qs, {chunkOf(gone, nginx.url(u"c/gone"_qs), {})})}));
        QCOMPARE(run.failure(), EPackageDownloaderError::DownloadFailed);
        QCOMPARE(nginx.requestCount(u"/c/gone"_qs), 4);
    }

    void selfUpdateModeMovesAnUndeletableFileAside() {
        testsupport::TNginxFixture nginx;
        const TPiece piece{u"launcher"_qs, seededBytes(41, 12000)};
        const QByteArray packed = shared::compress(shared::CompressionLzma, piece.Content);
        QVERIFY(nginx.writeFile(u"c/launcher"_qs, packed));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const TChunkInPackage chunk = chunkOf(piece, nginx.url(u"c/launcher"_qs), packed);
        writeBytes(m_pLauncher->filePath(u"launchersettings.ini"_qs), QByteArray());
        auto undeletable = std::make_shared<testsupport::TFailingFilesystem>(
            m_pLauncher->path(), testsupport::EFailingOperation::Remove);

        // Without self-update mode the file that cannot be deleted fails the save.
        QVERIFY(writeBytes(target("Launcher"), "running launcher"));
        {
            TDownloadRun run(undeletable, m_pTarget->path(), false);
            QVERIFY(run.run({fileOf(u"Launcher"_qs, {chunk})}));
            QCOMPARE(run.failure(), EPackageDownloaderError::SavingFailed);
            QCOMPARE(readBytes(target("Launcher")), QByteArray("running launcher"));
        }
        // In self-update mode it is renamed to ".old", replacing an older backup (a directory, here).
        QVERIFY(QDir().mkpath(target("Launcher.old/inside")));
        TDownloadRun run(undeletable, m_pTarget->path(), true);
        QVERIFY(run.run({fileOf(u"Launcher"_qs, {chunk})}));
        QCOMPARE(run.Completed.count(), 1);
        QCOMPARE(readBytes(target("Launcher")), piece.Content);
        QCOMPARE(readBytes(target("Launcher.old")), QByteArray("running launcher"));
    }

    void addressWithTwoContentsNeverReportsSuccess() {
        // A document that gives one address to two different contents: the second content is never
        // fetched, so the file cannot be finished, and the run must not call that a success.
        testsupport::TNginxFixture nginx;
        const TPiece first{u"same"_qs, seededBytes(51, 6000)};
        const TPiece second{u"same"_qs, seededBytes(52, 6000)};
        const QByteArray packed = shared::compress(shared::CompressionStored, first.Content);
        QVERIFY(nginx.writeFile(u"c/same"_qs, packed));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const QUrl url = nginx.url(u"c/same"_qs);

        TDownloadRun run(fileSystem(), m_pTarget->path());
        QVERIFY(
            run.run({fileOf(u"two.bin"_qs, {chunkOf(first, url, packed), chunkOf(second, url, packed)})}));
        QCOMPARE(run.failure(), EPackageDownloaderError::DownloadFailed);
    }

    void fileNamedOutsideTheDirectoryIsNotWritten() {
        testsupport::TNginxFixture nginx;
        const TPiece piece{u"p"_qs, seededBytes(61, 600)};
        const QByteArray packed = shared::compress(shared::CompressionStored, piece.Content);
        QVERIFY(nginx.writeFile(u"c/p"_qs, packed));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const TChunkInPackage chunk = chunkOf(piece, nginx.url(u"c/p"_qs), packed);
        const QString inner = m_pTarget->filePath(u"package"_qs);
        QVERIFY(QDir().mkpath(inner));

        TDownloadRun run(fileSystem(), inner);
        QVERIFY(run.run({fileOf(u".."_qs, {chunk})}));
        QCOMPARE(run.failure(), EPackageDownloaderError::SavingFailed);
        QVERIFY(QFileInfo(inner).isDir());
        QCOMPARE(QDir(m_pTarget->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{u"package"_qs});
    }

    void chunkVerificationKeepsACheckLog() {
        testsupport::TNginxFixture nginx;
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const std::vector<TPiece> pieces{{u"a"_qs, seededBytes(71, 3000)},
                                         {u"b"_qs, seededBytes(72, 4000)},
                                         {u"c"_qs, seededBytes(73, 5000)}};
        const std::vector<TChunkInPackage> chunks = serve(nginx, pieces, shared::CompressionLzma);
        const QByteArray ini("[DEBUG]\nchunkVerification=true\n");
        const QString path = target("checked.bin");
        const QString logPath = path + u".log"_qs;
        QVERIFY(writeBytes(logPath, "an old log\n"));

        // a is in place already; b and c are fetched.
        QVERIFY(writeBytes(path, pieces[0].Content));
        TFileToDownload file = fileOf(u"checked.bin"_qs, chunks);
        file.ChunksToDownload = {1, 2};
        {
            TDownloadRun run(fileSystem(ini), m_pTarget->path());
            QVERIFY(run.run({file}));
            QCOMPARE(run.Completed.count(), 1);
        }
        // c may arrive before b; it is then written from the cache and logged as such.
        QString checkLog = QString::fromUtf8(readBytes(logPath));
        checkLog.replace(u"7000: write cache correct"_qs, u"7000: write succeeded"_qs);
        QCOMPARE(checkLog.split(u'\n', Qt::SkipEmptyParts),
                 (QStringList{u"0: check succeeded"_qs, u"3000: write succeeded"_qs,
                              u"7000: write succeeded"_qs}));

        // A chunk in place that is not what the document says fails the save.
        QByteArray damaged = pieces[0].Content;
        damaged[10] = static_cast<char>(damaged[10] ^ 0x5a);
        QVERIFY(writeBytes(path, damaged));
        TDownloadRun run(fileSystem(ini), m_pTarget->path());
        QVERIFY(run.run({file}));
        QCOMPARE(run.failure(), EPackageDownloaderError::SavingFailed);
        QVERIFY(QString::fromUtf8(readBytes(logPath)).startsWith(u"0: check failed"_qs));
    }

    void assemblesRandomLayoutsWhateverTheArrivalOrder() {
        // Many files made of shared pieces, some of them partly present already, answered in a random
        // order with a cache that holds hardly anything: every file must come out whole.
        std::mt19937 random(424242);
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        constexpr int pieceCount = 24;
        std::vector<TPiece> pieces;
        TChunkInPackageVector chunks;
        for (int index = 0; index < pieceCount; ++index) {
            pieces.push_back({u"r%1"_qs.arg(index), seededBytes(static_cast<quint32>(500 + index),
                                                                1000 + static_cast<int>(random() % 20000))});
            const int method =
                static_cast<int>(random() % 2) == 0 ? shared::CompressionStored : shared::CompressionDeflate;
            const QByteArray packed = shared::compress(method, pieces.back().Content);
            testsupport::TScriptedAnswer answer = testsupport::TScriptedAnswer::ok(packed);
            answer.delayBeforeHeadersMs = static_cast<int>(random() % 120);
            server.setAnswer(u"/c/"_qs + pieces.back().Name, answer);
            chunks.push_back(chunkOf(pieces.back(), server.url(u"/c/"_qs + pieces.back().Name), packed));
        }
        TFileToDownloadVector files;
        std::vector<std::vector<int>> layouts;
        QSet<int> used;
        for (int fileIndex = 0; fileIndex < 14; ++fileIndex) {
            std::vector<int> layout;
            const int length = 1 + static_cast<int>(random() % 9);
            for (int position = 0; position < length; ++position) {
                layout.push_back(static_cast<int>(random() % pieceCount));
            }
            TChunkInPackageVector fileChunks;
            for (const int piece : layout) {
                fileChunks.push_back(chunks[static_cast<std::size_t>(piece)]);
            }
            TFileToDownload file = fileOf(u"f%1/data.bin"_qs.arg(fileIndex), fileChunks);
            if (fileIndex % 3 == 0 && length > 1) {
                // Present already except for some positions, which hold other bytes.
                QByteArray local = contentOf(pieces, layout);
                file.ChunksToDownload.clear();
                int offset = 0;
                for (int position = 0; position < length; ++position) {
                    const int size =
                        pieces[static_cast<std::size_t>(layout[static_cast<std::size_t>(position)])]
                            .Content.size();
                    if (random() % 2 == 0 || position == length - 1) {
                        file.ChunksToDownload.push_back(position);
                        local.replace(offset, size, QByteArray(size, 'q'));
                    }
                    offset += size;
                }
                QVERIFY(writeBytes(target(file.LocalFile), local));
            }
            for (const std::int32_t position : file.ChunksToDownload) {
                used.insert(layout[static_cast<std::size_t>(position)]);
            }
            files.push_back(file);
            layouts.push_back(layout);
        }
        TDownloadRun run(fileSystem("[OPTIONS]\nmaxConcurrentDownloads=4\nmaxCachedChunks=1\n"),
                         m_pTarget->path());
        QVERIFY(run.run(files, 120000));
        QCOMPARE(run.Completed.count(), 1);
        for (std::size_t index = 0; index < files.size(); ++index) {
            QVERIFY2(readBytes(target(files[index].LocalFile)) == contentOf(pieces, layouts[index]),
                     qPrintable(files[index].LocalFile));
        }
        for (int index = 0; index < pieceCount; ++index) {
            QCOMPARE(server.requestCount(u"/c/r%1"_qs.arg(index)), used.contains(index) ? 1 : 0);
        }
        QVERIFY(run.Downloader.peakCachedChunksInMemory() <= 2);
    }

private:
    std::shared_ptr<TLauncherFilesystemHelper> fileSystem(const QByteArray& IniText = QByteArray());
    QString target(const QString& Name) const { return m_pTarget->filePath(Name); }
    QString target(const char* Name) const { return target(QLatin1String(Name)); }

    std::unique_ptr<QTemporaryDir> m_pLauncher;
    std::unique_ptr<QTemporaryDir> m_pTarget;
};

std::shared_ptr<TLauncherFilesystemHelper> TestPackageFileDownloader::fileSystem(const QByteArray& IniText) {
    return testsupport::makeLauncherFilesystem(m_pLauncher->path(), IniText);
}

LAUNCHER_TEST(TestPackageFileDownloader)
#include "tst_packagefiledownloader.moc"
