#include "launcher/download/chunkcache.h"
#include "launcher/download/chunkedfilestate.h"
#include "launcher/download/chunksaver.h"
#include "launcher/download/chunktodownload.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/download/retrypolicy.h"
#include "launcher/download/siblingchunkindex.h"
#include "launcher/package/packageconfigurationreader.h"
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

#include <QNetworkAccessManager>
#include <QtConcurrent>
#include <QtTest>

#include <numeric>

using namespace mirrel::launcher;
using namespace testsupport;
using TScripted = TScriptedAnswer;

namespace {

constexpr int RetryPauseMs = 10;

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

// "f=ABA;g=C": file f of chunks A, B, A and file g of chunk C; chunk X is 100 + X - 'A' bytes of X.
QByteArray packageDocument(const QString& Layout) {
    QStringList chunks, files;
    for (const QString& entry : Layout.split(u';')) {
        QStringList indices;
        int size = 0;
        for (const QChar letter : entry.mid(2)) {
            const QByteArray piece(100 + letter.unicode() - u'A', letter.toLatin1());
            indices << QString::number(chunks.size());
            chunks << uR"({"unpackedhash":"%1","unpackedsize":%2})"_qs.arg(
                QString::fromLatin1(sha256(piece).toHex()), QString::number(piece.size()));
            size += piece.size();
        }
        files << uR"({"localfile":"%1","unpackedsize":%2,"chunks":[%3]})"_qs.arg(
            entry.left(1), QString::number(size), indices.join(u','));
    }
    return uR"({"version":"1","chunks":[%1],"files":[%2]})"_qs.arg(chunks.join(u','), files.join(u','))
        .toUtf8();
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
        , Written(&Downloader, &TPackageFileDownloader::writeProgress) {
        Pool->setTransferStallTimeout(FileSystem->settings()->transferStallTimeout());
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
        TNginxFixture nginx;
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const std::vector<QByteArray> pieces{seededBytes(1, 70000), seededBytes(2, 50000),
                                             seededBytes(3, 1234), seededBytes(4, 3000)};
        TChunkInPackageVector chunks;
        for (std::size_t index = 0; index < pieces.size(); ++index) {
            const QByteArray packed = shared::compress(shared::CompressionLzma, pieces[index]);
            QVERIFY(nginx.writeFile(u"c/%1"_qs.arg(index), packed));
            chunks.push_back(chunkOf(pieces[index], nginx.url(u"c/%1"_qs.arg(index)), packed));
        }
        // Repeated and shared pieces; "patched" keeps its bytes around the one position fetched.
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
        QCOMPARE(run.Written.count(), 6); // every pending position once
    }

    // Chunks arriving last first, several at once, are each written at their places at once;
    // "b.bin" is finished by whichever write comes last.
    void chunksInAnyOrderAreWrittenSideBySide() {
        std::vector<QByteArray> pieces;
        TChunkInPackageVector chunks;
        for (int index = 0; index < 8; ++index) {
            pieces.push_back(seededBytes(static_cast<quint32>(100 + index), 20000 + index));
            chunks.push_back(chunkOf(pieces.back(), QUrl(u"http://127.0.0.1/c/%1"_qs.arg(index)), {}));
        }
        const std::vector<std::shared_ptr<TChunkedFileState>> files{
            std::make_shared<TChunkedFileState>(fileOf(u"a.bin"_qs, chunks), target(u"a.bin"_qs)),
            std::make_shared<TChunkedFileState>(fileOf(u"b.bin"_qs, {chunks[7], chunks[0], chunks[7]}),
                                                target(u"b.bin"_qs))};
        auto cache = std::make_shared<TChunkCache>();
        std::vector<TChunkToDownload> items;
        for (int index = 7; index >= 0; --index) {
            items.emplace_back(chunks[static_cast<std::size_t>(index)]);
            items.back().Targets =
                index == 0 || index == 7 ? files : std::vector<std::shared_ptr<TChunkedFileState>>{files[0]};
        }
        const TChunkSaver saver(fileSystem(), cache, {}, {});
        QtConcurrent::blockingMap(items, [&](const TChunkToDownload& Item) {
            saver.save(Item, pieces[static_cast<std::size_t>(Item.Url.fileName().toInt())]);
        });
        QCOMPARE(readBytes(target(u"a.bin"_qs)), join(pieces, {0, 1, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(readBytes(target(u"b.bin"_qs)), join(pieces, {7, 0, 7}));
        QVERIFY(files[0]->isComplete() && files[1]->isComplete() && !files[0]->Target && !files[1]->Target);
    }

    // Where installed siblings ("!": a marker that does not parse) hold each chunk of the run.
    void siblingIndexPlacesEveryPosition_data() {
        QTest::addColumn<QString>("siblings"); // one document layout each, in order
        QTest::addColumn<QString>("run");
        QTest::addColumn<QString>("places"); // each <sibling><file>@<offset> or "-", then (stretches)
        QTest::newRow("same") << u"f=ABC"_qs << u"f=ABC"_qs << u"0f@0 0f@100 0f@201 (1)"_qs;
        QTest::newRow("moved") << u"g=XBC"_qs << u"f=ABC"_qs << u"- 0g@123 0g@224 (1)"_qs;
        QTest::newRow("reordered") << u"f=BA"_qs << u"f=AB"_qs << u"0f@101 0f@0 (2)"_qs;
        QTest::newRow("twice") << u"f=AB"_qs << u"f=ABA;g=B"_qs << u"0f@0 0f@100 0f@0 0f@100 (3)"_qs;
        QTest::newRow("first wins") << u"g=B f=AB"_qs << u"f=AB"_qs << u"1f@0 0g@0 (2)"_qs;
        QTest::newRow("unreadable") << u"! f=AB"_qs << u"f=AB"_qs << u"1f@0 1f@100 (1)"_qs;
    }

    void siblingIndexPlacesEveryPosition() {
        QFETCH(QString, siblings);
        QFETCH(QString, run);
        std::vector<TSiblingPackage> packages;
        for (const QString& layout : siblings.split(u' ')) {
            packages.push_back({layout, target(QString::number(packages.size()))});
            QVERIFY(writeBytes(packages.back().Directory + u"/package.json"_qs,
                               layout == u"!"_qs ? "{\"files\":[" : packageDocument(layout)));
        }
        const TPackageConfigurationReader wanted(packageDocument(run), {}, QUrl(), QUrl());
        TFileToDownloadVector files;
        for (const TFileInPackage& file : wanted.files()) {
            files.push_back(fileOf(file.LocalFile, TFileToDownload(file, wanted.chunks()).Chunks));
        }
        const TSiblingChunkIndex index = TSiblingChunkIndex::build(*fileSystem(), packages, files);
        QStringList found;
        for (const TFileToDownload& file : files) {
            const TChunkedFileState state(file, QString());
            for (std::size_t position = 0; position < file.Chunks.size(); ++position) {
                const auto place = index.find(file.LocalFile, position, state.offsetOf(position));
                found << (place ? u"%1%2@%3"_qs.arg(place->Sibling)
                                      .arg(QFileInfo(place->Path).fileName())
                                      .arg(place->Offset)
                                : u"-"_qs);
            }
        }
        QFETCH(QString, places); // memory grows with the stretches, not with the chunks
        QCOMPARE(found.join(u' ') + u" (%1)"_qs.arg(index.spanCount()), places);
    }

    // The pauses the transfers below wait out are stretched by the jitter by up to a half.
    void retryPauseJitter() {
        TRetryBudget budget;
        QCOMPARE(decideRetry(budget, false, 100, 0.999).PauseMs, 149);
        QCOMPARE(decideRetry(budget, false, 100, 0.999).PauseMs, 299);
    }

    void outcomes_data() {
        // Answers: 200 the right bytes, 503 a failure, 0 the wrong bytes, -1 bytes that do not unpack,
        // 1 silence, 2 a stop mid-body, 3 a cut after some bytes, 4 a cut before the body, 5 too many bytes.
        // Setup: "disk" (no directory can be made), "remove" (no file deleted), "sync" (no file synced),
        // "self" (self-update mode), "gone" (a file the server lacks), "twice" (a second content under one
        // address).
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("localFile");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<EPackageDownloaderError>("error");
        const auto row = [](const char* Name, QList<int> Answers, int Requests, const char* LocalFile,
                            const char* Setup, EPackageDownloaderError Error) {
            QTest::newRow(Name) << Answers << Requests << QString::fromLatin1(LocalFile)
                                << QString::fromLatin1(Setup) << Error;
        };
        using E = EPackageDownloaderError;
        row("503 three times, then 200", {503, 503, 503, 200}, 4, "s.bin", "", E::NoError);
        row("503 four times", {503, 503, 503, 503, 200}, 4, "s.bin", "", E::DownloadFailed);
        row("wrong bytes and 503 share one budget", {503, 0, 503, 0, 200}, 4, "s.bin", "", E::DownloadFailed);
        row("bytes that do not unpack: no retry", {-1, 200}, 1, "s.bin", "", E::DownloadFailed);
        row("silent twice, then the chunk", {1, 1, 200}, 3, "s.bin", "", E::NoError);
        row("stops mid-body twice, then the chunk", {2, 2, 200}, 3, "s.bin", "", E::NoError);
        row("a moving transfer has six retries", {3, 3, 3, 3, 3, 3, 200}, 7, "s.bin", "", E::NoError);
        row("cut before the body four times", {4, 4, 4, 4, 200}, 4, "s.bin", "", E::DownloadFailed);
        row("more than the packed size every time", {5, 5, 5, 5, 200}, 4, "s.bin", "", E::DownloadFailed);
        row("the disk fails", {200}, 1, "sub/s.bin", "disk", E::SavingFailed);
        row("a failed download outranks it", {200}, 1, "sub/s.bin", "disk gone", E::DownloadFailed);
        row("a name outside the directory", {200}, 1, "..", "", E::SavingFailed);
        // The second content is never fetched: the file cannot be finished.
        row("one address for two contents", {200}, 1, "two.bin", "twice", E::DownloadFailed);
        row("a file that cannot be deleted", {200}, 1, "s.bin", "remove", E::SavingFailed);
        row("self-update builds beside it", {200}, 1, "s.bin", "remove self", E::NoError);
        row("files are not synced one by one", {200}, 1, "s.bin", "sync", E::NoError);
        row("self-update: an unsynced file stays beside it", {200}, 1, "s.bin", "sync self", E::SavingFailed);
    }

    void outcomes() {
        QFETCH(QList<int>, answers);
        QFETCH(int, requests);
        QFETCH(QString, localFile);
        QFETCH(QString, setup);
        QFETCH(EPackageDownloaderError, error);
        TScriptedHttpServer server;
        QVERIFY(server.start());
        const QByteArray content = seededBytes(7, 30000);
        const QByteArray packed = shared::compress(shared::CompressionLzma, content);
        const QByteArray wrong = shared::compress(shared::CompressionLzma, seededBytes(8, 30000));
        // A DEFLATE container whose payload is no DEFLATE stream.
        const QByteArray broken = QByteArray("p\x03\x88\x27\x10") + QByteArray(16, '\xff');
        const QList<TScripted> faults{TScripted::faulty(EScriptedFault::StallBeforeHeaders, packed),
                                      TScripted::faulty(EScriptedFault::StallMidBody, packed),
                                      TScripted::faulty(EScriptedFault::CloseMidBody, packed),
                                      TScripted::faulty(EScriptedFault::CloseMidBody, packed, 0),
                                      TScripted::ok(packed + QByteArray(20000, 'x'))};
        QList<TScripted> script;
        for (const int answer : answers) {
            script.append(answer == 503   ? TScripted::withStatus(503)
                          : answer == 200 ? TScripted::ok(packed)
                          : answer > 0    ? faults[answer - 1]
                                          : TScripted::ok(answer == 0 ? wrong : broken));
        }
        server.setAnswerSequence(u"/c/s"_qs, script);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> arrivals;
        connect(&server, &TScriptedHttpServer::requestReceived, this, [&](const QString& Path) {
            if (Path == u"/c/s"_qs) {
                arrivals.append(clock.elapsed());
            }
        });
        TChunkInPackageVector chunks{chunkOf(content, server.url(u"/c/s"_qs), packed)};
        if (setup.contains(u"twice"_qs)) {
            chunks.push_back(chunkOf(seededBytes(9, 30000), server.url(u"/c/s"_qs), packed));
        }
        TFileToDownloadVector files{fileOf(localFile, chunks)};
        if (setup.contains(u"gone"_qs)) {
            files.push_back(
                fileOf(u"b/gone.bin"_qs, {chunkOf(seededBytes(10, 100), server.url(u"/c/gone"_qs), {})}));
        }
        const EFailingOperation failing = setup.contains(u"disk"_qs)     ? EFailingOperation::CreateDirectory
                                          : setup.contains(u"remove"_qs) ? EFailingOperation::Remove
                                          : setup.contains(u"sync"_qs)   ? EFailingOperation::Sync
                                                                         : EFailingOperation::None;
        fileSystem(); // writes the settings the failing helper reads
        const auto disk = std::make_shared<TFailingFilesystem>(m_pLauncher->path(), failing);
        const QString inner = target(u"package"_qs);
        QVERIFY(writeBytes(inner + u"/s.bin"_qs, "in place"));

        TDownloadRun run(disk, inner, setup.contains(u"self"_qs));
        QVERIFY(run.run(files));
        QCOMPARE(run.failure(), error);
        QCOMPARE(server.requestCount(u"/c/s"_qs), requests);
        // Never back to back: each new attempt waits at least twice as long as the one before.
        for (int index = 1; index < arrivals.size(); ++index) {
            QVERIFY(arrivals[index] - arrivals[index - 1] >=
                    (qint64(RetryPauseMs) << std::min(index - 1, 5)) * 9 / 10);
        }
        QCOMPARE(server.requestCount(u"/c/gone"_qs), setup.contains(u"gone"_qs) ? 4 : 0);
        const bool written = localFile == u"s.bin"_qs && error == EPackageDownloaderError::NoError;
        QCOMPARE(readBytes(inner + u"/s.bin"_qs), written ? content : QByteArray("in place"));
        // The launcher replacing itself builds the new file beside it and renames it over the old one.
        QCOMPARE(QFileInfo::exists(inner + u"/s.bin.new"_qs), setup == u"sync self"_qs);
        QCOMPARE(QDir(m_pTarget->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{u"package"_qs});
    }

private:
    // Retries pause and stalled transfers end within milliseconds here, not seconds; siblings have markers.
    std::shared_ptr<TLauncherFilesystemHelper> fileSystem() {
        return makeLauncherFilesystem(m_pLauncher->path(),
                                      "[FILES]\npackageFile=package.json\n[OPTIONS]\nretryPause=" +
                                          QByteArray::number(RetryPauseMs) + "\ntransferStallTimeout=500\n");
    }
    QString target(const QString& Name) const { return m_pTarget->filePath(Name); }

    std::unique_ptr<QTemporaryDir> m_pLauncher;
    std::unique_ptr<QTemporaryDir> m_pTarget;
};

LAUNCHER_TEST(TestPackageFileDownloader)
#include "tst_packagefiledownloader.moc"
