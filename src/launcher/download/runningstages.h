#pragma once

#include <condition_variable>
#include <mutex>

namespace mirrel::launcher {

// Counts the pieces of work a downloader has on the pool, so that it can wait for the last one
// before it goes away: they use its saver and report to it. Any thread may count.
class TRunningStages {
public:
    void started();
    void finished();
    void waitUntilNone();

private:
    std::mutex m_Mutex; // guards m_Running
    std::condition_variable m_NoneRunning;
    int m_Running = 0;
};

} // namespace mirrel::launcher
