#include "launcher/download/chunkchecklog.h"

#include "launcher/download/chunkedfilestate.h"
#include "shared/crypto/sha256.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QFileInfo>

namespace mirrel::launcher {

TChunkCheckLog::TChunkCheckLog(const shared::TFileSystemHelper& FileSystem, TChunkedFileState& File)
    : m_FileSystem(FileSystem)
    , m_File(File) {}

void TChunkCheckLog::start() const {
    if (QFileInfo(logPath()).isFile()) {
        m_FileSystem.removeFile(logPath());
    }
    m_File.CheckedUpTo = 0;
}

void TChunkCheckLog::checkChunksBefore(std::size_t Position) const {
    QFile& target = *m_File.Target;
    for (std::size_t earlier = 0; earlier < Position; ++earlier) {
        const TChunkInPackage& chunk = m_File.Chunks[earlier];
        const TFileSize offset = m_File.offsetOf(earlier);
        if (offset + chunk.UnpackedSize <= m_File.CheckedUpTo) {
            continue;
        }
        QByteArray bytes;
        if (target.seek(static_cast<qint64>(offset))) {
            bytes = target.read(static_cast<qint64>(chunk.UnpackedSize));
        }
        if (bytes.size() != static_cast<int>(chunk.UnpackedSize)) {
            throw shared::ioError(m_File.TargetPath, QStringLiteral("invalid old chunk"));
        }
        if (shared::TSha256::hash(bytes) != chunk.UnpackedHash) {
            append(offset, QStringLiteral(": check failed"));
            throw shared::ioError(m_File.TargetPath, QStringLiteral("invalid hash"));
        }
        append(offset, QStringLiteral(": check succeeded"));
    }
    m_File.CheckedUpTo = m_File.offsetOf(Position);
}

void TChunkCheckLog::recordWrite(std::size_t Position, const QByteArray& Bytes, ESource Source) const {
    const TChunkInPackage& chunk = m_File.Chunks[Position];
    const TFileSize offset = m_File.offsetOf(Position);
    const bool correct = shared::TSha256::hash(Bytes) == chunk.UnpackedHash;
    switch (Source) {
    case ESource::Download:
        append(offset, correct ? QStringLiteral(": write succeeded") : QStringLiteral(": write failed"));
        break;
    case ESource::Memory:
        append(offset,
               correct ? QStringLiteral(": write cache correct") : QStringLiteral(": write cache invalid"));
        break;
    case ESource::InstalledPackage:
        append(offset, correct ? QStringLiteral(": write installed package correct")
                               : QStringLiteral(": write installed package invalid"));
        break;
    case ESource::TemporaryFile:
        append(offset, correct ? QStringLiteral(": write tmp file correct")
                               : QStringLiteral(": write tmp file invalid"));
        if (!correct) {
            throw shared::ioError(m_File.TargetPath, QStringLiteral("invalid hash"));
        }
        break;
    }
}

QString TChunkCheckLog::logPath() const {
    return m_File.TargetPath + QStringLiteral(".log");
}

void TChunkCheckLog::append(TFileSize Offset, const QString& Result) const {
    m_FileSystem.appendTextFile(logPath(), QString::number(Offset) + Result + QLatin1Char('\n'));
}

} // namespace mirrel::launcher
