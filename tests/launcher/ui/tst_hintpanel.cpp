#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/hintpanel.h"

#include "shared/network/downloadpool.h"
#include "shared/randomhints/hint.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QDesktopServices>
#include <QGroupBox>
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

const Position Positions[] = {Position::Left, Position::Middle, Position::Right};

shared::THint makeHint(const QString& Category, const QString& Text, const QUrl& ImageUrl) {
    shared::THint hint;
    hint.m_Title = Text;
    hint.m_RichText = Text;
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

ClickableLabel* picture(QWidget* pSection) {
    const QList<ClickableLabel*> labels = tileLabels(pSection);
    return labels.size() == 2 ? labels[0] : nullptr;
}

QString caption(QWidget* pSection) {
    const QList<ClickableLabel*> labels = tileLabels(pSection);
    return labels.size() == 2 ? labels[1]->text() : u"<no caption>"_qs;
}

bool showsPicture(QWidget* pSection) {
    return picture(pSection) != nullptr && !picture(pSection)->pixmap(Qt::ReturnByValue).isNull();
}

// A window like the launcher's, with the hint box in a vertical layout.
struct THost {
    QWidget m_Window;
    THintPanel* m_pPanel;

    THost() {
        m_Window.resize(800, 300);
        m_pPanel = new THintPanel(&m_Window, testsupport::makeDownloadPool());
        (new QVBoxLayout(&m_Window))->addWidget(m_pPanel->hintBox(), 0, Qt::AlignHCenter);
        m_Window.show();
    }
    THintPanel* operator->() const { return m_pPanel; }
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
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
        QDesktopServices::setUrlHandler(u"https"_qs, this, "openUrl");
        QDesktopServices::setUrlHandler(u"file"_qs, this, "openUrl");
        QDesktopServices::setUrlHandler(u"steam"_qs, this, "openUrl");
    }

    void cleanupTestCase() {
        for (const QString& scheme : {u"https"_qs, u"file"_qs, u"steam"_qs}) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
    }

    void init() { m_OpenedUrls.clear(); }

    void threeCategoriesFillTheRow() {
        THost host;
        QVERIFY(host->sectionsContainer()->isHidden());
        QSignalSpy rowShown(host.m_pPanel, &THintPanel::hintRowShown);
        host->setHints({hint("cat3", "Right", "img/a.png"), makeHint(u"other"_qs, u"Ignored"_qs, QUrl()),
                        hint("cat1", "Left", "img/b.png"), hint("cat2", "Middle", "img/a.png")});
        QCOMPARE(rowShown.count(), 1);
        QCOMPARE(rowShown.at(0).at(0).toBool(), true);
        QVERIFY(host->sectionsContainer()->isVisible());
        QCOMPARE(host->hintBoxLayout()->indexOf(host->sectionsContainer()), 0);

        const QStringList texts{u"Left"_qs, u"Middle"_qs, u"Right"_qs};
        for (Position position : Positions) {
            QWidget* pSection = host->section(position);
            QWidget* pFrame = host->tile(position);
            QCOMPARE(pSection->parentWidget(), pFrame);
            QVERIFY(!pFrame->mask().isEmpty());
            QCOMPARE(caption(pSection), texts[int(position)]);
            // Every picture covers the whole tile, whatever its own proportions, centred.
            const QRect shown = picture(pSection)->geometry();
            QVERIFY(showsPicture(pSection));
            QVERIFY(shown.contains(pSection->rect().adjusted(0, 0, -1, -1)));
            QCOMPARE(shown.center().x(), pSection->rect().center().x());
        }
        // A click anywhere on a tile opens the hint's link.
        QTest::mouseClick(tileLabels(host->section(Position::Middle)).at(1), Qt::LeftButton);
        QTest::mouseClick(picture(host->section(Position::Right)), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, (QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat2"_qs),
                                            QUrl(u"https://www.quorvane.com/hints/cat3"_qs)}));
    }

    void rowStaysHiddenWithoutAllCategories() {
        THost host;
        QSignalSpy rowShown(host.m_pPanel, &THintPanel::hintRowShown);
        host->setHints({hint("cat1", "Left", "img/a.png"), hint("cat3", "Right", "img/a.png")});
        host->setHints({});
        QCOMPARE(rowShown.count(), 2);
        QCOMPARE(rowShown.at(0).at(0).toBool() || rowShown.at(1).at(0).toBool(), false);
        QVERIFY(host->sectionsContainer()->isHidden());
        QVERIFY(host->hintBox()->isVisible());
    }

    void tileWithoutPictureKeepsCaptionAndLink() {
        THost host;
        host->setHints({hint("cat1", "Lost", "img/404.png"), hint("cat2", "Broken", "img/../x"),
                        makeHint(u"cat3"_qs, u"None"_qs, QUrl())});
        for (Position position : Positions) {
            QVERIFY(picture(host->section(position)) != nullptr);
            QVERIFY(!showsPicture(host->section(position)));
        }
        QCOMPARE(caption(host->section(Position::Middle)), u"Broken"_qs);
        QTest::mouseClick(picture(host->section(Position::Left)), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat1"_qs)});
    }

    void stalledPictureDoesNotHoldTheWindow() {
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/stall.png"_qs,
                         testsupport::TScriptedAnswer::faulty(testsupport::EScriptedFault::StallBeforeHeaders,
                                                              QByteArray()));
        THost host;
        host->setImageDownloadTimeout(300);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Hint picture not received in time"_qs));
        host->setHints({makeHint(u"cat1"_qs, u"Stalled"_qs, server.url(u"/stall.png"_qs)),
                        hint("cat2", "Fine", "img/a.png"), hint("cat3", "Fine", "img/a.png")});
        QCOMPARE(server.requestCount(u"/stall.png"_qs), 1);
        QVERIFY(host->sectionsContainer()->isVisible());
        QCOMPARE(caption(host->section(Position::Left)), u"Stalled"_qs);
        QVERIFY(!showsPicture(host->section(Position::Left)));
        server.closeAllConnections();
    }

    void newerDocumentDuringPictureDownloadWins() {
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        testsupport::TScriptedAnswer slow = testsupport::TScriptedAnswer::ok(testsupport::pngOfSize(50, 50));
        slow.delayBeforeHeadersMs = 400;
        server.setAnswer(u"/slow.png"_qs, slow);
        server.setAnswer(u"/quick.png"_qs, testsupport::TScriptedAnswer::ok(testsupport::pngOfSize(50, 50)));
        THost host;
        QSignalSpy rowShown(host.m_pPanel, &THintPanel::hintRowShown);
        const QUrl quick = server.url(u"/quick.png"_qs);
        const std::vector<shared::THint> newer = {makeHint(u"cat1"_qs, u"New 1"_qs, quick),
                                                  makeHint(u"cat2"_qs, u"New 2"_qs, quick)};
        // The second document arrives while the first waits for its first picture.
        connect(&server, &testsupport::TScriptedHttpServer::requestReceived, host.m_pPanel,
                [&](const QString& Path) {
                    if (Path == u"/slow.png"_qs) {
                        QTimer::singleShot(0, host.m_pPanel, [&] { host->setHints(newer); });
                    }
                });
        host->setHints({makeHint(u"cat1"_qs, u"Old 1"_qs, server.url(u"/slow.png"_qs)),
                        makeHint(u"cat2"_qs, u"Old 2"_qs, quick), makeHint(u"cat3"_qs, u"Old 3"_qs, quick)});
        QCOMPARE(rowShown.count(), 2);
        QCOMPARE(rowShown.at(1).at(0).toBool(), false);
        QCOMPARE(caption(host->section(Position::Left)), u"New 1"_qs);
        QCOMPARE(caption(host->section(Position::Middle)), u"New 2"_qs);
        QCOMPARE(caption(host->section(Position::Right)), u"Old 3"_qs);
        QVERIFY(host->sectionsContainer()->isHidden());
    }

    void laterDocumentsReplaceTiles() {
        THost host;
        for (const QString& round : {u"0"_qs, u"1"_qs}) {
            host->setHints({hint("cat1", "L", "img/a.png", round),
                            hint("cat1", "second of its kind", "img/a.png"),
                            hint("cat2", "M", "img/a.png", round), hint("cat3", "R", "img/a.png", round)});
        }
        QCOMPARE(host->sectionsContainer()->layout()->count(), 3);
        for (Position position : Positions) {
            QCOMPARE(host->sectionsContainer()->layout()->indexOf(host->tile(position)), int(position));
            QCOMPARE(tileLabels(host->section(position)).size(), 2);
        }
        // The first hint of a category is the one shown.
        QCOMPARE(caption(host->section(Position::Left)), u"L1"_qs);
    }

    void tileShapesSlant_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("inside");
        QTest::newRow("left, top right") << int(Position::Left) << QPoint(284, 1) << true;
        QTest::newRow("left, bottom right") << int(Position::Left) << QPoint(285, 83) << false;
        QTest::newRow("middle, top left") << int(Position::Middle) << QPoint(1, 1) << false;
        QTest::newRow("middle, bottom left") << int(Position::Middle) << QPoint(1, 82) << true;
        QTest::newRow("middle, bottom right") << int(Position::Middle) << QPoint(284, 82) << false;
        QTest::newRow("right, top left") << int(Position::Right) << QPoint(1, 1) << false;
        QTest::newRow("right, bottom right") << int(Position::Right) << QPoint(284, 82) << true;
    }

    void tileShapesSlant() {
        QFETCH(int, position);
        QFETCH(QPoint, point);
        QFETCH(bool, inside);
        QCOMPARE(THintPanel::tileShape(Position(position), QSize(286, 84)).contains(point), inside);
    }

    void onlyWebLinksAreOpened() {
        THost host;
        shared::THint local = hint("cat1", "Local", "img/a.png");
        local.m_Url = u"file:///etc/passwd"_qs;
        shared::THint program = hint("cat2", "Program", "img/a.png");
        program.m_Url = u"steam://run/1"_qs;
        shared::THint web = hint("cat3", "Web", "img/a.png");
        web.m_Url = u"HTTPS://www.quorvane.com/news"_qs;
        host->setHints({local, program, web});
        for (Position position : Positions) {
            QTest::mouseClick(picture(host->section(position)), Qt::LeftButton);
        }
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/news"_qs)});
    }

    void featuredHintTakesTheLeftTile() {
        THost host;
        shared::THint featured = hint("cat2", "Festival", "img/b.png");
        featured.m_Title = QString();
        host->setHint(featured);
        QWidget* pSection = host->section(Position::Left);
        QCOMPARE(host->hintBox()->title(), u"Hint"_qs);
        QVERIFY(showsPicture(pSection));
        QCOMPARE(caption(pSection), u"Featured Event"_qs);
        QTest::mouseClick(picture(pSection), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat2"_qs)});
        featured.m_Title = u"Summer festival"_qs;
        host->setHint(featured);
        QCOMPARE(host->hintBox()->title(), u"Summer festival"_qs);
        QCOMPARE(tileLabels(pSection).size(), 2);
    }

private:
    shared::THint hint(const char* Category, const char* Text, const char* Image,
                       const QString& Suffix = QString()) const {
        return makeHint(QLatin1String(Category), QLatin1String(Text) + Suffix,
                        m_Nginx.url(QLatin1String(Image)));
    }

    testsupport::TNginxFixture m_Nginx;
    QList<QUrl> m_OpenedUrls;
};

LAUNCHER_TEST(TestHintPanel)
#include "tst_hintpanel.moc"
