#pragma once

#include "launcher/package/chunkinpackage.h"
#include "launcher/package/filetodownload.h"
#include "launcher/package/packagetypes.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace mirrel::launcher {

class TLauncherFilesystemHelper;

// Another package of the launcher, completely installed, whose files may hold content that a run
// needs.
struct TSiblingPackage {
    QString Name;
    QString Directory; // absolute
};

// Where the installed siblings of a package hold the contents a run needs, worked out from their
// full markers alone: a sibling's package and asset documents describe its files chunk by chunk,
// so no file is read to find a content. Only the wanted contents are kept, each with one place, in
// a sorted array of 16 bytes per content (a hash prefix and the place packed into one number)
// beside one record per sibling file that holds any of them.
class TSiblingChunkIndex {
public:
    struct TPlace {
        int Sibling = -1;       // index into siblings()
        QString Path;           // the sibling's file
        TFileSize Offset = 0;   // where the content starts in it
        TFileSize FileSize = 0; // the file's size as its sibling's document gives it
    };

    TSiblingChunkIndex() = default;

    // Reads the full marker (and asset document) of each sibling and keeps, for every content that
    // the pending positions of Files name (by unpacked hash and size), the first place found, in
    // sibling order. A sibling whose marker is gone or does not parse is skipped with a warning.
    static TSiblingChunkIndex build(const TLauncherFilesystemHelper& FileSystem,
                                    const std::vector<TSiblingPackage>& Siblings,
                                    const TFileToDownloadVector& Files);

    // Where a sibling's file holds this content, as its documents describe it; the bytes there
    // must still be checked, since the file may have changed behind its marker's back.
    std::optional<TPlace> find(const QByteArray& Hash) const;

    const std::vector<TSiblingPackage>& siblings() const { return m_Siblings; }
    std::size_t contentCount() const { return m_Entries.size(); }
    // The memory the index holds on to, for the log and the benchmark.
    std::size_t memoryBytes() const;

private:
    struct TFile {
        int Sibling = -1;
        QString Path;
        TFileSize Size = 0;
    };
    struct TEntry {
        std::uint64_t HashPrefix = 0;
        std::uint64_t Place = 0; // file index in the upper 24 bits, offset in the lower 40
    };

    std::vector<TSiblingPackage> m_Siblings;
    std::vector<TFile> m_Files;
    std::vector<TEntry> m_Entries; // sorted by HashPrefix
};

} // namespace mirrel::launcher
