#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

namespace shared {

// A token bucket shared by every transfer of the launcher: throttled transfers take at most as many
// bytes as the bucket holds and wait for it to fill again; transfers that go first (small
// documents) take what they need at once and the throttled ones make up for it. The bucket holds at
// most an eighth of a second's worth, so no burst pushes a two-second window more than a few
// percent over the limit. GUI thread only.
class TRateLimiter : public QObject {
    Q_OBJECT

public:
    explicit TRateLimiter(qint64 BytesPerSecond = 0, QObject* parent = nullptr);

    // 0 or less: no limit. Takes effect at once, also for transfers in progress.
    void setBytesPerSecond(qint64 BytesPerSecond);
    qint64 bytesPerSecond() const { return m_BytesPerSecond; }
    bool isLimited() const { return m_BytesPerSecond > 0; }

    // As many of Wanted bytes as may be read now (all of them without a limit).
    qint64 grant(qint64 Wanted);
    // Bytes read by a transfer that does not wait.
    void charge(qint64 Bytes);
    // Calls Wake once when the bucket has filled a little, unless Owner is gone by then. Waiters are
    // woken in the order they asked.
    void waitForTokens(QObject* Owner, std::function<void()> Wake);

private:
    struct TWaiter {
        QPointer<QObject> Owner;
        std::function<void()> Wake;
    };

    void refill();
    void wakeWaiters();
    qint64 capacity() const;

    qint64 m_BytesPerSecond = 0;
    double m_Tokens = 0;
    QElapsedTimer m_Clock;
    qint64 m_LastRefillNs = 0;
    QTimer m_WakeTimer;
    std::vector<TWaiter> m_Waiters;
};

} // namespace shared
