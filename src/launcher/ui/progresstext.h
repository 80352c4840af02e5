#pragma once

#include <QString>
#include <QtGlobal>

namespace mirrel::launcher {

// Progress bars of the package rows run from 0 to this value.
constexpr int ProgressBarMaximum = 10000;

// Position of a bar for Done of Total bytes; an empty phase (Total 0) shows an
// empty bar, and a phase that overshoots its total shows a full one.
int progressBarValue(quint64 Done, quint64 Total);

// "%1/%2 MB" in decimal megabytes with one digit after the point.
QString megabytesText(quint64 Done, quint64 Total);

// A transfer rate in bytes per second as "B/s", "KB/s", "MB/s" or "GB/s":
// a unit is used once the rate exceeds its binary threshold (1024, 2^20,
// 2^30), but the amount is divided by the decimal unit.
QString speedText(quint64 BytesPerSecond);

// The time a download still needs, in words that do not pretend to precision: "under 1 min left",
// "about 3 min left" (whole minutes, rounded) or "about 2 h left" (whole hours, rounded).
QString timeLeftText(quint64 Seconds);

struct TRunSizeEstimate;

// What an offered install or update costs, "1.2 GB to download, 3.4 GB on disk"; when the disk
// cannot take it, "Not enough free space: 3.4 GB needed, 1.2 GB free".
QString runSizeText(const TRunSizeEstimate& Estimate);

} // namespace mirrel::launcher
