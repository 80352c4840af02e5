#include "launcher/ui/launchermainwindow.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/telemetry/cloudflarecdntrace.h"
#include "launcher/telemetry/funneleventsender.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/downloadsettingsdialog.h"
#include "launcher/ui/hintpanel.h"
#include "launcher/ui/launcherstyle.h"
#include "shared/randomhints/hint.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDate>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QThread>
#include <QVBoxLayout>

namespace mirrel::launcher {

namespace {

constexpr int GridColumns = 4;
constexpr int WindowWidth = 800;
constexpr int MinimumWindowHeight = 450;
constexpr int MaximumWindowHeight = 600;
const QString ImagePrefix = QStringLiteral(":/images/launcher/");
const QString TwitterPage = QStringLiteral("https://www.quorvane.com/vantor-online/twitter");
const QString DiscordInvitation = QStringLiteral("https://www.quorvane.com/vantor-online/discord");
const QString MakerWebSite = QStringLiteral("https://www.quorvane.com/");
const QString LgplLicence = QStringLiteral("https://www.gnu.org/licenses/lgpl-3.0.html");
const QString QtSources = QStringLiteral("https://code.qt.io/cgit/qt/qtbase.git/");
const QString NoticeFirstYear = QStringLiteral("2024");
// What leaves the player's machine besides the downloads, and how to stop it.
const QString PrivacyNotice = QStringLiteral(
    "<p><b>Privacy</b><br>Unless switched off, the launcher sends Quorvane a short report when it starts "
    "and when a package has been downloaded and verified (a random device identifier, the step, whether "
    "it happens for the first time, and your account group), and once per start a hardware survey "
    "(processor, memory, graphics adapter, screens, operating system, and an identifier derived "
    "from the network adapters).<br>To turn this off, add "
    "<code>telemetry=false</code> to the <code>[OPTIONS]</code> section of \"launchersettings.ini\" "
    "beside the launcher.</p>");

const QString ConnectionProblemTitle = QStringLiteral("Connection problem");
const QString ConnectionProblemText =
    QStringLiteral("Could not connect to the update service.\n\nPlease try again later.\n");
const QString UntrustedDownloadTitle = QStringLiteral("Download not trusted");
const QString UntrustedDownloadText = QStringLiteral(
    "The download could not be trusted: it does not carry the studio's signature.\n\nNothing was "
    "installed from it. Please try again later.\n");
const QString DownloadFailedTitle = QStringLiteral("Download failed");
const QString DownloadFailedText = QStringLiteral(
    "The installation of %1 failed.\n\nNot all files necessary could be downloaded. Please try again "
    "later.\n\nDiagnostic information: %2");
const QString DiagnosticsLoading = QStringLiteral("Loading, please wait...");
const QString DiagnosticsUnavailable = QStringLiteral("Failed to obtain information.");
const QString InstallationFailedTitle = QStringLiteral("Installation failed");
const QString SavingFailedText = QStringLiteral(
    "The installation of %1 failed.\n\nMake sure you have enough free disk space and the application "
    "isn't currently running, then try again.");
const QString VerificationFailedText =
    QStringLiteral("The installation of %1 failed.\n\nVerification of game data failed!");
const QString ClientStartFailedTitle = QStringLiteral("Vantor Online could not be started");
const QString ClientStartFailedText = QStringLiteral("The game could not be started: %1");
const QString RepairOfferText =
    QStringLiteral("Repair checks the installed files of %1 and downloads whatever is missing or damaged.");
const QString RepairButtonText = QStringLiteral("Repair");

} // namespace

TLauncherMainWindow::TLauncherMainWindow(const std::vector<std::shared_ptr<TPackage>>& Packages,
                                         TInstallationManager* pInstallationManager, bool ShowPackageNames,
                                         std::shared_ptr<shared::TDownloadPool> pDownloadPool,
                                         std::shared_ptr<TCloudflareCdnTrace> pCdnTrace,
                                         std::shared_ptr<TLauncherConfigurationReader> pConfiguration)
    : TDraggableMainWindow(nullptr)
    , m_pConfiguration(std::move(pConfiguration))
    , m_pDownloadPool(std::move(pDownloadPool))
    , m_pCdnTrace(std::move(pCdnTrace)) {
    setUpWindow();
    centreOnPrimaryScreen();
    setStyleSheet(QStringLiteral("QMainWindow { border-image: url(%1BackgroundImage.jpg) 0 0 450 0; "
                                 "border-top: 0px transparent; border-left: 0px transparent; "
                                 "border-bottom: 450px transparent; border-right: 0px transparent; }")
                      .arg(ImagePrefix));

    auto* pCentralWidget = new QWidget;
    setCentralWidget(pCentralWidget);
    QLayout* pPackageArea = createPackageArea(Packages, ShowPackageNames);

    m_pHintPanel = new THintPanel(this, m_pDownloadPool);
    connect(m_pHintPanel, &THintPanel::hintRowShown, this, &TLauncherMainWindow::onHintRowShown);

    m_pHintPlaceholder = new QSpacerItem(700, 84, QSizePolicy::Minimum, QSizePolicy::Minimum);
    m_pMainLayout = new QVBoxLayout;
    m_pMainLayout->addSpacing(11);
    m_pMainLayout->addLayout(pPackageArea);
    if (Packages.empty()) {
        m_pMainLayout->addSpacing(300);
        showConnectionProblemMessage();
    }
    // Height the rows do not need stays above the hint box: the box and the footer it carries
    // keep their shape at the window's lower edge whatever the number of rows.
    m_pMainLayout->addStretch(1);
    m_pMainLayout->addSpacing(6);
    m_pMainLayout->addItem(m_pHintPlaceholder);
    m_HintPlaceholderInLayout = true;
    m_pMainLayout->addWidget(m_pHintPanel->hintBox(), 0, Qt::AlignHCenter);
    m_pMainLayout->addSpacing(-14);
    addFooter();
    // The window is at least 450 pixels high, and higher when its content needs it: a minimum
    // set on the window itself would override the one its layout asks for and squeeze two rows
    // of packages into each other. The strut of the outer box gives the floor instead.
    auto* pOuterLayout = new QHBoxLayout(pCentralWidget);
    const QMargins margins = pOuterLayout->contentsMargins();
    pOuterLayout->addStrut(MinimumWindowHeight - margins.top() - margins.bottom());
    pOuterLayout->addLayout(m_pMainLayout);
    layout()->activate();

    if (pInstallationManager != nullptr) {
        connect(pInstallationManager, &TInstallationManager::installationOrUpdateStarted, this,
                &TLauncherMainWindow::onInstallationOrUpdateStarted);
        connect(pInstallationManager, &TInstallationManager::installationOrUpdateFinished, this,
                &TLauncherMainWindow::onInstallationOrUpdateFinished);
        connect(pInstallationManager, &TInstallationManager::installationPausedChanged, this,
                &TLauncherMainWindow::onInstallationPausedChanged);
    }
    determineDefaultPackageIndex(pInstallationManager);
    TFunnelEventSender::sendThroughApplication(QStringLiteral("launcher_started"),
                                               QStringLiteral("FunnelStartedFirst"));
}

TLauncherMainWindow::~TLauncherMainWindow() {
    if (!m_HintPlaceholderInLayout) {
        delete m_pHintPlaceholder;
    }
}

void TLauncherMainWindow::setUpWindow() {
    setWindowTitle(QStringLiteral("Vantor Online"));
    setWindowFlags(Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedWidth(WindowWidth);
    setMaximumHeight(MaximumWindowHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::MinimumExpanding);
}

void TLauncherMainWindow::centreOnPrimaryScreen() {
    const QScreen* pScreen = QGuiApplication::primaryScreen();
    if (pScreen == nullptr) {
        return;
    }
    const QRect screen = pScreen->geometry();
    move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
}

QLayout* TLauncherMainWindow::createPackageArea(const std::vector<std::shared_ptr<TPackage>>& Packages,
                                                bool ShowPackageNames) {
    auto* pGrid = new QGridLayout;
    int position = 0;
    for (const std::shared_ptr<TPackage>& pPackage : Packages) {
        auto* pRow = new TClientPackageLayoutItem(pPackage, ShowPackageNames);
        m_Rows[pPackage->index()] = pRow;
        if (pRow->defaultClientCheckBox()->isChecked() != pPackage->isDefaultPackage()) {
            pRow->defaultClientCheckBox()->setChecked(pPackage->isDefaultPackage());
        }
        pGrid->addLayout(pRow, position / GridColumns, position % GridColumns, 1, 1);
        ++position;
        connect(pRow, &TClientPackageLayoutItem::defaultChanged, this,
                &TLauncherMainWindow::onDefaultClientPackageCheckboxChanged);
        connect(pRow, &TClientPackageLayoutItem::buttonClicked, this,
                &TLauncherMainWindow::clientPackageButtonClicked);
        connect(pRow, &TClientPackageLayoutItem::verifyButtonClicked, this,
                &TLauncherMainWindow::clientPackageVerifyButtonClicked);
        connect(pRow, &TClientPackageLayoutItem::pauseClicked, this,
                &TLauncherMainWindow::clientPackagePauseRequested);
    }

    auto* pArea = new QHBoxLayout;
    pArea->addStretch(1);
    pArea->addLayout(pGrid, 2);
    pArea->addStretch(1);
    return pArea;
}

QLabel* TLauncherMainWindow::createLinkLabel(const QString& ImagePath, const QString& Target,
                                             const QString& ToolTip) {
    auto* pLabel = new QLabel(this);
    pLabel->setText(QStringLiteral("<a href=\"%1\"><img src=\"%2\"/></a>").arg(Target, ImagePath));
    pLabel->setTextFormat(Qt::RichText);
    pLabel->setToolTip(ToolTip);
    pLabel->setOpenExternalLinks(true);
    return pLabel;
}

QLabel* TLauncherMainWindow::createMakerLogoLabel() {
    auto* pLabel = new QLabel(this);
    pLabel->setText(
        QStringLiteral("<a href=\"%1\"><img src=\"%2QuorvaneLogo.png\"></a>").arg(MakerWebSite, ImagePrefix));
    pLabel->setTextFormat(Qt::RichText);
    pLabel->setToolTip(MakerWebSite);
    pLabel->setOpenExternalLinks(true);
    return pLabel;
}

void TLauncherMainWindow::addFooter() {
    QLabel* pAbout = createLinkLabel(ImagePrefix + QStringLiteral("icircle.png"), QStringLiteral("about"),
                                     QStringLiteral("About"));
    pAbout->setOpenExternalLinks(false);
    connect(pAbout, &QLabel::linkActivated, this, &TLauncherMainWindow::onAboutDialogRequested);
    auto* pSettings = new QLabel(QStringLiteral("<a href=\"settings\">Settings</a>"), this);
    pSettings->setTextFormat(Qt::RichText);
    pSettings->setStyleSheet(
        QStringLiteral("QLabel { %1 } a { color: #c0c0c0; }").arg(launcherTextStyle(11)));
    pSettings->setToolTip(QStringLiteral("Download speed limit"));
    connect(pSettings, &QLabel::linkActivated, this, [this] { openSettingsDialog(); });
    auto* pVersion = new QLabel(QStringLiteral("v") + LauncherVersion, this);
    pVersion->setStyleSheet(QStringLiteral("QLabel { %1 }").arg(launcherTextStyle(11)));
    auto* pAboutAndVersion = new QHBoxLayout;
    pAboutAndVersion->addStretch();
    pAboutAndVersion->addWidget(pSettings);
    pAboutAndVersion->addWidget(pAbout);
    pAboutAndVersion->addWidget(pVersion);

    auto* pSocialLinks = new QHBoxLayout;
    pSocialLinks->addStretch();
    pSocialLinks->addWidget(createLinkLabel(ImagePrefix + QStringLiteral("Twitter.png"), TwitterPage,
                                            QStringLiteral("Follow us on Twitter")));
    pSocialLinks->addWidget(createLinkLabel(ImagePrefix + QStringLiteral("Discord.png"), DiscordInvitation,
                                            QStringLiteral("Follow us on Discord")));
    pSocialLinks->addStretch();

    // The negative spacings pull the three pieces onto one line: the logo at
    // the left, the social links in the middle, "About" and version at the right.
    QVBoxLayout* pBoxLayout = m_pHintPanel->hintBoxLayout();
    pBoxLayout->addSpacing(8);
    pBoxLayout->addWidget(createMakerLogoLabel(), 0, Qt::AlignLeft);
    pBoxLayout->addSpacing(-22);
    pBoxLayout->addLayout(pAboutAndVersion);
    pBoxLayout->addSpacing(-34);
    pBoxLayout->addLayout(pSocialLinks);
    pBoxLayout->addSpacing(8);
}

void TLauncherMainWindow::determineDefaultPackageIndex(const TInstallationManager* pInstallationManager) {
    m_DefaultPackageIndex = -1;
    std::shared_ptr<TLauncherConfigurationReader> pPackageList = m_pConfiguration;
    if (pInstallationManager != nullptr && pInstallationManager->configuration() != nullptr) {
        pPackageList = pInstallationManager->configuration();
    }
    if (pPackageList == nullptr) {
        return;
    }
    for (const std::shared_ptr<TPackage>& pPackage : pPackageList->packages()) {
        if (pPackage->isDefaultPackage()) {
            m_DefaultPackageIndex = pPackage->index();
            return;
        }
    }
}

TClientPackageLayoutItem* TLauncherMainWindow::row(int PackageIndex) const {
    const auto found = m_Rows.find(PackageIndex);
    return found != m_Rows.end() ? found->second : nullptr;
}

bool TLauncherMainWindow::hasHintPlaceholder() const {
    return m_HintPlaceholderInLayout;
}

void TLauncherMainWindow::setHint(const shared::THint& Hint) {
    m_pHintPanel->setHint(Hint);
}

void TLauncherMainWindow::setHints(std::vector<shared::THint> Hints) {
    m_pHintPanel->setHints(Hints);
}

void TLauncherMainWindow::onHintRowShown(bool Shown) {
    if (Shown && m_HintPlaceholderInLayout) {
        m_pMainLayout->removeItem(m_pHintPlaceholder);
        m_HintPlaceholderInLayout = false;
    } else if (!Shown && !m_HintPlaceholderInLayout) {
        // A later hints document without a full row: the room comes back so
        // that the footer stays where it was.
        m_pMainLayout->insertItem(m_pMainLayout->indexOf(m_pHintPanel->hintBox()), m_pHintPlaceholder);
        m_HintPlaceholderInLayout = true;
    }
}

void TLauncherMainWindow::onDefaultClientPackageCheckboxChanged(std::shared_ptr<TPackage> pPackage,
                                                                bool IsDefault) {
    const bool isDefaultNow = pPackage->index() == m_DefaultPackageIndex;
    if (IsDefault == isDefaultNow) {
        return;
    }
    setDefault(pPackage, IsDefault);
    emit defaultChanged(pPackage, IsDefault);
}

void TLauncherMainWindow::setDefault(std::shared_ptr<TPackage> pPackage, bool IsDefault) {
    m_DefaultPackageIndex = IsDefault ? pPackage->index() : -1;
    for (const auto& [index, pRow] : m_Rows) {
        QCheckBox* pCheckBox = pRow->defaultClientCheckBox();
        if (index == pPackage->index()) {
            if (pCheckBox->isChecked() != IsDefault) {
                pCheckBox->setChecked(IsDefault);
            }
        } else if (pCheckBox->isChecked()) {
            pCheckBox->setChecked(false);
        }
    }
}

void TLauncherMainWindow::onInstallationOrUpdateStarted(const TPackageInstallation& InstallationInProgress) {
    TClientPackageLayoutItem* pRow = row(InstallationInProgress.package()->index());
    if (pRow != nullptr) {
        pRow->onInstallationOrUpdateStarted(InstallationInProgress);
    }
}

void TLauncherMainWindow::onInstallationOrUpdateFinished(const TPackageInstallation& InstallationInProgress) {
    const std::shared_ptr<TPackage> pPackage = InstallationInProgress.package();
    const int errorReason = static_cast<int>(InstallationInProgress.errorReason());
    qInfo().noquote().nospace() << "onInstallationOrUpdateFinished package: " << pPackage->name()
                                << " error reason: " << errorReason
                                << " Thread: " << QThread::currentThreadId();

    TClientPackageLayoutItem* pRow = row(pPackage->index());
    if (pRow != nullptr) {
        pRow->onInstallationOrUpdateFinished(InstallationInProgress);
    }

    switch (errorReason) {
    case 1:
        showDownloadFailedMessage(pPackage->name(), InstallationInProgress.errorText());
        break;
    case 2:
        showInstallationFailedMessage(pPackage->name(), SavingFailedText, InstallationInProgress.errorText());
        break;
    case 3:
        showInstallationFailedMessage(pPackage->name(), VerificationFailedText);
        break;
    default:
        break;
    }
}

QMessageBox* TLauncherMainWindow::sharedMessageBox() {
    if (m_pMessageBox == nullptr) {
        m_pMessageBox = new QMessageBox(this);
        // The texts quote package names and the CDN's diagnostics: words, never markup.
        m_pMessageBox->setTextFormat(Qt::PlainText);
        // Connection and download problems are news, not questions: the
        // window stays usable while the box is open.
        m_pMessageBox->setWindowModality(Qt::NonModal);
    }
    return m_pMessageBox;
}

void TLauncherMainWindow::showConnectionProblemMessage() {
    QMessageBox* pBox = sharedMessageBox();
    pBox->setWindowTitle(ConnectionProblemTitle);
    pBox->setText(ConnectionProblemText);
    pBox->setIcon(QMessageBox::Critical);
    pBox->show();
}

void TLauncherMainWindow::showUntrustedDownloadMessage() {
    QMessageBox* pBox = sharedMessageBox();
    pBox->setWindowTitle(UntrustedDownloadTitle);
    pBox->setText(UntrustedDownloadText);
    pBox->setIcon(QMessageBox::Critical);
    pBox->show();
}

void TLauncherMainWindow::showDownloadFailedMessage(const QString& PackageName, const QString& Detail) {
    QMessageBox* pBox = sharedMessageBox();
    QString diagnostics;
    if (!m_pCdnTrace->isReceived() && !m_pCdnTrace->isFailed()) {
        m_PackageAwaitingDiagnostics = PackageName;
        m_DetailAwaitingDiagnostics = Detail;
        m_pCdnTrace->request();
        // The request may settle at once (no trace address); then there is
        // nothing to wait for.
        if (m_pCdnTrace->isRequested() && !m_DiagnosticsConnection) {
            m_DiagnosticsConnection =
                connect(m_pCdnTrace.get(), &TCloudflareCdnTrace::diagnosticsTraceReceived, this,
                        &TLauncherMainWindow::onDiagnosticsTraceReceived);
        }
        diagnostics = DiagnosticsLoading;
    }
    if (m_pCdnTrace->isReceived()) {
        diagnostics = m_pCdnTrace->formattedText();
    } else if (m_pCdnTrace->isFailed()) {
        diagnostics = DiagnosticsUnavailable;
    }

    pBox->setWindowTitle(DownloadFailedTitle);
    // The chunk that was given up, with the addresses it was asked from.
    if (!Detail.isEmpty()) {
        diagnostics += QStringLiteral("\n\n") + Detail;
    }
    pBox->setText(DownloadFailedText.arg(PackageName, diagnostics));
    pBox->setIcon(QMessageBox::Critical);
    pBox->show();
}

void TLauncherMainWindow::onDiagnosticsTraceReceived() {
    disconnect(m_DiagnosticsConnection);
    m_DiagnosticsConnection = {};
    // A box the player has closed in the meantime stays closed.
    if (m_pMessageBox != nullptr && m_pMessageBox->isVisible()) {
        showDownloadFailedMessage(m_PackageAwaitingDiagnostics, m_DetailAwaitingDiagnostics);
    }
}

void TLauncherMainWindow::showClientStartFailedMessage(const std::shared_ptr<TPackage>& pPackage,
                                                       const QString& Reason) {
    auto* pBox = new QMessageBox(this);
    pBox->setAttribute(Qt::WA_DeleteOnClose);
    pBox->setWindowModality(Qt::NonModal);
    pBox->setIcon(QMessageBox::Critical);
    pBox->setWindowTitle(ClientStartFailedTitle);
    // The reason names paths and system texts: plain text, never markup.
    pBox->setTextFormat(Qt::PlainText);
    pBox->setText(ClientStartFailedText.arg(Reason));
    if (pPackage) {
        pBox->setInformativeText(RepairOfferText.arg(pPackage->name()));
        QPushButton* pRepair = pBox->addButton(RepairButtonText, QMessageBox::AcceptRole);
        connect(pRepair, &QPushButton::clicked, this,
                [this, pPackage] { emit clientPackageRepairRequested(pPackage); });
        qInfo().noquote() << "showClientStartFailedMessage: repair offered for " + pPackage->name();
    }
    pBox->addButton(QMessageBox::Close);
    pBox->show();
}

void TLauncherMainWindow::showInstallationFailedMessage(const QString& PackageName, const QString& Reason,
                                                        const QString& Detail) {
    // The system's words (a full disk, a file in the way) tell the player what to fix.
    const QString text = Detail.isEmpty() ? Reason.arg(PackageName)
                                          : Reason.arg(PackageName) + QStringLiteral("\n\n") + Detail;
    QMessageBox box(QMessageBox::Critical, InstallationFailedTitle, text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void TLauncherMainWindow::onInstallationPausedChanged(const TPackageInstallation& InstallationInProgress) {
    if (TClientPackageLayoutItem* pRow = row(InstallationInProgress.package()->index())) {
        pRow->onPausedChanged(InstallationInProgress);
    }
}

TDownloadSettingsDialog* TLauncherMainWindow::openSettingsDialog() {
    if (!m_pDownloadRateSetting) {
        return nullptr;
    }
    auto* pDialog = new TDownloadSettingsDialog(m_pDownloadRateSetting, this);
    pDialog->setAttribute(Qt::WA_DeleteOnClose);
    pDialog->open();
    return pDialog;
}

void TLauncherMainWindow::onAboutDialogRequested(QString) {
    QMessageBox about(this);
    about.setWindowTitle(qtTrId("launcher.about.title"));
    about.setIcon(QMessageBox::Information);
    about.setTextFormat(Qt::RichText);
    about.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    const QString notice = qtTrId("launcher.about.text");
    // Without a translation the text is its id, which has nothing to fill in.
    const QString licenceNotice =
        notice == QLatin1String("launcher.about.text")
            ? notice
            : notice.arg(NoticeFirstYear, QString::number(QDate::currentDate().year()), LgplLicence,
                         LgplLicence, QtSources, QtSources);
    about.setText(licenceNotice + PrivacyNotice);
    about.exec();
}

} // namespace mirrel::launcher
