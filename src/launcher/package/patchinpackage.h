#pragma once

#include <QUrl>

#include <vector>

namespace mirrel::launcher {

// A binary patch offered for a file. Patches are read and kept with their file; nothing applies them.
struct TPatchInPackage {
    QUrl Url;
    int FromVersion = 0;
    int ToVersion = 0;
    int Size = 0;
};

using TPatchInPackageVector = std::vector<TPatchInPackage>;

} // namespace mirrel::launcher
