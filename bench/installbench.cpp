// Measurements of an installation run: scan, verification, fresh install, update, and the
// floors they are compared with. One operation per call, so that run-install-bench.sh can take
// the wall time and peak memory of each with /usr/bin/time.
//
//   install_bench generate <folder> <total bytes> <seed>
//   install_bench generate-big <folder> <bytes> <seed>       (one file of that size)
//   install_bench generate-small <folder> <count> <seed>     (that many files of 1 KiB to 256 KiB)
//   install_bench mutate <from folder> <to folder> <seed>
//   install_bench install <document> <base url> <installation> [<installed document>]
//   install_bench run <document> <base url> <installation> [<installed document>]
//   install_bench markers <chunks>
//   install_bench install-beside <document> <base url> <installation> <installed sibling folder>
//   install_bench share <from folder> <to folder> <seed> <percent of chunks changed>
//   install_bench index <chunks>
//   install_bench scan <document> <installation>
//   install_bench verify <document> <installation>
//   install_bench urls <document> <base url>
//   install_bench decode <folder>
//   install_bench missing <new document> <old document> <base url>
//   install_bench free-port

#include "launcher/download/packagefiledownloader.h"
#include "launcher/download/siblingchunkindex.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/container/container.h"
#include "shared/network/ratelimiter.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <random>

using namespace mirrel::launcher;

namespace {

constexpr qint64 MiB = 1024 * 1024;

QByteArray readAll(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& Path, const QByteArray& Data) {
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile file(Path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(Data) == Data.size();
}

void appendNoise(QByteArray& Data, qint64 Size, std::mt19937_64& Random) {
    const qint64 start = Data.size();
    Data.resize(static_cast<int>(start + Size));
    for (qint64 index = 0; index < Size; index += 8) {
        const std::uint64_t word = Random();
        std::memcpy(Data.data() + start + index, &word,
                    static_cast<std::size_t>(std::min<qint64>(8, Size - index)));
    }
}

// Table-like game data: fixed records with a few varying fields (packs well).
void appendRecords(QByteArray& Data, qint64 Size, std::mt19937_64& Random) {
    const qint64 end = Data.size() + Size;
    char record[48];
    std::memset(record, 0x2e, sizeof(record));
    while (Data.size() < end) {
        const std::uint64_t value = Random();
        std::memcpy(record + 4, &value, 3);
        record[20 + Random() % 24] = static_cast<char>('a' + Random() % 26);
        Data.append(record, sizeof(record));
    }
    Data.truncate(static_cast<int>(end));
}

// Mostly already-compressed data (textures, sound) with packable stretches.
QByteArray fileContent(qint64 Size, std::mt19937_64& Random) {
    QByteArray data;
    data.reserve(static_cast<int>(Size));
    while (data.size() < Size) {
        const qint64 piece =
            std::min<qint64>(Size - data.size(), static_cast<qint64>(1 + Random() % (6 * MiB)));
        if (Random() % 10 < 7) {
            appendNoise(data, piece, Random);
        } else {
            appendRecords(data, piece, Random);
        }
    }
    return data;
}

// Writes Size bytes of generated content piece by piece, so that a file may be larger than one
// byte array.
bool writeGenerated(const QString& Path, qint64 Size, std::mt19937_64& Random) {
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile file(Path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    for (qint64 written = 0; written < Size;) {
        const QByteArray piece = fileContent(std::min<qint64>(Size - written, 256 * MiB), Random);
        if (file.write(piece) != piece.size()) {
            return false;
        }
        written += piece.size();
    }
    return true;
}

int generateBig(const QString& Folder, qint64 Size, quint64 Seed) {
    std::mt19937_64 random(Seed);
    const QString path = Folder + QStringLiteral("/data/big.pak");
    if (!writeGenerated(path, Size, random)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("generated 1 file, %lld bytes\n", static_cast<long long>(Size));
    return 0;
}

int generateSmall(const QString& Folder, int Count, quint64 Seed) {
    std::mt19937_64 random(Seed);
    qint64 total = 0;
    for (int index = 0; index < Count; ++index) {
        const qint64 size = static_cast<qint64>(1024 + random() % (255 * 1024));
        const QString path = QStringLiteral("%1/data%2/small%3.dat").arg(Folder).arg(index % 20).arg(index);
        if (!writeGenerated(path, size, random)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        total += size;
    }
    std::printf("generated %d files, %lld bytes\n", Count, static_cast<long long>(total));
    return 0;
}

// The longest time the event loop went without serving a 10 ms timer: what a window would
// have frozen for.
class TStallWatch {
public:
    TStallWatch() {
        m_Timer.setInterval(10);
        QObject::connect(&m_Timer, &QTimer::timeout,
                         [this] { m_Longest = std::max(m_Longest, m_SinceLast.restart()); });
        m_SinceLast.start();
        m_Timer.start();
    }
    qint64 longestMs() const { return std::max(m_Longest, m_SinceLast.elapsed()); }
    // What the watching thread did since the watch began: seconds on a processor and seconds ready
    // to run but waiting for one (a stall can be either).
    QString threadTimes() const {
        const std::pair<double, double> now = schedule();
        return QStringLiteral("%1 s running, %2 s waiting for a processor")
            .arg(now.first - m_Start.first, 0, 'f', 2)
            .arg(now.second - m_Start.second, 0, 'f', 2);
    }

private:
    static std::pair<double, double> schedule() {
        QFile file(QStringLiteral("/proc/thread-self/schedstat"));
        const QList<QByteArray> fields =
            file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QList<QByteArray>();
        return fields.size() < 2
                   ? std::pair<double, double>()
                   : std::pair<double, double>(fields[0].toDouble() / 1e9, fields[1].toDouble() / 1e9);
    }

    const std::pair<double, double> m_Start = schedule();
    QTimer m_Timer;
    QElapsedTimer m_SinceLast;
    qint64 m_Longest = 0;
};

int generate(const QString& Folder, qint64 Total, quint64 Seed) {
    std::mt19937_64 random(Seed);
    qint64 written = 0;
    int index = 0;
    while (written < Total) {
        // By bytes: about 60% in big files, 30% in medium ones, 10% in small ones.
        const unsigned kind = random() % 100;
        qint64 size = kind < 12   ? static_cast<qint64>(40 * MiB + random() % (80 * MiB))
                      : kind < 40 ? static_cast<qint64>(9 * MiB + random() % (21 * MiB))
                                  : static_cast<qint64>(1024 + random() % (4 * MiB));
        size = std::min(size, Total - written);
        const QString path = QStringLiteral("%1/data%2/file%3.pak").arg(Folder).arg(index % 7).arg(index);
        if (!writeAll(path, fileContent(size, random))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        written += size;
        ++index;
    }
    std::printf("generated %d files, %lld bytes\n", index, static_cast<long long>(written));
    return 0;
}

// The files below Folder, relative to it and in name order, so that a seed always picks the same ones.
QStringList filesBelow(const QString& Folder) {
    QStringList files;
    QDirIterator iterator(Folder, QDir::Files, QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        files.append(QDir(Folder).relativeFilePath(iterator.next()));
    }
    files.sort();
    return files;
}

// About 5% of the content changes: edits inside a few big files (bytes inserted, overwritten or
// removed), one file removed, one file added.
int mutate(const QString& From, const QString& To, quint64 Seed) {
    std::mt19937_64 random(Seed);
    const QStringList files = filesBelow(From);
    QSet<QString> edited;
    QStringList big;
    for (const QString& file : files) {
        if (QFileInfo(From + QLatin1Char('/') + file).size() > 9 * MiB) {
            big.append(file);
        }
    }
    for (int edit = 0; edit < 5 && !big.isEmpty(); ++edit) {
        edited.insert(big[static_cast<int>(random() % static_cast<quint64>(big.size()))]);
    }
    QString removed;
    for (const QString& file : files) {
        if (QFileInfo(From + QLatin1Char('/') + file).size() < 4 * MiB) {
            removed = file;
            break;
        }
    }
    for (const QString& file : files) {
        if (file == removed) {
            continue;
        }
        QByteArray data = readAll(From + QLatin1Char('/') + file);
        if (edited.contains(file)) {
            const int offset = static_cast<int>(random() % static_cast<quint64>(data.size()));
            QByteArray bytes;
            appendNoise(bytes, static_cast<qint64>(1 + random() % 65536), random);
            switch (random() % 3) {
            case 0:
                data.insert(offset, bytes);
                break;
            case 1:
                data.replace(offset, bytes.size(), bytes);
                break;
            default:
                data.remove(offset, bytes.size());
                break;
            }
        }
        if (!writeAll(To + QLatin1Char('/') + file, data)) {
            return 1;
        }
    }
    if (!writeAll(To + QStringLiteral("/data-new/added.pak"), fileContent(10 * MiB, random))) {
        return 1;
    }
    std::printf("edited %d files, removed %s, added data-new/added.pak\n", static_cast<int>(edited.size()),
                qPrintable(removed));
    return 0;
}

// Changes about Percent of the chunks of a tree and leaves the others as they are: a byte is
// flipped in that share of the small files, and at that share of 8 MiB places in the larger ones
// (an overwrite moves no chunk boundary, so each flip changes the one chunk it falls into).
int share(const QString& From, const QString& To, quint64 Seed, int Percent) {
    std::mt19937_64 random(Seed);
    const QStringList files = filesBelow(From);
    int flips = 0;
    for (const QString& file : files) {
        QByteArray data = readAll(From + QLatin1Char('/') + file);
        for (qint64 place = 0; place < data.size(); place += 8 * MiB) {
            if (static_cast<int>(random() % 100) < Percent) {
                const qint64 offset =
                    place + static_cast<qint64>(random() % static_cast<quint64>(std::min<qint64>(
                                                               8 * MiB, data.size() - place)));
                data[static_cast<int>(offset)] = static_cast<char>(data[static_cast<int>(offset)] ^ 0x5A);
                ++flips;
            }
        }
        if (!writeAll(To + QLatin1Char('/') + file, data)) {
            return 1;
        }
    }
    std::printf("flipped %d bytes in %d files\n", flips, static_cast<int>(files.size()));
    return 0;
}

TPackageConfigurationReader readDocument(const QString& Path, const QUrl& BaseUrl) {
    return TPackageConfigurationReader(readAll(Path), QByteArray(), BaseUrl, BaseUrl);
}

// The launcher's helper for a launcher in Directory; its settings name the installation markers as
// the built-in ones do (this program carries no built-in settings).
std::shared_ptr<TLauncherFilesystemHelper> benchFileSystem(const QString& Directory) {
    writeAll(Directory + QStringLiteral("/launchersettings.ini"),
             "[FILES]\npackageFile=package.json\npartialPackageFile=partial-package.json\nassetFile=assets."
             "json\n");
    return std::make_shared<TLauncherFilesystemHelper>(Directory);
}

std::shared_ptr<TPackage> benchPackage() {
    return std::make_shared<TPackage>(0,
                                      QJsonObject{{QStringLiteral("name"), QStringLiteral("Bench")},
                                                  {QStringLiteral("directoryname"), QStringLiteral("bench")}},
                                      QUrl());
}

int install(const QString& Document, const QUrl& BaseUrl, const QString& Installation,
            const QString& Installed, const QString& Sibling = QString()) {
    const TPackageConfigurationReader target = readDocument(Document, BaseUrl);
    const TPackageConfigurationReader installed =
        Installed.isEmpty() ? TPackageConfigurationReader() : readDocument(Installed, BaseUrl);
    if (!target.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(Document));
        return 1;
    }
    QTemporaryDir launcher;
    auto fileSystem = benchFileSystem(launcher.path());
    TPackageInstallation installation(benchPackage(), fileSystem);
    // RATE_LIMIT_KIB: the download speed limit of the run, in KiB/s (run-ratelimit-bench.sh).
    const qint64 rateLimit = qEnvironmentVariableIntValue("RATE_LIMIT_KIB");
    if (rateLimit > 0) {
        installation.setRateLimiter(std::make_shared<shared::TRateLimiter>(rateLimit * 1024));
    }
    const QDir directory(Installation);
    installation.setInstallationDirectory(directory);
    QDir().mkpath(Installation);
    if (!Sibling.isEmpty()) {
        installation.setSiblingPackages({{QStringLiteral("sibling"), QDir(Sibling).absolutePath()}});
    }

    QElapsedTimer timer;
    timer.start();
    TStallWatch stalls;
    int result = 1;
    QObject::connect(&installation, &TPackageInstallation::downloadFinished, [&] {
        result = installation.success() ? 0 : 1;
        QCoreApplication::quit();
    });
    QObject::connect(&installation, &TPackageInstallation::diskAccessFailed, [&](const QString& Message) {
        std::fprintf(stderr, "disk access failed: %s\n", qPrintable(Message));
        QCoreApplication::quit();
    });
    QFutureWatcher<TPackageDifference> watcher;
    qint64 scanMs = 0;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, [&] {
        scanMs = timer.elapsed();
        QMetaObject::invokeMethod(&installation, "onRequiredChangesComputedForInstallation",
                                  Qt::DirectConnection,
                                  Q_ARG(mirrel::launcher::TPackageDifference, watcher.result()));
    });
    watcher.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [&] {
        return installation.computeRequiredChanges(directory, fileSystem, target, installed, false);
    }));
    QCoreApplication::exec();
    std::printf("install: %s in %.2f s (scan %.2f s), %zu files fetched, %zu deleted, longest event-loop "
                "stall %lld ms\n",
                result == 0 ? "success" : "FAILED", timer.elapsed() / 1000.0, scanMs / 1000.0,
                installation.filesToDownload().size(), installation.filesToDelete().size(),
                static_cast<long long>(stalls.longestMs()));
    std::printf("install: GUI thread %s\n", qPrintable(stalls.threadTimes()));
    const TPackageFileDownloader* downloader = installation.packageFileDownloader();
    std::printf("install: %llu bytes downloaded, %llu bytes read from the installed sibling\n",
                static_cast<unsigned long long>(downloader->downloadedBytes()),
                static_cast<unsigned long long>(downloader->seededBytes()));
    const shared::TBufferPool::TCounts buffers = downloader->bufferCounts();
    std::printf("install: buffers reused %d, grown %d, fresh %d, not kept %d\n", buffers.Reused,
                buffers.Grown, buffers.Fresh, buffers.NotKept);
    return result;
}

int scan(const QString& Document, const QString& Installation) {
    const TPackageConfigurationReader target =
        readDocument(Document, QUrl(QStringLiteral("http://127.0.0.1/")));
    QTemporaryDir launcher;
    auto fileSystem = std::make_shared<TLauncherFilesystemHelper>(launcher.path());
    TPackageInstallation installation(benchPackage(), fileSystem);
    QElapsedTimer timer;
    timer.start();
    // As the launcher runs it: on the pool, while the event loop serves the window.
    TStallWatch stalls;
    QFutureWatcher<TPackageDifference> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &QCoreApplication::quit);
    watcher.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [&] {
        return installation.computeRequiredChanges(QDir(Installation), fileSystem, target, target, false);
    }));
    QCoreApplication::exec();
    const TPackageDifference difference = watcher.result();
    std::printf("scan: %.2f s, %zu files to fetch, longest event-loop stall %lld ms\n",
                timer.elapsed() / 1000.0, difference.FilesToDownload.size(),
                static_cast<long long>(stalls.longestMs()));
    return difference.FilesToDownload.empty() ? 0 : 1;
}

int verify(const QString& Document, const QString& Installation) {
    const TPackageConfigurationReader target =
        readDocument(Document, QUrl(QStringLiteral("http://127.0.0.1/")));
    QTemporaryDir launcher;
    auto fileSystem = std::make_shared<TLauncherFilesystemHelper>(launcher.path());
    TPackageInstallation installation(benchPackage(), fileSystem);
    QElapsedTimer timer;
    timer.start();
    const bool result = installation.VerifyPackage(QDir(Installation), fileSystem, target.files());
    std::printf("verify: %s in %.2f s\n", result ? "success" : "FAILED", timer.elapsed() / 1000.0);
    return result ? 0 : 1;
}

// The pieces a fresh installation fetches: every chunk of a chunked file, the whole-file piece of
// any other file that is not empty.
QSet<QString> freshPieces(const TPackageConfigurationReader& Configuration) {
    QSet<QString> urls;
    for (const TFileInPackage& file : Configuration.files()) {
        if (file.Chunks.size() >= 2) {
            for (const std::int32_t index : file.Chunks) {
                urls.insert(Configuration.chunks()[static_cast<std::size_t>(index)].Url.toString());
            }
        } else if (file.Size > 0) {
            urls.insert(file.WholeFile.Url.toString());
        }
    }
    return urls;
}

int urls(const QString& Document, const QUrl& BaseUrl) {
    for (const QString& url : freshPieces(readDocument(Document, BaseUrl))) {
        std::printf("%s\n", qPrintable(url));
    }
    return 0;
}

int decode(const QString& Folder) {
    QElapsedTimer timer;
    timer.start();
    qint64 packed = 0;
    qint64 unpacked = 0;
    QDirIterator iterator(Folder, QDir::Files, QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        const QByteArray data = readAll(iterator.next());
        packed += data.size();
        unpacked += shared::decompress(data).size();
    }
    std::printf("decode: %lld -> %lld bytes in %.2f s\n", static_cast<long long>(packed),
                static_cast<long long>(unpacked), timer.elapsed() / 1000.0);
    return 0;
}

// What an update from Old to New has to fetch, worked out from the two documents alone: per
// file, the chunks whose content the old version of that file did not hold; a file with fewer
// than two chunks, or with nothing to reuse, is fetched whole.
int missing(const QString& NewDocument, const QString& OldDocument, const QUrl& BaseUrl) {
    const TPackageConfigurationReader now = readDocument(NewDocument, BaseUrl);
    const TPackageConfigurationReader before = readDocument(OldDocument, BaseUrl);
    std::map<QString, const TFileInPackage*> old;
    for (const TFileInPackage& file : before.files()) {
        old[file.LocalFile] = &file;
    }
    std::map<QString, TFileSize> pieces;
    const auto add = [&](const TChunkInPackage& Chunk) {
        pieces[Chunk.Url.toString()] = Chunk.PackedSize;
    };
    for (const TFileInPackage& file : now.files()) {
        const auto found = old.find(file.LocalFile);
        const TFileInPackage* previous = found == old.end() ? nullptr : found->second;
        if (previous != nullptr && previous->Hash == file.Hash && previous->Size == file.Size) {
            continue;
        }
        QSet<QByteArray> held;
        if (previous != nullptr && previous->Chunks.size() < 2) {
            held.insert(previous->Hash); // a small file is one chunk when it is cut
        } else if (previous != nullptr) {
            for (const std::int32_t index : previous->Chunks) {
                held.insert(before.chunks()[static_cast<std::size_t>(index)].UnpackedHash);
            }
        }
        std::vector<const TChunkInPackage*> needed;
        bool reused = false;
        for (const std::int32_t index : file.Chunks) {
            const TChunkInPackage& chunk = now.chunks()[static_cast<std::size_t>(index)];
            if (held.contains(chunk.UnpackedHash)) {
                reused = true;
            } else {
                needed.push_back(&chunk);
            }
        }
        if (file.Chunks.size() < 2 || !reused) {
            if (!file.WholeFile.Url.isEmpty() && file.Size > 0) {
                add(file.WholeFile);
                continue;
            }
            needed.clear();
            for (const std::int32_t index : file.Chunks) {
                needed.push_back(&now.chunks()[static_cast<std::size_t>(index)]);
            }
        }
        for (const TChunkInPackage* chunk : needed) {
            add(*chunk);
        }
    }
    TFileSize total = 0;
    for (const auto& [url, size] : pieces) {
        total += size;
    }
    TFileSize all = 0;
    for (const TChunkInPackage& chunk : now.chunks()) {
        all += chunk.PackedSize;
    }
    std::printf("missing: %zu pieces, %llu packed bytes of %llu\n", pieces.size(),
                static_cast<unsigned long long>(total), static_cast<unsigned long long>(all));
    return 0;
}

// A figure of this process's memory from /proc/self/status, in kB ("VmRSS", "VmHWM").
long long memoryFigure(const char* Name) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(Name) + ':')) {
            return line.mid(static_cast<int>(std::strlen(Name)) + 1)
                .trimmed()
                .split(' ')
                .first()
                .toLongLong();
        }
    }
    return -1;
}

// A package document of Chunks chunks of ChunkBytes, a hundred to a file, with random hashes.
// Scattered: each file takes every hundredth chunk of the table instead of a hundred neighbours.
QByteArray chunkDocument(int Chunks, bool Scattered = false, const QByteArray& ChunkBytes = "8388608") {
    std::mt19937_64 random(Chunks);
    QByteArray document = "{\"version\":\"1\",\"executable\":\"x\",\"parameters\":[],\"chunks\":[";
    for (int chunk = 0; chunk < Chunks; ++chunk) {
        QByteArray hash(32, Qt::Uninitialized);
        for (int byte = 0; byte < 32; byte += 8) {
            const std::uint64_t word = random();
            std::memcpy(hash.data() + byte, &word, 8);
        }
        document += (chunk ? "," : "") + QByteArray("{\"url\":\"c/") + hash.toHex() +
                    "\",\"packedsize\":" + ChunkBytes + ",\"unpack\":false,\"packedhash\":\"" + hash.toHex() +
                    "\",\"unpackedhash\":\"" + hash.toHex() + "\",\"unpackedsize\":" + ChunkBytes + "}";
    }
    document += "],\"files\":[";
    const int files = (Chunks + 99) / 100;
    for (int file = 0; file < files; ++file) {
        QByteArray indices;
        int count = 0;
        for (int chunk = 0; chunk < 100 && file * 100 + chunk < Chunks; ++chunk, ++count) {
            const int index = Scattered ? (chunk * files + file) % Chunks : file * 100 + chunk;
            indices += (chunk ? "," : "") + QByteArray::number(index);
        }
        document += (file ? "," : "") + QByteArray("{\"localfile\":\"data/file") + QByteArray::number(file) +
                    ".pak\",\"unpackedhash\":\"" + QByteArray(64, '0') +
                    "\",\"unpackedsize\":" + QByteArray::number(qint64(count) * ChunkBytes.toLongLong()) +
                    ",\"executable\":false,\"chunks\":[" + indices + "]}";
    }
    return document + "]}";
}

// The memory and time of the index of a sibling's contents when a run needs every one of Chunks
// chunks (100 per file) that an installed sibling describes in its marker; scattered, the run's
// files hold them in another order than the sibling's.
int index(int Chunks, bool Scattered) {
    QTemporaryDir launcher;
    QTemporaryDir sibling;
    writeAll(sibling.filePath(QStringLiteral("package.json")), chunkDocument(Chunks));
    const QByteArray document = chunkDocument(Chunks, Scattered);
    const TPackageConfigurationReader wanted(document, QByteArray(),
                                             QUrl(QStringLiteral("http://127.0.0.1/")),
                                             QUrl(QStringLiteral("http://127.0.0.1/")));
    TFileToDownloadVector files;
    for (const TFileInPackage& file : wanted.files()) {
        files.emplace_back(file, wanted.chunks());
        files.back().ChunksToDownload.resize(file.Chunks.size());
        std::iota(files.back().ChunksToDownload.begin(), files.back().ChunksToDownload.end(), 0);
    }
    const std::shared_ptr<TLauncherFilesystemHelper> fileSystem = benchFileSystem(launcher.path());
    // The peak is counted from here: writing 5 to clear_refs resets it to the present size.
    writeAll(QStringLiteral("/proc/self/clear_refs"), "5");
    const long long before = memoryFigure("VmRSS");
    QElapsedTimer timer;
    timer.start();
    const TSiblingChunkIndex built =
        TSiblingChunkIndex::build(*fileSystem, {{QStringLiteral("sibling"), sibling.path()}}, files);
    std::printf("index: %zu of %d contents found in %.2f s, %zu stretches, %zu bytes (%.1f bytes per "
                "content); peak growth while building %lld kB\n",
                built.contentCount(), Chunks, timer.elapsed() / 1000.0, built.spanCount(),
                built.memoryBytes(),
                double(built.memoryBytes()) / std::max<std::size_t>(1, built.contentCount()),
                memoryFigure("VmHWM") - before);
    return built.contentCount() == static_cast<std::size_t>(Chunks) ? 0 : 1;
}

// A package named "bench" for this system, offering Document, installed in Launcher's packages.
std::shared_ptr<TPackage> managedPackage(const QByteArray& Document, const QUrl& BaseUrl) {
    const QJsonObject build{{QStringLiteral("os"), QStringLiteral("linux")},
                            {QStringLiteral("architecture"), QStringLiteral("x86_64")}};
    auto package =
        std::make_shared<TPackage>(0,
                                   QJsonObject{{QStringLiteral("name"), QStringLiteral("Bench")},
                                               {QStringLiteral("directoryname"), QStringLiteral("bench")},
                                               {QStringLiteral("builds"), QJsonArray{build}}},
                                   QUrl());
    package->selectBuildForThisSystem()->Configuration =
        std::make_unique<TPackageConfigurationReader>(Document, QByteArray(), BaseUrl, BaseUrl);
    return package;
}

// A whole run as the launcher makes it, through the installation manager: markers, scan, download,
// verification and the full marker. The installation is moved into a launcher's package folder
// for the run (with Installed as its full marker) and back, without the markers, afterwards.
int managedRun(const QString& Document, const QUrl& BaseUrl, const QString& Installation,
               const QString& Installed) {
    QTemporaryDir launcher;
    const auto fileSystem = benchFileSystem(launcher.path());
    const std::shared_ptr<TPackage> package = managedPackage(readAll(Document), BaseUrl);
    const QString directory = fileSystem->packageDirectoryPath(QStringLiteral("bench"));
    fileSystem->packagesDirectory();
    if (!QDir().rename(Installation, directory) ||
        (!Installed.isEmpty() &&
         !writeAll(directory + QStringLiteral("/package.json"), readAll(Installed)))) {
        std::fprintf(stderr, "cannot move %s into the launcher\n", qPrintable(Installation));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    TStallWatch stalls;
    bool success = false;
    {
        TInstallationManager manager(nullptr, fileSystem);
        manager.setFunnelEventSink(nullptr);
        QObject::connect(&manager, &TInstallationManager::installationOrUpdateFinished,
                         [&success](const TPackageInstallation& Run) { success = Run.success(); });
        QObject::connect(&manager, &TInstallationManager::allStartedUpdatesFinished, &QCoreApplication::quit);
        manager.installOrUpdatePackage(package);
        if (!manager.installationsInProgress().empty()) {
            QCoreApplication::exec();
        }
    }
    std::printf("run: %s in %.2f s, longest event-loop stall %lld ms\n", success ? "success" : "FAILED",
                timer.elapsed() / 1000.0, static_cast<long long>(stalls.longestMs()));
    std::printf("run: GUI thread %s\n", qPrintable(stalls.threadTimes()));
    for (const char* marker : {"package.json", "partial-package.json", "assets.json"}) {
        QFile::remove(directory + QLatin1Char('/') + QLatin1String(marker));
    }
    return QDir().rename(directory, Installation) && success ? 0 : 1;
}

// The GUI thread's share of a package document of Chunks chunks installed as the full marker: the
// launcher's start (every package's status and figures), and the start of an update to another
// version until the run has read and written its markers (then it is stopped, before its scan).
int markers(int Chunks) {
    QTemporaryDir launcher;
    const auto fileSystem = benchFileSystem(launcher.path());
    // Chunks of 4 KiB: the update fits on the disk, so its start writes the partial marker too.
    const QByteArray installed = chunkDocument(Chunks, false, "4096");
    QByteArray offered = installed;
    offered.replace("{\"version\":\"1\"", "{\"version\":\"2\"");
    const std::shared_ptr<TPackage> package =
        managedPackage(offered, QUrl(QStringLiteral("http://127.0.0.1/")));
    const QString directory = fileSystem->packageDirectoryPath(QStringLiteral("bench"));
    fileSystem->packagesDirectory();
    writeAll(directory + QStringLiteral("/package.json"), installed);
    QElapsedTimer timer;
    timer.start();
    TInstallationManager manager(nullptr, fileSystem);
    manager.setFunnelEventSink(nullptr);
    std::printf("markers: %d chunks, %lld bytes; status at the start: %lld ms\n", Chunks,
                static_cast<long long>(installed.size()),
                static_cast<long long>(
                    (static_cast<void>(manager.determinePackageStatus(package)), timer.elapsed())));
    bool started = false;
    QObject::connect(&manager, &TInstallationManager::installationOrUpdateStarted, [&] {
        started = true;
        manager.stopAllRuns();
    });
    QObject::connect(&manager, &TInstallationManager::allStartedUpdatesFinished, &QCoreApplication::quit);
    timer.restart();
    TStallWatch stalls;
    manager.installOrUpdatePackage(package);
    // A launcher that reads its markers on the GUI thread may have ended the run already.
    if (!manager.installationsInProgress().empty()) {
        QCoreApplication::exec();
    }
    std::printf("markers: start of the update %s in %.2f s, longest event-loop stall %lld ms\n",
                started ? "made" : "NOT MADE", timer.elapsed() / 1000.0,
                static_cast<long long>(stalls.longestMs()));
    return started ? 0 : 1;
}

int freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        return 1;
    }
    std::printf("%d\n", probe.serverPort());
    return 0;
}

int usage() {
    std::fprintf(stderr, "usage: install_bench generate|generate-big|generate-small|mutate|share|install|"
                         "install-beside|run|index|markers|scan|verify|urls|decode|missing|free-port ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false\ndefault.debug=false"));
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        return usage();
    }
    const QString& command = arguments.first();
    const auto argument = [&](int Index) {
        return arguments.value(Index);
    };
    if (command == QLatin1String("generate") && arguments.size() == 4) {
        return generate(argument(1), argument(2).toLongLong(), argument(3).toULongLong());
    }
    if (command == QLatin1String("generate-big") && arguments.size() == 4) {
        return generateBig(argument(1), argument(2).toLongLong(), argument(3).toULongLong());
    }
    if (command == QLatin1String("generate-small") && arguments.size() == 4) {
        return generateSmall(argument(1), argument(2).toInt(), argument(3).toULongLong());
    }
    if (command == QLatin1String("mutate") && arguments.size() == 4) {
        return mutate(argument(1), argument(2), argument(3).toULongLong());
    }
    if (command == QLatin1String("install") && (arguments.size() == 4 || arguments.size() == 5)) {
        return install(argument(1), QUrl(argument(2)), argument(3), argument(4));
    }
    if (command == QLatin1String("run") && (arguments.size() == 4 || arguments.size() == 5)) {
        return managedRun(arguments[1], QUrl(arguments[2]), arguments[3], arguments.value(4));
    }
    if (command == QLatin1String("markers") && arguments.size() == 2) {
        return markers(arguments[1].toInt());
    }
    if (command == QLatin1String("install-beside") && arguments.size() == 5) {
        return install(argument(1), QUrl(argument(2)), argument(3), QString(), argument(4));
    }
    if (command == QLatin1String("share") && arguments.size() == 5) {
        return share(argument(1), argument(2), argument(3).toULongLong(), argument(4).toInt());
    }
    if (command == QLatin1String("index") && (arguments.size() == 2 || arguments.size() == 3)) {
        return index(argument(1).toInt(), argument(2) == QLatin1String("scattered"));
    }
    if (command == QLatin1String("scan") && arguments.size() == 3) {
        return scan(argument(1), argument(2));
    }
    if (command == QLatin1String("verify") && arguments.size() == 3) {
        return verify(argument(1), argument(2));
    }
    if (command == QLatin1String("urls") && arguments.size() == 3) {
        return urls(argument(1), QUrl(argument(2)));
    }
    if (command == QLatin1String("decode") && arguments.size() == 2) {
        return decode(argument(1));
    }
    if (command == QLatin1String("missing") && arguments.size() == 4) {
        return missing(argument(1), argument(2), QUrl(argument(3)));
    }
    if (command == QLatin1String("free-port")) {
        return freePort();
    }
    return usage();
}
