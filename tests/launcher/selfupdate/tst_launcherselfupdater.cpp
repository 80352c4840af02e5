#include "launcher/install/installationmanager.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/selfupdate/launcherselfupdater.h"
#include "launcher/settings/launcherconstants.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/messagecapture.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::seededBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

const QByteArray SettingsText = "[DIRECTORIES]\npackages=packages\n"
                                "[FILES]\npackageFile=package.json\npartialPackageFile=partial-package.json\n"
                                "assetFile=assets.json\naccountGroupFile=accountgroup.json\n";
const QString ProgramName = u"VantorLauncher"_qs;

QString architectureName() {
    return QSysInfo::buildCpuArchitecture() == u"i386"_qs ? u"i386"_qs : u"x86_64"_qs;
}

} // namespace

class TestLauncherSelfUpdater : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        m_OldProgram = seededBytes(1, 300000);
        m_NewProgram = seededBytes(2, 310000);
        // Version 0.0.13 of the launcher: its program and a data file. The same two with the data
        // file's only chunk missing on the server, and with the program's only chunk missing.
        const QString tree = m_Stage.workDirectory() + u"/launcher-tree"_qs;
        QVERIFY(writeBytes(tree + u'/' + ProgramName, m_NewProgram));
        QVERIFY(QFile::setPermissions(tree + u'/' + ProgramName,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(writeBytes(tree + u"/launcher-data.bin"_qs, seededBytes(3, 200000)));
        QVERIFY2(m_Stage.publishTree(tree, u"launcher/linux"_qs, u"package.json"_qs, u"0.0.13"_qs,
                                     ProgramName, {}),
                 qPrintable(m_Stage.errorString()));

        const QString brokenData = m_Stage.workDirectory() + u"/launcher-broken-data"_qs;
        QVERIFY(writeBytes(brokenData + u'/' + ProgramName, m_NewProgram));
        QVERIFY(writeBytes(brokenData + u"/launcher-data.bin"_qs, seededBytes(4, 200000)));
        QVERIFY(m_Stage.publishTree(brokenData, u"broken-data/linux"_qs, u"package.json"_qs, u"0.0.13"_qs,
                                    ProgramName, {}));
        QVERIFY(QFile::remove(chunkFileOf(u"broken-data/linux/package.json"_qs, u"launcher-data.bin"_qs)));

        const QString brokenProgram = m_Stage.workDirectory() + u"/launcher-broken-program"_qs;
        QVERIFY(writeBytes(brokenProgram + u'/' + ProgramName, seededBytes(5, 320000)));
        QVERIFY(m_Stage.publishTree(brokenProgram, u"broken-program/linux"_qs, u"package.json"_qs,
                                    u"0.0.13"_qs, ProgramName, {}));
        QVERIFY(QFile::remove(chunkFileOf(u"broken-program/linux/package.json"_qs, ProgramName)));
    }

    void init() {
        m_LauncherDirectory = std::make_unique<QTemporaryDir>();
        QVERIFY(m_LauncherDirectory->isValid());
        QVERIFY(writeBytes(m_LauncherDirectory->filePath(u"launchersettings.ini"_qs), SettingsText));
        QVERIFY(writeBytes(m_LauncherDirectory->filePath(ProgramName), m_OldProgram));
    }

    void nullPackageStartsNothing() {
        TLauncherSelfUpdater updater(
            std::make_shared<TLauncherFilesystemHelper>(m_LauncherDirectory->path()));
        updater.startSelfUpdate(nullptr);
        QVERIFY(!updater.installationManager());
    }

    void successfulUpdateReplacesTheProgramAndAsksForRestart() {
        const QString directory = m_LauncherDirectory->path();
        TLauncherSelfUpdater updater(std::make_shared<TLauncherFilesystemHelper>(directory));
        QSignalSpy restart(&updater, &TLauncherSelfUpdater::updateDownloadFinishedAndRestartRequired);
        QSignalSpy failed(&updater, &TLauncherSelfUpdater::updateFailed);
        QVERIFY(startAndWait(updater, launcherPackage(u"launcher/linux/package.json"_qs)));

        QCOMPARE(restart.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(updater.installationManager()->selfUpdateMode());
        // The old program waits beside the new one for the restarted launcher to remove it.
        QCOMPARE(readBytes(directory + u'/' + ProgramName), m_NewProgram);
        QCOMPARE(readBytes(directory + u'/' + ProgramName + BackupSuffix), m_OldProgram);
        QVERIFY(QFileInfo(directory + u'/' + ProgramName).isExecutable());
        QVERIFY(QFileInfo::exists(directory + u"/launcher-data.bin"_qs));
        QCOMPARE(readBytes(directory + u"/package.json"_qs),
                 readBytes(m_Stage.server().documentRoot() + u"/launcher/linux/package.json"_qs));
        QVERIFY(!QFileInfo::exists(directory + u"/partial-package.json"_qs));

        // The restarted launcher removes the backup.
        updater.cleanupOldLauncherVersion();
        QVERIFY(!QFileInfo::exists(directory + u'/' + ProgramName + BackupSuffix));
        QCOMPARE(readBytes(directory + u'/' + ProgramName), m_NewProgram);
    }

    void failedUpdateRestoresTheOldProgram() {
        const QString directory = m_LauncherDirectory->path();
        // A backup an earlier update left behind must not be what comes back.
        QVERIFY(writeBytes(directory + u'/' + ProgramName + BackupSuffix, "stale backup"));
        TLauncherSelfUpdater updater(std::make_shared<TLauncherFilesystemHelper>(directory));
        QSignalSpy restart(&updater, &TLauncherSelfUpdater::updateDownloadFinishedAndRestartRequired);
        QSignalSpy failed(&updater, &TLauncherSelfUpdater::updateFailed);
        testsupport::TMessageCapture capture;
        QVERIFY(startAndWait(updater, launcherPackage(u"broken-data/linux/package.json"_qs)));

        QCOMPARE(failed.count(), 1);
        QCOMPARE(restart.count(), 0);
        // The new program had been written before the data file failed; the old one is back.
        QCOMPARE(readBytes(directory + u'/' + ProgramName), m_OldProgram);
        QVERIFY(!QFileInfo::exists(directory + u'/' + ProgramName + BackupSuffix));
        QVERIFY(capture.messages(QtCriticalMsg).contains(u"Updating Vantor Online failed: Error 1"_qs));
    }

    void failureBeforeTheProgramWasTouchedLeavesItAlone() {
        const QString directory = m_LauncherDirectory->path();
        TLauncherSelfUpdater updater(std::make_shared<TLauncherFilesystemHelper>(directory));
        QSignalSpy failed(&updater, &TLauncherSelfUpdater::updateFailed);
        QVERIFY(startAndWait(updater, launcherPackage(u"broken-program/linux/package.json"_qs)));

        QCOMPARE(failed.count(), 1);
        QCOMPARE(readBytes(directory + u'/' + ProgramName), m_OldProgram);
        QVERIFY(!QFileInfo::exists(directory + u'/' + ProgramName + BackupSuffix));
    }

    void restoreThatCannotDeleteIsADiskFailure() {
        const QString directory = m_LauncherDirectory->path();
        // The launcher's program cannot be deleted at all here.
        TLauncherSelfUpdater updater(std::make_shared<testsupport::TFailingFilesystem>(
            directory, testsupport::EFailingOperation::Remove,
            testsupport::TFailingFilesystem::endingIn(u'/' + ProgramName)));
        QSignalSpy failed(&updater, &TLauncherSelfUpdater::updateFailed);
        QSignalSpy diskFailed(&updater, &TLauncherSelfUpdater::diskAccessFailed);
        QVERIFY(startAndWait(updater, launcherPackage(u"broken-data/linux/package.json"_qs)));

        QCOMPARE(failed.count(), 0);
        QCOMPARE(diskFailed.count(), 1);
        QVERIFY2(diskFailed.first().first().toString().startsWith(u"Failed to delete file "_qs),
                 qPrintable(diskFailed.first().first().toString()));
    }

    void cleanupRemovesOnlyOldFilesOfTheLauncherDirectory() {
        const QDir directory(m_LauncherDirectory->path());
        for (const QString& name : {u"VantorLauncher.old"_qs, u"readme.old"_qs, u"notes.OLD"_qs, u"old"_qs,
                                    u"old.txt"_qs, u"plugins/inner.old"_qs}) {
            QVERIFY(writeBytes(directory.filePath(name), "x"));
        }
        QVERIFY(directory.mkpath(u"cache.old"_qs));
        TLauncherSelfUpdater updater(std::make_shared<TLauncherFilesystemHelper>(directory.path()));
        updater.cleanupOldLauncherVersion();

        QVERIFY(!directory.exists(u"VantorLauncher.old"_qs));
        QVERIFY(!directory.exists(u"readme.old"_qs));
        for (const QString& kept : {u"notes.OLD"_qs, u"old"_qs, u"old.txt"_qs, u"plugins/inner.old"_qs,
                                    u"cache.old"_qs, ProgramName}) {
            QVERIFY2(directory.exists(kept), qPrintable(kept));
        }
    }

    void cleanupFailureThrows() {
        QVERIFY(writeBytes(m_LauncherDirectory->filePath(u"stuck.old"_qs), "x"));
        TLauncherSelfUpdater updater(std::make_shared<testsupport::TFailingFilesystem>(
            m_LauncherDirectory->path(), testsupport::EFailingOperation::Remove));
        QVERIFY_EXCEPTION_THROWN(updater.cleanupOldLauncherVersion(), std::runtime_error);
        QVERIFY(QFileInfo::exists(m_LauncherDirectory->filePath(u"stuck.old"_qs)));
    }

private:
    std::shared_ptr<TPackage> launcherPackage(const QString& Document) const;
    QString chunkFileOf(const QString& Document, const QString& LocalFile) const;
    bool startAndWait(TLauncherSelfUpdater& Updater, const std::shared_ptr<TPackage>& Package) const;

    testsupport::TLauncherStage m_Stage;
    std::unique_ptr<QTemporaryDir> m_LauncherDirectory;
    QByteArray m_OldProgram;
    QByteArray m_NewProgram;
};

std::shared_ptr<TPackage> TestLauncherSelfUpdater::launcherPackage(const QString& Document) const {
    const QJsonObject build{
        {u"os"_qs, u"linux"_qs}, {u"architecture"_qs, architectureName()}, {u"url"_qs, Document}};
    const QJsonObject entry{{u"name"_qs, u"Launcher"_qs},
                            {u"directoryname"_qs, u"launcher"_qs},
                            {u"builds"_qs, QJsonArray{build}}};
    auto package = std::make_shared<TPackage>(LauncherPackageIndex, entry, m_Stage.server().url(QString()));
    const QUrl folder = m_Stage.server().url(Document).adjusted(QUrl::RemoveFilename);
    package->selectBuildForThisSystem()->Configuration = std::make_unique<TPackageConfigurationReader>(
        readBytes(m_Stage.server().documentRoot() + u'/' + Document), QByteArray(), folder, folder);
    return package;
}

QString TestLauncherSelfUpdater::chunkFileOf(const QString& Document, const QString& LocalFile) const {
    const QUrl folder = m_Stage.server().url(Document).adjusted(QUrl::RemoveFilename);
    const TPackageConfigurationReader configuration(
        readBytes(m_Stage.server().documentRoot() + u'/' + Document), QByteArray(), folder, folder);
    for (const TFileInPackage& file : configuration.files()) {
        if (file.LocalFile == LocalFile && file.Chunks.size() == 1) {
            const QUrl url = configuration.chunks().at(static_cast<std::size_t>(file.Chunks.front())).Url;
            return m_Stage.server().documentRoot() + url.path();
        }
    }
    return QString();
}

bool TestLauncherSelfUpdater::startAndWait(TLauncherSelfUpdater& Updater,
                                           const std::shared_ptr<TPackage>& Package) const {
    QSignalSpy restart(&Updater, &TLauncherSelfUpdater::updateDownloadFinishedAndRestartRequired);
    QSignalSpy failed(&Updater, &TLauncherSelfUpdater::updateFailed);
    QSignalSpy diskFailed(&Updater, &TLauncherSelfUpdater::diskAccessFailed);
    Updater.startSelfUpdate(Package);
    return QTest::qWaitFor([&] { return restart.count() + failed.count() + diskFailed.count() > 0; }, 120000);
}

LAUNCHER_TEST(TestLauncherSelfUpdater)
#include "tst_launcherselfupdater.moc"
