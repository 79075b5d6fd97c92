#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <windows.h>

namespace {

// The DLLs the program names in its import table, read from the mapped image.
std::set<std::string> importedLibraries(const wchar_t* program) {
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

// Nothing of the compiler's runtime may have to lie beside the program.
TEST(ProgramImports, OnlySystemLibrariesAreNamed) {
    const std::string path = VELKAPHON_RACK_PROGRAM;
    const std::wstring program(path.begin(), path.end());
    const std::set<std::string> imports = importedLibraries(program.c_str());
    ASSERT_FALSE(imports.empty());
    const std::set<std::string> system = {"kernel32.dll", "user32.dll",  "ole32.dll",
                                          "shell32.dll",  "avrt.dll",    "msvcrt.dll",
                                          "advapi32.dll", "oleaut32.dll"};
    for (const std::string& name : imports) {
        EXPECT_TRUE(system.count(name) == 1) << name;
    }
    EXPECT_EQ(imports.count("kernel32.dll"), 1u);
}

} // namespace
