// An update killed in the middle of its download, the way a crash or a power cut ends it: the next
// start finds the package partly installed, updates it with a full scan that keeps what was
// already written, and ends with exactly the new version. The killed launcher is this test program
// started again in driver mode ("--drive-installation <launcher directory>"), which runs the
// installation manager the way the launcher does, from a server slowed down so that the download
// takes seconds.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/installationkit.h"
#include "support/isolateduserdirectories.h"
#include "support/messagecapture.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::operator""_qs;

namespace {

const char DriverOption[] = "--drive-installation";
const QString QuietLogging = u"default.info=false\ndefault.debug=false"_qs;

void report(const QByteArray& Line) {
    std::fputs((Line + '\n').constData(), stdout);
    std::fflush(stdout);
}

// Driver mode: fetches the configuration and updates the first package; prints "finished <success>"
// at the end.
int driveInstallation(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QuietLogging);
    const auto fileSystem = std::make_shared<TLauncherFilesystemHelper>(QString::fromLocal8Bit(argv[2]));
    QString error;
    const auto configuration = testsupport::loadLauncherConfiguration(fileSystem, error);
    if (!configuration || configuration->packages().empty()) {
        report("error " + error.toUtf8());
        return 2;
    }
    TInstallationManager manager(configuration, fileSystem);
    QObject::connect(&manager, &TInstallationManager::installationOrUpdateFinished, &manager,
                     [](const TPackageInstallation& Installation) {
                         report("finished " + QByteArray::number(Installation.success()));
                     });
    QObject::connect(&manager, &TInstallationManager::allStartedUpdatesFinished, &application,
                     &QCoreApplication::quit);
    manager.installOrUpdatePackage(configuration->packages().front());
    return application.exec();
}

bool copyTree(const QString& Source, const QString& Target) {
    QDirIterator files(Source, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        const QString copy = Target + u'/' + QDir(Source).relativeFilePath(path);
        if (!QDir().mkpath(QFileInfo(copy).absolutePath()) || !QFile::copy(path, copy)) {
            return false;
        }
    }
    return true;
}

QSet<QString> requestedChunks(const testsupport::TNginxFixture& Nginx) {
    QSet<QString> chunks;
    for (const QString& line : Nginx.accessLogLines()) {
        const QString path = line.section(u' ', 1, 1);
        if (path.contains(u"/chunks/"_qs)) {
            chunks.insert(path.section(u'?', 0, 0));
        }
    }
    return chunks;
}

} // namespace

class TestInstallationManagerInterrupted : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(QuietLogging);
        m_pWork = std::make_unique<QTemporaryDir>();
        m_pGame = std::make_unique<testsupport::TPublishedGame>(m_pWork->filePath(u"game"_qs));
        const QString published = m_pWork->filePath(u"cdn"_qs);
        QString error;
        QVERIFY2(m_pGame->publish(published, error), qPrintable(error));
        m_pFast = std::make_unique<testsupport::TNginxFixture>();
        m_pSlow = std::make_unique<testsupport::TNginxFixture>();
        m_pSlow->addServerDirectives(u"limit_rate 2m;"_qs);
        QVERIFY(copyTree(published, cdn(*m_pFast)));
        QVERIFY(copyTree(published, cdn(*m_pSlow)));
        QVERIFY2(m_pFast->start(), qPrintable(m_pFast->errorString()));
        QVERIFY2(m_pSlow->start(), qPrintable(m_pSlow->errorString()));
    }

    void killedUpdateResumesWithAFullScan() {
        // An earlier start installed version 1.
        release(1);
        {
            const auto fileSystem = useServer(*m_pFast);
            QString error;
            const auto configuration = testsupport::loadLauncherConfiguration(fileSystem, error);
            QVERIFY2(configuration, qPrintable(error));
            TInstallationManager manager(configuration, fileSystem);
            QSignalSpy all(&manager, &TInstallationManager::allStartedUpdatesFinished);
            manager.installOrUpdatePackage(configuration->packages().front());
            QVERIFY(all.wait(120000));
            QCOMPARE(configuration->packages().front()->localStatus(), TPackage::StatusUpToDate);
        }
        const QByteArray versionOne = readBytes(installation() + u"/package.json"_qs);
        QVERIFY(!versionOne.isEmpty());

        // Version 2 is out; the launcher updating to it is killed once one of the small changed files is
        // complete on disk, while the big changed chunk is still on its way.
        release(2);
        useServer(*m_pSlow);
        QProcess driver;
        driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        driver.start(QCoreApplication::applicationFilePath(),
                     {QString::fromLatin1(DriverOption), launcherDirectory()});
        QVERIFY2(driver.waitForStarted(), qPrintable(driver.errorString()));
        const QDeadlineTimer deadline(120000);
        while (completeChangedFiles().isEmpty() && !deadline.hasExpired() &&
               driver.state() == QProcess::Running) {
            driver.waitForReadyRead(20);
        }
        driver.kill();
        QVERIFY(driver.waitForFinished(30000));
        const QByteArray output = driver.readAllStandardOutput();
        QVERIFY2(!output.contains("finished"), "the update ended before it could be interrupted");
        QCOMPARE(driver.exitStatus(), QProcess::CrashExit);
        const QStringList complete = completeChangedFiles();
        QVERIFY2(!complete.isEmpty(), output.constData());

        // On disk: the installed version's document as the partial marker, no full marker.
        QVERIFY(!QFileInfo::exists(installation() + u"/package.json"_qs));
        QCOMPARE(readBytes(installation() + u"/partial-package.json"_qs), versionOne);

        // The next start.
        const auto fileSystem = useServer(*m_pFast);
        QString error;
        const auto configuration = testsupport::loadLauncherConfiguration(fileSystem, error);
        QVERIFY2(configuration, qPrintable(error));
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        TInstallationManager manager(configuration, fileSystem);
        QCOMPARE(game->localStatus(), TPackage::StatusPartiallyInstalled);
        m_pFast->clearAccessLog();
        QSignalSpy all(&manager, &TInstallationManager::allStartedUpdatesFinished);
        bool success = false;
        connect(&manager, &TInstallationManager::installationOrUpdateFinished, this,
                [&success](const TPackageInstallation& Installation) { success = Installation.success(); });
        {
            QLoggingCategory::setFilterRules(u"default.info=true\ndefault.debug=false"_qs);
            testsupport::TMessageCapture capture;
            manager.installOrUpdatePackage(game);
            QLoggingCategory::setFilterRules(QuietLogging);
            QVERIFY(!capture.messages(QtInfoMsg).filter(u"fast scan: false"_qs).isEmpty());
        }
        QVERIFY(all.wait(120000));
        QVERIFY(success);
        QCOMPARE(game->localStatus(), TPackage::StatusUpToDate);
        QString difference;
        QVERIFY2(m_pGame->isInstalled(2, installation(), difference), qPrintable(difference));
        QCOMPARE(readBytes(installation() + u"/package.json"_qs),
                 game->configurationForThisSystem()->rawPackageDocument());
        QVERIFY(!QFileInfo::exists(installation() + u"/partial-package.json"_qs));

        // What the killed run had written was found on disk, not fetched again; the rest was.
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
        const QSet<QString> fetchedAgain = requestedChunks(*m_pFast);
        QVERIFY2(!fetchedAgain.isEmpty(), "the killed run cannot have written everything");
        QVERIFY2(!fetchedAgain.intersects(written),
                 qPrintable(QStringList(fetchedAgain.values()).join(u' ') + u" | "_qs + complete.join(u' ')));
    }

private:
    QString launcherDirectory() const { return m_pWork->filePath(u"launcher"_qs); }
    QString installation() const { return launcherDirectory() + u"/packages/vantor"_qs; }
    QString cdn(const testsupport::TNginxFixture& Nginx) const { return Nginx.documentRoot() + u"/cdn"_qs; }

    // The small files that version 2 changes and that already hold version 2's bytes.
    QStringList completeChangedFiles() const;
    std::shared_ptr<TLauncherFilesystemHelper> useServer(const testsupport::TNginxFixture& Nginx) const;
    void release(int Version) const;

    std::unique_ptr<QTemporaryDir> m_pWork;
    std::unique_ptr<testsupport::TPublishedGame> m_pGame;
    // The same content twice: at full speed, and slowed down so that a download takes seconds.
    std::unique_ptr<testsupport::TNginxFixture> m_pFast;
    std::unique_ptr<testsupport::TNginxFixture> m_pSlow;
};

std::shared_ptr<TLauncherFilesystemHelper>
TestInstallationManagerInterrupted::useServer(const testsupport::TNginxFixture& Nginx) const {
    return testsupport::makeLauncherFilesystem(
        launcherDirectory(), testsupport::launcherSettingsText(Nginx.url(u"cdn/launcher.json"_qs)));
}

QStringList TestInstallationManagerInterrupted::completeChangedFiles() const {
    QStringList complete;
    for (const QString& file : {u"data/readme.txt"_qs, u"new/added.dat"_qs}) {
        if (readBytes(installation() + u'/' + file) == readBytes(m_pGame->clientTree(2) + u'/' + file)) {
            complete << file;
        }
    }
    if (readBytes(installation() + u"/assets/world.pak"_qs) ==
        readBytes(m_pGame->assetTree(2) + u"/assets/world.pak"_qs)) {
        complete << u"assets/world.pak"_qs;
    }
    return complete;
}

void TestInstallationManagerInterrupted::release(int Version) const {
    QVERIFY(m_pGame->release(cdn(*m_pFast), Version));
    QVERIFY(m_pGame->release(cdn(*m_pSlow), Version));
}

std::optional<int> driverChild(int argc, char** argv) {
    if (argc < 3 || qstrcmp(argv[1], DriverOption) != 0)
        return std::nullopt;
    return driveInstallation(argc, argv);
}
LAUNCHER_TEST_CHILD_MODE(driverChild)
LAUNCHER_TEST(TestInstallationManagerInterrupted)

#include "tst_installationmanagerinterrupted.moc"
