#include "app/project_file.hpp"

#include "app/durable_file.hpp"

#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace velkaphon::rack {

namespace fs = std::filesystem;

nlohmann::json readProjectFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        throw std::runtime_error("Could not open rack project.");
    }
    // The size on disk decides, before a single byte is parsed.
    if (fs::file_size(path) > kMaxProjectFileBytes) {
        throw std::runtime_error("Project exceeds 64 MiB.");
    }
    // The stream reader stops after the first complete value; what follows it is ignored.
    nlohmann::json document;
    file >> document;
    return document;
}

void writeProjectFile(const fs::path& target, const nlohmann::json& document) {
    fs::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file.is_open()) {
            throw std::runtime_error("Could not create rack project.");
        }
        const std::string text = document.dump(2);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.flush();
        // Closing writes what the stream still holds, so a full disk can show only here.
        file.close();
        if (!file) {
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
        throw fs::filesystem_error("create_directories", folder, error);
    }
    return folder;
}

} // namespace velkaphon::rack
