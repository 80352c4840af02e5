#pragma once

#include "launcher/package/fileinpackage.h"

#include <QDir>
#include <QMutex>

#include <deque>
#include <functional>
#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

class TStopRequest;

// Checks that every file of a configuration exists with its SHA-256 hash. Six workers on the
// global thread pool take files from one queue and stop soon after the first mismatch.
class TPackageVerifier {
public:
    static constexpr int WorkerCount = 6;
    static constexpr qint64 BlockSize = 10485760;
    using TProgressCallback = std::function<void(TFileSize Verified, TFileSize Total)>;

    // OnProgress is called from the workers' threads, one at a time.
    TPackageVerifier(const QDir& InstallationDirectory,
                     std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                     TProgressCallback OnProgress);

    // Never throws: whatever goes wrong in a worker counts as a failed verification.
    bool run(const TFileInPackageVector& Files);
    // A requested stop ends the verification after the block being read, as a failed one.
    void setStopRequest(std::shared_ptr<const TStopRequest> Stop) { m_pStop = std::move(Stop); }

private:
    void work();
    void workSafely();
    bool takeNextFile(const TFileInPackage*& Entry);
    bool verifyFile(const TFileInPackage& Entry, QByteArray& Buffer);
    void addVerified(TFileSize Length);
    void fail();

    QDir m_InstallationDirectory;
    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    TProgressCallback m_OnProgress;
    std::shared_ptr<const TStopRequest> m_pStop;

    QMutex m_Mutex; // guards everything below
    std::deque<const TFileInPackage*> m_Queue;
    TFileSize m_Verified = 0;
    TFileSize m_Total = 0;
    bool m_Result = true;
};

} // namespace mirrel::launcher
