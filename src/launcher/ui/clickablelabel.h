#pragma once

#include <QLabel>

namespace mirrel::launcher {

// A label that reacts to a press anywhere on it, for the hint tiles.
class ClickableLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
};

} // namespace mirrel::launcher
