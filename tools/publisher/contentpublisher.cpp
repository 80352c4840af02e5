#include "publisher/contentpublisher.h"

#include "launcher/chunking/chunker.h"
#include "shared/crypto/sha256.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>

namespace publisher {

namespace {

// Chunking and whole-file hashing stream at several hundred MB/s per thread,
// far ahead of packing; a few chunking threads keep every packing thread busy
// while each holds only one read buffer.
constexpr int MaximumChunkingThreads = 4;
constexpr int ProgressIntervalMs = 200;

// Thrown out of the chunk callback to stop reading once the run has failed.
struct TRunCancelled {};

bool isInside(const QString& Path, const QString& Directory) {
    return Path == Directory || Path.startsWith(Directory + QLatin1Char('/'));
}

QString canonicalOrClean(const QString& Path) {
    const QFileInfo Info(Path);
    const QString Canonical = Info.canonicalFilePath();
    return Canonical.isEmpty() ? QDir::cleanPath(Info.absoluteFilePath()) : Canonical;
}

} // namespace

struct TContentPublisher::TRunState {
    explicit TRunState(int Threads)
        : InFlight(2 * Threads + MaximumChunkingThreads) {}

    QMutex Mutex; // guards Chunks, the files' chunk lists and FirstError
    std::map<QByteArray, TPublishedChunk> Chunks;
    QString FirstError;
    std::atomic<bool> Cancelled{false};
    std::atomic<quint64> BytesDone{0};
    QSemaphore InFlight; // chunk copies waiting for or in packing
    QThreadPool ChunkingPool;
    QThreadPool PackingPool;
};

TContentPublisher::TContentPublisher(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                                     TContentPublisherSettings PublisherSettings)
    : m_pFileSystem(std::move(FileSystem))
    , Settings(std::move(PublisherSettings))
    , Store(m_pFileSystem, Settings.OutputDirectory) {
    if (Settings.Threads <= 0) {
        Settings.Threads = std::max(1, QThread::idealThreadCount());
    }
}

TContentPublisher::~TContentPublisher() = default;

void TContentPublisher::setProgressCallback(TProgressCallback Callback) {
    ProgressCallback = std::move(Callback);
}

TPublishResult TContentPublisher::publish() {
    TPublishResult Result;
    Result.Files = listInputFiles();
    quint64 Total = 0;
    for (const TPublishedFile& File : Result.Files) {
        Total += File.Size;
    }

    m_pRun = std::make_unique<TRunState>(Settings.Threads);
    m_pRun->ChunkingPool.setMaxThreadCount(std::min(Settings.Threads, MaximumChunkingThreads));
    m_pRun->PackingPool.setMaxThreadCount(Settings.Threads);
    for (TPublishedFile& File : Result.Files) {
        m_pRun->ChunkingPool.start([this, &File] { chunkOneFile(File); });
    }
    // Packing work is only queued by chunking work, so once chunking is done
    // waiting for the packing pool covers everything.
    while (!m_pRun->ChunkingPool.waitForDone(ProgressIntervalMs)) {
        reportProgress(Total);
    }
    while (!m_pRun->PackingPool.waitForDone(ProgressIntervalMs)) {
        reportProgress(Total);
    }
    reportProgress(Total);

    const std::unique_ptr<TRunState> Run = std::move(m_pRun);
    if (!Run->FirstError.isEmpty()) {
        throw std::runtime_error(Run->FirstError.toStdString());
    }
    Result.Chunks = std::move(Run->Chunks);
    const bool HasEmptyFile = std::any_of(Result.Files.begin(), Result.Files.end(),
                                          [](const TPublishedFile& File) { return File.Size == 0; });
    if (HasEmptyFile) {
        Result.EmptyPiece = Store.storeEmptyPiece();
    }
    return Result;
}

std::vector<TPublishedFile> TContentPublisher::listInputFiles() const {
    const QFileInfo InputInfo(Settings.InputDirectory);
    if (!InputInfo.isDir()) {
        throw std::runtime_error(QStringLiteral("The build directory '%1' does not exist.")
                                     .arg(Settings.InputDirectory)
                                     .toStdString());
    }
    const QString Input = canonicalOrClean(Settings.InputDirectory);
    if (isInside(canonicalOrClean(Settings.OutputDirectory), Input)) {
        throw std::runtime_error(
            QStringLiteral("The output folder '%1' lies inside the build directory '%2'.")
                .arg(Settings.OutputDirectory, Settings.InputDirectory)
                .toStdString());
    }
    std::vector<TPublishedFile> Files;
    const QDir InputDir(Input);
    QDirIterator Iterator(Input, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
    while (Iterator.hasNext()) {
        Iterator.next();
        const QFileInfo Info = Iterator.fileInfo();
        TPublishedFile File;
        File.AbsolutePath = Info.absoluteFilePath();
        File.LocalFile = InputDir.relativeFilePath(File.AbsolutePath);
        File.Size = static_cast<quint64>(Info.size());
        File.Executable = (Info.permissions() &
                           (QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther)) != 0;
        Files.push_back(std::move(File));
    }
    std::sort(Files.begin(), Files.end(),
              [](const TPublishedFile& A, const TPublishedFile& B) { return A.LocalFile < B.LocalFile; });
    return Files;
}

void TContentPublisher::chunkOneFile(TPublishedFile& File) {
    TRunState& Run = *m_pRun;
    if (Run.Cancelled) {
        return;
    }
    try {
        shared::TSha256 WholeFile;
        quint64 BytesRead = 0;
        mirrel::launcher::chunkFile(
            File.AbsolutePath.toStdString(), [&](unsigned char* Data, std::uint64_t Length) {
                if (Run.Cancelled) {
                    throw TRunCancelled();
                }
                WholeFile.addData(reinterpret_cast<const char*>(Data), static_cast<qint64>(Length));
                BytesRead += Length;
                std::size_t ChunkIndex = 0;
                {
                    QMutexLocker Locker(&Run.Mutex);
                    ChunkIndex = File.ChunkHashes.size();
                    File.ChunkHashes.emplace_back();
                }
                Run.InFlight.acquire();
                QByteArray Content(reinterpret_cast<const char*>(Data), static_cast<int>(Length));
                Run.PackingPool.start([this, &File, ChunkIndex, Content] {
                    packOneChunk(File, ChunkIndex, Content);
                    m_pRun->InFlight.release();
                });
            });
        // The chunker ends quietly at a read error; a short read must not be
        // published as the file.
        if (BytesRead != File.Size) {
            fail(QStringLiteral("Could not read the whole of '%1' (%2 of %3 bytes); was it changed while "
                                "publishing?")
                     .arg(File.AbsolutePath)
                     .arg(BytesRead)
                     .arg(File.Size));
            return;
        }
        File.Hash = WholeFile.result();
    } catch (const TRunCancelled&) {
    } catch (const std::exception& Error) {
        fail(QString::fromUtf8(Error.what()));
    }
}

void TContentPublisher::packOneChunk(TPublishedFile& File, std::size_t ChunkIndex,
                                     const QByteArray& Content) {
    TRunState& Run = *m_pRun;
    if (Run.Cancelled) {
        return;
    }
    try {
        const QByteArray Hash = shared::TSha256::hash(Content);
        bool Claimed = false;
        {
            QMutexLocker Locker(&Run.Mutex);
            File.ChunkHashes[ChunkIndex] = Hash;
            Claimed = Run.Chunks.emplace(Hash, TPublishedChunk()).second;
        }
        if (Claimed) {
            storeChunk(Hash, Content);
        }
        Run.BytesDone += static_cast<quint64>(Content.size());
    } catch (const std::exception& Error) {
        fail(QString::fromUtf8(Error.what()));
    }
}

void TContentPublisher::storeChunk(const QByteArray& Hash, const QByteArray& Content) {
    TPublishedChunk Chunk;
    Chunk.UnpackedSize = static_cast<quint64>(Content.size());
    if (const auto Existing = Store.findExisting(Hash, Chunk.UnpackedSize)) {
        Chunk.Piece = *Existing;
    } else {
        const TPackedChunk Packed = packChunk(Content, Settings.Method, Settings.MinimumSaving);
        Chunk.Piece = Store.storeContainer(Hash, Packed.Container);
        Chunk.New = true;
        Chunk.Method = Packed.Method;
    }
    QMutexLocker Locker(&m_pRun->Mutex);
    m_pRun->Chunks[Hash] = Chunk;
}

void TContentPublisher::fail(const QString& Message) {
    TRunState* const Run = m_pRun.get();
    if (Run == nullptr) {
        return; // only reachable while a run is in progress
    }
    QMutexLocker Locker(&Run->Mutex);
    if (Run->FirstError.isEmpty()) {
        Run->FirstError = Message;
    }
    Run->Cancelled = true;
}

void TContentPublisher::reportProgress(quint64 Total) const {
    if (ProgressCallback) {
        ProgressCallback(m_pRun->BytesDone.load(), Total);
    }
}

} // namespace publisher
