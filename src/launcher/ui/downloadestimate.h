#pragma once

#include <QtGlobal>

#include <deque>

namespace mirrel::launcher {

// The rate and the time left of a download, from the downloader's progress reports (one per tick
// of its progress timer, so the ticks are the clock). The rate is the mean of the bytes received
// per tick over the last three seconds; it counts as steady once two seconds of ticks are in and
// data is flowing. The first report only sets the starting point.
class TDownloadEstimate {
public:
    void restart();
    void addReport(quint64 BytesDownloaded, quint64 BytesTotal);

    quint64 bytesPerSecond() const;
    bool isSteady() const;
    // Whole seconds until the download is complete at the current rate; 0 while it is not steady.
    quint64 secondsLeft() const;

private:
    std::deque<quint64> m_BytesPerTick; // the latest last
    quint64 m_PreviousBytes = 0;
    bool m_Started = false;
    quint64 m_BytesLeft = 0;
};

} // namespace mirrel::launcher
