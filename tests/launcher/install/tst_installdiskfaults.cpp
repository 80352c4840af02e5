// Installation runs on a failing disk: a full disk at the first, a middle and the marker write,
// an obsolete file that cannot be deleted, and links that lead out of the package. Each row
// updates an installed version 1 to version 2 with the fault in place, then once more without it.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(testsupport::EFailingOperation)

using namespace mirrel::launcher;
using testsupport::EFailingOperation;
using testsupport::readBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

const QString FullDisk = u"No space left on device"_qs;

// How one run through the installation manager ended.
struct TRunOutcome {
    bool Finished = false;
    bool Success = false;
    QString ErrorText;
    QStringList DiskFailures;
};

TRunOutcome runUpdate(const std::shared_ptr<TLauncherFilesystemHelper>& FileSystem) {
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
    QObject::connect(&manager, &TInstallationManager::diskAccessFailed,
                     [&outcome](const QString& Message) { outcome.DiskFailures << Message; });
    QObject::connect(&manager, &TInstallationManager::allStartedUpdatesFinished,
                     [&outcome] { outcome.Finished = true; });
    manager.installOrUpdatePackage(configuration->packages().front());
    if (!QTest::qWaitFor([&outcome] { return outcome.Finished; }, 120000)) {
        qWarning() << "the run did not finish in time";
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return outcome;
}

} // namespace

class TestInstallDiskFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        m_pNginx = std::make_unique<testsupport::TNginxFixture>();
        m_pGame = std::make_unique<testsupport::TPublishedGame>(m_GameWork.path());
        QString error;
        QVERIFY2(m_pGame->publish(cdn(), error), qPrintable(error));
        QVERIFY2(m_pNginx->start(), qPrintable(m_pNginx->errorString()));
    }

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
        QTest::newRow("obsolete file cannot be deleted")
            << EFailingOperation::Remove << u"/old/obsolete.dat"_qs << 0 << false;
        QTest::newRow("links out of the package") << EFailingOperation::None << QString() << 0 << false;
    }

    void updateOnAFailingDisk() {
        QFETCH(EFailingOperation, operation);
        QFETCH(QString, failingPath);
        QFETCH(int, passingWrites);
        QFETCH(bool, runFails);
        QTemporaryDir work;
        m_Launcher = work.filePath(u"launcher"_qs);
        QVERIFY(m_pGame->release(cdn(), 1));
        const auto plain = testsupport::makeLauncherFilesystem(
            m_Launcher, testsupport::launcherSettingsText(m_pNginx->url(u"cdn/launcher.json"_qs)));
        QVERIFY(runUpdate(plain).Success);
        QVERIFY(m_pGame->release(cdn(), 2));

        // Links that lead out of the package, where version 2 writes a file and a folder.
        const QString outside = work.filePath(u"outside"_qs);
        QVERIFY(writeBytes(outside + u"/readme.txt"_qs, "the player's own text"));
        QVERIFY(QDir().mkpath(outside + u"/folder"_qs));
        if (QTest::currentDataTag() == QLatin1String("links out of the package")) {
            QVERIFY(QFile::remove(installed(u"data/readme.txt"_qs)));
            QVERIFY(QFile::link(outside + u"/readme.txt"_qs, installed(u"data/readme.txt"_qs)));
            QVERIFY(QFile::link(outside + u"/folder"_qs, installed(u"new"_qs)));
        }

        const auto failing = std::make_shared<testsupport::TFailingFilesystem>(
            m_Launcher, operation,
            failingPath.isEmpty() ? std::function<bool(const QString&)>()
                                  : testsupport::TFailingFilesystem::endingIn(failingPath));
        failing->PassingWrites = passingWrites;
        TRunOutcome faulty;
        {
            testsupport::TMessageCapture log;
            faulty = runUpdate(failing);
            if (runFails) {
                QVERIFY(log.messages(QtCriticalMsg).filter(FullDisk).size() +
                            log.warnings().filter(FullDisk).size() >
                        0);
            }
        }
        QVERIFY(faulty.Finished);
        QCOMPARE(faulty.DiskFailures, QStringList());
        QCOMPARE(faulty.Success, !runFails);
        if (runFails) {
            // Stopped with the system's words, the partial marker kept, nothing of value lost.
            QVERIFY2(faulty.ErrorText.contains(FullDisk), qPrintable(faulty.ErrorText));
            QVERIFY(QFileInfo::exists(installed(u"partial-package.json"_qs)));
            QVERIFY(!QFileInfo::exists(installed(u"package.json"_qs)));
            QCOMPARE(readBytes(installed(u"stable.bin"_qs)),
                     readBytes(m_pGame->clientTree(2) + u"/stable.bin"_qs));
        }

        failing->Armed = false;
        const TRunOutcome next = runUpdate(failing);
        QVERIFY(next.Success);
        QCOMPARE(next.DiskFailures, QStringList());
        if (operation == EFailingOperation::Remove) {
            // Left in place and logged, never a failed run.
            QVERIFY(QFile::remove(installed(u"old/obsolete.dat"_qs)));
        }
        QString difference;
        QVERIFY2(m_pGame->isInstalled(2, installation(), difference), qPrintable(difference));
        QVERIFY(QFileInfo::exists(installed(u"package.json"_qs)));
        QVERIFY(!QFileInfo(installed(u"data/readme.txt"_qs)).isSymLink());
        QVERIFY(!QFileInfo(installed(u"new"_qs)).isSymLink());
        QCOMPARE(readBytes(outside + u"/readme.txt"_qs), QByteArray("the player's own text"));
        QCOMPARE(QDir(outside + u"/folder"_qs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

private:
    QString cdn() const { return m_pNginx->documentRoot() + u"/cdn"_qs; }
    QString installation() const { return m_Launcher + u"/packages/vantor"_qs; }
    QString installed(const QString& Name) const { return installation() + u'/' + Name; }

    std::unique_ptr<testsupport::TNginxFixture> m_pNginx;
    QTemporaryDir m_GameWork;
    std::unique_ptr<testsupport::TPublishedGame> m_pGame;
    QString m_Launcher;
};

LAUNCHER_TEST(TestInstallDiskFaults)
#include "tst_installdiskfaults.moc"
