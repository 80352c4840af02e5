// ctest: serial
// Every launcher started here takes the launcher's fixed single-instance guard, and the sample
// client the fixed client object name.
//
// Whole runs of the real launcher executable against a real nginx serving what the real publisher
// made of a small game whose program is the sample client.
#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <signal.h>

using testsupport::readBytes;
using testsupport::TLauncherSandbox;
using testsupport::TLauncherStage;
using testsupport::TStagePackage;
using testsupport::operator""_qs;

namespace {

const QString Vantor = u"vantor"_qs;
const QString Classic = u"classic"_qs;
const QString Preview = u"preview"_qs;
const QString UpToDate = u"--package-is-up-to-date"_qs;
const QRegularExpression WindowShown(u"sendFunnelEvent: launcher_started$"_qs);
const QRegularExpression StartLine(QStringLiteral(R"(Info: Version: 0\.0\.12 Thread: )"));

QRegularExpression literal(const QString& Text) {
    return QRegularExpression(QRegularExpression::escape(Text));
}

} // namespace

class TestEndToEndInstall : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 2), qPrintable(m_Stage.errorString()));
        // A launcher package of another version, for the stored copy to name.
        const QString tree = m_Stage.workDirectory() + u"/launcher-tree"_qs;
        QVERIFY(testsupport::writeBytes(tree + u"/launcher-notes.txt"_qs, "notes\n"));
        QVERIFY2(
            m_Stage.publishTree(tree, u"launcher/linux"_qs, u"package.json"_qs, u"0.0.13"_qs, QString(), {}),
            qPrintable(m_Stage.errorString()));
    }

    void init() {
        QVERIFY2(m_Stage.renewSandbox(), qPrintable(m_Stage.errorString()));
        QVERIFY(m_Stage.writeSettings());
        QVERIFY(releaseVersion(1));
        QVERIFY2(!platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName),
                 "another launcher is running");
        QVERIFY2(!platform::TNamedFileMapping::exists(mirrel::launcher::ClientPresenceName),
                 "a game client is running");
    }

    void firstLaunchInstallsAutomaticPackagesAndStartsTheFirst() {
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);

        QString difference;
        for (const QString& directory : {Vantor, Classic}) {
            QVERIFY2(isInstalled(directory, 1, difference), qPrintable(directory + u": "_qs + difference));
            QCOMPARE(installedDocument(directory), publishedDocument(1));
            QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(directory) + u"/partial-package.json"_qs));
        }
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Preview)));
        // Only the first automatic package becomes the default.
        QVERIFY(QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/default"_qs));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Classic) + u"/default"_qs));

        // The launcher ended once the client held its object: the client runs, started with the
        // package's parameters and, after this run's verification stage, the up-to-date flag last.
        const auto starts = m_Stage.clientStarts();
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts.first().Arguments, TLauncherStage::gameParameters() + QStringList{UpToDate});
        QCOMPARE(starts.first().WorkingDirectory, m_Stage.packageDirectory(Vantor));
        QVERIFY(starts.first().LauncherRunning);
        QVERIFY(platform::TNamedFileMapping::exists(mirrel::launcher::ClientPresenceName));
        QCOMPARE(m_Stage.sandbox().countLogLines(WindowShown), 1);
    }

    void preventDefaultAutostartStartsNothing() {
        QVERIFY(releaseVersion(1, true));
        auto launcher = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(QTest::qWaitFor(
            [&] {
                return installedDocument(Vantor) == publishedDocument(1) &&
                       installedDocument(Classic) == publishedDocument(1);
            },
            120000));
        // Both runs are over; give a start that should not happen the time it would take.
        QVERIFY(m_Stage.sandbox().waitForLogLine(literal(u"onVerificationFinished found package: "_qs), 2));
        QTest::qWait(1500);
        QVERIFY(m_Stage.clientStarts().isEmpty());
        QCOMPARE(launcher->state(), QProcess::Running);
        QVERIFY(QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/default"_qs));
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));
        QCOMPARE(launcher->exitCode(), 0);
    }

    void nextPlainStartStartsTheDefaultAtOnce() {
        firstLaunch();
        if (QTest::currentTestFailed()) {
            return;
        }
        QCOMPARE(m_Stage.runLauncher({}), 0);

        const auto starts = m_Stage.clientStarts();
        QCOMPARE(starts.size(), 2);
        // Nothing was verified in the second run.
        QCOMPARE(starts.last().Arguments, TLauncherStage::gameParameters());
        QCOMPARE(starts.last().WorkingDirectory, m_Stage.packageDirectory(Vantor));
        // Without a window: only the first launch showed one.
        QCOMPARE(m_Stage.sandbox().countLogLines(StartLine), 2);
        QCOMPARE(m_Stage.sandbox().countLogLines(WindowShown), 1);
    }

    void silentClientEndsTheLauncherWithOne() {
        firstLaunch();
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(m_Stage.writeSettings(1500));
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_ANNOUNCE"_qs, u"never"_qs);
        QCOMPARE(m_Stage.runLauncher({}), 1);
        QCOMPARE(m_Stage.clientStarts().size(), 2);
        QVERIFY(m_Stage.sandbox().countLogLines(literal(u"did not announce itself"_qs)) == 1);
    }

    void newVersionIsPatchedWithTheFastScanAndStarted() {
        firstLaunch();
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(releaseVersion(2));

        // The default package is no longer up to date: the list is shown instead of a start.
        auto plain = m_Stage.startLauncher({});
        QVERIFY(m_Stage.sandbox().waitForLogLine(WindowShown, 2));
        QTest::qWait(500);
        QCOMPARE(plain->state(), QProcess::Running);
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QVERIFY(TLauncherSandbox::stop(*plain, SIGTERM));

        // The client asks for its own update.
        QCOMPARE(m_Stage.runLauncher({u"--patch"_qs, m_Stage.installedExecutable(Vantor)}), 0);
        QVERIFY(m_Stage.sandbox().countLogLines(
                    literal(u"installOrUpdatePackage: Vantor Online fast scan: true"_qs)) == 1);
        QString difference;
        QVERIFY2(isInstalled(Vantor, 2, difference), qPrintable(difference));
        QCOMPARE(installedDocument(Vantor), publishedDocument(2));
        // The other package was not asked for.
        QCOMPARE(installedDocument(Classic), publishedDocument(1));

        const auto starts = m_Stage.clientStarts();
        QCOMPARE(starts.size(), 2);
        QCOMPARE(starts.last().Arguments, TLauncherStage::gameParameters() + QStringList{UpToDate});
        QCOMPARE(starts.last().WorkingDirectory, m_Stage.packageDirectory(Vantor));
    }

    void forcePatchMarkerIsDeletedAndItsPackageUpdated() {
        firstLaunch();
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(releaseVersion(2));
        const QString marker = m_Stage.packageDirectory(Classic) + u"/FORCE_PATCH"_qs;
        QVERIFY(testsupport::writeBytes(marker, QByteArray()));

        auto launcher = m_Stage.startLauncher({});
        QVERIFY(QTest::qWaitFor([&] { return installedDocument(Classic) == publishedDocument(2); }, 120000));
        QVERIFY(!QFileInfo::exists(marker));
        QString difference;
        QVERIFY2(isInstalled(Classic, 2, difference), qPrintable(difference));
        // Only the marked package was updated, and nothing was started.
        QCOMPARE(installedDocument(Vantor), publishedDocument(1));
        QTest::qWait(1000);
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QCOMPARE(launcher->state(), QProcess::Running);
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));
        QCOMPARE(launcher->exitCode(), 0);
    }

    void secondInstanceEndsAtOnceWhileTheFirstInstalls() {
        QVERIFY(releaseVersion(1, true));
        auto first = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(m_Stage.sandbox().waitForLogLine(literal(u"onLauncherReadyForAction"_qs)));

        for (const QStringList& arguments :
             {QStringList(), QStringList{u"--first-launch"_qs}, QStringList{u"-s"_qs}}) {
            const int index = m_Stage.launchersStarted() + 1;
            QCOMPARE(m_Stage.runLauncher(arguments, 30000), 0);
            QVERIFY2(m_Stage.launcherOutput(index).contains(u"Version: 0.0.12 already running"_qs),
                     qPrintable(m_Stage.launcherOutput(index)));
        }
        QCOMPARE(m_Stage.sandbox().countLogLines(StartLine), 1);
        QVERIFY(QTest::qWaitFor([&] { return installedDocument(Classic) == publishedDocument(1); }, 120000));
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(TLauncherSandbox::stop(*first, SIGTERM));
        QCOMPARE(first->exitCode(), 0);
    }

    void offlineStartUsesTheStoredCopyWithoutSelfUpdate() {
        const TStagePackage launcher{u"Launcher"_qs, u"launcher"_qs, u"launcher/linux/package.json"_qs};
        QVERIFY(m_Stage.writeConfiguration(packages(1), launcher));
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs, u"--skip-selfupdate"_qs}), 0);
        QVERIFY(m_Stage.endClients());

        m_Stage.server().stop();
        const int exitCode = m_Stage.runLauncher({});
        QVERIFY2(m_Stage.server().start(), qPrintable(m_Stage.server().errorString()));
        QCOMPARE(exitCode, 0);
        // The installed default was offered from its installed documents and started at once.
        const auto starts = m_Stage.clientStarts();
        QCOMPARE(starts.size(), 2);
        QCOMPARE(starts.last().WorkingDirectory, m_Stage.packageDirectory(Vantor));
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(u"startSelfUpdate"_qs)), 0);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(u"cleanupOldLauncherVersion"_qs)), 2);
        QVERIFY(!QFileInfo::exists(m_Stage.sandbox().launcherDirectory() + u"/launcher-notes.txt"_qs));
    }

private:
    std::vector<TStagePackage> packages(int Version) const;
    bool releaseVersion(int Version, bool PreventDefaultAutostart = false);
    void firstLaunch();
    bool isInstalled(const QString& Directory, int Version, QString& Difference) const;
    QByteArray installedDocument(const QString& Directory) const;
    QByteArray publishedDocument(int Version) const;

    TLauncherStage m_Stage;
};

std::vector<TStagePackage> TestEndToEndInstall::packages(int Version) const {
    const QString document = u"vantor/linux/package-%1.json"_qs.arg(Version);
    return {{u"Vantor Online"_qs, Vantor, document, true},
            {u"Vantor Classic"_qs, Classic, document, true},
            {u"Vantor Preview"_qs, Preview, document, false}};
}

bool TestEndToEndInstall::releaseVersion(int Version, bool PreventDefaultAutostart) {
    return m_Stage.writeConfiguration(packages(Version), TStagePackage(), PreventDefaultAutostart);
}

void TestEndToEndInstall::firstLaunch() {
    QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
    QVERIFY(m_Stage.endClients());
}

bool TestEndToEndInstall::isInstalled(const QString& Directory, int Version, QString& Difference) const {
    if (!testsupport::sameTree(m_Stage.gameTree(Version), m_Stage.packageDirectory(Directory), Difference)) {
        return false;
    }

    // Version 2 no longer has the settings file of version 1.
    if (Version == 2 && QFileInfo::exists(m_Stage.packageDirectory(Directory) +
                                          u"/VantorOnlineClient_Data/Data/Settings/graphics.ini"_qs)) {
        Difference = u"graphics.ini was not removed"_qs;
        return false;
    }
    return true;
}

QByteArray TestEndToEndInstall::installedDocument(const QString& Directory) const {
    return readBytes(m_Stage.packageDirectory(Directory) + u"/package.json"_qs);
}

QByteArray TestEndToEndInstall::publishedDocument(int Version) const {
    return readBytes(m_Stage.server().documentRoot() + u"/vantor/linux/package-%1.json"_qs.arg(Version));
}

LAUNCHER_TEST(TestEndToEndInstall)
#include "tst_endtoendinstall.moc"
