#pragma once

#include <QObject>

#include <vector>

class QSocketNotifier;

namespace mirrel::launcher {

// Turns SIGTERM, SIGINT and SIGHUP into the end of the event loop that closing
// the window makes, so that a launcher asked to stop by the system (or a
// terminal that goes away) stops its runs, leaves their markers for the next
// start and releases its named objects in order instead of dying mid-write. The
// launcher then ends with 128 + the signal's number, as a shell reports a
// process ended by that signal. The signal handler only writes one byte into a
// socket pair; the reaction runs on the GUI thread when the notifier sees it.
class TTerminationSignalWatcher : public QObject {
public:
    explicit TTerminationSignalWatcher(QObject* parent = nullptr);
    ~TTerminationSignalWatcher() override;

    TTerminationSignalWatcher(const TTerminationSignalWatcher&) = delete;
    TTerminationSignalWatcher& operator=(const TTerminationSignalWatcher&) = delete;

    // The signal that ended the event loop; 0 while none arrived.
    int receivedSignal() const { return m_ReceivedSignal; }
    // 128 + the received signal, or Code when no signal arrived.
    int exitCode(int Code) const { return m_ReceivedSignal != 0 ? 128 + m_ReceivedSignal : Code; }

private:
    void onSignalReceived();

    int m_ReadHandle = -1;
    int m_ReceivedSignal = 0;
    std::vector<int> m_HandledSignals;
    QSocketNotifier* m_pNotifier = nullptr;
};

} // namespace mirrel::launcher
