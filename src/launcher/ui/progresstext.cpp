#include "launcher/ui/progresstext.h"

#include "launcher/package/runsizeestimate.h"

#include <algorithm>

namespace mirrel::launcher {

namespace {

constexpr quint64 KibiByte = 1024;
constexpr quint64 MebiByte = 1024 * KibiByte;
constexpr quint64 GibiByte = 1024 * MebiByte;

QString oneDecimal(double Value) {
    return QString::number(Value, 'f', 1);
}

} // namespace

int progressBarValue(quint64 Done, quint64 Total) {
    if (Total == 0) {
        return 0;
    }
    const float fraction = static_cast<float>(Done) / static_cast<float>(Total);
    return std::min(qRound(fraction * ProgressBarMaximum), ProgressBarMaximum);
}

QString megabytesText(quint64 Done, quint64 Total) {
    if (Total == 0) {
        Done = 0;
    }
    return QStringLiteral("%1/%2 MB").arg(Done / 1000000.0, 0, 'f', 1).arg(Total / 1000000.0, 0, 'f', 1);
}

QString speedText(quint64 BytesPerSecond) {
    if (BytesPerSecond > GibiByte) {
        return QStringLiteral("%1 GB/s").arg(oneDecimal(BytesPerSecond / 1000000000.0));
    }
    if (BytesPerSecond > MebiByte) {
        return QStringLiteral("%1 MB/s").arg(oneDecimal(BytesPerSecond / 1000000.0));
    }
    if (BytesPerSecond > KibiByte) {
        return QStringLiteral("%1 KB/s").arg(oneDecimal(BytesPerSecond / 1000.0));
    }
    return QStringLiteral("%1 B/s").arg(BytesPerSecond);
}

QString timeLeftText(quint64 Seconds) {
    if (Seconds < 60) {
        return QStringLiteral("under 1 min left");
    }
    const quint64 minutes = (Seconds + 30) / 60;
    if (minutes < 60) {
        return QStringLiteral("about %1 min left").arg(minutes);
    }
    return QStringLiteral("about %1 h left").arg((Seconds + 1800) / 3600);
}

QString runSizeText(const TRunSizeEstimate& Estimate) {
    if (!Estimate.fitsOnDisk()) {
        return QStringLiteral("Not enough free space: %1 needed, %2 free")
            .arg(byteSizeText(Estimate.AddedBytes, ERounding::Up),
                 byteSizeText(Estimate.FreeBytes, ERounding::Down));
    }
    return QStringLiteral("%1 to download, %2 on disk")
        .arg(byteSizeText(Estimate.DownloadBytes), byteSizeText(Estimate.DiskBytes));
}

} // namespace mirrel::launcher
