#pragma once

#include "launcher/package/chunkinpackage.h"
#include "launcher/package/filetodownload.h"
#include "launcher/package/packagetypes.h"

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

// Where the installed siblings of a package hold the chunks a run needs, worked out from their full
// markers alone: a sibling's package and asset documents describe its files chunk by chunk, so no
// file is read to find a content. The index is kept by the run's own positions (file, chunk
// position), as spans of consecutive chunks that lie one after the other in one sibling file: the
// same content has the same cut points, so where a chunk of a span starts in the sibling follows
// from where it starts in the run's file. A file that both packages hold alike is one span, so the
// index grows with the files and stretches the packages share, not with their chunks.
class TSiblingChunkIndex {
public:
    struct TPlace {
        int Sibling = -1;       // index into siblings()
        QString Path;           // the sibling's file
        TFileSize Offset = 0;   // where the content starts in it
        TFileSize FileSize = 0; // the file's size as its sibling's document gives it
    };

    TSiblingChunkIndex() = default;

    // Reads the full marker (and asset document) of each sibling, one after the other, and keeps,
    // for every pending position of Files, the first place in sibling order that holds its content
    // (by unpacked hash and size). A sibling whose marker is gone or does not parse is skipped with
    // a warning.
    static TSiblingChunkIndex build(const TLauncherFilesystemHelper& FileSystem,
                                    const std::vector<TSiblingPackage>& Siblings,
                                    const TFileToDownloadVector& Files);

    // Where a sibling's file holds the chunk at Position of the run's file LocalFile, which starts
    // at RunOffset in that file. The bytes there must still be checked: the sibling's file may have
    // changed behind its marker's back.
    std::optional<TPlace> find(const QString& LocalFile, std::size_t Position, TFileSize RunOffset) const;

    const std::vector<TSiblingPackage>& siblings() const { return m_Siblings; }
    // The chunk positions of the run that a sibling holds.
    std::size_t contentCount() const { return m_Positions; }
    // The stretches of consecutive chunks those positions make up.
    std::size_t spanCount() const { return m_Spans.size(); }
    // The memory the index holds on to, for the log and the benchmark.
    std::size_t memoryBytes() const;

private:
    class TBuilder;

    struct TFile {
        int Sibling = -1;
        QString Path;
        TFileSize Size = 0;
    };
    // Run positions First .. First + Count - 1 lie in one sibling file, each at its offset in the
    // run's file plus one shift.
    struct TSpan {
        std::uint32_t First = 0;
        std::uint32_t Count = 0;
        std::uint64_t Place = 0; // sibling file index in the upper 23 bits, shift (biased) below
    };
    struct TRunFile {
        QString LocalFile;
        std::size_t FirstSpan = 0; // its spans run up to the next run file's first
    };

    std::vector<TSiblingPackage> m_Siblings;
    std::vector<TFile> m_Files;
    std::vector<TRunFile> m_RunFiles; // sorted by LocalFile
    std::vector<TSpan> m_Spans;       // by run file, then by First
    std::size_t m_Positions = 0;
};

} // namespace mirrel::launcher
