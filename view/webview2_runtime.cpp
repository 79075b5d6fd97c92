#include "view/webview2_runtime.hpp"

namespace velkaphon::rack {

namespace {

std::filesystem::path runtimeLibrary(const std::filesystem::path& folder) {
    return folder / "EBWebView" / "x64" / "EmbeddedBrowserWebView.dll";
}

std::optional<WebView2Entry> runtimeEntry(WebView2System& system,
                                          const std::filesystem::path& folder, int runtimeType) {
    const std::filesystem::path library = runtimeLibrary(folder);
    if (void* function = system.libraryExport(library, kRuntimeExport)) {
        return WebView2Entry{WebView2EntryKind::runtime, function, runtimeType, library};
    }
    return std::nullopt;
}

std::optional<std::u16string> nonEmpty(std::optional<std::u16string> text) {
    if (text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

// The updater's version first; the folder's own name (it ends in the version) when that is gone.
bool isRecentEnough(WebView2System& system, RegistryRoot root,
                    const std::filesystem::path& folder) {
    const std::optional<std::u16string> recorded =
        nonEmpty(system.registryText(root, kWebView2ClientsKey, kWebView2VersionValue));
    const std::u16string text = recorded ? *recorded : folder.filename().u16string();
    const auto version = parseWebView2Version(text);
    return version && *version >= kMinimumWebView2Version;
}

std::optional<WebView2Entry> installedEntry(WebView2System& system, RegistryRoot root) {
    const std::optional<std::u16string> folderText =
        nonEmpty(system.registryText(root, kWebView2ClientStateKey, kWebView2FolderValue));
    if (!folderText) {
        return std::nullopt;
    }
    const std::filesystem::path folder(*folderText);
    if (!isRecentEnough(system, root, folder)) {
        return std::nullopt;
    }
    return runtimeEntry(system, folder, kRuntimeInstalled);
}

} // namespace

std::optional<std::array<unsigned, 4>> parseWebView2Version(std::u16string_view text) {
    std::array<unsigned, 4> version{};
    std::size_t part = 0;
    bool digitSeen = false;
    for (const char16_t unit : text) {
        if (unit == u'.') {
            if (!digitSeen || ++part == version.size()) {
                return std::nullopt;
            }
            digitSeen = false;
        } else if (unit >= u'0' && unit <= u'9') {
            if (version[part] > 99'999'999) {
                return std::nullopt;
            }
            version[part] = version[part] * 10 + static_cast<unsigned>(unit - u'0');
            digitSeen = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digitSeen || part != version.size() - 1) {
        return std::nullopt;
    }
    return version;
}

std::optional<WebView2Entry> findWebView2(WebView2System& system) {
    const std::filesystem::path loader = system.moduleFolder() / kLoaderLibraryName;
    if (void* function = system.libraryExport(loader, kLoaderExport)) {
        return WebView2Entry{WebView2EntryKind::loader, function, kRuntimeInstalled, loader};
    }
    if (const auto folder = nonEmpty(system.environmentText(kWebView2FolderVariable))) {
        if (auto entry = runtimeEntry(system, std::filesystem::path(*folder), kRuntimeInFolder)) {
            return entry;
        }
    }
    for (const RegistryRoot root : {RegistryRoot::localMachine, RegistryRoot::currentUser}) {
        if (auto entry = installedEntry(system, root)) {
            return entry;
        }
    }
    return std::nullopt;
}

} // namespace velkaphon::rack
