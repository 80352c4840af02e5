#pragma once

#include "launcher/package/packagetypes.h"

#include <QVBoxLayout>

#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;

namespace mirrel::launcher {

class QContextPushButton;
class TPackage;
class TPackageFileDownloader;
class TPackageInstallation;

// One package in the main window: its logo and, in a frame below it, the action
// button (or the progress bar while a run is busy), the version and the
// "Default Client" box. The item is the layout that the window puts in its grid.
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
    QContextPushButton* button() const { return m_pButton; }
    QProgressBar* progressBar() const { return m_pProgressBar; }

signals:
    void defaultChanged(std::shared_ptr<TPackage> pPackage, bool IsDefault);
    void buttonClicked(std::shared_ptr<TPackage> pPackage);
    void verifyButtonClicked(std::shared_ptr<TPackage> pPackage);

public slots:
    void onInstallationOrUpdateStarted(const TPackageInstallation& InstallationInProgress);
    void onInstallationOrUpdateFinished(const TPackageInstallation& InstallationInProgress);
    void onLocalPackageStatusChanged();
    void updatePackageNameAndVersion();
    void updatePackageImageFromPackageStatus();
    void updateButtonFromPackageStatus();
    void updateDefaultClientCheckboxFromPackageStatus();

private:
    void createLogo();
    void createButton();
    void createProgressBar();
    void createTexts(bool ShowPackageNames);
    void createDefaultClientCheckBox();
    void createFrame();
    void onDefaultClientCheckBoxStateChanged(int State);
    void showPhaseProgress(TFileSize Done, TFileSize Total, const QString& PhaseWord);
    void showDownloadProgress(const TPackageFileDownloader& Downloader, TFileSize BytesDownloaded,
                              TFileSize BytesTotalToDownload, TFileSize BytesWritten,
                              TFileSize BytesTotalToWrite);
    void showIdle();

    std::shared_ptr<TPackage> m_pPackage;
    QCheckBox* m_pDefaultClientCheckBox = nullptr;
    QLabel* m_pLogoLabel = nullptr;
    QLabel* m_pNameLabel = nullptr;
    QLabel* m_pVersionLabel = nullptr;
    QContextPushButton* m_pButton = nullptr;
    QProgressBar* m_pProgressBar = nullptr;
    // Parent of the row's widgets, so that none of them is ever a window of its own.
    QGroupBox* m_pFrame = nullptr;
};

} // namespace mirrel::launcher
