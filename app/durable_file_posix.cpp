#include "app/durable_file.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace velkaphon::rack {

namespace {

bool syncFile(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool synced = ::fsync(descriptor) == 0;
    ::close(descriptor);
    return synced;
}

std::optional<std::filesystem::path> environmentFolder(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

} // namespace

bool replaceFileDurably(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (!syncFile(source) || std::rename(source.c_str(), target.c_str()) != 0) {
        ::unlink(source.c_str());
        return false;
    }
    // The rename itself lasts only once the folder is on the disk too.
    const int folder = ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

// LOCALAPPDATA when set, as on Windows, else the XDG data folder.
std::optional<std::filesystem::path> localApplicationDataFolder() {
    if (auto folder = environmentFolder("LOCALAPPDATA")) {
        return folder;
    }
    if (auto folder = environmentFolder("XDG_DATA_HOME")) {
        return folder;
    }
    if (auto home = environmentFolder("HOME")) {
        return *home / ".local" / "share";
    }
    return std::nullopt;
}

} // namespace velkaphon::rack
