// Installation manager runs against nginx serving a publisher-made game, markers seen at every stage.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagedownloadererror.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/freespacecheck.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include <cstdio>

Q_DECLARE_METATYPE(testsupport::EFailingOperation)

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

const int RunTimeoutMs = 120000;
const char DriverOption[] = "--drive-installation";
const QString FullDisk = u"No space left on device"_qs;

QString markerVersion(const QString& Path) {
    const QByteArray document = readBytes(Path);
    return document.isEmpty() ? u"-"_qs
                              : QJsonDocument::fromJson(document).object()[u"version"_qs].toString();
}

// Everything a run tells, in order: "<event> <status> <full>/<partial>" with the package's status
// and its markers' versions then ("-": none); funnel milestones as "<step>/<first-time key>".
struct TRunLog {
    TRunLog(TInstallationManager& Manager, const std::shared_ptr<TPackage>& Package)
        : m_Manager(Manager) {
        const auto record = [this, &Manager, Package](const QString& Event) {
            const QString directory = Manager.packageDirectory(Package).absolutePath() + u'/';
            Events << Event + u' ' + QString::number(Package->localStatus()) + u' ' +
                          markerVersion(directory + u"package.json"_qs) + u'/' +
                          markerVersion(directory + u"partial-package.json"_qs);
        };
        const auto on = [this, &Manager, record](auto Signal, const QString& Event) {
            QObject::connect(&Manager, Signal, &m_Scope, [this, record, Event] {
                All = All || Event == u"all"_qs;
                record(Event);
            });
        };
        on(&TInstallationManager::installationOrUpdateStarted, u"started"_qs);
        on(&TInstallationManager::allStartedUpdatesFinished, u"all"_qs);
        QObject::connect(&Manager, &TInstallationManager::installationOrUpdateFinished, &m_Scope,
                         [this, record](const TPackageInstallation& Run) {
                             ErrorReason =
                                 Run.success() ? EPackageDownloaderError::NoError : Run.errorReason();
                             ErrorText = Run.errorText();
                             Downloaded = Run.packageFileDownloader()->downloadedBytes();
                             TotalToDownload = Run.packageFileDownloader()->totalBytesToDownload();
                             Seeded = Run.packageFileDownloader()->seededBytes();
                             record(u"finished"_qs);
                         });
        QObject::connect(&Manager, &TInstallationManager::diskAccessFailed, &m_Scope,
                         [record](const QString& Message) { record(u"disk "_qs + Message); });
        Manager.setFunnelEventSink(
            [record](const QString& Step, const QString& Key) { record(Step + u'/' + Key); });
    }
    ~TRunLog() { m_Manager.setFunnelEventSink(nullptr); }

    QStringList Events;
    EPackageDownloaderError ErrorReason = EPackageDownloaderError::DownloadFailed;
    QString ErrorText;
    TFileSize Downloaded = 0;
    TFileSize TotalToDownload = 0;
    TFileSize Seeded = 0;
    bool All = false;

private:
    TInstallationManager& m_Manager;
    QObject m_Scope;
};

// One start of the launcher: the configuration as the server offers it now, and a manager.
struct TStart {
    explicit TStart(const std::shared_ptr<TLauncherFilesystemHelper>& FileSystem, std::size_t Index = 0,
                    QString Error = {})
        : Configuration(loadLauncherConfiguration(FileSystem, Error))
        , Manager(Configuration, FileSystem)
        , Game(Configuration->packages().at(Index)) {}

    // Runs an installation or update, or a verification, to its end; During right after the start.
    std::unique_ptr<TRunLog> run(
        bool Verify = false, const std::function<void()>& During = [] {}) {
        auto log = std::make_unique<TRunLog>(Manager, Game);
        if (Verify) {
            Manager.verifyPackage(Game);
        } else {
            Manager.installOrUpdatePackage(Game);
        }
        During();
        if (!QTest::qWaitFor([&log] { return log->All; }, RunTimeoutMs)) {
            QTest::qFail("the run did not end", __FILE__, __LINE__);
        }
        // The run's objects, which clear its staging folder, go now rather than during a later run.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return log;
    }

    std::shared_ptr<TLauncherConfigurationReader> Configuration;
    TInstallationManager Manager;
    std::shared_ptr<TPackage> Game;
};

// Every file below the folders with its bytes, by its path below its folder.
QMap<QString, QByteArray> contents(const QStringList& Folders) {
    QMap<QString, QByteArray> files;
    for (const QString& folder : Folders) {
        for (QDirIterator file(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             file.hasNext();) {
            const QString path = file.next();
            files.insert(QDir(folder).relativeFilePath(path), readBytes(path));
        }
    }
    return files;
}

void flipByte(const QString& Path, int Offset = 10 * 1024 * 1024) {
    QByteArray bytes = readBytes(Path);
    bytes[Offset] = static_cast<char>(bytes[Offset] ^ 0x5A);
    QVERIFY(writeBytes(Path, bytes));
}

// The pieces a fresh installation of Target fetches, by path, whose content Held lacks.
QSet<QString> piecesNotHeld(const TPackageConfigurationReader& Target, const QSet<QByteArray>& Held) {
    QSet<QString> pieces;
    for (const TFileInPackage& file : Target.files()) {
        if (file.Chunks.size() < 2) {
            if (file.Size > 0 && !Held.contains(file.Hash)) {
                pieces.insert(file.WholeFile.Url.path());
            }
            continue;
        }
        for (const std::int32_t index : file.Chunks) {
            const TChunkInPackage& chunk = Target.chunks()[static_cast<std::size_t>(index)];
            if (!Held.contains(chunk.UnpackedHash)) {
                pieces.insert(chunk.Url.path());
            }
        }
    }
    return pieces;
}

// Every content of the installed files as their document describes them, less the ones whose
// bytes no longer have that hash.
QSet<QByteArray> heldContents(const TPackageConfigurationReader& Installed, const QString& Directory) {
    QSet<QByteArray> held;
    for (const TFileInPackage& file : Installed.files()) {
        const QByteArray bytes = readBytes(Directory + u'/' + file.LocalFile);
        if (sha256(bytes) == file.Hash) {
            held.insert(file.Hash);
        }
        qint64 offset = 0;
        for (const std::int32_t index : file.Chunks) {
            const TChunkInPackage& chunk = Installed.chunks()[static_cast<std::size_t>(index)];
            if (sha256(bytes.mid(static_cast<int>(offset), static_cast<int>(chunk.UnpackedSize))) ==
                chunk.UnpackedHash) {
                held.insert(chunk.UnpackedHash);
            }
            offset += static_cast<qint64>(chunk.UnpackedSize);
        }
    }
    return held;
}

// The launcher to kill: "--drive-installation <launcher directory>" updates the first package.
std::optional<int> driveInstallation(int argc, char** argv) {
    if (argc < 3 || qstrcmp(argv[1], DriverOption) != 0) {
        return std::nullopt;
    }
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
    TStart(std::make_shared<TLauncherFilesystemHelper>(QString::fromLocal8Bit(argv[2]))).run();
    std::puts("finished");
    return 0;
}

} // namespace

class TestInstallationManagerRuns : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        m_pGame = std::make_unique<TPublishedGame>(m_GameWork.path());
        QString error;
        QVERIFY2(m_pGame->publish(cdn(), error), qPrintable(error));
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
        // The same files once more, slowed down so that a download takes seconds.
        m_Slow.addServerDirectives(u"limit_rate 2m;"_qs);
        QVERIFY(QFile::link(cdn(), m_Slow.documentRoot() + u"/cdn"_qs));
        QVERIFY2(m_Slow.start(), qPrintable(m_Slow.errorString()));
    }

    void init() {
        QVERIFY(m_pGame->release(cdn(), 1));
        m_pWork = std::make_unique<QTemporaryDir>();
        useSettings();
    }

    void installAndUpdateMoveTheMarkers_data() {
        QTest::addColumn<int>("installed"); // the version installed before, 0: none
        QTest::newRow("fresh install") << 0;
        QTest::newRow("update") << 1;
    }

    void installAndUpdateMoveTheMarkers() {
        QFETCH(int, installed);
        useSettings({u"skipVerification=false"_qs});
        QVERIFY(writeBytes(inLauncher(u"accountgroup.json"_qs), R"({"Key": "group-a"})"));
        if (installed > 0) {
            installReleased();
            QVERIFY(m_pGame->release(cdn(), 2));
        }
        const auto disk = std::make_shared<TFailingFilesystem>(launcherDirectory(), EFailingOperation::None);
        TStart start(disk);
        QCOMPARE(start.Game->localStatus(),
                 installed ? TPackage::StatusUpdateAvailable : TPackage::StatusNotInstalled);
        // Markers are read, written and flushed on the pool, so that the window keeps answering.
        QStringList onGuiThread;
        disk->Observer = [&onGuiThread](EFailingOperation Operation, const QString& Path) {
            const bool pathOnly = Operation == EFailingOperation::PathInside;
            if (!pathOnly && Operation != EFailingOperation::CreateDirectory &&
                QThread::currentThread() == qApp->thread()) {
                onGuiThread << Path;
            }
        };
        const auto log = start.run(false, [&start] {
            start.Manager.installOrUpdatePackage(start.Game);
            start.Manager.verifyPackage(start.Game);
        });
        disk->Observer = nullptr;
        QCOMPARE(onGuiThread.join(u'\n'), QString());
        // Partly installed until verified; the partial marker names the version that may be on disk.
        const QString target = QString::number(installed + 1);
        QCOMPARE(log->Events,
                 (QStringList{u"started 2 -/1"_qs,
                              u"launcher_downloaded/FunnelFinishedDownloadingFirst 2 -/"_qs + target,
                              u"launcher_verified/FunnelFinished_VerifyingFirst 4 %1/-"_qs.arg(target),
                              u"finished 4 %1/-"_qs.arg(target), u"all 4 %1/-"_qs.arg(target)}));
        QVERIFY(start.Game->checkedSinceStart() && start.Manager.installationsInProgress().empty());
        verifyInstalled(installed + 1);
        QCOMPARE(readBytes(inGame(u"assets.json"_qs)),
                 start.Game->configurationForThisSystem()->rawAssetDocument());
        QCOMPARE(readBytes(inGame(u"VantorOnlineClient_Data/Data/Settings/accountgroup.json"_qs)),
                 QByteArray(R"({"Key": "group-a"})"));
    }

    void failedVerificationThenRepairWithFullScan() {
        QVERIFY(writeBytes(inLauncher(u"accountgroup.json"_qs), R"({"Key": "group-b"})"));
        installReleased();
        const QString accountGroup = inGame(u"VantorOnlineClient_Data/Data/Settings/accountgroup.json"_qs);
        QVERIFY(QFile::remove(accountGroup));
        flipByte(inGame(u"stable.bin"_qs));
        TStart start(m_pFileSystem);
        const auto failed = start.run(true);
        QCOMPARE(failed->Events, (QStringList{u"started 2 -/1"_qs, u"finished 2 -/1"_qs, u"all 2 -/1"_qs}));
        QCOMPARE(failed->ErrorReason, EPackageDownloaderError::VerificationFailed);
        QVERIFY(start.Game->checkedSinceStart() && !QFileInfo::exists(accountGroup));

        // The repair reads every file: the damaged chunk is fetched again, nothing else.
        m_Nginx.clearAccessLog();
        QCOMPARE(start.run()->Events.last(), u"all 4 1/-"_qs);
        verifyInstalled(1);
        QVERIFY(QFileInfo::exists(accountGroup));
        QTRY_COMPARE(m_Nginx.accessLogLines().filter(u"/chunks/"_qs).size(), 1);

        // A verification that passes leaves the installed document as the full marker.
        QCOMPARE(
            start.run(true)->Events,
            (QStringList{u"started 2 -/1"_qs, u"launcher_verified/FunnelFinished_VerifyingFirst 4 1/-"_qs,
                         u"finished 4 1/-"_qs, u"all 4 1/-"_qs}));

        // Once version 2 is offered, the files of version 1 check out complete, but still not new.
        const QByteArray assets = readBytes(inGame(u"assets.json"_qs));
        QVERIFY(m_pGame->release(cdn(), 2));
        TStart next(m_pFileSystem);
        QCOMPARE(next.run(true)->Events.last(), u"all 3 1/-"_qs);
        QCOMPARE(readBytes(inGame(u"assets.json"_qs)), assets);
        QCOMPARE(next.Manager.determinePackageStatus(next.Game), TPackage::StatusUpdateAvailable);
    }

    void fastScanTrustsOnlyACompleteInstallation_data() {
        QTest::addColumn<bool>("interrupted");
        QTest::addColumn<QString>("fastScan"); // the setting
        QTest::addColumn<QString>("damage");   // to stable.bin, which both versions share
        QTest::addColumn<bool>("repaired");
        // Damage that keeps the size shows only to a scan that reads the file.
        QTest::newRow("update available: trusted") << false << u"true"_qs << u"flip"_qs << false;
        QTest::newRow("partly installed: read") << true << u"true"_qs << u"flip"_qs << true;
        QTest::newRow("fast scan off: read") << false << u"false"_qs << u"flip"_qs << true;
        QTest::newRow("another size: read") << false << u"true"_qs << u"cut"_qs << true;
        QTest::newRow("missing: fetched") << false << u"true"_qs << u"remove"_qs << true;
    }

    void fastScanTrustsOnlyACompleteInstallation() {
        QFETCH(bool, interrupted);
        QFETCH(QString, fastScan);
        QFETCH(QString, damage);
        QFETCH(bool, repaired);
        useSettings({u"fastScan="_qs + fastScan});
        installReleased();
        QFile stable(inGame(u"stable.bin"_qs));
        if (damage == u"flip"_qs) {
            flipByte(stable.fileName());
        }
        QVERIFY(damage != u"cut"_qs || stable.resize(stable.size() - 10));
        QVERIFY(damage != u"remove"_qs || stable.remove());
        QVERIFY(m_pGame->release(cdn(), 2));
        TStart start(m_pFileSystem);
        if (interrupted) {
            const TPackageConfigurationReader installed =
                start.Manager.readPackageConfigurationFromInstallationDirectory(installation());
            start.Manager.markPackageAsPartiallyInstalled(start.Game, installed.rawPackageDocument(),
                                                          installed.rawAssetDocument());
        }
        QCOMPARE(start.run()->Events.last(), u"all 4 2/-"_qs);
        QString difference;
        QCOMPARE(m_pGame->isInstalled(2, installation(), difference), repaired);
        QCOMPARE(difference, repaired ? QString() : u"stable.bin differs"_qs);
    }

    void diskFailureAfterTheDownloadEndsTheRun() {
        // Writing the partial marker again after the download fails: a saving failure that keeps it.
        m_pFileSystem = std::make_shared<TFailingFilesystem>(
            launcherDirectory(), EFailingOperation::Write,
            [writes = std::make_shared<int>(0)](const QString& Path) {
                return Path.endsWith(u"/partial-package.json"_qs) && ++*writes > 1;
            });
        TStart start(m_pFileSystem);
        const auto log = start.run();
        QCOMPARE(log->ErrorReason, EPackageDownloaderError::SavingFailed);
        QCOMPARE(log->Events.mid(1), (QStringList{u"finished 2 -/1"_qs, u"all 2 -/1"_qs}));
        QVERIFY(start.Manager.installationsInProgress().empty());
    }

    // A failing disk ends the update with the system's words, keeping what was there; the mended disk
    // completes it. Links out of the package are replaced, never followed.
    void updateOnAFailingDisk_data() {
        QTest::addColumn<EFailingOperation>("operation");
        QTest::addColumn<QString>("failingPath"); // the end of the paths that fail; all when empty
        QTest::addColumn<int>("passingWrites");   // writes into files that succeed before the fault
        QTest::addColumn<bool>("runFails");
        QTest::newRow("full disk at the first write")
            << EFailingOperation::WriteInFile << QString() << 0 << true;
        QTest::newRow("full disk at a middle write")
            << EFailingOperation::WriteInFile << QString() << 2 << true;
        QTest::newRow("full disk at the marker write")
            << EFailingOperation::Write << u"/vantor/package.json"_qs << 0 << true;
        QTest::newRow("full disk at the flush before the marker")
            << EFailingOperation::Sync << QString() << 0 << true;
        QTest::newRow("obsolete file cannot be deleted")
            << EFailingOperation::Remove << u"/old/obsolete.dat"_qs << 0 << false;
        QTest::newRow("links out of the package") << EFailingOperation::None << QString() << 0 << false;
    }

    void updateOnAFailingDisk() {
        QFETCH(EFailingOperation, operation);
        QFETCH(QString, failingPath);
        QFETCH(int, passingWrites);
        QFETCH(bool, runFails);
        installReleased();
        QVERIFY(m_pGame->release(cdn(), 2));
        const QString outside = m_pWork->filePath(u"outside"_qs);
        QVERIFY(writeBytes(outside + u"/readme.txt"_qs, "the player's own text"));
        QVERIFY(QDir().mkpath(outside + u"/folder"_qs));
        if (operation == EFailingOperation::None) {
            QVERIFY(QFile::remove(inGame(u"data/readme.txt"_qs)));
            QVERIFY(QFile::link(outside + u"/readme.txt"_qs, inGame(u"data/readme.txt"_qs)));
            QVERIFY(QFile::link(outside + u"/folder"_qs, inGame(u"new"_qs)));
        }
        const auto failing = std::make_shared<TFailingFilesystem>(
            launcherDirectory(), operation,
            failingPath.isEmpty() ? std::function<bool(const QString&)>()
                                  : TFailingFilesystem::endingIn(failingPath));
        failing->PassingWrites = passingWrites;
        {
            TMessageCapture log;
            TStart start(failing);
            const auto run = start.run();
            QCOMPARE(run->ErrorReason == EPackageDownloaderError::NoError, !runFails);
            QCOMPARE(run->Events.filter(QRegularExpression(u"^disk "_qs)), QStringList());
            if (runFails) {
                QVERIFY2(run->ErrorText.contains(FullDisk), qPrintable(run->ErrorText));
                QVERIFY(!(log.messages(QtCriticalMsg) + log.warnings()).filter(FullDisk).isEmpty());
                QVERIFY2(QRegularExpression(u"^all 2 -/[12]$"_qs).match(run->Events.last()).hasMatch(),
                         qPrintable(run->Events.last()));
                QCOMPARE(readBytes(inGame(u"stable.bin"_qs)),
                         readBytes(m_pGame->clientTree(2) + u"/stable.bin"_qs));
            }
        }
        failing->Armed = false;
        QCOMPARE(TStart(failing).run()->Events.last(), u"all 4 2/-"_qs);
        // An obsolete file that could not be deleted is left in place and logged, never a failed run.
        QVERIFY(operation != EFailingOperation::Remove || QFile::remove(inGame(u"old/obsolete.dat"_qs)));
        verifyInstalled(2);
        QVERIFY(!QFileInfo(inGame(u"data/readme.txt"_qs)).isSymLink() &&
                !QFileInfo(inGame(u"new"_qs)).isSymLink());
        QCOMPARE(readBytes(outside + u"/readme.txt"_qs), QByteArray("the player's own text"));
        QCOMPARE(QDir(outside + u"/folder"_qs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // A run the disk cannot take is refused before it writes anything; parked chunks go with its end.
    void runNeedsRoomOnTheDisk_data() {
        QTest::addColumn<int>("installedVersion"); // 0: nothing installed
        QTest::addColumn<int>("spareBytes");       // free space beyond what the run adds
        QTest::newRow("install, one byte short") << 0 << -1;
        QTest::newRow("install, just enough") << 0 << 0;
        QTest::newRow("update, one byte short") << 1 << -1;
    }

    void runNeedsRoomOnTheDisk() {
        QFETCH(int, installedVersion);
        QFETCH(int, spareBytes);
        if (installedVersion > 0) {
            installReleased();
        }
        const int target = installedVersion + 1;
        QVERIFY(m_pGame->release(cdn(), target));
        const auto treeBytes = [this](int Version) {
            qint64 total = 0;
            for (const QByteArray& bytes :
                 contents({m_pGame->clientTree(Version), m_pGame->assetTree(Version)})) {
                total += bytes.size();
            }
            return total;
        };
        const qint64 needed = treeBytes(target) - (installedVersion > 0 ? treeBytes(installedVersion) : 0);
        QVERIFY(writeBytes(inGame(u".launcher-staging/chunk-left"_qs), "left by a run that never ended"));
        const QMap<QString, QByteArray> before = contents({installation()});
        const auto disk = std::make_shared<TFailingFilesystem>(launcherDirectory(), EFailingOperation::None);
        disk->FreeBytes = needed + spareBytes;
        TStart start(disk);
        const TRunSizeEstimate estimate = start.Game->runSizeEstimate();
        const auto log = start.run();
        QCOMPARE(estimate.AddedBytes, TFileSize(needed));
        QCOMPARE(estimate.fitsOnDisk(), spareBytes >= 0);
        QCOMPARE(log->ErrorReason == EPackageDownloaderError::NoError, spareBytes >= 0);
        if (spareBytes < 0) {
            QCOMPARE(log->ErrorText, TFreeSpaceCheck::refusalText(needed, needed + spareBytes));
            QVERIFY(contents({installation()}) == before);
            return;
        }
        verifyInstalled(target);
        QVERIFY(!QFileInfo::exists(inGame(u".launcher-staging"_qs)));
    }

    // "classic" beside an installed "vantor" fetches only what the sibling's files do not hold now.
    void installFetchesOnlyWhatNoSiblingHolds_data() {
        QTest::addColumn<int>("target");   // the version "classic" installs
        QTest::addColumn<bool>("alter");   // the sibling's files change after its marker is written
        QTest::addColumn<bool>("seeding"); // [OPTIONS] seedFromInstalledPackages
        QTest::newRow("same content") << 1 << false << true;
        QTest::newRow("another version, part shared") << 2 << false << true;
        QTest::newRow("sibling altered behind its marker") << 1 << true << true;
        QTest::newRow("setting off") << 1 << false << false;
    }

    void installFetchesOnlyWhatNoSiblingHolds() {
        QFETCH(int, target);
        QFETCH(bool, alter);
        QFETCH(bool, seeding);
        useSettings(seeding ? QStringList() : QStringList{u"seedFromInstalledPackages=false"_qs});
        installReleased();
        if (alter) {
            flipByte(inGame(u"stable.bin"_qs));       // one chunk of several
            flipByte(inGame(u"bin/client"_qs), 1000); // a file of one piece
        }
        const QMap<QString, QByteArray> siblingBefore = contents({installation()});
        const TPackageConfigurationReader installed(readBytes(inGame(u"package.json"_qs)),
                                                    readBytes(inGame(u"assets.json"_qs)), QUrl(), QUrl());
        const QSet<QByteArray> held = seeding ? heldContents(installed, installation()) : QSet<QByteArray>();

        QVERIFY(m_pGame->release(cdn(), target));
        m_Nginx.clearAccessLog();
        TStart start(m_pFileSystem, 1);
        const auto log = start.run();
        QCOMPARE(log->ErrorReason, EPackageDownloaderError::NoError);
        verifyInstalled(target, u"classic"_qs);
        QVERIFY(contents({installation()}) == siblingBefore);
        // One request after the run, answered after every request of the run has been logged.
        QVERIFY(m_Nginx.writeFile(u"done.txt"_qs, "done"));
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(m_Nginx.url(u"done.txt"_qs))));
        QVERIFY(QTest::qWaitFor([&reply] { return reply->isFinished(); }, 30000));
        QVERIFY(m_Nginx.waitForRequestCount(u"/done.txt"_qs, 1, 30000));
        QStringList requested;
        for (const QString& line : m_Nginx.accessLogLines()) {
            const QString path = line.section(u' ', 1, 1).section(u'?', 0, 0);
            if (path.startsWith(u"/cdn/vantor/linux/chunks/"_qs)) {
                requested << path;
            }
        }
        const TPackageConfigurationReader& offered = *start.Game->configurationForThisSystem();
        const QSet<QString> expected = piecesNotHeld(offered, held);
        QCOMPARE(QSet<QString>(requested.begin(), requested.end()), expected);
        QCOMPARE(requested.size(), expected.size());
        // What was read counts as written, never as downloaded: the download completes its total.
        QMap<QString, TFileSize> packedSizes;
        for (const TChunkInPackage& chunk : offered.chunks()) {
            packedSizes.insert(chunk.Url.path(), chunk.PackedSize);
        }
        TFileSize packed = 0;
        for (const QString& piece : expected) {
            packed += packedSizes.value(piece);
        }
        QCOMPARE(log->Downloaded, packed);
        QCOMPARE(log->TotalToDownload, packed);
        QCOMPARE(log->Seeded > 0, seeding);
        QVERIFY(alter || target == 2 || !seeding || expected.isEmpty());
    }

    // A manager going away mid-run leaves nothing broken; the next run completes the package.
    void managerGoingAwayDuringARun() {
        for (const int delayMs : {0, 20, 200}) {
            auto start = std::make_unique<TStart>(m_pFileSystem);
            const std::shared_ptr<TPackage> game = start->Game;
            start->Manager.installOrUpdatePackage(game);
            QTest::qWait(delayMs);
            const bool interrupted = !start->Manager.installationsInProgress().empty();
            start.reset();
            QTest::qWait(200);
            // A run ending as its manager goes may still write its full marker on the pool.
            const std::int32_t status =
                TInstallationManager(nullptr, m_pFileSystem).determinePackageStatus(game);
            QVERIFY(status == TPackage::StatusUpToDate ||
                    (interrupted && status == TPackage::StatusPartiallyInstalled));
        }
        // A stop while the run is starting (reading and writing its markers) ends it too.
        TStart stopped(m_pFileSystem);
        QCOMPARE(stopped.run(false, [&stopped] { stopped.Manager.stopAllRuns(); })->ErrorText,
                 u"the run was stopped"_qs);
        QCOMPARE(TStart(m_pFileSystem).run()->Events.last(), u"all 4 1/-"_qs);
        verifyInstalled(1);
    }

    void killedUpdateResumesWithAFullScan() {
        installReleased();
        // Killed once a small changed file is complete, while the big changed chunk is on its way.
        QVERIFY(m_pGame->release(cdn(), 2));
        useSettings({}, m_Slow);
        QProcess driver;
        driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        driver.start(QCoreApplication::applicationFilePath(),
                     {QString::fromLatin1(DriverOption), launcherDirectory()});
        QStringList complete;
        const QDeadlineTimer deadline(RunTimeoutMs);
        while (complete.isEmpty() && !deadline.hasExpired() && driver.state() != QProcess::NotRunning) {
            driver.waitForReadyRead(20);
            for (const QString& file : {u"data/readme.txt"_qs, u"new/added.dat"_qs}) {
                if (readBytes(inGame(file)) == readBytes(m_pGame->clientTree(2) + u'/' + file)) {
                    complete << file;
                }
            }
        }
        driver.kill();
        QVERIFY(driver.waitForFinished(30000));
        QVERIFY2(!driver.readAllStandardOutput().contains("finished"),
                 "the update ended before it was killed");
        QVERIFY(!complete.isEmpty());
        // On disk: the installed version's document as the partial marker, no full marker.
        QCOMPARE(markerVersion(inGame(u"package.json"_qs)) +
                     markerVersion(inGame(u"partial-package.json"_qs)),
                 u"-1"_qs);

        // The next start reads every file, keeps what the killed run wrote, and fetches the rest.
        useSettings();
        TStart start(m_pFileSystem);
        QCOMPARE(start.Game->localStatus(), TPackage::StatusPartiallyInstalled);
        m_Nginx.clearAccessLog();
        QCOMPARE(start.run()->Events.last(), u"all 4 2/-"_qs);
        verifyInstalled(2);
        QTest::qWait(200); // nginx logs a request just after its last byte
        const TPackageConfigurationReader& target = *start.Game->configurationForThisSystem();
        for (const TFileInPackage& entry : target.files()) {
            QStringList paths{entry.WholeFile.Url.path()};
            for (const std::int32_t index : entry.Chunks) {
                paths << target.chunks().at(static_cast<std::size_t>(index)).Url.path();
            }
            for (const QString& path : complete.contains(entry.LocalFile) ? paths : QStringList()) {
                QVERIFY2(m_Nginx.requestCount(path) == 0, qPrintable(path));
            }
        }
    }

private:
    QString launcherDirectory() const { return m_pWork->filePath(u"launcher"_qs); }
    QString cdn() const { return m_Nginx.documentRoot() + u"/cdn"_qs; }
    QString installation(const QString& Directory = u"vantor"_qs) const {
        return launcherDirectory() + u"/packages/"_qs + Directory;
    }
    QString inGame(const QString& Name) const { return installation() + u'/' + Name; }
    QString inLauncher(const QString& Name) const { return launcherDirectory() + u'/' + Name; }
    void useSettings(const QStringList& Options = {}) { useSettings(Options, m_Nginx); }
    void useSettings(const QStringList& Options, const TNginxFixture& Server) {
        m_pFileSystem = makeLauncherFilesystem(
            launcherDirectory(), launcherSettingsText(Server.url(u"cdn/launcher.json"_qs), Options));
    }
    // Installs the released version, as an earlier start of the launcher would have.
    void installReleased() { QVERIFY(TStart(m_pFileSystem).run()->Events.last().startsWith(u"all 4 "_qs)); }
    void verifyInstalled(int Version, const QString& Directory = u"vantor"_qs) const {
        QString difference;
        QVERIFY2(m_pGame->isInstalled(Version, installation(Directory), difference), qPrintable(difference));
    }

    QTemporaryDir m_GameWork;
    std::unique_ptr<TPublishedGame> m_pGame;
    TNginxFixture m_Nginx;
    TNginxFixture m_Slow;
    std::unique_ptr<QTemporaryDir> m_pWork;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
};

LAUNCHER_TEST_CHILD_MODE(driveInstallation)
LAUNCHER_TEST(TestInstallationManagerRuns)
#include "tst_installationmanagerruns.moc"
