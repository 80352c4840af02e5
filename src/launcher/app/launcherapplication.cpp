#include "launcher/app/launcherapplication.h"

#include "launcher/logging/logging.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/accountgroupkey.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/funneleventsender.h"
#include "platform/namedfilemapping.h"
#include "shared/translation/translationmanager.h"

#include <QDebug>
#include <QJsonObject>
#include <QPixmap>
#include <QSplashScreen>
#include <QStringList>

namespace mirrel::launcher {

namespace {

TLauncherApplication* applicationInstance = nullptr;

QString splashImage(int kind) {
    switch (kind) {
    case TLauncherApplication::UpdatingLauncherSplash:
        return QStringLiteral(":/images/launcher/LauncherLogo_UpdatingLauncher.png");
    case TLauncherApplication::LaunchingClientSplash:
        return QStringLiteral(":/images/launcher/VantorLogo_LaunchingClient.png");
    default:
        return QStringLiteral(":/images/launcher/LauncherLogo_QT.png");
    }
}

} // namespace

TLauncherApplication::TLauncherApplication(int& argc, char** argv)
    : QApplication(argc, argv)
    , m_FirstLaunchOption(QStringList{QStringLiteral("l"), QStringLiteral("first-launch")},
                          QStringLiteral("Automatically download default packages when starting up."))
    , m_SkipSelfUpdateOption(QStringList{QStringLiteral("s"), SkipSelfUpdateOptionName},
                             QStringLiteral("Do not perform self-update check on launch."))
    , m_ShowUiOption(QStringList{QStringLiteral("u"), QStringLiteral("show-ui")},
                     QStringLiteral("Show list of available packages after intial checks."))
    , m_PatchOption(QStringList{QStringLiteral("p"), QStringLiteral("patch")},
                    QStringLiteral("Start update of <patchexecutable> without user interaction."),
                    QStringLiteral("patchexecutable"))
    , m_FunnelSettingsKey(QStringLiteral("FunnelUuid")) {
    m_pLauncherFilesystemHelper = std::make_shared<TLauncherFilesystemHelper>();
    m_pTranslationManager = std::make_shared<mirrel::shared::TTranslationManager>();

    setUpCommandLine();
    m_pLauncherPresence = std::make_unique<platform::TNamedFileMapping>(LauncherPresenceName, true);

    applicationInstance = this;

    setUpTranslation();
    setUpIdentity();

    m_NotificationTimer.setSingleShot(true);
    m_NotificationTimer.setInterval(
        static_cast<int>(m_pLauncherFilesystemHelper->settings()->waitNotificationTimeout()));
    connect(&m_NotificationTimer, &QTimer::timeout, this, [this] { showSplash(DefaultSplash); });

    m_AccountGroupKey = accountGroupKeyFrom(m_pLauncherFilesystemHelper->readAccountGroupFile());
    m_pFunnelEventSender = new TFunnelEventSender(
        m_FunnelSettingsKey, [this] { return m_AccountGroupKey; }, TFunnelEventSender::TUrlProvider(), this);

    m_ClientStartTimer.setSingleShot(false);
    m_ClientStartTimer.setInterval(200);

    m_CommandLineParser.parse(QCoreApplication::arguments());
}

TLauncherApplication::~TLauncherApplication() {
    if (applicationInstance == this) {
        applicationInstance = nullptr;
    }
}

TLauncherApplication* TLauncherApplication::instance() {
    return applicationInstance;
}

void TLauncherApplication::sendFunnelEvent(QString Step, QString FirstTimeKey) {
    m_pFunnelEventSender->sendFunnelEvent(Step, FirstTimeKey);
}

bool TLauncherApplication::isFirstLaunchRequested() const {
    return m_CommandLineParser.isSet(m_FirstLaunchOption);
}

bool TLauncherApplication::isSelfUpdateSkipped() const {
    return m_CommandLineParser.isSet(m_SkipSelfUpdateOption);
}

bool TLauncherApplication::isShowUiRequested() const {
    return m_CommandLineParser.isSet(m_ShowUiOption);
}

QString TLauncherApplication::patchExecutable() const {
    return m_CommandLineParser.value(m_PatchOption);
}

void TLauncherApplication::logStartupDetails() const {
    const auto settings = m_pLauncherFilesystemHelper->settings();
    qInfo().noquote() << "Command line options:" << optionsText() << "Thread:" << currentThreadIdText();
    qInfo().noquote() << "Settings from" << settings->sourcePath() + QStringLiteral(":")
                      << settings->describe() << "Thread:" << currentThreadIdText();
}

void TLauncherApplication::startNotificationTimer() {
    m_NotificationTimer.start();
}

void TLauncherApplication::showSplash(int kind) {
    if (m_pSplashScreen) {
        m_pSplashScreen->close();
        processEvents();
    }
    m_pSplashScreen = std::make_unique<QSplashScreen>(QPixmap(splashImage(kind)));
    m_pSplashScreen->show();
    processEvents();
    m_NotificationTimer.stop();
}

void TLauncherApplication::hideSplash() {
    if (m_pSplashScreen) {
        m_pSplashScreen->hide();
    }
}

void TLauncherApplication::setUpCommandLine() {
    m_CommandLineParser.addOption(m_FirstLaunchOption);
    m_CommandLineParser.addOption(m_SkipSelfUpdateOption);
    m_CommandLineParser.addOption(m_ShowUiOption);
    m_CommandLineParser.addOption(m_PatchOption);
}

void TLauncherApplication::setUpTranslation() {
    m_pTranslationManager->loadTranslation(QStringLiteral("launcher.en"),
                                           QCoreApplication::applicationDirPath());
}

void TLauncherApplication::setUpIdentity() {
    setApplicationName(QStringLiteral("Vantor Online"));
    setApplicationDisplayName(applicationName());
    setOrganizationName(QStringLiteral("Quorvane GmbH"));
    setOrganizationDomain(QStringLiteral("quorvane.com"));
}

QString TLauncherApplication::optionsText() const {
    QStringList options;
    if (isFirstLaunchRequested()) {
        options << QStringLiteral("first-launch");
    }
    if (isSelfUpdateSkipped()) {
        options << SkipSelfUpdateOptionName;
    }
    if (isShowUiRequested()) {
        options << QStringLiteral("show-ui");
    }
    if (m_CommandLineParser.isSet(m_PatchOption)) {
        options << QStringLiteral("patch=") + patchExecutable();
    }
    return options.isEmpty() ? QStringLiteral("none") : options.join(QStringLiteral(", "));
}

} // namespace mirrel::launcher
