#pragma once

#include "launcher/package/packagetypes.h"

#include <QString>

namespace mirrel::launcher {

class TPackageConfigurationReader;

// What installing or updating a package will cost, worked out from its documents alone: no file
// of the package is read. Files whose size and hash in the installed document match the target's
// count as kept; the chunks of a changed file that its installed description already holds count
// as reused; everything else is fetched.
struct TRunSizeEstimate {
    bool Known = false;
    TFileSize DownloadBytes = 0; // the pieces to fetch, as sent (packed)
    TFileSize DiskBytes = 0;     // the package's files once the run is done
    TFileSize AddedBytes = 0;    // what the disk must take on top of what the package holds now
    TFileSize FreeBytes = 0;     // the free space of the package's file system

    bool fitsOnDisk() const { return AddedBytes <= FreeBytes; }
};

// Installed may be invalid (nothing installed): then everything is fetched. FreeBytes stays 0.
TRunSizeEstimate estimateRunSize(const TPackageConfigurationReader& Target,
                                 const TPackageConfigurationReader& Installed);

// A byte amount for players, in decimal units with one decimal: "1.2 GB", "340.5 MB". What a run
// needs is rounded up and what the disk has free rounded down, so that a shortfall of one byte
// never reads as "39.1 MB needed, 39.1 MB free".
enum class ERounding { Nearest, Up, Down };
QString byteSizeText(TFileSize Bytes, ERounding Rounding = ERounding::Nearest);

} // namespace mirrel::launcher
