#include "launcher/chunking/chunker.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

struct TCut {
    std::uint64_t Offset;
    std::uint64_t Length;
    bool operator==(const TCut& Other) const { return Offset == Other.Offset && Length == Other.Length; }
};

// Random bytes interleaved with long zero runs (which force maximum-size
// chunks), so that chunk boundaries fall at many different buffer positions.
std::vector<unsigned char> generateMixedData(std::uint64_t Size, std::uint64_t Seed) {
    std::vector<unsigned char> Data(Size, 0);
    std::mt19937_64 Random(Seed);
    std::uint64_t Position = 0;
    bool Zeros = false;
    while (Position < Size) {
        const std::uint64_t Run = std::min<std::uint64_t>(Size - Position, 1 * MiB + Random() % (40 * MiB));
        if (!Zeros) {
            for (std::uint64_t i = 0; i + 8 <= Run; i += 8) {
                const std::uint64_t Word = Random();
                std::memcpy(Data.data() + Position + i, &Word, 8);
            }
        }
        Position += Run;
        Zeros = !Zeros;
    }
    return Data;
}

std::vector<unsigned char> generateRandomData(std::uint64_t Size, std::uint64_t Seed) {
    std::vector<unsigned char> Data(Size);
    std::mt19937_64 Random(Seed);
    for (auto& Byte : Data) {
        Byte = static_cast<unsigned char>(Random() >> 56);
    }
    return Data;
}

// Cutting the whole content held in memory: the reference the streaming must equal.
std::vector<TCut> cutInMemory(const unsigned char* Data, std::uint64_t Size) {
    std::vector<TCut> Cuts;
    for (std::uint64_t Offset = 0; Offset < Size;) {
        const std::uint64_t Length = findChunkLength(Data + Offset, Size - Offset);
        Cuts.push_back({Offset, Length});
        Offset += Length;
    }
    return Cuts;
}

// Streams the file and checks that every chunk carries the expected bytes.
std::vector<TCut> cutFile(const QString& Path, const unsigned char* Expected = nullptr) {
    std::vector<TCut> Cuts;
    std::uint64_t Offset = 0;
    bool ContentMatches = true;
    chunkFile(Path.toStdString(), [&](unsigned char* Chunk, std::uint64_t Length) {
        if (Expected && std::memcmp(Chunk, Expected + Offset, Length) != 0) {
            ContentMatches = false;
        }
        Cuts.push_back({Offset, Length});
        Offset += Length;
    });
    if (!ContentMatches) {
        throw std::runtime_error("chunk bytes differ from the file");
    }
    return Cuts;
}

void writeFile(const QString& Path, const unsigned char* Data, std::uint64_t Size) {
    QFile File(Path);
    QVERIFY(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(File.write(reinterpret_cast<const char*>(Data), static_cast<qint64>(Size)),
             static_cast<qint64>(Size));
}

// An independent reading of the rule: the hash after each byte from the minimum
// size on; returns the index of the first byte after which the loose mask is all
// zero, or End when there is none.
std::uint64_t firstMaskHit(const unsigned char* Data, std::uint64_t End) {
    std::uint32_t Hash = 0;
    for (std::uint64_t i = chunking::MinimumSize; i < End; ++i) {
        Hash = (Hash >> 1) + chunkGearTable()[Data[i]];
        if ((Hash & 0x003FFFFFu) == 0) {
            return i;
        }
    }
    return End;
}

} // namespace

class TChunkerTest : public QObject {
    Q_OBJECT

private slots:
    void maskBitsAndTable() {
        QCOMPARE(chunkMaskBits(chunking::AverageSize), 23);
        QCOMPARE(chunkMaskBits(256), 8);
        QCOMPARE(chunkMaskBits(std::uint64_t{1} << 28), 28);
        // 181 is below 2^7.5, so it rounds to 7 bits; 2^28.5 rounds to 29.
        try {
            chunkMaskBits(181);
            QFAIL("expected std::invalid_argument");
        } catch (const std::invalid_argument& Error) {
            QCOMPARE(QString::fromUtf8(Error.what()), u"average must be at least 8 bits"_qs);
        }
        try {
            chunkMaskBits(std::uint64_t{380000000});
            QFAIL("expected std::invalid_argument");
        } catch (const std::invalid_argument& Error) {
            QCOMPARE(QString::fromUtf8(Error.what()), u"average must be at most 28 bits"_qs);
        }

        QCOMPARE(chunking::MinimumSize, std::uint64_t{0x400000});
        QCOMPARE(chunking::NormalPoint, std::uint64_t{0x200000});
        QCOMPARE(chunking::MaximumSize, std::uint64_t{0x1000000});
        QCOMPARE(chunking::ReadBlockSize, std::uint64_t{0x8000000});
        QCOMPARE(chunking::BufferSize, std::uint64_t{0x9000000});

        const std::uint32_t* Gear = chunkGearTable();
        for (int i = 0; i < 256; ++i) {
            QVERIFY2(Gear[i] < 0x80000000u, qPrintable(QString::number(i)));
        }
        QCOMPARE(Gear[0], 0x5c95c078u);
        QCOMPARE(Gear[7], 0x44cb738bu);
        QCOMPARE(Gear[100], 0x15fb8c06u);
        QCOMPARE(Gear[128], 0x482dc43fu);
        QCOMPARE(Gear[192], 0x161d1131u);
        QCOMPARE(Gear[200], 0x3f3b1c28u);
        QCOMPARE(Gear[255], 0x32e8ea7eu);
    }

    void cutRuleBoundaries() {
        const std::vector<unsigned char> Zeros(chunking::MaximumSize + 2, 0);
        QCOMPARE(findChunkLength(Zeros.data(), 0), std::uint64_t{0});
        QCOMPARE(findChunkLength(Zeros.data(), 1), std::uint64_t{1});
        QCOMPARE(findChunkLength(Zeros.data(), 4194303), std::uint64_t{4194303});
        QCOMPARE(findChunkLength(Zeros.data(), 4194304), std::uint64_t{4194304});
        QCOMPARE(findChunkLength(Zeros.data(), 4194305), std::uint64_t{4194305});
        // Over zeros the hash settles at 0xb92b80ef, whose 22 low bits never vanish.
        QCOMPARE(findChunkLength(Zeros.data(), 16777215), std::uint64_t{16777215});
        QCOMPARE(findChunkLength(Zeros.data(), 16777216), std::uint64_t{16777216});
        QCOMPARE(findChunkLength(Zeros.data(), 16777217), std::uint64_t{16777216});
        QCOMPARE(findChunkLength(Zeros.data(), 16777218), std::uint64_t{16777216});
        QCOMPARE((0xb92b80efu >> 1) + chunkGearTable()[0], 0xb92b80efu);

        // The single byte after the minimum is hashed, but the content ends there
        // whatever its value.
        std::vector<unsigned char> Data(4194305, 0);
        for (int Byte = 0; Byte < 256; ++Byte) {
            Data.back() = static_cast<unsigned char>(Byte);
            QCOMPARE(findChunkLength(Data.data(), Data.size()), std::uint64_t{4194305});
        }
    }

    void cutIncludesTheByteThatMatched() {
        int Checked = 0;
        for (std::uint64_t Seed = 1; Seed <= 6; ++Seed) {
            const auto Data = generateRandomData(chunking::MaximumSize + 1000, Seed);
            const std::uint64_t Hit = firstMaskHit(Data.data(), chunking::MaximumSize);
            if (Hit == chunking::MaximumSize) {
                QCOMPARE(findChunkLength(Data.data(), Data.size()), chunking::MaximumSize);
                continue;
            }
            const std::uint64_t K = Hit - chunking::MinimumSize;
            QCOMPARE(findChunkLength(Data.data(), Data.size()), chunking::MinimumSize + K + 1);
            // Content that ends exactly after the matching byte, or one byte
            // before it, cuts at its end.
            QCOMPARE(findChunkLength(Data.data(), Hit + 1), Hit + 1);
            QCOMPARE(findChunkLength(Data.data(), Hit), Hit);
            ++Checked;
        }
        QVERIFY(Checked >= 3);
    }

    void bytesBeforeMinimumAreNotHashed() {
        auto Data = generateRandomData(3 * chunking::MaximumSize, 11);
        const std::uint64_t Length = findChunkLength(Data.data(), Data.size());
        QVERIFY(Length > chunking::MinimumSize);
        std::fill(Data.begin(), Data.begin() + chunking::MinimumSize, 0x5a);
        QCOMPARE(findChunkLength(Data.data(), Data.size()), Length);
        // The hash starts from zero for every chunk: the next chunk is cut the
        // same way whatever preceded it.
        const std::uint64_t Second = findChunkLength(Data.data() + Length, Data.size() - Length);
        std::vector<unsigned char> Rest(Data.begin() + Length, Data.end());
        QCOMPARE(findChunkLength(Rest.data(), Rest.size()), Second);
    }

    void chunkSizesStayInBounds() {
        const auto Data = generateMixedData(200 * MiB, 21);
        const auto Cuts = cutInMemory(Data.data(), Data.size());
        QVERIFY(Cuts.size() > 10);
        bool SawMaximum = false;
        bool SawShorter = false;
        for (std::size_t i = 0; i + 1 < Cuts.size(); ++i) {
            QVERIFY(Cuts[i].Length > chunking::MinimumSize);
            QVERIFY(Cuts[i].Length <= chunking::MaximumSize);
            SawMaximum = SawMaximum || Cuts[i].Length == chunking::MaximumSize;
            SawShorter = SawShorter || Cuts[i].Length < chunking::MaximumSize;
        }
        QVERIFY(SawMaximum && SawShorter);
        QCOMPARE(Cuts.back().Offset + Cuts.back().Length, std::uint64_t{Data.size()});
    }

    void fileEdgeCases() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        const QString Path = Dir.filePath(u"file.bin"_qs);
        struct TCase {
            std::uint64_t Size;
            std::vector<std::uint64_t> Lengths;
        };
        const std::vector<TCase> Cases = {
            {0, {}},
            {1, {1}},
            {4194304, {4194304}},
            {4194305, {4194305}},
            {16777216, {16777216}},
            {16777217, {16777216, 1}},
            {33554433, {16777216, 16777216, 1}},
        };
        for (const TCase& Case : Cases) {
            const std::vector<unsigned char> Zeros(Case.Size, 0);
            writeFile(Path, Zeros.data(), Case.Size);
            std::vector<std::uint64_t> Lengths;
            for (const TCut& Cut : cutFile(Path, Zeros.data())) {
                Lengths.push_back(Cut.Length);
            }
            QVERIFY2(Lengths == Case.Lengths, qPrintable(QString::number(Case.Size)));
        }
    }

    void unreadableInputsYieldNoChunk() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        int Calls = 0;
        const TChunkCallback Count = [&Calls](unsigned char*, std::uint64_t) {
            ++Calls;
        };
        chunkFile(Dir.filePath(u"missing.bin"_qs).toStdString(), Count);
        chunkFile(std::string(), Count);
        // A directory opens but every read fails: that ends the stream like the
        // end of a file.
        chunkFile(Dir.path().toStdString(), Count);
        QCOMPARE(Calls, 0);
    }

    void emptyCallbackIsAnError() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        const QString Path = Dir.filePath(u"one.bin"_qs);
        const unsigned char Byte = 1;
        writeFile(Path, &Byte, 1);
        QVERIFY_EXCEPTION_THROWN(chunkFile(Path.toStdString(), TChunkCallback()), std::bad_function_call);
    }

    void streamingEqualsCuttingInMemory() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        const QString Path = Dir.filePath(u"big.bin"_qs);
        using namespace chunking;
        // Sizes around the read block, the buffer end and the second refill,
        // largest first so one file can be shrunk from size to size.
        const std::vector<std::uint64_t> Sizes = {
            2 * ReadBlockSize + MaximumSize + 5,
            2 * ReadBlockSize + 1,
            2 * ReadBlockSize,
            BufferSize + 1,
            BufferSize,
            BufferSize - 1,
            ReadBlockSize + MinimumSize + 1,
            ReadBlockSize + 1,
            ReadBlockSize,
            ReadBlockSize - 1,
            ReadBlockSize - MaximumSize,
            MaximumSize + MinimumSize + 1,
            MaximumSize + 1,
            MinimumSize + 1,
            4097,
        };
        for (std::uint64_t Seed : {31, 32}) {
            const auto Data = generateMixedData(Sizes.front(), Seed);
            writeFile(Path, Data.data(), Data.size());
            for (std::uint64_t Size : Sizes) {
                QFile File(Path);
                QVERIFY(File.resize(static_cast<qint64>(Size)));
                const auto Streamed = cutFile(Path, Data.data());
                const auto InMemory = cutInMemory(Data.data(), Size);
                QVERIFY2(Streamed == InMemory, qPrintable(u"size %1 seed %2"_qs.arg(Size).arg(Seed)));
            }
        }
    }
};

LAUNCHER_TEST(TChunkerTest)
#include "tst_chunker.moc"
