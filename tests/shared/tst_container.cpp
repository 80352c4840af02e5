#include "shared/container/container.h"
#include "shared/container/containerheader.h"
#include "shared/container/decompressionerror.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <cstring>
#include <optional>
#include <random>
#include <stdexcept>

#include <sys/mman.h>
#include <unistd.h>

using namespace shared;
using testsupport::randomBytes;
using testsupport::operator""_qs;

namespace {

const QList<int> EncodableMethods = {CompressionStored, CompressionDeflate, CompressionLzip, CompressionLzma,
                                     CompressionLzmaAlternative};

// What a decode that fails gives in the tables.
const QByteArray Fails("<fails>");

bool isLzma(int method) {
    return method == CompressionLzma || method == CompressionLzmaAlternative;
}

// Text-like data that compresses well, like most game files do.
QByteArray textBytes(int length, unsigned seed) {
    static const char* const words[] = {"mesh ", "texture ", "vantor ", "quest\n", "0.0.12 ", "{\"id\": 7} "};
    std::mt19937 generator(seed);
    QByteArray data;
    while (data.size() < length)
        data.append(words[generator() % 6]);
    return data.left(length);
}

QByteArray container(int method, quint64 unpackedLength, const QByteArray& payload) {
    QByteArray out;
    appendContainerHeader(out, method, unpackedLength, quint64(payload.size()));
    return out + payload;
}

TContainerHeader headerOf(const QByteArray& input) {
    TContainerHeader header;
    readContainerHeader(input.constData(), size_t(input.size()), header);
    return header;
}

// Rebuilds a container around (the first payloadBytes of) its payload, with a length of our choosing.
QByteArray rewrap(const QByteArray& original, quint64 unpackedLength, int payloadBytes = -1) {
    const TContainerHeader header = headerOf(original);
    return container(header.method, unpackedLength, original.mid(int(header.payloadOffset), payloadBytes));
}

// Runs check on a copy ending at an inaccessible page: a read past the end crashes.
template <typename TCheck>
auto fenced(const QByteArray& bytes, TCheck check) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t dataLength = (size_t(bytes.size()) + page - 1) / page * page;
    auto* mapping = static_cast<char*>(
        mmap(nullptr, dataLength + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(mapping + dataLength, page, PROT_NONE);
    char* start = mapping + dataLength - size_t(bytes.size());
    std::memcpy(start, bytes.constData(), size_t(bytes.size()));
    const auto result = check(QByteArray::fromRawData(start, bytes.size()));
    munmap(mapping, dataLength + page);
    return result;
}

// The strict decode of a fenced copy, after checking that both lenient ones agree.
std::optional<QByteArray> decodeFenced(const QByteArray& input) {
    return fenced(input, [&input](const QByteArray& bytes) {
        std::optional<QByteArray> strict;
        try {
            strict = decompress(bytes);
            strict->detach();
        } catch (const TDecompressionError& error) {
            if (QByteArray(error.what()) != "Invalid input data could not be decompressed")
                throw std::logic_error(error.what());
        }
        QByteArray lenient;
        const bool lenientOk = unpack(lenient, bytes);
        lenient.detach();
        std::string lenientStd;
        const bool lenientStdOk = unpack(lenientStd, input.toStdString());
        TContainerHeader header;
        const bool decoded = strict && readContainerHeader(input.constData(), size_t(input.size()), header) !=
                                           EContainerHeaderStatus::NotAContainer;
        if (lenientOk != decoded || lenientStdOk != decoded || lenient != (decoded ? *strict : input) ||
            QByteArray::fromStdString(lenientStd) != lenient)
            throw std::logic_error("the lenient decoders disagree with the strict one");
        return strict;
    });
}

QByteArray runTool(const QString& name, const QStringList& arguments, const QByteArray& input) {
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        qFatal("the test needs '%s' (scripts/install-dependencies.sh installs it)", qPrintable(name));
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput();
}

} // namespace

class TestContainer : public QObject {
    Q_OBJECT

private slots:
    void decoding_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray abc("abc");
        // Headers: magic after zeros, method id up to 23, two varints (at most ten bytes), payload inside.
        const QByteArray stored("p\0", 2);
        for (const QByteArray& plain : {QByteArray(), QByteArray(9, '\0'), QByteArray("p"),
                                        QByteArray("plain text"), QByteArray("p\x18\x03\003abc", 7)})
            QTest::addRow("not a container: %s", plain.toHex().constData()) << plain << plain;
        // Three, were the bit beyond 64 dropped.
        QTest::newRow("varint over 64 bits")
            << stored + "\x83" + QByteArray(8, '\x80') + "\x02\003abc" << Fails;
        QTest::newRow("eleven-byte varint") << stored + QByteArray(10, '\x80') + "\x03\003abc" << Fails;
        QTest::newRow("header ends in varint") << QByteArray("p\x00\x85", 3) << Fails;
        QTest::newRow("packed length missing") << QByteArray("p\x00\x05", 3) << Fails;
        QTest::newRow("trailing bytes") << QByteArray("p\0\3\3abcdef", 10) << QByteArray("abc");
        QTest::newRow("stored behind zeros") << QByteArray("\0\0\0p\0\3\3abc", 10) << abc;
        QTest::newRow("stored, shorter than announced") << container(0, 9, "abcde") << QByteArray("abcde");
        QTest::newRow("stored, longer than announced") << container(0, 2, "abcde") << Fails;
        QTest::newRow("packed beyond input") << QByteArray("p\0\3\4abc", 7) << Fails;
        for (int method = 0; method <= MaxContainerMethodId; ++method) {
            if (!EncodableMethods.contains(method))
                QTest::addRow("no decoder for %d", method) << container(method, 3, abc) << Fails;
        }
        const QByteArray data = textBytes(50000, 51u);
        for (int method : EncodableMethods) {
            for (const QByteArray& plain :
                 {QByteArray(1, '\0'), randomBytes(65537, 2u), textBytes(700 * 1024, 3u)})
                QTest::addRow("%d: round trip of %d bytes", method, plain.size())
                    << compress(method, plain) << plain;
            const QByteArray packed = compress(method, data);
            const QByteArray small = compress(method, "data");
            QTest::addRow("%d: zero unpacked length", method) << rewrap(small, 0) << Fails;
            QTest::addRow("%d: empty payload", method) << rewrap(small, 4, 0) << Fails;
            // Claims no QByteArray can hold: a failed decode, not a crash.
            for (quint64 claim : {1ull << 60, ~0ull, 1ull << 31, 0x7FFFFFFFull})
                QTest::addRow("%d: claims %llu", method, claim) << rewrap(packed, claim) << Fails;
            // Longer than the data: what the stream holds comes out.
            QTest::addRow("%d: claims more", method) << rewrap(packed, quint64(data.size()) + 100000) << data;
            // Shorter: fails, except LZMA, which gives exactly that many bytes.
            QTest::addRow("%d: claims less", method)
                << rewrap(packed, 1000) << (isLzma(method) ? data.left(1000) : Fails);
        }
        // Any LZMA dictionary claim up to 4 GiB: same output, no window larger than it.
        QByteArray lzma = compress(CompressionLzma, data);
        const int properties = int(headerOf(lzma).payloadOffset);
        for (const char* claim : {"\xFF\xFF\xFF\xFF", "\x00\x00\x00\x80", "\xA0\x86\x01\x00"}) {
            std::memcpy(lzma.data() + properties + 1, claim, 4);
            QTest::addRow("LZMA dictionary %s", QByteArray(claim, 4).toHex().constData()) << lzma << data;
        }
        lzma[properties] = char(225);
        QTest::newRow("LZMA properties out of range") << lzma << Fails;
        QTest::newRow("LZMA too short for its properties")
            << container(CompressionLzma, 5, QByteArray(12, '\x5D')) << Fails;

        // Payloads of other encoders, so ours cannot agree with our decoder on a mistake.
        const QByteArray mixed = textBytes(400000, 21u) + randomBytes(5000, 22u);
        const QByteArray more = randomBytes(70000, 23u);
        const auto foreign = [](const QString& name, int method, const QByteArray& payload,
                                const QByteArray& plain) {
            QTest::newRow(qPrintable(name)) << container(method, quint64(plain.size()), payload) << plain;
        };
        // A gzip member without a name: 10 bytes of header, the raw DEFLATE stream, 8 of trailer.
        for (int level : {1, 6, 9})
            foreign(u"gzip %1"_qs.arg(level), CompressionDeflate,
                    runTool(u"gzip"_qs, {u"-c%1"_qs.arg(level)}, mixed).mid(10).chopped(8), mixed);
        for (const QString& level : {u"-0"_qs, u"-9"_qs})
            foreign(u"lzip "_qs + level, CompressionLzip, runTool(u"lzip"_qs, {level, u"-c"_qs}, mixed),
                    mixed);
        // Two members one after the other are one file to lzip.
        foreign(u"lzip, two members"_qs, CompressionLzip,
                runTool(u"lzip"_qs, {u"-c"_qs}, mixed) + runTool(u"lzip"_qs, {u"-c"_qs}, more), mixed + more);
        for (const QString& filter :
             {u"preset=6"_qs, u"preset=1,lc=0,lp=2,pb=0"_qs, u"preset=9e,dict=64MiB"_qs}) {
            const QByteArray file =
                runTool(u"xz"_qs, {u"--format=lzma"_qs, u"--lzma1="_qs + filter, u"-c"_qs}, mixed);
            for (int method : {CompressionLzma, CompressionLzmaAlternative})
                foreign(u"xz %1 as %2"_qs.arg(filter).arg(method), method, file, mixed);
        }
        // A damaged lzip member: magic, CRC-32 of the data, data size and member size in the trailer.
        const QByteArray lzip = compress(CompressionLzip, data);
        const int payload = int(headerOf(lzip).payloadOffset);
        for (int position :
             {payload, payload + 3, lzip.size() - 20, lzip.size() - 17, lzip.size() - 12, lzip.size() - 5}) {
            QByteArray damaged = lzip;
            damaged[position] = char(damaged[position] ^ 0x01);
            QTest::addRow("lzip damaged at %d", position - payload) << damaged << Fails;
        }
    }

    void decoding() {
        QFETCH(QByteArray, input);
        QTEST(decodeFenced(input).value_or(Fails), "expected");
    }

    void compressWritesAPlainHeader() {
        QCOMPARE(compress(CompressionStored, "abc"), QByteArray("p\x00\x03\003abc", 7));
        const QByteArray big(300, 'x');
        QCOMPARE(compress(CompressionStored, big), QByteArray("p\x00\xAC\x02\xAC\x02", 6) + big);
        const QByteArray zeros(2 * 1024 * 1024, '\0');
        for (int method : EncodableMethods) {
            QCOMPARE(compress(method, QByteArray()), QByteArray());
            QVERIFY(method == CompressionStored || compress(method, zeros).size() < zeros.size() / 50);
        }
        for (int method : {1, 2, 6, 14, 21, 24, -1}) {
            QVERIFY_EXCEPTION_THROWN(compress(method, "abc"), std::invalid_argument);
            QVERIFY_EXCEPTION_THROWN(compress(method, QByteArray()), std::invalid_argument);
        }
    }

    void damagedPayloadsNeverReadOutside() {
        // Cut, re-headed and damaged containers: a failed decode, never a read outside the input.
        const QByteArray data = textBytes(3000, 61u) + randomBytes(200, 62u);
        std::mt19937 generator(81u);
        for (int method : EncodableMethods) {
            const QByteArray packed = compress(method, data);
            for (int cut = 2; cut < packed.size(); ++cut)
                QVERIFY2(!decodeFenced(packed.left(cut)),
                         qPrintable(u"method %1 cut %2"_qs.arg(method).arg(cut)));
            int decodedCuts = 0;
            for (int kept = 0; kept < int(headerOf(packed).packedLength); ++kept) {
                const std::optional<QByteArray> decoded =
                    decodeFenced(rewrap(packed, quint64(data.size()), kept));
                // A cut stored payload is valid; LZMA may lose only its end marker; no short or wrong result.
                decodedCuts += decoded ? 1 : 0;
                QVERIFY(!decoded || (method == CompressionStored ? data.left(kept) : data) == *decoded);
            }
            QVERIFY(method == CompressionStored || (isLzma(method) && decodedCuts <= 10) || decodedCuts == 0);
            for (int round = 0; round < 300; ++round) {
                QByteArray damaged = packed;
                for (int flip = 0, flips = 1 + int(generator() % 4); flip < flips; ++flip)
                    damaged[int(generator() % unsigned(damaged.size()))] = char(generator() & 0xFF);
                decodeFenced(damaged);
            }
        }
    }
};

LAUNCHER_TEST(TestContainer)
#include "tst_container.moc"
