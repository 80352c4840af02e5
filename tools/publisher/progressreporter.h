#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

#include <cstdio>

namespace publisher {

// A one-line progress bar on a terminal: rewritten in place, cleared at the
// end. When the stream is not a terminal (a pipe, a log file, a test) nothing
// is written, so scripts only see the summary.
class TProgressReporter {
public:
    TProgressReporter(std::FILE* Stream, bool Enabled);
    ~TProgressReporter();
    TProgressReporter(const TProgressReporter&) = delete;
    TProgressReporter& operator=(const TProgressReporter&) = delete;

    static bool isTerminal(std::FILE* Stream);

    void update(quint64 BytesDone, quint64 BytesTotal);
    // Clears the bar so that the next line starts on a clean line.
    void finish();

private:
    std::FILE* Stream;
    bool Enabled;
    bool Shown = false;
    QElapsedTimer Clock;
};

} // namespace publisher
