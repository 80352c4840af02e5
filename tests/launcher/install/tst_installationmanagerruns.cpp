// Installation manager runs against nginx serving a publisher-made game: installs, updates,
// failures, repairs and a killed update, with the markers and statuses seen at every stage of a run.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagedownloadererror.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

const int RunTimeoutMs = 120000;
const QString QuietLogging = u"default.info=false\ndefault.debug=false"_qs;
const char DriverOption[] = "--drive-installation";

// Everything a run tells the outside, in order, with the package's status and markers at each
// moment (an empty text for a missing marker); the funnel milestones come in as "step/key".
class TRunRecorder : public QObject {
public:
    struct TSnapshot {
        QString Event;
        std::int32_t Status = 0;
        QByteArray Full;
        QByteArray Partial;
    };

    TRunRecorder(TInstallationManager& Manager, std::shared_ptr<TPackage> Package)
        : m_Manager(Manager)
        , m_pPackage(std::move(Package)) {
        connect(&Manager, &TInstallationManager::installationOrUpdateStarted, this,
                [this](const TPackageInstallation& Installation) {
                    SelfUpdateMode = Installation.selfUpdateMode();
                    Labels =
                        Installation.installedVersionLabel() + u" > "_qs + Installation.targetVersionLabel();
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
        return *std::find_if(Snapshots.begin(), Snapshots.end(), [&Event](const TSnapshot& Snapshot) {
            return Snapshot.Event.startsWith(Event);
        });
    }
    bool waitForAll() const {
        return QTest::qWaitFor([this] { return events().contains(u"all"_qs); }, RunTimeoutMs);
    }

    std::vector<TSnapshot> Snapshots;
    bool SelfUpdateMode = false;
    QString Labels;
    bool Success = false;
    EPackageDownloaderError ErrorReason = EPackageDownloaderError::NoError;

private:
    void record(const QString& Event) {
        const QString directory = m_Manager.packageDirectory(m_pPackage).absolutePath();
        Snapshots.push_back({Event, m_pPackage->localStatus(), readBytes(directory + u"/package.json"_qs),
                             readBytes(directory + u"/partial-package.json"_qs)});
    }

    TInstallationManager& m_Manager;
    std::shared_ptr<TPackage> m_pPackage;
};

void flipByte(const QString& Path, qint64 Offset) {
    QByteArray bytes = readBytes(Path);
    bytes[static_cast<int>(Offset)] = static_cast<char>(bytes[static_cast<int>(Offset)] ^ 0x5A);
    QVERIFY(writeBytes(Path, bytes));
}

// The killed launcher: this program started again with "--drive-installation <launcher directory>"
// updates the first package as the launcher does and prints "finished" at the end.
std::optional<int> driveInstallation(int argc, char** argv) {
    if (argc < 3 || qstrcmp(argv[1], DriverOption) != 0) {
        return std::nullopt;
    }
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QuietLogging);
    const auto fileSystem = std::make_shared<TLauncherFilesystemHelper>(QString::fromLocal8Bit(argv[2]));
    QString error;
    const auto configuration = testsupport::loadLauncherConfiguration(fileSystem, error);
    if (!configuration) {
        std::fprintf(stdout, "error %s\n", qPrintable(error));
        return 2;
    }
    TInstallationManager manager(configuration, fileSystem);
    QObject::connect(&manager, &TInstallationManager::allStartedUpdatesFinished, &application, [] {
        std::fputs("finished\n", stdout);
        QCoreApplication::quit();
    });
    manager.installOrUpdatePackage(configuration->packages().front());
    return application.exec();
}

} // namespace

class TestInstallationManagerRuns : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(QuietLogging);
        m_pGame = std::make_unique<testsupport::TPublishedGame>(m_GameWork.path());
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
        m_Nginx.clearAccessLog();
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
        QVERIFY(writeBytes(inLauncher(u"accountgroup.json"_qs), R"({"Key": "group-a"})"));
        const QByteArray installed = update ? installReleased() : QByteArray();
        QVERIFY(m_pGame->release(cdn(), update ? 2 : 1));
        const auto configuration = load();
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
        // Started: an update keeps the installed document as the partial marker; a fresh install
        // writes the target's. Downloaded: still partly installed until the verification passed.
        for (const QString& stage : {u"started"_qs, u"launcher_downloaded"_qs}) {
            QCOMPARE(recorder.at(stage).Status, TPackage::StatusPartiallyInstalled);
            QCOMPARE(recorder.at(stage).Full, QByteArray());
        }
        QCOMPARE(recorder.at(u"started"_qs).Partial, update ? installed : target.rawPackageDocument());
        QCOMPARE(recorder.at(u"launcher_downloaded"_qs).Partial, target.rawPackageDocument());
        QCOMPARE(recorder.at(u"launcher_verified"_qs).Status, TPackage::StatusUpToDate);
        QCOMPARE(recorder.at(u"launcher_verified"_qs).Partial, QByteArray());
        QCOMPARE(recorder.at(u"launcher_verified"_qs).Full, target.rawPackageDocument());

        QVERIFY(recorder.Success && !recorder.SelfUpdateMode && game->checkedSinceStart());
        QCOMPARE(recorder.Labels, update ? u"P1 A7 > P2 A8"_qs : u"P? A? > P1 A7"_qs);
        QVERIFY(manager.installationsInProgress().empty());
        verifyInstalled(update ? 2 : 1);
        QCOMPARE(readBytes(inGame(u"assets.json"_qs)), target.rawAssetDocument());
        QCOMPARE(readBytes(inGame(u"VantorOnlineClient_Data/Data/Settings/accountgroup.json"_qs)),
                 QByteArray(R"({"Key": "group-a"})"));
        QVERIFY(!QFileInfo::exists(installation(u"classic"_qs)));
        QCOMPARE(TInstallationManager(configuration, m_pFileSystem).determinePackageStatus(game),
                 TPackage::StatusUpToDate);
    }

    void failedDownloadLeavesThePackagePartlyInstalled() {
        const QByteArray versionOne = installReleased();
        QVERIFY(m_pGame->release(cdn(), 2));
        const auto configuration = load();
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        const QString chunks = cdn() + u"/vantor/linux/chunks"_qs;
        QVERIFY(QDir().rename(chunks, chunks + u".away"_qs));
        TInstallationManager manager(configuration, m_pFileSystem);
        TRunRecorder recorder(manager, game);
        manager.installOrUpdatePackage(game);
        const bool ended = recorder.waitForAll();
        QVERIFY(QDir().rename(chunks + u".away"_qs, chunks));
        QVERIFY(ended);
        QCOMPARE(recorder.events(),
                 (QStringList{u"started Vantor Online"_qs, u"finished Vantor Online"_qs, u"all"_qs}));
        QVERIFY(!recorder.Success && !game->checkedSinceStart());
        QCOMPARE(recorder.ErrorReason, EPackageDownloaderError::DownloadFailed);
        QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
        QVERIFY(!QFileInfo::exists(inGame(u"package.json"_qs)));
        QCOMPARE(readBytes(inGame(u"partial-package.json"_qs)), versionOne);
    }

    void failedVerificationThenRepairWithFullScan() {
        QVERIFY(writeBytes(inLauncher(u"accountgroup.json"_qs), R"({"Key": "group-b"})"));
        const QByteArray installed = installReleased();
        const QString accountGroupCopy =
            inGame(u"VantorOnlineClient_Data/Data/Settings/accountgroup.json"_qs);
        QVERIFY(QFile::remove(accountGroupCopy));
        flipByte(inGame(u"stable.bin"_qs), 10 * 1024 * 1024);
        const auto configuration = load();
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        {
            TRunRecorder recorder(manager, game);
            manager.verifyPackage(game);
            QVERIFY(recorder.waitForAll());
            QCOMPARE(recorder.events(),
                     (QStringList{u"started Vantor Online"_qs, u"finished Vantor Online"_qs, u"all"_qs}));
            QCOMPARE(recorder.at(u"started"_qs).Partial, installed);
            QCOMPARE(recorder.ErrorReason, EPackageDownloaderError::VerificationFailed);
        }
        QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
        QVERIFY(game->checkedSinceStart());
        QVERIFY(!QFileInfo::exists(inGame(u"package.json"_qs)) && !QFileInfo::exists(accountGroupCopy));
        QCOMPARE(readBytes(inGame(u"partial-package.json"_qs)), installed);

        // The repair reads every file: the damaged chunk is fetched again, nothing else.
        m_Nginx.clearAccessLog();
        runOnce(manager, game);
        verifyInstalled(1);
        QVERIFY(QFileInfo::exists(accountGroupCopy));
        QTRY_COMPARE(m_Nginx.accessLogLines().filter(u"/chunks/"_qs).size(), 1);

        // A verification that passes leaves the installed document as the full marker.
        TRunRecorder recorder(manager, game);
        manager.verifyPackage(game);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        QVERIFY(recorder.events().contains(u"launcher_verified/FunnelFinished_VerifyingFirst"_qs));
        QCOMPARE(game->localStatus(), TPackage::StatusUpToDate);
        QCOMPARE(readBytes(inGame(u"package.json"_qs)), installed);
        QVERIFY(!QFileInfo::exists(inGame(u"partial-package.json"_qs)));
    }

    void verifyingAnOlderVersionRecordsThatVersion() {
        const QByteArray versionOne = installReleased();
        const QByteArray assetsOne = readBytes(inGame(u"assets.json"_qs));
        QVERIFY(m_pGame->release(cdn(), 2));
        const auto configuration = load();
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        TRunRecorder recorder(manager, game);
        manager.verifyPackage(game);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        // The files of version 1 were checked; they are still version 1, not the offered version 2.
        QCOMPARE(readBytes(inGame(u"package.json"_qs)), versionOne);
        QCOMPARE(readBytes(inGame(u"assets.json"_qs)), assetsOne);
        QCOMPARE(game->localStatus(), TPackage::StatusUpdateAvailable);
        QCOMPARE(manager.determinePackageStatus(game), TPackage::StatusUpdateAvailable);
        verifyInstalled(1);
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
            flipByte(stable.fileName(), 10 * 1024 * 1024);
        }
        QVERIFY(damage != u"cut"_qs || stable.resize(stable.size() - 10));
        QVERIFY(damage != u"remove"_qs || stable.remove());
        QVERIFY(m_pGame->release(cdn(), 2));
        const auto configuration = load();
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        if (interrupted) {
            const TPackageConfigurationReader installed =
                manager.readPackageConfigurationFromInstallationDirectory(installation());
            manager.markPackageAsPartiallyInstalled(game, installed.rawPackageDocument(),
                                                    installed.rawAssetDocument());
        }
        runOnce(manager, game);
        QString difference;
        QCOMPARE(m_pGame->isInstalled(2, installation(), difference), repaired);
        QCOMPARE(difference, repaired ? QString() : u"stable.bin differs"_qs);
    }

    void requestsForRunningPackagesAreIgnored() {
        const auto configuration = load();
        const std::shared_ptr<TPackage> online = configuration->packages().at(0);
        const std::shared_ptr<TPackage> classic = configuration->packages().at(1);
        TInstallationManager manager(configuration, m_pFileSystem);
        TRunRecorder recorder(manager, online);
        manager.installOrUpdatePackage(online);
        manager.installOrUpdatePackage(online);
        manager.verifyPackage(online);
        manager.installOrUpdatePackage(classic);
        QCOMPARE(manager.installationsInProgress().size(), std::size_t(2));
        QVERIFY(manager.isInstallationInProgress(u"Vantor Online"_qs));
        QVERIFY(recorder.waitForAll());
        QTest::qWait(50);
        const QStringList events = recorder.events();
        QCOMPARE(events.filter(u"started"_qs).size(), 2);
        QCOMPARE(events.filter(u"finished"_qs).size(), 2);
        QCOMPARE(events.filter(u"all"_qs).size(), 1);
        QCOMPARE(events.last(), u"all"_qs);
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
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        TRunRecorder recorder(manager, game);
        manager.installOrUpdatePackage(game);
        failing->Armed = true;
        QVERIFY(recorder.waitForAll());
        const QStringList events = recorder.events();
        QCOMPARE(events.size(), 4);
        QVERIFY2(events.at(1).startsWith(u"disk I/O error on file '"_qs) &&
                     events.at(1).contains(u"partial-package.json"_qs),
                 qPrintable(events.at(1)));
        QCOMPARE(events.mid(2), (QStringList{u"finished Vantor Online"_qs, u"all"_qs}));
        QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
        QVERIFY(!QFileInfo::exists(inGame(u"package.json"_qs)));
        QVERIFY(manager.installationsInProgress().empty());
    }

    void selfUpdateModeInstallsIntoTheLauncherDirectory() {
        const auto configuration = load();
        const std::shared_ptr<TPackage> launcher = configuration->launcherPackage();
        TInstallationManager manager(nullptr, m_pFileSystem);
        manager.setSelfUpdateMode(true);
        TRunRecorder recorder(manager, launcher);
        runOnce(manager, launcher);
        QVERIFY(recorder.SelfUpdateMode);
        QString difference;
        QVERIFY2(m_pGame->isInstalled(1, launcherDirectory(), difference) ||
                     difference.endsWith(u"should not be there"_qs),
                 qPrintable(difference));
        QCOMPARE(readBytes(inLauncher(u"package.json"_qs)),
                 launcher->configurationForThisSystem()->rawPackageDocument());
        QVERIFY(!QFileInfo::exists(inLauncher(u"packages/launcher"_qs)));
    }

    void managerGoingAwayDuringARun() {
        const auto configuration = load();
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        for (const int delayMs : {0, 20, 200}) {
            // A launcher that replaces its manager, or ends, in the middle of a run.
            auto manager = std::make_unique<TInstallationManager>(configuration, m_pFileSystem);
            QSignalSpy finished(manager.get(), &TInstallationManager::allStartedUpdatesFinished);
            manager->installOrUpdatePackage(game);
            QTest::qWait(delayMs);
            const bool interrupted = finished.isEmpty();
            manager.reset();
            QTest::qWait(100);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QTest::qWait(100);
            TInstallationManager next(configuration, m_pFileSystem);
            QCOMPARE(game->localStatus(),
                     interrupted ? TPackage::StatusPartiallyInstalled : TPackage::StatusUpToDate);
        }
        // What was left behind is completed by the next run.
        TInstallationManager manager(configuration, m_pFileSystem);
        runOnce(manager, game);
        verifyInstalled(1);
    }

    void killedUpdateResumesWithAFullScan() {
        const QByteArray versionOne = installReleased();
        // The launcher updating to version 2 is killed once one of the small changed files is
        // complete on disk, while the big changed chunk is still on its way.
        QVERIFY(m_pGame->release(cdn(), 2));
        useSettings({}, m_Slow);
        QProcess driver;
        driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        driver.start(QCoreApplication::applicationFilePath(),
                     {QString::fromLatin1(DriverOption), launcherDirectory()});
        QVERIFY2(driver.waitForStarted(), qPrintable(driver.errorString()));
        QStringList complete;
        const QDeadlineTimer deadline(RunTimeoutMs);
        while (complete.isEmpty() && !deadline.hasExpired() && driver.state() == QProcess::Running) {
            driver.waitForReadyRead(20);
            complete = completeChangedFiles();
        }
        driver.kill();
        QVERIFY(driver.waitForFinished(30000));
        QVERIFY2(!driver.readAllStandardOutput().contains("finished"),
                 "the update ended before it was killed");
        QVERIFY(!complete.isEmpty());
        // On disk: the installed version's document as the partial marker, no full marker.
        QVERIFY(!QFileInfo::exists(inGame(u"package.json"_qs)));
        QCOMPARE(readBytes(inGame(u"partial-package.json"_qs)), versionOne);

        // The next start reads every file, keeps what the killed run wrote, and fetches the rest.
        useSettings();
        const auto configuration = load();
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, m_pFileSystem);
        QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
        m_Nginx.clearAccessLog();
        runOnce(manager, game);
        verifyInstalled(2);
        QCOMPARE(readBytes(inGame(u"package.json"_qs)),
                 game->configurationForThisSystem()->rawPackageDocument());
        QVERIFY(!QFileInfo::exists(inGame(u"partial-package.json"_qs)));
        QSet<QString> written;
        const TPackageConfigurationReader& target = *game->configurationForThisSystem();
        for (const TFileInPackage& entry : target.files()) {
            if (complete.contains(entry.LocalFile)) {
                written.insert(entry.WholeFile.Url.path());
                for (const std::int32_t index : entry.Chunks) {
                    written.insert(target.chunks().at(static_cast<std::size_t>(index)).Url.path());
                }
            }
        }
        QTest::qWait(200); // nginx logs a request just after its last byte
        QSet<QString> fetchedAgain;
        for (const QString& line : m_Nginx.accessLogLines().filter(u"/chunks/"_qs)) {
            fetchedAgain.insert(line.section(u' ', 1, 1).section(u'?', 0, 0));
        }
        QVERIFY2(!fetchedAgain.isEmpty(), "the killed run cannot have written everything");
        QVERIFY2(!fetchedAgain.intersects(written),
                 qPrintable(QStringList(fetchedAgain.values()).join(u' ')));
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
    void useSettings(const QStringList& Options, const testsupport::TNginxFixture& Server) {
        m_pFileSystem = testsupport::makeLauncherFilesystem(
            launcherDirectory(),
            testsupport::launcherSettingsText(Server.url(u"cdn/launcher.json"_qs), Options));
    }
    std::shared_ptr<TLauncherConfigurationReader> load() {
        QString error;
        auto configuration = testsupport::loadLauncherConfiguration(m_pFileSystem, error);
        if (!configuration || !configuration->packages().front()->configurationForThisSystem()) {
            QTest::qFail(qPrintable(u"the launcher configuration did not load: "_qs + error), __FILE__,
                         __LINE__);
        }
        return configuration;
    }
    // One successful run that ends with the package up to date.
    void runOnce(TInstallationManager& Manager, const std::shared_ptr<TPackage>& Package) {
        TRunRecorder recorder(Manager, Package);
        Manager.installOrUpdatePackage(Package);
        QVERIFY(recorder.waitForAll());
        QVERIFY(recorder.Success);
        QCOMPARE(Package->localStatus(), TPackage::StatusUpToDate);
    }
    // Installs the released version with a manager of its own, as an earlier start of the launcher
    // would have; returns the installed package document.
    QByteArray installReleased() {
        const auto configuration = load();
        TInstallationManager manager(configuration, m_pFileSystem);
        runOnce(manager, configuration->packages().front());
        return readBytes(inGame(u"package.json"_qs));
    }
    void verifyInstalled(int Version, const QString& Directory = u"vantor"_qs) const {
        QString difference;
        QVERIFY2(m_pGame->isInstalled(Version, installation(Directory), difference), qPrintable(difference));
    }
    // The small files that version 2 changes and that already hold version 2's bytes.
    QStringList completeChangedFiles() const {
        QStringList complete;
        for (const QString& file : {u"data/readme.txt"_qs, u"new/added.dat"_qs, u"assets/world.pak"_qs}) {
            const QString tree =
                file.startsWith(u"assets"_qs) ? m_pGame->assetTree(2) : m_pGame->clientTree(2);
            if (readBytes(inGame(file)) == readBytes(tree + u'/' + file)) {
                complete << file;
            }
        }
        return complete;
    }

    QTemporaryDir m_GameWork;
    std::unique_ptr<testsupport::TPublishedGame> m_pGame;
    testsupport::TNginxFixture m_Nginx;
    testsupport::TNginxFixture m_Slow;
    std::unique_ptr<QTemporaryDir> m_pWork;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
};

LAUNCHER_TEST_CHILD_MODE(driveInstallation)
LAUNCHER_TEST(TestInstallationManagerRuns)
#include "tst_installationmanagerruns.moc"
