#pragma once

#include "launcher/package/chunkinpackage.h"
#include "launcher/package/packagetypes.h"
#include "launcher/package/patchinpackage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace mirrel::launcher {

// One file of a package as its package or asset document describes it.
struct TFileInPackage {
    QString LocalFile;  // relative to the installation directory, "/" separators
    TFileSize Size = 0; // unpacked size of the whole file
    QByteArray Hash;    // SHA-256 of the whole file, 32 raw bytes
    bool Executable = false;
    TPatchInPackageVector Patches;
    // Indices into the configuration's combined chunk table, in file order. A valid configuration
    // only holds indices inside that table.
    std::vector<std::int32_t> Chunks;
    // The same file as one downloadable piece; used instead of the chunks when it has a URL and
    // the file has to be fetched completely.
    TChunkInPackage WholeFile;
};

using TFileInPackageVector = std::vector<TFileInPackage>;

} // namespace mirrel::launcher
