#pragma once

#include <QByteArray>
#include <QMutex>

#include <vector>

namespace shared {

// Byte buffers that are handed back after use and handed out again, so that a stream of large
// pieces (chunk bodies, unpacked chunks) keeps writing into memory it already owns instead of
// asking the system for fresh pages, and giving them back, for every piece. Only a free buffer
// is kept: one still shared with another holder is left to that holder. At most MaxKept buffers
// and MaxKeptBytes bytes wait in the pool; the rest goes back to the system. A buffer that comes
// back smaller than the largest one asked for is grown on the way in, while there is room.
// All operations may be called from any thread.
class TBufferPool {
public:
    TBufferPool(int MaxKept, qint64 MaxKeptBytes);
    TBufferPool(const TBufferPool&) = delete;
    TBufferPool& operator=(const TBufferPool&) = delete;

    // An empty buffer with room for at least Capacity bytes: the smallest kept one that is large
    // enough, else the largest kept one grown to that room, else a new one.
    QByteArray take(qint64 Capacity);
    // Keeps Buffer for a later take() when it is free and there is room for it.
    void give(QByteArray&& Buffer);
    // Makes sure Count buffers of at least Capacity bytes are kept, their memory written once, as
    // far as the pool's limits allow. For a worker thread ahead of a run: the thread that reads
    // network data into the first buffers then does not wait for the system to supply their pages.
    void prepare(int Count, qint64 Capacity);

    int keptCount() const;

    // What take() and give() did so far: how often a kept buffer had room already, had to grow, or
    // none was kept (fresh memory that the system supplies page by page when it is first written);
    // how many buffers came back and could not be kept (still shared, or no room).
    struct TCounts {
        int Reused = 0;
        int Grown = 0;
        int Fresh = 0;
        int NotKept = 0;
    };
    TCounts counts() const;

private:
    const int m_MaxKept;
    const qint64 m_MaxKeptBytes;
    mutable QMutex m_Mutex; // guards everything below
    std::vector<QByteArray> m_Kept;
    qint64 m_KeptBytes = 0;
    int m_LargestTaken = 0;
    TCounts m_Counts;
};

} // namespace shared
