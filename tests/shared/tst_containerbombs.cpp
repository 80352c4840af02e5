// Bombs claiming a small size: decoding stops there and the memory peak stays low.
#include "shared/container/container.h"
#include "shared/container/containerheader.h"
#include "shared/container/decompressionerror.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <cstdint>

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

void appendLittleEndian(QByteArray& bytes, std::uint64_t value, int size) {
    for (int index = 0; index < size; ++index) {
        bytes.append(char((value >> (8 * index)) & 0xFF));
    }
}

// The payload of our own container around the zeros: how the bombs are packed does not matter.
QByteArray payloadOfZeros(int Method) {
    const QByteArray packed = shared::compress(Method, QByteArray(int(UnfoldedSize), '\0'));
    shared::TContainerHeader header;
    shared::readContainerHeader(packed.constData(), std::size_t(packed.size()), header);
    return packed.mid(int(header.payloadOffset));
}

// The lzip member with the given coded dictionary size and data size in its trailer.
QByteArray lzipMember(QByteArray Member, std::uint8_t CodedDictionary, std::uint64_t DataSize) {
    Member[5] = char(CodedDictionary);
    QByteArray size;
    appendLittleEndian(size, DataSize, 8);
    return Member.replace(Member.size() - 16, 8, size);
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
        m_Deflate = payloadOfZeros(shared::CompressionDeflate);
        m_Lzip = payloadOfZeros(shared::CompressionLzip);
        // The raw LZMA stream (lc 3, lp 0, pb 2, end marker) between lzip's header and trailer.
        m_RawLzma = m_Lzip.mid(6).chopped(20);
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
            << int(shared::CompressionLzip) << lzipMember(m_Lzip, 0x1D, UnfoldedSize) << false;
        QTest::newRow("lzip, huge dictionary, trailer that lies")
            << int(shared::CompressionLzip) << lzipMember(m_Lzip, 0x1D, ClaimedSize) << false;
        QTest::newRow("lzip, small dictionary, trailer that lies")
            << int(shared::CompressionLzip) << lzipMember(m_Lzip, 0x10, ClaimedSize) << false;
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
    QByteArray m_Lzip;
};

LAUNCHER_TEST(TestContainerBombs)
#include "tst_containerbombs.moc"
