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

void sendMouse(QWidget* pWidget, QEvent::Type Type, const QPoint& GlobalPosition) {
    const QPoint local = pWidget->mapFromGlobal(GlobalPosition);
    const Qt::MouseButtons buttons = Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButton button = Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(Type, local, GlobalPosition, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(pWidget, &event);
}

} // namespace

class TestSmallWidgets : public QObject {
    Q_OBJECT

private slots:
    void clickableLabelEmitsOnPressOnly() {
        ClickableLabel label(u"<a href=\"https://www.example.test\">link</a>"_qs);
        label.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
        label.resize(200, 40);
        label.show();
        QSignalSpy clicked(&label, &ClickableLabel::clicked);
        QSignalSpy linkActivated(&label, &QLabel::linkActivated);
        QTest::mousePress(&label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(clicked.count(), 1);
        QTest::mouseRelease(&label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QTest::mousePress(&label, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(clicked.count(), 2);
        // The press never reaches QLabel, so no text interaction starts from it.
        QCOMPARE(linkActivated.count(), 0);
        QVERIFY(!label.hasSelectedText());
    }

    void contextMenuOpensOnlyWithActions() {
        QContextPushButton button;
        button.show();
        QContextMenuEvent noMenu(QContextMenuEvent::Mouse, QPoint(2, 2), button.mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(&button, &noMenu);
        QVERIFY(QApplication::activePopupWidget() == nullptr);

        QMenu* pMenu = button.createContextMenu();
        QCOMPARE(pMenu->parent(), &button);
        QCOMPARE(button.createContextMenu(), pMenu);
        QContextMenuEvent emptyMenu(QContextMenuEvent::Mouse, QPoint(2, 2), button.mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(&button, &emptyMenu);
        QVERIFY(!pMenu->isVisible());

        pMenu->addAction(new QAction(u"Verify"_qs, &button));
        QContextMenuEvent withAction(QContextMenuEvent::Mouse, QPoint(2, 2),
                                     button.mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(&button, &withAction);
        QTRY_VERIFY(pMenu->isVisible());
        pMenu->close();
    }

    void contextMenuChoiceBecomesSignal() {
        QContextPushButton button;
        QMenu* pMenu = button.createContextMenu();
        QAction* pVerify = new QAction(u"Verify"_qs, &button);
        pMenu->addAction(pVerify);
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
        QCOMPARE(window.pos(), start + QPoint(30, 0));
        sendMouse(&window, QEvent::MouseMove, QPoint(395, 310));
        QCOMPARE(window.pos(), start + QPoint(25, 10));
        sendMouse(&window, QEvent::MouseButtonRelease, QPoint(395, 310));
    }
};

LAUNCHER_TEST(TestSmallWidgets)
#include "tst_smallwidgets.moc"
