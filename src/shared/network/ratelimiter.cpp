#include "shared/network/ratelimiter.h"

#include <algorithm>

namespace shared {

namespace {

// How often waiting transfers are given another chance.
constexpr int WakeIntervalMs = 10;

} // namespace

TRateLimiter::TRateLimiter(qint64 BytesPerSecond, QObject* parent)
    : QObject(parent) {
    m_Clock.start();
    m_WakeTimer.setInterval(WakeIntervalMs);
    connect(&m_WakeTimer, &QTimer::timeout, this, &TRateLimiter::wakeWaiters);
    setBytesPerSecond(BytesPerSecond);
}

void TRateLimiter::setBytesPerSecond(qint64 BytesPerSecond) {
    refill();
    m_BytesPerSecond = std::max<qint64>(BytesPerSecond, 0);
    m_Tokens = std::min(m_Tokens, double(capacity()));
    if (!isLimited()) {
        wakeWaiters();
    }
}

qint64 TRateLimiter::capacity() const {
    return m_BytesPerSecond / 8;
}

void TRateLimiter::refill() {
    const qint64 now = m_Clock.nsecsElapsed();
    const double seconds = double(now - m_LastRefillNs) / 1e9;
    m_LastRefillNs = now;
    m_Tokens = std::min(m_Tokens + seconds * double(m_BytesPerSecond), double(capacity()));
}

qint64 TRateLimiter::grant(qint64 Wanted) {
    if (!isLimited()) {
        return Wanted;
    }
    refill();
    const qint64 granted = std::clamp<qint64>(qint64(m_Tokens), 0, Wanted);
    m_Tokens -= double(granted);
    return granted;
}

void TRateLimiter::charge(qint64 Bytes) {
    if (!isLimited()) {
        return;
    }
    refill();
    // The debt is bounded, so one large document cannot hold the others for long.
    m_Tokens = std::max(m_Tokens - double(Bytes), -double(m_BytesPerSecond));
}

void TRateLimiter::waitForTokens(QObject* Owner, std::function<void()> Wake) {
    m_Waiters.push_back(TWaiter{Owner, std::move(Wake)});
    if (!m_WakeTimer.isActive()) {
        m_WakeTimer.start();
    }
}

void TRateLimiter::wakeWaiters() {
    // A woken transfer that still finds the bucket empty asks again and queues up behind the others.
    std::vector<TWaiter> waiters;
    waiters.swap(m_Waiters);
    for (TWaiter& waiter : waiters) {
        if (waiter.Owner) {
            waiter.Wake();
        }
    }
    if (m_Waiters.empty()) {
        m_WakeTimer.stop();
    }
}

} // namespace shared
