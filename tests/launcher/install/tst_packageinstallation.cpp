// One package installation on local files only: what the difference scan makes of a directory and
// of hostile names, how a file is rebuilt in place from the chunks it holds, obsolete files that
// cannot be deleted, and the verification of an installation. Downloads against a server are in
// tst_installationmanagerruns.
#include "launcher/install/chunkmatcher.h"
#include "launcher/install/inplacerebuilder.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QtTest>

#include <random>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::seededBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

QJsonObject entry(const QString& LocalFile, const QByteArray& Content, QJsonObject Fields = {}) {
    Fields[u"localfile"_qs] = LocalFile;
    Fields[u"unpackedsize"_qs] = Content.size();
    Fields[u"unpackedhash"_qs] = QString::fromLatin1(testsupport::sha256(Content).toHex());
    return Fields;
}

TPackageConfigurationReader document(const QJsonArray& Files, const QJsonArray& Chunks = {}) {
    const QUrl base(u"http://127.0.0.1:9/"_qs);
    const QJsonObject object{{u"version"_qs, u"1"_qs}, {u"files"_qs, Files}, {u"chunks"_qs, Chunks}};
    return TPackageConfigurationReader(QJsonDocument(object).toJson(), QByteArray(), base, base);
}

QStringList names(const TFileToDownloadVector& Files) {
    QStringList list;
    for (const TFileToDownload& file : Files) {
        list << file.LocalFile;
    }
    list.sort();
    return list;
}

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

class TestPackageInstallation : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false"_qs); }

    void init() {
        m_pWork = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(installed(QString())));
    }

    void differenceOfALocalDirectory() {
        const QByteArray tool = seededBytes(1, 3000), whole = seededBytes(2, 5000),
                         part = seededBytes(3, 700);
        QVERIFY(writeBytes(installed(u"tool"_qs), tool)); // right, but not executable
        QVERIFY(writeBytes(installed(u"whole.bin"_qs), seededBytes(4, 5000)));
        QVERIFY(writeBytes(installed(u"multi.bin"_qs), seededBytes(5, 100)));
        QVERIFY(writeBytes(installed(u"data/inside.bin"_qs), part));
        QVERIFY(writeBytes(installed(u"old.bin"_qs), "obsolete"));
        const QJsonArray chunks{entry(QString(), part, {{u"url"_qs, u"c0"_qs}}),
                                entry(QString(), whole, {{u"url"_qs, u"c1"_qs}})};
        const TPackageConfigurationReader target =
            document({entry(u"tool"_qs, tool, {{u"executable"_qs, true}}),
                      entry(u"whole.bin"_qs, whole, {{u"url"_qs, u"w"_qs}}),
                      entry(u"multi.bin"_qs, part + whole, {{u"chunks"_qs, QJsonArray{0, 1}}}),
                      // Two names for one file would have two workers write it at once.
                      entry(u"twice.bin"_qs, part, {{u"url"_qs, u"t"_qs}}),
                      entry(u"sub/../twice.bin"_qs, part, {{u"url"_qs, u"t"_qs}}),
                      entry(u"empty.txt"_qs, QByteArray()), entry(u"data/inside.bin"_qs, part)},
                     chunks);
        // Old names for the package directory itself or for a directory of the new version stay.
        const TPackageConfigurationReader before =
            document({entry(u"data"_qs, "x"), entry(QString(), "x"), entry(u"."_qs, "x"),
                      entry(u"data/.."_qs, "x"), entry(u"old.bin"_qs, "x"), entry(u"tool"_qs, tool)});
        QVERIFY(target.isValid() && before.isValid());

        testsupport::TInstallationDriver driver(fileSystem(), installed(QString()));
        QSignalSpy progress(&driver.installation(), &TPackageInstallation::scanProgress);
        const TPackageDifference difference = driver.difference(target, before, false);
        QCOMPARE(difference.FilesToDelete.size(), std::size_t(1));
        QCOMPARE(difference.FilesToDelete[0].LocalFile, u"old.bin"_qs);
        QCOMPARE(names(difference.FilesToDownload).join(u' ').remove(u"sub/../"_qs),
                 u"multi.bin twice.bin whole.bin"_qs);
        for (const TFileToDownload& file : difference.FilesToDownload) {
            // Without reusable content the local copy goes and every piece is fetched, a file with
            // a whole-file piece as that piece.
            QVERIFY(!QFileInfo::exists(installed(file.LocalFile)));
            QCOMPARE(file.ChunksToDownload.size(), file.Chunks.size());
            QCOMPARE(file.Chunks.size(), std::size_t(file.LocalFile == u"multi.bin"_qs ? 2 : 1));
        }
        QVERIFY(QFileInfo(installed(u"tool"_qs)).isExecutable());
        QVERIFY(QFileInfo(installed(u"empty.txt"_qs)).isFile());
        // Every local byte of the package's files is counted once.
        QCOMPARE(progress.last().at(0).value<TFileSize>(), TFileSize(3000 + 5000 + 100 + 700));
        QCOMPARE(progress.last().at(1).value<TFileSize>(), TFileSize(3000 + 5000 + 100 + 700));
    }

    void obsoleteFileThatCannotBeDeleted_data() {
        QTest::addColumn<bool>("selfUpdateMode");
        QTest::newRow("install: the run stops before any download") << false;
        QTest::newRow("self-update: moved aside to .old") << true;
    }

    void obsoleteFileThatCannotBeDeleted() {
        QFETCH(bool, selfUpdateMode);
        QVERIFY(writeBytes(installed(u"kept.txt"_qs), "kept"));
        QVERIFY(writeBytes(installed(u"helper"_qs), "running helper"));
        QVERIFY(writeBytes(installed(u"helper.old"_qs), "older backup"));
        fileSystem(); // the settings the failing helper reads
        auto undeletable = std::make_shared<testsupport::TFailingFilesystem>(
            launcher(), testsupport::EFailingOperation::Remove,
            [](const QString& Path) { return !Path.endsWith(u".old"_qs); });
        testsupport::TInstallationDriver driver(undeletable, installed(QString()), selfUpdateMode);
        QVERIFY(driver.install(document({entry(u"kept.txt"_qs, "kept")}),
                               document({entry(u"helper"_qs, "x")}), false));
        QCOMPARE(driver.diskAccessError().isEmpty(), selfUpdateMode);
        QCOMPARE(driver.downloadFinishedCount(), selfUpdateMode ? 1 : 0);
        QCOMPARE(QFileInfo::exists(installed(u"helper"_qs)), !selfUpdateMode);
        QCOMPARE(readBytes(installed(u"helper.old"_qs)),
                 QByteArray(selfUpdateMode ? "running helper" : "older backup"));
    }

    void verification_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("force"); // a verification the user asked for
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("passes");
        QTest::newRow("complete") << QString() << true << QByteArray() << true;
        QTest::newRow("a flipped byte") << u"flip"_qs << true << QByteArray() << false;
        QTest::newRow("a missing file") << u"missing"_qs << true << QByteArray() << false;
        QTest::newRow("a worker that throws") << u"throw"_qs << true << QByteArray() << false;
        // The settings skip the check after a download, and it reads nothing then.
        QTest::newRow("skipped") << u"flip"_qs << false << QByteArray() << true;
        QTest::newRow("not skipped") << u"flip"_qs << false
                                     << QByteArray("[OPTIONS]\nskipVerification=false\n") << false;
    }

    void verification() {
        QFETCH(QString, damage);
        QFETCH(bool, force);
        QFETCH(QByteArray, ini);
        QFETCH(bool, passes);
        QByteArray bytes = seededBytes(1, 3 * 1024 * 1024 + 17);
        QJsonArray files;
        for (const QString& name : {u"a.bin"_qs, u"b.bin"_qs, u"c.bin"_qs}) {
            files.append(entry(name, bytes));
            QVERIFY(writeBytes(installed(name), bytes));
        }
        bytes[1000] = static_cast<char>(bytes[1000] ^ 0x20);
        QVERIFY(damage != u"flip"_qs || writeBytes(installed(u"b.bin"_qs), bytes));
        QVERIFY(damage != u"missing"_qs || QFile::remove(installed(u"b.bin"_qs)));
        std::shared_ptr<TLauncherFilesystemHelper> disk = fileSystem(ini);
        if (damage == u"throw"_qs) {
            disk = std::make_shared<testsupport::TFailingFilesystem>(
                launcher(), testsupport::EFailingOperation::PathInside);
        }
        testsupport::TInstallationDriver driver(disk, installed(QString()));
        QSignalSpy progress(&driver.installation(), &TPackageInstallation::verificationProgress);
        QVERIFY(driver.verify(document(files), force));
        QCOMPARE(driver.installation().errorReason(),
                 passes ? EPackageDownloaderError::NoError : EPackageDownloaderError::VerificationFailed);
        QCOMPARE(driver.installation().success(), passes);
        if (passes) {
            QCOMPARE(progress.isEmpty() ? TFileSize(0) : progress.last().at(0).value<TFileSize>(),
                     TFileSize(force ? 3 * bytes.size() : 0));
        }
    }

private:
    QString launcher() const { return m_pWork->filePath(u"launcher"_qs); }
    QString installed(const QString& Relative) const {
        return m_pWork->filePath(u"installation/"_qs + Relative);
    }
    std::shared_ptr<TLauncherFilesystemHelper> fileSystem(const QByteArray& Ini = QByteArray()) const {
        return testsupport::makeLauncherFilesystem(launcher(), Ini);
    }

    std::unique_ptr<QTemporaryDir> m_pWork;
};

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

LAUNCHER_TEST(TestPackageInstallation)
LAUNCHER_TEST(TestInPlaceRebuilder)
#include "tst_packageinstallation.moc"
