#include "desktop/last_rack.hpp"

#include "app/project_file.hpp"
#include "app/rack_application.hpp"

namespace velkaphon::rack {

std::filesystem::path lastRackPath() {
    return userStorageFolder() / "last-rack.vkrack";
}

std::optional<std::string> restoreLastRack(RackApplication& rack,
                                           const std::filesystem::path& path) {
    try {
        // Not found is nothing to restore; any other failure of the query is told.
        if (!std::filesystem::exists(path)) {
            return std::nullopt;
        }
        rack.restoreProject(readProjectFile(path));
        return std::nullopt;
    } catch (const std::exception& error) {
        return std::string(kRestoreWarning) + "\n" + error.what();
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
