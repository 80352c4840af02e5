// ctest: serial
// The application object holds the launcher's fixed presence name while it lives.
#include "launcher/app/launcherapplication.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "platform/namedfilemapping.h"
#include "support/stringliteral.h"

#include <QSplashScreen>
#include <QTimer>
#include <QtTest>

using mirrel::launcher::TLauncherApplication;
using testsupport::operator""_qs;

namespace {

QList<QSplashScreen*> splashScreens() {
    QList<QSplashScreen*> result;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* splash = qobject_cast<QSplashScreen*>(widget)) {
            result << splash;
        }
    }
    return result;
}

QSplashScreen* visibleSplash() {
    for (QSplashScreen* splash : splashScreens()) {
        if (splash->isVisible()) {
            return splash;
        }
    }
    return nullptr;
}

} // namespace

class TestLauncherApplication : public QObject {
    Q_OBJECT

private slots:
    void servicesIdentityAndOptions() {
        auto* application = TLauncherApplication::instance();
        QVERIFY(application);
        QCOMPARE(application, qApp);
        QVERIFY(application->filesystemHelper());
        QVERIFY(application->filesystemHelper()->settings());
        QCOMPARE(application->funnelSettingsKey(), u"FunnelUuid"_qs);

        QCOMPARE(QCoreApplication::applicationName(), u"Vantor Online"_qs);
        QCOMPARE(QGuiApplication::applicationDisplayName(), u"Vantor Online"_qs);
        QCOMPARE(QCoreApplication::organizationName(), u"Quorvane GmbH"_qs);
        QVERIFY(!QCoreApplication::organizationDomain().isEmpty());

        // Started with "-s -u --patch /games/client": see main() below.
        QVERIFY(application->isSelfUpdateSkipped());
        QVERIFY(application->isShowUiRequested());
        QVERIFY(!application->isFirstLaunchRequested());
        QCOMPARE(application->patchExecutable(), u"/games/client"_qs);

        QVERIFY(platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName));
    }

    void notificationTimerShowsTheDefaultSplash() {
        QVERIFY(!visibleSplash());
        TLauncherApplication::instance()->startNotificationTimer();
        QTRY_VERIFY_WITH_TIMEOUT(visibleSplash() != nullptr, 30000);
        QCOMPARE(splashScreens().size(), 1);
    }

    void newSplashReplacesTheOldOne() {
        auto* application = TLauncherApplication::instance();
        application->showSplash(TLauncherApplication::UpdatingLauncherSplash);
        application->showSplash(TLauncherApplication::LaunchingClientSplash);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        QCOMPARE(splashScreens().size(), 1);
        QVERIFY(visibleSplash());

        application->hideSplash();
        QVERIFY(!visibleSplash());
        QCOMPARE(splashScreens().size(), 1);
    }

    void closingTheSplashDoesNotEndTheLauncher() {
        auto* application = TLauncherApplication::instance();
        QTimer::singleShot(0, application, [application] {
            application->showSplash(TLauncherApplication::DefaultSplash);
            visibleSplash()->close();
        });
        // Only this timer may end the loop; a quit caused by the closed splash
        // would end it first with code 0.
        QTimer::singleShot(500, application, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 7);
    }
};

int main(int argc, char** argv) {
    // The launcher's own options go to the application object; QtTest gets the rest.
    QList<QByteArray> launcherArguments{argv[0], "-s", "-u", "--patch", "/games/client"};
    std::vector<char*> launcherArgv;
    for (QByteArray& argument : launcherArguments) {
        launcherArgv.push_back(argument.data());
    }
    launcherArgv.push_back(nullptr);
    int launcherArgc = static_cast<int>(launcherArguments.size());
    TLauncherApplication application(launcherArgc, launcherArgv.data());
    TestLauncherApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launcherapplication.moc"
