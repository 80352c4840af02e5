#include "launcher/download/chunkcache.h"

#include "launcher/download/packagelocalpath.h"

#include <QMutexLocker>
#include <QtDebug>

#include <stdexcept>

namespace mirrel::launcher {

void TChunkCache::clear() {
    QMutexLocker lock(&m_Mutex);
    m_Uses.clear();
}

void TChunkCache::removeLeftovers(const shared::TFileSystemHelper& FileSystem,
                                  const QString& StagingDirectory) {
    try {
        removePackagePath(FileSystem, StagingDirectory);
    } catch (const std::runtime_error& error) {
        qWarning().noquote() << "staging folder " + StagingDirectory +
                                    " stays: " + QString::fromUtf8(error.what());
    }
}

void TChunkCache::addUse(const QByteArray& Hash) {
    QMutexLocker lock(&m_Mutex);
    ++m_Uses[Hash];
}

bool TChunkCache::isNeeded(const QByteArray& Hash) const {
    QMutexLocker lock(&m_Mutex);
    return m_Uses.value(Hash) > 0;
}

void TChunkCache::releaseUse(const QByteArray& Hash) {
    QMutexLocker lock(&m_Mutex);
    const auto found = m_Uses.find(Hash);
    if (found != m_Uses.end() && --found.value() <= 0) {
        m_Uses.erase(found);
    }
}

} // namespace mirrel::launcher
