#include "launcher/install/chunkmatcher.h"
#include "launcher/install/inplacerebuilder.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCryptographicHash>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

// A file layout made of named blocks; the same name always stands for the same bytes.
struct TLayout {
    QList<int> Blocks;
};

class TBlockPool {
public:
    explicit TBlockPool(quint32 Seed)
        : m_Seed(Seed) {}
    // Block n has a size between 1 and 3000 bytes, fixed by n.
    QByteArray block(int Name) const {
        std::mt19937 sizes(m_Seed * 7919u + static_cast<quint32>(Name));
        const int size = 1 + static_cast<int>(sizes() % 3000);
        return testsupport::seededBytes(m_Seed * 104729u + static_cast<quint32>(Name), size);
    }
    QByteArray content(const TLayout& Layout) const {
        QByteArray bytes;
        for (const int name : Layout.Blocks) {
            bytes += block(name);
        }
        return bytes;
    }
    TChunkInPackageVector chunks(const TLayout& Layout) const {
        TChunkInPackageVector chunks;
        for (const int name : Layout.Blocks) {
            TChunkInPackage chunk;
            const QByteArray bytes = block(name);
            chunk.Url = QUrl(u"http://127.0.0.1/chunks/%1"_qs.arg(name));
            chunk.UnpackedHash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
            chunk.UnpackedSize = static_cast<TFileSize>(bytes.size());
            chunks.push_back(chunk);
        }
        return chunks;
    }

private:
    quint32 m_Seed;
};

struct TRebuildOutcome {
    std::vector<std::int32_t> Missing;
    TFileSize StagedBytes = 0;
    QByteArray Content;
};

// Feeds the old file's blocks to a matcher (as the chunker would cut them) and rebuilds.
TRebuildOutcome rebuild(const TBlockPool& Pool, const TLayout& Old, const TLayout& New, const QString& Path) {
    testsupport::writeBytes(Path, Pool.content(Old));
    const TChunkInPackageVector chunks = Pool.chunks(New);
    TChunkMatcher matcher(chunks, Path, {});
    for (const int name : Old.Blocks) {
        const QByteArray bytes = Pool.block(name);
        matcher.feed(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256),
                     static_cast<TFileSize>(bytes.size()));
    }
    TFileSize size = 0;
    for (const TChunkInPackage& chunk : chunks) {
        size += chunk.UnpackedSize;
    }
    TInPlaceRebuilder rebuilder(Path, chunks, matcher.records());
    TRebuildOutcome outcome;
    outcome.Missing = rebuilder.rebuild(size);
    outcome.StagedBytes = rebuilder.stagedBytes();
    outcome.Content = testsupport::readBytes(Path);
    return outcome;
}

// The chunks of New that Old does not hold, and the bytes every other chunk must have.
void checkAgainstOracle(const TBlockPool& Pool, const TLayout& Old, const TLayout& New,
                        const TRebuildOutcome& Outcome) {
    std::vector<std::int32_t> expectedMissing;
    for (int index = 0; index < New.Blocks.size(); ++index) {
        if (!Old.Blocks.contains(New.Blocks[index])) {
            expectedMissing.push_back(index);
        }
    }
    QCOMPARE(Outcome.Missing, expectedMissing);
    const QByteArray wanted = Pool.content(New);
    const QByteArray oldContent = Pool.content(Old);
    int offset = 0;
    int writtenEnd = 0;
    for (int index = 0; index < New.Blocks.size(); ++index) {
        const QByteArray block = Pool.block(New.Blocks[index]);
        if (std::find(expectedMissing.begin(), expectedMissing.end(), index) == expectedMissing.end()) {
            QVERIFY2(Outcome.Content.mid(offset, block.size()) == block,
                     qPrintable(u"chunk %1 is not in place"_qs.arg(index)));
        }
        offset += block.size();
        if (std::find(expectedMissing.begin(), expectedMissing.end(), index) == expectedMissing.end()) {
            writtenEnd = std::max(writtenEnd, offset);
        }
    }

    // A file that got shorter is cut; a longer one ends where its last present chunk ends.
    const int expectedSize =
        oldContent.size() > wanted.size() ? wanted.size() : std::max(oldContent.size(), writtenEnd);
    QCOMPARE(Outcome.Content.size(), expectedSize);
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
        QTest::newRow("replaced near the start")
            << QList<int>{1, 2, 3, 4} << QList<int>{1, 8, 9, 3, 4} << false;
        QTest::newRow("two chunks swap places") << QList<int>{1, 2} << QList<int>{2, 1} << true;
        QTest::newRow("rotation") << QList<int>{1, 2, 3, 4, 5} << QList<int>{5, 1, 2, 3, 4} << true;
        QTest::newRow("one local chunk serves two places")
            << QList<int>{1, 2} << QList<int>{2, 2, 1, 2} << true;
        QTest::newRow("nothing reusable") << QList<int>{1, 2} << QList<int>{3, 4} << false;
        QTest::newRow("shorter: cut") << QList<int>{1, 2, 3, 4} << QList<int>{1, 2} << false;
        QTest::newRow("longer: appended chunk missing") << QList<int>{1, 2} << QList<int>{1, 2, 3} << false;
        QTest::newRow("reversed") << QList<int>{1, 2, 3, 4, 5, 6} << QList<int>{6, 5, 4, 3, 2, 1} << true;
    }

    void rebuildsKnownLayouts() {
        QFETCH(QList<int>, oldBlocks);
        QFETCH(QList<int>, newBlocks);
        QFETCH(bool, needsStaging);
        const TBlockPool pool(11);
        const TLayout oldLayout{oldBlocks};
        const TLayout newLayout{newBlocks};
        const TRebuildOutcome outcome =
            rebuild(pool, oldLayout, newLayout, m_Directory.filePath(u"known.bin"_qs));
        checkAgainstOracle(pool, oldLayout, newLayout, outcome);
        // Moves that can be ordered never go through the staging file.
        QCOMPARE(outcome.StagedBytes > 0, needsStaging);
    }

    void rebuildsRandomLayoutsLikeAnOracle() {
        // Thousands of reuse lines would drown the report.
        QLoggingCategory::setFilterRules(u"default.info=false"_qs);
        std::mt19937 random(20240601);
        for (int round = 0; round < 300; ++round) {
            const TBlockPool pool(static_cast<quint32>(round + 1));
            TLayout oldLayout;
            TLayout newLayout;
            const int oldCount = 1 + static_cast<int>(random() % 12);
            for (int index = 0; index < oldCount; ++index) {
                oldLayout.Blocks.append(static_cast<int>(random() % 10));
            }
            const int newCount = 1 + static_cast<int>(random() % 12);
            for (int index = 0; index < newCount; ++index) {
                // Mostly old content in a new order, some new content, some repeats.
                newLayout.Blocks.append(random() % 4 == 0
                                            ? 10 + static_cast<int>(random() % 5)
                                            : oldLayout.Blocks[static_cast<int>(random() % oldCount)]);
            }
            const TRebuildOutcome outcome =
                rebuild(pool, oldLayout, newLayout, m_Directory.filePath(u"random.bin"_qs));
            checkAgainstOracle(pool, oldLayout, newLayout, outcome);
            if (QTest::currentTestFailed()) {
                qWarning() << "round" << round << "old" << oldLayout.Blocks << "new" << newLayout.Blocks;
                break;
            }
        }
        QLoggingCategory::setFilterRules(QString());
    }

    void matcherRecordsStates() {
        const TBlockPool pool(5);
        const TChunkInPackageVector chunks = pool.chunks(TLayout{{1, 2, 1}});
        TFileSize scanned = 0;
        TChunkMatcher matcher(chunks, u"local"_qs, [&scanned](TFileSize Length) { scanned += Length; });
        const QByteArray block2 = pool.block(2);
        const QByteArray block1 = pool.block(1);
        // Local file: [2][1]. Block 2 sits at offset 0 but belongs at size(1); block 1 sits at size(2).
        matcher.feed(QCryptographicHash::hash(block2, QCryptographicHash::Sha256), block2.size());
        QVERIFY(matcher.found());
        QCOMPARE(matcher.records()[1].State, std::int32_t(TChunkReuse::AtOtherOffset));
        QCOMPARE(matcher.records()[1].SourceOffset, TFileSize(0));
        QCOMPARE(matcher.records()[1].TargetOffset, TFileSize(block1.size()));
        matcher.feed(QCryptographicHash::hash(block1, QCryptographicHash::Sha256), block1.size());
        // Both places of block 1 are served by the one local copy.
        QCOMPARE(matcher.records()[0].State, std::int32_t(TChunkReuse::AtOtherOffset));
        QCOMPARE(matcher.records()[2].State, std::int32_t(TChunkReuse::AtOtherOffset));
        QCOMPARE(matcher.records()[0].SourceOffset, TFileSize(block2.size()));
        QCOMPARE(matcher.records()[2].SourceOffset, TFileSize(block2.size()));
        QCOMPARE(matcher.records()[2].Size, TFileSize(block1.size()));
        QCOMPARE(scanned, TFileSize(block1.size() + block2.size()));

        // A chunk found elsewhere first and later at its own offset ends up in place.
        const TChunkInPackageVector twice = pool.chunks(TLayout{{3, 3}});
        TChunkMatcher upgrade(twice, u"local"_qs, {});
        const QByteArray block3 = pool.block(3);
        const QByteArray hash3 = QCryptographicHash::hash(block3, QCryptographicHash::Sha256);
        upgrade.feed(hash3, block3.size());
        QCOMPARE(upgrade.records()[0].State, std::int32_t(TChunkReuse::AtTargetOffset));
        QCOMPARE(upgrade.records()[1].State, std::int32_t(TChunkReuse::AtOtherOffset));
        upgrade.feed(hash3, block3.size());
        QCOMPARE(upgrade.records()[1].State, std::int32_t(TChunkReuse::AtTargetOffset));
    }

    void chunkOfOtherLengthWithEqualHashIsNotReused() {
        // A document that claims a length the local content does not have would make the rebuild
        // copy the wrong number of bytes; that chunk is fetched instead.
        const TBlockPool pool(3);
        TChunkInPackageVector chunks = pool.chunks(TLayout{{1, 2}});
        chunks[0].UnpackedSize += 100;
        TChunkMatcher matcher(chunks, u"local"_qs, {});
        const QByteArray block1 = pool.block(1);
        matcher.feed(QCryptographicHash::hash(block1, QCryptographicHash::Sha256), block1.size());
        QVERIFY(!matcher.found());
        QCOMPARE(matcher.records()[0].State, std::int32_t(TChunkReuse::NotFound));
    }

    void unreadableFileThrows() {
        // A directory where the file should be: the rebuild reports it instead of pretending.
        const QString path = m_Directory.filePath(u"a-directory"_qs);
        QVERIFY(QDir().mkpath(path));
        const TBlockPool pool(2);
        const TChunkInPackageVector chunks = pool.chunks(TLayout{{1, 2}});
        std::vector<TChunkReuse> records(2);
        records[0] = {TChunkReuse::AtOtherOffset, 10, 0, chunks[0].UnpackedSize, false};
        TInPlaceRebuilder rebuilder(path, chunks, records);
        QVERIFY_EXCEPTION_THROWN(rebuilder.rebuild(100), std::runtime_error);
    }

private:
    QTemporaryDir m_Directory;
};

LAUNCHER_TEST(TestInPlaceRebuilder)
#include "tst_inplacerebuilder.moc"
