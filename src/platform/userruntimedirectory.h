#pragma once

#include <string>

namespace platform {

// The folder for objects that only this user's processes may see or create: $XDG_RUNTIME_DIR when
// it names a folder of this user that nobody else can enter, otherwise "vantor-runtime" in the
// user's cache folder ($XDG_CACHE_HOME or ~/.cache), created with mode 0700. Another user can
// neither create an object there first nor look into it. Throws std::runtime_error when no such
// folder can be had.
std::string userRuntimeDirectory();

} // namespace platform
