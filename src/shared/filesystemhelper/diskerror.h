#pragma once

#include <QString>

#include <stdexcept>

namespace shared {

// The disk refused to read or write data of a file that was open ("No space left on device",
// "Input/output error"). Unlike a file that is missing or in the way, this is no matter of one
// file: the next write would fail the same way, so a run that meets it stops. The text is the
// helper's "I/O error on file '<file>': <the system's reason>".
class TDiskError : public std::runtime_error {
public:
    TDiskError(const QString& FileName, const QString& Reason);
    // Another failure of the same kind whose text already names the file.
    explicit TDiskError(const std::string& Text);
};

} // namespace shared
