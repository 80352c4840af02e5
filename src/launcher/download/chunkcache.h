#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

// The contents a run still has to write, keyed by unpacked hash, with the number of positions over
// every file of the run that wait for each. Contents are written at their offsets as they arrive,
// so nothing is held here but the counts. All operations may be called from any thread.
class TChunkCache {
public:
    // Forgets every entry.
    void clear();
    // Removes a staging folder in which an older launcher kept early chunks.
    static void removeLeftovers(const shared::TFileSystemHelper& FileSystem, const QString& StagingDirectory);
    // One more position waits for this content.
    void addUse(const QByteArray& Hash);
    // Whether some position still waits for this content.
    bool isNeeded(const QByteArray& Hash) const;
    // One position with this content has been written; the last one frees the entry.
    void releaseUse(const QByteArray& Hash);

private:
    mutable QMutex m_Mutex; // guards everything below
    QHash<QByteArray, int> m_Uses;
};

} // namespace mirrel::launcher
