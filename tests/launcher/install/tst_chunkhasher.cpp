#include "launcher/install/chunkhasher.h"
#include "shared/crypto/sha256.h"
#include "support/testregistry.h"

#include <QSemaphore>
#include <QtTest>

#include <random>
#include <utility>
#include <vector>

using namespace mirrel::launcher;

using TDigests = std::vector<std::pair<QByteArray, std::uint64_t>>;

class TestChunkHasher : public QObject {
    Q_OBJECT

private slots:
    void digestsComeInFileOrder_data() {
        QTest::addColumn<int>("Tokens");
        QTest::addColumn<bool>("HandsOff");
        QTest::newRow("no helper tokens at all") << -1 << false;
        QTest::newRow("none free: every chunk on the calling thread") << 0 << false;
        QTest::newRow("one free: a helper hashes copies") << 1 << true;
    }

    void digestsComeInFileOrder() {
        QFETCH(int, Tokens);
        QFETCH(bool, HandsOff);
        QSemaphore helpers(std::max(Tokens, 0));
        TChunkHasher hasher(Tokens < 0 ? nullptr : &helpers);
        std::mt19937_64 random(7);
        // One source buffer for every chunk, overwritten after each add(): a helper that hashed the
        // caller's bytes instead of its own copy would report digests of later chunks.
        QByteArray source;
        for (int file = 0; file < 2; ++file) {
            TDigests reported;
            TDigests expected;
            hasher.begin([&reported](const QByteArray& Digest, std::uint64_t Length) {
                reported.emplace_back(Digest, Length);
            });
            for (int chunk = 0; chunk < 12; ++chunk) {
                source.resize(static_cast<int>(1 + random() % (3 << 20)));
                std::generate(source.begin(), source.end(), [&random] { return static_cast<char>(random()); });
                expected.emplace_back(shared::TSha256::hash(source), source.size());
                hasher.add(reinterpret_cast<const unsigned char*>(source.constData()),
                           static_cast<std::uint64_t>(source.size()));
                source.fill('\0');
            }
            hasher.finish();
            QVERIFY(reported == expected);
            // The token goes back with the helper, for the next file or another worker.
            QCOMPARE(helpers.available(), std::max(Tokens, 0));
        }
        QCOMPARE(hasher.handedOff() > 0, HandsOff);
    }
};

LAUNCHER_TEST(TestChunkHasher)
#include "tst_chunkhasher.moc"
