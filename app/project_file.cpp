#include "app/project_file.hpp"

#include "app/durable_file.hpp"
#include "engine/file_system_failure.hpp"
#include "engine/untrusted_json.hpp"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace velkaphon::rack {

namespace fs = std::filesystem;

nlohmann::json readProjectFile(const fs::path& path) {
    // A FIFO or a device would block the open or the read; a folder has nothing to read.
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        throw std::runtime_error(isNameTooLong(error) ? kNameTooLongMessage
                                                      : "Could not open rack project.");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        throw std::runtime_error("Could not open rack project.");
    }
    // The size on disk decides, before a single byte is parsed.
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        throwFileSystemFailure("Could not open rack project", error);
    }
    if (size > kMaxProjectFileBytes) {
        throw std::runtime_error("Project exceeds 64 MiB.");
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // What follows the first complete value is ignored.
    return readUntrustedJson(text, JsonExtent::FirstValue, "Rack project is nested too deeply.");
}

void writeProjectFile(const fs::path& target, const nlohmann::json& document) {
    // Measured before anything is written, so that no save leaves a file the rack cannot open.
    const std::string text = document.dump(2);
    if (text.size() > kMaxProjectFileBytes) {
        throw std::runtime_error("Project exceeds 64 MiB.");
    }
    fs::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file.is_open()) {
            // The stream keeps no reason; asking for the name's status gives one.
            std::error_code error;
            static_cast<void>(fs::symlink_status(temporary, error));
            throw std::runtime_error(isNameTooLong(error) ? kNameTooLongMessage
                                                          : "Could not create rack project.");
        }
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.flush();
        // Closing writes what the stream still holds, so a full disk can show only here.
        file.close();
        if (!file) {
            // A partial file, say on a full disk, is of no use to anyone.
            std::error_code ignored;
            fs::remove(temporary, ignored);
            throw std::runtime_error("Could not save rack project.");
        }
    }
    if (!replaceFileDurably(temporary, target)) {
        throw std::runtime_error("Could not finalize rack project.");
    }
}

fs::path userStorageFolder() {
    const auto base = localApplicationDataFolder();
    if (!base) {
        throw std::runtime_error("Local application storage unavailable.");
    }
    const fs::path folder = *base / "VELKAPHON RACK";
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        throwFileSystemFailure("Could not create the rack's storage folder", error);
    }
    return folder;
}

} // namespace velkaphon::rack
