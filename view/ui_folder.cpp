#include "view/ui_folder.hpp"

namespace velkaphon::rack {

std::filesystem::path uiFolderForModule(const std::filesystem::path& modulePath) {
    const std::filesystem::path folder = modulePath.parent_path();
    if (folder.filename() == "x86_64-win") {
        return folder.parent_path() / "Resources" / "ui";
    }
    return folder / "ui";
}

} // namespace velkaphon::rack
