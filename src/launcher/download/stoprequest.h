#pragma once

#include <atomic>
#include <stdexcept>

namespace mirrel::launcher {

// Thrown out of a worker's loop when its run was asked to stop; whatever it was doing is left as
// it is, for the next run to pick up from the partial marker.
class TRunStopped : public std::runtime_error {
public:
    TRunStopped();
};

// One run's request to stop, shared by everything that works for the run on the thread pool. The
// workers look at it between blocks of work, so a stop takes effect within one block.
class TStopRequest {
public:
    void request() { m_Requested = true; }
    bool isRequested() const { return m_Requested; }
    // For loops that can only be left by unwinding (a callback of the chunker, say).
    void throwIfRequested() const;

private:
    std::atomic<bool> m_Requested{false};
};

} // namespace mirrel::launcher
