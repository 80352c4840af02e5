#include "shared/randomnumbergenerator/randomnumbergenerator.h"
#include "support/testregistry.h"

#include <QTest>

#include <limits>
#include <map>
#include <random>

using namespace shared;

namespace {

// The same generator with a seed of the test's choosing, so draws repeat.
class TSeededGenerator : public TRandomNumberGenerator {
public:
    explicit TSeededGenerator(std::uint32_t seed)
        : TRandomNumberGenerator(seed) {}
};

const quint64 UnsignedMax = std::numeric_limits<quint64>::max();
const qint64 SignedMin = std::numeric_limits<qint64>::min();
const qint64 SignedMax = std::numeric_limits<qint64>::max();

} // namespace

class TestRandomNumberGenerator : public QObject {
    Q_OBJECT
private slots:
    void drawsStayWithinBothEnds() {
        TSeededGenerator generator(20240601);
        QCOMPARE(generator.uniformUnsigned(5, 5), quint64(5));
        QCOMPARE(generator.uniformSigned(-7, -7), qint64(-7));
        QCOMPARE(generator.uniformUnsigned(UnsignedMax, UnsignedMax), UnsignedMax);
        QCOMPARE(generator.uniformSigned(SignedMin, SignedMin), SignedMin);

        std::map<qint64, int> signedSeen;
        std::map<quint64, int> unsignedSeen;
        bool highEndSeen = false;
        for (int i = 0; i < 2000; ++i) {
            const qint64 s = generator.uniformSigned(-3, 3);
            QVERIFY(s >= -3 && s <= 3);
            ++signedSeen[s];
            const quint64 u = generator.uniformUnsigned(0, 1);
            QVERIFY(u <= 1);
            ++unsignedSeen[u];
            const quint64 top = generator.uniformUnsigned(UnsignedMax - 2, UnsignedMax);
            QVERIFY(top >= UnsignedMax - 2);
            highEndSeen = highEndSeen || top == UnsignedMax;
            const qint64 wide = generator.uniformSigned(SignedMin, SignedMin + 1);
            QVERIFY(wide == SignedMin || wide == SignedMin + 1);
        }
        QCOMPARE(signedSeen.size(), size_t(7));
        QCOMPARE(unsignedSeen.size(), size_t(2));
        QVERIFY(highEndSeen);

        // Ranges across zero and the whole signed range.
        bool negative = false;
        bool positive = false;
        for (int i = 0; i < 200; ++i) {
            const qint64 value = generator.uniformSigned(SignedMin, SignedMax);
            negative = negative || value < 0;
            positive = positive || value > 0;
        }
        QVERIFY(negative && positive);
    }

    void fullRangeJoinsTwoOutputsHighWordFirst() {
        TSeededGenerator generator(42);
        std::mt19937 oracle(42);
        for (int i = 0; i < 100; ++i) {
            const quint64 high = oracle();
            const quint64 low = oracle();
            QCOMPARE(generator.uniformUnsigned(0, UnsignedMax), (high << 32) | low);
        }
    }

    void smallRangeIsEvenlySpread() {
        // Chi-square over 62 buckets (the nocache alphabet) with a fixed seed; 61
        // degrees of freedom put the 99.9 % point near 100.
        TSeededGenerator generator(7);
        const int buckets = 62;
        const int draws = 62000;
        std::vector<int> counts(buckets, 0);
        for (int i = 0; i < draws; ++i)
            ++counts.at(size_t(generator.uniformUnsigned(0, buckets - 1)));
        const double expected = double(draws) / buckets;
        double chiSquare = 0;
        for (const int count : counts)
            chiSquare += (count - expected) * (count - expected) / expected;
        QVERIFY2(chiSquare < 100, qPrintable(QString::number(chiSquare)));
    }
};

LAUNCHER_TEST(TestRandomNumberGenerator)
#include "tst_randomnumbergenerator.moc"
