// The process's random numbers and the cache-busting query item drawn from them.
#include "shared/network/nocachequeryitem.h"
#include "shared/randomnumbergenerator/randomnumbergenerator.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QSet>
#include <QTest>
#include <QUrlQuery>

#include <limits>

using namespace shared;
using testsupport::operator""_qs;

namespace {

// The same generator with a seed of the test's choosing, so draws repeat.
class TSeededGenerator : public TRandomNumberGenerator {
public:
    explicit TSeededGenerator(std::uint32_t seed)
        : TRandomNumberGenerator(seed) {}
};

const quint64 UnsignedMax = std::numeric_limits<quint64>::max();
const qint64 SignedMin = std::numeric_limits<qint64>::min();

} // namespace

class TestRandomNumbers : public QObject {
    Q_OBJECT
private slots:
    void drawsCoverBothEndsAndNothingBeyond() {
        TSeededGenerator generator(20240601);
        QCOMPARE(generator.uniformUnsigned(UnsignedMax, UnsignedMax), UnsignedMax);
        QCOMPARE(generator.uniformSigned(SignedMin, SignedMin), SignedMin);
        QSet<qint64> small, top, bottom;
        for (int i = 0; i < 2000; ++i) {
            small.insert(generator.uniformSigned(-3, 3));
            top.insert(qint64(generator.uniformUnsigned(UnsignedMax - 2, UnsignedMax) - (UnsignedMax - 2)));
            bottom.insert(generator.uniformSigned(SignedMin, SignedMin + 1) - SignedMin);
        }
        QCOMPARE(small, (QSet<qint64>{-3, -2, -1, 0, 1, 2, 3}));
        QCOMPARE(top, (QSet<qint64>{0, 1, 2}));
        QCOMPARE(bottom, (QSet<qint64>{0, 1}));
    }

    void nocacheComesLastAndKeepsTheRestIntact() {
        // Signed CDN addresses carry encoded "+", "/" and "="; they must survive as sent.
        for (const QString& address : {u"https://cdn.example.com/a.json?sig=ab%2Bc%2Fd%3D%3D&e=1"_qs,
                                       u"http://127.0.0.1:8080/p?nocache=old"_qs}) {
            const QString encoded = QString::fromUtf8(addNocacheQueryItem(QUrl(address)).toEncoded());
            QVERIFY2(encoded.startsWith(address + u"&nocache="_qs), qPrintable(encoded));
            QCOMPARE(encoded.size(), address.size() + 9 + 32);
        }
        const QUrl invalid(u"http://exa mple.com:99999/a"_qs, QUrl::StrictMode);
        QCOMPARE(addNocacheQueryItem(invalid), invalid);
    }

    void nocacheValuesAreLettersOrDigitsAndVary() {
        QSet<QString> values;
        QSet<QChar> seen;
        for (int i = 0; i < 400; ++i) {
            const QString value = QUrlQuery(addNocacheQueryItem(QUrl(u"https://cdn.example.com/a"_qs)))
                                      .queryItemValue(u"nocache"_qs);
            values.insert(value);
            seen.unite(QSet<QChar>(value.cbegin(), value.cend()));
        }
        QCOMPARE(values.size(), 400);
        // 12800 draws from 62 characters: every one of them shows up, and nothing else.
        const QString alphabet = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"_qs;
        QCOMPARE(seen, QSet<QChar>(alphabet.cbegin(), alphabet.cend()));
    }
};

LAUNCHER_TEST(TestRandomNumbers)
#include "tst_randomnumbergenerator.moc"
