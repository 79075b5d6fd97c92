// Stands in for both WebView2 entry points: records how it was called in "call.txt" beside
// itself, then fails as a runtime that cannot start would.

#include <cstdio>
#include <filesystem>
#include <string>
#include <windows.h>

namespace {

std::filesystem::path ownFolder() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ownFolder), &module);
    wchar_t path[MAX_PATH * 4];
    const DWORD units = GetModuleFileNameW(module, path, MAX_PATH * 4);
    return std::filesystem::path(std::wstring(path, units)).parent_path();
}

// Whole or not at all: the test may read the file the moment it appears.
HRESULT record(const std::string& line) {
    const std::filesystem::path folder = ownFolder();
    const std::filesystem::path partial = folder / L"call.partial";
    if (FILE* file = _wfopen(partial.c_str(), L"wb")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
        MoveFileExW(partial.c_str(), (folder / L"call.txt").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    return E_FAIL;
}

std::string described(const wchar_t* text) {
    if (text == nullptr) {
        return "null";
    }
    const std::u8string utf8 = std::filesystem::path(text).u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::string presence(const void* pointer) {
    return pointer == nullptr ? "null" : "set";
}

} // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    CreateCoreWebView2EnvironmentWithOptions(const wchar_t* browserFolder,
                                             const wchar_t* userDataFolder, void* options,
                                             void* handler) {
    return record("CreateCoreWebView2EnvironmentWithOptions|" + described(browserFolder) + "|" +
                  described(userDataFolder) + "|" + presence(options) + "|" + presence(handler));
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    CreateWebViewEnvironmentWithOptionsInternal(BOOL first, int runtimeType,
                                                const wchar_t* userDataFolder, void* options,
                                                void* handler) {
    return record("CreateWebViewEnvironmentWithOptionsInternal|" + std::to_string(first) + "|" +
                  std::to_string(runtimeType) + "|" + described(userDataFolder) + "|" +
                  presence(options) + "|" + presence(handler));
}
