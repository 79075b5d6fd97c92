#include "view/webview2_runtime.hpp"

#include <vector>
#include <windows.h>

namespace velkaphon::rack {

namespace {

constexpr DWORD kModulePathUnits = 32'768;

const wchar_t* wide(std::u16string_view text, std::wstring& storage) {
    storage.assign(text.begin(), text.end());
    return storage.c_str();
}

class WindowsWebView2System final : public WebView2System {
public:
    std::filesystem::path moduleFolder() override {
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&windowsWebView2System), &module);
        std::vector<wchar_t> buffer(kModulePathUnits);
        const DWORD units = GetModuleFileNameW(module, buffer.data(), kModulePathUnits);
        return std::filesystem::path(std::wstring(buffer.data(), units)).parent_path();
    }

    std::optional<std::u16string> environmentText(std::u16string_view name) override {
        std::wstring nameText;
        const DWORD units = GetEnvironmentVariableW(wide(name, nameText), nullptr, 0);
        if (units == 0) {
            return std::nullopt;
        }
        std::vector<wchar_t> buffer(units);
        const DWORD written = GetEnvironmentVariableW(nameText.c_str(), buffer.data(), units);
        return std::u16string(buffer.begin(), buffer.begin() + std::min(written, units));
    }

    std::optional<std::u16string> registryText(RegistryRoot root, std::u16string_view key,
                                               std::u16string_view value) override {
        const HKEY rootKey =
            root == RegistryRoot::localMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        std::wstring keyText;
        std::wstring valueText;
        HKEY opened = nullptr;
        if (RegOpenKeyExW(rootKey, wide(key, keyText), 0, KEY_READ | KEY_WOW64_32KEY, &opened) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        DWORD bytes = 0;
        const wchar_t* valueName = wide(value, valueText);
        std::optional<std::u16string> result;
        if (RegGetValueW(opened, nullptr, valueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) ==
            ERROR_SUCCESS) {
            std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
            bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
            if (RegGetValueW(opened, nullptr, valueName, RRF_RT_REG_SZ, nullptr, buffer.data(),
                             &bytes) == ERROR_SUCCESS) {
                result = std::u16string(buffer.data(), buffer.data() + std::wcslen(buffer.data()));
            }
        }
        RegCloseKey(opened);
        return result;
    }

    // The library's own folder is searched for what it needs, never the host's.
    void* libraryExport(const std::filesystem::path& library, const char* name) override {
        const HMODULE module =
            LoadLibraryExW(library.c_str(), nullptr,
                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (module == nullptr) {
            return nullptr;
        }
        void* function = reinterpret_cast<void*>(GetProcAddress(module, name));
        if (function == nullptr) {
            FreeLibrary(module);
        }
        return function;
    }
};

} // namespace

WebView2System& windowsWebView2System() {
    static WindowsWebView2System system;
    return system;
}

} // namespace velkaphon::rack
