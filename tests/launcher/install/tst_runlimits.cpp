// What a run may take: it is refused before it writes anything when the disk cannot hold what it
// adds, and the chunks it parks beyond the memory budget wait in a folder of the package that the
// run's end, or the next run's start, removes.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/chunkcache.h"
#include "launcher/install/freespacecheck.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QDirIterator>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::operator""_qs;

namespace {

struct TRunOutcome {
    bool Finished = false;
    bool Success = false;
    QString ErrorText;
    TRunSizeEstimate Estimate; // as the package's row showed it before the run
};

TRunOutcome runInstall(const std::shared_ptr<TLauncherFilesystemHelper>& FileSystem) {
    TRunOutcome outcome;
    QString error;
    const auto configuration = testsupport::loadLauncherConfiguration(FileSystem, error);
    if (!configuration) {
        qWarning().noquote() << "the launcher configuration did not load:" << error;
        return outcome;
    }
    TInstallationManager manager(configuration, FileSystem);
    manager.setFunnelEventSink([](const QString&, const QString&) {});
    QObject::connect(&manager, &TInstallationManager::installationOrUpdateFinished,
                     [&outcome](const TPackageInstallation& Installation) {
                         outcome.Success = Installation.success();
                         outcome.ErrorText = Installation.errorText();
                     });
    QObject::connect(&manager, &TInstallationManager::allStartedUpdatesFinished,
                     [&outcome] { outcome.Finished = true; });
    outcome.Estimate = configuration->packages().front()->runSizeEstimate();
    manager.installOrUpdatePackage(configuration->packages().front());
    if (!QTest::qWaitFor([&outcome] { return outcome.Finished; }, 120000)) {
        qWarning() << "the run did not finish in time";
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return outcome;
}

// Every file below the folders, by its path below its folder.
QMap<QString, QByteArray> contents(const QStringList& Folders) {
    QMap<QString, QByteArray> files;
    for (const QString& folder : Folders) {
        QDirIterator file(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (file.hasNext()) {
            file.next();
            files.insert(QDir(folder).relativeFilePath(file.filePath()), readBytes(file.filePath()));
        }
    }
    return files;
}

qint64 totalSize(const QMap<QString, QByteArray>& Files) {
    qint64 total = 0;
    for (const QByteArray& bytes : Files) {
        total += bytes.size();
    }
    return total;
}

} // namespace

class TestRunLimits : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        m_pGame = std::make_unique<testsupport::TPublishedGame>(m_GameWork.path());
        QString error;
        QVERIFY2(m_pGame->publish(cdn(), error), qPrintable(error));
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
    }

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
        const QTemporaryDir work;
        const QString launcher = work.filePath(u"launcher"_qs);
        const QString package = launcher + u"/packages/vantor"_qs;
        const auto plain = testsupport::makeLauncherFilesystem(
            launcher, testsupport::launcherSettingsText(m_Nginx.url(u"cdn/launcher.json"_qs)));
        if (installedVersion > 0) {
            QVERIFY(m_pGame->release(cdn(), installedVersion) && runInstall(plain).Success);
        }
        const int target = installedVersion + 1;
        QVERIFY(m_pGame->release(cdn(), target));
        const auto treeSize = [this](int Version) {
            return Version == 0
                       ? qint64(0)
                       : totalSize(contents({m_pGame->clientTree(Version), m_pGame->assetTree(Version)}));
        };
        const qint64 needed = treeSize(target) - treeSize(installedVersion);
        QVERIFY(needed > 0);
        // Left by a run that never ended.
        QVERIFY(testsupport::writeBytes(package + u"/.launcher-staging/chunk-left"_qs, "parked"));
        const QMap<QString, QByteArray> before = contents({package});

        const auto failing =
            std::make_shared<testsupport::TFailingFilesystem>(launcher, testsupport::EFailingOperation::None);
        failing->FreeBytes = needed + spareBytes;
        const TRunOutcome outcome = runInstall(failing);
        QVERIFY(outcome.Finished);
        QCOMPARE(outcome.Estimate.AddedBytes, TFileSize(needed));
        QCOMPARE(outcome.Estimate.fitsOnDisk(), spareBytes >= 0);
        QCOMPARE(outcome.Success, spareBytes >= 0);
        if (spareBytes < 0) {
            QCOMPARE(outcome.ErrorText, TFreeSpaceCheck::refusalText(needed, needed + spareBytes));
            QVERIFY(contents({package}) == before);
            return;
        }
        QString difference;
        QVERIFY2(m_pGame->isInstalled(target, package, difference), qPrintable(difference));
        QVERIFY(!QFileInfo::exists(package + u"/.launcher-staging"_qs));
    }

    void parkedChunksBeyondTheBudgetWaitInThePackage_data() {
        QTest::addColumn<int>("maxCachedChunks");
        QTest::addColumn<qint64>("maxBytesInMemory");
        // Four chunks of ten bytes each.
        QTest::newRow("count limit") << 1 << qint64(1 << 20);
        QTest::newRow("byte limit") << 100 << qint64(25);
    }

    void parkedChunksBeyondTheBudgetWaitInThePackage() {
        QFETCH(int, maxCachedChunks);
        QFETCH(qint64, maxBytesInMemory);
        const QTemporaryDir package;
        const QString staging = package.filePath(u".launcher-staging"_qs);
        TChunkCache cache(maxCachedChunks, std::make_shared<shared::TFileSystemHelper>(), staging,
                          maxBytesInMemory);
        for (const char content : {'a', 'b', 'c', 'd'}) {
            cache.addUse(QByteArray(1, content));
            cache.park(QByteArray(1, content), QByteArray(10, content));
        }
        QCOMPARE(cache.inMemoryCount(), 2);
        for (const char content : {'c', 'd'}) {
            const TChunkCache::TSource parked = cache.source(QByteArray(1, content));
            QCOMPARE(parked.State, std::int32_t(TPendingChunk::InTemporaryFile));
            QVERIFY(parked.FilePath.startsWith(staging + u'/'));
            QCOMPARE(readBytes(parked.FilePath), QByteArray(10, content));
        }
        cache.clear();
        QVERIFY(!QFileInfo::exists(staging));
    }

private:
    QString cdn() const { return m_Nginx.documentRoot() + u"/cdn"_qs; }

    testsupport::TNginxFixture m_Nginx;
    QTemporaryDir m_GameWork;
    std::unique_ptr<testsupport::TPublishedGame> m_pGame;
};

LAUNCHER_TEST(TestRunLimits)
#include "tst_runlimits.moc"
