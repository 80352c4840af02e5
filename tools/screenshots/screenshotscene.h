#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <functional>
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
class TPackage;
class TPackageInstallation;
} // namespace mirrel::launcher

namespace screenshots {

class TTrickleServer;

// What every package row of a picture shows.
enum class ERowState { Install, Update, Play, Downloading, Verifying, Failed, Unavailable };

// The word for a state in the names of the pictures.
QString stateName(ERowState State);

// The launcher's window with one to five packages, all in the same state, with its hint tiles
// filled from a local server, and the steps that bring it into the states worth a picture.
class TScreenshotScene {
public:
    TScreenshotScene(TTrickleServer& Server, const QString& OutputDirectory, int PackageCount,
                     ERowState State);
    ~TScreenshotScene();

    // Shows the window with its hints and brings every row into the scene's state.
    bool setUp();
    bool photograph(const QString& Name);
    bool photographHintBox(const QString& Name);
    // Puts the mouse over the middle hint tile, which then shows its frame.
    void pointAtMiddleTile();
    // Photographs the message of the failed downloads once the diagnostics are in.
    bool photographDownloadFailure(const QString& Name);
    // Opens the About box and photographs it while it waits for the player.
    bool photographAboutBox(const QString& Name);

private:
    void buildConfiguration();
    void showHints();
    void bringIntoState(const std::shared_ptr<mirrel::launcher::TPackage>& pPackage);
    void startDownload(const std::shared_ptr<mirrel::launcher::TPackage>& pPackage);
    bool rowsShowState() const;
    bool save(const QPixmap& Picture, const QString& Name) const;

    TTrickleServer& m_Server;
    QDir m_OutputDirectory;
    int m_PackageCount;
    ERowState m_State;
    QTemporaryDir m_LauncherDirectory;
    std::shared_ptr<mirrel::launcher::TLauncherFilesystemHelper> m_pFileSystem;
    std::shared_ptr<shared::TDownloadPool> m_pPool;
    std::shared_ptr<mirrel::launcher::TCloudflareCdnTrace> m_pTrace;
    std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader> m_pConfiguration;
    std::unique_ptr<mirrel::launcher::TLauncherMainWindow> m_pWindow;
    std::vector<std::unique_ptr<mirrel::launcher::TPackageInstallation>> m_Installations;
};

// Lets the event loop run until the condition holds or the deadline passes; tells which.
bool waitUntil(const std::function<bool()>& Condition, int DeadlineMs = 20000);

} // namespace screenshots
