#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/draggablemainwindow.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

void sendMouse(QWidget* pWidget, QEvent::Type Type, const QPoint& Global) {
    const Qt::MouseButton button = Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(Type, pWidget->mapFromGlobal(Global), Global, button,
                      Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pWidget, &event);
}

bool rightClickOpensMenu(QContextPushButton& Button) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), Button.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&Button, &event);
    const bool opened = Button.contextMenu() != nullptr && Button.contextMenu()->isVisible();
    if (opened) {
        Button.contextMenu()->close();
    }
    return opened;
}

} // namespace

class TestSmallWidgets : public QObject {
    Q_OBJECT

private slots:
    void clickableLabelTakesEveryPress() {
        ClickableLabel label(u"caption"_qs);
        label.show();
        QSignalSpy clicked(&label, &ClickableLabel::clicked);
        QTest::mouseClick(&label, Qt::LeftButton);
        QTest::mousePress(&label, Qt::RightButton);
        QCOMPARE(clicked.count(), 2);
    }

    void contextMenuOnlyWithActions() {
        QContextPushButton button;
        button.show();
        QVERIFY(!rightClickOpensMenu(button));
        QMenu* pMenu = button.createContextMenu();
        QCOMPARE(button.createContextMenu(), pMenu);
        QVERIFY(!rightClickOpensMenu(button));

        QAction* pVerify = new QAction(u"Verify"_qs, &button);
        pMenu->addAction(pVerify);
        QVERIFY(rightClickOpensMenu(button));
        QSignalSpy triggered(&button, &QContextPushButton::contextTriggered);
        QSignalSpy clicked(&button, &QPushButton::clicked);
        pVerify->trigger();
        QCOMPARE(triggered.count(), 1);
        QCOMPARE(triggered.at(0).at(0).toString(), u"Verify"_qs);
        QCOMPARE(clicked.count(), 0);
    }

    void windowFollowsDrag() {
        TDraggableMainWindow window;
        window.resize(300, 200);
        window.move(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();
        sendMouse(&window, QEvent::MouseButtonPress, QPoint(150, 150));
        sendMouse(&window, QEvent::MouseMove, QPoint(170, 150));
        sendMouse(&window, QEvent::MouseMove, QPoint(180, 150));
        QCOMPARE(window.pos(), start + QPoint(30, 0));
        // A new press starts from where the mouse is now; the window must not jump.
        sendMouse(&window, QEvent::MouseButtonRelease, QPoint(180, 150));
        sendMouse(&window, QEvent::MouseButtonPress, QPoint(400, 300));
        sendMouse(&window, QEvent::MouseMove, QPoint(395, 310));
        QCOMPARE(window.pos(), start + QPoint(25, 10));
    }
};

LAUNCHER_TEST(TestSmallWidgets)
#include "tst_smallwidgets.moc"
