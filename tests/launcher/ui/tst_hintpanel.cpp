#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/hintpanel.h"
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
    hint.m_Title = hint.m_RichText = Text;
    hint.m_Category = Category;
    hint.m_ImageUrl = ImageUrl.toString();
    hint.m_Url = u"https://www.quorvane.com/hints/"_qs + Category;
    return hint;
}

// The labels a hint left in a tile: the picture first, then the caption.
QList<ClickableLabel*> labels(QWidget* pSection) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return pSection->findChildren<ClickableLabel*>(QString(), Qt::FindDirectChildrenOnly);
}

QString caption(QWidget* pSection) {
    return labels(pSection).value(1) ? labels(pSection)[1]->text() : QString();
}

bool showsPicture(QWidget* pSection) {
    return !labels(pSection).at(0)->pixmap(Qt::ReturnByValue).isNull();
}

// A window like the launcher's, with the hint box in a vertical layout.
struct THost {
    QWidget m_Window;
    THintPanel* m_pPanel = new THintPanel(&m_Window, testsupport::makeDownloadPool());
    THost() {
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
        // Whatever would be opened is only recorded, never handed to the desktop.
        for (const QString& scheme : {u"https"_qs, u"file"_qs, u"steam"_qs}) {
            QDesktopServices::setUrlHandler(scheme, this, "openUrl");
        }
    }

    void init() { m_OpenedUrls.clear(); }

    void rowOfThreeTiles() {
        THost host;
        QSignalSpy rowShown(host.m_pPanel, &THintPanel::hintRowShown);
        for (const QString& round : {u"0"_qs, u"1"_qs}) {
            host->setHints({hint("cat3", "Right", "img/a.png"), makeHint(u"other"_qs, u"Ignored"_qs, QUrl()),
                            hint("cat1", u"Left"_qs + round, "img/b.png"), hint("cat1", "Later", "img/a.png"),
                            hint("cat2", "Middle", "img/a.png")});
        }
        QCOMPARE(rowShown.count(), 2);
        QVERIFY(rowShown.at(1).at(0).toBool());
        QTRY_COMPARE(host->pendingPictureCount(), 0);
        QCOMPARE(host->hintBoxLayout()->indexOf(host->sectionsContainer()), 0);
        QCOMPARE(host->sectionsContainer()->layout()->count(), 3);
        for (Position position : Positions) {
            QWidget* pSection = host->section(position);
            QCOMPARE(host->sectionsContainer()->layout()->indexOf(host->tile(position)), int(position));
            QCOMPARE(pSection->parentWidget(), host->tile(position));
            QVERIFY(!host->tile(position)->mask().isEmpty());
            // One picture and one caption; the picture covers the whole tile, centred.
            QCOMPARE(labels(pSection).size(), 2);
            QVERIFY(showsPicture(pSection));
            const QRect picture = labels(pSection).at(0)->geometry();
            QVERIFY(picture.contains(pSection->rect().adjusted(0, 0, -1, -1)));
            QCOMPARE(picture.center().x(), pSection->rect().center().x());
        }
        QCOMPARE(caption(host->section(Position::Left)) + caption(host->section(Position::Right)),
                 u"Left1Right"_qs);
        // A click anywhere on a tile opens the hint's link.
        QTest::mouseClick(labels(host->section(Position::Middle)).at(1), Qt::LeftButton);
        QTest::mouseClick(labels(host->section(Position::Right)).at(0), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, (QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat2"_qs),
                                            QUrl(u"https://www.quorvane.com/hints/cat3"_qs)}));
        // Without every category the row goes; the box stays.
        host->setHints({hint("cat1", "Left", "img/a.png"), hint("cat3", "Right", "img/a.png")});
        QCOMPARE(rowShown.last().at(0).toBool(), false);
        QVERIFY(host->sectionsContainer()->isHidden() && host->hintBox()->isVisible());
    }

    void hostileHintsKeepCaptionAndOpenOnlyWebPages() {
        THost host;
        shared::THint lost = hint("cat1", "Lost", "img/404.png");
        lost.m_Url = u"file:///etc/passwd"_qs;
        shared::THint climbing = hint("cat2", "Climbing", "img/../../x");
        climbing.m_Url = u"steam://run/1"_qs;
        shared::THint none = makeHint(u"cat3"_qs, u"None"_qs, QUrl());
        none.m_Url = u"HTTPS://www.quorvane.com/news"_qs;
        host->setHints({lost, climbing, none});
        for (Position position : Positions) {
            QVERIFY(!showsPicture(host->section(position)));
            QTest::mouseClick(labels(host->section(position)).at(0), Qt::LeftButton);
        }
        QCOMPARE(caption(host->section(Position::Middle)), u"Climbing"_qs);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/news"_qs)});
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
        QVERIFY(host->sectionsContainer()->isVisible());
        QCOMPARE(caption(host->section(Position::Left)), u"Stalled"_qs);
        QTRY_COMPARE(host->pendingPictureCount(), 0);
        QVERIFY(!showsPicture(host->section(Position::Left)));
        server.closeAllConnections();
    }

    void tileShapesSlant() {
        // Tiles of 286 x 84: the left one ends in a slant, the middle one has two, the right one begins with
        // one.
        const std::tuple<Position, QPoint, bool> points[] = {
            {Position::Left, {284, 1}, true},     {Position::Left, {285, 83}, false},
            {Position::Middle, {1, 1}, false},    {Position::Middle, {1, 82}, true},
            {Position::Middle, {284, 82}, false}, {Position::Right, {1, 1}, false},
            {Position::Right, {284, 82}, true}};
        for (const auto& [position, point, inside] : points) {
            QCOMPARE(THintPanel::tileShape(position, QSize(286, 84)).contains(point), inside);
        }
    }

    void featuredHintTakesTheLeftTile() {
        THost host;
        shared::THint featured = hint("cat2", "Festival", "img/b.png");
        featured.m_Title = QString();
        host->setHint(featured);
        QWidget* pSection = host->section(Position::Left);
        QCOMPARE(host->hintBox()->title(), u"Hint"_qs);
        QTRY_COMPARE(host->pendingPictureCount(), 0);
        QVERIFY(showsPicture(pSection));
        QCOMPARE(caption(pSection), u"Featured Event"_qs);
        QTest::mouseClick(labels(pSection).at(0), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat2"_qs)});
        featured.m_Title = u"Summer festival"_qs;
        host->setHint(featured);
        QCOMPARE(host->hintBox()->title(), u"Summer festival"_qs);
        QCOMPARE(labels(pSection).size(), 2);
    }

private:
    shared::THint hint(const char* Category, const QString& Text, const char* Image) const {
        return makeHint(QLatin1String(Category), Text, m_Nginx.url(QLatin1String(Image)));
    }

    testsupport::TNginxFixture m_Nginx;
    QList<QUrl> m_OpenedUrls;
};

LAUNCHER_TEST(TestHintPanel)
#include "tst_hintpanel.moc"
