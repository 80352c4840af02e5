// ctest: serial
// The launcher's single-instance guard and the client's object have fixed names.
//
// Whole runs of the real launcher against a real nginx serving what the real publisher made of a
// small game (its program is the sample client) and of launcher packages (a launcher build).
#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

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

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 2), qPrintable(m_Stage.errorString()));
        // Launcher 0.0.13 is the build under test with a note.
        const QString tree = m_Stage.workDirectory() + u"/launcher"_qs;
        QVERIFY(QDir().mkpath(tree) &&
                QFile::copy(launcherBinDir() + u'/' + ProgramName, tree + u'/' + ProgramName));
        QVERIFY(writeBytes(tree + u"/launcher-notes.txt"_qs, "What is new in 0.0.13\n"));
        QVERIFY(m_Stage.publishTree(tree, u"launcher"_qs, u"good.json"_qs, u"0.0.13"_qs, ProgramName, {}));
    }

    void init() {
        QVERIFY2(m_Stage.renewSandbox(), qPrintable(m_Stage.errorString()));
        QVERIFY(m_Stage.writeSettings());
        QVERIFY(release(1));
        QVERIFY2(!platform::TNamedFileMapping::exists(LauncherPresenceName), "another launcher is running");
        QVERIFY2(!platform::TNamedFileMapping::exists(ClientPresenceName), "a game client is running");
    }

    // A first launch installs the automatic packages and starts the first, the default, with the
    // up-to-date flag of this run's verification; offline, the next start starts it from the stored
    // documents at once, without window, flag or self-update.
    void firstLaunchInstallsAutomaticPackagesAndStartsTheFirst() {
        QVERIFY(release(1, false, u"good.json"_qs));
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs, u"--skip-selfupdate"_qs}), 0);
        QVERIFY(isInstalled(Vantor, 1) && isInstalled(Classic, 1));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(u"preview"_qs)));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/partial-package.json"_qs));
        QVERIFY(QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/default"_qs));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Classic) + u"/default"_qs));
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QCOMPARE(m_Stage.clientStarts().first().Arguments,
                 TLauncherStage::gameParameters() + QStringList{UpToDate});
        QCOMPARE(m_Stage.clientStarts().first().WorkingDirectory, m_Stage.packageDirectory(Vantor));
        // The launcher ended only once the client held its object.
        QVERIFY(m_Stage.clientStarts().first().LauncherRunning);

        QVERIFY(m_Stage.endClients());
        m_Stage.server().stop();
        const int exitCode = m_Stage.runLauncher({});
        QVERIFY2(m_Stage.server().start(), qPrintable(m_Stage.server().errorString()));
        QCOMPARE(exitCode, 0);
        QCOMPARE(m_Stage.clientStarts().last().Arguments, TLauncherStage::gameParameters());
        QCOMPARE(logLines(u"sendFunnelEvent: launcher_started"_qs), 1);
        QCOMPARE(logLines(u"startSelfUpdate"_qs), 0);
    }

    // Other starts end at once while a first launch installs, which starts nothing when prevented.
    // Then a new version: a plain start shows the list, a FORCE_PATCH marker updates its package
    // alone without a start, and the client asking for its own update gets it and is started.
    void newVersionReachesEachPackageWhenAskedFor() {
        QVERIFY(release(1, true));
        auto first = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(waitForLogLine(u"onLauncherReadyForAction"_qs));
        for (const QStringList& arguments : {QStringList(), QStringList{u"-s"_qs}}) {
            QCOMPARE(m_Stage.runLauncher(arguments, 30000), 0);
            QVERIFY(
                m_Stage.launcherOutput(m_Stage.launchersStarted()).contains(u"0.0.12 already running"_qs));
        }
        // A start would follow the second verification in the same step; the launcher's end comes after.
        QVERIFY(waitForLogLine(u"onVerificationFinished found package: "_qs, 2));
        QVERIFY(TLauncherSandbox::stop(*first, SIGTERM));
        QCOMPARE(first->exitCode(), 128 + SIGTERM);
        QVERIFY(isInstalled(Vantor, 1) && isInstalled(Classic, 1));
        QCOMPARE(logLines(u"Info: Version: 0.0.12 Thread: "_qs), 1);

        QVERIFY(release(2));
        auto plain = m_Stage.startLauncher({});
        QVERIFY(waitForLogLine(u"sendFunnelEvent: launcher_started"_qs, 2));
        // Killed, it leaves no presence behind: the next start is the first instance again.
        QVERIFY(TLauncherSandbox::stop(*plain, SIGKILL));
        QVERIFY(!platform::TNamedFileMapping::exists(LauncherPresenceName));
        const QString marker = m_Stage.packageDirectory(Classic) + u"/FORCE_PATCH"_qs;
        QVERIFY(writeBytes(marker, QByteArray()));
        auto forced = m_Stage.startLauncher({});
        QVERIFY(waitForLogLine(u"onVerificationFinished found package: Vantor Classic"_qs, 2));
        QVERIFY(TLauncherSandbox::stop(*forced, SIGTERM));
        QVERIFY(!QFileInfo::exists(marker));
        QVERIFY(isInstalled(Classic, 2) && isInstalled(Vantor, 1));
        QCOMPARE(logLines(u"startPackageAndExit: "_qs), 0);

        QCOMPARE(m_Stage.runLauncher({u"--patch"_qs, m_Stage.installedExecutable(Vantor)}), 0);
        QVERIFY(isInstalled(Vantor, 2));
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QCOMPARE(m_Stage.clientStarts().last().Arguments,
                 TLauncherStage::gameParameters() + QStringList{UpToDate});
    }

private:
    // The game's version as automatic packages Online and Classic and a package Preview, and the
    // launcher package of a document below launcher/ when one is named.
    bool release(int Version, bool PreventDefaultAutostart = false, const QString& LauncherDocument = {}) {
        const QString document = u"vantor/linux/package-%1.json"_qs.arg(Version);
        const QString launcher = LauncherDocument.isEmpty() ? QString() : u"launcher/"_qs + LauncherDocument;
        return m_Stage.writeConfiguration({{u"Vantor Online"_qs, Vantor, document, true},
                                           {u"Vantor Classic"_qs, Classic, document, true},
                                           {u"Vantor Preview"_qs, u"preview"_qs, document, false}},
                                          {u"Launcher"_qs, u"launcher"_qs, launcher},
                                          PreventDefaultAutostart);
    }

    // The package holds the version's files and its package document; version 2 dropped a file.
    bool isInstalled(const QString& Directory, int Version) const {
        const QString installed = m_Stage.packageDirectory(Directory);
        QString difference;
        const QString document = u"/vantor/linux/package-%1.json"_qs.arg(Version);
        return sameTree(m_Stage.gameTree(Version), installed, difference) &&
               readBytes(installed + u"/package.json"_qs) ==
                   readBytes(m_Stage.server().documentRoot() + document) &&
               (Version == 1 ||
                !QFileInfo::exists(installed + u"/VantorOnlineClient_Data/Data/Settings/graphics.ini"_qs));
    }

    int logLines(const QString& Text) const {
        return m_Stage.sandbox().countLogLines(QRegularExpression(QRegularExpression::escape(Text)));
    }
    bool waitForLogLine(const QString& Text, int Count = 1) const {
        return m_Stage.sandbox().waitForLogLine(QRegularExpression(QRegularExpression::escape(Text)), Count,
                                                120000);
    }

    TLauncherStage m_Stage;
};

LAUNCHER_TEST(TestEndToEnd)
#include "tst_endtoend.moc"
