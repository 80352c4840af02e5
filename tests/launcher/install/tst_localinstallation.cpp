// The installation on local files: difference scan, rebuild in place, verification, markers.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/chunkmatcher.h"
#include "launcher/install/inplacerebuilder.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/telemetry/funneleventsender.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QtTest>

#include <random>
#include <stdexcept>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

QJsonObject entry(const QString& LocalFile, const QByteArray& Content, QJsonObject Fields = {}) {
    Fields[u"localfile"_qs] = LocalFile;
    Fields[u"unpackedsize"_qs] = Content.size();
    Fields[u"unpackedhash"_qs] = QString::fromLatin1(sha256(Content).toHex());
    return Fields;
}

TPackageConfigurationReader document(const QJsonArray& Files, const QJsonArray& Chunks = {}) {
    const QUrl base(u"http://127.0.0.1:9/"_qs);
    const QJsonObject object{{u"version"_qs, u"1"_qs}, {u"files"_qs, Files}, {u"chunks"_qs, Chunks}};
    return TPackageConfigurationReader(QJsonDocument(object).toJson(), QByteArray(), base, base);
}

// Block n of a seed: 1 to 3000 bytes, always the same. A layout is a list of block names.
QByteArray block(quint32 Seed, int Name) {
    std::mt19937 sizes(Seed * 7919u + static_cast<quint32>(Name));
    return seededBytes(Seed * 104729u + static_cast<quint32>(Name), 1 + sizes() % 3000);
}

// Rebuilds the old layout's file for the new one, checking it against what the old blocks allow;
// returns the bytes that went through the staging file.
TFileSize rebuildAndCheck(const QString& Path, quint32 Seed, const QList<int>& Old, const QList<int>& New) {
    QByteArray old;
    for (const int name : Old) {
        old += block(Seed, name);
    }
    writeBytes(Path, old);
    TChunkInPackageVector chunks(static_cast<std::size_t>(New.size()));
    TFileSize size = 0;
    for (std::size_t index = 0; index < chunks.size(); ++index) {
        chunks[index].UnpackedHash = sha256(block(Seed, New[static_cast<int>(index)]));
        chunks[index].UnpackedSize = static_cast<TFileSize>(block(Seed, New[static_cast<int>(index)]).size());
        size += chunks[index].UnpackedSize;
    }
    TChunkMatcher matcher(chunks, Path, {});
    for (const int name : Old) {
        matcher.feed(sha256(block(Seed, name)), static_cast<TFileSize>(block(Seed, name).size()));
    }
    TInPlaceRebuilder rebuilder(Path, chunks, matcher.records());
    const std::vector<std::int32_t> missing = rebuilder.rebuild(size);

    const QByteArray result = readBytes(Path);
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

// "P2": the package document of version 2; "A8": the asset document of version 8 ("T8": written as
// text); "-": none; anything else stands for itself.
QByteArray content(const QString& Token) {
    const QString version = Token.mid(1);
    return Token == u"-"_qs         ? QByteArray()
           : Token.startsWith(u'P') ? QJsonDocument(QJsonObject{{u"version"_qs, version}}).toJson()
           : Token.startsWith(u'A') ? QJsonDocument(QJsonObject{{u"version"_qs, version.toInt()}}).toJson()
           : Token.startsWith(u'T') ? QJsonDocument(QJsonObject{{u"version"_qs, version}}).toJson()
                                    : Token.toUtf8();
}

void attach(const std::shared_ptr<TPackage>& Package, const QByteArray& PackageDoc,
            const QByteArray& AssetDoc) {
    const QUrl base(u"http://127.0.0.1/cdn/"_qs);
    Package->selectBuildForThisSystem()->Configuration =
        std::make_unique<TPackageConfigurationReader>(PackageDoc, AssetDoc, base, base);
}

} // namespace

class TestPackageInstallation : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false"_qs); }

    void init() { m_pWork = std::make_unique<QTemporaryDir>(); }

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

        TInstallationDriver driver(fileSystem(), installed(QString()));
        QSignalSpy progress(&driver.installation(), &TPackageInstallation::scanProgress);
        const TPackageDifference difference = driver.difference(target, before, false);
        QCOMPARE(difference.FilesToDelete.size(), std::size_t(1));
        QCOMPARE(difference.FilesToDelete[0].LocalFile, u"old.bin"_qs);
        QStringList listed;
        for (const TFileToDownload& file : difference.FilesToDownload) {
            // Without reusable content the local copy goes and every piece is fetched.
            listed << QFileInfo(installed(file.LocalFile)).fileName();
            QVERIFY(!QFileInfo::exists(installed(file.LocalFile)));
            QCOMPARE(file.ChunksToDownload.size(), file.Chunks.size());
            QCOMPARE(file.Chunks.size(), std::size_t(file.LocalFile == u"multi.bin"_qs ? 2 : 1));
        }
        listed.sort();
        QCOMPARE(listed, (QStringList{u"multi.bin"_qs, u"twice.bin"_qs, u"whole.bin"_qs}));
        QVERIFY(QFileInfo(installed(u"tool"_qs)).isExecutable());
        QVERIFY(QFileInfo(installed(u"empty.txt"_qs)).isFile());
        // Every local byte of the package's files is counted once.
        QCOMPARE(progress.last().at(0).value<TFileSize>(), TFileSize(3000 + 5000 + 100 + 700));
        QCOMPARE(progress.last().at(1).value<TFileSize>(), TFileSize(3000 + 5000 + 100 + 700));
    }

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
        QCOMPARE(rebuildAndCheck(m_pWork->filePath(u"known.bin"_qs), 11, oldBlocks, newBlocks) > 0,
                 needsStaging);
    }

    void rebuildsRandomLayouts() {
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
            rebuildAndCheck(m_pWork->filePath(u"random.bin"_qs), round, oldLayout, newLayout);
            if (QTest::currentTestFailed()) {
                qWarning() << "round" << round << "old" << oldLayout << "new" << newLayout;
            }
        }
    }

    void chunkOfOtherLengthWithEqualHashIsNotReused() {
        // A claimed length the local content lacks would make the rebuild copy the wrong bytes.
        TChunkInPackage chunk;
        chunk.UnpackedHash = sha256(block(3, 1));
        chunk.UnpackedSize = static_cast<TFileSize>(block(3, 1).size()) + 100;
        const TChunkInPackageVector chunks{chunk};
        TChunkMatcher matcher(chunks, u"local"_qs, {});
        matcher.feed(chunk.UnpackedHash, chunk.UnpackedSize - 100);
        QCOMPARE(matcher.records()[0].State, std::int32_t(TChunkReuse::NotFound));
    }

    void movesWaitForTheLastByteOfTheirSources() {
        // Bytes 0..9 move to 50; before that, nothing may overwrite them, byte 9 included.
        const QByteArray bytes = seededBytes(4, 200);
        QVERIFY(writeBytes(m_pWork->filePath(u"overlap.bin"_qs), bytes));
        const TChunkInPackageVector chunks(2);
        std::vector<TChunkReuse> records{{TChunkReuse::AtOtherOffset, 100, 9, 10, false},
                                         {TChunkReuse::AtOtherOffset, 0, 50, 10, false}};
        TInPlaceRebuilder(m_pWork->filePath(u"overlap.bin"_qs), chunks, records).rebuild(200);
        const QByteArray result = readBytes(m_pWork->filePath(u"overlap.bin"_qs));
        QCOMPARE(result.mid(9, 10) + result.mid(50, 10), bytes.mid(100, 10) + bytes.mid(0, 10));
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
        // The settings skip the check after a download, unless the user asked for it.
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
            disk = std::make_shared<TFailingFilesystem>(launcher(), EFailingOperation::PathInside);
        }
        TInstallationDriver driver(disk, installed(QString()));
        QVERIFY(driver.verify(document(files), force));
        QCOMPARE(driver.installation().errorReason(),
                 passes ? EPackageDownloaderError::NoError : EPackageDownloaderError::VerificationFailed);
        QCOMPARE(driver.installation().success(), passes);
    }

private:
    QString launcher() const { return m_pWork->filePath(u"launcher"_qs); }
    QString installed(const QString& Relative) const {
        return m_pWork->filePath(u"installation/"_qs + Relative);
    }
    std::shared_ptr<TLauncherFilesystemHelper> fileSystem(const QByteArray& Ini = QByteArray()) const {
        return makeLauncherFilesystem(launcher(), Ini);
    }

    std::unique_ptr<QTemporaryDir> m_pWork;
};

class TestInstallationManager : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_pWork = std::make_unique<QTemporaryDir>();
        m_pFileSystem = makeLauncherFilesystem(launcherDirectory(),
                                               launcherSettingsText(QUrl(u"http://127.0.0.1:9/l.json"_qs)));
        // "one" offers version 2 with assets 8; "elsewhere" is built for another system only;
        // "unconfigured" has no documents.
        QJsonArray packages;
        for (const QString& name : {u"one"_qs, u"elsewhere"_qs, u"unconfigured"_qs}) {
            const QJsonObject build{{u"os"_qs, name == u"elsewhere"_qs ? u"windows"_qs : u"linux"_qs},
                                    {u"architecture"_qs, u"x86_64"_qs}};
            packages.append(QJsonObject{
                {u"name"_qs, name}, {u"directoryname"_qs, name}, {u"builds"_qs, QJsonArray{build}}});
        }
        m_pConfiguration = std::make_shared<TLauncherConfigurationReader>(
            QJsonDocument(QJsonObject{{u"packages"_qs, packages}}).toJson(),
            QUrl(u"http://127.0.0.1/cdn/"_qs));
        attach(package(0), content(u"P2"_qs), content(u"A8"_qs));
    }

    void markersAndStatus_data() {
        // f, p, a: full and partial marker, asset document ("f/x=y": a directory). Rows without
        // operation read the markers; the others hand "P2" to it and list what it leaves.
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("assets");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("expected"); // the status, and the installed version as read
        const auto row = [](const char* Name, const char* Operation, const char* Before, const char* Assets,
                            const char* After, const char* Expected) {
            QTest::newRow(Name) << QString::fromLatin1(Operation)
                                << QString::fromLatin1(Before).split(u' ', Qt::SkipEmptyParts)
                                << QString::fromLatin1(Assets)
                                << QString::fromLatin1(After).split(u' ', Qt::SkipEmptyParts)
                                << QString::fromLatin1(Expected);
        };
        row("no marker", "", "a=A8", "A8", "", "1 -");
        row("partial marker", "", "p=P1 a=A8", "A8", "", "2 1");
        row("same version", "", "f=P2 a=A8", "A8", "", "4 2");
        row("asset version as number and as text", "", "f=P2 a=T8", "A8", "", "4 2");
        row("other package version", "", "f=P1 a=A8", "A8", "", "3 1");
        row("other asset version", "", "f=P2 a=A7", "A8", "", "3 2");
        row("asset version 1 always offers an update", "", "f=P2 a=A1", "A1", "", "3 2");
        row("asset version 10 is no special case", "", "f=P2 a=A10", "A10", "", "4 2");
        row("no asset documents at all", "", "f=P2", "-", "", "4 2");
        row("the full marker decides over the partial one", "", "f=P1 p=P2 a=A8", "A8", "", "3 1");
        // The installed pair stays together until the new version has arrived: never P1 beside A8.
        row("partial: the installed document becomes the marker", "partial", "f=P1 p=stale a=A7", "A8",
            "a=A7 p=P1", "2 1");
        row("partial: nothing installed, the given documents", "partial", "", "A8", "a=A8 p=P2", "2 2");
        row("partial: an interrupted run's marker stays", "partial", "p=interrupted a=A7", "-", "", "2 -");
        row("partial: markers that are directories go", "partial", "f/inner/x=x p/x=x", "A8", "a=A8 p=P2",
            "2 2");
        row("update partial: the document is replaced", "update", "p=P1", "A8", "a=A8 p=P2", "2 2");
        row("update partial: a full marker goes first", "update", "f=P1", "A8", "a=A8 p=P2", "2 2");
        // A version without asset document must not be described by an older version's one.
        row("update partial: an older asset document goes", "update", "a=A7", "-", "p=P2", "2 2");
        row("full: only the full marker stays", "full", "p=P2 a=A7", "A8", "a=A8 f=P2", "4 2");
        row("full: the directory is created; without asset document", "full", "", "-", "f=P2", "3 2");
        row("full: markers that are directories go", "full", "p/x=x f/x=x a/x=x", "A8", "a=A8 f=P2", "4 2");
    }

    void markersAndStatus() {
        QFETCH(QString, operation);
        QFETCH(QStringList, before);
        QFETCH(QString, assets);
        QFETCH(QStringList, after);
        QFETCH(QString, expected);
        const auto path = [this](const QString& Entry) {
            const QMap<QChar, QString> markers{
                {u'f', u"package.json"_qs}, {u'p', u"partial-package.json"_qs}, {u'a', u"assets.json"_qs}};
            return file(u"one/"_qs + markers.value(Entry[0]) + Entry.section(u'=', 0, 0).mid(1));
        };
        for (const QString& entry : before) {
            QVERIFY(writeBytes(path(entry), content(entry.section(u'=', 1))));
        }
        if (operation.isEmpty()) {
            attach(package(0), content(u"P2"_qs), content(assets));
        }
        QSignalSpy changed(package(0).get(), &TPackage::localPackageStatusChanged);
        const auto manager = makeManager(); // refreshes and stores the statuses
        apply(*manager, operation, content(assets));
        QStringList names;
        for (const QString& entry : after.isEmpty() ? before : after) {
            names << QFileInfo(path(entry)).fileName();
            QCOMPARE(readBytes(path(entry)), content(entry.section(u'=', 1)));
        }
        names.sort();
        QCOMPARE(QDir(directory("one")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
                 names);
        const QString read =
            manager->readPackageConfigurationFromInstallationDirectory(directory("one")).packageVersion();
        const std::int32_t status = manager->determinePackageStatus(package(0));
        QCOMPARE(QString::number(status) + u' ' + (read.isEmpty() ? u"-"_qs : read), expected);
        if (operation.isEmpty()) {
            manager->refreshPackageStatuses(); // the status stored already: nothing to tell
            QCOMPARE(changed.count(), 1);
        } else {
            QCOMPARE(package(0)->localStatus(),
                     operation == u"full"_qs ? TPackage::StatusUpToDate : TPackage::StatusPartiallyInstalled);
        }
    }

    // Whichever write or removal fails, the markers never pair one version's document with the other's
    // assets.
    void neverAMixedPair_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("failing");
        QTest::addColumn<QString>("failingPath");
        for (const char* operation : {"partial", "update", "full"}) {
            for (const char* path : {"/assets.json", "/package.json"}) {
                for (const EFailingOperation failing :
                     {EFailingOperation::Write, EFailingOperation::Remove}) {
                    QTest::addRow("%s, %d at %s", operation, int(failing), path)
                        << QString::fromLatin1(operation) << int(failing) << QString::fromLatin1(path);
                }
            }
        }
    }

    void neverAMixedPair() {
        QFETCH(QString, operation);
        QFETCH(int, failing);
        QFETCH(QString, failingPath);
        QVERIFY(writeBytes(file(operation == u"partial"_qs ? "one/package.json" : "one/partial-package.json"),
                           content(u"P1"_qs)));
        QVERIFY(writeBytes(file("one/assets.json"), content(u"A7"_qs)));
        const auto disk = std::make_shared<TFailingFilesystem>(
            launcherDirectory(), EFailingOperation(failing), TFailingFilesystem::endingIn(failingPath));
        disk->Armed = false;
        m_pFileSystem = disk;
        const auto manager = makeManager();
        disk->Armed = true;
        try {
            apply(*manager, operation, content(u"A8"_qs));
        } catch (const std::runtime_error&) {
        }
        disk->Armed = false;
        const TPackageConfigurationReader pair =
            manager->readPackageConfigurationFromInstallationDirectory(directory("one"));
        const QString found = pair.packageVersion() + u'/' + pair.assetVersion();
        QVERIFY2(found == u"1/7" || found == u"2/8" || found == u"/", qPrintable(found));
    }

    void failingWriteKeepsTheInstalledDocument() {
        m_pFileSystem =
            std::make_shared<TFailingFilesystem>(launcherDirectory(), EFailingOperation::Write,
                                                 TFailingFilesystem::endingIn(u"/partial-package.json"_qs));
        QVERIFY(writeBytes(file("one/package.json"), content(u"P2"_qs)));
        QVERIFY(writeBytes(file("one/assets.json"), content(u"A8"_qs)));
        const auto manager = makeManager();
        QString error;
        connect(manager.get(), &TInstallationManager::installationOrUpdateFinished, this,
                [&error](const TPackageInstallation& Run) { error = Run.errorText(); });
        manager->installOrUpdatePackage(package(0));
        QTRY_VERIFY(manager->installationsInProgress().empty());
        QVERIFY2(error.contains(u"No space left on device"_qs), qPrintable(error));
        // The installed document is still in place, so the package still counts as installed.
        QCOMPARE(readBytes(file("one/package.json")), content(u"P2"_qs));
        QCOMPARE(package(0)->localStatus(), TPackage::StatusUpToDate);
    }

    void requestsWithoutConfigurationOrInstallationAreIgnored() {
        QVERIFY(writeBytes(file("elsewhere/package.json"), content(u"P2"_qs)));
        const auto manager = makeManager();
        QCOMPARE(package(1)->localStatus(), TPackage::StatusNotInstalled);
        int started = 0;
        connect(manager.get(), &TInstallationManager::installationOrUpdateStarted, this,
                [&started] { ++started; });
        manager->installOrUpdatePackage(package(2));
        manager->verifyPackage(package(1));
        // Nothing is installed: a check of nothing must not make the package count as installed.
        manager->verifyPackage(package(0));
        QTRY_VERIFY(manager->installationsInProgress().empty());
        QCOMPARE(started, 0);
        QVERIFY(!QFileInfo::exists(directory("one")) && !QFileInfo::exists(directory("unconfigured")));
    }

    void pausedUpdateOutlivesTheLauncher() {
        TFunnelEventSender::userSettingsStore()->setValue(u"pausedUpdates/one"_qs, true);
        QVERIFY(!pausedAtStart()); // nothing begun: nothing to resume
        QVERIFY(writeBytes(file("one/partial-package.json"), content(u"P1"_qs)));
        QVERIFY(pausedAtStart());
        TFunnelEventSender::userSettingsStore()->remove(u"pausedUpdates/one"_qs);
        QVERIFY(!pausedAtStart());
    }

private:
    QString launcherDirectory() const { return m_pWork->filePath(u"launcher"_qs); }
    QString directory(const char* Name) const {
        return launcherDirectory() + u"/packages/"_qs + QLatin1String(Name);
    }
    QString file(const QString& Path) const { return launcherDirectory() + u"/packages/"_qs + Path; }
    QString file(const char* Path) const { return file(QString::fromLatin1(Path)); }
    std::unique_ptr<TInstallationManager> makeManager() const {
        return std::make_unique<TInstallationManager>(m_pConfiguration, m_pFileSystem);
    }
    std::shared_ptr<TPackage> package(int Index) const { return m_pConfiguration->packages().at(Index); }
    bool pausedAtStart() const { return makeManager() && package(0)->isUpdatePaused(); }
    // Hands "P2" and the assets to the manager's marker operation of that name.
    void apply(TInstallationManager& Manager, const QString& Operation, const QByteArray& Assets) const {
        if (Operation == u"partial"_qs) {
            Manager.markPackageAsPartiallyInstalled(package(0), content(u"P2"_qs), Assets);
        } else if (Operation == u"update"_qs) {
            Manager.updatePartiallyInstalledPackage(package(0), content(u"P2"_qs), Assets);
        } else if (Operation == u"full"_qs) {
            Manager.markPackageAsFullyInstalled(package(0), content(u"P2"_qs), Assets);
        }
    }

    std::unique_ptr<QTemporaryDir> m_pWork;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
};

LAUNCHER_TEST(TestPackageInstallation)
LAUNCHER_TEST(TestInstallationManager)
#include "tst_localinstallation.moc"
