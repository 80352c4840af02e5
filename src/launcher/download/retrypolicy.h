#pragma once

namespace mirrel::launcher {

// New attempts that at least follow a chunk's first failure.
constexpr int MaxRetries = 3;

// What one chunk has spent of its attempts so far.
struct TRetryBudget {
    int Failures = 0;
    // In halves of a retry: a failure after progress costs one, any other failure two.
    int SpentHalves = 0;
};

// What follows a failed attempt: another one after PauseMs, or giving up.
struct TRetryDecision {
    bool Retry = false;
    int PauseMs = 0;
};

// The downloader's one retry rule, for network and hash failures alike.
//
// A failure that never delivered a byte (a refusal, a dead server, a body with the wrong content)
// spends a whole retry; a transfer cut off after it had made progress spends half of one, so a slow
// but moving connection is not given up as fast as a dead server. The budget holds MaxRetries whole
// retries, so at least MaxRetries new attempts follow a first failure.
//
// Pauses start at BasePauseMs and double with every failure, stretched by up to a half through Jitter
// (a random value in [0, 1)), so that chunks failing together on a network blip neither come back
// at once nor at the same moment.
TRetryDecision decideRetry(TRetryBudget& Budget, bool MadeProgress, int BasePauseMs, double Jitter);

} // namespace mirrel::launcher
