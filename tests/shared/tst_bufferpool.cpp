#include "shared/container/bufferpool.h"
#include "shared/container/container.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QtTest>

using shared::TBufferPool;

class TestBufferPool : public QObject {
    Q_OBJECT

private slots:
    // Free buffers are reused for pieces they hold; larger pieces or shared buffers are not.
    void reusesFreeBuffers() {
        TBufferPool pool(4, 1 << 20);
        QByteArray buffer = pool.take(1000);
        buffer.append(QByteArray(1000, 'a'));
        const char* memory = buffer.constData();
        pool.give(std::move(buffer));
        QByteArray again = pool.take(600);
        QCOMPARE(again.constData(), memory);
        QVERIFY(again.isEmpty());
        QVERIFY(pool.take(2000).constData() != memory);
        const QByteArray shared = again;
        pool.give(std::move(again));
        QCOMPARE(pool.keptCount(), 0);
    }

    // Prepared buffers serve the first takes, within the pool's count and byte limits.
    void preparesBuffersAhead_data() {
        QTest::addColumn<int>("Count");
        QTest::addColumn<int>("Kept");
        QTest::newRow("as many as asked") << 3 << 3;
        QTest::newRow("no more than the pool keeps") << 10 << 4;
        QTest::newRow("prepared twice, kept once") << -3 << 3;
    }

    void preparesBuffersAhead() {
        QFETCH(int, Count);
        QFETCH(int, Kept);
        TBufferPool pool(8, 4 << 20);
        pool.prepare(std::abs(Count), 1 << 20);
        if (Count < 0) {
            pool.prepare(-Count, 1 << 20);
        }
        QCOMPARE(pool.keptCount(), Kept);
        for (int taken = 0; taken < Kept; ++taken) {
            QVERIFY(pool.take(1 << 20).capacity() >= 1 << 20);
        }
        QCOMPARE(pool.counts().Reused, Kept);
        QCOMPARE(pool.counts().Fresh, 0);
    }

    // Reused buffers decode like fresh memory; a large enough one is written in place.
    void decodesIntoReusedBuffers() {
        const QByteArray content = testsupport::randomBytes(100000, 5) + QByteArray(100000, 'x');
        const QByteArray packed = shared::compress(shared::CompressionDeflate, content);
        for (const int room : {0, 1000, 200000, 400000}) {
            QByteArray buffer;
            buffer.reserve(room);
            const char* memory = buffer.constData();
            const QByteArray decoded = shared::decompress(packed, std::move(buffer));
            QCOMPARE(decoded, content);
            QCOMPARE(decoded.constData() == memory, room >= content.size());
        }
    }
};

LAUNCHER_TEST(TestBufferPool)
#include "tst_bufferpool.moc"
