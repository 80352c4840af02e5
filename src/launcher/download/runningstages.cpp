#include "launcher/download/runningstages.h"

namespace mirrel::launcher {

void TRunningStages::started() {
    const std::lock_guard<std::mutex> lock(m_Mutex);
    ++m_Running;
}

void TRunningStages::finished() {
    const std::lock_guard<std::mutex> lock(m_Mutex);
    // Told while the lock is held: once a waiter sees none running, nothing here is touched again.
    if (--m_Running == 0) {
        m_NoneRunning.notify_all();
    }
}

void TRunningStages::waitUntilNone() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_NoneRunning.wait(lock, [this] { return m_Running == 0; });
}

} // namespace mirrel::launcher
