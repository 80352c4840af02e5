// Throughput of the launcher's chunker and hashing, and the cost of the
// packing methods on data of different compressibility.
//
//   chunker_bench generate <folder> <total bytes> <seed>
//   chunker_bench chunk <folder>
//   chunker_bench packing <seed>

#include "launcher/chunking/chunker.h"
#include "shared/container/container.h"
#include "shared/crypto/sha256.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;

const char* const Words[] = {"vantor ", "online ", "quorvane ", "launcher ", "texture ", "shader ",
                             "level ",  "sound\n", "model ",    "terrain ",  "npc ",     "quest\n"};

void appendNoise(QByteArray& Data, qint64 Size, std::mt19937_64& Random) {
    const qint64 Start = Data.size();
    Data.resize(static_cast<int>(Start + Size));
    for (qint64 i = 0; i < Size; i += 8) {
        const std::uint64_t Word = Random();
        std::memcpy(Data.data() + Start + i, &Word, static_cast<std::size_t>(std::min<qint64>(8, Size - i)));
    }
}

void appendText(QByteArray& Data, qint64 Size, std::mt19937_64& Random) {
    const qint64 End = Data.size() + Size;
    while (Data.size() < End) {
        Data.append(Words[Random() % 12]);
    }
    Data.truncate(static_cast<int>(End));
}

// Records of a game-data-like table: a repeating layout with a few random fields.
void appendRecords(QByteArray& Data, qint64 Size, std::mt19937_64& Random) {
    const qint64 End = Data.size() + Size;
    char Record[64];
    std::memset(Record, 0x20, sizeof(Record));
    while (Data.size() < End) {
        const std::uint64_t Value = Random();
        std::memcpy(Record + 8, &Value, 4);
        Record[40 + Random() % 16] = static_cast<char>(Random());
        Data.append(Record, sizeof(Record));
    }
    Data.truncate(static_cast<int>(End));
}

// Game builds are mostly already compressed data (textures, audio, video),
// some text and some tables; each file is of one kind.
QByteArray fileContent(qint64 Size, std::mt19937_64& Random) {
    QByteArray Data;
    Data.reserve(static_cast<int>(Size));
    const int Kind = static_cast<int>(Random() % 20);
    if (Kind < 11) {
        appendNoise(Data, Size, Random);
    } else if (Kind < 16) {
        appendText(Data, Size, Random);
    } else {
        appendRecords(Data, Size, Random);
    }
    return Data;
}

qint64 fileSize(std::mt19937_64& Random) {
    const int Category = static_cast<int>(Random() % 100);
    if (Category < 70) {
        return 1 * KiB + static_cast<qint64>(Random() % (2 * MiB));
    }
    if (Category < 95) {
        return 2 * MiB + static_cast<qint64>(Random() % (30 * MiB));
    }
    return 64 * MiB + static_cast<qint64>(Random() % (136 * MiB));
}

int generate(const QString& Folder, qint64 Total, std::uint64_t Seed) {
    std::mt19937_64 Random(Seed);
    qint64 Written = 0;
    int Files = 0;
    while (Written < Total) {
        const qint64 Size = std::min(fileSize(Random), Total - Written);
        const QString Path = QStringLiteral("%1/dir%2/file%3.bin").arg(Folder).arg(Files % 17).arg(Files);
        QDir().mkpath(QFileInfo(Path).absolutePath());
        QFile File(Path);
        if (!File.open(QIODevice::WriteOnly) || File.write(fileContent(Size, Random)) != Size) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
            return 1;
        }
        Written += Size;
        ++Files;
    }
    std::printf("generated %d files, %lld bytes\n", Files, static_cast<long long>(Written));
    return 0;
}

QStringList listFiles(const QString& Folder) {
    QStringList Files;
    QDirIterator Iterator(Folder, QDir::Files, QDirIterator::Subdirectories);
    while (Iterator.hasNext()) {
        Files.append(Iterator.next());
    }
    Files.sort();
    return Files;
}

void report(const char* What, qint64 Bytes, qint64 Nanoseconds) {
    const double Seconds = static_cast<double>(Nanoseconds) / 1e9;
    std::printf("%-34s %8.2f s  %8.1f MB/s\n", What, Seconds, static_cast<double>(Bytes) / 1e6 / Seconds);
}

int chunk(const QString& Folder) {
    const QStringList Files = listFiles(Folder);
    qint64 Bytes = 0;
    qint64 Chunks = 0;
    QElapsedTimer Timer;

    Timer.start();
    for (const QString& Path : Files) {
        mirrel::launcher::chunkFile(Path.toStdString(), [&](unsigned char*, std::uint64_t Length) {
            Bytes += static_cast<qint64>(Length);
            ++Chunks;
        });
    }
    const qint64 ChunkOnly = Timer.nsecsElapsed();

    Timer.start();
    for (const QString& Path : Files) {
        mirrel::launcher::chunkFile(Path.toStdString(), [](unsigned char* Data, std::uint64_t Length) {
            const QByteArray Digest =
                shared::TSha256::hash(reinterpret_cast<const char*>(Data), static_cast<qint64>(Length));
            (void)Digest;
        });
    }
    const qint64 ChunkAndHash = Timer.nsecsElapsed();

    Timer.start();
    std::vector<char> Buffer(static_cast<std::size_t>(MiB));
    for (const QString& Path : Files) {
        QFile File(Path);
        if (!File.open(QIODevice::ReadOnly)) {
            return 1;
        }
        shared::TSha256 Hash;
        for (qint64 Read; (Read = File.read(Buffer.data(), MiB)) > 0;) {
            Hash.addData(Buffer.data(), Read);
        }
        (void)Hash.result();
    }
    const qint64 HashOnly = Timer.nsecsElapsed();

    std::printf("%d files, %lld bytes, %lld chunks (one thread)\n", static_cast<int>(Files.size()),
                static_cast<long long>(Bytes), static_cast<long long>(Chunks));
    report("chunker only", Bytes, ChunkOnly);
    report("chunker + SHA-256 per chunk", Bytes, ChunkAndHash);
    report("SHA-256 of whole files", Bytes, HashOnly);
    std::printf("chunk+hash seconds: %.3f\n", static_cast<double>(ChunkAndHash) / 1e9);
    return 0;
}

// 4 MiB chunks in which a share of the 4 KiB blocks is
// text and the rest noise: how much each method saves and what unpacking costs.
int packing(std::uint64_t Seed) {
    std::printf("%-6s %-7s %9s %11s %12s\n", "text", "method", "saving", "pack MB/s", "unpack MB/s");
    for (const double TextShare : {0.0, 0.03, 0.06, 0.1, 0.25, 0.5, 1.0}) {
        std::mt19937_64 Random(Seed);
        QByteArray Chunk;
        Chunk.reserve(static_cast<int>(4 * MiB));
        std::bernoulli_distribution IsText(TextShare);
        while (Chunk.size() < 4 * MiB) {
            if (IsText(Random)) {
                appendText(Chunk, 4 * KiB, Random);
            } else {
                appendNoise(Chunk, 4 * KiB, Random);
            }
        }
        for (const int Method : {0, 3, 4, 5}) {
            QElapsedTimer Timer;
            Timer.start();
            const QByteArray Packed = shared::compress(Method, Chunk);
            const double PackSeconds = static_cast<double>(Timer.nsecsElapsed()) / 1e9;
            Timer.start();
            const int Rounds = Method == 0 ? 20 : 3;
            for (int i = 0; i < Rounds; ++i) {
                if (shared::decompress(Packed).size() != Chunk.size()) {
                    std::fprintf(stderr, "round trip failed\n");
                    return 1;
                }
            }
            const double UnpackSeconds = static_cast<double>(Timer.nsecsElapsed()) / 1e9 / Rounds;
            const double Saving = 100.0 * (1.0 - static_cast<double>(Packed.size()) / Chunk.size());
            std::printf("%5.0f%% %-7d %8.2f%% %11.1f %12.1f\n", TextShare * 100, Method, Saving,
                        Chunk.size() / 1e6 / PackSeconds, Chunk.size() / 1e6 / UnpackSeconds);
            std::fflush(stdout);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const QString Mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (Mode == QLatin1String("generate") && argc == 5) {
        return generate(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong(),
                        QByteArray(argv[4]).toULongLong());
    }
    if (Mode == QLatin1String("chunk") && argc == 3) {
        return chunk(QString::fromLocal8Bit(argv[2]));
    }
    if (Mode == QLatin1String("packing") && argc == 3) {
        return packing(QByteArray(argv[2]).toULongLong());
    }
    std::fprintf(stderr,
                 "usage: chunker_bench generate <folder> <bytes> <seed> | chunk <folder> | packing <seed>\n");
    return 2;
}
