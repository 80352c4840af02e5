#include "launcher/ui/clientpackagelayoutitem.h"

#include "launcher/download/packagefiledownloader.h"
#include "launcher/download/ratestatistic.h"
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
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QStringList>

namespace mirrel::launcher {

namespace {

const QString ImagePrefix = QStringLiteral(":/images/launcher/");
const QSize ButtonSize(98, 40);
// The width of the row's logo: texts below it never take more.
const int MaxTextWidth = 176;
const QString ScanningWord = QStringLiteral("Scanning...");
const QString WritingWord = QStringLiteral("Writing...");
const QString VerifyingWord = QStringLiteral("Verifying...");

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

// A server's name or version longer than the row's width ends in "…" and is shown whole in the
// tooltip, so it can never widen the row or the fixed-size window.
void showElided(QLabel* pLabel, const QString& Text) {
    const QString shown = pLabel->fontMetrics().elidedText(Text, Qt::ElideRight, MaxTextWidth);
    shared::setServerText(pLabel, shown);
    pLabel->setToolTip(shown == Text ? QString() : shared::serverToolTip(Text));
}

// Bytes per second from the downloader's running average of bytes per tick.
quint64 downloadRate(const TPackageFileDownloader& Downloader) {
    const TRateStatistic& statistic = Downloader.downloadRate();
    if (statistic.count() == 0) {
        return 0;
    }
    return static_cast<quint64>(statistic.mean() * (1000 / TPackageFileDownloader::ProgressIntervalMs));
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
    createButton();
    createProgressBar();
    createTexts(ShowPackageNames);
    createDefaultClientCheckBox();
    createFrame();

    addWidget(m_pLogoLabel, 0, Qt::AlignHCenter | Qt::AlignBottom);
    addSpacing(6);
    addWidget(m_pFrame, 0, Qt::AlignHCenter | Qt::AlignBottom);

    connect(m_pPackage.get(), &TPackage::localPackageStatusChanged, this,
            &TClientPackageLayoutItem::onLocalPackageStatusChanged);

    m_pProgressBar->hide();
    m_pButton->show();
    updateDefaultClientCheckboxFromPackageStatus();
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

void TClientPackageLayoutItem::createProgressBar() {
    m_pProgressBar = new QProgressBar(m_pFrame);
    m_pProgressBar->setFixedSize(m_pButton->size());
    m_pProgressBar->setRange(0, 100);
    m_pProgressBar->setValue(0);
    m_pProgressBar->setTextVisible(true);
    m_pProgressBar->setStyleSheet(progressBarStyleSheet());
}

void TClientPackageLayoutItem::createTexts(bool ShowPackageNames) {
    const QString textStyle = QStringLiteral("QLabel { %1 }").arg(launcherTextStyle(13));
    if (ShowPackageNames) {
        m_pNameLabel = new QLabel(m_pFrame);
        m_pNameLabel->setStyleSheet(textStyle);
    }
    m_pVersionLabel = new QLabel(m_pFrame);
    m_pVersionLabel->setStyleSheet(textStyle);
    updatePackageNameAndVersion();
}

void TClientPackageLayoutItem::createDefaultClientCheckBox() {
    m_pDefaultClientCheckBox = new QCheckBox(QStringLiteral("Default Client"), m_pFrame);
    QSizePolicy policy = m_pDefaultClientCheckBox->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_pDefaultClientCheckBox->setSizePolicy(policy);
    m_pDefaultClientCheckBox->setStyleSheet(checkBoxStyleSheet());
    connect(m_pDefaultClientCheckBox, &QCheckBox::stateChanged, this,
            &TClientPackageLayoutItem::onDefaultClientCheckBoxStateChanged);
}

void TClientPackageLayoutItem::createFrame() {
    m_pFrame->setTitle(QString());
    m_pFrame->setAlignment(Qt::AlignHCenter);
    m_pFrame->setStyleSheet(frameStyleSheet());
    auto* pFrameLayout = new QVBoxLayout(m_pFrame);
    pFrameLayout->addWidget(m_pProgressBar, 0, Qt::AlignHCenter);
    pFrameLayout->addWidget(m_pButton, 0, Qt::AlignHCenter);
    pFrameLayout->addSpacing(6);
    if (m_pNameLabel != nullptr) {
        pFrameLayout->addWidget(m_pNameLabel, 0, Qt::AlignHCenter);
    }
    pFrameLayout->addWidget(m_pVersionLabel, 0, Qt::AlignHCenter);
    pFrameLayout->addWidget(m_pDefaultClientCheckBox, 0, Qt::AlignHCenter);
    pFrameLayout->setSpacing(0);
    // The frame's ornament already keeps the content off its edge; the usual
    // layout margins on top of it would not let two rows of packages fit into
    // the window's height.
    pFrameLayout->setContentsMargins(9, 2, 9, 2);
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
    } else if (pConfiguration->packageVersion().isEmpty()) {
        showElided(m_pVersionLabel, QStringLiteral("?"));
    } else {
        showElided(m_pVersionLabel, pConfiguration->packageVersion());
    }
}

void TClientPackageLayoutItem::updateDefaultClientCheckboxFromPackageStatus() {
    m_pDefaultClientCheckBox->setVisible(m_pPackage->localStatus() == TPackage::StatusUpToDate);
}

void TClientPackageLayoutItem::onLocalPackageStatusChanged() {
    updatePackageImageFromPackageStatus();
    updateButtonFromPackageStatus();
    updatePackageNameAndVersion();
    updateDefaultClientCheckboxFromPackageStatus();
}

void TClientPackageLayoutItem::onInstallationOrUpdateStarted(
    const TPackageInstallation& InstallationInProgress) {
    const TPackageFileDownloader* pDownloader = InstallationInProgress.packageFileDownloader();
    // A run is announced before its downloader has been given anything to
    // fetch, so the bar starts empty.
    m_pProgressBar->setMaximum(ProgressBarMaximum);
    m_pProgressBar->setValue(0);
    m_pProgressBar->setFormat(QString());

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
            [this, pDownloader](TFileSize BytesDownloaded, TFileSize BytesTotalToDownload,
                                TFileSize BytesWritten, TFileSize BytesTotalToWrite) {
                showDownloadProgress(*pDownloader, BytesDownloaded, BytesTotalToDownload, BytesWritten,
                                     BytesTotalToWrite);
            });

    m_pButton->hide();
    m_pProgressBar->show();
}

void TClientPackageLayoutItem::onInstallationOrUpdateFinished(
    const TPackageInstallation& InstallationInProgress) {
    Q_UNUSED(InstallationInProgress)
    showIdle();
}

void TClientPackageLayoutItem::showIdle() {
    m_pProgressBar->hide();
    m_pButton->show();
    m_pProgressBar->setValue(0);
    updatePackageImageFromPackageStatus();
    updateButtonFromPackageStatus();
    updatePackageNameAndVersion();
}

void TClientPackageLayoutItem::showPhaseProgress(TFileSize Done, TFileSize Total, const QString& PhaseWord) {
    m_pProgressBar->setMaximum(ProgressBarMaximum);
    m_pProgressBar->setValue(progressBarValue(Done, Total));
    m_pProgressBar->setFormat(PhaseWord);
    shared::setServerText(m_pVersionLabel, megabytesText(Done, Total));
}

void TClientPackageLayoutItem::showDownloadProgress(const TPackageFileDownloader& Downloader,
                                                    TFileSize BytesDownloaded, TFileSize BytesTotalToDownload,
                                                    TFileSize BytesWritten, TFileSize BytesTotalToWrite) {
    if (BytesDownloaded >= BytesTotalToDownload) {
        showPhaseProgress(BytesWritten, BytesTotalToWrite, WritingWord);
        return;
    }
    showPhaseProgress(BytesDownloaded, BytesTotalToDownload, speedText(downloadRate(Downloader)));
}

} // namespace mirrel::launcher
