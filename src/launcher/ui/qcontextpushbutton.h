#pragma once

#include <QPushButton>

class QAction;
class QMenu;

namespace mirrel::launcher {

// A push button with a right-click menu whose choices come out as one signal.
class QContextPushButton : public QPushButton {
    Q_OBJECT

public:
    using QPushButton::QPushButton;

    // Makes a menu owned by the button; its actions are added by the owner of the button.
    QMenu* createContextMenu();
    QMenu* contextMenu() const { return m_pContextMenu; }

signals:
    void contextTriggered(QString actionText);

protected:
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private slots:
    void onContextMenuActionTriggered(QAction* pAction);

private:
    QMenu* m_pContextMenu = nullptr;
};

} // namespace mirrel::launcher
