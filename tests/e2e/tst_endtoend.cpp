// ctest: serial
// Every launcher started here takes the launcher's fixed single-instance guard, and the sample
// client the fixed client object name.
//
// Whole runs of the real launcher executable against a real nginx serving what the real publisher
// made of a small game whose program is the sample client, and of launcher packages whose program
// is a build of the launcher itself.
#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <signal.h>

using namespace testsupport;
using mirrel::launcher::ClientPresenceName;
using mirrel::launcher::LauncherPresenceName;

namespace {

const QString Vantor = u"vantor"_qs;
const QString Classic = u"classic"_qs;
const QString UpToDate = u"--package-is-up-to-date"_qs;
const QString ProgramName = u"VantorLauncher"_qs;

int logLines(const TLauncherSandbox& Sandbox, const QString& Text) {
    return Sandbox.countLogLines(QRegularExpression(QRegularExpression::escape(Text)));
}

bool waitForLogLine(const TLauncherSandbox& Sandbox, const QString& Text, int Count = 1) {
    return Sandbox.waitForLogLine(QRegularExpression(QRegularExpression::escape(Text)), Count, 120000);
}

bool writeProgram(const QString& Path, const QByteArray& Content) {
    return writeBytes(Path, Content) &&
           QFile::setPermissions(Path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 2), qPrintable(m_Stage.errorString()));
        // Launcher 0.0.13 is the build under test; the sandbox starts an older one: the same program
        // with a few bytes more at its end, which change nothing when it runs.
        m_OfferedProgram = readBytes(launcherBinDir() + u'/' + ProgramName);
        m_OldProgram = m_OfferedProgram + "\nan older launcher build\n";
        // "broken": the same with a data file whose only chunk never downloads.
        const QString tree = m_Stage.workDirectory() + u"/launcher"_qs;
        QVERIFY(writeProgram(tree + u'/' + ProgramName, m_OfferedProgram));
        QVERIFY(writeBytes(tree + u"/launcher-notes.txt"_qs, "What is new in 0.0.13\n"));
        QVERIFY(
            m_Stage.publishTree(tree, u"launcher/linux"_qs, u"good.json"_qs, u"0.0.13"_qs, ProgramName, {}));
        QVERIFY(writeBytes(tree + u"/launcher-data.bin"_qs, seededBytes(77, 300000)));
        QVERIFY(m_Stage.publishTree(tree, u"launcher/linux"_qs, u"broken.json"_qs, u"0.0.13"_qs, ProgramName,
                                    {}));
        const QString root = m_Stage.server().documentRoot() + u"/launcher/linux/"_qs;
        const QJsonObject document = QJsonDocument::fromJson(readBytes(root + u"broken.json"_qs)).object();
        for (const QJsonValue& file : document.value(u"files"_qs).toArray()) {
            if (file[u"localfile"_qs] == u"launcher-data.bin"_qs) {
                const int chunk = file[u"chunks"_qs][0].toInt();
                QVERIFY(QFile::remove(root + document.value(u"chunks"_qs)[chunk][u"url"_qs].toString()));
            }
        }
    }

    void init() {
        QVERIFY2(m_Stage.renewSandbox(), qPrintable(m_Stage.errorString()));
        QVERIFY(m_Stage.writeSettings());
        QVERIFY(release(1));
        QVERIFY2(!platform::TNamedFileMapping::exists(LauncherPresenceName), "another launcher is running");
        QVERIFY2(!platform::TNamedFileMapping::exists(ClientPresenceName), "a game client is running");
    }

    void firstLaunchInstallsAutomaticPackagesAndStartsTheFirst() {
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
        for (const QString& directory : {Vantor, Classic}) {
            QVERIFY(isInstalled(directory, 1));
            QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(directory) + u"/partial-package.json"_qs));
        }
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(u"preview"_qs)));
        // Only the first automatic package becomes the default.
        QVERIFY(QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/default"_qs));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Classic) + u"/default"_qs));
        // The launcher ended once the client held its object: the client runs, started with the
        // package's parameters and, after this run's verification, the up-to-date flag last.
        const auto starts = m_Stage.clientStarts();
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts.first().Arguments, TLauncherStage::gameParameters() + QStringList{UpToDate});
        QCOMPARE(starts.first().WorkingDirectory, m_Stage.packageDirectory(Vantor));
        QVERIFY(starts.first().LauncherRunning);
        QVERIFY(platform::TNamedFileMapping::exists(ClientPresenceName));

        // The next plain start starts the default at once, without a window and without the flag:
        // nothing was verified in that run. A client that never announces itself ends it with 1.
        QVERIFY(m_Stage.endClients());
        QCOMPARE(m_Stage.runLauncher({}), 0);
        QCOMPARE(m_Stage.clientStarts().last().Arguments, TLauncherStage::gameParameters());
        QCOMPARE(logLines(m_Stage.sandbox(), u"sendFunnelEvent: launcher_started"_qs), 1);
        QVERIFY(m_Stage.endClients());
        QVERIFY(m_Stage.writeSettings(1500));
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_ANNOUNCE"_qs, u"never"_qs);
        QCOMPARE(m_Stage.runLauncher({}), 1);
        QCOMPARE(m_Stage.clientStarts().size(), 3);
    }

    // While the first launcher installs, every other start ends at once and leaves it alone; with
    // the automatic start prevented, the first one starts nothing when the installations are done.
    void secondInstanceWhileTheFirstInstalls() {
        QVERIFY(release(1, true));
        auto first = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(waitForLogLine(m_Stage.sandbox(), u"onLauncherReadyForAction"_qs));
        for (const QStringList& arguments :
             {QStringList(), QStringList{u"--first-launch"_qs}, QStringList{u"-s"_qs}}) {
            const int index = m_Stage.launchersStarted() + 1;
            QCOMPARE(m_Stage.runLauncher(arguments, 30000), 0);
            QVERIFY2(m_Stage.launcherOutput(index).contains(u"Version: 0.0.12 already running"_qs),
                     qPrintable(m_Stage.launcherOutput(index)));
        }
        QCOMPARE(logLines(m_Stage.sandbox(), u"Info: Version: 0.0.12 Thread: "_qs), 1);
        // The start would follow the second verification in the same step; ending the launcher after
        // it lets any such start show in the log.
        QVERIFY(waitForLogLine(m_Stage.sandbox(), u"onVerificationFinished found package: "_qs, 2));
        QVERIFY(TLauncherSandbox::stop(*first, SIGTERM));
        QCOMPARE(first->exitCode(), 128 + SIGTERM);
        QVERIFY(isInstalled(Vantor, 1) && isInstalled(Classic, 1));
        QCOMPARE(logLines(m_Stage.sandbox(), u"startPackageAndExit"_qs), 0);
        QVERIFY(m_Stage.clientStarts().isEmpty());
        QVERIFY(QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/default"_qs));
    }

    // A new version: a plain start shows the list, a FORCE_PATCH marker updates its package alone,
    // and the client asking for its own update gets it and is started.
    void newVersionReachesEachPackageWhenAskedFor() {
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
        QVERIFY(m_Stage.endClients());
        QVERIFY(release(2));

        auto plain = m_Stage.startLauncher({});
        QVERIFY(waitForLogLine(m_Stage.sandbox(), u"sendFunnelEvent: launcher_started"_qs, 2));
        QVERIFY(TLauncherSandbox::stop(*plain, SIGTERM));

        const QString marker = m_Stage.packageDirectory(Classic) + u"/FORCE_PATCH"_qs;
        QVERIFY(writeBytes(marker, QByteArray()));
        auto forced = m_Stage.startLauncher({});
        QVERIFY(
            waitForLogLine(m_Stage.sandbox(), u"onVerificationFinished found package: Vantor Classic"_qs, 2));
        QVERIFY(TLauncherSandbox::stop(*forced, SIGTERM));
        QVERIFY(!QFileInfo::exists(marker));
        QVERIFY(isInstalled(Classic, 2) && isInstalled(Vantor, 1));
        // Neither run started the client: only the first launch did.
        QCOMPARE(logLines(m_Stage.sandbox(), u"startPackageAndExit: "_qs), 1);

        QCOMPARE(m_Stage.runLauncher({u"--patch"_qs, m_Stage.installedExecutable(Vantor)}), 0);
        QVERIFY(isInstalled(Vantor, 2));
        QCOMPARE(m_Stage.clientStarts().size(), 2);
        QCOMPARE(m_Stage.clientStarts().last().Arguments,
                 TLauncherStage::gameParameters() + QStringList{UpToDate});
        QCOMPARE(m_Stage.clientStarts().last().WorkingDirectory, m_Stage.packageDirectory(Vantor));
    }

    void offlineStartUsesTheStoredCopyWithoutSelfUpdate() {
        QVERIFY(release(1, false, u"good.json"_qs));
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs, u"--skip-selfupdate"_qs}), 0);
        QVERIFY(m_Stage.endClients());
        m_Stage.server().stop();
        const int exitCode = m_Stage.runLauncher({});
        QVERIFY2(m_Stage.server().start(), qPrintable(m_Stage.server().errorString()));
        QCOMPARE(exitCode, 0);
        // The installed default was offered from its installed documents and started at once.
        QCOMPARE(m_Stage.clientStarts().size(), 2);
        QCOMPARE(m_Stage.clientStarts().last().WorkingDirectory, m_Stage.packageDirectory(Vantor));
        QCOMPARE(logLines(m_Stage.sandbox(), u"startSelfUpdate"_qs), 0);
        QVERIFY(!QFileInfo::exists(m_Stage.sandbox().launcherDirectory() + u"/launcher-notes.txt"_qs));
    }

    void selfUpdateReplacesTheRunningLauncherAndRestartsIt() {
        QVERIFY(writeProgram(program(), m_OldProgram));
        QVERIFY(release(1, false, u"good.json"_qs));
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"5"_qs);
        // The old launcher ends after starting its successor with every argument plus the skip option.
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
        QCOMPARE(logLines(m_Stage.sandbox(), u"restartLauncher: "_qs + program()), 1);
        QCOMPARE(readBytes(program()), m_OfferedProgram);
        QVERIFY(QFileInfo(program()).isExecutable());
        QVERIFY(QFileInfo::exists(m_Stage.sandbox().launcherDirectory() + u"/launcher-notes.txt"_qs));
        QVERIFY(waitForLogLine(m_Stage.sandbox(),
                               u"Command line options: first-launch, skip-selfupdate Thread: "_qs));
        // A player starting the launcher meanwhile is turned away.
        const int index = m_Stage.launchersStarted() + 1;
        QCOMPARE(m_Stage.runLauncher({}, 30000), 0);
        QVERIFY2(m_Stage.launcherOutput(index).contains(u"already running"_qs),
                 qPrintable(m_Stage.launcherOutput(index)));

        // The successor removes the old program, installs the game and starts it.
        QVERIFY(QTest::qWaitFor([&] { return !m_Stage.clientStarts().isEmpty(); }, 120000));
        QVERIFY(QTest::qWaitFor([] { return !platform::TNamedFileMapping::exists(LauncherPresenceName); },
                                60000));
        QCOMPARE(logLines(m_Stage.sandbox(), u"startSelfUpdate"_qs), 1);
        QCOMPARE(logLines(m_Stage.sandbox(), u"cleanupOldLauncherVersion"_qs), 1);
        QVERIFY(!QFileInfo::exists(program() + u".old"_qs));
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QCOMPARE(m_Stage.clientStarts().first().Arguments.last(), UpToDate);
    }

    void failedSelfUpdateRestoresTheLauncherAndGoesOn() {
        QVERIFY(writeProgram(program(), m_OldProgram));
        QVERIFY(release(1, false, u"broken.json"_qs));
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
        QCOMPARE(logLines(m_Stage.sandbox(), u"Updating Vantor Online failed: Error 1"_qs), 1);
        QCOMPARE(logLines(m_Stage.sandbox(), u"restartLauncher"_qs), 0);
        // Whatever the failed update did to the program on its way, the old one is back.
        QCOMPARE(readBytes(program()), m_OldProgram);
        QVERIFY(QFileInfo(program()).isExecutable());
        QVERIFY(!QFileInfo::exists(program() + u".old"_qs));
        // And the launcher went on with its first launch.
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QVERIFY(isInstalled(Vantor, 1));
    }

private:
    // The game in the given version as the automatic packages "Vantor Online" and "Vantor Classic"
    // and the package "Vantor Preview"; a launcher package when a document below launcher/linux is named.
    bool release(int Version, bool PreventDefaultAutostart = false, const QString& LauncherDocument = {}) {
        const QString document = u"vantor/linux/package-%1.json"_qs.arg(Version);
        const TStagePackage launcher{u"Launcher"_qs, u"launcher"_qs,
                                     LauncherDocument.isEmpty() ? QString()
                                                                : u"launcher/linux/"_qs + LauncherDocument};
        return m_Stage.writeConfiguration({{u"Vantor Online"_qs, Vantor, document, true},
                                           {u"Vantor Classic"_qs, Classic, document, true},
                                           {u"Vantor Preview"_qs, u"preview"_qs, document, false}},
                                          launcher, PreventDefaultAutostart);
    }

    // The package holds the version's files and its package document; version 2 dropped a settings file.
    bool isInstalled(const QString& Directory, int Version) const {
        const QString installed = m_Stage.packageDirectory(Directory);
        QString difference;
        if (!sameTree(m_Stage.gameTree(Version), installed, difference)) {
            qWarning().noquote() << Directory << difference;
            return false;
        }
        const QString published = u"/vantor/linux/package-%1.json"_qs.arg(Version);
        return readBytes(installed + u"/package.json"_qs) ==
                   readBytes(m_Stage.server().documentRoot() + published) &&
               (Version == 1 ||
                !QFileInfo::exists(installed + u"/VantorOnlineClient_Data/Data/Settings/graphics.ini"_qs));
    }

    QString program() const { return m_Stage.sandbox().executablePath(); }

    TLauncherStage m_Stage;
    // The launcher build the server offers, and the older build a sandbox starts with.
    QByteArray m_OfferedProgram;
    QByteArray m_OldProgram;
};

LAUNCHER_TEST(TestEndToEnd)
#include "tst_endtoend.moc"
