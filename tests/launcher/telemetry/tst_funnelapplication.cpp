// ctest: serial
// Funnel events through the launcher's application object: the main window's start report once the
// configuration names the funnel service, reports handed to the application through its
// meta-object, and the installation manager's milestones reaching it without being wired to it.
// The application object announces itself under the launcher's fixed name, hence serial.
#include "launcher/app/launcherapplication.h"
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/funneleventsender.h"
#include "support/installationkit.h"
#include "support/isolateduserdirectories.h"
#include "support/publishedgame.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

QString launcherDirectory() {
    static QTemporaryDir directory;
    return directory.path();
}

QJsonObject funnelEvent(const testsupport::TRecordedRequest& Request) {
    return QJsonDocument::fromJson(Request.body).object();
}

} // namespace

class TestFunnelApplication : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        QVERIFY(m_Funnel.start());
        m_Funnel.setAnswer(u"/funnel"_qs, testsupport::TScriptedAnswer::ok("{}"));
        QVERIFY(QDir().mkpath(QFileInfo(TFunnelEventSender::sharedIdentifierFilePath()).absolutePath()));
        // The configuration offers nothing to install and names the funnel service.
        const QJsonObject configuration{{u"packages"_qs, QJsonArray()},
                                        {u"funnel"_qs, m_Funnel.url(u"/funnel"_qs).toString()}};
        QVERIFY(testsupport::writeBytes(launcherDirectory() + u"/config/launcher.json"_qs,
                                        QJsonDocument(configuration).toJson()));
    }

    void mainWindowReportsTheStart() {
        TLauncherApplication* application = TLauncherApplication::instance();
        QVERIFY(application);
        QCOMPARE(application->accountGroupKey(), u"group-z"_qs);
        application->configurationHandler()->startConfigurationDownload();
        QVERIFY(waitForReports(1));
        const QJsonObject started = report(0);
        QCOMPARE(started.value(u"step"_qs).toString(), u"launcher_started"_qs);
        QCOMPARE(started.value(u"first"_qs), QJsonValue(true));
        QCOMPARE(started.value(u"accountgroupkey"_qs).toString(), u"group-z"_qs);
        const auto store = TFunnelEventSender::userSettingsStore();
        QCOMPARE(started.value(u"id"_qs).toString(), store->value(u"FunnelUuid"_qs).toString());
        QCOMPARE(store->value(u"FunnelStartedFirst"_qs).toBool(), false);
        QCOMPARE(
            QJsonDocument::fromJson(testsupport::readBytes(TFunnelEventSender::sharedIdentifierFilePath()))
                .object()
                .value(u"DeviceIdentifier"_qs)
                .toString(),
            started.value(u"id"_qs).toString());
    }

    void reportsReachTheApplicationThroughItsMetaObject() {
        const int before = m_Funnel.requestCount(u"/funnel"_qs);
        TFunnelEventSender::sendThroughApplication(u"launcher_started"_qs, u"FunnelStartedFirst"_qs);
        QVERIFY(waitForReports(before + 1));
        const QJsonObject again = report(before);
        QCOMPARE(again.value(u"step"_qs).toString(), u"launcher_started"_qs);
        QCOMPARE(again.value(u"first"_qs), QJsonValue(false));
        QCOMPARE(again.value(u"id"_qs), report(0).value(u"id"_qs));
    }

    void installationMilestonesReachTheApplication() {
        // A package without files installs without any download.
        const QByteArray document = QJsonDocument(QJsonObject{{u"version"_qs, u"1"_qs}}).toJson();
        const QJsonObject build{{u"os"_qs, u"linux"_qs},
                                {u"architecture"_qs, u"x86_64"_qs},
                                {u"url"_qs, u"empty/package.json"_qs}};
        const auto configuration = std::make_shared<TLauncherConfigurationReader>(
            QJsonDocument(
                QJsonObject{{u"packages"_qs, QJsonArray{QJsonObject{{u"name"_qs, u"Empty"_qs},
                                                                    {u"directoryname"_qs, u"empty"_qs},
                                                                    {u"builds"_qs, QJsonArray{build}}}}}})
                .toJson(),
            QUrl(u"http://127.0.0.1/cdn/"_qs));
        const std::shared_ptr<TPackage> package = configuration->packages().front();
        QVERIFY(package->selectBuildForThisSystem());
        package->selectBuildForThisSystem()->Configuration = std::make_unique<TPackageConfigurationReader>(
            document, QByteArray(), QUrl(u"http://127.0.0.1/cdn/empty/"_qs), QUrl());

        const int before = m_Funnel.requestCount(u"/funnel"_qs);
        TInstallationManager manager(configuration, TLauncherApplication::instance()->filesystemHelper());
        QSignalSpy all(&manager, &TInstallationManager::allStartedUpdatesFinished);
        manager.installOrUpdatePackage(package);
        QVERIFY(all.count() == 1 || all.wait(30000));
        QCOMPARE(package->localStatus(), TPackage::StatusUpToDate);
        QVERIFY(waitForReports(before + 2));
        // Each report travels on its own connection, so the two may arrive in either order.
        QStringList steps;
        for (const int index : {before, before + 1}) {
            const QJsonObject milestone = report(index);
            steps << milestone.value(u"step"_qs).toString();
            QCOMPARE(milestone.value(u"first"_qs), QJsonValue(true));
            QCOMPARE(milestone.value(u"accountgroupkey"_qs).toString(), u"group-z"_qs);
        }
        steps.sort();
        QCOMPARE(steps, (QStringList{u"launcher_downloaded"_qs, u"launcher_verified"_qs}));
    }

private:
    bool waitForReports(int Count) const {
        return QTest::qWaitFor([this, Count] { return m_Funnel.requestCount(u"/funnel"_qs) >= Count; },
                               30000);
    }
    QJsonObject report(int Index) const { return funnelEvent(m_Funnel.requestsFor(u"/funnel"_qs).at(Index)); }

    testsupport::TScriptedHttpServer m_Funnel;
};

int main(int argc, char** argv) {
    const testsupport::TIsolatedUserDirectories userDirectories;
    // The configuration is read from a file, so its address is known before any server runs.
    const QUrl configurationUrl = QUrl::fromLocalFile(launcherDirectory() + u"/config/launcher.json"_qs);
    if (!testsupport::writeBytes(launcherDirectory() + u"/accountgroup.json"_qs, R"({"Key": "group-z"})")) {
        return 1;
    }
    auto fileSystem = testsupport::makeLauncherFilesystem(
        launcherDirectory(), testsupport::launcherSettingsText(configurationUrl, {u"fastScan=true"_qs}));
    QList<QByteArray> launcherArguments{argv[0], "--skip-selfupdate"};
    std::vector<char*> launcherArgv;
    for (QByteArray& argument : launcherArguments) {
        launcherArgv.push_back(argument.data());
    }
    launcherArgv.push_back(nullptr);
    int launcherArgc = static_cast<int>(launcherArguments.size());
    TLauncherApplication application(launcherArgc, launcherArgv.data(), std::move(fileSystem));
    TestFunnelApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_funnelapplication.moc"
