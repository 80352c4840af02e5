#pragma once

#include "shared/randomhints/hint.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>
#include <vector>

namespace shared {

// Reads the hints document (a JSON array of hint objects). Hints without
// rich text are dropped; a document that cannot be parsed gives no hints.
std::vector<THint> parseHints(const QByteArray& Data);

// The hint to feature now: the first emergency hint if there is one;
// otherwise, among the hints without an "emergency" key whose display
// window contains NowUtc, the first one that has a window at all, else one
// picked by the current time so that undated hints take turns.
std::optional<THint> selectCurrentHint(const std::vector<THint>& Hints, const QDateTime& NowUtc);
std::optional<THint> selectCurrentHint(const std::vector<THint>& Hints);

} // namespace shared
