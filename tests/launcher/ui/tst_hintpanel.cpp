#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/hintpanel.h"

#include "shared/network/downloadpool.h"
#include "shared/randomhints/hint.h"
#include "shared/widgets/qtextbrowserwithnetwork.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using mirrel::launcher::ClickableLabel;
using mirrel::launcher::THintPanel;
using Position = mirrel::launcher::THintPanel::ETilePosition;
using testsupport::operator""_qs;

namespace {

const QString RichPrefix = u"<style>a { color: #c0c0c0; }</style>"_qs;

shared::THint makeHint(const QString& Category, const QString& Text, const QUrl& ImageUrl) {
    shared::THint hint;
    hint.m_Title = Text;
    hint.m_RichText = RichPrefix + Text;
    hint.m_Category = Category;
    hint.m_ImageUrl = ImageUrl.toString();
    hint.m_Url = u"https://www.quorvane.com/hints/"_qs + Category;
    return hint;
}

// The labels a hint left in a tile: the picture first, then the caption.
QList<ClickableLabel*> tileLabels(QWidget* pSection) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return pSection->findChildren<ClickableLabel*>(QString(), Qt::FindDirectChildrenOnly);
}

ClickableLabel* caption(QWidget* pSection) {
    const QList<ClickableLabel*> labels = tileLabels(pSection);
    return labels.size() == 2 ? labels[1] : nullptr;
}

bool showsPicture(const ClickableLabel* pLabel) {
    return !pLabel->pixmap(Qt::ReturnByValue).isNull();
}

ClickableLabel* picture(QWidget* pSection) {
    const QList<ClickableLabel*> labels = tileLabels(pSection);
    return labels.size() == 2 ? labels[0] : nullptr;
}

// A window like the launcher's, with the hint box in a vertical layout.
struct THost {
    QWidget m_Window;
    THintPanel* m_pPanel;

    explicit THost(std::shared_ptr<shared::TDownloadPool> pPool) {
        m_Window.resize(800, 300);
        m_pPanel = new THintPanel(&m_Window, std::move(pPool));
        auto* pLayout = new QVBoxLayout(&m_Window);
        pLayout->addWidget(m_pPanel->hintBox(), 0, Qt::AlignHCenter);
        m_Window.show();
    }
};

} // namespace

class TestHintPanel : public QObject {
    Q_OBJECT

public slots:
    void openUrl(const QUrl& Url) { m_OpenedUrls.append(Url); }

private slots:
    void initTestCase() {
        m_Nginx.writeFile(u"img/a.png"_qs, testsupport::pngOfSize(64, 48));
        m_Nginx.writeFile(u"img/b.png"_qs, testsupport::pngOfSize(400, 100));
        m_Nginx.writeFile(u"img/c.png"_qs, testsupport::pngOfSize(30, 30));
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
        QDesktopServices::setUrlHandler(u"https"_qs, this, "openUrl");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"https"_qs); }

    void init() { m_OpenedUrls.clear(); }

    void threeCategoriesFillTheRow() {
        THost host(testsupport::makeDownloadPool());
        THintPanel& panel = *host.m_pPanel;
        QVERIFY(panel.sectionsContainer()->isHidden());
        QSignalSpy rowShown(&panel, &THintPanel::hintRowShown);

        panel.setHints({hint("cat3", "Right", "img/c.png"), makeHint(u"other"_qs, u"Ignored"_qs, QUrl()),
                        hint("cat1", "Left", "img/a.png"), hint("cat2", "Middle", "img/b.png")});

        QCOMPARE(rowShown.count(), 1);
        QCOMPARE(rowShown.at(0).at(0).toBool(), true);
        QVERIFY(panel.hintBox()->isVisible());
        QVERIFY(panel.sectionsContainer()->isVisible());
        QCOMPARE(panel.hintBoxLayout()->indexOf(panel.sectionsContainer()), 0);

        const struct {
            Position m_Position;
            QString m_Text;
            int m_Padding;
        } expected[] = {{Position::Left, u"Left"_qs, 10},
                        {Position::Middle, u"Middle"_qs, 18},
                        {Position::Right, u"Right"_qs, 18}};
        for (const auto& tile : expected) {
            QWidget* pSection = panel.section(tile.m_Position);
            QWidget* pFrame = panel.tile(tile.m_Position);
            QVERIFY(pFrame != pSection);
            QCOMPARE(pSection->parentWidget(), pFrame);
            QCOMPARE(pFrame->size(), QSize(286, 84));
            QVERIFY(!pFrame->mask().isEmpty());
            QVERIFY(pSection->findChildren<shared::QTextBrowserWithNetwork*>().isEmpty());

            ClickableLabel* pCaption = caption(pSection);
            QVERIFY(pCaption != nullptr);
            QCOMPARE(pCaption->text(), RichPrefix + tile.m_Text);
            QCOMPARE(pCaption->geometry(), QRect(0, 50, 280, 30));
            QVERIFY(pCaption->styleSheet().contains(u"padding-left: %1px"_qs.arg(tile.m_Padding)));
            QVERIFY(pCaption->isVisible());

            // Every picture covers the whole tile, whatever its own proportions.
            ClickableLabel* pPicture = picture(pSection);
            QVERIFY(showsPicture(pPicture));
            QVERIFY(pPicture->width() >= 290 && pPicture->height() >= 80);
            QVERIFY(pPicture->width() == 290 || pPicture->height() == 80);
            QCOMPARE(pPicture->geometry().center().x(), pSection->rect().center().x());
        }

        // A click anywhere on a tile opens the hint's link.
        QTest::mouseClick(caption(panel.section(Position::Middle)), Qt::LeftButton);
        QTest::mouseClick(picture(panel.section(Position::Right)), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, (QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat2"_qs),
                                            QUrl(u"https://www.quorvane.com/hints/cat3"_qs)}));
    }

    void rowStaysHiddenWithoutAllCategories() {
        THost host(testsupport::makeDownloadPool());
        THintPanel& panel = *host.m_pPanel;
        QSignalSpy rowShown(&panel, &THintPanel::hintRowShown);
        panel.setHints({hint("cat1", "Left", "img/a.png"), hint("cat3", "Right", "img/c.png")});
        QCOMPARE(rowShown.count(), 1);
        QCOMPARE(rowShown.at(0).at(0).toBool(), false);
        QVERIFY(panel.sectionsContainer()->isHidden());
        QVERIFY(panel.hintBox()->isVisible());

        panel.setHints({});
        QCOMPARE(rowShown.count(), 2);
        QCOMPARE(rowShown.at(1).at(0).toBool(), false);
        QVERIFY(panel.sectionsContainer()->isHidden());
        QVERIFY(panel.hintBox()->isVisible());
    }

    void tileWithoutPictureKeepsCaptionAndLink() {
        THost host(testsupport::makeDownloadPool());
        THintPanel& panel = *host.m_pPanel;
        panel.setHints({hint("cat1", "Lost", "img/404.png"), hint("cat2", "Broken", "img/../x"),
                        makeHint(u"cat3"_qs, u"None"_qs, QUrl())});
        for (Position position : {Position::Left, Position::Middle, Position::Right}) {
            QWidget* pSection = panel.section(position);
            ClickableLabel* pPicture = picture(pSection);
            QVERIFY(pPicture != nullptr);
            QVERIFY(!showsPicture(pPicture));
            QVERIFY(caption(pSection)->isVisible());
            QVERIFY(caption(pSection)->toolTip().startsWith(u"https://www.quorvane.com/hints/cat"_qs));
        }
        QTest::mouseClick(picture(panel.section(Position::Left)), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat1"_qs)});
    }

    void stalledPictureDoesNotHoldTheWindow() {
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/stall.png"_qs,
                         testsupport::TScriptedAnswer::faulty(testsupport::EScriptedFault::StallBeforeHeaders,
                                                              QByteArray()));
        THost host(testsupport::makeDownloadPool());
        THintPanel& panel = *host.m_pPanel;
        panel.setImageDownloadTimeout(300);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Hint picture not received in time"_qs));
        panel.setHints({makeHint(u"cat1"_qs, u"Stalled"_qs, server.url(u"/stall.png"_qs)),
                        hint("cat2", "Fine", "img/a.png"), hint("cat3", "Fine", "img/a.png")});
        QCOMPARE(server.requestCount(u"/stall.png"_qs), 1);
        QVERIFY(panel.sectionsContainer()->isVisible());
        QCOMPARE(caption(panel.section(Position::Left))->text(), RichPrefix + u"Stalled"_qs);
        QVERIFY(!showsPicture(picture(panel.section(Position::Left))));
        QVERIFY(showsPicture(picture(panel.section(Position::Middle))));
        server.closeAllConnections();
    }

    void newerDocumentDuringPictureDownloadWins() {
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        testsupport::TScriptedAnswer slow = testsupport::TScriptedAnswer::ok(testsupport::pngOfSize(50, 50));
        slow.delayBeforeHeadersMs = 400;
        server.setAnswer(u"/slow.png"_qs, slow);
        server.setAnswer(u"/quick.png"_qs, testsupport::TScriptedAnswer::ok(testsupport::pngOfSize(50, 50)));

        THost host(testsupport::makeDownloadPool());
        THintPanel& panel = *host.m_pPanel;
        QSignalSpy rowShown(&panel, &THintPanel::hintRowShown);
        const QUrl quick = server.url(u"/quick.png"_qs);
        const std::vector<shared::THint> newer = {makeHint(u"cat1"_qs, u"New 1"_qs, quick),
                                                  makeHint(u"cat2"_qs, u"New 2"_qs, quick)};
        // The second document arrives while the first waits for its first picture.
        connect(&server, &testsupport::TScriptedHttpServer::requestReceived, &panel,
                [&](const QString& Path) {
                    if (Path == u"/slow.png"_qs) {
                        QTimer::singleShot(0, &panel, [&] { panel.setHints(newer); });
                    }
                });
        panel.setHints({makeHint(u"cat1"_qs, u"Old 1"_qs, server.url(u"/slow.png"_qs)),
                        makeHint(u"cat2"_qs, u"Old 2"_qs, quick), makeHint(u"cat3"_qs, u"Old 3"_qs, quick)});

        QCOMPARE(rowShown.count(), 2);
        QCOMPARE(rowShown.at(0).at(0).toBool(), true);
        QCOMPARE(rowShown.at(1).at(0).toBool(), false);
        QCOMPARE(caption(panel.section(Position::Left))->text(), RichPrefix + u"New 1"_qs);
        QCOMPARE(caption(panel.section(Position::Middle))->text(), RichPrefix + u"New 2"_qs);
        QCOMPARE(caption(panel.section(Position::Right))->text(), RichPrefix + u"Old 3"_qs);
        QVERIFY(panel.sectionsContainer()->isHidden());
    }

    void laterDocumentsReplaceTiles() {
        THost host(testsupport::makeDownloadPool());
        THintPanel& panel = *host.m_pPanel;
        const QUrl image = m_Nginx.url(u"img/a.png"_qs);
        for (int round = 0; round < 3; ++round) {
            const QString suffix = QString::number(round);
            panel.setHints({makeHint(u"cat1"_qs, u"L"_qs + suffix, image),
                            makeHint(u"cat1"_qs, u"second of its kind"_qs, image),
                            makeHint(u"cat2"_qs, u"M"_qs + suffix, image),
                            makeHint(u"cat3"_qs, u"R"_qs + suffix, image)});
        }
        QVERIFY(panel.sectionsContainer()->isVisible());
        auto* pRow = panel.sectionsContainer()->layout();
        QCOMPARE(pRow->count(), 3);
        for (Position position : {Position::Left, Position::Middle, Position::Right}) {
            QCOMPARE(pRow->indexOf(panel.tile(position)), static_cast<int>(position));
            QCOMPARE(tileLabels(panel.section(position)).size(), 2);
            QCOMPARE(panel.section(position)->parentWidget(), panel.tile(position));
        }
        // The first hint of a category is the one shown.
        QCOMPARE(caption(panel.section(Position::Left))->text(), RichPrefix + u"L2"_qs);
        QCOMPARE(caption(panel.section(Position::Right))->text(), RichPrefix + u"R2"_qs);
    }

    void tileShapesSlant() {
        const struct {
            Position m_Position;
            QPoint m_Point;
            bool m_Inside;
        } points[] = {
            {Position::Left, {0, 0}, true},       {Position::Left, {284, 1}, true},
            {Position::Left, {0, 83}, true},      {Position::Left, {285, 83}, false},
            {Position::Left, {250, 82}, false},   {Position::Left, {240, 82}, true},
            {Position::Middle, {1, 1}, false},    {Position::Middle, {46, 1}, true},
            {Position::Middle, {1, 82}, true},    {Position::Middle, {284, 1}, true},
            {Position::Middle, {284, 82}, false}, {Position::Middle, {143, 42}, true},
            {Position::Right, {1, 1}, false},     {Position::Right, {1, 82}, true},
            {Position::Right, {284, 82}, true},   {Position::Right, {284, 1}, true},
            {Position::Right, {143, 42}, true},
        };
        for (const auto& point : points) {
            QCOMPARE(THintPanel::tileShape(point.m_Position, QSize(286, 84)).contains(point.m_Point),
                     point.m_Inside);
        }
    }

    void onlyWebLinksAreOpened() {
        THost host(testsupport::makeDownloadPool());
        THintPanel& panel = *host.m_pPanel;
        const QUrl image = m_Nginx.url(u"img/a.png"_qs);
        shared::THint local = makeHint(u"cat1"_qs, u"Local"_qs, image);
        local.m_Url = u"file:///etc/passwd"_qs;
        shared::THint program = makeHint(u"cat2"_qs, u"Program"_qs, image);
        program.m_Url = u"steam://run/1"_qs;
        shared::THint web = makeHint(u"cat3"_qs, u"Web"_qs, image);
        web.m_Url = u"HTTPS://www.quorvane.com/news"_qs;
        panel.setHints({local, program, web});

        QTest::ignoreMessage(QtWarningMsg,
                             "Hint link not opened, it is no web address: \"file:///etc/passwd\"");
        QTest::mouseClick(caption(panel.section(Position::Left)), Qt::LeftButton);
        QTest::ignoreMessage(QtWarningMsg, "Hint link not opened, it is no web address: \"steam://run/1\"");
        QTest::mouseClick(picture(panel.section(Position::Middle)), Qt::LeftButton);
        QTest::mouseClick(caption(panel.section(Position::Right)), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/news"_qs)});
    }

    void featuredHintTakesTheLeftTile() {
        THost host(testsupport::makeDownloadPool());
        THintPanel& panel = *host.m_pPanel;
        shared::THint featured = hint("cat2", "Festival", "img/b.png");
        featured.m_Title = QString();
        panel.setHint(featured);

        QWidget* pSection = panel.section(Position::Left);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(panel.hintBox()->title(), u"Hint"_qs);
        QVERIFY(panel.hintBox()->isVisible());
        QVERIFY(pSection->findChildren<shared::QTextBrowserWithNetwork*>().isEmpty());
        ClickableLabel* pPicture = picture(pSection);
        QVERIFY(showsPicture(pPicture));
        QVERIFY(pPicture->width() >= 280 && pPicture->height() >= 104);
        QCOMPARE(caption(pSection)->text(), u"Featured Event"_qs);
        QCOMPARE(caption(pSection)->geometry(), QRect(0, 74, 280, 30));
        QVERIFY(caption(pSection)->styleSheet().contains(u"rgba(50, 50, 50, 0.5)"_qs));
        QTest::mouseClick(pPicture, Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat2"_qs)});

        featured.m_Title = u"Summer festival"_qs;
        panel.setHint(featured);
        QCOMPARE(panel.hintBox()->title(), u"Summer festival"_qs);
        QCOMPARE(tileLabels(pSection).size(), 2);
    }

private:
    shared::THint hint(const char* Category, const char* Text, const char* Image) const {
        return makeHint(QLatin1String(Category), QLatin1String(Text), m_Nginx.url(QLatin1String(Image)));
    }

    testsupport::TNginxFixture m_Nginx;
    QList<QUrl> m_OpenedUrls;
};

LAUNCHER_TEST(TestHintPanel)
#include "tst_hintpanel.moc"
