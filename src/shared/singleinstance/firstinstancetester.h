#pragma once

#include <QObject>

#include <memory>

class QString;

namespace platform {
class TInstanceLock;
}

namespace shared {

// Tells whether this process is the first of its kind for a key. The guard is a lock in the user's
// private runtime folder that the kernel drops together with its holder, so the next start after a
// crash (even SIGKILL) is a first instance again, and another user cannot take it first.
class FirstInstanceTester : public QObject {
public:
    // Takes the guard at once; throws std::runtime_error when the guard cannot
    // be made at all (not when another instance holds it).
    explicit FirstInstanceTester(const QString& key);
    ~FirstInstanceTester() override;

    FirstInstanceTester(const FirstInstanceTester&) = delete;
    FirstInstanceTester& operator=(const FirstInstanceTester&) = delete;

    bool isFirstInstance() const { return m_IsFirstInstance; }

private:
    std::unique_ptr<platform::TInstanceLock> m_pGuard;
    bool m_IsFirstInstance = false;
};

} // namespace shared
