#pragma once

#include <QString>

namespace sampleclient {

// How one run of the sample client behaves, taken from its environment (the
// launcher passes its own environment on to the client it starts):
//   VANTOR_SAMPLE_CLIENT_RECORD=<file>      append one JSON line describing this start
//   VANTOR_SAMPLE_CLIENT_EXIT_AFTER=<s>     end by itself after that many seconds
//   VANTOR_SAMPLE_CLIENT_ANNOUNCE=<ms>|never  take the client's named object that late, or never
//   VANTOR_SAMPLE_CLIENT_EXIT_CODE=<n>      the exit code when it ends by itself (default 0)
// Without a display the client ends after DefaultHeadlessSeconds unless told otherwise.
struct TSampleClientOptions {
    static constexpr int DefaultHeadlessSeconds = 5;

    QString RecordFile;
    // Negative: stay until the window is closed (or forever, headless).
    int ExitAfterMs = -1;
    // Negative: never announce.
    int AnnounceDelayMs = 0;
    int ExitCode = 0;

    static TSampleClientOptions fromEnvironment(bool Headless);
};

} // namespace sampleclient
