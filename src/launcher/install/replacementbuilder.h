#pragma once

#include "launcher/install/chunkreuse.h"
#include "launcher/package/packagetypes.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace mirrel::launcher {

// Builds the new version of a local file in a new file beside it instead of in place: every chunk
// the local file already holds is copied from it to its offset in the new file, and the local file
// is only read. The launcher replaces its own package this way: its running program cannot be
// written to ("Text file busy"), and a program that is never written stays startable until its
// successor is complete and takes its place in one rename.
class TReplacementBuilder {
public:
    TReplacementBuilder(const QString& LocalPath, const QString& ReplacementPath,
                        const std::vector<TChunkReuse>& Records);

    // Writes the new file with TargetSize bytes and returns the indices (ascending) of the chunks
    // that are still missing in it. Throws std::runtime_error when the local file cannot be read or
    // the new file written; the new file is then removed.
    std::vector<std::int32_t> build(TFileSize TargetSize) const;

private:
    void copyReusedChunks(std::vector<std::int32_t>& Missing, TFileSize TargetSize) const;

    QString m_LocalPath;
    QString m_ReplacementPath;
    const std::vector<TChunkReuse>& m_Records;
};

} // namespace mirrel::launcher
