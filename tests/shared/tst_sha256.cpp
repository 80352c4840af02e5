#include "shared/crypto/sha256.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QTemporaryDir>
#include <QtTest>

#include <random>
#include <stdexcept>

using shared::TSha256;
using testsupport::sha256;
using testsupport::operator""_qs;

class TestSha256 : public QObject {
    Q_OBJECT

private slots:
    // Every way in equals Qt's digest at block and padding bounds and beyond the file buffer.
    void equalsOracle_data() {
        QTest::addColumn<QByteArray>("data");
        for (int length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 3 * 1024 * 1024 + 17})
            QTest::addRow("%d", length) << testsupport::randomBytes(length, 4711u + unsigned(length));
    }

    void equalsOracle() {
        QFETCH(QByteArray, data);
        const QByteArray expected = sha256(data);
        QCOMPARE(TSha256::hash(data), expected);
        TSha256 pieces;
        std::mt19937 generator(7u);
        for (int offset = 0, piece = 0; offset < data.size(); offset += piece) {
            piece = std::min<int>(data.size() - offset, int(generator() % 100000));
            pieces.addData(data.constData() + offset, piece);
        }
        QCOMPARE(pieces.result(), expected);
        // The result starts a new hash.
        pieces.addData(QByteArrayLiteral("next"));
        QCOMPARE(pieces.result(), sha256("next"));

        QTemporaryDir directory;
        const QString path = directory.filePath(u"data.bin"_qs);
        QVERIFY(testsupport::writeBytes(path, data));
        QCOMPARE(TSha256::hashFile(path), expected);
    }

    void movedFromObjectStartsEmptyAndMissingFileThrows() {
        TSha256 first;
        first.addData(QByteArrayLiteral("ab"));
        TSha256 second(std::move(first));
        second.addData(QByteArrayLiteral("c"));
        QCOMPARE(second.result(), sha256("abc"));
        first.addData(QByteArrayLiteral("xyz"));
        QCOMPARE(first.result(), sha256("xyz"));
        QVERIFY_EXCEPTION_THROWN(TSha256::hashFile(u"/nonexistent/data.bin"_qs), std::runtime_error);
    }
};

LAUNCHER_TEST(TestSha256)
#include "tst_sha256.moc"
