#include "launcher/install/chunkmatcher.h"
#include "launcher/install/inplacerebuilder.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

// Block n of a seed: 1 to 3000 bytes, always the same. A layout is a list of block names.
QByteArray block(quint32 Seed, int Name) {
    std::mt19937 sizes(Seed * 7919u + static_cast<quint32>(Name));
    return testsupport::seededBytes(Seed * 104729u + static_cast<quint32>(Name), 1 + sizes() % 3000);
}

QByteArray content(quint32 Seed, const QList<int>& Layout) {
    QByteArray bytes;
    for (const int name : Layout) {
        bytes += block(Seed, name);
    }
    return bytes;
}

// Feeds the old file's blocks to a matcher, as the chunker would cut them, and rebuilds the file
// for the new layout; then checks against what must come out: every new chunk the old file holds
// is in place, the others are reported missing, and the file is cut to the new size when it got
// shorter. Returns the bytes that went through the staging file.
TFileSize rebuildAndCheck(const QString& Path, quint32 Seed, const QList<int>& Old, const QList<int>& New) {
    testsupport::writeBytes(Path, content(Seed, Old));
    TChunkInPackageVector chunks;
    for (const int name : New) {
        TChunkInPackage chunk;
        chunk.Url = QUrl(u"http://127.0.0.1/chunks/%1"_qs.arg(name));
        chunk.UnpackedHash = testsupport::sha256(block(Seed, name));
        chunk.UnpackedSize = static_cast<TFileSize>(block(Seed, name).size());
        chunks.push_back(chunk);
    }
    TChunkMatcher matcher(chunks, Path, {});
    for (const int name : Old) {
        matcher.feed(testsupport::sha256(block(Seed, name)),
                     static_cast<TFileSize>(block(Seed, name).size()));
    }
    TInPlaceRebuilder rebuilder(Path, chunks, matcher.records());
    const std::vector<std::int32_t> missing =
        rebuilder.rebuild(static_cast<TFileSize>(content(Seed, New).size()));

    const QByteArray result = testsupport::readBytes(Path);
    std::vector<std::int32_t> expectedMissing;
    int offset = 0;
    int presentEnd = 0;
    for (int index = 0; index < New.size(); ++index) {
        const QByteArray bytes = block(Seed, New[index]);
        if (!Old.contains(New[index])) {
            expectedMissing.push_back(index);
        } else if (result.mid(offset, bytes.size()) != bytes) {
            QTest::qFail(qPrintable(u"chunk %1 is not in place"_qs.arg(index)), __FILE__, __LINE__);
        } else {
            presentEnd = offset + bytes.size();
        }
        offset += bytes.size();
    }
    const int oldSize = content(Seed, Old).size();
    QTest::qCompare(missing, expectedMissing, "missing", "expected", __FILE__, __LINE__);
    QTest::qCompare(result.size(), oldSize > offset ? offset : std::max(oldSize, presentEnd), "size",
                    "expected", __FILE__, __LINE__);
    return rebuilder.stagedBytes();
}

} // namespace

class TestInPlaceRebuilder : public QObject {
    Q_OBJECT

private slots:
    void rebuildsKnownLayouts_data() {
        QTest::addColumn<QList<int>>("oldBlocks");
        QTest::addColumn<QList<int>>("newBlocks");
        QTest::addColumn<bool>("needsStaging");
        QTest::newRow("identical") << QList<int>{1, 2, 3} << QList<int>{1, 2, 3} << false;
        QTest::newRow("inserted at the start: moved forward")
            << QList<int>{1, 2, 3, 4} << QList<int>{9, 1, 2, 3, 4} << false;
        QTest::newRow("deleted at the start: moved backward, cut")
            << QList<int>{9, 1, 2, 3, 4} << QList<int>{1, 2, 3, 4} << false;
        QTest::newRow("two chunks swap places") << QList<int>{1, 2} << QList<int>{2, 1} << true;
        QTest::newRow("rotation") << QList<int>{1, 2, 3, 4, 5} << QList<int>{5, 1, 2, 3, 4} << true;
        QTest::newRow("one local chunk serves two places")
            << QList<int>{1, 2} << QList<int>{2, 2, 1, 2} << true;
        QTest::newRow("nothing reusable") << QList<int>{1, 2} << QList<int>{3, 4} << false;
        QTest::newRow("longer: appended chunk missing") << QList<int>{1, 2} << QList<int>{1, 2, 3} << false;
    }

    void rebuildsKnownLayouts() {
        QFETCH(QList<int>, oldBlocks);
        QFETCH(QList<int>, newBlocks);
        QFETCH(bool, needsStaging);
        const TFileSize staged =
            rebuildAndCheck(m_Directory.filePath(u"known.bin"_qs), 11, oldBlocks, newBlocks);
        // Moves that can be ordered never go through the staging file.
        QCOMPARE(staged > 0, needsStaging);
    }

    void rebuildsRandomLayouts() {
        QLoggingCategory::setFilterRules(u"default.info=false"_qs);
        std::mt19937 random(20240601);
        for (quint32 round = 1; round <= 300 && !QTest::currentTestFailed(); ++round) {
            // Mostly old content in a new order, some new content, some repeats.
            QList<int> oldLayout;
            QList<int> newLayout;
            for (int count = 1 + static_cast<int>(random() % 12); count > 0; --count) {
                oldLayout.append(static_cast<int>(random() % 10));
            }
            for (int count = 1 + static_cast<int>(random() % 12); count > 0; --count) {
                newLayout.append(random() % 4 == 0
                                     ? 10 + static_cast<int>(random() % 5)
                                     : oldLayout[static_cast<int>(random() % oldLayout.size())]);
            }
            rebuildAndCheck(m_Directory.filePath(u"random.bin"_qs), round, oldLayout, newLayout);
            if (QTest::currentTestFailed()) {
                qWarning() << "round" << round << "old" << oldLayout << "new" << newLayout;
            }
        }
        QLoggingCategory::setFilterRules(QString());
    }

    void chunkOfOtherLengthWithEqualHashIsNotReused() {
        // A document that claims a length the local content does not have would make the rebuild
        // copy the wrong number of bytes; that chunk is fetched instead.
        TChunkInPackage chunk;
        chunk.UnpackedHash = testsupport::sha256(block(3, 1));
        chunk.UnpackedSize = static_cast<TFileSize>(block(3, 1).size()) + 100;
        const TChunkInPackageVector chunks{chunk};
        TChunkMatcher matcher(chunks, u"local"_qs, {});
        matcher.feed(chunk.UnpackedHash, chunk.UnpackedSize - 100);
        QVERIFY(!matcher.found());
        QCOMPARE(matcher.records()[0].State, std::int32_t(TChunkReuse::NotFound));
    }

    void unreadableFileThrows() {
        // A directory where the file should be: the caller must learn that the file is unknown now.
        QVERIFY(QDir().mkpath(m_Directory.filePath(u"a-directory"_qs)));
        TChunkInPackage chunk;
        chunk.UnpackedSize = 100;
        const TChunkInPackageVector chunks{chunk};
        std::vector<TChunkReuse> records{{TChunkReuse::AtOtherOffset, 10, 0, 100, false}};
        TInPlaceRebuilder rebuilder(m_Directory.filePath(u"a-directory"_qs), chunks, records);
        QVERIFY_EXCEPTION_THROWN(rebuilder.rebuild(100), std::runtime_error);
    }

private:
    QTemporaryDir m_Directory;
};

LAUNCHER_TEST(TestInPlaceRebuilder)
#include "tst_inplacerebuilder.moc"
