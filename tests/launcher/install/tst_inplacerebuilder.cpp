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

// Feeds the old file's blocks to a matcher, as the chunker would cut them, rebuilds the file for
// the new layout and checks what must come out: every new chunk the old file holds is in place,
// the others are reported missing, and the file is cut when it got shorter. Returns the bytes that
// went through the staging file.
TFileSize rebuildAndCheck(const QString& Path, quint32 Seed, const QList<int>& Old, const QList<int>& New) {
    QByteArray old;
    for (const int name : Old) {
        old += block(Seed, name);
    }
    testsupport::writeBytes(Path, old);
    TChunkInPackageVector chunks(static_cast<std::size_t>(New.size()));
    TFileSize size = 0;
    for (std::size_t index = 0; index < chunks.size(); ++index) {
        chunks[index].UnpackedHash = testsupport::sha256(block(Seed, New[static_cast<int>(index)]));
        chunks[index].UnpackedSize = static_cast<TFileSize>(block(Seed, New[static_cast<int>(index)]).size());
        size += chunks[index].UnpackedSize;
    }
    TChunkMatcher matcher(chunks, Path, {});
    for (const int name : Old) {
        matcher.feed(testsupport::sha256(block(Seed, name)),
                     static_cast<TFileSize>(block(Seed, name).size()));
    }
    TInPlaceRebuilder rebuilder(Path, chunks, matcher.records());
    const std::vector<std::int32_t> missing = rebuilder.rebuild(size);

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
    QTest::qCompare(missing, expectedMissing, "missing", "expected", __FILE__, __LINE__);
    QTest::qCompare(result.size(), old.size() > offset ? offset : std::max(old.size(), presentEnd), "size",
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
        const auto row = [](const char* Name, QList<int> Old, QList<int> New, bool Staging) {
            QTest::newRow(Name) << Old << New << Staging;
        };
        row("identical", {1, 2, 3}, {1, 2, 3}, false);
        row("inserted at the start: moved forward", {1, 2, 3, 4}, {9, 1, 2, 3, 4}, false);
        row("deleted at the start: moved backward, cut", {9, 1, 2, 3, 4}, {1, 2, 3, 4}, false);
        row("two chunks swap places", {1, 2}, {2, 1}, true);
        row("rotation", {1, 2, 3, 4, 5}, {5, 1, 2, 3, 4}, true);
        row("one local chunk serves two places", {1, 2}, {2, 2, 1, 2}, true);
        row("nothing reusable", {1, 2}, {3, 4}, false);
        row("longer: appended chunk missing", {1, 2}, {1, 2, 3}, false);
    }

    void rebuildsKnownLayouts() {
        QFETCH(QList<int>, oldBlocks);
        QFETCH(QList<int>, newBlocks);
        QFETCH(bool, needsStaging);
        // Moves that can be ordered never go through the staging file.
        QCOMPARE(rebuildAndCheck(m_Directory.filePath(u"known.bin"_qs), 11, oldBlocks, newBlocks) > 0,
                 needsStaging);
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

private:
    QTemporaryDir m_Directory;
};

LAUNCHER_TEST(TestInPlaceRebuilder)
#include "tst_inplacerebuilder.moc"
