#include "launcher/ui/clickablelabel.h"

namespace mirrel::launcher {

void ClickableLabel::mousePressEvent(QMouseEvent* pEvent) {
    // The press belongs to the tile as a whole; letting QLabel see it would
    // start a text selection or a link activation inside the caption instead.
    Q_UNUSED(pEvent)
    emit clicked();
}

} // namespace mirrel::launcher
