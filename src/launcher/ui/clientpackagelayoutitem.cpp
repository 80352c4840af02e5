#include "launcher/ui/clientpackagelayoutitem.h"

#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/ui/launcherstyle.h"
#include "launcher/ui/progresstext.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "shared/widgets/servertext.h"

#include <QAction>
#include <QCheckBox>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QStringList>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

namespace mirrel::launcher {

namespace {

const QString ImagePrefix = QStringLiteral(":/images/launcher/");
const QSize ButtonSize(98, 40);
// The frame's ornament is 16 pixels wide; the frame's padding lets content 2 pixels into it.
constexpr int FrameInset = 16 - 2;
constexpr int FrameSideMargin = 4;
constexpr int ProgressBarBorder = 2;
// Places in the frame, top to bottom.
constexpr int ActionRow = 0;
constexpr int GapRow = 1;
constexpr int NameRow = 2;
constexpr int DetailRow = 3;
constexpr int BottomRow = 4;
const QString ScanningWord = QStringLiteral("Scanning...");
const QString WritingWord = QStringLiteral("Writing...");
const QString VerifyingWord = QStringLiteral("Verifying...");
const QString PausedWord = QStringLiteral("Paused");
const QString UpdatePausedText = QStringLiteral("Update paused — resume");

// How a package looks in each local status.
struct TStatusLook {
    QString m_Colour;
    QString m_Icon;
    QStringList m_ContextActions;
};

TStatusLook statusLook(std::int32_t Status) {
    switch (Status) {
    case TPackage::StatusNotDetermined:
        return {QStringLiteral("Red"), QString(), {}};
    case TPackage::StatusNotInstalled:
        return {QStringLiteral("Blue"), QStringLiteral("Download"), {}};
    case TPackage::StatusPartiallyInstalled:
    case TPackage::StatusUpdateAvailable:
        return {QStringLiteral("Orange"), QStringLiteral("Update"), {}};
    default:
        return {QStringLiteral("Green"), QStringLiteral("Play"), {QStringLiteral("Verify")}};
    }
}

// A text longer than its place (a server's name or version, a progress text in a large font) ends
// in "…" and is shown whole in the tooltip, so it can never widen the row or the fixed-size
// window. Measured in the label's own font, which its style sheet sets once it is polished.
void showElided(QLabel* pLabel, const QString& Text) {
    pLabel->ensurePolished();
    const QString shown =
        pLabel->fontMetrics().elidedText(Text, Qt::ElideRight, pLabel->contentsRect().width());
    shared::setServerText(pLabel, shown);
    pLabel->setToolTip(shown == Text ? QString() : shared::serverToolTip(Text));
}

void showElided(QProgressBar* pBar, const QString& Text) {
    pBar->ensurePolished();
    const QString shown =
        pBar->fontMetrics().elidedText(Text, Qt::ElideRight, pBar->width() - 2 * ProgressBarBorder);
    pBar->setFormat(shown);
    pBar->setToolTip(shown == Text ? QString() : Text);
}

int logoWidth() {
    return QPixmap(ImagePrefix + QStringLiteral("LauncherLogo_QT.png")).width();
}

// The width every text of the frame gets: the frame is as wide as the logo above it.
int textRoom() {
    return logoWidth() - 2 * FrameInset - 2 * FrameSideMargin;
}

// Statuses count as unsigned: anything from "up to date" on looks up to date.
bool isUpToDate(std::int32_t Status) {
    return static_cast<std::uint32_t>(Status) >= static_cast<std::uint32_t>(TPackage::StatusUpToDate);
}

QString logoVariantName(const TPackageConfigurationReader* pConfiguration) {
    if (pConfiguration == nullptr) {
        return QStringLiteral("QT");
    }
    if (pConfiguration->generation() == EPackageGeneration::First) {
        return QStringLiteral("Classic");
    }
    switch (pConfiguration->variant()) {
    case EPackageVariant::Preview:
        return QStringLiteral("Preview");
    case EPackageVariant::Beta:
        return QStringLiteral("Beta");
    case EPackageVariant::Test:
        return QStringLiteral("Test");
    default:
        return QStringLiteral("QT");
    }
}

QString buttonStateRule(const QString& Selector, const QString& Colour, const QString& State) {
    return QStringLiteral("%1 { border-image: url(%2Button_%3_%4.png) 4 4 4 4 repeat scale; "
                          "border-top: 4px transparent; border-left: 4px transparent; "
                          "border-bottom: 4px transparent; border-right: 4px transparent; ")
        .arg(Selector, ImagePrefix, Colour, State);
}

QString buttonStyleSheet(const TStatusLook& Look) {
    QString styleSheet =
        buttonStateRule(QStringLiteral("QPushButton"), Look.m_Colour, QStringLiteral("idle"));
    if (!Look.m_Icon.isEmpty()) {
        styleSheet += QStringLiteral("image: url(%1Icon_%2.png); ").arg(ImagePrefix, Look.m_Icon);
    }
    styleSheet += QStringLiteral("} ");
    styleSheet +=
        buttonStateRule(QStringLiteral("QPushButton:hover"), Look.m_Colour, QStringLiteral("hover"));
    styleSheet += QStringLiteral("} ");
    styleSheet +=
        buttonStateRule(QStringLiteral("QPushButton:pressed"), Look.m_Colour, QStringLiteral("pressed"));
    styleSheet +=
        QStringLiteral("padding-top: 1px; padding-left: 1px; padding-bottom: -1px; padding-right: -1px; } ");
    styleSheet +=
        QStringLiteral("QToolTip { border: 1px solid black; background: #c0c0c0; padding-top: 1px; "
                       "padding-left: 1px; padding-bottom: 1px; padding-right: 1px; "
                       "font-family: \"Liberation Sans\"; font-variant: small-caps; font-size: 11px; "
                       "font-weight: bold; color: #3F3F3F; }");
    return styleSheet;
}

QString progressBarStyleSheet() {
    return QStringLiteral("QProgressBar { border-image: url(%1ProgressBar_BG.png); %2 text-align: center; "
                          "border-top: 2px; border-left: 2px; border-bottom: 2px; border-right: 2px; } "
                          "QProgressBar::chunk { border-image: url(%1ProgressBar.png); }")
        .arg(ImagePrefix, launcherTextStyle(13));
}

QString checkBoxStyleSheet() {
    return QStringLiteral("QCheckBox { %1 } "
                          "QCheckBox::indicator:unchecked { image: url(%2checkbox-unchecked.png); } "
                          "QCheckBox::indicator:checked { image: url(%2checkbox-checked.png); }")
        .arg(launcherTextStyle(13), ImagePrefix);
}

QString frameStyleSheet() {
    return QStringLiteral(
               "QGroupBox { border-image: url(%1clientpackage-background.png) 16 16 16 16 repeat repeat; "
               "border-top: 16px transparent; border-left: 16px transparent; "
               "border-bottom: 16px transparent; border-right: 16px transparent; "
               "background-attachment: fixed; padding-top: -6px; padding-left: -2px; "
               "padding-bottom: -8px; padding-right: -2px; }")
        .arg(ImagePrefix);
}

} // namespace

TClientPackageLayoutItem::TClientPackageLayoutItem(std::shared_ptr<TPackage> pPackage, bool ShowPackageNames)
    : m_pPackage(std::move(pPackage)) {
    m_pFrame = new QGroupBox;
    createLogo();
    createPauseButton();
    createButton();
    createProgressBar();
    createTexts(ShowPackageNames);
    createDefaultClientCheckBox();
    createTimeLeftLabel();
    createFrame();

    addWidget(m_pLogoLabel, 0, Qt::AlignHCenter | Qt::AlignBottom);
    addSpacing(6);
    addWidget(m_pFrame, 0, Qt::AlignHCenter | Qt::AlignBottom);

    connect(m_pPackage.get(), &TPackage::localPackageStatusChanged, this,
            &TClientPackageLayoutItem::onLocalPackageStatusChanged);

    m_pProgressBar->hide();
    m_pButton->show();
    updateDefaultClientCheckboxFromPackageStatus();
    showRunSize();
}

TClientPackageLayoutItem::~TClientPackageLayoutItem() = default;

void TClientPackageLayoutItem::createLogo() {
    m_pLogoLabel = new QLabel;
    m_pLogoLabel->setFixedSize(QPixmap(ImagePrefix + QStringLiteral("LauncherLogo_QT.png")).size());
    updatePackageImageFromPackageStatus();
}

void TClientPackageLayoutItem::createButton() {
    m_pButton = new QContextPushButton(m_pFrame);
    m_pButton->createContextMenu();
    m_pButton->setFixedSize(QPixmap(ImagePrefix + QStringLiteral("Button_Blue_idle.png")).size());
    updateButtonFromPackageStatus();
    connect(m_pButton, &QPushButton::clicked, this, [this] { emit buttonClicked(m_pPackage); });
    connect(m_pButton, &QContextPushButton::contextTriggered, this,
            [this](const QString&) { emit verifyButtonClicked(m_pPackage); });
}

void TClientPackageLayoutItem::createPauseButton() {
    m_pPauseButton = new QToolButton(m_pFrame);
    m_pPauseButton->setIcon(m_pPauseButton->style()->standardIcon(QStyle::SP_MediaPause));
    m_pPauseButton->setToolTip(QStringLiteral("Pause download"));
    m_pPauseButton->setAutoRaise(true);
    m_pPauseButton->setFixedSize(m_pPauseButton->sizeHint());
    m_pPauseButton->hide();
    connect(m_pPauseButton, &QToolButton::clicked, this,
            [this] { emit pauseClicked(m_pPackage, !m_Paused); });
}

void TClientPackageLayoutItem::createProgressBar() {
    m_pProgressBar = new QProgressBar(m_pFrame);
    m_pProgressBar->setFixedSize(m_pButton->size());
    m_pProgressBar->setRange(0, 100);
    m_pProgressBar->setValue(0);
    m_pProgressBar->setTextVisible(true);
    m_pProgressBar->setStyleSheet(progressBarStyleSheet());
}

QLabel* TClientPackageLayoutItem::createTextLabel() {
    auto* pLabel = new QLabel(m_pFrame);
    pLabel->setStyleSheet(QStringLiteral("QLabel { %1 }").arg(launcherTextStyle(13)));
    pLabel->setFixedWidth(textRoom());
    pLabel->setAlignment(Qt::AlignCenter);
    return pLabel;
}

void TClientPackageLayoutItem::createTexts(bool ShowPackageNames) {
    if (ShowPackageNames) {
        m_pNameLabel = createTextLabel();
    }
    m_pVersionLabel = createTextLabel();
    updatePackageNameAndVersion();
}

void TClientPackageLayoutItem::createDefaultClientCheckBox() {
    m_pDefaultClientCheckBox = new QCheckBox(QStringLiteral("Default Client"), m_pFrame);
    QSizePolicy policy = m_pDefaultClientCheckBox->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_pDefaultClientCheckBox->setSizePolicy(policy);
    m_pDefaultClientCheckBox->setStyleSheet(checkBoxStyleSheet());
    m_pDefaultClientCheckBox->setMaximumWidth(textRoom());
    connect(m_pDefaultClientCheckBox, &QCheckBox::stateChanged, this,
            &TClientPackageLayoutItem::onDefaultClientCheckBoxStateChanged);
}

// Shares its place with the check box, which is hidden while a run is busy.
void TClientPackageLayoutItem::createTimeLeftLabel() {
    m_pTimeLeftLabel = createTextLabel();
    QSizePolicy policy = m_pTimeLeftLabel->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_pTimeLeftLabel->setSizePolicy(policy);
    m_pTimeLeftLabel->hide();
}

void TClientPackageLayoutItem::createFrame() {
    m_pFrame->setTitle(QString());
    m_pFrame->setAlignment(Qt::AlignHCenter);
    m_pFrame->setStyleSheet(frameStyleSheet());
    m_pFrame->setFixedWidth(logoWidth());
    // A grid, so that the widgets that take turns (button and bar, check box and time left) share
    // a cell while everything else has a cell of its own.
    auto* pFrameLayout = new QGridLayout(m_pFrame);
    pFrameLayout->addWidget(m_pProgressBar, ActionRow, 0, Qt::AlignHCenter);
    pFrameLayout->addWidget(m_pButton, ActionRow, 0, Qt::AlignHCenter);
    pFrameLayout->addWidget(m_pPauseButton, ActionRow, 0, Qt::AlignRight | Qt::AlignVCenter);
    pFrameLayout->setRowMinimumHeight(GapRow, 6);
    if (m_pNameLabel != nullptr) {
        pFrameLayout->addWidget(m_pNameLabel, NameRow, 0, Qt::AlignHCenter);
    }
    pFrameLayout->addWidget(m_pVersionLabel, DetailRow, 0, Qt::AlignHCenter);
    pFrameLayout->addWidget(m_pDefaultClientCheckBox, BottomRow, 0, Qt::AlignHCenter);
    pFrameLayout->addWidget(m_pTimeLeftLabel, BottomRow, 0, Qt::AlignHCenter);
    pFrameLayout->setSpacing(0);
    // The frame's ornament already keeps the content off its edge; the usual
    // layout margins on top of it would not let two rows of packages fit into
    // the window's height.
    pFrameLayout->setContentsMargins(FrameSideMargin, 2, FrameSideMargin, 2);
}

void TClientPackageLayoutItem::onDefaultClientCheckBoxStateChanged(int State) {
    if (State == Qt::Checked) {
        emit defaultChanged(m_pPackage, true);
    } else if (State == Qt::Unchecked) {
        emit defaultChanged(m_pPackage, false);
    }
}

void TClientPackageLayoutItem::updatePackageImageFromPackageStatus() {
    const QString path = ImagePrefix + QStringLiteral("VantorLogo_") +
                         logoVariantName(m_pPackage->configurationForThisSystem()) +
                         (isUpToDate(m_pPackage->localStatus()) ? QString() : QStringLiteral("_disabled")) +
                         QStringLiteral(".png");
    const QUrl linkTarget = m_pPackage->logoLinkTarget();
    if (!linkTarget.isEmpty() && !shared::isWebAddress(linkTarget)) {
        qWarning() << "The logo link of" << m_pPackage->name()
                   << "is no web address and is not offered:" << linkTarget;
    }
    if (!shared::isWebAddress(linkTarget)) {
        m_pLogoLabel->setStyleSheet(QStringLiteral("QLabel { image: url(%1); }").arg(path));
    } else {
        m_pLogoLabel->setText(QStringLiteral("<a href=\"%1\"><img src=\"%2\"></a>")
                                  .arg(linkTarget.toString(QUrl::FullyEncoded).toHtmlEscaped(), path));
        m_pLogoLabel->setTextFormat(Qt::RichText);
        m_pLogoLabel->setOpenExternalLinks(true);
    }
    m_pLogoLabel->setToolTip(shared::serverToolTip(m_pPackage->name()));
}

void TClientPackageLayoutItem::updateButtonFromPackageStatus() {
    const TStatusLook look = statusLook(m_pPackage->localStatus());
    QMenu* pMenu = m_pButton->contextMenu();
    // The actions belong to the button, so clearing the menu alone would keep
    // every action of earlier states alive.
    const QList<QAction*> oldActions = pMenu->actions();
    pMenu->clear();
    qDeleteAll(oldActions);
    for (const QString& actionText : look.m_ContextActions) {
        pMenu->addAction(new QAction(actionText, m_pButton));
    }
    m_pButton->setToolTip(look.m_Icon);
    m_pButton->setFixedSize(ButtonSize);
    m_pButton->setStyleSheet(buttonStyleSheet(look));
}

void TClientPackageLayoutItem::updatePackageNameAndVersion() {
    if (m_pNameLabel != nullptr) {
        showElided(m_pNameLabel, m_pPackage->name());
    }
    const TPackageConfigurationReader* pConfiguration = m_pPackage->configurationForThisSystem();
    if (pConfiguration == nullptr) {
        m_pVersionLabel->clear();
    } else if (!m_Busy && m_pPackage->isUpdatePaused() &&
               m_pPackage->localStatus() == TPackage::StatusPartiallyInstalled) {
        showElided(m_pVersionLabel, UpdatePausedText);
    } else if (pConfiguration->packageVersion().isEmpty()) {
        showElided(m_pVersionLabel, QStringLiteral("?"));
    } else {
        showElided(m_pVersionLabel, pConfiguration->packageVersion());
    }
}

void TClientPackageLayoutItem::updateDefaultClientCheckboxFromPackageStatus() {
    m_pDefaultClientCheckBox->setVisible(!m_Busy && m_pPackage->localStatus() == TPackage::StatusUpToDate);
}

void TClientPackageLayoutItem::onLocalPackageStatusChanged() {
    updatePackageImageFromPackageStatus();
    updateButtonFromPackageStatus();
    updatePackageNameAndVersion();
    updateDefaultClientCheckboxFromPackageStatus();
    showRunSize();
}

void TClientPackageLayoutItem::onInstallationOrUpdateStarted(
    const TPackageInstallation& InstallationInProgress) {
    const TPackageFileDownloader* pDownloader = InstallationInProgress.packageFileDownloader();
    m_Busy = true;
    m_Paused = InstallationInProgress.isPaused();
    m_DownloadEstimate.restart();
    // The bar starts where the downloader is: a run that already has something to fetch shows
    // its real share at once instead of an empty bar until the next report.
    m_pProgressBar->setMaximum(ProgressBarMaximum);
    m_pProgressBar->setValue(
        progressBarValue(pDownloader->downloadedBytes(), pDownloader->totalBytesToDownload()));
    m_pProgressBar->setFormat(QString());
    m_pProgressBar->setToolTip(QString());
    if (pDownloader->totalBytesToDownload() > 0) {
        showElided(m_pVersionLabel,
                   megabytesText(pDownloader->downloadedBytes(), pDownloader->totalBytesToDownload()));
    }

    const TPackageInstallation* pInstallation = &InstallationInProgress;
    connect(
        pInstallation, &TPackageInstallation::scanProgress, this,
        [this](TFileSize Done, TFileSize Total) { showPhaseProgress(Done, Total, ScanningWord); },
        Qt::QueuedConnection);
    connect(
        pInstallation, &TPackageInstallation::writeProgress, this,
        [this](TFileSize Done, TFileSize Total) { showPhaseProgress(Done, Total, WritingWord); },
        Qt::QueuedConnection);
    connect(
        pInstallation, &TPackageInstallation::verificationProgress, this,
        [this](TFileSize Done, TFileSize Total) { showPhaseProgress(Done, Total, VerifyingWord); },
        Qt::QueuedConnection);
    connect(pDownloader, &TPackageFileDownloader::progress, this,
            &TClientPackageLayoutItem::showDownloadProgress);

    m_pButton->hide();
    m_pProgressBar->show();
    updateDefaultClientCheckboxFromPackageStatus();
}

void TClientPackageLayoutItem::onInstallationOrUpdateFinished(
    const TPackageInstallation& InstallationInProgress) {
    Q_UNUSED(InstallationInProgress)
    showIdle();
}

void TClientPackageLayoutItem::onPausedChanged(const TPackageInstallation& InstallationInProgress) {
    m_Paused = InstallationInProgress.isPaused();
    const bool paused = m_Paused;
    m_pPauseButton->setIcon(
        m_pPauseButton->style()->standardIcon(paused ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
    m_pPauseButton->setToolTip(paused ? QStringLiteral("Resume download") : QStringLiteral("Pause download"));
    m_DownloadEstimate.restart();
    if (paused) {
        const TPackageFileDownloader* pDownloader = InstallationInProgress.packageFileDownloader();
        m_DownloadedBytes = pDownloader->downloadedBytes();
        m_BytesToDownload = pDownloader->totalBytesToDownload();
        showPausedState();
    }
}

void TClientPackageLayoutItem::showPauseButton(bool Visible) {
    // The bar stays centred and gives up as much room on both sides as the button takes on one.
    const int room = textRoom() - 2 * (m_pPauseButton->width() + 2);
    m_pProgressBar->setFixedWidth(Visible ? std::min(ButtonSize.width(), room) : ButtonSize.width());
    m_pPauseButton->setVisible(Visible);
}

void TClientPackageLayoutItem::showPausedState() {
    showPauseButton(true);
    showProgress(m_DownloadedBytes, m_BytesToDownload, PausedWord);
    showTimeLeft(QString());
}

void TClientPackageLayoutItem::showIdle() {
    m_Busy = false;
    m_Paused = false;
    showPauseButton(false);
    m_pProgressBar->hide();
    m_pButton->show();
    m_pProgressBar->setValue(0);
    m_pProgressBar->setToolTip(QString());
    updatePackageImageFromPackageStatus();
    updateButtonFromPackageStatus();
    updatePackageNameAndVersion();
    updateDefaultClientCheckboxFromPackageStatus();
    showRunSize();
}

// While the row offers an install or update, the place of the time left tells what it costs.
void TClientPackageLayoutItem::showRunSize() {
    const std::int32_t status = m_pPackage->localStatus();
    const bool offered = status >= TPackage::StatusNotInstalled && status <= TPackage::StatusUpdateAvailable;
    const TRunSizeEstimate& estimate = m_pPackage->runSizeEstimate();
    showTimeLeft(!m_Busy && offered && estimate.Known ? runSizeText(estimate) : QString());
}

void TClientPackageLayoutItem::showProgress(TFileSize Done, TFileSize Total, const QString& BarText) {
    m_pProgressBar->setMaximum(ProgressBarMaximum);
    m_pProgressBar->setValue(progressBarValue(Done, Total));
    showElided(m_pProgressBar, BarText);
    showElided(m_pVersionLabel, megabytesText(Done, Total));
}

void TClientPackageLayoutItem::showPhaseProgress(TFileSize Done, TFileSize Total, const QString& PhaseWord) {
    showPauseButton(m_Paused);
    showProgress(Done, Total, PhaseWord);
    showTimeLeft(QString());
}

void TClientPackageLayoutItem::showDownloadProgress(TFileSize BytesDownloaded, TFileSize BytesTotalToDownload,
                                                    TFileSize BytesWritten, TFileSize BytesTotalToWrite) {
    m_DownloadedBytes = BytesDownloaded;
    m_BytesToDownload = BytesTotalToDownload;
    if (m_Paused) {
        showPausedState();
        return;
    }
    if (BytesDownloaded >= BytesTotalToDownload) {
        showPhaseProgress(BytesWritten, BytesTotalToWrite, WritingWord);
        return;
    }
    showPauseButton(true);
    m_DownloadEstimate.addReport(BytesDownloaded, BytesTotalToDownload);
    showProgress(BytesDownloaded, BytesTotalToDownload, speedText(m_DownloadEstimate.bytesPerSecond()));
    showTimeLeft(m_DownloadEstimate.isSteady() ? timeLeftText(m_DownloadEstimate.secondsLeft()) : QString());
}

void TClientPackageLayoutItem::showTimeLeft(const QString& Text) {
    if (Text.isEmpty()) {
        m_pTimeLeftLabel->hide();
        m_pTimeLeftLabel->clear();
        return;
    }
    showElided(m_pTimeLeftLabel, Text);
    m_pTimeLeftLabel->show();
}

} // namespace mirrel::launcher
