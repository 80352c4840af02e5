#include "launcher/install/differencescan.h"

#include "launcher/chunking/chunker.h"
#include "launcher/download/packagelocalpath.h"
#include "launcher/install/chunkhasher.h"
#include "launcher/install/chunkmatcher.h"
#include "launcher/download/stoprequest.h"
#include "launcher/install/inplacerebuilder.h"
#include "launcher/install/replacementbuilder.h"
#include "launcher/logging/logging.h"
#include "shared/crypto/sha256.h"
#include "shared/filesystemhelper/diskerror.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QSet>
#include <QtConcurrent>
#include <QtDebug>

#include <algorithm>
#include <exception>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace mirrel::launcher {

namespace {

constexpr qint64 HashBlockSize = 4 * 1024 * 1024;

// The SHA-256 of a whole local file; empty when it cannot be opened or read.
QByteArray hashLocalFile(const QString& Path, const TStopRequest* Stop) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    shared::TSha256 hash;
    QByteArray block(static_cast<int>(HashBlockSize), Qt::Uninitialized);
    while (true) {
        const qint64 read = file.read(block.data(), HashBlockSize);
        if (read < 0) {
            return {};
        }
        if (read == 0) {
            break;
        }
        hash.addData(block.constData(), read);
        if (Stop != nullptr) {
            Stop->throwIfRequested();
        }
    }
    return hash.result();
}

// The size of the regular file at Path; 0 when there is none.
TFileSize localFileSize(const QString& Path) {
    const QFileInfo info(Path);
    return info.isFile() ? static_cast<TFileSize>(info.size()) : 0;
}

// A file that needs no bytes may still need its execute flag changed, either way.
void keepExecutable(const shared::TFileSystemHelper& FileSystem, const TFileToDownload& Entry,
                    const QString& Path) {
    try {
        FileSystem.setExecutable(Path, Entry.Executable);
    } catch (const std::runtime_error& error) {
        qWarning().noquote() << "could not set the execute flag of " + Path + ": " + error.what();
    }
}

} // namespace

TDifferenceScan::TDifferenceScan(const QDir& InstallationDirectory,
                                 std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                                 TProgressCallback OnProgress)
    : m_InstallationDirectory(InstallationDirectory)
    , m_pFileSystem(std::move(FileSystem))
    , m_OnProgress(std::move(OnProgress)) {}

TFileToDownloadVector TDifferenceScan::run(const TFileInPackageVector& TargetFiles,
                                           const TChunkInPackageVector& TargetChunks,
                                           const TFileInPackageVector& InstalledFiles,
                                           const TChunkInPackageVector& InstalledChunks) {
    m_pTargetChunks = &TargetChunks;
    m_pInstalledFiles = &InstalledFiles;
    m_pInstalledChunks = &InstalledChunks;
    m_HashHelpers.tryAcquire(m_HashHelpers.available());
    fillQueue(TargetFiles);

    // The calling thread is one of the workers: run from the pool itself, it would otherwise hold
    // a pool thread only to wait, and the scan would go at the pace of one thread fewer.
    std::vector<QFuture<TFileToDownloadVector>> workers;
    workers.reserve(WorkerCount - 1);
    for (int worker = 1; worker < WorkerCount; ++worker) {
        workers.push_back(QtConcurrent::run(QThreadPool::globalInstance(), [this] { return work(); }));
    }
    TFileToDownloadVector result;
    const auto collect = [&result](TFileToDownloadVector Files) {
        for (TFileToDownload& file : Files) {
            if (!file.ChunksToDownload.empty()) {
                result.push_back(std::move(file));
            }
        }
    };
    collect(work());
    for (QFuture<TFileToDownloadVector>& worker : workers) {
        collect(worker.result());
    }
    if (m_pStop && m_pStop->isRequested()) {
        stopAfterDiskFailure(QString::fromUtf8(TRunStopped().what()));
    }
    return result;
}

void TDifferenceScan::fillQueue(const TFileInPackageVector& TargetFiles) {
    QMutexLocker lock(&m_Mutex);
    m_Queue.clear();
    m_Scanned = 0;
    m_Total = 0;
    QSet<QString> seen;
    for (const TFileInPackage& entry : TargetFiles) {
        const QString path = packageLocalPath(*m_pFileSystem, m_InstallationDirectory, entry.LocalFile);
        if (path.isEmpty()) {
            qWarning().noquote() << "file " + entry.LocalFile +
                                        " lies outside the installation directory, skipped";
            continue;
        }
        // Two entries for one local file would have two workers write it at once.
        if (seen.contains(path)) {
            qWarning().noquote() << "file " + entry.LocalFile + " is listed twice, the first entry is kept";
            continue;
        }
        seen.insert(path);
        m_Total += localFileSize(path);
        m_Queue.push_back({&entry, path});
    }
    std::sort(m_Queue.begin(), m_Queue.end(),
              [](const TQueuedFile& A, const TQueuedFile& B) { return A.Entry->Size > B.Entry->Size; });
}

TFileToDownloadVector TDifferenceScan::work() {
    TFileToDownloadVector result;
    {
        // One chunker per worker: its buffer serves every file the worker reads.
        TChunker chunker;
        TChunkHasher hasher(&m_HashHelpers);
        result = checkQueuedFiles(chunker, hasher);
    }
    // This worker's memory and thread are free now: another worker's hasher may take them.
    m_HashHelpers.release();
    return result;
}

TFileToDownloadVector TDifferenceScan::checkQueuedFiles(TChunker& Chunker, TChunkHasher& Hasher) {
    TFileToDownloadVector result;
    TQueuedFile file;
    while (takeNextFile(file)) {
        try {
            std::optional<TFileToDownload> entry = checkFile(file, Chunker, Hasher);
            if (entry) {
                result.push_back(std::move(*entry));
            }
        } catch (const TRunStopped&) {
            break;
        } catch (const shared::TDiskError& error) {
            stopAfterDiskFailure(QString::fromUtf8(error.what()));
        } catch (const std::exception& error) {
            // Only a broken configuration gets here (a chunk index outside its table); such a file
            // cannot be installed and is left alone.
            qCritical().noquote() << "difference of file " + file.Entry->LocalFile +
                                         " failed: " + error.what();
        }
    }
    return result;
}

bool TDifferenceScan::takeNextFile(TQueuedFile& File) {
    QMutexLocker lock(&m_Mutex);
    if (m_Queue.empty() || (m_pStop && m_pStop->isRequested())) {
        return false;
    }
    File = std::move(m_Queue.front());
    m_Queue.pop_front();
    return true;
}

void TDifferenceScan::stopAfterDiskFailure(const QString& Text) {
    qCritical().noquote() << "difference stopped: " + Text;
    QMutexLocker lock(&m_Mutex);
    if (m_ErrorText.isEmpty()) {
        m_ErrorText = Text;
    }
    m_Queue.clear();
}

QString TDifferenceScan::errorText() const {
    QMutexLocker lock(&m_Mutex);
    return m_ErrorText;
}

void TDifferenceScan::addScanned(TFileSize Length) {
    QMutexLocker lock(&m_Mutex);
    m_Scanned += Length;
    if (m_OnProgress) {
        m_OnProgress(m_Scanned, m_Total);
    }
}

std::optional<TFileToDownload> TDifferenceScan::checkFile(const TQueuedFile& File, TChunker& Chunker,
                                                          TChunkHasher& Hasher) {
    TFileToDownload entry(*File.Entry, *m_pTargetChunks);
    if (File.Entry->Chunks.size() < 2) {
        return checkWholeFile(File, std::move(entry));
    }
    return checkChunks(File, std::move(entry), Chunker, Hasher);
}

std::optional<TFileToDownload> TDifferenceScan::checkWholeFile(const TQueuedFile& File,
                                                               TFileToDownload Entry) {
    const TFileSize size = localFileSize(File.LocalPath);
    // A file of another size cannot have the wanted content; hashing it would only cost time.
    const QByteArray digest = size == Entry.Size && QFileInfo(File.LocalPath).isFile()
                                  ? hashLocalFile(File.LocalPath, m_pStop.get())
                                  : QByteArray();
    addScanned(size);
    if (!digest.isEmpty() && digest == Entry.Hash) {
        qInfo().noquote() << "reuseable file found " + Entry.LocalFile + " Thread: " + currentThreadIdText();
        keepExecutable(*m_pFileSystem, Entry, File.LocalPath);
        return std::nullopt;
    }
    return replace(File, std::move(Entry));
}

std::optional<TFileToDownload> TDifferenceScan::checkChunks(const TQueuedFile& File, TFileToDownload Entry,
                                                            TChunker& Chunker, TChunkHasher& Hasher) {
    TChunkMatcher matcher(Entry.Chunks, File.LocalPath, [this](TFileSize Length) { addScanned(Length); });
    if (!feedInstalledChunks(File, matcher) && !feedLocalChunks(File, matcher, Chunker, Hasher)) {
        return replace(File, std::move(Entry));
    }
    if (!matcher.found()) {
        return replace(File, std::move(Entry));
    }
    return m_SelfUpdateMode ? buildBeside(File, std::move(Entry), matcher)
                            : rebuildInPlace(File, std::move(Entry), matcher);
}

std::optional<TFileToDownload> TDifferenceScan::rebuildInPlace(const TQueuedFile& File, TFileToDownload Entry,
                                                               TChunkMatcher& Matcher) const {
    try {
        TInPlaceRebuilder rebuilder(File.LocalPath, Entry.Chunks, Matcher.records(), m_pFileSystem);
        rebuilder.setStopRequest(m_pStop);
        const std::vector<std::int32_t> missing = rebuilder.rebuild(Entry.Size);
        Entry.ChunksToDownload.assign(missing.begin(), missing.end());
    } catch (const TRunStopped&) {
        throw;
    } catch (const shared::TDiskError&) {
        // The file keeps what was moved; deleting it would only throw that away.
        throw;
    } catch (const std::exception& error) {
        // Part of the file may already have been rewritten: only a complete fetch is safe now.
        qWarning().noquote() << "rebuilding " + File.LocalPath + " in place failed: " + error.what();
        return replace(File, std::move(Entry));
    }
    if (Entry.ChunksToDownload.empty()) {
        keepExecutable(*m_pFileSystem, Entry, File.LocalPath);
    }
    return Entry;
}

std::optional<TFileToDownload> TDifferenceScan::buildBeside(const TQueuedFile& File, TFileToDownload Entry,
                                                            TChunkMatcher& Matcher) const {
    const QString replacement = replacementPath(File.LocalPath);
    try {
        const std::vector<std::int32_t> missing =
            TReplacementBuilder(File.LocalPath, replacement, Matcher.records()).build(Entry.Size);
        Entry.ChunksToDownload.assign(missing.begin(), missing.end());
        qInfo().noquote() << "building " + replacement + " beside " + File.LocalPath + ": " +
                                 QString::number(Entry.Chunks.size() - missing.size()) + " chunks reused, " +
                                 QString::number(missing.size()) + " to download" +
                                 " Thread: " + currentThreadIdText();
        if (Entry.ChunksToDownload.empty()) {
            // Made executable before it takes the file's place, so the place never holds a
            // program that cannot run.
            keepExecutable(*m_pFileSystem, Entry, replacement);
            moveReplacementIntoPlace(*m_pFileSystem, File.LocalPath);
        }
    } catch (const TRunStopped&) {
        throw;
    } catch (const std::exception& error) {
        qWarning().noquote() << "building " + replacement + " failed: " + error.what();
        return replace(File, std::move(Entry));
    }
    return Entry;
}

bool TDifferenceScan::feedInstalledChunks(const TQueuedFile& File, TChunkMatcher& Matcher) const {
    const TFileInPackage* installed = installedEntry(File.Entry->LocalFile);
    if (installed == nullptr || installed->Chunks.size() < 2) {
        return false;
    }
    // The installed description stands in for the file only while it can be true: its chunks must
    // be in the table, add up to its size, and the file must be there with exactly that size.
    // Otherwise (a deleted or changed file) the file is read like any other.
    TFileSize sum = 0;
    for (const std::int32_t index : installed->Chunks) {
        if (index < 0 || static_cast<std::size_t>(index) >= m_pInstalledChunks->size()) {
            return false;
        }
        const TFileSize size = (*m_pInstalledChunks)[static_cast<std::size_t>(index)].UnpackedSize;
        if (size == 0 || size > chunking::MaximumSize) {
            return false;
        }
        sum += size;
    }
    const QFileInfo local(File.LocalPath);
    if (sum != installed->Size || !local.isFile() ||
        static_cast<TFileSize>(local.size()) != installed->Size) {
        return false;
    }
    for (const std::int32_t index : installed->Chunks) {
        const TChunkInPackage& chunk = (*m_pInstalledChunks)[static_cast<std::size_t>(index)];
        Matcher.feed(chunk.UnpackedHash, chunk.UnpackedSize);
    }
    return true;
}

bool TDifferenceScan::feedLocalChunks(const TQueuedFile& File, TChunkMatcher& Matcher, TChunker& Chunker,
                                      TChunkHasher& Hasher) const {
    Hasher.begin(
        [&Matcher](const QByteArray& Digest, std::uint64_t Length) { Matcher.feed(Digest, Length); });
    // Every chunk cut is in the matcher before the caller looks at it, however the cutting ended.
    const auto allFed = qScopeGuard([&Hasher] { Hasher.finish(); });
    try {
        Chunker.chunkFile(File.LocalPath.toStdString(),
                          [&Hasher, this](unsigned char* Data, std::uint64_t Length) {
                              if (m_pStop) {
                                  m_pStop->throwIfRequested();
                              }
                              Hasher.add(Data, Length);
                          });
    } catch (const TRunStopped&) {
        throw;
    } catch (const std::exception& error) {
        qWarning().noquote() << "chunking " + File.LocalPath + " failed: " + error.what();
        return false;
    }
    return true;
}

std::optional<TFileToDownload> TDifferenceScan::replace(const TQueuedFile& File,
                                                        TFileToDownload Entry) const {
    // In self-update mode the file stays until its complete successor takes its place; only a
    // leftover of an earlier attempt goes.
    const QString obsolete = m_SelfUpdateMode ? replacementPath(File.LocalPath) : File.LocalPath;
    const QFileInfo local(obsolete);
    if (local.isFile() || local.isSymLink()) {
        try {
            m_pFileSystem->removeFile(obsolete);
        } catch (const std::runtime_error& error) {
            // Saving the file tries again, and reports it if it still cannot.
            qWarning().noquote() << QString::fromUtf8(error.what());
        }
    }
    // An empty file has no piece to fetch: it is simply created.
    if (Entry.Size == 0 && Entry.Hash == shared::TSha256::hash(QByteArray())) {
        try {
            m_pFileSystem->writeFile(File.LocalPath, QByteArray());
        } catch (const std::runtime_error& error) {
            throw shared::TDiskError(std::string(error.what()));
        }
        keepExecutable(*m_pFileSystem, Entry, File.LocalPath);
        return std::nullopt;
    }
    const TChunkInPackage& wholeFile = File.Entry->WholeFile;
    if (!wholeFile.Url.isEmpty()) {
        TChunkInPackage piece = wholeFile;
        if (piece.UnpackedHash.isEmpty()) {
            piece.UnpackedHash = Entry.Hash;
            piece.UnpackedSize = Entry.Size;
        }
        Entry.Chunks = {piece};
    }
    if (Entry.Chunks.empty()) {
        qWarning().noquote() << "file " + Entry.LocalFile + " has no piece to download";
        return std::nullopt;
    }
    Entry.ChunksToDownload.resize(Entry.Chunks.size());
    std::iota(Entry.ChunksToDownload.begin(), Entry.ChunksToDownload.end(), 0);
    return Entry;
}

const TFileInPackage* TDifferenceScan::installedEntry(const QString& LocalFile) const {
    const auto found = std::lower_bound(
        m_pInstalledFiles->begin(), m_pInstalledFiles->end(), LocalFile,
        [](const TFileInPackage& Entry, const QString& Name) { return Entry.LocalFile < Name; });
    if (found == m_pInstalledFiles->end() || found->LocalFile != LocalFile) {
        return nullptr;
    }
    return &*found;
}

} // namespace mirrel::launcher
