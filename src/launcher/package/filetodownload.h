#pragma once

#include "launcher/package/chunkinpackage.h"
#include "launcher/package/packagetypes.h"
#include "launcher/package/patchinpackage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace mirrel::launcher {

struct TFileInPackage;

// A file that an installation has to (re)write, with its chunk list expanded into the pieces
// themselves, so the downloader needs no chunk table.
struct TFileToDownload {
    TFileToDownload() = default;
    // Copies the file's description and expands its chunk indices through chunkTable, in order.
    // Throws std::runtime_error for an index outside the table (a valid configuration has none).
    TFileToDownload(const TFileInPackage& file, const TChunkInPackageVector& chunkTable);

    QString LocalFile;
    TFileSize Size = 0;
    QByteArray Hash;
    bool Executable = false;
    TPatchInPackageVector Patches; // always empty: patches are not applied
    TChunkInPackageVector Chunks;
    // Indices into Chunks of the pieces still to be fetched, ascending; empty when built.
    std::vector<std::int32_t> ChunksToDownload;
};

using TFileToDownloadVector = std::vector<TFileToDownload>;

} // namespace mirrel::launcher
