#include "launcher/install/chunkhasher.h"

#include "launcher/chunking/chunker.h"
#include "shared/crypto/sha256.h"

#include <QSemaphore>
#include <QThreadPool>

#include <cstring>

namespace mirrel::launcher {

namespace {

// One copy is hashed while the next is filled.
constexpr std::size_t CopyCount = 2;

} // namespace

TChunkHasher::TChunkHasher(QSemaphore* Helpers)
    : m_pHelpers(Helpers) {}

TChunkHasher::~TChunkHasher() {
    finish();
}

void TChunkHasher::begin(TDigestCallback OnDigest) {
    finish();
    m_OnDigest = std::move(OnDigest);
}

void TChunkHasher::add(const unsigned char* Data, std::uint64_t Length) {
    if (!m_HelperRunning && !tryStartHelper()) {
        m_OnDigest(shared::TSha256::hash(reinterpret_cast<const char*>(Data), static_cast<qint64>(Length)),
                   Length);
        return;
    }
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Changed.wait(lock, [this] { return !m_FreeCopies.empty(); });
    const std::size_t copy = m_FreeCopies.back();
    m_FreeCopies.pop_back();
    lock.unlock();
    std::memcpy(m_Copies[copy].get(), Data, Length);
    lock.lock();
    m_Filled.push_back({copy, Length});
    m_Changed.notify_all();
}

void TChunkHasher::finish() {
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        if (!m_HelperRunning) {
            return;
        }
        m_Closing = true;
        m_Changed.notify_all();
        m_Changed.wait(lock, [this] { return !m_HelperRunning; });
        m_Closing = false;
        m_FreeCopies.clear();
    }
    // The copies are the memory the token stands for: they go back with it.
    m_Copies.clear();
    m_pHelpers->release();
}

int TChunkHasher::handedOff() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_HandedOff;
}

bool TChunkHasher::tryStartHelper() {
    if (m_pHelpers == nullptr || !m_pHelpers->tryAcquire()) {
        return false;
    }
    while (m_Copies.size() < CopyCount) {
        // Not zeroed: a page is only taken when a chunk is first copied there.
        m_Copies.emplace_back(new unsigned char[chunking::MaximumSize]);
        m_FreeCopies.push_back(m_Copies.size() - 1);
    }
    m_HelperRunning = true;
    if (!QThreadPool::globalInstance()->tryStart([this] { helpUntilClosed(); })) {
        m_HelperRunning = false;
        m_FreeCopies.clear();
        m_Copies.clear();
        m_pHelpers->release();
        return false;
    }
    return true;
}

void TChunkHasher::helpUntilClosed() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
        m_Changed.wait(lock, [this] { return !m_Filled.empty() || m_Closing; });
        if (m_Filled.empty()) {
            break;
        }
        const TFilled filled = m_Filled.front();
        m_Filled.pop_front();
        lock.unlock();
        m_OnDigest(shared::TSha256::hash(reinterpret_cast<const char*>(m_Copies[filled.Copy].get()),
                                         static_cast<qint64>(filled.Length)),
                   filled.Length);
        lock.lock();
        m_FreeCopies.push_back(filled.Copy);
        ++m_HandedOff;
        m_Changed.notify_all();
    }
    // Told while the lock is held: once finish() sees this, nothing here touches the hasher again.
    m_HelperRunning = false;
    m_Changed.notify_all();
}

} // namespace mirrel::launcher
