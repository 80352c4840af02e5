#include "launcher/ui/qcontextpushbutton.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

namespace mirrel::launcher {

QMenu* QContextPushButton::createContextMenu() {
    if (m_pContextMenu == nullptr) {
        m_pContextMenu = new QMenu(this);
        connect(m_pContextMenu, &QMenu::triggered, this, &QContextPushButton::onContextMenuActionTriggered);
    }
    return m_pContextMenu;
}

void QContextPushButton::contextMenuEvent(QContextMenuEvent* pEvent) {
    if (m_pContextMenu != nullptr && !m_pContextMenu->actions().isEmpty()) {
        m_pContextMenu->popup(pEvent->globalPos());
    }
}

void QContextPushButton::onContextMenuActionTriggered(QAction* pAction) {
    emit contextTriggered(pAction->text());
}

} // namespace mirrel::launcher
