#include "launcher/ui/downloadestimate.h"

#include "launcher/download/packagefiledownloader.h"

#include <algorithm>
#include <numeric>

namespace mirrel::launcher {

namespace {

constexpr quint64 TicksPerSecond = 1000 / TPackageFileDownloader::ProgressIntervalMs;
constexpr size_t WindowTicks = 3 * TicksPerSecond;
constexpr size_t SteadyTicks = 2 * TicksPerSecond;

} // namespace

void TDownloadEstimate::restart() {
    m_BytesPerTick.clear();
    m_PreviousBytes = 0;
    m_Started = false;
    m_BytesLeft = 0;
}

void TDownloadEstimate::addReport(quint64 BytesDownloaded, quint64 BytesTotal) {
    m_BytesLeft = BytesTotal - std::min(BytesTotal, BytesDownloaded);
    if (m_Started) {
        // A retried piece starts again from nothing: that is no negative rate.
        m_BytesPerTick.push_back(BytesDownloaded - std::min(BytesDownloaded, m_PreviousBytes));
        if (m_BytesPerTick.size() > WindowTicks) {
            m_BytesPerTick.pop_front();
        }
    }
    m_PreviousBytes = BytesDownloaded;
    m_Started = true;
}

quint64 TDownloadEstimate::bytesPerSecond() const {
    if (m_BytesPerTick.empty()) {
        return 0;
    }
    const quint64 sum = std::accumulate(m_BytesPerTick.begin(), m_BytesPerTick.end(), quint64(0));
    return sum * TicksPerSecond / m_BytesPerTick.size();
}

bool TDownloadEstimate::isSteady() const {
    return m_BytesPerTick.size() >= SteadyTicks && bytesPerSecond() > 0;
}

quint64 TDownloadEstimate::secondsLeft() const {
    if (!isSteady()) {
        return 0;
    }
    const quint64 rate = bytesPerSecond();
    return (m_BytesLeft + rate - 1) / rate;
}

} // namespace mirrel::launcher
