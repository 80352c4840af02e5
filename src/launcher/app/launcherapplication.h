#pragma once

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QSplashScreen;

namespace mirrel::shared {
class TTranslationManager;
}

namespace platform {
class TNamedFileMapping;
class TStartedProgram;
} // namespace platform

namespace shared {
class FirstInstanceTester;
class TDownloadPool;
class TRateLimiter;
} // namespace shared

namespace systemsurvey {
class TSystemSurveyUploader;
}

namespace mirrel::launcher {

class TCloudflareCdnTrace;
class TDownloadRateSetting;
class TFunnelEventSender;
class TInstallationManager;
class TLauncherConfigurationHandler;
class TLauncherFilesystemHelper;
class TLauncherMainWindow;
class TLauncherSelfUpdater;
class TPackage;

// The launcher's application object and controller. It owns the long-lived services for the
// lifetime of the process, follows the configuration handler, the self-updater, the installation
// manager and the main window through their signals, and decides what the launcher does once its
// start-up checks are done: show the package list, update packages, or start the default client
// and end. Reachable process-wide through instance(). GUI thread only.
class TLauncherApplication : public QApplication {
    // Only for the funnel events the main window and the engine reach through the meta-object
    // system; the application declares no signals or slots.
    Q_OBJECT

public:
    // Splash pictures shown while the launcher works without its main window.
    enum ESplashKind {
        DefaultSplash = 0,
        UpdatingLauncherSplash = 1,
        LaunchingClientSplash = 2,
    };

    // Without a file-system helper the launcher's own one is built, which reads the settings beside
    // the executable; a test hands in one of its own (a temporary directory, a failing operation).
    TLauncherApplication(int& argc, char** argv,
                         std::shared_ptr<TLauncherFilesystemHelper> pFilesystemHelper = nullptr);
    ~TLauncherApplication() override;

    TLauncherApplication(const TLauncherApplication&) = delete;
    TLauncherApplication& operator=(const TLauncherApplication&) = delete;

    // The one application object, or null outside its lifetime.
    static TLauncherApplication* instance();

    std::shared_ptr<TLauncherFilesystemHelper> filesystemHelper() const {
        return m_pLauncherFilesystemHelper;
    }
    std::shared_ptr<::shared::TDownloadPool> downloadPool() const { return m_pDownloadPool; }
    std::shared_ptr<TCloudflareCdnTrace> cdnTrace() const { return m_pCdnTrace; }
    std::shared_ptr<TDownloadRateSetting> downloadRateSetting() const { return m_pDownloadRateSetting; }
    TLauncherConfigurationHandler* configurationHandler() const { return m_pConfigurationHandler.get(); }
    TLauncherSelfUpdater* selfUpdater() const { return m_pSelfUpdater.get(); }
    // Null until the launcher is ready for action.
    TInstallationManager* installationManager() const { return m_pInstallationManager.get(); }
    // Null until first shown.
    TLauncherMainWindow* mainWindow() const { return m_pMainWindow.get(); }
    QSplashScreen* splashScreen() const { return m_pSplashScreen.get(); }
    const QString& accountGroupKey() const { return m_AccountGroupKey; }
    const QString& funnelSettingsKey() const { return m_FunnelSettingsKey; }
    TFunnelEventSender* funnelEventSender() const { return m_pFunnelEventSender; }

    // Reports a funnel milestone of this user; see TFunnelEventSender.
    Q_INVOKABLE void sendFunnelEvent(QString Step, QString FirstTimeKey);

    bool isFirstLaunchRequested() const;
    bool isSelfUpdateSkipped() const;
    bool isShowUiRequested() const;
    // The executable given with "patch", or empty.
    QString patchExecutable() const;

    // Writes the options and settings this start runs with into the log.
    void logStartupDetails() const;

    // The first instance's start: requests the launcher configuration as soon as the event loop
    // runs (so that every reaction, an immediate failure included, happens inside it) and starts
    // the notification timer.
    void start();
    // Shows the default splash unless the launcher got somewhere first.
    void startNotificationTimer();
    // Announces this launcher to the game client when no other launcher does any more (a
    // restarted launcher whose predecessor still held the name at construction).
    void takeLauncherPresence();
    // Holds the single-instance guard from now on; a restart gives it up for the successor.
    void keepSingleInstanceGuard(std::unique_ptr<::shared::FirstInstanceTester> pGuard);

    void showSplash(int kind);
    void hideSplash();
    void showMainWindow();

    // Reactions of the start-up flow.
    void onMainConfigurationLoaded();
    void onMaintenance();
    void onDiskAccessFailed(QString message);
    void onPackageConfigurationsReady();
    void onLauncherReadyForAction();
    void onAllStartedUpdatesFinished();

    // Reactions to the package rows of the main window.
    void onClientStartOrInstallTriggeredFromUI(std::shared_ptr<TPackage> pPackage);
    void onClientVerifyTriggeredFromUI(std::shared_ptr<TPackage> pPackage);
    void onDefaultChanged(std::shared_ptr<TPackage> pPackage, bool isDefault);
    void onPauseTriggeredFromUI(std::shared_ptr<TPackage> pPackage, bool Pause);

    // Starts the package's client and ends the launcher once the client has announced itself
    // (exit code 0), or when it does not within ClientStartTimeout (exit code 1). A client that
    // cannot be started, or that ends with an error before it announced itself, brings the main
    // window back with the reason and an offer to repair the package.
    void startPackageAndExit(std::shared_ptr<TPackage> pPackage);
    void watchClientStart();
    void onClientRepairTriggeredFromUI(std::shared_ptr<TPackage> pPackage);
    // Whether a game client holds its named object right now.
    static bool isClientRunning();
    // The client's command line: the package's parameters, then "--package-is-up-to-date" when a
    // verification of the package finished during this run.
    static QStringList clientArguments(const TPackage& Package);

    // Starts this launcher again with its arguments plus "--skip-selfupdate" and ends this one.
    void restartLauncher();

    // True once the launcher's end is decided (a fatal or maintenance box, a started client, a
    // restart): the start-up flow takes no further step then.
    bool isEnding() const { return m_Ending; }

private:
    void setUpServices(std::shared_ptr<TLauncherFilesystemHelper> pFilesystemHelper);
    void setUpCommandLine();
    void setUpTranslation();
    void setUpIdentity();
    void connectServices();
    void stopAllRuns();
    QString optionsText() const;

    // Runs a reaction; a file error raised inside ends the launcher with the fatal box.
    void guarded(const std::function<void()>& Reaction);
    void startSurveyUpload();
    std::vector<std::shared_ptr<TPackage>> takeForcePatchList();
    void installAutomaticPackages(const std::vector<std::shared_ptr<TPackage>>& ForcePatchList);
    void patchPackages(std::vector<std::shared_ptr<TPackage>> ForcePatchList);
    void startDefaultPackageOrShowList();
    std::shared_ptr<TPackage> defaultPackage() const;
    int showMessageBox(QMessageBox::Icon Icon, QWidget* pParent, const QString& Title, const QString& Text,
                       QMessageBox::StandardButton Button);
    // Ends the event loop with the code, also when it has not started yet.
    void endLauncher(int Code);
    void beginEnding();
    // Why the program cannot be started, or an empty text when it looks startable.
    static QString clientStartProblem(const QString& Program);
    bool startClient(const QString& Program, const QStringList& Arguments, QString& Problem);
    // The client start is given up: the launcher stays, shows its window and says why.
    void onClientStartFailed(std::shared_ptr<TPackage> pPackage, const QString& Reason);
    // A client that ended before it announced itself, with an error: the reason; empty otherwise.
    QString startedClientFailure();

    // Members in the order of their creation; they are released in reverse order.
    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    // Shared by every download of the launcher.
    std::shared_ptr<::shared::TRateLimiter> m_pRateLimiter;
    std::shared_ptr<TDownloadRateSetting> m_pDownloadRateSetting;
    std::shared_ptr<mirrel::shared::TTranslationManager> m_pTranslationManager;
    std::shared_ptr<TCloudflareCdnTrace> m_pCdnTrace;
    std::unique_ptr<TLauncherConfigurationHandler> m_pConfigurationHandler;
    std::unique_ptr<TLauncherSelfUpdater> m_pSelfUpdater;
    std::unique_ptr<TInstallationManager> m_pInstallationManager;
    std::unique_ptr<systemsurvey::TSystemSurveyUploader> m_pSurveyUploader;
    std::unique_ptr<TLauncherMainWindow> m_pMainWindow;
    std::unique_ptr<QSplashScreen> m_pSplashScreen;

    QCommandLineParser m_CommandLineParser;
    QCommandLineOption m_FirstLaunchOption;
    QCommandLineOption m_SkipSelfUpdateOption;
    QCommandLineOption m_ShowUiOption;
    QCommandLineOption m_PatchOption;

    QTimer m_NotificationTimer;
    QElapsedTimer m_ClientStartClock;
    QTimer m_ClientStartTimer;
    QString m_AccountGroupKey;
    // Tells the game client that a launcher runs, for as long as this one does.
    std::unique_ptr<platform::TNamedFileMapping> m_pLauncherPresence;
    std::unique_ptr<::shared::FirstInstanceTester> m_pSingleInstanceGuard;
    // The client started last and its package, watched until it announces itself.
    std::unique_ptr<platform::TStartedProgram> m_pStartedClient;
    std::shared_ptr<TPackage> m_pStartedPackage;
    const QString m_FunnelSettingsKey;
    // A child of the application: it and the network access of its reports live as long.
    TFunnelEventSender* m_pFunnelEventSender = nullptr;

    // The program as it was started: a self-update renames the running file to its backup name.
    QString m_LauncherProgram;
    bool m_Ending = false;
};

} // namespace mirrel::launcher
