// A run the disk cannot take is refused before it writes anything; chunks parked beyond the memory
// budget wait in a folder of the package that the run's end, or the next run's start, removes.
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

// How a run ended, and the figures the package's row showed before it began.
struct TRunOutcome {
    bool Success = false;
    QString ErrorText;
    TRunSizeEstimate Estimate;
};

TRunOutcome runInstall(const std::shared_ptr<TLauncherFilesystemHelper>& FileSystem) {
    TRunOutcome outcome;
    QString error;
    const auto configuration = testsupport::loadLauncherConfiguration(FileSystem, error);
    TInstallationManager manager(configuration, FileSystem);
    manager.setFunnelEventSink([](const QString&, const QString&) {});
    QObject::connect(&manager, &TInstallationManager::installationOrUpdateFinished,
                     [&outcome](const TPackageInstallation& Run) {
                         outcome.Success = Run.success();
                         outcome.ErrorText = Run.errorText();
                     });
    outcome.Estimate = configuration->packages().front()->runSizeEstimate();
    manager.installOrUpdatePackage(configuration->packages().front());
    outcome.Success &= QTest::qWaitFor([&] { return manager.installationsInProgress().empty(); }, 120000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return outcome;
}

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

} // namespace

class TestRunLimits : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        QString error;
        QVERIFY2(m_Game.publish(cdn(), error), qPrintable(error));
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
        const QString package = work.filePath(u"packages/vantor"_qs);
        const auto plain = testsupport::makeLauncherFilesystem(
            work.path(), testsupport::launcherSettingsText(m_Nginx.url(u"cdn/launcher.json"_qs)));
        QVERIFY(installedVersion == 0 ||
                (m_Game.release(cdn(), installedVersion) && runInstall(plain).Success));
        const int target = installedVersion + 1;
        QVERIFY(m_Game.release(cdn(), target));
        const auto treeBytes = [this](int Version) {
            qint64 total = 0;
            for (const QByteArray& bytes :
                 contents({m_Game.clientTree(Version), m_Game.assetTree(Version)})) {
                total += bytes.size();
            }
            return total;
        };
        const qint64 needed = treeBytes(target) - (installedVersion > 0 ? treeBytes(installedVersion) : 0);
        // Left by a run that never ended.
        QVERIFY(testsupport::writeBytes(package + u"/.launcher-staging/chunk-left"_qs, "parked"));
        const QMap<QString, QByteArray> before = contents({package});

        const auto disk = std::make_shared<testsupport::TFailingFilesystem>(
            work.path(), testsupport::EFailingOperation::None);
        disk->FreeBytes = needed + spareBytes;
        const TRunOutcome outcome = runInstall(disk);
        QCOMPARE(outcome.Estimate.AddedBytes, TFileSize(needed));
        QCOMPARE(outcome.Estimate.fitsOnDisk(), spareBytes >= 0);
        QCOMPARE(outcome.Success, spareBytes >= 0);
        if (spareBytes < 0) {
            QCOMPARE(outcome.ErrorText, TFreeSpaceCheck::refusalText(needed, needed + spareBytes));
            QVERIFY(contents({package}) == before);
            return;
        }
        QString difference;
        QVERIFY2(m_Game.isInstalled(target, package, difference), qPrintable(difference));
        QVERIFY(!QFileInfo::exists(package + u"/.launcher-staging"_qs));
    }

    // Four chunks of ten bytes, room for 25 bytes in memory.
    void parkedChunksBeyondTheByteBudgetWaitInThePackage() {
        const QTemporaryDir package;
        const QString staging = package.filePath(u".launcher-staging"_qs);
        TChunkCache cache(100, std::make_shared<shared::TFileSystemHelper>(), staging, 25);
        for (const char content : {'a', 'b', 'c', 'd'}) {
            cache.addUse(QByteArray(1, content));
            cache.park(QByteArray(1, content), QByteArray(10, content));
        }
        QCOMPARE(cache.inMemoryCount(), 2);
        for (const char content : {'c', 'd'}) {
            const TChunkCache::TSource parked = cache.source(QByteArray(1, content));
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
    testsupport::TPublishedGame m_Game{m_GameWork.path()};
};

LAUNCHER_TEST(TestRunLimits)
#include "tst_runlimits.moc"
