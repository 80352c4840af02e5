// Containers that claim a small unpacked size but whose payload decodes to far more: decoding ends
// at the claimed size, never yields more, and the process's memory peak stays far below what the
// payload would unfold to.
#include "shared/container/container.h"
#include "shared/container/containerheader.h"
#include "shared/container/decompressionerror.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <cstdint>
#include <vector>

#include <lzma.h>
#include <zlib.h>

using testsupport::operator""_qs;

namespace {

// Zeros the bombs unfold to, and what they claim.
constexpr std::size_t UnfoldedSize = std::size_t(128) << 20;
constexpr std::uint64_t ClaimedSize = 64 * 1024;
constexpr qint64 AllowedGrowth = qint64(32) << 20;

qint64 statusValue(const char* Key) {
    QFile status(u"/proc/self/status"_qs);
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QRegularExpression line(QLatin1String(Key) + u":\\s*(\\d+) kB"_qs);
    const QRegularExpressionMatch match = line.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() * 1024 : -1;
}

// Sets the peak back to the present, so a later peak belongs to what runs in between.
bool resetMemoryPeak() {
    QFile clear(u"/proc/self/clear_refs"_qs);
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

QByteArray rawDeflateOfZeros() {
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<Bytef> zeros(1 << 20, 0);
    QByteArray packed;
    std::vector<Bytef> out(1 << 16);
    int status = Z_OK;
    for (std::size_t fed = 0; status != Z_STREAM_END;) {
        if (stream.avail_in == 0 && fed < UnfoldedSize) {
            stream.next_in = zeros.data();
            stream.avail_in = uInt(zeros.size());
            fed += zeros.size();
        }
        stream.next_out = out.data();
        stream.avail_out = uInt(out.size());
        status = deflate(&stream, fed == UnfoldedSize && stream.avail_in == 0 ? Z_FINISH : Z_NO_FLUSH);
        packed.append(reinterpret_cast<const char*>(out.data()), int(out.size() - stream.avail_out));
    }
    deflateEnd(&stream);
    return packed;
}

// A raw LZMA1 stream with an end marker (lc 3, lp 0, pb 2, as lzip uses).
QByteArray rawLzmaOfZeros() {
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 0);
    options.dict_size = 1 << 16;
    options.mode = LZMA_MODE_FAST;
    options.nice_len = 273;
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK) {
        return QByteArray();
    }
    std::vector<std::uint8_t> zeros(1 << 20, 0);
    std::vector<std::uint8_t> out(1 << 16);
    QByteArray packed;
    lzma_ret status = LZMA_OK;
    for (std::size_t fed = 0; status == LZMA_OK;) {
        if (stream.avail_in == 0 && fed < UnfoldedSize) {
            stream.next_in = zeros.data();
            stream.avail_in = zeros.size();
            fed += zeros.size();
        }
        stream.next_out = out.data();
        stream.avail_out = out.size();
        status = lzma_code(&stream, fed == UnfoldedSize && stream.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
        packed.append(reinterpret_cast<const char*>(out.data()), int(out.size() - stream.avail_out));
    }
    lzma_end(&stream);
    return status == LZMA_STREAM_END ? packed : QByteArray();
}

void appendLittleEndian(QByteArray& bytes, std::uint64_t value, int size) {
    for (int index = 0; index < size; ++index) {
        bytes.append(char((value >> (8 * index)) & 0xFF));
    }
}

// One lzip member around the raw stream, with the given coded dictionary size and data size.
QByteArray lzipMember(const QByteArray& RawLzma, std::uint8_t CodedDictionary, std::uint64_t DataSize) {
    QByteArray member("LZIP\x01", 5);
    member.append(char(CodedDictionary));
    member.append(RawLzma);
    std::vector<std::uint8_t> zeros(1 << 20, 0);
    uLong crc = crc32(0, nullptr, 0);
    for (std::size_t done = 0; done < UnfoldedSize; done += zeros.size()) {
        crc = crc32(crc, zeros.data(), uInt(zeros.size()));
    }
    appendLittleEndian(member, crc, 4);
    appendLittleEndian(member, DataSize, 8);
    appendLittleEndian(member, std::uint64_t(member.size()) + 8, 8);
    return member;
}

QByteArray lzmaPayload(const QByteArray& RawLzma) {
    QByteArray payload(1, char(0x5D)); // lc 3, lp 0, pb 2
    appendLittleEndian(payload, 1 << 16, 4);
    appendLittleEndian(payload, ~std::uint64_t(0), 8);
    return payload + RawLzma;
}

} // namespace

class TestContainerBombs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_RawLzma = rawLzmaOfZeros();
        QVERIFY(!m_RawLzma.isEmpty());
        m_Deflate = rawDeflateOfZeros();
        QVERIFY(resetMemoryPeak());
    }

    void bombStopsAtTheClaimedSize_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("mayEndAtClaim"); // raw LZMA may end at the announced length
        QTest::newRow("DEFLATE") << int(shared::CompressionDeflate) << m_Deflate << false;
        QTest::newRow("LZMA") << int(shared::CompressionLzma) << lzmaPayload(m_RawLzma) << true;
        QTest::newRow("LZMA, other id")
            << int(shared::CompressionLzmaAlternative) << lzmaPayload(m_RawLzma) << true;
        // 0x1D: 512 MiB, lzip's largest dictionary; 0x10: 64 KiB.
        QTest::newRow("lzip, huge dictionary")
            << int(shared::CompressionLzip) << lzipMember(m_RawLzma, 0x1D, UnfoldedSize) << false;
        QTest::newRow("lzip, huge dictionary, trailer that lies")
            << int(shared::CompressionLzip) << lzipMember(m_RawLzma, 0x1D, ClaimedSize) << false;
        QTest::newRow("lzip, small dictionary, trailer that lies")
            << int(shared::CompressionLzip) << lzipMember(m_RawLzma, 0x10, ClaimedSize) << false;
    }

    void bombStopsAtTheClaimedSize() {
        QFETCH(int, method);
        QFETCH(QByteArray, payload);
        QFETCH(bool, mayEndAtClaim);
        QByteArray container;
        shared::appendContainerHeader(container, method, ClaimedSize, std::uint64_t(payload.size()));
        container.append(payload);

        QVERIFY(resetMemoryPeak());
        const qint64 before = statusValue("VmRSS");
        bool failed = false;
        QByteArray output;
        try {
            output = shared::decompress(container);
        } catch (const shared::TDecompressionError&) {
            failed = true;
        }
        const qint64 growth = statusValue("VmHWM") - before;

        QVERIFY2(growth < AllowedGrowth, qPrintable(u"memory peak grew by %1 MiB"_qs.arg(growth >> 20)));
        if (mayEndAtClaim && !failed) {
            QCOMPARE(output, QByteArray(int(ClaimedSize), '\0'));
        } else {
            QVERIFY(failed);
        }
        QByteArray lenient;
        QVERIFY(!shared::unpack(lenient, container) || mayEndAtClaim);
    }

private:
    QByteArray m_RawLzma;
    QByteArray m_Deflate;
};

LAUNCHER_TEST(TestContainerBombs)
#include "tst_containerbombs.moc"
