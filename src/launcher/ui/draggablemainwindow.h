#pragma once

#include <QMainWindow>
#include <QPoint>

namespace mirrel::launcher {

// A main window that follows the mouse while it is dragged on any part of it
// that does not take the mouse itself.
class TDraggableMainWindow : public QMainWindow {
    Q_OBJECT

public:
    using QMainWindow::QMainWindow;

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    // Global position of the last press or move; the null point means no drag.
    QPoint m_LastMousePosition;
};

} // namespace mirrel::launcher
