#pragma once

// Where the platforms differ about VST3 module files: the module's place inside a bundle, the
// module's own entry exports, and how two module paths compare.

#include <filesystem>
#include <string_view>

namespace velkaphon::rack {

// The module file of a bundle directory: Contents/x86_64-win/<bundle name> on Windows; the
// Linux stand-in keeps its module beside it, as Contents/x86_64-linux/<bundle stem>.so.
// A bundle path that ends in a separator gives the architecture folder itself.
std::filesystem::path vstBundleModuleFile(const std::filesystem::path& bundle);

// The set-up and tear-down exports of this platform's module convention that get the module's
// library handle: "ModuleEntry" and "ModuleExit" on Linux. Windows modules have none (null): they
// set up in "InitDll", which every platform's loader calls.
extern const char* const kVstModuleEntryExport;
extern const char* const kVstModuleExitExport;

// Ordinal comparison that ignores letter case, as Windows compares file names: negative, zero or
// positive. The Linux stand-in folds ASCII letters only.
int compareVstModulePaths(std::u16string_view left, std::u16string_view right);

} // namespace velkaphon::rack
