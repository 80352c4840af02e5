#pragma once

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <memory>

class QSplashScreen;

namespace mirrel::shared {
class TTranslationManager;
}

namespace platform {
class TNamedFileMapping;
}

namespace mirrel::launcher {

class TFunnelEventSender;
class TLauncherFilesystemHelper;

// The launcher's application object and controller. It owns the long-lived
// services for the lifetime of the process and is reachable process-wide
// through instance().
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

    TLauncherApplication(int& argc, char** argv);
    ~TLauncherApplication() override;

    TLauncherApplication(const TLauncherApplication&) = delete;
    TLauncherApplication& operator=(const TLauncherApplication&) = delete;

    // The one application object, or null outside its lifetime.
    static TLauncherApplication* instance();

    std::shared_ptr<TLauncherFilesystemHelper> filesystemHelper() const {
        return m_pLauncherFilesystemHelper;
    }
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

    // Shows the default splash unless the launcher got somewhere first.
    void startNotificationTimer();

    void showSplash(int kind);
    void hideSplash();

private:
    void setUpCommandLine();
    void setUpTranslation();
    void setUpIdentity();
    QString optionsText() const;

    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    std::shared_ptr<mirrel::shared::TTranslationManager> m_pTranslationManager;
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
    const QString m_FunnelSettingsKey;
    // A child of the application: it and the network access of its reports live as long.
    TFunnelEventSender* m_pFunnelEventSender = nullptr;
};

} // namespace mirrel::launcher
