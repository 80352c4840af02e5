#pragma once

#include <QWidget>

class QLabel;

namespace sampleclient {

struct TStartRecord;

// The sample client's only window: what it was started with, and whether it
// has announced itself to the launcher yet.
class TSampleClientWindow : public QWidget {
    Q_OBJECT

public:
    explicit TSampleClientWindow(const TStartRecord& Record, QWidget* parent = nullptr);

    void setAnnounced(bool Announced);

private:
    QLabel* m_pPresenceLabel = nullptr;
};

} // namespace sampleclient
