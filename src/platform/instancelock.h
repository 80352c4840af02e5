#pragma once

#include <string>

namespace platform {

// A lock that one process of this user at a time can hold: a file "<name>.lock" in the user's
// private runtime folder, locked with flock(). The kernel drops the lock together with its holder,
// also when that is killed, so the file left behind never blocks the next holder; other users
// cannot reach the folder, so they cannot take the lock first. The descriptor is not inherited by
// started programs.
class TInstanceLock {
public:
    // Takes the lock unless another holder has it, in which case this instance holds nothing.
    // Throws std::runtime_error when the lock file cannot be made or locked at all.
    explicit TInstanceLock(const std::string& Name);
    ~TInstanceLock();

    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    bool isHeld() const { return m_Handle >= 0; }

private:
    int m_Handle = -1;
};

} // namespace platform
