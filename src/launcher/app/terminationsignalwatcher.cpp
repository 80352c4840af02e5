#include "launcher/app/terminationsignalwatcher.h"

#include "launcher/logging/logging.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mirrel::launcher {

namespace {

// The write end of the socket pair. A signal handler can reach nothing but
// globals, and may only call async-signal-safe functions such as write().
volatile sig_atomic_t signalWriteHandle = -1;

void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (signalWriteHandle >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(signalWriteHandle, &byte, 1);
    }
    errno = savedErrno;
}

constexpr int TerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A signal the launcher was started to ignore (nohup's SIGHUP, say) stays ignored.
bool isIgnored(int signalNumber) {
    struct sigaction current = {};
    return ::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void setHandler(int signalNumber, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

TTerminationSignalWatcher::TTerminationSignalWatcher(QObject* parent)
    : QObject(parent) {
    int handles[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, handles) != 0) {
        qWarning().noquote() << "TTerminationSignalWatcher: no socket pair, signals keep their default action"
                             << "Thread:" << currentThreadIdText();
        return;
    }
    signalWriteHandle = handles[0];
    m_ReadHandle = handles[1];
    m_pNotifier = new QSocketNotifier(m_ReadHandle, QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, [this] { onSignalReceived(); });
    for (const int signalNumber : TerminationSignals) {
        if (!isIgnored(signalNumber)) {
            setHandler(signalNumber, onTerminationSignal);
            m_HandledSignals.push_back(signalNumber);
        }
    }
}

TTerminationSignalWatcher::~TTerminationSignalWatcher() {
    if (m_ReadHandle < 0) {
        return;
    }
    for (const int signalNumber : m_HandledSignals) {
        setHandler(signalNumber, SIG_DFL);
    }
    const int writeHandle = signalWriteHandle;
    signalWriteHandle = -1;
    ::close(writeHandle);
    ::close(m_ReadHandle);
}

void TTerminationSignalWatcher::onSignalReceived() {
    unsigned char byte = 0;
    int signalNumber = 0;
    while (::read(m_ReadHandle, &byte, 1) == 1) {
        signalNumber = byte;
    }
    if (signalNumber == 0) {
        return;
    }
    qInfo().noquote() << "onSignalReceived: signal" << signalNumber << "ends the launcher"
                      << "Thread:" << currentThreadIdText();
    // The first signal decides the exit code; the loop may be inside a message box, whose own end
    // must not change it.
    if (m_ReceivedSignal == 0) {
        m_ReceivedSignal = signalNumber;
    }
    QCoreApplication::exit(exitCode(0));
}

} // namespace mirrel::launcher
