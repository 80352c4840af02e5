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
        QLoggingCategory::setFilterRules(QStringLiteral("default.info=false\ndefault.debug=false"));
        QVERIFY(m_Funnel.start());
        m_Funnel.setAnswer(QStringLiteral("/funnel"), testsupport::TScriptedAnswer::ok("{}"));
        QVERIFY(QDir().mkpath(QFileInfo(TFunnelEventSender::sharedIdentifierFilePath()).absolutePath()));
        // The configuration offers nothing to install and names the funnel service.
        const QJsonObject configuration{
            {QStringLiteral("packages"), QJsonArray()},
            {QStringLiteral("funnel"), m_Funnel.url(QStringLiteral("/funnel")).toString()}};
        QVERIFY(testsupport::writeBytes(launcherDirectory() + QStringLiteral("/config/launcher.json"),
                                        QJsonDocument(configuration).toJson()));
    }

    void mainWindowReportsTheStart() {
        TLauncherApplication* application = TLauncherApplication::instance();
        QVERIFY(application);
        QCOMPARE(application->accountGroupKey(), QStringLiteral("group-z"));
        application->configurationHandler()->startConfigurationDownload();
        QVERIFY(waitForReports(1));
        const QJsonObject started = report(0);
        QCOMPARE(started.value(QStringLiteral("step")).toString(), QStringLiteral("launcher_started"));
        QCOMPARE(started.value(QStringLiteral("first")), QJsonValue(true));
        QCOMPARE(started.value(QStringLiteral("accountgroupkey")).toString(), QStringLiteral("group-z"));
        const auto store = TFunnelEventSender::userSettingsStore();
        QCOMPARE(started.value(QStringLiteral("id")).toString(),
                 store->value(QStringLiteral("FunnelUuid")).toString());
        QCOMPARE(store->value(QStringLiteral("FunnelStartedFirst")).toBool(), false);
        QCOMPARE(
            QJsonDocument::fromJson(testsupport::readBytes(TFunnelEventSender::sharedIdentifierFilePath()))
                .object()
                .value(QStringLiteral("DeviceIdentifier"))
                .toString(),
            started.value(QStringLiteral("id")).toString());
    }

    void reportsReachTheApplicationThroughItsMetaObject() {
        const int before = m_Funnel.requestCount(QStringLiteral("/funnel"));
        TFunnelEventSender::sendThroughApplication(QStringLiteral("launcher_started"),
                                                   QStringLiteral("FunnelStartedFirst"));
        QVERIFY(waitForReports(before + 1));
        const QJsonObject again = report(before);
        QCOMPARE(again.value(QStringLiteral("step")).toString(), QStringLiteral("launcher_started"));
        QCOMPARE(again.value(QStringLiteral("first")), QJsonValue(false));
        QCOMPARE(again.value(QStringLiteral("id")), report(0).value(QStringLiteral("id")));
    }

    void installationMilestonesReachTheApplication() {
        // A package without files installs without any download.
        const QByteArray document =
            QJsonDocument(QJsonObject{{QStringLiteral("version"), QStringLiteral("1")}}).toJson();
        const QJsonObject build{{QStringLiteral("os"), QStringLiteral("linux")},
                                {QStringLiteral("architecture"), QStringLiteral("x86_64")},
                                {QStringLiteral("url"), QStringLiteral("empty/package.json")}};
        const auto configuration = std::make_shared<TLauncherConfigurationReader>(
            QJsonDocument(QJsonObject{{QStringLiteral("packages"),
                                       QJsonArray{QJsonObject{
                                           {QStringLiteral("name"), QStringLiteral("Empty")},
                                           {QStringLiteral("directoryname"), QStringLiteral("empty")},
                                           {QStringLiteral("builds"), QJsonArray{build}}}}}})
                .toJson(),
            QUrl(QStringLiteral("http://127.0.0.1/cdn/")));
        const std::shared_ptr<TPackage> package = configuration->packages().front();
        QVERIFY(package->selectBuildForThisSystem());
        package->selectBuildForThisSystem()->Configuration = std::make_unique<TPackageConfigurationReader>(
            document, QByteArray(), QUrl(QStringLiteral("http://127.0.0.1/cdn/empty/")), QUrl());

        const int before = m_Funnel.requestCount(QStringLiteral("/funnel"));
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
            steps << milestone.value(QStringLiteral("step")).toString();
            QCOMPARE(milestone.value(QStringLiteral("first")), QJsonValue(true));
            QCOMPARE(milestone.value(QStringLiteral("accountgroupkey")).toString(),
                     QStringLiteral("group-z"));
        }
        steps.sort();
        QCOMPARE(steps,
                 (QStringList{QStringLiteral("launcher_downloaded"), QStringLiteral("launcher_verified")}));
    }

private:
    bool waitForReports(int Count) const {
        return QTest::qWaitFor(
            [this, Count] { return m_Funnel.requestCount(QStringLiteral("/funnel")) >= Count; }, 30000);
    }
    QJsonObject report(int Index) const {
        return funnelEvent(m_Funnel.requestsFor(QStringLiteral("/funnel")).at(Index));
    }

    testsupport::TScriptedHttpServer m_Funnel;
};

int main(int argc, char** argv) {
    const testsupport::TIsolatedUserDirectories userDirectories;
    // The configuration is read from a file, so its address is known before any server runs.
    const QUrl configurationUrl =
        QUrl::fromLocalFile(launcherDirectory() + QStringLiteral("/config/launcher.json"));
    if (!testsupport::writeBytes(launcherDirectory() + QStringLiteral("/accountgroup.json"),
                                 R"({"Key": "group-z"})")) {
        return 1;
    }
    auto fileSystem = testsupport::makeLauncherFilesystem(
        launcherDirectory(),
        testsupport::launcherSettingsText(configurationUrl, {QStringLiteral("fastScan=true")}));
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
