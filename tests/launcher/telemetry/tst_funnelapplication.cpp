// ctest: serial
// Funnel events through the application object, which announces itself under a fixed name.
#include "launcher/app/launcherapplication.h"
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "support/installationkit.h"
#include "support/isolateduserdirectories.h"
#include "support/publishedgame.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/windowpackages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

class TestFunnelApplication : public QObject {
    Q_OBJECT

public:
    explicit TestFunnelApplication(const QString& ConfigurationFile)
        : m_ConfigurationFile(ConfigurationFile) {}

private slots:
    void startAndInstallationMilestonesReachTheService() {
        QVERIFY(m_Funnel.start());
        m_Funnel.setAnswer(u"/funnel"_qs, testsupport::TScriptedAnswer::ok("{}"));
        QVERIFY(testsupport::writeBytes(m_ConfigurationFile, "{\"packages\": [], \"funnel\": \"" +
                                                                 m_Funnel.url(u"/funnel"_qs).toEncoded() +
                                                                 "\"}"));
        TLauncherApplication::instance()->configurationHandler()->startConfigurationDownload();
        QVERIFY(waitForReports(1));
        QCOMPARE(report(0).value(u"step"_qs).toString() + report(0).value(u"accountgroupkey"_qs).toString(),
                 u"launcher_startedgroup-z"_qs);
        QCOMPARE(report(0).value(u"first"_qs), true);

        // A package without files installs without download; the two reports may arrive in either order.
        const auto configuration = testsupport::makeWindowConfiguration({u"Empty"_qs});
        TInstallationManager manager(configuration, TLauncherApplication::instance()->filesystemHelper());
        QSignalSpy all(&manager, &TInstallationManager::allStartedUpdatesFinished);
        manager.installOrUpdatePackage(configuration->packages().front());
        QVERIFY(all.count() == 1 || all.wait(30000));
        QVERIFY(waitForReports(3));
        QStringList steps{report(1).value(u"step"_qs).toString(), report(2).value(u"step"_qs).toString()};
        steps.sort();
        QCOMPARE(steps, (QStringList{u"launcher_downloaded"_qs, u"launcher_verified"_qs}));
        QCOMPARE(report(2).value(u"id"_qs), report(0).value(u"id"_qs));
    }

private:
    bool waitForReports(int Count) const {
        return QTest::qWaitFor([this, Count] { return m_Funnel.requestCount(u"/funnel"_qs) >= Count; },
                               30000);
    }
    QJsonObject report(int Index) const {
        return QJsonDocument::fromJson(m_Funnel.requestsFor(u"/funnel"_qs).at(Index).body).object();
    }

    const QString m_ConfigurationFile;
    testsupport::TScriptedHttpServer m_Funnel;
};

int main(int argc, char** argv) {
    const testsupport::TIsolatedUserDirectories userDirectories;
    const QTemporaryDir launcherDirectory;
    // The configuration is read from a file, so its address is known before any server runs.
    const QString configurationFile = launcherDirectory.filePath(u"config/launcher.json"_qs);
    if (!testsupport::writeBytes(launcherDirectory.filePath(u"accountgroup.json"_qs),
                                 R"({"Key": "group-z"})")) {
        return 1;
    }
    char skipSelfUpdate[] = "--skip-selfupdate";
    char* launcherArgv[] = {argv[0], skipSelfUpdate, nullptr};
    int launcherArgc = 2;
    TLauncherApplication application(
        launcherArgc, launcherArgv,
        testsupport::makeLauncherFilesystem(
            launcherDirectory.path(),
            testsupport::launcherSettingsText(QUrl::fromLocalFile(configurationFile), {})));
    TestFunnelApplication test(configurationFile);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_funnelapplication.moc"
