#include "platform/userruntimedirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr mode_t PrivateMode = S_IRWXU;

std::string environmentPath(const char* Name) {
    const char* value = std::getenv(Name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// A real folder (not a link to one) owned by this user with no access for anyone else.
bool isPrivateFolder(const std::string& Path) {
    struct stat status = {};
    return ::lstat(Path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::string homeFolder() {
    std::string home = environmentPath("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr) {
            home = entry->pw_dir;
        }
    }
    return home;
}

std::runtime_error folderError(const std::string& Path, const std::string& Detail) {
    return std::runtime_error("no private folder for the launcher's named objects at '" + Path +
                              "': " + Detail);
}

// Creates every missing folder of Path; the last one with mode 0700.
void createFolders(const std::string& Path) {
    for (std::size_t slash = Path.find('/', 1); slash != std::string::npos;
         slash = Path.find('/', slash + 1)) {
        ::mkdir(Path.substr(0, slash).c_str(), S_IRWXU | S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH);
    }
    if (::mkdir(Path.c_str(), PrivateMode) != 0 && errno != EEXIST) {
        throw folderError(Path, std::strerror(errno));
    }
}

std::string fallbackFolder() {
    std::string cache = environmentPath("XDG_CACHE_HOME");
    if (cache.empty()) {
        const std::string home = homeFolder();
        if (home.empty()) {
            throw folderError("~/.cache", "the user has no home folder");
        }
        cache = home + "/.cache";
    }
    const std::string folder = cache + "/vantor-runtime";
    createFolders(folder);
    struct stat status = {};
    if (::lstat(folder.c_str(), &status) != 0) {
        throw folderError(folder, std::strerror(errno));
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) {
        throw folderError(folder, "it is not a folder of this user");
    }
    // A folder of ours that others may enter is closed; nothing of theirs can be inside it.
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::chmod(folder.c_str(), PrivateMode) != 0) {
        throw folderError(folder, std::strerror(errno));
    }
    return folder;
}

} // namespace

std::string userRuntimeDirectory() {
    const std::string runtime = environmentPath("XDG_RUNTIME_DIR");
    if (!runtime.empty() && isPrivateFolder(runtime)) {
        return runtime;
    }
    return fallbackFolder();
}

} // namespace platform
