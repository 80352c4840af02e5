// Installation manager runs against nginx serving a publisher-made game: installs, updates,
// failures and repairs, with the markers and statuses seen at every stage of a run, and the funnel
// milestones the runs report.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagedownloadererror.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/funneleventsender.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/isolateduserdirectories.h"
#include "support/messagecapture.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

const int RunTimeoutMs = 120000;

// The markers and the status of a package at one moment of a run.
struct TSnapshot {
    QString Event;
    std::int32_t Status = 0;
    bool HasFull = false;
    bool HasPartial = false;
    QByteArray Full;
    QByteArray Partial;
};

// Everything a run tells the outside, in order, with the package's markers at each moment; the
// funnel milestones come in as the manager's funnel receiver.
class TRunRecorder : public QObject {
public:
    TRunRecorder(TInstallationManager& Manager, std::shared_ptr<TPackage> Package)
        : m_Manager(Manager)
        , m_pPackage(std::move(Package)) {
        connect(&Manager, &TInstallationManager::installationOrUpdateStarted, this,
                [this](const TPackageInstallation& Installation) {
                    SelfUpdateMode = Installation.selfUpdateMode();
                    InstalledLabel = Installation.installedVersionLabel();
                    TargetLabel = Installation.targetVersionLabel();
                    record(u"started "_qs + Installation.package()->name());
                });
        connect(&Manager, &TInstallationManager::installationOrUpdateFinished, this,
                [this](const TPackageInstallation& Installation) {
                    Success = Installation.success();
                    ErrorReason = Installation.errorReason();
                    record(u"finished "_qs + Installation.package()->name());
                });
        connect(&Manager, &TInstallationManager::allStartedUpdatesFinished, this,
                [this] { record(u"all"_qs); });
        connect(&Manager, &TInstallationManager::diskAccessFailed, this,
                [this](const QString& Message) { record(u"disk "_qs + Message); });
        Manager.setFunnelEventSink(
            [this](const QString& Step, const QString& FirstTimeKey) { record(Step + u'/' + FirstTimeKey); });
    }

    ~TRunRecorder() override { m_Manager.setFunnelEventSink(nullptr); }

    QStringList events() const {
        QStringList names;
        for (const TSnapshot& snapshot : Snapshots) {
            names << snapshot.Event;
        }
        return names;
    }
    const TSnapshot& at(const QString& Event) const {
        for (const TSnapshot& snapshot : Snapshots) {
            if (snapshot.Event.startsWith(Event)) {
                return snapshot;
            }
        }
        static const TSnapshot none;
        return none;
    }
    bool waitForAll(int TimeoutMs = RunTimeoutMs) const {
        return QTest::qWaitFor([this] { return events().contains(u"all"_qs); }, TimeoutMs);
    }

    std::vector<TSnapshot> Snapshots;
    bool SelfUpdateMode = false;
    QString InstalledLabel;
    QString TargetLabel;
    bool Success = false;
    EPackageDownloaderError ErrorReason = EPackageDownloaderError::NoError;

private:
    void record(const QString& Event) {
        TSnapshot snapshot;
        snapshot.Event = Event;
        snapshot.Status = m_pPackage->localStatus();
        const QString directory = m_Manager.packageDirectory(m_pPackage).absolutePath();
        snapshot.HasFull = QFileInfo::exists(directory + u"/package.json"_qs);
        snapshot.HasPartial = QFileInfo::exists(directory + u"/partial-package.json"_qs);
        snapshot.Full = readBytes(directory + u"/package.json"_qs);
        snapshot.Partial = readBytes(directory + u"/partial-package.json"_qs);
        Snapshots.push_back(snapshot);
    }

    TInstallationManager& m_Manager;
    std::shared_ptr<TPackage> m_pPackage;
};

void flipByte(const QString& Path, qint64 Offset) {
    QFile file(Path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(Offset));
    char byte = 0;
    QVERIFY(file.getChar(&byte));
    QVERIFY(file.seek(Offset));
    QVERIFY(file.putChar(static_cast<char>(byte ^ 0x5A)));
}

} // namespace

class TestInstallationManagerRuns : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        m_pNginx = std::make_unique<testsupport::TNginxFixture>();
        m_pGameWork = std::make_unique<QTemporaryDir>();
        m_pGame = std::make_unique<testsupport::TPublishedGame>(m_pGameWork->path());
        QString error;
        QVERIFY2(m_pGame->publish(cdn(), error), qPrintable(error));
        QVERIFY2(m_pNginx->start(), qPrintable(m_pNginx->errorString()));
    }

    void init() {
        QVERIFY(m_pGame->release(cdn(), 1));
        m_pWork = std::make_unique<QTemporaryDir>();
        useSettings({});
        m_pNginx->clearAccessLog();
    }

    void cleanup() {
        m_pFileSystem.reset();
        m_pWork.reset();
        // Installations are released through the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void installAndUpdateMoveTheMarkers_data() {
        QTest::addColumn<bool>("update");
        QTest::newRow("fresh install") << false;
        QTest::newRow("update of a full installation") << true;
    }

    void installAndUpdateMoveTheMarkers() {
        QFETCH(bool, update);
        useSettings({u"skipVerification=false"_qs});
        QVERIFY(writeBytes(inLauncher("accountgroup.json"), R"({"Key": "group-a"})"));
        QByteArray installed;
        if (update) {
            installReleased();
            installed = readBytes(inGame("package.json"));
            QVERIFY(m_pGame->release(cdn(), 2));
        }
        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        const TPackageConfigurationReader target = *game->configurationForThisSystem();
        TInstallationManager manager(configuration, m_pFileSystem);
        QCOMPARE(game->localStatus(),
                 update ? TPackage::StatusUpdateAvailable : TPackage::StatusNotInstalled);
        TRunRecorder recorder(manager, game);

        manager.installOrUpdatePackage(game);
        QVERIFY(recorder.waitForAll());
        QCOMPARE(recorder.events(), (QStringList{u"started Vantor Online"_qs,
                                                 u"launcher_downloaded/FunnelFinishedDownloadingFirst"_qs,
                                                 u"launcher_verified/FunnelFinished_VerifyingFirst"_qs,
                                                 u"finished Vantor Online"_qs, u"all"_qs}));
        // Started: an update renames the installed document to the partial marker first; a fresh
        // install writes the target's.
        const TSnapshot& started = recorder.at(u"started"_qs);
        QCOMPARE(started.Status, TPackage::StatusPartiallyInstalled);
        QVERIFY(!started.HasFull);
        QCOMPARE(started.Partial, update ? installed : target.rawPackageDocument());
        // Downloaded: still partly installed until the verification has passed.
        const TSnapshot& downloaded = recorder.at(u"launcher_downloaded"_qs);
        QCOMPARE(downloaded.Status, TPackage::StatusPartiallyInstalled);
        QVERIFY(!downloaded.HasFull);
        QCOMPARE(downloaded.Partial, target.rawPackageDocument());
        // Verified: only the full marker.
        const TSnapshot& verified = recorder.at(u"launcher_verified"_qs);
        QCOMPARE(verified.Status, TPackage::StatusUpToDate);
        QVERIFY(!verified.HasPartial);
        QCOMPARE(verified.Full, target.rawPackageDocument());

        QVERIFY(recorder.Success);
        QCOMPARE(recorder.ErrorReason, EPackageDownloaderError::NoError);
        QVERIFY(!recorder.SelfUpdateMode);
        QCOMPARE(recorder.InstalledLabel, update ? u"P1 A7"_qs : u"P? A?"_qs);
        QCOMPARE(recorder.TargetLabel, update ? u"P2 A8"_qs : u"P1 A7"_qs);
        QCOMPARE(game->localStatus(), TPackage::StatusUpToDate);
        QVERIFY(game->checkedSinceStart());
        QVERIFY(manager.installationsInProgress().empty());
        verifyInstalled(update ? 2 : 1);
        QCOMPARE(readBytes(inGame("package.json")), target.rawPackageDocument());
        QCOMPARE(readBytes(inGame("assets.json")), target.rawAssetDocument());
        QVERIFY(!QFileInfo::exists(inGame("partial-package.json")));
        QCOMPARE(readBytes(inGame("VantorOnlineClient_Data/Data/Settings/accountgroup.json")),
                 QByteArray(R"({"Key": "group-a"})"));
        // The other package was not touched.
        QVERIFY(!QFileInfo::exists(installation(u"classic"_qs)));
        QCOMPARE(TInstallationManager(configuration, m_pFileSystem).determinePackageStatus(game),
                 TPackage::StatusUpToDate);
    }

    void failedDownloadLeavesThePackagePartlyInstalled() {
        installReleased();
        const QByteArray versionOne = readBytes(inGame("package.json"));
        QVERIFY(m_pGame->release(cdn(), 2));
        auto configuration = load();
        QVERIFY(configuration);
        std::shared_ptr<TPackage> game = configuration->packages().front();
        // The pieces of the added file vanish from the server.
        QStringList moved;
        for (const TFileInPackage& entry : game->configurationForThisSystem()->files()) {
            if (entry.LocalFile != u"new/added.dat"_qs) {
                continue;
            }
            QList<QUrl> urls{entry.WholeFile.Url};
            for (const std::int32_t index : entry.Chunks) {
                urls << game->configurationForThisSystem()->chunks().at(static_cast<std::size_t>(index)).Url;
            }
            for (const QUrl& url : urls) {
                const QString path = m_pNginx->documentRoot() + url.path();
                if (!url.isEmpty() && QFile::rename(path, path + u".away"_qs)) {
                    moved << path;
                }
            }
        }
        QVERIFY(!moved.isEmpty());
        {
            TInstallationManager manager(configuration, m_pFileSystem);
            TRunRecorder recorder(manager, game);
            manager.installOrUpdatePackage(game);
            QVERIFY(recorder.waitForAll());
            QCOMPARE(recorder.events(),
                     (QStringList{u"started Vantor Online"_qs, u"finished Vantor Online"_qs, u"all"_qs}));
            QVERIFY(!recorder.Success);
            QCOMPARE(recorder.ErrorReason, EPackageDownloaderError::DownloadFailed);
            QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
            QVERIFY(!game->checkedSinceStart());
            QVERIFY(!QFileInfo::exists(inGame("package.json")));
            QCOMPARE(readBytes(inGame("partial-package.json")), versionOne);
        }
        for (const QString& path : moved) {
            QVERIFY(QFile::rename(path + u".away"_qs, path));
        }

        // The next start sees the interrupted update and completes it.
        configuration = load();
        QVERIFY(configuration);
        game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
        TRunRecorder recorder(manager, game);
        manager.installOrUpdatePackage(game);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        QCOMPARE(game->localStatus(), TPackage::StatusUpToDate);
        verifyInstalled(2);
    }

    void failedVerificationThenRepairWithFullScan() {
        QVERIFY(writeBytes(inLauncher("accountgroup.json"), R"({"Key": "group-b"})"));
        installReleased();
        const QString accountGroupCopy = inGame("VantorOnlineClient_Data/Data/Settings/accountgroup.json");
        QVERIFY(QFile::remove(accountGroupCopy));
        const QByteArray installed = readBytes(inGame("package.json"));
        flipByte(inGame("stable.bin"), 10 * 1024 * 1024);

        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        QCOMPARE(game->localStatus(), TPackage::StatusUpToDate);
        {
            TRunRecorder recorder(manager, game);
            manager.verifyPackage(game);
            QVERIFY(recorder.waitForAll());
            QCOMPARE(recorder.events(),
                     (QStringList{u"started Vantor Online"_qs, u"finished Vantor Online"_qs, u"all"_qs}));
            QCOMPARE(recorder.at(u"started"_qs).Partial, installed);
            QVERIFY(!recorder.Success);
            QCOMPARE(recorder.ErrorReason, EPackageDownloaderError::VerificationFailed);
        }
        QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
        QVERIFY(game->checkedSinceStart());
        QVERIFY(!QFileInfo::exists(inGame("package.json")));
        QCOMPARE(readBytes(inGame("partial-package.json")), installed);
        QVERIFY(!QFileInfo::exists(accountGroupCopy));

        // The repair reads every file: the damaged chunk is fetched again, nothing else.
        m_pNginx->clearAccessLog();
        {
            TRunRecorder recorder(manager, game);
            manager.installOrUpdatePackage(game);
            QVERIFY(recorder.waitForAll());
            QVERIFY(recorder.Success);
        }
        QCOMPARE(game->localStatus(), TPackage::StatusUpToDate);
        verifyInstalled(1);
        QVERIFY(QFileInfo::exists(accountGroupCopy));
        const auto chunkRequests = [this] {
            return m_pNginx->accessLogLines().filter(u"/chunks/"_qs).size();
        };
        QTRY_COMPARE(chunkRequests(), 1);

        // A verification that passes leaves the installed document as the full marker.
        TRunRecorder recorder(manager, game);
        manager.verifyPackage(game);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        QVERIFY(recorder.events().contains(u"launcher_verified/FunnelFinished_VerifyingFirst"_qs));
        QCOMPARE(game->localStatus(), TPackage::StatusUpToDate);
        QCOMPARE(readBytes(inGame("package.json")), installed);
        QVERIFY(!QFileInfo::exists(inGame("partial-package.json")));
    }

    void verifyingAnOlderVersionRecordsThatVersion() {
        installReleased();
        const QByteArray versionOne = readBytes(inGame("package.json"));
        const QByteArray assetsOne = readBytes(inGame("assets.json"));
        QVERIFY(m_pGame->release(cdn(), 2));
        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        QCOMPARE(game->localStatus(), TPackage::StatusUpdateAvailable);

        TRunRecorder recorder(manager, game);
        manager.verifyPackage(game);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        // The files of version 1 were checked; they are still version 1, not the offered version 2.
        QCOMPARE(readBytes(inGame("package.json")), versionOne);
        QCOMPARE(readBytes(inGame("assets.json")), assetsOne);
        QCOMPARE(game->localStatus(), TPackage::StatusUpdateAvailable);
        QCOMPARE(manager.determinePackageStatus(game), TPackage::StatusUpdateAvailable);
        verifyInstalled(1);
    }

    void fastScanOnlyWhenAnUpdateIsAvailable_data() {
        QTest::addColumn<bool>("interrupted");
        QTest::addColumn<bool>("fastScanSetting");
        QTest::addColumn<bool>("fastScan");
        QTest::newRow("update available, fast scan on") << false << true << true;
        QTest::newRow("partly installed, fast scan on") << true << true << false;
        QTest::newRow("update available, fast scan off") << false << false << false;
    }

    void fastScanOnlyWhenAnUpdateIsAvailable() {
        QFETCH(bool, interrupted);
        QFETCH(bool, fastScanSetting);
        QFETCH(bool, fastScan);
        useSettings({u"fastScan="_qs + (fastScanSetting ? u"true"_qs : u"false"_qs)});
        installReleased();
        // stable.bin is the same in both versions. Damaged in place, only reading it shows the damage.
        flipByte(inGame("stable.bin"), 10 * 1024 * 1024);
        QVERIFY(m_pGame->release(cdn(), 2));
        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        if (interrupted) {
            const TPackageConfigurationReader installed =
                manager.readPackageConfigurationFromInstallationDirectory(installation());
            manager.markPackageAsPartiallyInstalled(game, installed.rawPackageDocument(),
                                                    installed.rawAssetDocument());
        }

        QLoggingCategory::setFilterRules(u"default.info=true\ndefault.debug=false"_qs);
        testsupport::TMessageCapture capture;
        TRunRecorder recorder(manager, game);
        manager.installOrUpdatePackage(game);
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        const QString expected =
            u"installOrUpdatePackage: Vantor Online fast scan: "_qs + (fastScan ? u"true"_qs : u"false"_qs);
        QVERIFY2(capture.messages(QtInfoMsg).filter(u"fast scan:"_qs).first().startsWith(expected),
                 qPrintable(capture.messages(QtInfoMsg).join(u'\n')));

        QString difference;
        const bool repaired = m_pGame->isInstalled(2, installation(), difference);
        // The fast scan trusts the complete installation's description instead of reading the file.
        QCOMPARE(repaired, !fastScan);
        if (fastScan) {
            QCOMPARE(difference, u"stable.bin differs"_qs);
        }
    }

    void secondRequestForARunningPackageIsIgnored() {
        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        TRunRecorder recorder(manager, game);
        manager.installOrUpdatePackage(game);
        manager.installOrUpdatePackage(game);
        manager.verifyPackage(game);
        QCOMPARE(manager.installationsInProgress().size(), std::size_t(1));
        QVERIFY(manager.isInstallationInProgress(u"Vantor Online"_qs));
        QVERIFY(recorder.waitForAll());
        QCOMPARE(recorder.events().filter(u"started"_qs).size(), 1);
        QCOMPARE(recorder.events().filter(u"finished"_qs).size(), 1);
        QCOMPARE(recorder.events().filter(u"all"_qs).size(), 1);
        verifyInstalled(1);
    }

    void twoPackagesAtOnce() {
        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> online = configuration->packages().at(0);
        const std::shared_ptr<TPackage> classic = configuration->packages().at(1);
        TInstallationManager manager(configuration, m_pFileSystem);
        TRunRecorder recorder(manager, online);
        manager.installOrUpdatePackage(online);
        manager.installOrUpdatePackage(classic);
        QCOMPARE(manager.installationsInProgress().size(), std::size_t(2));
        QVERIFY(recorder.waitForAll());
        QTest::qWait(50);
        const QStringList events = recorder.events();
        QCOMPARE(events.filter(u"finished"_qs).size(), 2);
        QCOMPARE(events.filter(u"all"_qs).size(), 1);
        QCOMPARE(events.last(), u"all"_qs);
        QCOMPARE(online->localStatus(), TPackage::StatusUpToDate);
        QCOMPARE(classic->localStatus(), TPackage::StatusUpToDate);
        verifyInstalled(1);
        verifyInstalled(1, u"classic"_qs);
    }

    void diskFailureAfterTheDownloadEndsTheRun() {
        const auto failing = std::make_shared<testsupport::TFailingFilesystem>(
            launcherDirectory(), testsupport::EFailingOperation::Write,
            testsupport::TFailingFilesystem::endingIn(u"/partial-package.json"_qs));
        failing->Armed = false;
        m_pFileSystem = failing;
        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        TRunRecorder recorder(manager, game);
        QSignalSpy diskFailures(&manager, &TInstallationManager::diskAccessFailed);
        manager.installOrUpdatePackage(game);
        failing->Armed = true;
        QVERIFY(recorder.waitForAll());
        QCOMPARE(diskFailures.count(), 1);
        const QString message = diskFailures.first().first().toString();
        QVERIFY2(message.startsWith(u"I/O error on file '"_qs) &&
                     message.contains(u"partial-package.json"_qs),
                 qPrintable(message));
        const QStringList events = recorder.events();
        QCOMPARE(events.size(), 4);
        QVERIFY(events.at(1).startsWith(u"disk "_qs));
        QCOMPARE(events.mid(2), (QStringList{u"finished Vantor Online"_qs, u"all"_qs}));
        QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
        QVERIFY(!QFileInfo::exists(inGame("package.json")));
        QVERIFY(manager.installationsInProgress().empty());
    }

    void selfUpdateModeInstallsIntoTheLauncherDirectory() {
        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> launcher = configuration->launcherPackage();
        QVERIFY(launcher && launcher->configurationForThisSystem());
        TInstallationManager manager(nullptr, m_pFileSystem);
        manager.setSelfUpdateMode(true);
        TRunRecorder recorder(manager, launcher);
        manager.installOrUpdatePackage(launcher);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        QVERIFY(recorder.SelfUpdateMode);
        QCOMPARE(launcher->localStatus(), TPackage::StatusUpToDate);
        QString difference;
        QVERIFY2(testsupport::sameTree(m_pGame->clientTree(1), launcherDirectory(), difference),
                 qPrintable(difference));
        QVERIFY2(testsupport::sameTree(m_pGame->assetTree(1), launcherDirectory(), difference),
                 qPrintable(difference));
        QCOMPARE(readBytes(inLauncher("package.json")),
                 launcher->configurationForThisSystem()->rawPackageDocument());
        QVERIFY(!QFileInfo::exists(inLauncher("packages/launcher")));
    }

    void managerGoingAwayDuringARun() {
        const auto configuration = load();
        QVERIFY(configuration);
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        int interrupted = 0;
        for (const int delayMs : {0, 20, 200}) {
            QDir(installation()).removeRecursively();
            auto manager = std::make_unique<TInstallationManager>(configuration, m_pFileSystem);
            bool finished = false;
            connect(manager.get(), &TInstallationManager::allStartedUpdatesFinished, this,
                    [&finished] { finished = true; });
            manager->installOrUpdatePackage(game);
            QTest::qWait(delayMs);
            if (finished) {
                continue;
            }
            // A launcher that replaces its manager, or ends, in the middle of a run.
            manager.reset();
            QTest::qWait(100);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QTest::qWait(100);
            QVERIFY(!finished);
            TInstallationManager next(configuration, m_pFileSystem);
            QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
            ++interrupted;
        }
        QVERIFY(interrupted > 0);
        // What was left behind is completed by the next run.
        TInstallationManager manager(configuration, m_pFileSystem);
        TRunRecorder recorder(manager, game);
        manager.installOrUpdatePackage(game);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        verifyInstalled(1);
    }

    void funnelMilestonesReachTheFunnelService() {
        testsupport::TScriptedHttpServer funnel;
        QVERIFY(funnel.start());
        funnel.setAnswer(u"/funnel"_qs, testsupport::TScriptedAnswer::ok(R"({"result": "ok"})"));
        TFunnelEventSender sender(
            u"FunnelUuid"_qs, [] { return QString(); }, [&funnel] { return funnel.url(u"/funnel"_qs); });
        const auto configuration = load();
        QVERIFY(configuration);
        TInstallationManager manager(configuration, m_pFileSystem);
        manager.setFunnelEventSink([&sender](const QString& Step, const QString& FirstTimeKey) {
            sender.sendFunnelEvent(Step, FirstTimeKey);
        });
        QSignalSpy all(&manager, &TInstallationManager::allStartedUpdatesFinished);
        manager.installOrUpdatePackage(configuration->packages().at(0));
        QVERIFY(all.wait(RunTimeoutMs));
        manager.installOrUpdatePackage(configuration->packages().at(1));
        QVERIFY(all.wait(RunTimeoutMs));
        QVERIFY(QTest::qWaitFor([&funnel] { return funnel.requestCount(u"/funnel"_qs) == 4; }, 10000));

        // Every report travels on its own connection, so they may arrive in any order.
        const QList<testsupport::TRecordedRequest> requests = funnel.requestsFor(u"/funnel"_qs);
        QStringList reports;
        QString identifier;
        for (const testsupport::TRecordedRequest& request : requests) {
            QCOMPARE(request.method, QByteArray("POST"));
            QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
            const QJsonObject event = QJsonDocument::fromJson(request.body).object();
            reports << event.value(u"step"_qs).toString() + u' ' +
                           (event.value(u"first"_qs).toBool() ? u"first"_qs : u"again"_qs);
            QCOMPARE(event.value(u"accountgroupkey"_qs).toString(u"missing"_qs), QString());
            if (identifier.isEmpty()) {
                identifier = event.value(u"id"_qs).toString();
            }
            QCOMPARE(event.value(u"id"_qs).toString(), identifier);
        }
        reports.sort();
        QCOMPARE(reports, (QStringList{u"launcher_downloaded again"_qs, u"launcher_downloaded first"_qs,
                                       u"launcher_verified again"_qs, u"launcher_verified first"_qs}));
        QCOMPARE(identifier.size(), 36);
    }

private:
    QString launcherDirectory() const { return m_pWork->filePath(u"launcher"_qs); }
    QString cdn() const { return m_pNginx->documentRoot() + u"/cdn"_qs; }
    QString installation(const QString& Directory = u"vantor"_qs) const {
        return launcherDirectory() + u"/packages/"_qs + Directory;
    }
    QString inGame(const char* Name) const { return installation() + u'/' + QLatin1String(Name); }
    QString inLauncher(const char* Name) const { return launcherDirectory() + u'/' + QLatin1String(Name); }

    void useSettings(const QStringList& Options);
    std::shared_ptr<TLauncherConfigurationReader> load();
    // Installs the released version of "Vantor Online" with a manager of its own, as an earlier
    // start of the launcher would have.
    void installReleased();
    void verifyInstalled(int Version, const QString& Directory = u"vantor"_qs) const;

    std::unique_ptr<testsupport::TNginxFixture> m_pNginx;
    std::unique_ptr<QTemporaryDir> m_pGameWork;
    std::unique_ptr<testsupport::TPublishedGame> m_pGame;
    std::unique_ptr<QTemporaryDir> m_pWork;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
};

void TestInstallationManagerRuns::useSettings(const QStringList& Options) {
    m_pFileSystem = testsupport::makeLauncherFilesystem(
        launcherDirectory(),
        testsupport::launcherSettingsText(m_pNginx->url(u"cdn/launcher.json"_qs), Options));
}

std::shared_ptr<TLauncherConfigurationReader> TestInstallationManagerRuns::load() {
    QString error;
    const auto configuration = testsupport::loadLauncherConfiguration(m_pFileSystem, error);
    if (!configuration || configuration->packages().size() != 2 ||
        !configuration->packages().front()->configurationForThisSystem()) {
        qWarning().noquote() << "the launcher configuration did not load:" << error;
        return nullptr;
    }
    return configuration;
}

void TestInstallationManagerRuns::installReleased() {
    const auto configuration = load();
    QVERIFY(configuration);
    TInstallationManager manager(configuration, m_pFileSystem);
    TRunRecorder recorder(manager, configuration->packages().front());
    manager.installOrUpdatePackage(configuration->packages().front());
    QVERIFY(recorder.waitForAll());
    QVERIFY(recorder.Success);
    QCOMPARE(configuration->packages().front()->localStatus(), TPackage::StatusUpToDate);
}

void TestInstallationManagerRuns::verifyInstalled(int Version, const QString& Directory) const {
    QString difference;
    QVERIFY2(m_pGame->isInstalled(Version, installation(Directory), difference), qPrintable(difference));
}


LAUNCHER_TEST(TestInstallationManagerRuns)

#include "tst_installationmanagerruns.moc"
