#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/draggablemainwindow.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

class TestSmallWidgets : public QObject {
    Q_OBJECT

private slots:
    void clickableLabelTakesEveryPress() {
        ClickableLabel label(u"caption"_qs);
        QSignalSpy clicked(&label, &ClickableLabel::clicked);
        QTest::mouseClick(&label, Qt::LeftButton);
        QTest::mousePress(&label, Qt::RightButton);
        QCOMPARE(clicked.count(), 2);
    }

    void contextMenuOnlyWithActions() {
        QContextPushButton button;
        button.show();
        const auto rightClickOpensMenu = [&button] {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), button.mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(&button, &event);
            const bool opened = button.contextMenu() != nullptr && button.contextMenu()->isVisible();
            return opened && button.contextMenu()->close();
        };
        QVERIFY(!rightClickOpensMenu());
        QMenu* pMenu = button.createContextMenu();
        QCOMPARE(button.createContextMenu(), pMenu);
        QVERIFY(!rightClickOpensMenu());
        QAction* pVerify = pMenu->addAction(u"Verify"_qs);
        QVERIFY(rightClickOpensMenu());
        // A choice becomes the button's own signal, and no click.
        QSignalSpy triggered(&button, &QContextPushButton::contextTriggered);
        QSignalSpy clicked(&button, &QPushButton::clicked);
        pVerify->trigger();
        QCOMPARE(triggered.count() == 1 ? triggered.at(0).at(0).toString() : QString(), u"Verify"_qs);
        QCOMPARE(clicked.count(), 0);
    }

    void windowFollowsDrag() {
        TDraggableMainWindow window;
        window.setGeometry(100, 100, 300, 200);
        const auto mouse = [&window](QEvent::Type Type, QPoint Global) {
            const Qt::MouseButton button = Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(Type, window.mapFromGlobal(Global), Global, button, Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(&window, &event);
        };
        mouse(QEvent::MouseButtonPress, QPoint(150, 150));
        mouse(QEvent::MouseMove, QPoint(170, 150));
        mouse(QEvent::MouseMove, QPoint(180, 150));
        QCOMPARE(window.pos(), QPoint(130, 100));
        // A new press starts from where the mouse is now; the window must not jump.
        mouse(QEvent::MouseButtonRelease, QPoint(180, 150));
        mouse(QEvent::MouseButtonPress, QPoint(400, 300));
        mouse(QEvent::MouseMove, QPoint(395, 310));
        QCOMPARE(window.pos(), QPoint(125, 110));
    }
};

LAUNCHER_TEST(TestSmallWidgets)
#include "tst_smallwidgets.moc"
