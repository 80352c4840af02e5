#include "shared/crypto/sha256.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include <random>
#include <stdexcept>

using shared::TSha256;
using testsupport::operator""_qs;

namespace {

QByteArray generatedData(int length, unsigned seed) {
    std::mt19937 generator(seed);
    QByteArray data(length, Qt::Uninitialized);
    for (char& byte : data)
        byte = static_cast<char>(generator() & 0xFF);
    return data;
}

QByteArray oracle(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

} // namespace

class TestSha256 : public QObject {
    Q_OBJECT

private slots:
    void knownDigest() {
        QCOMPARE(TSha256::hash(QByteArrayLiteral("abc")).toHex(),
                 QByteArrayLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        QCOMPARE(TSha256::hash(QByteArray()).size(), TSha256::HashSize);
    }

    void equalsOracleAtBlockBoundaries_data() {
        QTest::addColumn<int>("length");
        for (int length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 3 * 1024 * 1024 + 17})
            QTest::newRow(qPrintable(QString::number(length))) << length;
    }

    void equalsOracleAtBlockBoundaries() {
        QFETCH(int, length);
        const QByteArray data = generatedData(length, 4711u + static_cast<unsigned>(length));
        QCOMPARE(TSha256::hash(data), oracle(data));
        QCOMPARE(TSha256::hash(data.constData(), data.size()), oracle(data));
    }

    void piecesGiveTheSameDigest() {
        const QByteArray data = generatedData(2 * 1024 * 1024 + 333, 99u);
        const QByteArray expected = oracle(data);
        std::mt19937 generator(7u);
        for (int round = 0; round < 5; ++round) {
            TSha256 sha;
            int offset = 0;
            while (offset < data.size()) {
                const int piece = std::min<int>(data.size() - offset, static_cast<int>(generator() % 100000));
                sha.addData(data.constData() + offset, piece);
                offset += piece;
            }
            QCOMPARE(sha.result(), expected);
        }
        // Byte by byte over a few blocks, plus zero-length pieces in between.
        const QByteArray small = data.left(200);
        TSha256 sha;
        for (char byte : small) {
            sha.addData(&byte, 1);
            sha.addData(QByteArray());
        }
        QCOMPARE(sha.result(), oracle(small));
    }

    void resultStartsANewHash() {
        TSha256 sha;
        sha.addData(QByteArrayLiteral("first"));
        QCOMPARE(sha.result(), oracle("first"));
        sha.addData(QByteArrayLiteral("second"));
        QCOMPARE(sha.result(), oracle("second"));
        QCOMPARE(sha.result(), oracle(QByteArray()));
        sha.addData(QByteArrayLiteral("dropped"));
        sha.reset();
        QCOMPARE(sha.result(), oracle(QByteArray()));
    }

    void movedObjectsKeepWorking() {
        TSha256 first;
        first.addData(QByteArrayLiteral("ab"));
        TSha256 second(std::move(first));
        second.addData(QByteArrayLiteral("c"));
        QCOMPARE(second.result(), oracle("abc"));
        // The moved-from object is still usable and starts empty.
        first.addData(QByteArrayLiteral("xyz"));
        QCOMPARE(first.result(), oracle("xyz"));
        TSha256 third;
        third = std::move(second);
        third.addData(QByteArrayLiteral("q"));
        QCOMPARE(third.result(), oracle("q"));
    }

    void hashFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray data = generatedData(3 * 1024 * 1024 + 5, 12u);
        const QString path = dir.filePath(u"data.bin"_qs);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(data), qint64(data.size()));
        file.close();
        QCOMPARE(TSha256::hashFile(path), oracle(data));

        const QString missing = dir.filePath(u"missing.bin"_qs);
        try {
            TSha256::hashFile(missing);
            QFAIL("a missing file must throw");
        } catch (const std::runtime_error& error) {
            QVERIFY(QString::fromUtf8(error.what()).startsWith(u"I/O error on file '%1': "_qs.arg(missing)));
        }
    }
};

LAUNCHER_TEST(TestSha256)
#include "tst_sha256.moc"
