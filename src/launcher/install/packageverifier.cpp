#include "launcher/install/packageverifier.h"

#include "launcher/download/stoprequest.h"
#include "launcher/download/packagelocalpath.h"
#include "launcher/logging/logging.h"
#include "shared/crypto/sha256.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QFile>
#include <QFuture>
#include <QMutexLocker>
#include <QtConcurrent>
#include <QtDebug>

#include <exception>
#include <stdexcept>
#include <vector>

namespace mirrel::launcher {

namespace {

// Carries the name of the file a worker was reading when something was thrown.
class TFileVerificationError : public std::runtime_error {
public:
    TFileVerificationError(const QString& FileName, const std::exception& Cause)
        : std::runtime_error(Cause.what())
        , m_FileName(FileName) {}
    const QString& fileName() const { return m_FileName; }

private:
    QString m_FileName;
};

} // namespace

TPackageVerifier::TPackageVerifier(const QDir& InstallationDirectory,
                                   std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                                   TProgressCallback OnProgress)
    : m_InstallationDirectory(InstallationDirectory)
    , m_pFileSystem(std::move(FileSystem))
    , m_OnProgress(std::move(OnProgress)) {}

bool TPackageVerifier::run(const TFileInPackageVector& Files) {
    qInfo().noquote() << "VerifyPackage: " + m_InstallationDirectory.absolutePath() +
                             " Thread: " + currentThreadIdText();
    {
        QMutexLocker lock(&m_Mutex);
        m_Queue.clear();
        m_Verified = 0;
        m_Total = 0;
        m_Result = true;
        for (const TFileInPackage& entry : Files) {
            m_Queue.push_back(&entry);
            m_Total += entry.Size;
        }
    }
    // The calling thread is one of the workers, so that a verification run from the pool does not
    // hold a pool thread only to wait.
    std::vector<QFuture<void>> workers;
    workers.reserve(WorkerCount - 1);
    for (int worker = 1; worker < WorkerCount; ++worker) {
        workers.push_back(QtConcurrent::run(QThreadPool::globalInstance(), [this] { workSafely(); }));
    }
    workSafely();
    for (QFuture<void>& worker : workers) {
        worker.waitForFinished();
    }
    QMutexLocker lock(&m_Mutex);
    return m_Result;
}

void TPackageVerifier::workSafely() {
    try {
        work();
    } catch (const TFileVerificationError& error) {
        qWarning().noquote() << "verification of files crashed in file: " + error.fileName() +
                                    " exception: " + error.what();
        fail();
    } catch (const std::exception& error) {
        qWarning().noquote() << QStringLiteral("verification of files crashed. exception: ") + error.what();
        fail();
    } catch (...) {
        qWarning().noquote() << "verification of files crashed ";
        fail();
    }
}

void TPackageVerifier::work() {
    QByteArray buffer;
    const TFileInPackage* entry = nullptr;
    while (takeNextFile(entry)) {
        if (!verifyFile(*entry, buffer)) {
            fail();
        }
    }
}

bool TPackageVerifier::takeNextFile(const TFileInPackage*& Entry) {
    QMutexLocker lock(&m_Mutex);
    if (m_Queue.empty() || !m_Result) {
        return false;
    }
    Entry = m_Queue.front();
    m_Queue.pop_front();
    return true;
}

bool TPackageVerifier::verifyFile(const TFileInPackage& Entry, QByteArray& Buffer) {
    const QString path = packageLocalPath(*m_pFileSystem, m_InstallationDirectory, Entry.LocalFile);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::ExistingOnly)) {
        qWarning().noquote() << "verification of file " + Entry.LocalFile + " failed";
        return false;
    }
    try {
        if (Buffer.isEmpty()) {
            Buffer.resize(static_cast<int>(BlockSize));
        }
        shared::TSha256 hash;
        bool readable = true;
        while (true) {
            const qint64 read = file.read(Buffer.data(), BlockSize);
            if (read < 0) {
                readable = false;
                break;
            }
            if (read == 0) {
                break;
            }
            hash.addData(Buffer.constData(), read);
            addVerified(static_cast<TFileSize>(read));
            if (m_pStop && m_pStop->isRequested()) {
                return false;
            }
        }
        file.close();
        if (readable && hash.result() == Entry.Hash) {
            qInfo().noquote() << "verification of file " + Entry.LocalFile + " successfully" +
                                     " Thread: " + currentThreadIdText();
            return true;
        }
    } catch (const std::exception& error) {
        throw TFileVerificationError(Entry.LocalFile, error);
    }
    qWarning().noquote() << "verification of file " + Entry.LocalFile + " failed";
    return false;
}

void TPackageVerifier::addVerified(TFileSize Length) {
    QMutexLocker lock(&m_Mutex);
    m_Verified += Length;
    if (m_OnProgress) {
        m_OnProgress(m_Verified, m_Total);
    }
}

void TPackageVerifier::fail() {
    QMutexLocker lock(&m_Mutex);
    m_Result = false;
}

} // namespace mirrel::launcher
