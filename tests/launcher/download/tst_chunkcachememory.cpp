#include "launcher/download/chunkcache.h"
#include "support/installationkit.h"
#include "support/testregistry.h"

#include <QTemporaryDir>
#include <QtTest>

using mirrel::launcher::TChunkCache;

class TestChunkCacheMemory : public QObject {
    Q_OBJECT

private slots:
    // Large chunks that arrive early go to temporary files once the memory bound is reached, even
    // while the count of chunks in memory is far below its own limit.
    void boundsTheBytesInMemory() {
        QTemporaryDir launcher;
        TChunkCache cache(100, testsupport::makeLauncherFilesystem(launcher.path(), QByteArray()));
        const QByteArray chunk(16 << 20, 'c'); // one allocation, shared by every entry
        const int fitting = static_cast<int>(TChunkCache::MaxBytesInMemory / chunk.size());
        for (int index = 0; index <= fitting; ++index) {
            const QByteArray hash = QByteArray::number(index);
            cache.addUse(hash);
            cache.park(hash, chunk);
        }
        QCOMPARE(cache.inMemoryCount(), fitting);
        QCOMPARE(cache.temporaryFileCount(), 1);
    }
};

LAUNCHER_TEST(TestChunkCacheMemory)
#include "tst_chunkcachememory.moc"
