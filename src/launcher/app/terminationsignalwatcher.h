#pragma once

#include <QObject>

class QSocketNotifier;

namespace mirrel::launcher {

// Turns SIGTERM and SIGINT into a clean end of the event loop, so that a
// launcher asked to stop by the system (or a terminal) tears down its services
// and releases its named objects in order instead of dying mid-write. The
// signal handler only writes one byte into a socket pair; the reaction runs on
// the GUI thread when the notifier sees it.
class TTerminationSignalWatcher : public QObject {
public:
    explicit TTerminationSignalWatcher(QObject* parent = nullptr);
    ~TTerminationSignalWatcher() override;

    TTerminationSignalWatcher(const TTerminationSignalWatcher&) = delete;
    TTerminationSignalWatcher& operator=(const TTerminationSignalWatcher&) = delete;

private:
    void onSignalReceived();

    int m_ReadHandle = -1;
    QSocketNotifier* m_pNotifier = nullptr;
};

} // namespace mirrel::launcher
