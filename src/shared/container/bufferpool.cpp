#include "shared/container/bufferpool.h"

#include <QMutexLocker>

#include <algorithm>
#include <limits>

namespace shared {

namespace {

constexpr int PageSize = 4096;

// Grows an empty buffer to Capacity and writes each new page once, so that the system supplies
// its memory now, on this thread, rather than page by page to whoever fills it next.
void growAndTouch(QByteArray& Buffer, int Capacity) {
    const int had = Buffer.capacity();
    Buffer.reserve(Capacity);
    Buffer.resize(Buffer.capacity());
    char* const data = Buffer.data();
    for (int at = had; at < Buffer.size(); at += PageSize) {
        data[at] = 0;
    }
    Buffer.resize(0);
}

} // namespace

TBufferPool::TBufferPool(int MaxKept, qint64 MaxKeptBytes)
    : m_MaxKept(MaxKept)
    , m_MaxKeptBytes(MaxKeptBytes) {}

QByteArray TBufferPool::take(qint64 Capacity) {
    const int wanted =
        static_cast<int>(std::clamp<qint64>(Capacity, 0, std::numeric_limits<int>::max() - 64));
    QByteArray buffer;
    {
        QMutexLocker lock(&m_Mutex);
        m_LargestTaken = std::max(m_LargestTaken, wanted);
        if (m_Kept.empty()) {
            ++m_Counts.Fresh;
            lock.unlock();
            // Reserved capacity survives resizing to zero, so the buffer can come back here empty.
            buffer.reserve(wanted);
            return buffer;
        }
        // The smallest kept buffer that is large enough, else the largest one.
        auto chosen = m_Kept.begin();
        for (auto kept = m_Kept.begin(); kept != m_Kept.end(); ++kept) {
            const bool fits = kept->capacity() >= wanted;
            const bool chosenFits = chosen->capacity() >= wanted;
            if ((fits && (!chosenFits || kept->capacity() < chosen->capacity())) ||
                (!fits && !chosenFits && kept->capacity() > chosen->capacity())) {
                chosen = kept;
            }
        }
        m_KeptBytes -= chosen->capacity();
        ++(chosen->capacity() >= wanted ? m_Counts.Reused : m_Counts.Grown);
        buffer = std::move(*chosen);
        m_Kept.erase(chosen);
    }
    // Growing a buffer keeps the memory it had; only the new part is fresh.
    buffer.reserve(wanted);
    return buffer;
}

void TBufferPool::give(QByteArray&& Buffer) {
    QByteArray buffer = std::move(Buffer);
    QMutexLocker lock(&m_Mutex);
    if (!buffer.isDetached()) {
        ++m_Counts.NotKept;
        return;
    }
    buffer.resize(0);
    if (buffer.capacity() == 0) {
        return; // a buffer without reserved room frees its memory when emptied
    }
    // One smaller than the largest piece asked for so far is grown to it by the thread that gives it
    // back (a worker), when there is room: the thread that takes it next (the one that reads network
    // data into it) then finds memory that is there already.
    const int largest = m_LargestTaken;
    if (buffer.capacity() < largest && static_cast<int>(m_Kept.size()) < m_MaxKept &&
        m_KeptBytes + largest <= m_MaxKeptBytes) {
        lock.unlock();
        growAndTouch(buffer, largest);
        lock.relock();
    }
    if (static_cast<int>(m_Kept.size()) >= m_MaxKept || m_KeptBytes + buffer.capacity() > m_MaxKeptBytes) {
        // The smallest kept buffer makes room for a larger one: large pieces are the expensive ones.
        const auto smallest =
            std::min_element(m_Kept.begin(), m_Kept.end(), [](const QByteArray& A, const QByteArray& B) {
                return A.capacity() < B.capacity();
            });
        if (smallest == m_Kept.end() || smallest->capacity() >= buffer.capacity() ||
            m_KeptBytes - smallest->capacity() + buffer.capacity() > m_MaxKeptBytes) {
            ++m_Counts.NotKept;
            return;
        }
        m_KeptBytes -= smallest->capacity();
        m_Kept.erase(smallest);
    }
    m_KeptBytes += buffer.capacity();
    m_Kept.push_back(std::move(buffer));
}

void TBufferPool::prepare(int Count, qint64 Capacity) {
    const int wanted =
        static_cast<int>(std::clamp<qint64>(Capacity, 0, std::numeric_limits<int>::max() - 64));
    int ready = 0;
    {
        QMutexLocker lock(&m_Mutex);
        m_LargestTaken = std::max(m_LargestTaken, wanted);
        ready =
            static_cast<int>(std::count_if(m_Kept.begin(), m_Kept.end(), [wanted](const QByteArray& Buffer) {
                return Buffer.capacity() >= wanted;
            }));
    }
    for (; ready < Count; ++ready) {
        QByteArray buffer;
        growAndTouch(buffer, wanted);
        const int keptBefore = keptCount();
        give(std::move(buffer));
        if (keptCount() == keptBefore) {
            return; // the pool is full
        }
    }
}

TBufferPool::TCounts TBufferPool::counts() const {
    QMutexLocker lock(&m_Mutex);
    return m_Counts;
}

int TBufferPool::keptCount() const {
    QMutexLocker lock(&m_Mutex);
    return static_cast<int>(m_Kept.size());
}

} // namespace shared
