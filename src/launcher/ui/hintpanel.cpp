#include "launcher/ui/hintpanel.h"

#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/hintpicturefetcher.h"
#include "launcher/ui/launcherstyle.h"
#include "shared/network/downloadpool.h"
#include "shared/randomhints/hint.h"
#include "shared/widgets/qtextbrowserwithnetwork.h"
#include "shared/widgets/servertext.h"

#include <QDebug>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QRegion>
#include <QTextDocument>
#include <QVBoxLayout>

namespace mirrel::launcher {

namespace {

constexpr int HintBoxBorder = 5;
const QSize SectionSize(276, 80);
const QSize FrameSize(286, 84);
const QSize PlaceholderBrowserSize(280, 104);
const QSize TilePictureSize(290, 80);
const QSize FeaturedPictureSize(280, 104);
const QRect CaptionGeometry(0, 50, 280, 30);
const QRect FeaturedCaptionGeometry(0, 74, 280, 30);
const QString FeaturedCaption = QStringLiteral("Featured Event");
const QString FallbackBoxTitle = QStringLiteral("Hint");

const char* const TileCategories[] = {"cat1", "cat2", "cat3"};

QString hintBoxStyleSheet() {
    return QStringLiteral(
               "QGroupBox { border-image: url(:/images/launcher/hint-background.png) %1 %1 0 %1 repeat; "
               "border-top: %1px transparent; border-left: %1px transparent; "
               "border-bottom: %1px transparent; border-right: %1px transparent; "
               "background-attachment: fixed; %2 } "
               "QGroupBox::title { color: #DADABC; margin-top: 2px transparent; "
               "background-color: transparent; }")
        .arg(HintBoxBorder)
        .arg(launcherTextStyle(11));
}

QString browserStyleSheet() {
    return QStringLiteral(
               "QTextBrowser { %1 border-style: none; } "
               "QScrollBar::vertical { border-image: url(:/images/launcher/scrollbar-texture-vertical.png) 0 "
               "0 0 0 "
               "repeat; border-top: 6px transparent; border-left: 6px transparent; border-bottom: 6px "
               "transparent; "
               "border-right: 6px transparent; border: 0px solid red; background: none; width: 12px; "
               "margin: 12px 0 12px 0; } "
               "QScrollBar::handle:vertical { border-image: "
               "url(:/images/launcher/scrollbar-handle-vertical.png) 6 6 "
               "6 6; border-top: 6px transparent; border-left: 6px transparent; border-bottom: 6px "
               "transparent; "
               "border-right: 6px transparent; min-height: 12px; } "
               "QScrollBar::add-line:vertical { border: 0px solid red; background: none; height: 12px; "
               "subcontrol-origin: margin; subcontrol-position: bottom; } "
               "QScrollBar::sub-line:vertical { border: 0px solid red; background: none; height: 12px; "
               "subcontrol-origin: margin; subcontrol-position: top; } "
               "QScrollBar::up-arrow:vertical { image: url(:/images/launcher/scrollbar-buttonup-up.png); } "
               "QScrollBar::up-arrow:vertical::pressed { image: "
               "url(:/images/launcher/scrollbar-buttonup-down.png); } "
               "QScrollBar::down-arrow:vertical::pressed { image: "
               "url(:/images/launcher/scrollbar-buttondown-down.png); } "
               "QScrollBar::down-arrow:vertical { image: url(:/images/launcher/scrollbar-buttondown-up.png); "
               "} "
               "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
        .arg(launcherTextStyle(11));
}

QString captionStyleSheet(int PaddingLeft, const QString& Background) {
    return QStringLiteral("QLabel { %1 padding-left: %2px; background-color: %3; }")
        .arg(launcherTextStyle(11))
        .arg(PaddingLeft)
        .arg(Background);
}

// The slanted outline joined with its one-pixel rim, so that neighbouring
// tiles meet without a gap along the slant.
QRegion outlinedShape(const QPolygonF& Polygon) {
    QPainterPath path;
    path.addPolygon(Polygon);
    QPainterPathStroker stroker;
    stroker.setWidth(1.0);
    stroker.setJoinStyle(Qt::RoundJoin);
    const QPolygonF outline = stroker.createStroke(path).toFillPolygon();
    QPolygonF points = Polygon;
    points += outline;
    return QRegion(points.toPolygon(), Qt::OddEvenFill);
}

// Hint links come from a document on the web; only web pages are opened, so
// that a hint can never start a local program or open a local file.
void openHintUrl(const QString& Url) {
    const QUrl link(Url);
    if (!shared::isWebAddress(link)) {
        qWarning() << "Hint link not opened, it is no web address:" << Url;
        return;
    }
    QDesktopServices::openUrl(link);
}

// The picture covers the tile, centred on it.
void placePicture(QLabel* pLabel, const QSize& PictureSize) {
    const QWidget* pSection = pLabel->parentWidget();
    pLabel->setGeometry((pSection->width() - PictureSize.width()) / 2,
                        (pSection->height() - PictureSize.height()) / 2, PictureSize.width(),
                        PictureSize.height());
}

ClickableLabel* createCaptionLabel(QWidget* pSection, const QString& Text, const QString& StyleSheet,
                                   const QRect& Geometry, const QString& Url) {
    auto* pLabel = new ClickableLabel(pSection);
    shared::setServerText(pLabel, Text);
    pLabel->setStyleSheet(StyleSheet);
    pLabel->setAlignment(Qt::AlignVCenter);
    pLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pLabel->setToolTip(shared::serverToolTip(Url));
    pLabel->setCursor(Qt::PointingHandCursor);
    pLabel->setGeometry(Geometry);
    QObject::connect(pLabel, &ClickableLabel::clicked, pLabel, [Url] { openHintUrl(Url); });
    return pLabel;
}

} // namespace

THintPanel::THintPanel(QWidget* pWindow, std::shared_ptr<shared::TDownloadPool> pDownloadPool)
    : QObject(pWindow)
    , m_pWindow(pWindow)
    , m_pDownloadPool(std::move(pDownloadPool))
    , m_pPictureFetcher(new THintPictureFetcher(this)) {
    createHintBox();
}

THintPanel::~THintPanel() = default;

QWidget* THintPanel::section(ETilePosition Position) const {
    return m_Sections[static_cast<size_t>(Position)].m_pSection;
}

QWidget* THintPanel::tile(ETilePosition Position) const {
    const TSection& section = m_Sections[static_cast<size_t>(Position)];
    return section.m_pFrame != nullptr ? section.m_pFrame : section.m_pSection;
}

QRegion THintPanel::tileShape(ETilePosition Position, const QSize& Size) {
    const qreal w = Size.width();
    const qreal h = Size.height();
    const qreal slant = Size.height() / 2;
    switch (Position) {
    case ETilePosition::Left:
        return QRegion(QPolygonF({{0, 0}, {w, 0}, {w - slant, h}, {0, h}}).toPolygon(), Qt::OddEvenFill);
    case ETilePosition::Middle:
        return outlinedShape(QPolygonF({{slant, 0}, {w, 0}, {w - slant, h}, {0, h}}));
    case ETilePosition::Right:
        return outlinedShape(QPolygonF({{slant, 0}, {w, 0}, {w, h}, {0, h}}));
    }
    return {};
}

void THintPanel::createHintBox() {
    m_pHintBox = new QGroupBox(m_pWindow);
    m_pHintBox->setTitle(QString());
    m_pHintBox->setAlignment(Qt::AlignHCenter);
    m_pHintBox->setStyleSheet(hintBoxStyleSheet());

    m_pHintRow = new QHBoxLayout;
    m_pHintRow->setSpacing(0);
    m_pHintRow->setContentsMargins(0, 0, 44, 0);
    createSection(ETilePosition::Left);
    createSection(ETilePosition::Middle);
    createSection(ETilePosition::Right);

    m_pSectionsContainer = new QWidget(m_pWindow);
    m_pSectionsContainer->setLayout(m_pHintRow);
    m_pSectionsContainer->hide();

    m_pHintBox->setMinimumWidth(780);
    m_pHintBox->setMaximumWidth(790);
    m_pHintBoxLayout = new QVBoxLayout;
    m_pHintBox->setLayout(m_pHintBoxLayout);
    m_pHintBox->show();
}

void THintPanel::createSection(ETilePosition Position) {
    TSection& section = m_Sections[static_cast<size_t>(Position)];
    section.m_pSection = new QWidget(m_pWindow);
    section.m_pSection->setFixedSize(SectionSize);
    section.m_pSection->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    section.m_pPlaceholder = createPlaceholderBrowser(section.m_pSection);
    section.m_pSection->setMask(tileShape(Position, section.m_pSection->size()));
    m_pHintRow->addWidget(section.m_pSection);
}

shared::QTextBrowserWithNetwork* THintPanel::createPlaceholderBrowser(QWidget* pSection) const {
    auto* pBrowser = new shared::QTextBrowserWithNetwork(pSection, m_pDownloadPool);
    pBrowser->setOpenExternalLinks(true);
    pBrowser->setContextMenuPolicy(Qt::NoContextMenu);
    pBrowser->setFixedSize(PlaceholderBrowserSize);
    pBrowser->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    pBrowser->viewport()->setAutoFillBackground(true);
    pBrowser->document()->setDefaultStyleSheet(
        QStringLiteral("a { text-decoration: underline; color: #c0c0c0; }"));
    pBrowser->setStyleSheet(browserStyleSheet());
    return pBrowser;
}

void THintPanel::setImageDownloadTimeout(int Milliseconds) {
    m_pPictureFetcher->setTimeout(Milliseconds);
}

int THintPanel::pendingPictureCount() const {
    return m_pPictureFetcher->pendingCount();
}

void THintPanel::setHints(const std::vector<shared::THint>& Hints) {
    m_pHintBox->hide();
    if (!Hints.empty()) {
        if (m_pHintBoxLayout->indexOf(m_pSectionsContainer) < 0) {
            m_pHintBoxLayout->insertWidget(0, m_pSectionsContainer);
        }
        m_pHintBoxLayout->setContentsMargins(0, 0, 0, 0);
        m_pSectionsContainer->show();
    }

    // One hint per tile: the first hint of a category is shown, later ones of
    // the same category are left out.
    std::array<bool, 3> filled = {false, false, false};
    for (const shared::THint& hint : Hints) {
        for (size_t position = 0; position < filled.size(); ++position) {
            if (!filled[position] && hint.m_Category == QLatin1String(TileCategories[position])) {
                showHintInSection(hint, static_cast<ETilePosition>(position));
                filled[position] = true;
            }
        }
    }

    const bool allTilesFilled = filled[0] && filled[1] && filled[2];
    if (!allTilesFilled) {
        m_pSectionsContainer->hide();
    }
    emit hintRowShown(allTilesFilled);
    m_pHintBox->show();
}

void THintPanel::clearSection(TSection& Section) {
    const QList<QWidget*> children =
        Section.m_pSection->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    // At once, so that nothing of the previous hint is left over: none of them is in the middle
    // of handling an event of its own when a hints document arrives.
    qDeleteAll(children);
    Section.m_pPlaceholder = nullptr;
}

void THintPanel::ensureFrame(TSection& Section, ETilePosition Position) {
    if (Section.m_pFrame == nullptr) {
        Section.m_pFrame = new QWidget(m_pWindow);
        Section.m_pFrame->setFixedSize(FrameSize);
        Section.m_pFrame->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        Section.m_pFrame->setStyleSheet(QStringLiteral("QWidget:hover { background-color: #8ED838; } "
                                                       "QWidget { background-color: transparent; }"));
        auto* pFrameLayout = new QHBoxLayout(Section.m_pFrame);
        pFrameLayout->setSpacing(0);
        pFrameLayout->setContentsMargins(0, 0, 0, 0);
        delete m_pHintRow->replaceWidget(Section.m_pSection, Section.m_pFrame, Qt::FindChildrenRecursively);
        pFrameLayout->addWidget(Section.m_pSection);
        m_pHintRow->setAlignment(Qt::AlignCenter);
    }
    Section.m_pFrame->setMask(tileShape(Position, Section.m_pFrame->size()));
}

ClickableLabel* THintPanel::createPictureLabel(QWidget* pSection, const QString& ImageUrl,
                                               const QSize& PictureSize, const QString& Url) {
    auto* pLabel = new ClickableLabel(pSection);
    pLabel->setMinimumSize(PictureSize);
    placePicture(pLabel, PictureSize);
    pLabel->setToolTip(shared::serverToolTip(Url));
    pLabel->setCursor(Qt::PointingHandCursor);
    connect(pLabel, &ClickableLabel::clicked, pLabel, [Url] { openHintUrl(Url); });
    m_pPictureFetcher->setMirrors(m_pDownloadPool ? m_pDownloadPool->mirrors() : nullptr);
    m_pPictureFetcher->fetch(ImageUrl, PictureSize, pLabel, [pLabel](const QPixmap& Picture) {
        placePicture(pLabel, Picture.size());
        pLabel->setPixmap(QIcon(Picture).pixmap(pLabel->size()));
    });
    return pLabel;
}

void THintPanel::showHintInSection(const shared::THint& Hint, ETilePosition Position) {
    TSection& section = m_Sections[static_cast<size_t>(Position)];
    clearSection(section);

    createPictureLabel(section.m_pSection, Hint.m_ImageUrl, TilePictureSize, Hint.m_Url)->show();
    const int paddingLeft = Position == ETilePosition::Left ? 10 : 18;
    createCaptionLabel(section.m_pSection, Hint.captionText(),
                       captionStyleSheet(paddingLeft, QStringLiteral("rgba(50, 50, 50, 0.7)")),
                       CaptionGeometry, Hint.m_Url)
        ->show();
    ensureFrame(section, Position);
}

void THintPanel::setHint(const shared::THint& Hint) {
    TSection& section = m_Sections[static_cast<size_t>(ETilePosition::Left)];
    clearSection(section);

    const QString url = Hint.m_Url;
    ClickableLabel* pPicture =
        createPictureLabel(section.m_pSection, Hint.m_ImageUrl, FeaturedPictureSize, url);
    pPicture->show();
    createCaptionLabel(section.m_pSection, FeaturedCaption,
                       captionStyleSheet(10, QStringLiteral("rgba(50, 50, 50, 0.5)")),
                       FeaturedCaptionGeometry, url)
        ->show();

    if (!Hint.m_RichText.trimmed().isEmpty()) {
        m_pHintBox->show();
    }
    m_pHintBox->setTitle(Hint.m_Title.isEmpty() ? FallbackBoxTitle : Hint.m_Title);
    m_pWindow->adjustSize();
}

} // namespace mirrel::launcher
