#pragma once

#include <QString>

#include <stdexcept>

namespace publisher {

// A command line the publisher cannot act on (unknown option, missing or bad
// value). The program prints the text with a hint to --help and exits with 2.
class TUsageError : public std::runtime_error {
public:
    explicit TUsageError(const QString& Message);
};

} // namespace publisher
