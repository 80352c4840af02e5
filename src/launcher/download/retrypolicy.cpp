#include "launcher/download/retrypolicy.h"

#include <algorithm>
#include <climits>

namespace mirrel::launcher {

namespace {

// Pauses stop growing after this many doublings (32 times the base).
constexpr int MaxDoublings = 5;

} // namespace

TRetryDecision decideRetry(TRetryBudget& Budget, bool MadeProgress, int BasePauseMs, double Jitter) {
    Budget.SpentHalves += MadeProgress ? 1 : 2;
    ++Budget.Failures;
    if (Budget.SpentHalves > 2 * MaxRetries) {
        return TRetryDecision{};
    }
    const int doublings = std::min(Budget.Failures - 1, MaxDoublings);
    const double pause = double(std::max(BasePauseMs, 0)) * double(1 << doublings) *
                         (1.0 + std::clamp(Jitter, 0.0, 1.0) / 2.0);
    return TRetryDecision{true, int(std::min(pause, double(INT_MAX)))};
}

} // namespace mirrel::launcher
