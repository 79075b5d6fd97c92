#include "desktop/last_rack.hpp"

#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "engine/file_system_failure.hpp"

namespace velkaphon::rack {

std::filesystem::path lastRackPath() {
    return userStorageFolder() / "last-rack.vkrack";
}

std::filesystem::path brokenLastRackPath(const std::filesystem::path& path) {
    return path.parent_path() / "last-rack.broken.vkrack";
}

namespace {

std::string pathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// [control] Moves the file that failed to restore aside, replacing an older one, and answers
// the sentence that says where it went.
std::string keepAside(const std::filesystem::path& path) {
    const std::filesystem::path broken = brokenLastRackPath(path);
    std::error_code error;
    // Removed first: a rename onto an existing file is refused on some systems.
    std::filesystem::remove(broken, error);
    if (!error) {
        std::filesystem::rename(path, broken, error);
    }
    if (error) {
        return "It could not be kept as " + pathText(broken) + ": " + error.message();
    }
    return "It was kept as " + pathText(broken) + ".";
}

} // namespace

std::optional<std::string> restoreLastRack(RackApplication& rack,
                                           const std::filesystem::path& path) {
    // Not found is nothing to restore; any other failure of the query is told.
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        if (!error) {
            return std::nullopt;
        }
        return std::string(kRestoreWarning) + "\n" +
               fileSystemFailure("The last rack could not be looked up", error);
    }
    try {
        rack.restoreProject(readProjectFile(path));
        return std::nullopt;
    } catch (const std::exception& error) {
        return std::string(kRestoreWarning) + "\n" + error.what() + "\n" + keepAside(path);
    }
}

std::optional<std::string> stopAndSaveLastRack(RackApplication& rack,
                                               const std::filesystem::path& path) {
    rack.stop();
    try {
        writeProjectFile(path, rack.projectDocument());
        return std::nullopt;
    } catch (const std::exception& error) {
        return std::string(error.what());
    }
}

} // namespace velkaphon::rack
