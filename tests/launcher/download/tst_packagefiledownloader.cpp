#include "launcher/download/chunkcache.h"
#include "launcher/download/chunkedfilestate.h"
#include "launcher/download/chunksaver.h"
#include "launcher/download/chunktodownload.h"
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

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>
#include <random>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::seededBytes;
using testsupport::sha256;
using testsupport::writeBytes;
using testsupport::operator""_qs;
using TScripted = testsupport::TScriptedAnswer;

namespace {

TChunkInPackage chunkOf(const QByteArray& Content, const QUrl& Url, const QByteArray& Packed) {
    TChunkInPackage chunk;
    chunk.Url = Url;
    chunk.PackedSize = static_cast<TFileSize>(Packed.size());
    chunk.PackedHash = sha256(Packed);
    chunk.UnpackedSize = static_cast<TFileSize>(Content.size());
    chunk.UnpackedHash = sha256(Content);
    return chunk;
}

// Every position pending unless Pending names some.
TFileToDownload fileOf(const QString& LocalFile, const TChunkInPackageVector& Chunks,
                       std::vector<std::int32_t> Pending = {}) {
    TFileToDownload file;
    file.LocalFile = LocalFile;
    file.Chunks = Chunks;
    for (const TChunkInPackage& chunk : Chunks) {
        file.Size += chunk.UnpackedSize;
    }
    if (Pending.empty()) {
        Pending.resize(Chunks.size());
        std::iota(Pending.begin(), Pending.end(), 0);
    }
    file.ChunksToDownload = Pending;
    return file;
}

QByteArray join(const std::vector<QByteArray>& Pieces, const std::vector<int>& Order) {
    QByteArray content;
    for (const int index : Order) {
        content += Pieces[static_cast<std::size_t>(index)];
    }
    return content;
}

// One downloader with a manual-release pool of its own, as an installation makes it.
struct TDownloadRun {
    TDownloadRun(std::shared_ptr<TLauncherFilesystemHelper> FileSystem, const QString& TargetDirectory,
                 bool SelfUpdateMode = false)
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

    // Exactly one final signal, also after the late events of the run.
    bool run(const TFileToDownloadVector& Files) {
        Downloader.setFilesToDownload(Files);
        Downloader.startDownloads();
        if (!QTest::qWaitFor([this] { return Completed.count() + Failed.count() > 0; }, 120000)) {
            return false;
        }
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

    void writesSharedRepeatedAndPatchedChunksFromOneRequestEach() {
        testsupport::TNginxFixture nginx;
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const std::vector<QByteArray> pieces{seededBytes(1, 70000), seededBytes(2, 50000),
                                             seededBytes(3, 1234), seededBytes(4, 3000)};
        TChunkInPackageVector chunks;
        for (std::size_t index = 0; index < pieces.size(); ++index) {
            const QByteArray packed = shared::compress(shared::CompressionLzma, pieces[index]);
            QVERIFY(nginx.writeFile(u"c/%1"_qs.arg(index), packed));
            chunks.push_back(chunkOf(pieces[index], nginx.url(u"c/%1"_qs.arg(index)), packed));
        }
        // "first" holds piece 0 twice and shares piece 1 with "second"; "patched" is on disk already
        // but for its middle position, and keeps the bytes around it.
        TFileToDownloadVector files{fileOf(u"first.bin"_qs, {chunks[0], chunks[1], chunks[0]}),
                                    fileOf(u"dir/second.bin"_qs, {chunks[1], chunks[2]}),
                                    fileOf(u"patched.bin"_qs, {chunks[3], chunks[0], chunks[3]}, {1})};
        files[1].Executable = true;
        QVERIFY(writeBytes(target(u"patched.bin"_qs), pieces[3] + QByteArray(70000, 'o') + pieces[3]));

        TDownloadRun run(fileSystem(), m_pTarget->path());
        QVERIFY(run.run(files));
        QCOMPARE(run.Completed.count(), 1);
        QCOMPARE(readBytes(target(u"first.bin"_qs)), join(pieces, {0, 1, 0}));
        QCOMPARE(readBytes(target(u"dir/second.bin"_qs)), join(pieces, {1, 2}));
        QCOMPARE(readBytes(target(u"patched.bin"_qs)), join(pieces, {3, 0, 3}));
        QVERIFY(QFileInfo(target(u"dir/second.bin"_qs)).isExecutable());
        QVERIFY(!QFileInfo(target(u"first.bin"_qs)).isExecutable());
        for (const int index : {0, 1, 2}) {
            QVERIFY(nginx.waitForRequestCount(u"/c/%1"_qs.arg(index), 1));
        }
        QCOMPARE(nginx.requestCount(u"/c/3"_qs), 0);
        // Every pending position is written once; the totals count each address once.
        QCOMPARE(run.Written.count(), 6);
        const QList<QVariant> last = run.Progress.last();
        QCOMPARE(last.at(2).value<TFileSize>(), TFileSize(70000 + 50000 + 1234));
        QCOMPARE(last.at(3).value<TFileSize>(), TFileSize(70000 + 50000 + 1234));
        QCOMPARE(last.at(0).value<TFileSize>(), last.at(1).value<TFileSize>());
    }

    void earlyChunksWaitInMemoryThenInTemporaryFiles_data() {
        QTest::addColumn<int>("maxCachedChunks");
        QTest::newRow("no cache: one in memory") << 0;
        QTest::newRow("two: three in memory") << 2;
        QTest::newRow("plenty") << 100;
    }

    void earlyChunksWaitInMemoryThenInTemporaryFiles() {
        // The chunks of one file arrive last first: all but the last to arrive wait in the cache.
        QFETCH(int, maxCachedChunks);
        std::vector<QByteArray> pieces;
        TChunkInPackageVector chunks;
        auto cache = std::make_shared<TChunkCache>(maxCachedChunks, fileSystem());
        for (int index = 0; index < 8; ++index) {
            pieces.push_back(seededBytes(static_cast<quint32>(100 + index), 20000 + index));
            chunks.push_back(chunkOf(pieces.back(), QUrl(u"http://127.0.0.1/c/%1"_qs.arg(index)), {}));
            cache->addUse(chunks.back().UnpackedHash);
        }
        const auto file =
            std::make_shared<TChunkedFileState>(fileOf(u"r.bin"_qs, chunks), target(u"r.bin"_qs));
        const TChunkSaver saver(fileSystem(), cache, {}, {});
        for (int index = 7; index >= 0; --index) {
            TChunkToDownload item(chunks[static_cast<std::size_t>(index)]);
            item.Targets = {file};
            saver.save(item, pieces[static_cast<std::size_t>(index)]);
        }
        QCOMPARE(readBytes(target(u"r.bin"_qs)), join(pieces, {0, 1, 2, 3, 4, 5, 6, 7}));
        const int inMemory = std::min(7, maxCachedChunks + 1);
        QCOMPARE(cache->peakInMemoryCount(), inMemory);
        QCOMPARE(cache->temporaryFileCount(), 7 - inMemory);
        QCOMPARE(cache->inMemoryCount(), 0);
    }

    void retriesShareOneBudget_data() {
        // 503: a failure; 0: the wrong bytes; -1: bytes that do not unpack; 200: the right bytes.
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("completes");
        QTest::newRow("503 three times, then 200") << QList<int>{503, 503, 503, 200} << 4 << true;
        QTest::newRow("503 four times") << QList<int>{503, 503, 503, 503, 200} << 4 << false;
        QTest::newRow("wrong bytes and 503 share one budget")
            << QList<int>{503, 0, 503, 0, 200} << 4 << false;
        QTest::newRow("bytes that do not unpack: no retry") << QList<int>{-1, 200} << 1 << false;
    }

    void retriesShareOneBudget() {
        QFETCH(QList<int>, answers);
        QFETCH(int, requests);
        QFETCH(bool, completes);
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const QByteArray content = seededBytes(7, 30000);
        const QByteArray packed = shared::compress(shared::CompressionLzma, content);
        // A DEFLATE container whose payload is no DEFLATE stream.
        const QByteArray broken = QByteArray("p\x03\x88\x27\x10") + QByteArray(16, '\xff');
        QList<TScripted> script;
        for (const int answer : answers) {
            script.append(answer == 503 ? TScripted::withStatus(503)
                          : answer == -1
                              ? TScripted::ok(broken)
                              : TScripted::ok(answer == 200 ? packed
                                                            : shared::compress(shared::CompressionLzma,
                                                                               seededBytes(8, 30000))));
        }
        server.setAnswerSequence(u"/c/flaky"_qs, script);

        TDownloadRun run(fileSystem(), m_pTarget->path());
        QVERIFY(run.run({fileOf(u"flaky.bin"_qs, {chunkOf(content, server.url(u"/c/flaky"_qs), packed)})}));
        QCOMPARE(run.failure(),
                 completes ? EPackageDownloaderError::NoError : EPackageDownloaderError::DownloadFailed);
        QCOMPARE(readBytes(target(u"flaky.bin"_qs)), completes ? content : QByteArray());
        QCOMPARE(server.requestCount(u"/c/flaky"_qs), requests);
    }

    void failedRunsReportTheirCause_data() {
        QTest::addColumn<QString>("localFile");
        QTest::addColumn<bool>("diskFails");
        QTest::addColumn<bool>("goneFile"); // a second file whose only chunk the server does not have
        QTest::addColumn<bool>("twoContents");
        QTest::addColumn<int>("error");
        const int saving = static_cast<int>(EPackageDownloaderError::SavingFailed);
        const int download = static_cast<int>(EPackageDownloaderError::DownloadFailed);
        QTest::newRow("the disk fails") << u"sub/s.bin"_qs << true << false << false << saving;
        QTest::newRow("a failed download outranks it")
            << u"sub/s.bin"_qs << true << true << false << download;
        QTest::newRow("a name outside the directory") << u".."_qs << false << false << false << saving;
        // The second content is never fetched: the file cannot be finished.
        QTest::newRow("one address for two contents") << u"two.bin"_qs << false << false << true << download;
    }

    void failedRunsReportTheirCause() {
        QFETCH(QString, localFile);
        QFETCH(bool, diskFails);
        QFETCH(bool, goneFile);
        QFETCH(bool, twoContents);
        QFETCH(int, error);
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const QByteArray content = seededBytes(31, 9000);
        const QByteArray packed = shared::compress(shared::CompressionStored, content);
        server.setAnswer(u"/c/s"_qs, TScripted::ok(packed));
        TChunkInPackageVector chunks{chunkOf(content, server.url(u"/c/s"_qs), packed)};
        if (twoContents) {
            chunks.push_back(chunkOf(seededBytes(32, 9000), server.url(u"/c/s"_qs), packed));
        }
        TFileToDownloadVector files{fileOf(localFile, chunks)};
        if (goneFile) {
            files.push_back(
                fileOf(u"b/gone.bin"_qs, {chunkOf(seededBytes(33, 100), server.url(u"/c/gone"_qs), {})}));
        }
        std::shared_ptr<TLauncherFilesystemHelper> disk = fileSystem();
        if (diskFails) {
            disk = std::make_shared<testsupport::TFailingFilesystem>(
                m_pLauncher->path(), testsupport::EFailingOperation::CreateDirectory);
        }
        const QString inner = target(u"package"_qs);
        QVERIFY(QDir().mkpath(inner));

        TDownloadRun run(disk, inner);
        QVERIFY(run.run(files));
        QCOMPARE(static_cast<int>(run.failure()), error);
        QCOMPARE(server.requestCount(u"/c/gone"_qs), goneFile ? 4 : 0);
        QVERIFY(QFileInfo(inner).isDir());
        QCOMPARE(QDir(m_pTarget->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{u"package"_qs});
        if (!twoContents) {
            QCOMPARE(QDir(inner).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
        }
    }

    void onlySelfUpdateModeMovesAnUndeletableFileAside_data() {
        QTest::addColumn<bool>("selfUpdateMode");
        QTest::newRow("install: the save fails") << false;
        QTest::newRow("self-update: renamed to .old") << true;
    }

    void onlySelfUpdateModeMovesAnUndeletableFileAside() {
        QFETCH(bool, selfUpdateMode);
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const QByteArray content = seededBytes(41, 12000);
        const QByteArray packed = shared::compress(shared::CompressionLzma, content);
        server.setAnswer(u"/c/launcher"_qs, TScripted::ok(packed));
        fileSystem(); // writes the settings the failing helper reads
        auto undeletable = std::make_shared<testsupport::TFailingFilesystem>(
            m_pLauncher->path(), testsupport::EFailingOperation::Remove);
        QVERIFY(writeBytes(target(u"Launcher"_qs), "running launcher"));
        // An older backup, a directory here, is replaced.
        QVERIFY(QDir().mkpath(target(u"Launcher.old/inside"_qs)));

        TDownloadRun run(undeletable, m_pTarget->path(), selfUpdateMode);
        QVERIFY(run.run({fileOf(u"Launcher"_qs, {chunkOf(content, server.url(u"/c/launcher"_qs), packed)})}));
        QCOMPARE(run.failure(),
                 selfUpdateMode ? EPackageDownloaderError::NoError : EPackageDownloaderError::SavingFailed);
        QCOMPARE(readBytes(target(u"Launcher"_qs)),
                 selfUpdateMode ? content : QByteArray("running launcher"));
        QCOMPARE(QFileInfo(target(u"Launcher.old"_qs)).isFile(), selfUpdateMode);
    }

    void chunkVerificationChecksTheChunksInPlace() {
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const std::vector<QByteArray> pieces{seededBytes(71, 3000), seededBytes(72, 4000)};
        TChunkInPackageVector chunks;
        for (std::size_t index = 0; index < pieces.size(); ++index) {
            server.setAnswer(u"/c/%1"_qs.arg(index),
                             TScripted::ok(shared::compress(shared::CompressionStored, pieces[index])));
            chunks.push_back(chunkOf(pieces[index], server.url(u"/c/%1"_qs.arg(index)),
                                     shared::compress(shared::CompressionStored, pieces[index])));
        }
        const QByteArray ini("[DEBUG]\nchunkVerification=true\n");
        const TFileToDownload file = fileOf(u"checked.bin"_qs, chunks, {1});
        QByteArray damaged = pieces[0];
        damaged[10] = static_cast<char>(damaged[10] ^ 0x5a);
        // The first chunk is in place; then it is damaged, which fails the save.
        for (const QByteArray& inPlace : {pieces[0], damaged}) {
            QVERIFY(writeBytes(target(u"checked.bin"_qs), inPlace));
            TDownloadRun run(fileSystem(ini), m_pTarget->path());
            QVERIFY(run.run({file}));
            const bool sound = inPlace == pieces[0];
            QCOMPARE(run.failure(),
                     sound ? EPackageDownloaderError::NoError : EPackageDownloaderError::SavingFailed);
            QVERIFY(readBytes(target(u"checked.bin.log"_qs))
                        .startsWith(sound ? "0: check succeeded" : "0: check failed"));
        }
    }

    void assemblesRandomLayoutsWhateverTheArrivalOrder() {
        // Files made of shared pieces, some partly present already, answered in a random order with
        // a cache that holds hardly anything: every file must come out whole.
        std::mt19937 random(424242);
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        std::vector<QByteArray> pieces;
        TChunkInPackageVector chunks;
        for (int index = 0; index < 24; ++index) {
            pieces.push_back(
                seededBytes(static_cast<quint32>(500 + index), 1000 + static_cast<int>(random() % 20000)));
            const QByteArray packed = shared::compress(
                random() % 2 == 0 ? shared::CompressionStored : shared::CompressionDeflate, pieces.back());
            TScripted answer = TScripted::ok(packed);
            answer.delayBeforeHeadersMs = static_cast<int>(random() % 120);
            server.setAnswer(u"/c/%1"_qs.arg(index), answer);
            chunks.push_back(chunkOf(pieces.back(), server.url(u"/c/%1"_qs.arg(index)), packed));
        }
        TFileToDownloadVector files;
        std::vector<std::vector<int>> layouts;
        QSet<int> used;
        for (int fileIndex = 0; fileIndex < 14; ++fileIndex) {
            std::vector<int> layout(1 + random() % 9);
            TChunkInPackageVector fileChunks;
            for (int& piece : layout) {
                piece = static_cast<int>(random() % 24);
                fileChunks.push_back(chunks[static_cast<std::size_t>(piece)]);
            }
            TFileToDownload file = fileOf(u"f%1/data.bin"_qs.arg(fileIndex), fileChunks);
            if (fileIndex % 3 == 0 && layout.size() > 1) {
                // Present already but for some positions, which hold other bytes.
                QByteArray local = join(pieces, layout);
                file.ChunksToDownload.clear();
                for (std::size_t position = 0, offset = 0; position < layout.size(); ++position) {
                    const int size = pieces[static_cast<std::size_t>(layout[position])].size();
                    if (random() % 2 == 0 || position + 1 == layout.size()) {
                        file.ChunksToDownload.push_back(static_cast<std::int32_t>(position));
                        local.replace(static_cast<int>(offset), size, QByteArray(size, 'q'));
                    }
                    offset += static_cast<std::size_t>(size);
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
        QVERIFY(run.run(files));
        QCOMPARE(run.Completed.count(), 1);
        for (std::size_t index = 0; index < files.size(); ++index) {
            QVERIFY2(readBytes(target(files[index].LocalFile)) == join(pieces, layouts[index]),
                     qPrintable(files[index].LocalFile));
        }
        for (int index = 0; index < 24; ++index) {
            QCOMPARE(server.requestCount(u"/c/%1"_qs.arg(index)), used.contains(index) ? 1 : 0);
        }
        QVERIFY(run.Downloader.peakCachedChunksInMemory() <= 2);
    }

private:
    std::shared_ptr<TLauncherFilesystemHelper> fileSystem(const QByteArray& IniText = QByteArray()) {
        return testsupport::makeLauncherFilesystem(m_pLauncher->path(), IniText);
    }
    QString target(const QString& Name) const { return m_pTarget->filePath(Name); }

    std::unique_ptr<QTemporaryDir> m_pLauncher;
    std::unique_ptr<QTemporaryDir> m_pTarget;
};

LAUNCHER_TEST(TestPackageFileDownloader)
#include "tst_packagefiledownloader.moc"
