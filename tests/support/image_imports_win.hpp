#pragma once

// Reads a Windows image's import table, so that tests can show it names only system DLLs.

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <windows.h>

namespace velkaphon::rack::testing {

// The DLLs the image names (lower case) in its import table, read from the mapped image.
inline std::set<std::string> importedLibraries(const wchar_t* program) {
    HMODULE image = LoadLibraryExW(program, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (image == nullptr) {
        return {};
    }
    const auto* base = reinterpret_cast<const unsigned char*>(image);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::set<std::string> names;
    for (auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        names.insert(name);
    }
    FreeLibrary(image);
    return names;
}

// What the rack's deliverables may import.
inline const std::set<std::string>& systemLibraries() {
    static const std::set<std::string> names = {"kernel32.dll", "user32.dll",   "ole32.dll",
                                                "shell32.dll",  "avrt.dll",     "msvcrt.dll",
                                                "advapi32.dll", "oleaut32.dll", "gdi32.dll"};
    return names;
}

} // namespace velkaphon::rack::testing
