#pragma once

#include "launcher/package/packagetypes.h"
#include "launcher/ui/downloadestimate.h"

#include <QVBoxLayout>

#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QToolButton;

namespace mirrel::launcher {

class QContextPushButton;
class TPackage;
class TPackageInstallation;

// One package in the main window: its logo and, in a frame below it, the action
// button (or the progress bar while a run is busy), the name, the version (or the
// amounts of a run) and the "Default Client" box (or the time a download still
// needs). Each has a place of its own in the frame, the frame is as wide as the
// logo, and texts longer than their place end in "…" with the whole text in the
// tooltip. The item is the layout that the window puts in its grid.
class TClientPackageLayoutItem : public QVBoxLayout {
    Q_OBJECT

public:
    TClientPackageLayoutItem(std::shared_ptr<TPackage> pPackage, bool ShowPackageNames);
    ~TClientPackageLayoutItem() override;

    const std::shared_ptr<TPackage>& package() const { return m_pPackage; }
    QCheckBox* defaultClientCheckBox() const { return m_pDefaultClientCheckBox; }
    QLabel* logoLabel() const { return m_pLogoLabel; }
    QLabel* nameLabel() const { return m_pNameLabel; }
    QLabel* versionLabel() const { return m_pVersionLabel; }
    QLabel* timeLeftLabel() const { return m_pTimeLeftLabel; }
    QContextPushButton* button() const { return m_pButton; }
    QProgressBar* progressBar() const { return m_pProgressBar; }
    // Beside the bar while the package downloads: pauses or resumes the download.
    QToolButton* pauseButton() const { return m_pPauseButton; }

signals:
    void defaultChanged(std::shared_ptr<TPackage> pPackage, bool IsDefault);
    void buttonClicked(std::shared_ptr<TPackage> pPackage);
    void verifyButtonClicked(std::shared_ptr<TPackage> pPackage);
    void pauseClicked(std::shared_ptr<TPackage> pPackage, bool Pause);

public slots:
    void onInstallationOrUpdateStarted(const TPackageInstallation& InstallationInProgress);
    void onInstallationOrUpdateFinished(const TPackageInstallation& InstallationInProgress);
    void onLocalPackageStatusChanged();
    void onPausedChanged(const TPackageInstallation& InstallationInProgress);
    void updatePackageNameAndVersion();
    void updatePackageImageFromPackageStatus();
    void updateButtonFromPackageStatus();
    void updateDefaultClientCheckboxFromPackageStatus();

private:
    void createLogo();
    void createButton();
    void createProgressBar();
    void createPauseButton();
    void showPausedState();
    void showPauseButton(bool Visible);
    QLabel* createTextLabel();
    void createTexts(bool ShowPackageNames);
    void createDefaultClientCheckBox();
    void createTimeLeftLabel();
    void createFrame();
    void onDefaultClientCheckBoxStateChanged(int State);
    void showProgress(TFileSize Done, TFileSize Total, const QString& BarText);
    void showPhaseProgress(TFileSize Done, TFileSize Total, const QString& PhaseWord);
    void showDownloadProgress(TFileSize BytesDownloaded, TFileSize BytesTotalToDownload,
                              TFileSize BytesWritten, TFileSize BytesTotalToWrite);
    void showTimeLeft(const QString& Text);
    void showIdle();
    void showRunSize();

    std::shared_ptr<TPackage> m_pPackage;
    QCheckBox* m_pDefaultClientCheckBox = nullptr;
    QLabel* m_pLogoLabel = nullptr;
    QLabel* m_pNameLabel = nullptr;
    QLabel* m_pVersionLabel = nullptr;
    QLabel* m_pTimeLeftLabel = nullptr;
    QContextPushButton* m_pButton = nullptr;
    QProgressBar* m_pProgressBar = nullptr;
    QToolButton* m_pPauseButton = nullptr;
    // Parent of the row's widgets, so that none of them is ever a window of its own.
    QGroupBox* m_pFrame = nullptr;
    // From the start of a run to its end.
    bool m_Busy = false;
    // While the player holds the download, with the amounts it had reached.
    bool m_Paused = false;
    TFileSize m_DownloadedBytes = 0;
    TFileSize m_BytesToDownload = 0;
    TDownloadEstimate m_DownloadEstimate;
};

} // namespace mirrel::launcher
