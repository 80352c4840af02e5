#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/hintpanel.h"
#include "shared/network/downloadpool.h"
#include "shared/network/mirrorset.h"
#include "shared/randomhints/hint.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QGroupBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using mirrel::launcher::ClickableLabel;
using mirrel::launcher::THintPanel;
using Position = mirrel::launcher::THintPanel::ETilePosition;
using testsupport::operator""_qs;
using testsupport::TScriptedAnswer;

namespace {

constexpr Position Tiles[] = {Position::Left, Position::Middle, Position::Right};

shared::THint hint(const QString& Category, const QUrl& ImageUrl) {
    shared::THint hint;
    hint.m_RichText = u"News of "_qs + Category;
    hint.m_Category = Category;
    hint.m_ImageUrl = ImageUrl.toString();
    hint.m_Url = u"https://www.quorvane.com/hints/"_qs + Category;
    return hint;
}

// The picture label and the caption label of a tile, in that order.
QList<ClickableLabel*> tileLabels(const THintPanel& Panel, Position Tile) {
    return Panel.section(Tile)->findChildren<ClickableLabel*>(QString(), Qt::FindDirectChildrenOnly);
}

QSize pictureShown(const THintPanel& Panel, Position Tile) {
    const QList<ClickableLabel*> labels = tileLabels(Panel, Tile);
    const QPixmap picture = labels.isEmpty() ? QPixmap() : labels.first()->pixmap(Qt::ReturnByValue);
    return picture.isNull() ? QSize() : picture.size();
}

// A window like the launcher's, with the hint box in a vertical layout.
struct THost {
    QWidget m_Window;
    std::shared_ptr<shared::TDownloadPool> m_pPool = testsupport::makeDownloadPool();
    THintPanel* m_pPanel;

    THost() {
        m_Window.resize(800, 300);
        m_pPanel = new THintPanel(&m_Window, m_pPool);
        auto* pLayout = new QVBoxLayout(&m_Window);
        pLayout->addWidget(m_pPanel->hintBox(), 0, Qt::AlignHCenter);
        m_Window.show();
    }
};

} // namespace

// Hint tiles show captions at once; pictures fill in as they arrive, within the fetch limits.
class TestHintPictures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_Server.start());
        m_Server.setAnswer(u"/a.png"_qs, TScriptedAnswer::ok(testsupport::pngOfSize(64, 48)));
        m_Server.setAnswer(u"/b.png"_qs, TScriptedAnswer::ok(testsupport::pngOfSize(400, 100)));
        m_Server.setAnswer(u"/wide.png"_qs, TScriptedAnswer::ok(testsupport::pngOfSize(600, 80)));
        m_Server.setAnswer(u"/fine.png"_qs, TScriptedAnswer::ok(testsupport::pngOfSize(300, 90)));
        m_Server.setAnswer(
            u"/stalled.png"_qs,
            TScriptedAnswer::faulty(testsupport::EScriptedFault::StallBeforeHeaders, QByteArray()));
        m_Server.setAnswer(u"/nine-mib.png"_qs, TScriptedAnswer::ok(QByteArray(9 * 1024 * 1024, 'P')));
        m_Server.setAnswer(u"/wide-canvas.png"_qs, TScriptedAnswer::ok(testsupport::pngOfSize(4097, 2)));
    }

    void cleanup() {
        m_Server.setHoldAnswers(false);
        m_Server.closeAllConnections();
    }

    void tilesShowBeforeTheirPictures() {
        m_Server.setHoldAnswers(true);
        THost host;
        THintPanel& panel = *host.m_pPanel;
        bool eventLoopRan = false;
        QTimer::singleShot(0, &panel, [&eventLoopRan] { eventLoopRan = true; });

        const QUrl a = m_Server.url(u"/a.png"_qs);
        const QUrl b = m_Server.url(u"/b.png"_qs);
        panel.setHints({hint(u"cat1"_qs, a), hint(u"cat2"_qs, b), hint(u"cat3"_qs, a)});
        QVERIFY2(!eventLoopRan, "showing hints waited for their pictures");
        QVERIFY(panel.hintBox()->isVisible());
        QVERIFY(panel.sectionsContainer()->isVisible());
        QCOMPARE(panel.pendingPictureCount(), 3);
        for (Position tile : Tiles) {
            QCOMPARE(tileLabels(panel, tile).size(), 2);
            QVERIFY(tileLabels(panel, tile).last()->isVisible());
            QCOMPARE(pictureShown(panel, tile), QSize());
        }

        // A newer document while the pictures are still on their way: its pictures win.
        QTRY_COMPARE(m_Server.heldAnswerCount(), 3);
        panel.setHints(
            {hint(u"cat1"_qs, m_Server.url(u"/wide.png"_qs)), hint(u"cat2"_qs, b), hint(u"cat3"_qs, a)});
        m_Server.setHoldAnswers(false);
        m_Server.releaseHeldAnswers();
        QTRY_COMPARE(panel.pendingPictureCount(), 0);
        // Each covers its 290 x 80 tile, whatever its own proportions.
        QCOMPARE(pictureShown(panel, Position::Left), QSize(600, 80));
        QCOMPARE(pictureShown(panel, Position::Middle), QSize(320, 80));
        QCOMPARE(pictureShown(panel, Position::Right), QSize(290, 217));
        for (Position tile : Tiles) {
            QCOMPARE(tileLabels(panel, tile).size(), 2);
        }
    }

    void picturesWithinLimits_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<bool>("shown");
        QTest::newRow("fine") << "/fine.png" << QString() << true;
        QTest::newRow("stalled") << "/stalled.png"
                                 << "^Hint picture not received in time" << false;
        QTest::newRow("over 8 MiB") << "/nine-mib.png"
                                    << "^Hint picture refused, it is larger than" << false;
        QTest::newRow("over 4096 pixels a side")
            << "/wide-canvas.png"
            << "^Hint picture refused, it is no picture of at most" << false;
        QTest::newRow("from the mirror of a refusing server") << "mirrored:/fine.png"
                                                              << "^Hint picture not received from" << true;
        QTest::newRow("missing") << "/missing.png"
                                 << "^Hint picture not received:" << false;
        QTest::newRow("no web address") << "file:///dev/zero"
                                        << "^Hint picture not fetched" << false;
    }

    void picturesWithinLimits() {
        QFETCH(QString, path);
        QFETCH(QString, warning);
        QFETCH(bool, shown);
        THost host;
        THintPanel& panel = *host.m_pPanel;
        panel.setImageDownloadTimeout(300);
        if (!warning.isEmpty()) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        }
        QUrl picture = path.startsWith(u'/') ? m_Server.url(path) : QUrl(path);
        if (path.startsWith(u"mirrored:"_qs)) {
            const QUrl refusing = testsupport::closedLoopbackUrl(QString());
            host.m_pPool->setMirrors(
                std::make_shared<shared::TMirrorSet>(refusing, QList<QUrl>{m_Server.url(u"/"_qs)}));
            picture = refusing.resolved(QUrl(path.section(u':', 1).mid(1)));
        }
        panel.setHints({hint(u"cat1"_qs, picture)});
        QTRY_COMPARE(panel.pendingPictureCount(), 0);
        QCOMPARE(pictureShown(panel, Position::Left).isValid(), shown);
        // The tile keeps its caption and link either way.
        QCOMPARE(tileLabels(panel, Position::Left).size(), 2);
        QCOMPARE(tileLabels(panel, Position::Left).last()->text(), u"News of cat1"_qs);
    }

private:
    testsupport::TScriptedHttpServer m_Server;
};

LAUNCHER_TEST(TestHintPictures)
#include "tst_hintpictures.moc"
