#include "shared/container/container.h"
#include "shared/container/containerheader.h"
#include "shared/container/decompressionerror.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

#include <cstring>
#include <random>
#include <stdexcept>

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

using shared::EContainerHeaderStatus;
using shared::TContainerHeader;
using testsupport::operator""_qs;

namespace {

const QString InvalidInputText = u"Invalid input data could not be decompressed"_qs;
const QList<int> EncodableMethods = {shared::CompressionStored, shared::CompressionDeflate,
                                     shared::CompressionLzip, shared::CompressionLzma,
                                     shared::CompressionLzmaAlternative};

QByteArray randomBytes(int length, unsigned seed) {
    std::mt19937 generator(seed);
    QByteArray data(length, Qt::Uninitialized);
    for (char& byte : data)
        byte = static_cast<char>(generator() & 0xFF);
    return data;
}

// Text-like data that compresses well, like most game files do.
QByteArray repetitiveBytes(int length, unsigned seed) {
    static const char* const words[] = {"mesh ", "texture ", "vantor ", "quest\n", "0.0.12 ", "{\"id\": 7} "};
    std::mt19937 generator(seed);
    QByteArray data;
    data.reserve(length + 16);
    while (data.size() < length)
        data.append(words[generator() % 6]);
    data.truncate(length);
    return data;
}

QByteArray varint(quint64 value) {
    QByteArray out;
    shared::appendVarint(out, value);
    return out;
}

QByteArray container(int method, const QByteArray& unpackedLength, const QByteArray& packedLength,
                     const QByteArray& payload) {
    QByteArray out("p");
    out.append(static_cast<char>(method));
    return out + unpackedLength + packedLength + payload;
}

// Rebuilds a container around a payload, with lengths of our choosing.
QByteArray rewrap(const QByteArray& original, quint64 unpackedLength, int payloadBytes = -1) {
    TContainerHeader header;
    if (shared::readContainerHeader(original.constData(), static_cast<size_t>(original.size()), header) !=
        EContainerHeaderStatus::Valid)
        return QByteArray();
    QByteArray payload = original.mid(static_cast<int>(header.payloadOffset));
    if (payloadBytes >= 0)
        payload.truncate(payloadBytes);
    return container(header.method, varint(unpackedLength), varint(static_cast<quint64>(payload.size())),
                     payload);
}

QString decompressFailure(const QByteArray& input) {
    try {
        const QByteArray output = shared::decompress(input);
        return u"decoded %1 bytes"_qs.arg(output.size());
    } catch (const shared::TDecompressionError& error) {
        return QString::fromUtf8(error.what());
    }
}

// Holds a copy of some bytes that ends right at an inaccessible page, so that
// reading a single byte past the end crashes the test instead of passing by.
class TFencedBytes {
public:
    explicit TFencedBytes(const QByteArray& bytes) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t dataPages = (static_cast<size_t>(bytes.size()) + page - 1) / page;
        m_length = (dataPages + 1) * page;
        void* mapping = mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        m_mapping = static_cast<char*>(mapping);
        mprotect(m_mapping + dataPages * page, page, PROT_NONE);
        char* start = m_mapping + dataPages * page - static_cast<size_t>(bytes.size());
        std::memcpy(start, bytes.constData(), static_cast<size_t>(bytes.size()));
        m_view = QByteArray::fromRawData(start, bytes.size());
    }
    ~TFencedBytes() { munmap(m_mapping, m_length); }
    TFencedBytes(const TFencedBytes&) = delete;
    TFencedBytes& operator=(const TFencedBytes&) = delete;

    const QByteArray& bytes() const { return m_view; }

private:
    char* m_mapping = nullptr;
    size_t m_length = 0;
    QByteArray m_view;
};

// Decodes through both entry points; gives whether the strict way succeeded
// and checks that the lenient way agrees with it.
bool decodesFenced(const QByteArray& input, QByteArray* decoded = nullptr) {
    const TFencedBytes fenced(input);
    bool strictOk = true;
    QByteArray strict;
    try {
        strict = shared::decompress(fenced.bytes());
        strict.detach();
    } catch (const shared::TDecompressionError&) {
        strictOk = false;
    }
    QByteArray lenient;
    const bool lenientOk = shared::unpack(lenient, fenced.bytes());
    lenient.detach();
    if (decoded)
        *decoded = strict;
    TContainerHeader header;
    const bool isContainer = shared::readContainerHeader(input.constData(), static_cast<size_t>(input.size()),
                                                         header) != EContainerHeaderStatus::NotAContainer;
    if (lenientOk != (strictOk && isContainer))
        throw std::logic_error("strict and lenient decoding disagree");
    if (lenient != (lenientOk ? strict : input))
        throw std::logic_error("lenient output is wrong");
    return strictOk;
}

QByteArray runTool(const QString& program, const QStringList& arguments, const QByteArray& input) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted())
        return QByteArray();
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput();
}

QString requireTool(const QString& name) {
    const QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        qFatal("the test needs the '%s' program (scripts/install-dependencies.sh installs it)",
               qPrintable(name));
    return found;
}

QByteArray rawDeflateWithZlib(const QByteArray& data, int level) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 9, Z_FILTERED);
    QByteArray out(static_cast<int>(deflateBound(&stream, static_cast<uLong>(data.size()))),
                   Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        return QByteArray();
    out.truncate(static_cast<int>(stream.total_out));
    return out;
}

QByteArray decompressOne(const QByteArray& input) {
    return shared::decompress(input);
}

} // namespace

class TestContainer : public QObject {
    Q_OBJECT

private slots:
    void headerRecognition_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<quint64>("unpacked");
        QTest::addColumn<quint64>("packed");
        const int none = int(EContainerHeaderStatus::NotAContainer);
        const int bad = int(EContainerHeaderStatus::Malformed);
        const int valid = int(EContainerHeaderStatus::Valid);
        QTest::newRow("empty") << QByteArray() << none << quint64(0) << quint64(0);
        QTest::newRow("one zero") << QByteArray(1, '\0') << none << quint64(0) << quint64(0);
        QTest::newRow("zeros only") << QByteArray(9, '\0') << none << quint64(0) << quint64(0);
        QTest::newRow("p alone") << QByteArray("p") << none << quint64(0) << quint64(0);
        QTest::newRow("id 24") << QByteArray("p\x18\x01\x01x", 5) << none << quint64(0) << quint64(0);
        QTest::newRow("other magic") << QByteArray("q\x00\x01\x01x", 5) << none << quint64(0) << quint64(0);
        QTest::newRow("id 23") << QByteArray("p\x17\x01\x01x", 5) << valid << quint64(1) << quint64(1);
        QTest::newRow("two-byte varint")
            << QByteArray("p\x00\x80\x01\x00", 5) << valid << quint64(128) << quint64(0);
        QTest::newRow("largest varint")
            << container(0, QByteArray(9, '\xFF') + '\x01', QByteArray(1, '\0'), "") << valid
            << quint64(0xFFFFFFFFFFFFFFFFull) << quint64(0);
        QTest::newRow("varint over 64 bits")
            << container(0, QByteArray(9, '\xFF') + '\x02', QByteArray(1, '\0'), "") << bad << quint64(0)
            << quint64(0);
        QTest::newRow("eleven-byte varint")
            << container(0, QByteArray(10, '\x80') + '\x00', QByteArray(1, '\0'), "") << bad << quint64(0)
            << quint64(0);
        QTest::newRow("endless varint")
            << container(0, QByteArray(40, '\x80'), "", "") << bad << quint64(0) << quint64(0);
        QTest::newRow("header ends in varint")
            << QByteArray("p\x00\x85", 3) << bad << quint64(0) << quint64(0);
        QTest::newRow("packed length missing")
            << QByteArray("p\x00\x05", 3) << bad << quint64(0) << quint64(0);
        QTest::newRow("packed beyond input")
            << QByteArray("p\x00\x03\004abc", 7) << bad << quint64(0) << quint64(0);
        QTest::newRow("trailing bytes allowed")
            << QByteArray("\0\0p\x00\x03\003abcdef", 12) << valid << quint64(3) << quint64(3);
    }

    void headerRecognition() {
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(quint64, unpacked);
        QFETCH(quint64, packed);
        TContainerHeader header;
        const TFencedBytes fenced(input);
        QCOMPARE(int(shared::readContainerHeader(fenced.bytes().constData(), size_t(input.size()), header)),
                 status);
        if (status == int(EContainerHeaderStatus::Valid)) {
            QCOMPARE(header.unpackedLength, unpacked);
            QCOMPARE(header.packedLength, packed);
        }
    }

    void notAContainerComesBackUnchanged() {
        const QList<QByteArray> inputs = {QByteArray(), QByteArray(1, '\0'),
                                          QByteArray("p\x18\x03\003abc", 7), QByteArray("plain text file"),
                                          QByteArray("\0\0\0", 3)};
        for (const QByteArray& input : inputs) {
            QCOMPARE(shared::decompress(input), input);
            QByteArray output("stale");
            QVERIFY(!shared::unpack(output, input));
            QCOMPARE(output, input);
            std::string stdOutput("stale");
            QVERIFY(!shared::unpack(stdOutput, input.toStdString()));
            QCOMPARE(QByteArray::fromStdString(stdOutput), input);
        }
    }

    void storedWithLeadingZeros() {
        const QByteArray input("\x00\x00\x00\x70\x00\x03\x03"
                               "abc",
                               10);
        QCOMPARE(shared::decompress(input), QByteArrayLiteral("abc"));
        std::string output;
        QVERIFY(shared::unpack(output, input.toStdString()));
        QCOMPARE(output, std::string("abc"));

        QByteArray unknownMethod = input;
        unknownMethod[4] = 22;
        QCOMPARE(decompressFailure(unknownMethod), InvalidInputText);
        QVERIFY(!shared::unpack(output, unknownMethod.toStdString()));
        QCOMPARE(QByteArray::fromStdString(output), unknownMethod);
    }

    void methodsWithoutADecoderFail() {
        for (int method = 0; method <= shared::MaxContainerMethodId; ++method) {
            const QByteArray input = container(method, varint(3), varint(3), "abc");
            const bool decodable = EncodableMethods.contains(method);
            if (!decodable)
                QCOMPARE(decompressFailure(input), InvalidInputText);
            QByteArray output;
            if (!decodable) {
                QVERIFY(!shared::unpack(output, input));
                QCOMPARE(output, input);
            }
        }
        QCOMPARE(decompressFailure(container(0, varint(3), varint(3), "abc")), u"decoded 3 bytes"_qs);
    }

    void zeroLengthsFailForEveryMethod() {
        for (int method : EncodableMethods) {
            const QByteArray real = shared::compress(method, QByteArrayLiteral("data"));
            QCOMPARE(decompressFailure(rewrap(real, 0)), InvalidInputText);
            QCOMPARE(decompressFailure(rewrap(real, 4, 0)), InvalidInputText);
        }
    }

    void storedLengthRules() {
        // Payload longer than the announced output: refused, not overflowed.
        QCOMPARE(decompressFailure(container(0, varint(2), varint(5), "abcde")), InvalidInputText);
        // Shorter: the output is what the payload holds.
        QCOMPARE(shared::decompress(container(0, varint(9), varint(5), "abcde")), QByteArrayLiteral("abcde"));
    }

    void compressWritesAPlainHeader() {
        QCOMPARE(shared::compress(shared::CompressionStored, "abc"), QByteArray("p\x00\x03\003abc", 7));
        const QByteArray big(300, 'x');
        QCOMPARE(shared::compress(shared::CompressionStored, big),
                 QByteArray("p\x00\xAC\x02\xAC\x02", 6) + big);
        for (int method : EncodableMethods)
            QCOMPARE(shared::compress(method, QByteArray()), QByteArray());
        for (int method : {1, 2, 6, 14, 21, 24, -1}) {
            QVERIFY_EXCEPTION_THROWN(shared::compress(method, "abc"), std::invalid_argument);
            QVERIFY_EXCEPTION_THROWN(shared::compress(method, QByteArray()), std::invalid_argument);
        }
    }

    void roundTrips_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("data");
        for (int method : EncodableMethods) {
            const QByteArray name = QByteArray::number(method);
            QTest::newRow((name + " one byte").constData()) << method << QByteArray("\x00", 1);
            QTest::newRow((name + " looks like a container").constData())
                << method << QByteArray("p\x00\x03\003abc", 7);
            QTest::newRow((name + " random 1000").constData()) << method << randomBytes(1000, 1u);
            QTest::newRow((name + " random 65537").constData()) << method << randomBytes(65537, 2u);
            QTest::newRow((name + " text 700k").constData()) << method << repetitiveBytes(700 * 1024, 3u);
            QTest::newRow((name + " zeros 2M").constData()) << method << QByteArray(2 * 1024 * 1024, '\0');
        }
    }

    void roundTrips() {
        QFETCH(int, method);
        QFETCH(QByteArray, data);
        const QByteArray packed = shared::compress(method, data);
        TContainerHeader header;
        QCOMPARE(shared::readContainerHeader(packed.constData(), size_t(packed.size()), header),
                 EContainerHeaderStatus::Valid);
        QCOMPARE(header.method, method);
        QCOMPARE(header.unpackedLength, quint64(data.size()));
        QCOMPARE(header.packedLength, quint64(packed.size()) - header.payloadOffset);
        if (method != shared::CompressionStored && data.size() > 100000 && data.at(0) == '\0')
            QVERIFY(packed.size() < data.size() / 50);

        QByteArray decoded;
        QVERIFY(decodesFenced(packed, &decoded));
        QCOMPARE(decoded, data);
        std::string stdDecoded;
        QVERIFY(shared::unpack(stdDecoded, packed.toStdString()));
        QVERIFY(stdDecoded == data.toStdString());
        // Leading zero bytes are skipped by the reader.
        QCOMPARE(shared::decompress(QByteArray(5, '\0') + packed), data);
    }

    void decodesRawDeflateMadeByZlib() {
        const QByteArray data = repetitiveBytes(300000, 11u) + randomBytes(5000, 12u);
        for (int level : {1, 6, 9}) {
            const QByteArray payload = rawDeflateWithZlib(data, level);
            QVERIFY(!payload.isEmpty());
            const QByteArray input = container(shared::CompressionDeflate, varint(quint64(data.size())),
                                               varint(quint64(payload.size())), payload);
            QByteArray decoded;
            QVERIFY(decodesFenced(input, &decoded));
            QCOMPARE(decoded, data);
        }
    }

    void decodesLzipMadeByTheLzipProgram() {
        const QString lzip = requireTool(u"lzip"_qs);
        const QByteArray first = repetitiveBytes(400000, 21u);
        const QByteArray second = randomBytes(70000, 22u);
        for (const QString& level : {u"-0"_qs, u"-6"_qs, u"-9"_qs}) {
            const QByteArray file = runTool(lzip, {level, u"-c"_qs}, first);
            QVERIFY(file.startsWith("LZIP"));
            QByteArray decoded;
            QVERIFY(decodesFenced(container(shared::CompressionLzip, varint(quint64(first.size())),
                                            varint(quint64(file.size())), file),
                                  &decoded));
            QCOMPARE(decoded, first);
        }
        // Two members one after the other are one file to lzip.
        const QByteArray twoMembers = runTool(lzip, {u"-c"_qs}, first) + runTool(lzip, {u"-c"_qs}, second);
        QByteArray decoded;
        QVERIFY(
            decodesFenced(container(shared::CompressionLzip, varint(quint64(first.size() + second.size())),
                                    varint(quint64(twoMembers.size())), twoMembers),
                          &decoded));
        QCOMPARE(decoded, first + second);
    }

    void decodesLzmaMadeByXz() {
        const QString xz = requireTool(u"xz"_qs);
        const QByteArray data = repetitiveBytes(500000, 31u) + randomBytes(3000, 32u);
        const QStringList variants = {u"--lzma1=preset=6"_qs, u"--lzma1=preset=1,lc=0,lp=2,pb=0"_qs,
                                      u"--lzma1=preset=9e,dict=64MiB"_qs};
        for (const QString& filter : variants) {
            const QByteArray file = runTool(xz, {u"--format=lzma"_qs, filter, u"-c"_qs}, data);
            QVERIFY2(file.size() > 13, qPrintable(filter));
            for (int method : {shared::CompressionLzma, shared::CompressionLzmaAlternative}) {
                QByteArray decoded;
                QVERIFY(decodesFenced(
                    container(method, varint(quint64(data.size())), varint(quint64(file.size())), file),
                    &decoded));
                QCOMPARE(decoded, data);
            }
        }
    }

    void lzmaDictionaryClaimsDoNotMatter() {
        // The dictionary size in the properties may claim up to 4 GiB; the
        // output is the same whatever it says, as long as it covers the data,
        // and the decoder never needs a window larger than the output.
        const QByteArray data = repetitiveBytes(100000, 41u);
        QByteArray packed = shared::compress(shared::CompressionLzma, data);
        TContainerHeader header;
        shared::readContainerHeader(packed.constData(), size_t(packed.size()), header);
        for (const char* claim : {"\xFF\xFF\xFF\xFF", "\x00\x00\x00\x80", "\xA0\x86\x01\x00"}) {
            std::memcpy(packed.data() + header.payloadOffset + 1, claim, 4);
            QByteArray decoded;
            QVERIFY(decodesFenced(packed, &decoded));
            QCOMPARE(decoded, data);
        }
        // A property byte outside the LZMA range.
        packed[int(header.payloadOffset)] = static_cast<char>(225);
        QCOMPARE(decompressFailure(packed), InvalidInputText);
        // Too short to hold the properties.
        QCOMPARE(decompressFailure(
                     container(shared::CompressionLzma, varint(5), varint(12), QByteArray(12, '\x5D'))),
                 InvalidInputText);
    }

    void lyingUnpackedLengths() {
        const QByteArray data = repetitiveBytes(50000, 51u);
        for (int method : EncodableMethods) {
            const QByteArray packed = shared::compress(method, data);
            const QByteArray name = QByteArray::number(method);
            // Claims no QByteArray can hold: a failed decode, not a crash.
            for (quint64 claim :
                 {quint64(1) << 60, quint64(0xFFFFFFFFFFFFFFFFull), quint64(1) << 31, quint64(0x7FFFFFFF)}) {
                const QByteArray lying = rewrap(packed, claim);
                QVERIFY2(!decodesFenced(lying), name.constData());
            }
            // Shorter than the data: the stream cannot be finished within it.
            if (method != shared::CompressionLzma && method != shared::CompressionLzmaAlternative)
                QVERIFY2(!decodesFenced(rewrap(packed, quint64(data.size() - 1))), name.constData());
            // Longer than the data: what the stream holds comes out.
            QByteArray decoded;
            QVERIFY2(decodesFenced(rewrap(packed, quint64(data.size()) + 100000), &decoded),
                     name.constData());
            QCOMPARE(decoded, data);
        }
        // An LZMA stream has no length of its own beyond the end marker: a
        // shorter claim gives exactly that many bytes, like a bounded read.
        QByteArray decoded;
        QVERIFY(decodesFenced(rewrap(shared::compress(shared::CompressionLzma, data), 1000), &decoded));
        QCOMPARE(decoded, data.left(1000));
    }

    void truncatedPayloadsFail() {
        // Every cut of every container, both with the header left as it was
        // (packed length beyond the input) and with a header that matches the
        // cut payload (a stream that ends too early). The input ends at an
        // inaccessible page, so a read past it would crash here.
        const QByteArray data = repetitiveBytes(3000, 61u) + randomBytes(200, 62u);
        for (int method : EncodableMethods) {
            const QByteArray packed = shared::compress(method, data);
            TContainerHeader header;
            shared::readContainerHeader(packed.constData(), size_t(packed.size()), header);
            const int payloadSize = int(header.packedLength);
            QCOMPARE(shared::decompress(packed.left(1)), packed.left(1));
            for (int cut = 2; cut < packed.size(); ++cut)
                QVERIFY2(!decodesFenced(packed.left(cut)),
                         qPrintable(u"method %1 cut %2"_qs.arg(method).arg(cut)));
            int decodedCuts = 0;
            for (int kept = 0; kept < payloadSize; ++kept) {
                QByteArray decoded;
                const QString row = u"method %1 kept %2"_qs.arg(method).arg(kept);
                if (!decodesFenced(rewrap(packed, quint64(data.size()), kept), &decoded))
                    continue;
                ++decodedCuts;
                // A cut stored payload is a valid shorter one. An LZMA stream
                // may lose its end marker and still deliver every byte; it
                // must never deliver a short or wrong result.
                if (method == shared::CompressionStored)
                    QCOMPARE(decoded, data.left(kept));
                else if (method == shared::CompressionLzma || method == shared::CompressionLzmaAlternative)
                    QVERIFY2(decoded == data, qPrintable(row));
                else
                    QFAIL(qPrintable(row));
            }
            if (method != shared::CompressionStored)
                QVERIFY(decodedCuts <= 10);
        }
    }

    void damagedLzipFails() {
        const QByteArray data = repetitiveBytes(20000, 71u);
        const QByteArray packed = shared::compress(shared::CompressionLzip, data);
        TContainerHeader header;
        shared::readContainerHeader(packed.constData(), size_t(packed.size()), header);
        const int payload = int(header.payloadOffset);
        const int end = packed.size();
        // Magic, CRC-32 of the data, data size and member size in the trailer.
        for (int position : {payload, payload + 3, end - 20, end - 17, end - 12, end - 5}) {
            QByteArray damaged = packed;
            damaged[position] = static_cast<char>(damaged[position] ^ 0x01);
            QVERIFY2(!decodesFenced(damaged), qPrintable(QString::number(position - payload)));
        }
    }

    void randomDamageNeverCrashes() {
        // Flipped bytes anywhere: each decode either fails or gives some
        // output, and never reads outside its input.
        std::mt19937 generator(81u);
        const QByteArray data = repetitiveBytes(4000, 82u);
        for (int method : EncodableMethods) {
            const QByteArray packed = shared::compress(method, data);
            for (int round = 0; round < 300; ++round) {
                QByteArray damaged = packed;
                const int flips = 1 + int(generator() % 4);
                for (int flip = 0; flip < flips; ++flip) {
                    const int position = int(generator() % unsigned(damaged.size()));
                    damaged[position] = static_cast<char>(generator() & 0xFF);
                }
                decodesFenced(damaged);
            }
        }
    }

    void decodesOnManyThreadsAtOnce() {
        QVector<QByteArray> inputs;
        QVector<QByteArray> expected;
        for (int index = 0; index < 40; ++index) {
            const QByteArray data = repetitiveBytes(20000 + index * 997, 90u + unsigned(index));
            expected.append(data);
            inputs.append(shared::compress(EncodableMethods.at(index % EncodableMethods.size()), data));
        }
        QList<QFuture<QByteArray>> futures;
        for (const QByteArray& input : inputs)
            futures.append(QtConcurrent::run(&decompressOne, input));
        QVector<QByteArray> decoded;
        for (QFuture<QByteArray>& future : futures)
            decoded.append(future.result());
        QCOMPARE(decoded, expected);
    }
};

LAUNCHER_TEST(TestContainer)
#include "tst_container.moc"
