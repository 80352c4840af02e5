// ctest: serial
// Funnel events through the launcher's application object, which announces itself under the
// launcher's fixed name (hence serial): the main window's start report once the configuration
// names the funnel service, and the installation manager's milestones without being wired to it.
#include "launcher/app/launcherapplication.h"
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/telemetry/funneleventsender.h"
#include "support/installationkit.h"
#include "support/isolateduserdirectories.h"
#include "support/publishedgame.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

QString launcherDirectory() {
    static QTemporaryDir directory;
    return directory.path();
}

} // namespace

class TestFunnelApplication : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false"_qs);
        QVERIFY(m_Funnel.start());
        m_Funnel.setAnswer(u"/funnel"_qs, testsupport::TScriptedAnswer::ok("{}"));
        // The configuration offers nothing to install and names the funnel service.
        QVERIFY(testsupport::writeBytes(
            launcherDirectory() + u"/config/launcher.json"_qs,
            QJsonDocument(QJsonObject{{u"packages"_qs, QJsonArray()},
                                      {u"funnel"_qs, m_Funnel.url(u"/funnel"_qs).toString()}})
                .toJson()));
    }

    void mainWindowReportsTheStart() {
        TLauncherApplication::instance()->configurationHandler()->startConfigurationDownload();
        QVERIFY(waitForReports(1));
        QCOMPARE(report(0).value(u"step"_qs).toString(), u"launcher_started"_qs);
        QCOMPARE(report(0).value(u"first"_qs), true);
        QCOMPARE(report(0).value(u"accountgroupkey"_qs).toString(), u"group-z"_qs);
        QCOMPARE(report(0).value(u"id"_qs), TFunnelEventSender::userSettingsStore()->value(u"FunnelUuid"_qs));
    }

    void installationMilestonesReachTheApplication() {
        // A package without files installs without any download.
        const QJsonObject build{{u"os"_qs, u"linux"_qs},
                                {u"architecture"_qs, QSysInfo::buildCpuArchitecture()},
                                {u"url"_qs, u"empty/package.json"_qs}};
        const QJsonObject package{
            {u"name"_qs, u"Empty"_qs}, {u"directoryname"_qs, u"empty"_qs}, {u"builds"_qs, QJsonArray{build}}};
        const auto configuration = std::make_shared<TLauncherConfigurationReader>(
            QJsonDocument(QJsonObject{{u"packages"_qs, QJsonArray{package}}}).toJson(),
            QUrl(u"http://127.0.0.1/cdn/"_qs));
        const std::shared_ptr<TPackage> pPackage = configuration->packages().front();
        QVERIFY(pPackage->selectBuildForThisSystem());
        pPackage->selectBuildForThisSystem()->Configuration = std::make_unique<TPackageConfigurationReader>(
            R"({"version": "1"})", QByteArray(), QUrl(u"http://127.0.0.1/cdn/empty/"_qs), QUrl());

        const int before = m_Funnel.requestCount(u"/funnel"_qs);
        TInstallationManager manager(configuration, TLauncherApplication::instance()->filesystemHelper());
        QSignalSpy all(&manager, &TInstallationManager::allStartedUpdatesFinished);
        manager.installOrUpdatePackage(pPackage);
        QVERIFY(all.count() == 1 || all.wait(30000));
        QVERIFY(waitForReports(before + 2));
        // Each report travels on its own connection, so the two may arrive in either order.
        QStringList steps{report(before).value(u"step"_qs).toString(),
                          report(before + 1).value(u"step"_qs).toString()};
        steps.sort();
        QCOMPARE(steps, (QStringList{u"launcher_downloaded"_qs, u"launcher_verified"_qs}));
        QCOMPARE(report(before).value(u"accountgroupkey"_qs).toString(), u"group-z"_qs);
    }

private:
    bool waitForReports(int Count) const {
        return QTest::qWaitFor([this, Count] { return m_Funnel.requestCount(u"/funnel"_qs) >= Count; },
                               30000);
    }
    QJsonObject report(int Index) const {
        return QJsonDocument::fromJson(m_Funnel.requestsFor(u"/funnel"_qs).at(Index).body).object();
    }

    testsupport::TScriptedHttpServer m_Funnel;
};

int main(int argc, char** argv) {
    const testsupport::TIsolatedUserDirectories userDirectories;
    // The configuration is read from a file, so its address is known before any server runs.
    const QUrl configurationUrl = QUrl::fromLocalFile(launcherDirectory() + u"/config/launcher.json"_qs);
    if (!testsupport::writeBytes(launcherDirectory() + u"/accountgroup.json"_qs, R"({"Key": "group-z"})")) {
        return 1;
    }
    char skipSelfUpdate[] = "--skip-selfupdate";
    char* launcherArgv[] = {argv[0], skipSelfUpdate, nullptr};
    int launcherArgc = 2;
    TLauncherApplication application(
        launcherArgc, launcherArgv,
        testsupport::makeLauncherFilesystem(launcherDirectory(),
                                            testsupport::launcherSettingsText(configurationUrl, {})));
    TestFunnelApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_funnelapplication.moc"
