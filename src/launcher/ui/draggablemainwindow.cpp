#include "launcher/ui/draggablemainwindow.h"

#include <QMouseEvent>

namespace mirrel::launcher {

void TDraggableMainWindow::mousePressEvent(QMouseEvent* pEvent) {
    m_LastMousePosition = pEvent->globalPos();
}

void TDraggableMainWindow::mouseMoveEvent(QMouseEvent* pEvent) {
    const QPoint position = pEvent->globalPos();
    if (!m_LastMousePosition.isNull()) {
        move(pos() + position - m_LastMousePosition);
    }
    m_LastMousePosition = position;
}

void TDraggableMainWindow::mouseReleaseEvent(QMouseEvent* pEvent) {
    Q_UNUSED(pEvent)
    m_LastMousePosition = QPoint();
}

} // namespace mirrel::launcher
