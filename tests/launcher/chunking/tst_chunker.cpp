#include "launcher/chunking/chunker.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QtTest>

#include <cstring>
#include <random>
#include <vector>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;
using TBytes = std::vector<unsigned char>;
using TLengths = std::vector<quint64>;

// Reference cut rule: none below 4 MiB, then where the hash's 22 low bits clear, 16 MiB at most.
std::uint64_t referenceLength(const unsigned char* Data, std::uint64_t Available) {
    std::uint32_t Hash = 0;
    for (std::uint64_t i = 4 * MiB; i < std::min(Available, 16 * MiB); ++i) {
        Hash = (Hash >> 1) + chunkGearTable()[Data[i]];
        if ((Hash & 0x003FFFFFu) == 0) {
            return i + 1;
        }
    }
    return Available <= 4 * MiB ? Available : std::min(Available, 16 * MiB);
}

// Seeded bytes; with Zeros, random and long zero runs alternate so cuts fall at many offsets.
TBytes seededData(std::uint64_t Size, std::uint64_t Seed, bool Zeros = false) {
    TBytes Data(Size, 0);
    std::mt19937_64 Random(Seed);
    for (std::uint64_t Position = 0; Position < Size;) {
        const std::uint64_t Run = Zeros ? 1 * MiB + Random() % (40 * MiB) : Size;
        for (std::uint64_t i = Position; i < std::min(Size, Position + Run); ++i) {
            Data[i] = static_cast<unsigned char>(Random() >> 56);
        }
        Position += 2 * Run;
    }
    return Data;
}

bool writeFile(const QString& Path, const TBytes& Data) {
    return writeBytes(Path, QByteArray::fromRawData(reinterpret_cast<const char*>(Data.data()),
                                                    static_cast<int>(Data.size())));
}

// Streams the file; a chunk without the bytes of Expected at its offset adds a length 0.
TLengths cutFile(const QString& Path, const unsigned char* Expected) {
    TLengths Lengths;
    std::uint64_t Offset = 0;
    chunkFile(Path.toStdString(), [&](unsigned char* Chunk, std::uint64_t Length) {
        if (std::memcmp(Chunk, Expected + Offset, Length) != 0) {
            Lengths.push_back(0);
        }
        Lengths.push_back(Length);
        Offset += Length;
    });
    return Lengths;
}

} // namespace

class TChunkerTest : public QObject {
    Q_OBJECT

private slots:
    void cutRuleMatchesTheReference() {
        // The gear table is shared with the content server: any change moves every cut.
        QByteArray Gear;
        for (int i = 0; i < 1024; ++i) {
            Gear += static_cast<char>((chunkGearTable()[i / 4] >> (8 * (i % 4))) & 0xff);
        }
        QCOMPARE(sha256(Gear).toHex(),
                 QByteArray("d499f6cdb238b999913ce6bc226452991b403b71cb0b144ca82ecf6e2ce2032a"));
        int Hits = 0;
        for (std::uint64_t Seed = 1; Seed <= 6; ++Seed) {
            const TBytes Data = seededData(16 * MiB + 1000, Seed);
            const std::uint64_t Cut = referenceLength(Data.data(), Data.size());
            Hits += Cut < 16 * MiB ? 1 : 0;
            // Content that ends just after or just before the cut byte, and just after the minimum.
            for (const std::uint64_t Available : {std::uint64_t{Data.size()}, Cut, Cut - 1, 4 * MiB + 1}) {
                QCOMPARE(findChunkLength(Data.data(), Available), referenceLength(Data.data(), Available));
            }
        }
        QVERIFY(Hits >= 3);
        // Over zeros the hash settles where its 22 low bits never clear: only the size bounds cut.
        const TBytes Zeros(16 * MiB + 1, 0);
        for (const std::uint64_t Available : std::initializer_list<std::uint64_t>{
                 0, 1, 4 * MiB, 4 * MiB + 1, 16 * MiB - 1, 16 * MiB, 16 * MiB + 1}) {
            QCOMPARE(findChunkLength(Zeros.data(), Available), std::min(Available, 16 * MiB));
        }
        // Three bytes right after the minimum whose hash clears the bits: the cut follows them.
        const std::uint32_t* G = chunkGearTable();
        std::uint32_t T = 0;
        while (T < (1u << 24) &&
               (((((G[T & 255] >> 1) + G[(T >> 8) & 255]) >> 1) + G[T >> 16]) & 0x3FFFFFu) != 0) {
            ++T;
        }
        TBytes Early(Zeros.begin(), Zeros.end());
        for (std::uint64_t i = 0; i < 3; ++i) {
            Early[4 * MiB + i] = static_cast<unsigned char>(T >> (8 * i));
        }
        QCOMPARE(findChunkLength(Early.data(), Early.size()), referenceLength(Early.data(), Early.size()));
        QVERIFY(referenceLength(Early.data(), Early.size()) <= 4 * MiB + 3);
    }

    void streamingEqualsCuttingInMemory() {
        QTemporaryDir Dir;
        using namespace chunking;
        // Around the read block, buffer end, second refill, and empty; largest first.
        const std::uint64_t R = ReadBlockSize;
        const TBytes Data = seededData(2 * R + MaximumSize + 5, 31, true);
        const QString Path = Dir.filePath(u"big.bin"_qs);
        QVERIFY(writeFile(Path, Data));
        for (const std::uint64_t Size :
             {2 * R + MaximumSize + 5, 2 * R + 1, BufferSize + 1, BufferSize - 1, R + MinimumSize + 1, R + 1,
              R - 1, MaximumSize + MinimumSize + 1, std::uint64_t{0}}) {
            QVERIFY(QFile(Path).resize(static_cast<qint64>(Size)));
            TLengths InMemory;
            for (std::uint64_t Offset = 0; Offset < Size; Offset += InMemory.back()) {
                InMemory.push_back(findChunkLength(Data.data() + Offset, Size - Offset));
            }
            QVERIFY2(cutFile(Path, Data.data()) == InMemory, qPrintable(QString::number(Size)));
        }
    }
};

LAUNCHER_TEST(TChunkerTest)
#include "tst_chunker.moc"
