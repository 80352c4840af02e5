#include "launcher/install/replacementbuilder.h"

#include "launcher/chunking/chunker.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QByteArray>
#include <QFile>

#include <stdexcept>

namespace mirrel::launcher {

namespace {

void throwFileError(const QFile& File, const QString& Fallback) {
    throw shared::ioError(File.fileName(),
                          File.error() == QFileDevice::NoError ? Fallback : File.errorString());
}

} // namespace

TReplacementBuilder::TReplacementBuilder(const QString& LocalPath, const QString& ReplacementPath,
                                         const std::vector<TChunkReuse>& Records)
    : m_LocalPath(LocalPath)
    , m_ReplacementPath(ReplacementPath)
    , m_Records(Records) {}

std::vector<std::int32_t> TReplacementBuilder::build(TFileSize TargetSize) const {
    std::vector<std::int32_t> missing;
    try {
        copyReusedChunks(missing, TargetSize);
    } catch (const std::exception&) {
        QFile::remove(m_ReplacementPath);
        throw;
    }
    return missing;
}

void TReplacementBuilder::copyReusedChunks(std::vector<std::int32_t>& Missing, TFileSize TargetSize) const {
    QFile local(m_LocalPath);
    if (!local.open(QIODevice::ReadOnly)) {
        throwFileError(local, QStringLiteral("couldn't open the file"));
    }
    QFile replacement(m_ReplacementPath);
    if (!replacement.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throwFileError(replacement, QStringLiteral("couldn't open the file"));
    }
    QByteArray bytes;
    for (std::size_t index = 0; index < m_Records.size(); ++index) {
        const TChunkReuse& record = m_Records[index];
        if (record.State == TChunkReuse::NotFound) {
            Missing.push_back(static_cast<std::int32_t>(index));
            continue;
        }
        if (record.Size > chunking::MaximumSize) {
            throw std::runtime_error("chunk larger than a chunk can be");
        }
        bytes.resize(static_cast<int>(record.Size));
        if (!local.seek(static_cast<qint64>(record.SourceOffset)) ||
            local.read(bytes.data(), bytes.size()) != bytes.size()) {
            throwFileError(local, QStringLiteral("Could not read all data."));
        }
        if (!replacement.seek(static_cast<qint64>(record.TargetOffset)) ||
            replacement.write(bytes) != bytes.size()) {
            throwFileError(replacement, QStringLiteral("Could not write all data to disk."));
        }
    }
    // Missing chunks at the end are written later at their offsets; the length is the new one now.
    if (!replacement.resize(static_cast<qint64>(TargetSize)) || !replacement.flush()) {
        throwFileError(replacement, QStringLiteral("Could not write all data to disk."));
    }
}

} // namespace mirrel::launcher
