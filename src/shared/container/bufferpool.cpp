#include "shared/container/bufferpool.h"

#include <QMutexLocker>

#include <algorithm>
#include <limits>

namespace shared {

TBufferPool::TBufferPool(int MaxKept, qint64 MaxKeptBytes)
    : m_MaxKept(MaxKept)
    , m_MaxKeptBytes(MaxKeptBytes) {}

QByteArray TBufferPool::take(qint64 Capacity) {
    const int wanted =
        static_cast<int>(std::clamp<qint64>(Capacity, 0, std::numeric_limits<int>::max() - 64));
    QByteArray buffer;
    {
        QMutexLocker lock(&m_Mutex);
        if (m_Kept.empty()) {
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
        buffer = std::move(*chosen);
        m_Kept.erase(chosen);
    }
    // Growing a buffer keeps the memory it had; only the new part is fresh.
    buffer.reserve(wanted);
    return buffer;
}

void TBufferPool::give(QByteArray&& Buffer) {
    QByteArray buffer = std::move(Buffer);
    if (!buffer.isDetached()) {
        return;
    }
    buffer.resize(0);
    if (buffer.capacity() == 0) {
        return; // a buffer without reserved room frees its memory when emptied
    }
    QMutexLocker lock(&m_Mutex);
    if (static_cast<int>(m_Kept.size()) >= m_MaxKept || m_KeptBytes + buffer.capacity() > m_MaxKeptBytes) {
        // The smallest kept buffer makes room for a larger one: large pieces are the expensive ones.
        const auto smallest =
            std::min_element(m_Kept.begin(), m_Kept.end(), [](const QByteArray& A, const QByteArray& B) {
                return A.capacity() < B.capacity();
            });
        if (smallest == m_Kept.end() || smallest->capacity() >= buffer.capacity() ||
            m_KeptBytes - smallest->capacity() + buffer.capacity() > m_MaxKeptBytes) {
            return;
        }
        m_KeptBytes -= smallest->capacity();
        m_Kept.erase(smallest);
    }
    m_KeptBytes += buffer.capacity();
    m_Kept.push_back(std::move(buffer));
}

int TBufferPool::keptCount() const {
    QMutexLocker lock(&m_Mutex);
    return static_cast<int>(m_Kept.size());
}

} // namespace shared
