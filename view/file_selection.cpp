#include "engine/file_system_failure.hpp"
#include "hosting/vst3_module_file.hpp"
#include "view/file_dialogs.hpp"

#include <cwctype>
#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>

namespace velkaphon::rack {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxTakeNumber = 99'999;

[[noreturn]] void refuse(const char* message) {
    throw std::runtime_error(message);
}

// Not found is an answer; any other failure of the query is told.
fs::file_status statusOf(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error && status.type() != fs::file_type::not_found) {
        throwFileSystemFailure("The selection could not be checked", error);
    }
    return status;
}

bool isFolder(const fs::path& path) {
    return fs::is_directory(statusOf(path));
}

bool isRegularFile(const fs::path& path) {
    return fs::is_regular_file(statusOf(path));
}

bool pathExists(const fs::path& path) {
    return fs::exists(statusOf(path));
}

fs::path::string_type native(const char* text) {
    return fs::path(text).native();
}

#ifdef _WIN32
constexpr const char* kBundleWithoutModule =
    "This VST3 bundle has no Windows x64 module in Contents/x86_64-win.";
#else
// The Linux stand-in names the folder it looks in.
constexpr const char* kBundleWithoutModule =
    "This VST3 bundle has no Linux x64 module in Contents/x86_64-linux.";
#endif

fs::path absoluteNormal(const fs::path& chosen) {
    fs::path path = fs::absolute(chosen).lexically_normal();
    // A typed path may end in a separator; the element before it is what was chosen.
    if (!path.has_filename() && path.has_parent_path() && path.parent_path() != path) {
        path = path.parent_path();
    }
    return path;
}

fs::path validateFolder(BrowseKind kind, const fs::path& path) {
    if (!isFolder(path)) {
        refuse("Choose an existing folder.");
    }
    if (kind == BrowseKind::Folder) {
        return path;
    }
    if (lowercaseExtension(path) != native(".vst3")) {
        refuse("Choose a complete .vst3 bundle folder, not an ordinary folder.");
    }
    if (!isRegularFile(vstBundleModuleFile(path))) {
        refuse(kBundleWithoutModule);
    }
    return path;
}

fs::path validatePluginFile(const fs::path& path) {
    const auto extension = lowercaseExtension(path);
    if (extension != native(".vst3") && extension != native(".clap")) {
        refuse("Choose a .vst3 or .clap Windows x64 plugin file.");
    }
    if (!isRegularFile(path)) {
        refuse("The selected file does not exist.");
    }
    return path;
}

// A recording never overwrites: the first free "-takeN" name beside the chosen one.
fs::path freeTakeName(const fs::path& path) {
    const fs::path folder = path.parent_path();
    const fs::path stem = path.stem();
    const fs::path extension = path.extension();
    for (int number = 1; number <= kMaxTakeNumber; ++number) {
        fs::path name = stem;
        name += "-take" + std::to_string(number);
        name += extension;
        const fs::path candidate = folder / name;
        if (!pathExists(candidate)) {
            return candidate;
        }
    }
    refuse("No free recording take name was found. Choose another destination.");
}

fs::path validateFile(BrowseKind kind, fs::path path) {
    const bool project = kind == BrowseKind::OpenProject || kind == BrowseKind::SaveProject;
    const bool saving = kind == BrowseKind::RecordingDestination || kind == BrowseKind::SaveProject;
    const char* expected = project ? ".vkrack" : ".wav";
    if (saving && !path.has_extension()) {
        path += expected;
    }
    if (lowercaseExtension(path) != native(expected)) {
        refuse(project ? "Choose a project with the .vkrack extension."
                       : "Choose a file with the .wav extension.");
    }
    if (!saving) {
        if (!isRegularFile(path)) {
            refuse("The selected file does not exist.");
        }
        return path;
    }
    if (!isFolder(path.parent_path())) {
        refuse("Choose an existing destination folder.");
    }
    const bool taken = pathExists(path);
    if (taken && !isRegularFile(path)) {
        refuse("The destination is a folder; choose a filename.");
    }
    if (kind == BrowseKind::RecordingDestination && taken) {
        return freeTakeName(path);
    }
    return path;
}

} // namespace

fs::path::string_type lowercaseExtension(const fs::path& path) {
    fs::path::string_type extension = path.extension().native();
    for (auto& unit : extension) {
        // Wide units all go through towlower; bytes of UTF-8 only when they are ASCII.
        const auto code = static_cast<std::make_unsigned_t<fs::path::value_type>>(unit);
        if (sizeof(unit) > 1 || code < 0x80) {
            unit = static_cast<fs::path::value_type>(std::towlower(code));
        }
    }
    return extension;
}

fs::path validateSelection(BrowseKind kind, const fs::path& chosen) {
    if (chosen.empty()) {
        refuse("No file or folder was selected.");
    }
    const fs::path path = absoluteNormal(chosen);
    switch (kind) {
    case BrowseKind::PluginBundleFolder:
    case BrowseKind::Folder:
        return validateFolder(kind, path);
    case BrowseKind::PluginFile:
        return validatePluginFile(path);
    default:
        return validateFile(kind, path);
    }
}

BrowserStart browserStart(BrowseKind kind, const fs::path& current,
                          const std::optional<fs::path>& commonProgramFolder) {
    BrowserStart start;
    fs::path folder;
    if (current.empty()) {
        const bool plugin =
            kind == BrowseKind::PluginFile || kind == BrowseKind::PluginBundleFolder;
        if (!plugin || !commonProgramFolder || commonProgramFolder->empty()) {
            return start;
        }
        folder = *commonProgramFolder / "VST3";
    } else {
        std::error_code error;
        if (fs::is_directory(current, error)) {
            folder = current;
        } else {
            folder = current.parent_path();
            const bool folderKind =
                kind == BrowseKind::PluginBundleFolder || kind == BrowseKind::Folder;
            if (!folderKind && !current.filename().empty()) {
                start.fileName = current.filename();
            }
        }
    }
    // The nearest folder that still exists; a root or nothing left means none.
    while (!folder.empty()) {
        std::error_code error;
        if (fs::is_directory(folder, error)) {
            start.folder = folder;
            break;
        }
        const fs::path parent = folder.parent_path();
        if (parent == folder) {
            break;
        }
        folder = parent;
    }
    return start;
}

} // namespace velkaphon::rack
