#pragma once

#include <QByteArray>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QSemaphore;

namespace mirrel::launcher {

// Hashes the chunks of one file after another, reporting each digest in file order. A chunk is
// hashed on the calling thread unless a helper may be had: a token from Helpers (the scan hands one
// out for every worker that has run out of files, so the memory of its chunker pays for the copies
// here) and an idle thread of the global pool. The helper then hashes copies of the chunks while
// the calling thread cuts the next ones, so the last big file of a scan is not cut and hashed by one
// thread while the others wait. A helper holds at most two copies. One hasher per scan worker,
// reused for every file, as the chunker is.
class TChunkHasher {
public:
    using TDigestCallback = std::function<void(const QByteArray& Digest, std::uint64_t Length)>;

    // Without Helpers every chunk is hashed on the calling thread.
    explicit TChunkHasher(QSemaphore* Helpers);
    ~TChunkHasher();
    TChunkHasher(const TChunkHasher&) = delete;
    TChunkHasher& operator=(const TChunkHasher&) = delete;

    // Starts a file: OnDigest gets its chunks' digests, in the order add() was called, on the
    // calling thread or on the helper's, one call at a time.
    void begin(TDigestCallback OnDigest);
    // Data is only read during the call.
    void add(const unsigned char* Data, std::uint64_t Length);
    // Returns once every chunk added has been reported; the helper goes back to the pool.
    void finish();

    // Chunks hashed by a helper so far.
    int handedOff() const;

private:
    struct TFilled {
        std::size_t Copy = 0;
        std::uint64_t Length = 0;
    };

    bool tryStartHelper();
    void helpUntilClosed();

    QSemaphore* const m_pHelpers;
    TDigestCallback m_OnDigest;
    std::vector<std::unique_ptr<unsigned char[]>> m_Copies;

    // Guards everything below while a helper runs; with none running, only the calling thread
    // touches them.
    mutable std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::vector<std::size_t> m_FreeCopies;
    std::deque<TFilled> m_Filled;
    bool m_HelperRunning = false;
    bool m_Closing = false;
    int m_HandedOff = 0;
};

} // namespace mirrel::launcher
