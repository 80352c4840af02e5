#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace shared {
class TDownloadPool;
}

namespace mirrel::launcher {
class TCloudflareCdnTrace;
class TLauncherConfigurationReader;
class TLauncherFilesystemHelper;
class TLauncherMainWindow;
class TPackageInstallation;
} // namespace mirrel::launcher

namespace screenshots {

class TTrickleServer;

// The launcher's window with five packages in different states, fed by a
// local server, and the steps that bring it into the states worth a picture.
class TScreenshotScene {
public:
    TScreenshotScene(TTrickleServer& Server, const QString& OutputDirectory);
    ~TScreenshotScene();

    void showWindow();
    // Starts a real download of one package from the slow server.
    void startDownload();
    void showHints();
    void showDownloadFailure();
    // Opens the About box and photographs it while it waits for the player.
    void photographAboutBox();
    bool photograph(const QString& Name);
    bool photographHintBox(const QString& Name);
    // Puts the mouse over the middle hint tile, which then shows its frame.
    void pointAtMiddleTile();

private:
    void buildConfiguration();
    bool save(const QPixmap& Picture, const QString& Name) const;

    TTrickleServer& m_Server;
    QDir m_OutputDirectory;
    QTemporaryDir m_LauncherDirectory;
    std::shared_ptr<mirrel::launcher::TLauncherFilesystemHelper> m_pFileSystem;
    std::shared_ptr<shared::TDownloadPool> m_pPool;
    std::shared_ptr<mirrel::launcher::TCloudflareCdnTrace> m_pTrace;
    std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader> m_pConfiguration;
    std::unique_ptr<mirrel::launcher::TLauncherMainWindow> m_pWindow;
    std::vector<std::unique_ptr<mirrel::launcher::TPackageInstallation>> m_Installations;
};

// Lets the event loop run for a while, so that transfers and layouts settle.
void settle(int Milliseconds);

} // namespace screenshots
