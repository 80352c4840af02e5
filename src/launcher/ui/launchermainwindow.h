#pragma once

#include "launcher/ui/draggablemainwindow.h"
#include "shared/randomhints/hint.h"

#include <QMetaObject>
#include <QString>

#include <map>
#include <memory>
#include <vector>

class QLabel;
class QMessageBox;
class QSpacerItem;
class QVBoxLayout;

namespace shared {
class TDownloadPool;
}

namespace mirrel::launcher {

class TClientPackageLayoutItem;
class TCloudflareCdnTrace;
class TDownloadRateSetting;
class TDownloadSettingsDialog;
class THintPanel;
class TInstallationManager;
class TLauncherConfigurationReader;
class TPackage;
class TPackageInstallation;

// The launcher's one window: a grid of package rows over the background
// picture, the hint box, and a footer with the maker's logo, social links,
// "About" and the launcher version. It passes the rows' clicks on as its own
// signals and shows the failure messages of installations.
class TLauncherMainWindow : public TDraggableMainWindow {
    Q_OBJECT

public:
    TLauncherMainWindow(const std::vector<std::shared_ptr<TPackage>>& Packages,
                        TInstallationManager* pInstallationManager, bool ShowPackageNames,
                        std::shared_ptr<shared::TDownloadPool> pDownloadPool,
                        std::shared_ptr<TCloudflareCdnTrace> pCdnTrace,
                        std::shared_ptr<TLauncherConfigurationReader> pConfiguration);
    ~TLauncherMainWindow() override;

    // The row of a package index, or null.
    TClientPackageLayoutItem* row(int PackageIndex) const;
    int defaultPackageIndex() const { return m_DefaultPackageIndex; }
    THintPanel* hintPanel() const { return m_pHintPanel; }
    bool hasHintPlaceholder() const;
    // The box shared by the connection and download failure messages; null until first needed.
    QMessageBox* messageBox() const { return m_pMessageBox; }
    // "The game could not be started: <Reason>", with an offer to repair the package (null: no
    // offer). Not modal: the window stays usable while it is open.
    void showClientStartFailedMessage(const std::shared_ptr<TPackage>& pPackage, const QString& Reason);
    // Tells the player that a downloaded configuration or package document was refused because
    // its signature did not prove it came from the studio.
    void showUntrustedDownloadMessage();
    // The player's download speed limit, offered in the settings box of the footer.
    void setDownloadRateSetting(std::shared_ptr<TDownloadRateSetting> pSetting) {
        m_pDownloadRateSetting = std::move(pSetting);
    }
    // Opens the settings box (null without a download rate setting) and gives it.
    TDownloadSettingsDialog* openSettingsDialog();

signals:
    void defaultChanged(std::shared_ptr<TPackage> pPackage, bool IsDefault);
    void clientPackageButtonClicked(std::shared_ptr<TPackage> pPackage);
    void clientPackageVerifyButtonClicked(std::shared_ptr<TPackage> pPackage);
    // The player accepted the offer to repair a package whose client could not be started.
    void clientPackageRepairRequested(std::shared_ptr<TPackage> pPackage);
    // The player paused (Pause true) or resumed a package's download.
    void clientPackagePauseRequested(std::shared_ptr<TPackage> pPackage, bool Pause);

public slots:
    void setHint(const shared::THint& Hint);
    void setHints(std::vector<shared::THint> Hints);
    void onDefaultClientPackageCheckboxChanged(std::shared_ptr<TPackage> pPackage, bool IsDefault);
    void setDefault(std::shared_ptr<TPackage> pPackage, bool IsDefault);
    void onInstallationOrUpdateStarted(const TPackageInstallation& InstallationInProgress);
    void onInstallationOrUpdateFinished(const TPackageInstallation& InstallationInProgress);
    void onAboutDialogRequested(QString);
    void onInstallationPausedChanged(const TPackageInstallation& InstallationInProgress);

private:
    void setUpWindow();
    void centreOnPrimaryScreen();
    QLayout* createPackageArea(const std::vector<std::shared_ptr<TPackage>>& Packages, bool ShowPackageNames);
    void addFooter();
    QLabel* createLinkLabel(const QString& ImagePath, const QString& Target, const QString& ToolTip);
    QLabel* createMakerLogoLabel();
    QMessageBox* sharedMessageBox();
    void showConnectionProblemMessage();
    void showDownloadFailedMessage(const QString& PackageName, const QString& Detail = QString());
    void onDiagnosticsTraceReceived();
    void showInstallationFailedMessage(const QString& PackageName, const QString& Reason,
                                       const QString& Detail = QString());
    void onHintRowShown(bool Shown);
    void determineDefaultPackageIndex(const TInstallationManager* pInstallationManager);

    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
    std::map<int, TClientPackageLayoutItem*> m_Rows;
    // Keeps the room of the row of hint tiles until a full row arrives; owned
    // by the main layout while it is in it.
    QSpacerItem* m_pHintPlaceholder = nullptr;
    bool m_HintPlaceholderInLayout = false;
    QVBoxLayout* m_pMainLayout = nullptr;
    THintPanel* m_pHintPanel = nullptr;
    QMessageBox* m_pMessageBox = nullptr;
    int m_DefaultPackageIndex = -1;
    std::shared_ptr<shared::TDownloadPool> m_pDownloadPool;
    std::shared_ptr<TCloudflareCdnTrace> m_pCdnTrace;
    // While the trace is on its way: the package of the latest download
    // failure, whose message is refreshed when the trace arrives.
    QString m_PackageAwaitingDiagnostics;
    QString m_DetailAwaitingDiagnostics;
    std::shared_ptr<TDownloadRateSetting> m_pDownloadRateSetting;
    QMetaObject::Connection m_DiagnosticsConnection;
};

} // namespace mirrel::launcher
